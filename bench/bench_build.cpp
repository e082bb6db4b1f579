// Building BSDFs. The plastic shader's constructor and arithmetic ops run
// over a 256-lane batch (each run replaces the tree of the run before),
// ns per lane, beside the same objects made directly with new on pooled
// blocks filled by plain loops and released with decRefCount. Then the two
// allocators underneath: the shared small-object allocator of BSDF objects
// and the runtime's data pool, each beside malloc and free of the same
// sizes.
#include "bench_pair.h"
#include "bench_plastic.h"

#include "KAL_DataPool.h"
#include "KAL_ProcArray.h"
#include "SRF_Lafortune.h"
#include "SRF_ScaleBSDF.h"
#include "SRF_SumBSDF.h"

#include <cstdlib>

namespace
{
using bench::LANES;
const int BATCHES = 2000;

// The plastic shader's values (examples/plastic.kal) and the constants its
// rewrites pass: diffuse@B is a Lafortune lobe with coefficients (0, 0, 1)
// and exponent 0, phong@BF one with (-1, -1, 1) and the shine.
const BX_Vector3 TINT(0.8f, 0.2f, 0.1f);
const float SHINE = 40.0f;
const float COAT_WEIGHT = 0.25f;
const BX_Vector3 DIFFUSE_COEFFICIENTS(0.0f, 0.0f, 1.0f);
const BX_Vector3 PHONG_COEFFICIENTS(-1.0f, -1.0f, 1.0f);

BX_Vector3 *filled(const BX_Vector3 &value)
{
    BX_Vector3 *block = SRF_BSDF::allocVector();
    for (int i = 0; i < LANES; ++i)
        block[i] = value;
    return block;
}

float *filled(float value)
{
    float *block = SRF_BSDF::allocFloat();
    for (int i = 0; i < LANES; ++i)
        block[i] = value;
    return block;
}

BX_Vector3 *normals(const BX_Vector3 *n)
{
    BX_Vector3 *block = SRF_BSDF::allocVector();
    for (int i = 0; i < LANES; ++i)
    {
        block[i] = n[i];
        block[i].normalize();
    }
    return block;
}

// The plastic tree made directly: sum(tint * diffuse, 0.25 * phong).
SRF_BSDF *plasticByHand(const BX_Vector3 *n)
{
    SRF_BSDF *diffuse = new SRF_Lafortune(normals(n), filled(DIFFUSE_COEFFICIENTS), filled(0.0f));
    SRF_BSDF *base = new SRF_ScaleBSDF(diffuse, filled(TINT));
    SRF_BSDF *phong = new SRF_Lafortune(normals(n), filled(PHONG_COEFFICIENTS), filled(SHINE));
    SRF_BSDF *coat = new SRF_ScaleBSDF(phong, filled(BX_Vector3(COAT_WEIGHT, COAT_WEIGHT, COAT_WEIGHT)));
    return new SRF_SumBSDF(base, coat);
}

void BuildPlastic(benchmark::State &state)
{
    bench::PlasticScene scene;
    if (!scene.ok())
    {
        state.SkipWithError(scene.error.c_str());
        return;
    }
    KAL_ProcArray lanes(LANES);
    SRF_BSDF *byHand = plasticByHand(scene.in.n);
    bench::comparePair(
        state, "3 build", "plastic shader run, per lane", "same objects by new", LANES, 0.0,
        [&]
        {
            scene.builder->run(lanes);
            benchmark::ClobberMemory();
        },
        [&]
        {
            SRF_BSDF *next = plasticByHand(scene.in.n);
            byHand->decRefCount();
            byHand = next;
            benchmark::ClobberMemory();
        });
    byHand->decRefCount();
}
BENCHMARK(BuildPlastic)->Iterations(BATCHES);

// Allocations of the plastic tree's object sizes, 256 at a time, then all
// given back.
const std::size_t OBJECT_SIZES[] = {sizeof(SRF_Lafortune), sizeof(SRF_ScaleBSDF), sizeof(SRF_SumBSDF)};

void SmallObjectAllocator(benchmark::State &state)
{
    BX_SmallObjectAllocator &allocator = SRF_BSDFBase::allocator();
    void *objects[LANES];
    bench::comparePair(
        state, "3 build", "small-object allocate+free", "malloc+free", LANES, 0.0,
        [&]
        {
            for (int i = 0; i < LANES; ++i)
                objects[i] = allocator.allocate(OBJECT_SIZES[i % 3]);
            benchmark::DoNotOptimize(objects);
            for (int i = LANES - 1; i >= 0; --i)
                allocator.deallocate(objects[i], OBJECT_SIZES[i % 3]);
        },
        [&]
        {
            for (int i = 0; i < LANES; ++i)
                objects[i] = std::malloc(OBJECT_SIZES[i % 3]);
            benchmark::DoNotOptimize(objects);
            for (int i = LANES - 1; i >= 0; --i)
                std::free(objects[i]);
        });
}
BENCHMARK(SmallObjectAllocator)->Iterations(BATCHES);

// Vector blocks (256 vectors, 3 KB each), 16 at a time, then all given back:
// 48 KB, below the size at which free hands memory back to the system.
void DataPool(benchmark::State &state)
{
    const int count = 16;
    KAL_DataPool &pool = KAL_DataPool::getDataPool();
    const std::size_t bytes = std::size_t(KAL_DataPool::blockBytes(KAL_DataPool::VECTOR));
    void *blocks[count];
    bench::comparePair(
        state, "3 build", "data pool block alloc+release", "malloc+free", count, 0.0,
        [&]
        {
            for (int i = 0; i < count; ++i)
                blocks[i] = pool.alloc(KAL_DataPool::VECTOR);
            benchmark::DoNotOptimize(blocks);
            for (int i = count - 1; i >= 0; --i)
                pool.release(blocks[i], KAL_DataPool::VECTOR);
        },
        [&]
        {
            for (int i = 0; i < count; ++i)
                blocks[i] = std::malloc(bytes);
            benchmark::DoNotOptimize(blocks);
            for (int i = count - 1; i >= 0; --i)
                std::free(blocks[i]);
        });
}
BENCHMARK(DataPool)->Iterations(BATCHES);
} // namespace
