#include "ChiSquare.h"
#include "CountingAllocator.h"
#include "KAL_DataPool.h"
#include "PoolCheck.h"
#include "SRF_Ashikhmin.h"
#include "SRF_Blinn.h"
#include "SRF_Cone.h"
#include "SRF_Emission.h"
#include "SRF_Isotropic.h"
#include "SRF_Lafortune.h"
#include "SRF_Phong.h"
#include "SRF_Specular.h"
#include "SRF_WireBlinn.h"
#include "SRF_WireDiffuse.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <dlfcn.h>
#include <functional>
#include <new>
#include <pthread.h>
#include <string>
#include <vector>

using namespace TestUtil;

namespace
{
// ---------------------------------------------------------------------------
// The registry of every lobe class, for the contract and bad-input tests.
// A case builds its lobe on blocks filled by `vec` and `flt` (lane -> value)
// and records the blocks in field order.

using VecFill = std::function<BX_Vector3(int lane)>;
using FltFill = std::function<float(int lane)>;

struct Built
{
    VecFill vec;
    FltFill flt;
    SRF_BSDF *bsdf = nullptr;
    std::vector<BX_Vector3 *> vectorBlocks; // field order
    std::vector<float *> floatBlocks;       // field order

    // A block filled by the case's function, offset by `salt` so that the
    // blocks of one lobe differ.
    BX_Vector3 *v(int salt)
    {
        BX_Vector3 *block = SRF_BSDF::allocVector();
        for (int i = 0; i < KAL_MAX_LANES; ++i)
        {
            const BX_Vector3 x = vec(i);
            block[i] = BX_Vector3(x.x, x.y + 0.001f * salt, x.z);
        }
        vectorBlocks.push_back(block);
        return block;
    }
    float *f(int salt)
    {
        float *block = SRF_BSDF::allocFloat();
        for (int i = 0; i < KAL_MAX_LANES; ++i)
            block[i] = flt(i) + 0.001f * salt;
        floatBlocks.push_back(block);
        return block;
    }
};

struct LobeCase
{
    const char *name;
    int bounces;
    SRF_BSDF *(*make)(Built &);
};

// Blocks are taken in field order, so the calls are sequenced by locals.
const LobeCase LOBES[] = {
    {"SRF_Isotropic", 1, [](Built &) -> SRF_BSDF * { return new SRF_Isotropic(); }},
    {"SRF_Emission", 8, [](Built &) -> SRF_BSDF * { return new SRF_Emission(); }},
    {"SRF_Specular", 4, [](Built &b) -> SRF_BSDF * { return new SRF_Specular(b.v(0)); }},
    {"SRF_Phong", 2, [](Built &b) -> SRF_BSDF * { return new SRF_Phong(b.v(0), b.f(0)); }},
    {"SRF_Blinn", 2, [](Built &b) -> SRF_BSDF * { return new SRF_Blinn(b.v(0), b.f(0)); }},
    {"SRF_Cone", 2, [](Built &b) -> SRF_BSDF * { return new SRF_Cone(b.v(0), b.f(0)); }},
    {"SRF_Ashikhmin", 2,
     [](Built &b) -> SRF_BSDF *
     {
         BX_Vector3 *n = b.v(0), *t1 = b.v(1), *t2 = b.v(2);
         float *e1 = b.f(0), *e2 = b.f(1);
         // The constructor takes its blocks in another order than the
         // fields hold them.
         return new SRF_Ashikhmin(n, e1, e2, t1, t2);
     }},
    {"SRF_Lafortune", 2,
     [](Built &b) -> SRF_BSDF *
     {
         BX_Vector3 *n = b.v(0), *k = b.v(1);
         return new SRF_Lafortune(n, k, b.f(0));
     }},
    {"SRF_WireDiffuse", 1, [](Built &b) -> SRF_BSDF * { return new SRF_WireDiffuse(b.v(0)); }},
    {"SRF_WireBlinn", 2, [](Built &b) -> SRF_BSDF * { return new SRF_WireBlinn(b.v(0), b.f(0)); }},
};

Built build(const LobeCase &c, VecFill vec, FltFill flt)
{
    Built b;
    b.vec = std::move(vec);
    b.flt = std::move(flt);
    b.bsdf = c.make(b);
    return b;
}

BX_Vector3 laneVector(int lane) { return BX_Vector3(0.1f * lane, 0.3f, 1.0f + 0.01f * lane); }
float laneFloat(int lane) { return 0.5f + 0.25f * lane; }

// Fills some pool blocks of every type with a byte pattern and gives them
// back, so that the next blocks handed out hold that pattern where nobody
// wrote.
void poisonPool()
{
    constexpr int N = 16;
    BX_Vector3 *v[N];
    float *f[N];
    for (int i = 0; i < N; ++i)
    {
        std::memset(static_cast<void *>(v[i] = SRF_BSDF::allocVector()), 0xAB, sizeof(BX_Vector3) * KAL_MAX_LANES);
        std::memset(f[i] = SRF_BSDF::allocFloat(), 0xAB, sizeof(float) * KAL_MAX_LANES);
    }
    for (int i = 0; i < N; ++i)
    {
        SRF_BSDF::release(v[i]);
        SRF_BSDF::release(f[i]);
    }
}

long outOf(int type) { return KAL_DataPool::getDataPool().blocksOut(type); }
} // namespace

// ---------------------------------------------------------------------------
// The contract every lobe class keeps.

TEST(LobeContract, EveryClass)
{
    const int copied = 5;
    const BX_Vector3 u = unit(0.2f, 0.1f, 1.0f), n(0.0f, 0.0f, 1.0f), v = unit(-0.3f, 0.2f, 1.0f);
    const BX_Vector3 zero(0.0f, 0.0f, 0.0f), preset(-7.0f, -7.0f, -7.0f);
    for (const LobeCase &c : LOBES)
    {
        SCOPED_TRACE(c.name);
        const long vectors0 = outOf(KAL_DataPool::VECTOR), floats0 = outOf(KAL_DataPool::FLOAT);
        const long live0 = PoolCheck::liveObjects();

        Built built = build(c, laneVector, laneFloat);
        SRF_BSDF *lobe = built.bsdf;
        ASSERT_NE(lobe, nullptr);
        EXPECT_STREQ(lobe->className(), c.name);
        EXPECT_EQ(lobe->getBounces(), c.bounces);
        EXPECT_EQ(lobe->getBounces(3), c.bounces);

        // dump: the class name after `indent` blanks (one at least).
        EXPECT_EQ(dumpText(*lobe, 0), std::string(" ") + c.name + "\n");
        EXPECT_EQ(dumpText(*lobe, 3), std::string("   ") + c.name + "\n");

        // flatten: this object, then exactly its blocks in field order.
        const Flat flat(lobe);
        ASSERT_EQ(flat.bsdfs.entries(), 1);
        EXPECT_EQ(flat.bsdfs[0], lobe);
        ASSERT_EQ(flat.vectors.entries(), int(built.vectorBlocks.size()));
        for (int i = 0; i < flat.vectors.entries(); ++i)
            EXPECT_EQ(flat.vectors[i], built.vectorBlocks[i]) << "vector block " << i;
        ASSERT_EQ(flat.floats.entries(), int(built.floatBlocks.size()));
        for (int i = 0; i < flat.floats.entries(); ++i)
            EXPECT_EQ(flat.floats[i], built.floatBlocks[i]) << "float block " << i;

        // isEqual compares the class only: another class differs, the same
        // class on other parameters is equal.
        const LobeCase &other = LOBES[(&c - LOBES + 1) % (sizeof(LOBES) / sizeof(LOBES[0]))];
        Built different = build(other, laneVector, laneFloat);
        EXPECT_FALSE(lobe->isEqual(*different.bsdf, 0.0f));
        EXPECT_FALSE(different.bsdf->isEqual(*lobe, 0.0f));
        different.bsdf->decRefCount();
        Built sameClass = build(
            c, [](int) { return BX_Vector3(1.0f, 0.0f, 0.0f); }, [](int) { return 50.0f; });
        EXPECT_TRUE(lobe->isEqual(*sameClass.bsdf, 0.0f));
        sameClass.bsdf->decRefCount();

        // duplicate: equal, same bounce set, own blocks holding exactly the
        // first `copied` lanes.
        poisonPool();
        SRF_BSDF *twin = lobe->duplicate(copied);
        ASSERT_NE(twin, nullptr);
        EXPECT_TRUE(twin->isEqual(*lobe, 0.0f));
        EXPECT_TRUE(lobe->isEqual(*twin, 0.0f));
        EXPECT_EQ(twin->getBounces(), lobe->getBounces());
        EXPECT_EQ(outOf(KAL_DataPool::VECTOR) - vectors0, 2 * long(built.vectorBlocks.size()));
        EXPECT_EQ(outOf(KAL_DataPool::FLOAT) - floats0, 2 * long(built.floatBlocks.size()));
        const Flat twinFlat(twin);
        ASSERT_EQ(twinFlat.vectors.entries(), flat.vectors.entries());
        ASSERT_EQ(twinFlat.floats.entries(), flat.floats.entries());
        for (int i = 0; i < flat.vectors.entries(); ++i)
        {
            const BX_Vector3 *mine = flat.vectors[i], *its = twinFlat.vectors[i];
            EXPECT_NE(its, mine);
            EXPECT_EQ(std::memcmp(its, mine, sizeof(BX_Vector3) * copied), 0) << "vector block " << i;
            for (int lane = copied; lane < KAL_MAX_LANES; ++lane)
                ASSERT_FALSE(its[lane] == mine[lane]) << "vector block " << i << " lane " << lane;
        }
        for (int i = 0; i < flat.floats.entries(); ++i)
        {
            const float *mine = flat.floats[i], *its = twinFlat.floats[i];
            EXPECT_NE(its, mine);
            EXPECT_EQ(std::memcmp(its, mine, sizeof(float) * copied), 0) << "float block " << i;
            for (int lane = copied; lane < KAL_MAX_LANES; ++lane)
                ASSERT_FALSE(sameBits(its[lane], mine[lane])) << "float block " << i << " lane " << lane;
        }
        const Evaluated a = evaluateOf(*lobe, u, n, v, 2), b = evaluateOf(*twin, u, n, v, 2);
        EXPECT_TRUE(sameBits(a.colour.x, b.colour.x) && sameBits(a.scalar, b.scalar));

        // Masks that share no bit with the bounce set give zeros and leave
        // the sampled direction and bounce alone.
        for (int mask : {0, SRF_BOUNCE_ALL & ~c.bounces})
        {
            SCOPED_TRACE(mask);
            EXPECT_EQ(lobe->albedo(u, n, 0, mask), 0.0f);
            EXPECT_EQ(lobe->specularRatio(0, mask), 0.0f);
            Evaluated e;
            lobe->evaluate(u, n, v, e.colour, e.scalar, 0, mask);
            EXPECT_TRUE(e.colour == zero && e.scalar == 0.0f);
            Sampled s;
            lobe->sample(u, n, s.v, s.colour, s.scalar, s.bounce, 0.3f, 0.6f, 0, mask);
            EXPECT_TRUE(s.colour == zero && s.scalar == 0.0f);
            EXPECT_TRUE(s.v == preset && s.bounce == -7);
        }
        // ... and the own mask reaches the lobe.
        EXPECT_EQ(lobe->albedo(u, n, 0, c.bounces), lobe->albedo(u, n, 0));

        // Every block goes back, the twin's first.
        twin->decRefCount();
        EXPECT_EQ(outOf(KAL_DataPool::VECTOR) - vectors0, long(built.vectorBlocks.size()));
        EXPECT_EQ(outOf(KAL_DataPool::FLOAT) - floats0, long(built.floatBlocks.size()));
        lobe->decRefCount();
        EXPECT_EQ(outOf(KAL_DataPool::VECTOR), vectors0);
        EXPECT_EQ(outOf(KAL_DataPool::FLOAT), floats0);
        EXPECT_EQ(PoolCheck::liveObjects(), live0);
    }
}

// Directions of any length, NaN and infinite parameters and random numbers:
// no crash, no exception, and sample still reports its bounce type.
TEST(LobeContract, BadInputNeverCrashes)
{
    const float bad[] = {NaN, INF, -INF, -1.0f, 0.0f, 1e30f, -1e30f};
    const BX_Vector3 dirs[] = {BX_Vector3(0, 0, 0),      BX_Vector3(NaN, 0, 1),    BX_Vector3(INF, 0, 0),
                               BX_Vector3(-INF, INF, 1), BX_Vector3(0, 0, 1e30f),  BX_Vector3(0, 0, -1),
                               BX_Vector3(1e-30f, 0, 0), BX_Vector3(0.6f, 0, 0.8f)};
    long calls = 0;
    for (const LobeCase &c : LOBES)
        for (float p : bad)
            for (const BX_Vector3 &pv : dirs)
            {
                SCOPED_TRACE(c.name);
                Built built = build(
                    c, [&](int) { return pv; }, [&](int) { return p; });
                const SRF_BSDF &lobe = *built.bsdf;
                const int own = lobe.getBounces();
                for (const BX_Vector3 &u : dirs)
                    for (const BX_Vector3 &n : {dirs[0], dirs[1], dirs[5], dirs[7]})
                    {
                        (void)lobe.albedo(u, n, 0);
                        (void)lobe.specularRatio(0);
                        for (const BX_Vector3 &v : {dirs[1], dirs[2], dirs[7], -u})
                            (void)evaluateOf(lobe, u, n, v);
                        for (float s : {NaN, INF, -INF, 0.0f, 1.0f, 0.25f, 0.5f, 0.75f})
                        {
                            const Sampled a = sampleOf(lobe, u, n, s, 0.3f);
                            const Sampled b = sampleOf(lobe, u, n, 0.3f, s);
                            // Only the emission lobe leaves bounce unwritten.
                            EXPECT_EQ(a.bounce, own == SRF_BOUNCE_EMISSION ? -7 : own);
                            EXPECT_EQ(b.bounce, own == SRF_BOUNCE_EMISSION ? -7 : own);
                            calls += 2;
                        }
                    }
                built.bsdf->decRefCount();
            }
    EXPECT_GT(calls, 0);
}

TEST(LobeContract, ExponentMinusOnePassesInfinitiesOn)
{
    const BX_Vector3 z(0, 0, 1);
    auto phong = hold(new SRF_Phong(vectors({z}), floats({-1.0f})));
    EXPECT_EQ(phong->albedo(z, z, 0), INF);
    EXPECT_EQ(phong->specularRatio(0), -INF);
    auto laf = hold(new SRF_Lafortune(vectors({z}), vectors({BX_Vector3(1, 1, 1)}), floats({-1.0f})));
    EXPECT_EQ(laf->getBounces(), SRF_BOUNCE_DIFFUSE);
    EXPECT_EQ(laf->albedo(z, z, 0), 0.5f);
    EXPECT_FALSE(std::isfinite(laf->specularRatio(0)));
    EXPECT_EQ(hold(new SRF_WireBlinn(vectors({z}), floats({-1.0f})))->albedo(z, z, 0), INF);
}

// ---------------------------------------------------------------------------
// Queries run on many threads at once in a renderer's inner loop: they must
// not allocate, lock or throw (CountingAllocator.h counts both).

TEST(LobeContract, QueriesNeitherAllocateLockNorThrow)
{
    auto startCounting = []
    {
        theAllocations = 0;
        theLocks = 0;
        theCounting = true;
    };
    // The counters themselves must see what they are meant to see.
    startCounting();
    SRF_BSDF::release(SRF_BSDF::allocFloat()); // the pool locks its free list
    delete new int(3);
    theCounting = false;
    ASSERT_GE(theLocks.load(), 1);
    ASSERT_GE(theAllocations.load(), 1);

    std::mt19937 rng(17);
    std::uniform_real_distribution<float> r01(0.0f, 1.0f);
    for (const LobeCase &c : LOBES)
    {
        Built built = build(
            c, [&](int) { return randomUnit(rng); }, [&](int lane) { return 0.3f + lane; });
        BX_Vector3 dirs[64];
        float rnd[64];
        for (int i = 0; i < 64; ++i)
        {
            dirs[i] = randomUnit(rng);
            rnd[i] = r01(rng);
        }
        const SRF_BSDF &lobe = *built.bsdf;
        long thrown = 0;
        float sink = 0.0f;
        startCounting();
        try
        {
            for (int i = 0; i < 4000; ++i)
            {
                const BX_Vector3 &u = dirs[i % 64], &n = dirs[(i + 7) % 64], &w = dirs[(i + 19) % 64];
                const int lane = i % 8, mask = i % 16;
                BX_Vector3 v, colour;
                float scalar;
                int bounce;
                lobe.sample(u, n, v, colour, scalar, bounce, rnd[i % 64], rnd[(i + 3) % 64], lane);
                lobe.sample(u, n, v, colour, scalar, bounce, rnd[i % 64], rnd[(i + 5) % 64], lane, mask);
                lobe.evaluate(u, n, w, colour, scalar, lane);
                lobe.evaluate(u, n, w, colour, scalar, lane, mask);
                sink += lobe.albedo(u, n, lane) + lobe.albedo(u, n, lane, mask) + lobe.specularRatio(lane) +
                        lobe.specularRatio(lane, mask) + colour.x + scalar;
            }
        }
        catch (...)
        {
            ++thrown;
        }
        theCounting = false;
        EXPECT_EQ(theAllocations.load(), 0) << c.name;
        EXPECT_EQ(theLocks.load(), 0) << c.name;
        EXPECT_EQ(thrown, 0) << c.name;
        EXPECT_FALSE(sink == 12345.0f); // keeps the loop
        built.bsdf->decRefCount();
    }
}

// ---------------------------------------------------------------------------
// Specular

TEST(Specular, SamplesItsOwnNormalisedDirection)
{
    auto s = hold(new SRF_Specular(vectors({BX_Vector3(0, 0, 2), BX_Vector3(0, -3, 0)})));
    const BX_Vector3 n(0, 0, 1);
    for (float sx : {0.0f, 0.4f, 1.0f})
    {
        const Sampled a = sampleOf(*s, unit(0.3f, 0.1f, 0.9f), n, sx, 1.0f - sx);
        EXPECT_TRUE(a.v == BX_Vector3(0, 0, 1));
        EXPECT_TRUE(a.colour == BX_Vector3(1e6f, 1e6f, 1e6f));
        EXPECT_EQ(a.scalar, 1.0f);
        EXPECT_EQ(a.bounce, SRF_BOUNCE_SPECULAR);
    }
    // Lane 1 lies in the plane of n, and for n = (0, 1, 0) below it: neither
    // is tested or folded.
    EXPECT_TRUE(sampleOf(*s, n, n, 0.5f, 0.5f, 1).v == BX_Vector3(0, -1, 0));
    EXPECT_TRUE(sampleOf(*s, n, BX_Vector3(0, 1, 0), 0.5f, 0.5f, 1).v == BX_Vector3(0, -1, 0));
    // Even the stored direction itself evaluates to nothing.
    const Evaluated e = evaluateOf(*s, n, n, BX_Vector3(0, 0, 1));
    EXPECT_TRUE(e.colour == BX_Vector3(0, 0, 0));
    EXPECT_EQ(e.scalar, 1.0f);
    EXPECT_EQ(s->albedo(n, n, 1), 1.0f);
    EXPECT_EQ(s->specularRatio(0), 1.0f);
}

// ---------------------------------------------------------------------------
// Phong

TEST(Phong, EvaluateByHand)
{
    const BX_Vector3 z(0, 0, 1);
    auto p = hold(new SRF_Phong(vectors({z, z, BX_Vector3(1, 0, 0)}), floats({0.0f, 1.0f, 3.0f})));
    // e = 0: a unit value where n.v > 0 and D.v > 0.
    EXPECT_EQ(p->albedo(z, z, 0), 1.0f);
    EXPECT_EQ(p->specularRatio(0), 0.0f);
    Evaluated e = evaluateOf(*p, z, z, unit(0.9f, 0, 0.1f));
    EXPECT_TRUE(e.colour == BX_Vector3(1, 1, 1));
    EXPECT_EQ(e.scalar, 1.0f);
    e = evaluateOf(*p, z, z, unit(0.9f, 0, -0.1f));
    EXPECT_TRUE(e.colour == BX_Vector3(0, 0, 0));
    EXPECT_EQ(e.scalar, 1.0f);
    // e = 1, v = (0, 0.6, 0.8): (D.v)^1 = 0.8, A = 1/2.
    e = evaluateOf(*p, z, z, BX_Vector3(0, 0.6f, 0.8f), 1);
    EXPECT_VEC_NEAR(e.colour, 0.8f, 0.8f, 0.8f, 1e-6f);
    EXPECT_EQ(e.scalar, 0.5f);
    // D = (1, 0, 0), e = 3: v above the surface but behind the axis.
    e = evaluateOf(*p, z, z, BX_Vector3(-0.6f, 0, 0.8f), 2);
    EXPECT_TRUE(e.colour == BX_Vector3(0, 0, 0));
    EXPECT_EQ(e.scalar, 0.25f);
    // ... and in front of it: 0.6^3.
    e = evaluateOf(*p, z, z, BX_Vector3(0.6f, 0, 0.8f), 2);
    EXPECT_NEAR(e.colour.y, 0.216f, 1e-6f);
}

TEST(Phong, SampleByHand)
{
    // D = (0, 0, 1) has the frame F1 = (1, 0, 0), F2 = (0, 1, 0).
    const BX_Vector3 z(0, 0, 1);
    const BX_Vector3 tilted(0.6f, 0, 0.8f);
    auto p = hold(new SRF_Phong(vectors({z, tilted}), floats({1.0f, 1.0f})));
    // The disk centre lifts to the axis, with weight r^2 = 0.
    Sampled s = sampleOf(*p, z, z, 0.5f, 0.5f);
    EXPECT_TRUE(s.v == z);
    EXPECT_TRUE(s.colour == BX_Vector3(0, 0, 0));
    EXPECT_EQ(s.scalar, 0.5f);
    EXPECT_EQ(s.bounce, SRF_BOUNCE_GLOSSY);
    // Within 0.0001 of the centre the point is kept as it is.
    s = sampleOf(*p, z, z, 0.50001f, 0.5f);
    EXPECT_NEAR(s.v.x, 2e-5f, 1e-6f);
    EXPECT_NEAR(s.v.z, 1.0f, 1e-6f);
    EXPECT_LT(s.colour.x, 1e-9f);
    // (sx, sy) = (0.75, 0.5) is the disk point (0.5, 0): r^2 = 0.25, the
    // weight whatever e is; for e = 1 the cosine is 0.25^(1/2) = 0.5.
    s = sampleOf(*p, z, z, 0.75f, 0.5f);
    EXPECT_VEC_NEAR(s.v, std::sqrt(3.0f) / 2, 0.0f, 0.5f, 1e-6f);
    EXPECT_NEAR(s.colour.x, 0.25f, 1e-7f);
    // D = (0.6, 0, 0.8), frame F1 = (0.8, 0, -0.6): the same point gives
    // v = (sqrt(3)/2) F1 + D/2, below the surface, folded back across the
    // normal turned toward D -- for n and for -n alike.
    for (const BX_Vector3 &n : {z, -z})
    {
        s = sampleOf(*p, z, n, 0.75f, 0.5f, 1);
        EXPECT_VEC_NEAR(s.v, 0.99282032f, 0.0f, 0.11961524f, 1e-5f);
        EXPECT_NEAR(s.colour.x, 0.25f, 1e-7f);
    }
}

// ---------------------------------------------------------------------------
// Blinn

TEST(Blinn, EvaluateByHand)
{
    const BX_Vector3 z(0, 0, 1);
    auto b = hold(new SRF_Blinn(vectors({z, z, z}), floats({10.0f, 0.0f, 1.0f})));
    // u = v = N: H = N, 1 / (4 * 1).
    Evaluated e = evaluateOf(*b, z, z, z);
    EXPECT_VEC_NEAR(e.colour, 0.25f, 0.25f, 0.25f, 1e-7f);
    EXPECT_NEAR(e.scalar, 1.0f / 11.0f, 1e-7f);
    // e = 0: 1 / (4 H.u) with H = N, H.u = 0.8.
    e = evaluateOf(*b, BX_Vector3(0.6f, 0, 0.8f), z, BX_Vector3(-0.6f, 0, 0.8f), 1);
    EXPECT_NEAR(e.colour.x, 0.3125f, 1e-6f);
    EXPECT_EQ(e.scalar, 1.0f);
    // The side test is on N, not n: N.v < 0 gives zero although n.v > 0 ...
    e = evaluateOf(*b, z, -z, BX_Vector3(0.8f, 0, -0.6f), 2);
    EXPECT_TRUE(e.colour == BX_Vector3(0, 0, 0));
    EXPECT_EQ(e.scalar, 0.5f);
    // ... and N.v > 0 with n.v < 0 is evaluated: with u = N and e = 1,
    // k / (4 k) = 1/4.
    e = evaluateOf(*b, z, -z, BX_Vector3(0, 0.6f, 0.8f), 2);
    EXPECT_NEAR(e.colour.x, 0.25f, 1e-6f);
}

TEST(Blinn, SampleByHand)
{
    const BX_Vector3 z(0, 0, 1);
    auto b = hold(new SRF_Blinn(vectors({z, BX_Vector3(0.8f, 0, 0.6f)}), floats({7.0f, 7.0f})));
    // sy = 1: c = 1, H = N, v = u mirrored about N, weight 1 / (4 u.N).
    Sampled s = sampleOf(*b, BX_Vector3(0.6f, 0, 0.8f), z, 0.3f, 1.0f);
    EXPECT_VEC_NEAR(s.v, -0.6f, 0.0f, 0.8f, 1e-6f);
    EXPECT_NEAR(s.colour.x, 0.3125f, 1e-6f);
    EXPECT_EQ(s.scalar, 0.125f);
    EXPECT_EQ(s.bounce, SRF_BOUNCE_GLOSSY);
    // N = (0.8, 0, 0.6), u = n = z: the mirror image (0.96, 0, -0.28) falls
    // below n and is folded; the weight stays 1 / (4 H.u) = 1 / 2.4.
    s = sampleOf(*b, z, z, 0.3f, 1.0f, 1);
    EXPECT_VEC_NEAR(s.v, 0.96f, 0.0f, 0.28f, 1e-6f);
    EXPECT_NEAR(s.colour.x, 1.0f / 2.4f, 1e-6f);
    // u = -N: the drawn H = N faces away from u and is negated, so that
    // H.u = 1 and the weight is +1/4 (the mirror image is -N either way).
    s = sampleOf(*b, -z, z, 0.3f, 1.0f);
    EXPECT_VEC_NEAR(s.v, 0.0f, 0.0f, -1.0f, 1e-6f);
    EXPECT_NEAR(s.colour.x, 0.25f, 1e-6f);

    // e = 0 draws the cosine of H to N as sy itself (u = N and n = 0, so
    // nothing is turned or folded and H is the half vector of u and v).
    auto flat = hold(new SRF_Blinn(vectors({z}), floats({0.0f})));
    for (float sy : {0.1f, 0.3f, 0.8f})
    {
        s = sampleOf(*flat, z, BX_Vector3(0, 0, 0), 0.6f, sy);
        BX_Vector3 h = z + s.v;
        h.normalize();
        EXPECT_NEAR(h.z, sy, 1e-6f);
        EXPECT_NEAR(s.colour.x, 1.0f / (4.0f * sy), 1e-5f);
    }
}

// Where H was not negated and N.v > 0, the sampled weight is the lobe's
// value for the (unfolded) direction.
TEST(Blinn, SampleWeightIsTheValue)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> r01(0.0f, 1.0f);
    int checked = 0;
    for (int i = 0; i < 20000; ++i)
    {
        const BX_Vector3 nl = randomUnit(rng);
        const float e = 50.0f * r01(rng);
        auto b = hold(new SRF_Blinn(vectors({nl}), floats({e})));
        const BX_Vector3 u = randomUnit(rng);
        // n = 0 puts every direction on one side: nothing is folded.
        const Sampled s = sampleOf(*b, u, BX_Vector3(0, 0, 0), r01(rng), r01(rng));
        BX_Vector3 h = u + s.v;
        h.normalize();
        if (nl.dot(s.v) > 1e-3f && nl.dot(h) > 1e-3f && h.dot(u) > 1e-2f)
        {
            const Evaluated v = evaluateOf(*b, u, BX_Vector3(0, 0, 0), s.v);
            EXPECT_NEAR(s.colour.x, v.colour.x, 2e-3f * v.colour.x + 1e-6f);
            EXPECT_EQ(s.scalar, v.scalar);
            ++checked;
        }
    }
    EXPECT_GT(checked, 5000);
}

// ---------------------------------------------------------------------------
// Cone

TEST(Cone, ByHand)
{
    const BX_Vector3 z(0, 0, 1);
    const float third = 1.0471976f; // pi/3
    auto c =
        hold(new SRF_Cone(vectors({z, z, BX_Vector3(1, 0, 0), z}), floats({0.0f, 1.5707964f, 2.0f * third, third})));
    // alpha = 0: no solid angle, nothing evaluates, every sample is D.
    EXPECT_EQ(c->albedo(z, z, 0), 0.0f);
    EXPECT_EQ(c->specularRatio(0), 1.0f);
    EXPECT_TRUE(evaluateOf(*c, z, z, z).colour == BX_Vector3(0, 0, 0));
    Sampled s = sampleOf(*c, z, z, 0.9f, 0.2f);
    EXPECT_TRUE(s.v == z);
    EXPECT_TRUE(s.colour == BX_Vector3(1, 1, 1));
    EXPECT_EQ(s.scalar, 0.0f);
    EXPECT_EQ(s.bounce, SRF_BOUNCE_GLOSSY);
    // alpha = pi/2 about n: the open hemisphere.
    EXPECT_NEAR(c->albedo(z, z, 1), 1.0f, 1e-6f);
    EXPECT_TRUE(evaluateOf(*c, z, z, unit(1, 0, 0.01f), 1).colour == BX_Vector3(1, 1, 1));
    EXPECT_TRUE(evaluateOf(*c, z, z, BX_Vector3(1, 0, 0), 1).colour == BX_Vector3(0, 0, 0));
    // alpha = 2 pi/3 about D = (1, 0, 0) in the plane: D.v = -0.3 > -1/2 is
    // inside the wider cone.
    EXPECT_TRUE(evaluateOf(*c, z, z, unit(-0.3f, 0, 0.9539392f), 2).colour == BX_Vector3(1, 1, 1));
    EXPECT_TRUE(evaluateOf(*c, z, z, unit(-0.6f, 0, 0.8f), 2).colour == BX_Vector3(0, 0, 0));
    // The rim itself is outside; just within it is inside.
    const float rim = std::cos(third);
    EXPECT_TRUE(evaluateOf(*c, z, z, BX_Vector3(0.8f, 0, rim), 3).colour == BX_Vector3(0, 0, 0));
    EXPECT_TRUE(evaluateOf(*c, z, z, BX_Vector3(0.8f, 0, std::nextafter(rim, 1.0f)), 3).colour == BX_Vector3(1, 1, 1));
}

TEST(Cone, SamplesStayInTheirCone)
{
    const BX_Vector3 d = unit(0.3f, -0.2f, 0.9f);
    const float third = 1.0471976f;
    // alpha = 2 pi/3: only sin(alpha) enters, so samples keep within pi/3.
    auto c = hold(new SRF_Cone(vectors({d, d}), floats({2.0f * third, 0.4f})));
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> r01(0.0f, 1.0f);
    for (int i = 0; i < 20000; ++i)
    {
        const float sx = r01(rng), sy = r01(rng);
        const Sampled wide = sampleOf(*c, d, d, sx, sy, 0);
        EXPECT_NEAR(wide.v.length(), 1.0f, 1e-5f);
        EXPECT_GE(wide.v.dot(d), 0.5f - 1e-5f);
        const Sampled narrow = sampleOf(*c, d, d, sx, sy, 1);
        EXPECT_NEAR(narrow.v.length(), 1.0f, 1e-5f);
        EXPECT_GE(narrow.v.dot(d), std::cos(0.4f) - 1e-5f);
    }
}

// ---------------------------------------------------------------------------
// Ashikhmin

namespace
{
// Reaches the quadrant inversion.
class AshikhminProbe : public SRF_Ashikhmin
{
public:
    using SRF_Ashikhmin::sampleFirstQuadrant;
    using SRF_Ashikhmin::SRF_Ashikhmin;
};

SRF_BSDF *ashikhmin(const BX_Vector3 &n, const BX_Vector3 &t1, const BX_Vector3 &t2, float e1, float e2)
{
    return new SRF_Ashikhmin(vectors({n}), floats({e1}), floats({e2}), vectors({t1}), vectors({t2}));
}
} // namespace

TEST(Ashikhmin, ByHand)
{
    const BX_Vector3 x(1, 0, 0), y(0, 1, 0), z(0, 0, 1);
    TestUtil::Held<AshikhminProbe> a(
        new AshikhminProbe(vectors({z}), floats({3.0f}), floats({15.0f}), vectors({x}), vectors({y})));
    EXPECT_NEAR(a->albedo(z, z, 0), 0.125f, 1e-7f);
    EXPECT_NEAR(a->specularRatio(0), 0.9f, 1e-7f);
    // k = sqrt(4/16): a = 1/2 gives phi = atan(1/2) and the exponent
    // 3 cos^2 + 15 sin^2 = 5.4.
    float phi, cosTheta;
    a->sampleFirstQuadrant(0.5f, 0.5f, phi, cosTheta, 0);
    EXPECT_NEAR(phi, 0.46364761f, 1e-6f);
    EXPECT_NEAR(cosTheta, 0.89735454f, 1e-6f);
    a->sampleFirstQuadrant(0.0f, 0.25f, phi, cosTheta, 0);
    EXPECT_EQ(phi, 0.0f);
    EXPECT_NEAR(cosTheta, 0.70710678f, 1e-6f); // 0.25^(1/4)

    // The azimuth of the sampled half vector (u = N, no fold: H = u + v).
    auto azimuth = [&](float sx)
    {
        const Sampled s = sampleOf(*a, z, BX_Vector3(0, 0, 0), sx, 0.5f);
        const BX_Vector3 h = z + s.v;
        return std::atan2(h.y, h.x);
    };
    EXPECT_NEAR(azimuth(0.0f), 0.0f, 1e-6f);
    EXPECT_NEAR(std::fabs(azimuth(0.5f)), float(PI), 1e-6f);
    EXPECT_NEAR(azimuth(0.2499999f), float(PI / 2), 1e-3f);
    EXPECT_NEAR(azimuth(0.125f), 0.46364761f, 1e-5f);
    EXPECT_NEAR(azimuth(0.375f), float(PI) - 0.46364761f, 1e-5f);
    EXPECT_NEAR(azimuth(0.625f), -float(PI) + 0.46364761f, 1e-5f);
    EXPECT_NEAR(azimuth(0.875f), -0.46364761f, 1e-5f);

    // sy = 1: H = N, v the mirror image of u.
    Sampled s = sampleOf(*a, BX_Vector3(0.6f, 0, 0.8f), z, 0.3f, 1.0f);
    EXPECT_VEC_NEAR(s.v, -0.6f, 0.0f, 0.8f, 1e-6f);
    EXPECT_EQ(s.bounce, SRF_BOUNCE_GLOSSY);
    // A half vector below N: zero, with the albedo as scalar.
    const Evaluated e = evaluateOf(*a, BX_Vector3(0.6f, 0, 0.8f), z, BX_Vector3(0.6f, 0, -0.9f));
    EXPECT_TRUE(e.colour == BX_Vector3(0, 0, 0));
    EXPECT_NEAR(e.scalar, 0.125f, 1e-7f);
}

TEST(Ashikhmin, EqualExponentsGiveTheBlinnLobe)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> r01(0.0f, 1.0f);
    int compared = 0, below = 0;
    for (int i = 0; i < 2000; ++i)
    {
        // A random orthonormal (t1, t2, N).
        const BX_Vector3 nl = randomUnit(rng);
        BX_Vector3 t1, t2;
        nl.getFrameOfReference(t1, t2);
        const float e = 40.0f * r01(rng);
        auto a = hold(ashikhmin(nl, t1, t2, e, e));
        auto b = hold(new SRF_Blinn(vectors({nl}), floats({e})));
        EXPECT_NEAR(a->albedo(nl, nl, 0), 1.0f / (e + 1.0f), 1e-6f);
        EXPECT_NEAR(a->specularRatio(0), e / (e + 1.0f), 1e-6f);
        const BX_Vector3 u = randomUnit(rng), v = randomUnit(rng);
        BX_Vector3 h = u + v;
        h.normalize();
        const Evaluated ea = evaluateOf(*a, u, nl, v), eb = evaluateOf(*b, u, nl, v);
        if (nl.dot(v) > 0.0f && h.dot(nl) > 0.01f && h.dot(nl) < 0.999f && std::fabs(h.dot(u)) > 0.01f)
        {
            EXPECT_NEAR(ea.colour.x, eb.colour.x, 1e-3f * std::fabs(eb.colour.x) + 1e-6f);
            ++compared;
        }
        else if (nl.dot(v) < 0.0f && h.dot(nl) > 0.5f && h.dot(nl) < 0.999f && h.dot(u) > 0.01f)
        {
            // Below N the Blinn lobe is zero; this one still gives a value.
            ++below;
            EXPECT_EQ(eb.colour.x, 0.0f);
            EXPECT_GT(ea.colour.x, 0.0f);
        }
    }
    EXPECT_GT(compared, 300);
    EXPECT_GT(below, 20);
}

TEST(Ashikhmin, SampleWeightIsTheValue)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> r01(0.0f, 1.0f);
    for (int i = 0; i < 20000; ++i)
    {
        const BX_Vector3 nl = randomUnit(rng);
        BX_Vector3 t1, t2;
        nl.getFrameOfReference(t1, t2);
        auto a = hold(ashikhmin(nl, t1, t2, 100.0f * r01(rng), 100.0f * r01(rng)));
        const BX_Vector3 u = randomUnit(rng), n = randomUnit(rng);
        const Sampled s = sampleOf(*a, u, n, r01(rng), r01(rng));
        const Evaluated e = evaluateOf(*a, u, n, s.v);
        ASSERT_TRUE(sameBits(s.colour.x, e.colour.x) && sameBits(s.colour.z, e.colour.z));
        ASSERT_TRUE(sameBits(s.scalar, e.scalar));
    }
}

// ---------------------------------------------------------------------------
// Lafortune

TEST(Lafortune, ByHand)
{
    const BX_Vector3 z(0, 0, 1), u(0.6f, 0, 0.8f);
    // Lane 0 glossy (e = 2), lane 1 diffuse (e = 0).
    auto l = hold(new SRF_Lafortune(vectors({z, z, z}),
                                    vectors({BX_Vector3(-1, -1, 1), BX_Vector3(1, 1, 1), BX_Vector3(0, 0.5f, 1)}),
                                    floats({2.0f, 0.0f, 2.0f})));
    EXPECT_EQ(l->getBounces(), SRF_BOUNCE_GLOSSY);
    EXPECT_NEAR(l->albedo(u, z, 0), 1.0f / 3.0f, 1e-7f);
    EXPECT_EQ(l->albedo(u, z, 1), 0.5f);
    EXPECT_EQ(l->specularRatio(1), 0.0f);
    // K = (-1, -1, 1), v the mirror image of u about N: q = uy^2 + uz^2 = 1.
    Evaluated e = evaluateOf(*l, u, z, BX_Vector3(-0.6f, 0, 0.8f));
    EXPECT_VEC_NEAR(e.colour, 1.0f, 1.0f, 1.0f, 1e-6f);
    // Frame for u: T = (0, 1, 0), B = (-1, 0, 0); u = (0, -0.6, 0.8) there,
    // v = (0, 0.6, 0.8) is (0.6, 0, 0.8): q = 0.64 + 0.5 * (-0.6) * 0 = 0.64.
    e = evaluateOf(*l, u, z, BX_Vector3(0, 0.6f, 0.8f), 2);
    EXPECT_NEAR(e.colour.x, 0.4096f, 1e-6f);
    // The diffuse lane: |N.v| on u's side of N, zero across it.
    e = evaluateOf(*l, u, -z, BX_Vector3(0, 0.6f, 0.8f), 1);
    EXPECT_NEAR(e.colour.x, 0.8f, 1e-7f);
    EXPECT_EQ(e.scalar, 0.5f);
    e = evaluateOf(*l, u, z, BX_Vector3(0, 0.6f, -0.8f), 1);
    EXPECT_TRUE(e.colour == BX_Vector3(0, 0, 0));
    e = evaluateOf(*l, u, z, BX_Vector3(0, 0.6f, -0.8f), 0);
    EXPECT_TRUE(e.colour == BX_Vector3(0, 0, 0));
    EXPECT_NEAR(e.scalar, 1.0f / 3.0f, 1e-7f);
    // Diffuse sampling still reports the lobe's bounce set; the disk centre
    // lifts to N turned toward u's side of n.
    Sampled s = sampleOf(*l, BX_Vector3(0.6f, 0, -0.8f), -z, 0.5f, 0.5f, 1);
    EXPECT_TRUE(s.v == -z);
    EXPECT_EQ(s.colour.x, 1.0f);
    EXPECT_EQ(s.bounce, SRF_BOUNCE_GLOSSY);
}

TEST(Lafortune, GlossySampleIsTurnedAboveTheNormal)
{
    const BX_Vector3 z(0, 0, 1), u(0.6f, 0, 0.8f);
    // K = (1, 1, -1): the lobe axis w = (0, -0.6, -0.8) in (T, B, N) points
    // below; the disk centre gives L = w, whose third component is negated:
    // (0, -0.6, 0.8), that is u itself in world space.
    auto l = hold(new SRF_Lafortune(vectors({z}), vectors({BX_Vector3(1, 1, -1)}), floats({4.0f})));
    const Sampled s = sampleOf(*l, u, z, 0.5f, 0.5f);
    EXPECT_VEC_NEAR(s.v, 0.6f, 0.0f, 0.8f, 1e-6f);
    EXPECT_TRUE(s.colour == BX_Vector3(0, 0, 0));
    EXPECT_NEAR(s.scalar, 0.2f, 1e-7f);
    // No sample ends below N'.
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> r01(0.0f, 1.0f);
    for (int i = 0; i < 5000; ++i)
        ASSERT_GE(sampleOf(*l, u, z, r01(rng), r01(rng)).v.z, 0.0f);
}

TEST(Lafortune, BounceSetFromLaneZeroAndKeptByDuplicate)
{
    const BX_Vector3 z(0, 0, 1);
    auto diffuse = hold(new SRF_Lafortune(vectors({z, z}), vectors({z, z}), floats({0.0f, 3.0f})));
    auto nan = hold(new SRF_Lafortune(vectors({z}), vectors({z}), floats({NaN})));
    auto glossy = hold(new SRF_Lafortune(vectors({z, z}), vectors({z, z}), floats({2.0f, 0.0f})));
    EXPECT_EQ(diffuse->getBounces(), SRF_BOUNCE_DIFFUSE);
    EXPECT_EQ(nan->getBounces(), SRF_BOUNCE_DIFFUSE);
    EXPECT_EQ(glossy->getBounces(), SRF_BOUNCE_GLOSSY);
    for (int count : {0, 1, 2})
    {
        auto d = hold(diffuse->duplicate(count));
        auto g = hold(glossy->duplicate(count));
        EXPECT_EQ(d->getBounces(), SRF_BOUNCE_DIFFUSE);
        EXPECT_EQ(g->getBounces(), SRF_BOUNCE_GLOSSY);
    }
}

// ---------------------------------------------------------------------------
// Wire lobes

TEST(WireDiffuse, ByHand)
{
    const BX_Vector3 t(0, 0, 1);
    auto w = hold(new SRF_WireDiffuse(vectors({t})));
    EXPECT_EQ(w->albedo(t, t, 0), 0.5f);
    EXPECT_EQ(w->specularRatio(0), 0.0f);
    for (const BX_Vector3 &n : {t, -t, BX_Vector3(1, 0, 0)})
    {
        Evaluated e = evaluateOf(*w, t, n, t);
        EXPECT_TRUE(e.colour == BX_Vector3(0, 0, 0));
        EXPECT_EQ(e.scalar, 0.5f);
        e = evaluateOf(*w, t, n, BX_Vector3(0, -1, 0));
        EXPECT_TRUE(e.colour == BX_Vector3(1, 1, 1));
        e = evaluateOf(*w, t, n, BX_Vector3(0.6f, 0, -0.8f));
        EXPECT_NEAR(e.colour.x, 0.36f, 1e-6f);
    }
    // T = z has the frame F1 = x, F2 = y: sy = 1/2 gives P(2 pi sx).
    Sampled s = sampleOf(*w, t, t, 0.25f, 0.5f);
    EXPECT_VEC_NEAR(s.v, 0.0f, 1.0f, 0.0f, 1e-6f);
    EXPECT_VEC_NEAR(s.colour, 1.0f, 1.0f, 1.0f, 1e-7f);
    EXPECT_EQ(s.scalar, 0.5f);
    EXPECT_EQ(s.bounce, SRF_BOUNCE_DIFFUSE);
    s = sampleOf(*w, t, t, 0.7f, 0.0f);
    EXPECT_TRUE(s.v == BX_Vector3(0, 0, -1) && s.colour == BX_Vector3(0, 0, 0));
    s = sampleOf(*w, t, t, 0.7f, 1.0f);
    EXPECT_TRUE(s.v == BX_Vector3(0, 0, 1) && s.colour == BX_Vector3(0, 0, 0));
    // Sampled weight is the sine, evaluate the squared sine.
    s = sampleOf(*w, t, t, 0.0f, 0.9f);
    EXPECT_NEAR(s.colour.x, 0.6f, 1e-6f);
    EXPECT_NEAR(evaluateOf(*w, t, t, s.v).colour.x, 0.36f, 1e-6f);
}

TEST(WireBlinn, ByHand)
{
    const BX_Vector3 t(0, 0, 1), u(0.6f, 0, 0.8f);
    auto w = hold(new SRF_WireBlinn(vectors({t, t}), floats({3.0f, 0.0f})));
    EXPECT_NEAR(w->albedo(u, t, 0), 0.5f, 1e-7f);
    EXPECT_EQ(w->specularRatio(0), 0.75f);
    // sy = 1/2 exactly: xi = 1, s = 1, H = P; P = x, or -x turned toward u.
    for (float sx : {0.0f, 0.5f})
    {
        const Sampled s = sampleOf(*w, u, t, sx, 0.5f);
        EXPECT_VEC_NEAR(s.v, 0.6f, 0.0f, -0.8f, 1e-6f);
        EXPECT_NEAR(s.colour.x, 1.0f, 1e-6f);
        EXPECT_NEAR(s.scalar, 0.5f, 1e-7f);
        EXPECT_EQ(s.bounce, SRF_BOUNCE_GLOSSY);
    }
    // H = (0, 0.6, 0.8) normalised from u + v: sine 0.6, 0.6^3.
    EXPECT_NEAR(evaluateOf(*w, BX_Vector3(0, 0.6f, 0.8f), t, BX_Vector3(0, 0.6f, 0.8f)).colour.x, 0.216f, 1e-6f);
    // e = 0: albedo 1, ratio 0, value 1 everywhere.
    EXPECT_EQ(w->albedo(u, t, 1), 1.0f);
    EXPECT_EQ(w->specularRatio(1), 0.0f);
    std::mt19937 rng(9);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(evaluateOf(*w, randomUnit(rng), t, randomUnit(rng), 1).colour.x, 1.0f);
}

// The wire lobes have no surface side: n changes nothing, and WireBlinn's
// sampled weight is its value.
TEST(WireLobes, IgnoreTheNormalAndSampleTheirValue)
{
    std::mt19937 rng(13);
    std::uniform_real_distribution<float> r01(0.0f, 1.0f);
    for (int i = 0; i < 5000; ++i)
    {
        const BX_Vector3 t = randomUnit(rng);
        SRF_BSDF *lobes[] = {new SRF_WireDiffuse(vectors({t})),
                             new SRF_WireBlinn(vectors({t}), floats({30 * r01(rng)}))};
        const BX_Vector3 u = randomUnit(rng), n = randomUnit(rng), v = randomUnit(rng);
        const float sx = r01(rng), sy = r01(rng);
        for (SRF_BSDF *l : lobes)
        {
            const Sampled a = sampleOf(*l, u, n, sx, sy), b = sampleOf(*l, u, -n, sx, sy);
            ASSERT_TRUE(a.v == b.v && a.colour == b.colour && a.scalar == b.scalar);
            const Evaluated c = evaluateOf(*l, u, n, v), d = evaluateOf(*l, u, -n, v);
            ASSERT_TRUE(c.colour == d.colour && c.scalar == d.scalar);
        }
        const Sampled s = sampleOf(*lobes[1], u, n, sx, sy);
        const Evaluated e = evaluateOf(*lobes[1], u, n, s.v);
        ASSERT_TRUE(sameBits(s.colour.y, e.colour.y) && sameBits(s.scalar, e.scalar));
        lobes[0]->decRefCount();
        lobes[1]->decRefCount();
    }
}

// ---------------------------------------------------------------------------
// Samplers against the densities they claim, one chi-square harness fed a
// sampler per lobe.

namespace
{
using ChiSquare::Sampler;

// Histograms the sampled directions v for fixed u and n.
Sampler directions(const std::string &name, SRF_BSDF *bsdf, const BX_Vector3 &u, const BX_Vector3 &n,
                   const ChiSquare::Frame &frame, std::function<double(const BX_Vector3 &)> density)
{
    auto held = ChiSquare::hold(bsdf);
    return {name, frame,
            [held, u, n](float sx, float sy, BX_Vector3 &dir)
            {
                Sampled s = sampleOf(*held, u, n, sx, sy);
                dir = s.v;
            },
            std::move(density)};
}

// Histograms the half vector H = (u + v)/|u + v| of each sample. n = 0 keeps
// every direction on one side, so no sample is folded and H is the half
// vector the lobe drew (turned toward u).
Sampler halfVectors(const std::string &name, SRF_BSDF *bsdf, const BX_Vector3 &u, const ChiSquare::Frame &frame,
                    std::function<double(const BX_Vector3 &)> density)
{
    auto held = ChiSquare::hold(bsdf);
    return {name, frame,
            [held, u](float sx, float sy, BX_Vector3 &dir)
            {
                Sampled s = sampleOf(*held, u, BX_Vector3(0, 0, 0), sx, sy);
                dir = u + s.v;
                dir.normalize();
            },
            std::move(density)};
}

double uniformSphere(const BX_Vector3 &) { return 1.0 / (4.0 * PI); }

// (e + 1)/(2 pi) (a.d)^e on the hemisphere of a.
std::function<double(const BX_Vector3 &)> cosinePower(const BX_Vector3 &a, double e)
{
    return [a, e](const BX_Vector3 &d)
    {
        const double c = a.dot(d);
        return c > 0.0 ? (e + 1.0) / (2.0 * PI) * std::pow(c, e) : 0.0;
    };
}

Sampler phongSampler(double claimedExponent)
{
    const BX_Vector3 d = unit(0.36f, 0.48f, 0.8f);
    SRF_BSDF *p = new SRF_Phong(vectors({d}), floats({4.0f}));
    return directions("SRF_Phong e = 4 against exponent " + std::to_string(claimedExponent), p, unit(0.1f, 0, 1), d,
                      ChiSquare::frameAbout(d), cosinePower(d, claimedExponent));
}
} // namespace

// Samplers that draw directions directly.
TEST(Samplers, Directions)
{
    const BX_Vector3 z(0, 0, 1);
    // Uniform on the sphere.
    EXPECT_TRUE(ChiSquare::fits(directions("SRF_Isotropic", new SRF_Isotropic(), unit(0.2f, -0.5f, 0.7f), z,
                                           ChiSquare::frameAbout(z), uniformSphere)));
    EXPECT_TRUE(ChiSquare::fits(directions("SRF_WireDiffuse", new SRF_WireDiffuse(vectors({unit(1, 2, 2)})), z, z,
                                           ChiSquare::frameAbout(z), uniformSphere)));
    // D = n, so that no sample is folded: cos^e about D.
    EXPECT_TRUE(ChiSquare::fits(phongSampler(4.0)));

    // Cosine-weighted within the cone: (D.v) / (pi sin^2 alpha) where
    // D.v > cos(alpha). cos(alpha) = 51/101 puts the rim on a cell edge.
    const BX_Vector3 d = unit(-0.3f, 0.2f, 0.9f);
    const float alpha = std::acos(51.0f / 101.0f);
    const double cosAlpha = 51.0 / 101.0, sin2 = 1.0 - cosAlpha * cosAlpha;
    auto density = [d, cosAlpha, sin2](const BX_Vector3 &v)
    {
        const double c = d.dot(v);
        return c > cosAlpha ? c / (PI * sin2) : 0.0;
    };
    EXPECT_TRUE(ChiSquare::fits(directions("SRF_Cone alpha = acos(51/101)", new SRF_Cone(vectors({d}), floats({alpha})),
                                           d, d, ChiSquare::frameAbout(d), density)));
    // alpha = pi/2 about n: the cosine-weighted hemisphere.
    EXPECT_TRUE(ChiSquare::fits(directions("SRF_Cone alpha = pi/2", new SRF_Cone(vectors({d}), floats({1.5707964f})), d,
                                           d, ChiSquare::frameAbout(d), cosinePower(d, 1.0))));

    // Lafortune's diffuse branch: cosine-weighted about N' (here N = n, u
    // above).
    const BX_Vector3 nl = unit(0.5f, 0.1f, 0.8f);
    SRF_BSDF *l = new SRF_Lafortune(vectors({nl}), vectors({BX_Vector3(-1, -1, 1)}), floats({0.0f}));
    EXPECT_TRUE(ChiSquare::fits(directions("SRF_Lafortune diffuse", l, unit(0.2f, 0.3f, 0.9f), nl,
                                           ChiSquare::frameAbout(nl), cosinePower(nl, 1.0))));
}

// The same harness rejects the density of the neighbouring exponent.
TEST(Samplers, WrongDensityIsRejected)
{
    const ChiSquare::Result r = ChiSquare::run(phongSampler(5.0));
    EXPECT_FALSE(r.passed) << r.report;
    EXPECT_LT(r.pValue, r.level) << r.report;
    EXPECT_NEAR(r.mass, 1.0, ChiSquare::MASS_TOLERANCE) << r.report;
}

// The half vector H is drawn with pdf (e + 1)/(2 pi) (N.H)^e and turned
// toward u: the half vector of u and v then has the density of H plus that
// of -H on u's side. u is tilted from N so that the turn happens.
TEST(Samplers, HalfVectors)
{
    {
        const BX_Vector3 nl = unit(0.1f, -0.2f, 1.0f), u = unit(0.9f, 0.1f, 0.5f);
        auto p = cosinePower(nl, 6.0);
        auto density = [p, u](const BX_Vector3 &h) { return u.dot(h) > 0.0f ? p(h) + p(-h) : 0.0; };
        SRF_BSDF *b = new SRF_Blinn(vectors({nl}), floats({6.0f}));
        EXPECT_TRUE(ChiSquare::fits(halfVectors("SRF_Blinn", b, u, ChiSquare::frameAbout(u), density)));
    }
    // Ashikhmin's quadrant inversion draws H with pdf =
    // sqrt((e1 + 1)(e2 + 1)) / (2 pi) hz^((e1 hx^2 + e2 hy^2) / (1 - hz^2)).
    const BX_Vector3 nl = unit(0.2f, 0.1f, 1.0f), u = unit(-0.7f, 0.3f, 0.6f);
    BX_Vector3 t1, t2;
    nl.getFrameOfReference(t1, t2);
    const double e1 = 4.0, e2 = 40.0;
    auto p = [nl, t1, t2, e1, e2](const BX_Vector3 &h)
    {
        const double hz = nl.dot(h), hx = t1.dot(h), hy = t2.dot(h);
        if (!(hz > 0.0))
            return 0.0;
        const double s2 = std::max(1e-300, hx * hx + hy * hy);
        return std::sqrt((e1 + 1.0) * (e2 + 1.0)) / (2.0 * PI) * std::pow(hz, (e1 * hx * hx + e2 * hy * hy) / s2);
    };
    auto density = [p, u](const BX_Vector3 &h) { return u.dot(h) > 0.0f ? p(h) + p(-h) : 0.0; };
    EXPECT_TRUE(ChiSquare::fits(halfVectors("SRF_Ashikhmin", ashikhmin(nl, t1, t2, float(e1), float(e2)), u,
                                            ChiSquare::frameAbout(u), density)));
}

// With u perpendicular to T the sampled H is the half vector of u and v.
// The sine s of H to T has density (e + 1) s^e, each side of T half of the
// time, and the azimuth is uniform over the half turned toward u:
// pdf(H) = (e + 1)/(2 pi) (1 - t^2)^((e - 1)/2) |t| with t = T.H, where
// H.u > 0. u sits at azimuth pi/50 so that the half's edges lie on cell
// edges.
TEST(Samplers, WireBlinnHalfVector)
{
    const BX_Vector3 t = unit(0.3f, -0.4f, 0.8f);
    const ChiSquare::Frame frame = ChiSquare::frameAbout(t);
    const double phi0 = PI / 50.0, e = 6.0;
    const BX_Vector3 u = frame.x * float(std::cos(phi0)) + frame.y * float(std::sin(phi0));
    auto density = [t, u, e](const BX_Vector3 &h)
    {
        if (!(u.dot(h) > 0.0f))
            return 0.0;
        const double c = t.dot(h);
        return (e + 1.0) / (2.0 * PI) * std::pow(std::max(0.0, 1.0 - c * c), 0.5 * (e - 1.0)) * std::fabs(c);
    };
    SRF_BSDF *w = new SRF_WireBlinn(vectors({t}), floats({float(e)}));
    EXPECT_TRUE(ChiSquare::fits(halfVectors("SRF_WireBlinn", w, u, frame, density)));
}
