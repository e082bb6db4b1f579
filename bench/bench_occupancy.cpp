// Batch against lane by lane as occupancy falls: the plastic example's tree
// and a Phong lobe, evaluate and sample, over 1 lane, 15 lanes and 256
// lanes of which 10 % or all run, in the automatic mode and in each vector
// variant. The reference is the same query answered lane by lane (the base
// class's loop of per-lane virtual calls, what the per-lane mode runs), in
// the same run; figures are per running lane. Small ranges are queried
// 256 / lanes times per timed batch, so that no timing is shorter than the
// clock resolves.
#include "bench_pair.h"
#include "bench_plastic.h"

#include "SRF_BSDF.h"
#include "SRF_Phong.h"

#include <string>

namespace
{
using bench::LANES;
const int BATCHES = 1000;

struct Mode
{
    SRF_BatchMode mode;
    const char *name;
};
const Mode MODES[] = {{SRF_BATCH_AUTO, "auto"},
                      {SRF_BATCH_SCALAR, "scalar"},
                      {SRF_BATCH_SSE2, "sse2"},
                      {SRF_BATCH_AVX2, "avx2"},
                      {SRF_BATCH_AVX512, "avx512"}};

// A range of lanes and which of them run: all of `count`, or every tenth
// of 256.
struct Occupancy
{
    int count;
    bool tenth;
};
const Occupancy OCCUPANCIES[] = {{1, false}, {15, false}, {256, true}, {256, false}};

struct Lanes : SRF_LaneBatchStorage
{
    Lanes(const bench::QueryLanes &in, const Occupancy &o)
    {
        bench::fillBatch(*this, in);
        batch.end = o.count;
        running = 0;
        for (int i = 0; i < LANES; ++i)
        {
            run[i] = i < o.count && (!o.tenth || i % 10 == 3);
            running += run[i];
        }
    }
    int running;
};

// The aims of the automatic mode: no loss where few lanes run.
double aimOf(const Mode &m, const Occupancy &o)
{
    if (m.mode != SRF_BATCH_AUTO)
        return 0.0;
    return o.count == 1 ? 1.1 : (o.count == 15 || o.tenth ? 1.05 : 0.0);
}

void occupancy(benchmark::State &state, const char *what, const SRF_BSDF *bsdf, bool sampling, const Mode &m,
               const Occupancy &o, const bench::QueryLanes &in)
{
    if (!SRFbatchModeSupported(m.mode))
    {
        state.SkipWithError("variant not supported here");
        return;
    }
    Lanes lanes(in, o);
    SRFsetBatchMode(m.mode);
    const int repeats = LANES / o.count;
    const std::string figure = std::string(what) + (sampling ? " sample " : " evaluate ") + std::to_string(o.count) +
                               (o.tenth ? " lanes 10%, " : " lanes, ") + m.name;
    bench::comparePair(
        state, "10 occupancy", figure, "lane by lane", double(lanes.running) * repeats, aimOf(m, o),
        [&]
        {
            for (int r = 0; r < repeats; ++r)
            {
                if (sampling)
                    bsdf->sampleBatch(lanes.batch);
                else
                    bsdf->evaluateBatch(lanes.batch);
                benchmark::ClobberMemory();
            }
        },
        [&]
        {
            for (int r = 0; r < repeats; ++r)
            {
                if (sampling)
                    bsdf->SRF_BSDF::sampleBatch(lanes.batch);
                else
                    bsdf->SRF_BSDF::evaluateBatch(lanes.batch);
                benchmark::ClobberMemory();
            }
        });
    SRFsetBatchMode(SRF_BATCH_AUTO);
}

void BatchOccupancy(benchmark::State &state)
{
    const int what = int(state.range(0)), query = int(state.range(1));
    const Occupancy &o = OCCUPANCIES[state.range(2)];
    const Mode &m = MODES[state.range(3)];
    static bench::PlasticScene scene;
    if (!scene.ok())
    {
        state.SkipWithError(scene.error.c_str());
        return;
    }
    if (what == 0)
        return occupancy(state, "plastic", scene.tree, query == 1, m, o, scene.in);
    BX_Vector3 *axis = SRF_BSDF::allocVector();
    float *exponent = SRF_BSDF::allocFloat();
    for (int i = 0; i < LANES; ++i)
        axis[i] = scene.in.n[i], exponent[i] = 40.0f;
    SRF_BSDF *phong = new SRF_Phong(axis, exponent);
    occupancy(state, "phong", phong, query == 1, m, o, scene.in);
    phong->decRefCount();
}
BENCHMARK(BatchOccupancy)->ArgsProduct({{0, 1}, {0, 1}, {0, 1, 2, 3}, {0, 1, 2, 3, 4}})->Iterations(BATCHES);
} // namespace
