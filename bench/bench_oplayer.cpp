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
