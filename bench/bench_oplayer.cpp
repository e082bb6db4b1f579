// The op layer, per lane: "sample_bsdf@BVVVVIFFI" and "eval_bsdf@VBVVVI" run
// through the executor on 256 lanes over the plastic example's tree, beside
// the inline loop that calls the same queries of the same tree for the same
// lanes (what the ops do, without the executor, the lane iterator and the
// variable table).
#include "bench_pair.h"
#include "bench_plastic.h"

#include "KAL_ProcArray.h"
#include "SRF_BSDF.h"

namespace
{
using bench::LANES;
const int MASK = SRF_BOUNCE_SCATTER;
const double OP_AIM = 1.5;
const int BATCHES = 3000;

// The op's clamp of its random numbers, repeated so both sides do the same.
inline float clampUnit(float s) { return s <= 0.0f ? 0.0f : (s >= 1.0f ? 1.0f : s); }

void OpSampleBsdf(benchmark::State &state)
{
    bench::PlasticScene scene;
    std::unique_ptr<KAL_Instance> query = scene.queryInstance(bench::SAMPLE_QUERY);
    if (!query)
    {
        state.SkipWithError(scene.error.c_str());
        return;
    }
    const SRF_BSDF *tree = scene.tree;
    const bench::QueryLanes &in = scene.in;
    KAL_ProcArray lanes(LANES);
    BX_Vector3 dir[LANES], col[LANES];
    int bt[LANES];
    bench::comparePair(
        state, "2 ops", "sample_bsdf@BVVVVIFFI plastic, per lane", "inline loop", LANES, OP_AIM,
        [&]
        {
            query->run(lanes);
            benchmark::ClobberMemory();
        },
        [&]
        {
            for (int lane = 0; lane < LANES; ++lane)
            {
                BX_Vector3 v(0.0f, 0.0f, 0.0f), colour(0.0f, 0.0f, 0.0f);
                float scalar = 0.0f;
                int bounce = 0;
                tree->sample(in.u[lane], in.n[lane], v, colour, scalar, bounce, clampUnit(in.sx[lane]),
                             clampUnit(in.sy[lane]), lane, MASK);
                dir[lane] = v;
                col[lane] = colour;
                bt[lane] = bounce;
            }
            benchmark::DoNotOptimize(dir);
            benchmark::DoNotOptimize(col);
            benchmark::DoNotOptimize(bt);
            benchmark::ClobberMemory();
        });
}
BENCHMARK(OpSampleBsdf)->Iterations(BATCHES);

void OpEvalBsdf(benchmark::State &state)
{
    bench::PlasticScene scene;
    std::unique_ptr<KAL_Instance> query = scene.queryInstance(bench::EVAL_QUERY);
    if (!query)
    {
        state.SkipWithError(scene.error.c_str());
        return;
    }
    const SRF_BSDF *tree = scene.tree;
    const bench::QueryLanes &in = scene.in;
    KAL_ProcArray lanes(LANES);
    BX_Vector3 ev[LANES];
    bench::comparePair(
        state, "2 ops", "eval_bsdf@VBVVVI plastic, per lane", "inline loop", LANES, OP_AIM,
        [&]
        {
            query->run(lanes);
            benchmark::ClobberMemory();
        },
        [&]
        {
            for (int lane = 0; lane < LANES; ++lane)
            {
                BX_Vector3 colour(0.0f, 0.0f, 0.0f);
                float scalar = 0.0f;
                tree->evaluate(in.u[lane], in.n[lane], in.v[lane], colour, scalar, lane, MASK);
                ev[lane] = colour;
            }
            benchmark::DoNotOptimize(ev);
            benchmark::ClobberMemory();
        });
}
BENCHMARK(OpEvalBsdf)->Iterations(BATCHES);
} // namespace

// The batch path against the per-lane path: the same op over the same
// lanes of the same example's tree, in the library's batch mode (the widest
// vector variant) and in its per-lane mode.
namespace
{
const double BATCH_OP_AIM = 0.2; // 5 times faster

void OpBatchAgainstPerLane(benchmark::State &state, const char *example, const char *query, const char *figure)
{
    bench::PlasticScene scene(example);
    std::unique_ptr<KAL_Instance> instance = scene.queryInstance(query);
    if (!instance)
    {
        state.SkipWithError(scene.error.c_str());
        return;
    }
    KAL_ProcArray lanes(LANES);
    bench::comparePair(
        state, "7 batch", figure, "per-lane path", LANES, BATCH_OP_AIM,
        [&]
        {
            SRFsetBatchMode(SRF_BATCH_AUTO);
            instance->run(lanes);
            benchmark::ClobberMemory();
        },
        [&]
        {
            SRFsetBatchMode(SRF_BATCH_PER_LANE);
            instance->run(lanes);
            benchmark::ClobberMemory();
        });
    SRFsetBatchMode(SRF_BATCH_AUTO);
}

void OpBatchSamplePlastic(benchmark::State &state)
{
    OpBatchAgainstPerLane(state, "plastic", bench::SAMPLE_QUERY, "sample_bsdf@BVVVVIFFI plastic, per lane");
}
void OpBatchEvalPlastic(benchmark::State &state)
{
    OpBatchAgainstPerLane(state, "plastic", bench::EVAL_QUERY, "eval_bsdf@VBVVVI plastic, per lane");
}
void OpBatchSampleMetal(benchmark::State &state)
{
    OpBatchAgainstPerLane(state, "metal", bench::SAMPLE_QUERY, "sample_bsdf@BVVVVIFFI metal, per lane");
}
void OpBatchEvalMetal(benchmark::State &state)
{
    OpBatchAgainstPerLane(state, "metal", bench::EVAL_QUERY, "eval_bsdf@VBVVVI metal, per lane");
}
BENCHMARK(OpBatchSamplePlastic)->Iterations(BATCHES);
BENCHMARK(OpBatchEvalPlastic)->Iterations(BATCHES);
BENCHMARK(OpBatchSampleMetal)->Iterations(BATCHES);
BENCHMARK(OpBatchEvalMetal)->Iterations(BATCHES);
} // namespace

// evaluatePdf of the plastic example's tree: per lane beside its evaluate
// per lane (what a light sample costs over a plain evaluation), and as a
// batch beside the per-lane calls. No aim.
namespace
{
void PlasticEvaluatePdf(benchmark::State &state)
{
    bench::PlasticScene scene;
    const SRF_BSDF *tree = scene.tree;
    const bench::QueryLanes &in = scene.in;
    float sink = 0.0f;
    bench::comparePair(
        state, "8 pdf", "plastic evaluatePdf", "plastic evaluate", LANES, 0.0,
        [&]
        {
            for (int i = 0; i < LANES; ++i)
            {
                BX_Vector3 value;
                float pdf;
                tree->evaluatePdf(in.u[i], in.n[i], in.v[i], value, pdf, i, MASK);
                sink += value.x + pdf;
            }
            benchmark::DoNotOptimize(sink);
        },
        [&]
        {
            for (int i = 0; i < LANES; ++i)
            {
                BX_Vector3 colour;
                float scalar;
                tree->evaluate(in.u[i], in.n[i], in.v[i], colour, scalar, i, MASK);
                sink += colour.x + scalar;
            }
            benchmark::DoNotOptimize(sink);
        });
}

void PlasticBatchEvaluatePdf(benchmark::State &state)
{
    bench::PlasticScene scene;
    const SRF_BSDF *tree = scene.tree;
    const bench::QueryLanes &in = scene.in;
    SRF_LaneBatchStorage q;
    q.batch.end = LANES;
    for (int i = 0; i < LANES; ++i)
    {
        q.batch.u.set(i, in.u[i]);
        q.batch.n.set(i, in.n[i]);
        q.batch.v.set(i, in.v[i]);
        q.run[i] = 1;
        q.mask[i] = MASK;
    }
    float sink = 0.0f;
    bench::comparePair(
        state, "8 pdf", "plastic evaluatePdf, batch", "per-lane masked call", LANES, 0.0,
        [&]
        {
            tree->evaluatePdfBatch(q.batch);
            benchmark::DoNotOptimize(q.scalar);
            benchmark::ClobberMemory();
        },
        [&]
        {
            for (int i = 0; i < LANES; ++i)
            {
                BX_Vector3 value;
                float pdf;
                tree->evaluatePdf(in.u[i], in.n[i], in.v[i], value, pdf, i, MASK);
                sink += value.x + pdf;
            }
            benchmark::DoNotOptimize(sink);
        });
}
BENCHMARK(PlasticEvaluatePdf)->Iterations(BATCHES);
BENCHMARK(PlasticBatchEvaluatePdf)->Iterations(BATCHES);
} // namespace
