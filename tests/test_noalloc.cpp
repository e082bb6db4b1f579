// Queries run on many threads in a renderer's inner loop: they must neither
// allocate nor lock nor throw. This binary replaces the global allocation
// functions and interposes the mutex lock (the libraries reach both through
// the dynamic linker) and counts what happens while every class of the
// registry, and the query ops through the executor, answer a million
// queries.
#include "CountingAllocator.h"
#include "Program.h"
#include "Registry.h"
#include "SRF_WaveletBSDF.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <random>

TEST(NoAllocation, EveryClassAndEveryQueryOpAMillionTimes)
{
    // Without this the zero counts below would prove nothing: an allocation
    // made inside libSRF and a lock taken inside libKAL are both counted.
    {
        Counting counting;
        SRF_BSDF *tables = new SRF_WaveletBSDF(2, 2);
        SRF_BSDF::release(SRF_BSDF::allocFloat());
        counting.stop();
        EXPECT_TRUE(theAllocations.load() >= 1 && theLocks.load() >= 1);
        tables->decRefCount();
    }

    std::mt19937 rng(3);
    std::uniform_real_distribution<float> r01(0.0f, 1.0f);
    BX_Vector3 dirs[64];
    float rnd[64];
    for (int i = 0; i < 64; ++i)
        dirs[i] = TestUtil::randomUnit(rng), rnd[i] = r01(rng);
    for (const Registry::Class &c : Registry::all())
    {
        Registry::Maker maker(Registry::varied);
        auto bsdf = TestUtil::hold(c.make(maker));
        float sink = 0.0f;
        long thrown = 0;
        Counting counting;
        try
        {
            for (long i = 0; i < 1000000 / 6 / 16; ++i) // six queries a pass, sixteen classes
            {
                const BX_Vector3 &u = dirs[i % 64], &n = dirs[(i + 7) % 64], &w = dirs[(i + 19) % 64];
                const int lane = int(i % 8), mask = int(i % 16);
                BX_Vector3 v, colour;
                float scalar = 0.0f;
                int bounce = 0;
                bsdf->sample(u, n, v, colour, scalar, bounce, rnd[i % 64], rnd[(i + 3) % 64], lane);
                bsdf->sample(u, n, v, colour, scalar, bounce, rnd[i % 64], rnd[(i + 5) % 64], lane, mask);
                bsdf->evaluate(u, n, w, colour, scalar, lane, mask);
                bsdf->emission(v, lane);
                sink += colour.x + scalar + v.x + bsdf->albedo(u, n, lane, mask) + bsdf->specularRatio(lane, mask) +
                        float(bsdf->getBounces(lane));
            }
        }
        catch (...)
        {
            ++thrown;
        }
        counting.stop();
        EXPECT_TRUE(theAllocations.load() == 0 && theLocks.load() == 0 && thrown == 0) << c.name;
        EXPECT_FALSE(sink == 12345.0f); // keeps the loop
    }

    // Every query op over the plastic example's tree, every fourth lane
    // stopped as a renderer's finished paths are.
    std::string error;
    std::unique_ptr<KAL_Shader> plastic = KAL_ShaderLoader::load(
        Program::library(), (std::string(SRF_SOURCE_DIR) + "/examples/plastic.kal").c_str(), error);
    ASSERT_TRUE(plastic) << error;
    std::unique_ptr<KAL_Instance> builder(plastic->createInstance());
    Program query("varying vector u\nvarying vector dir\nvarying vector col\nvarying int bt\nvarying vector ev\n"
                  "varying vector alb\nvarying vector em\nvarying float ratio\nvarying int types\nvarying int count\n"
                  "varying float sx\nsample_bsdf@BVVVVIFFI F u N dir col bt sx 0.5 7\neval_bsdf@VBVVVI ev F u N u 7\n"
                  "albedo@VBVVI alb F u N 15\nemission_bsdf@VB em F\nspecularratio_bsdf@FBI ratio F 7\n"
                  "getbounces@IB types F\nnbouncetypes@I count\n");
    ASSERT_TRUE(query.ok()) << query.error;
    for (int i = 0; i < KAL_MAX_LANES; ++i)
    {
        builder->setVector("N", i, TestUtil::unit(0.1f * r01(rng), 0.1f * r01(rng), 1.0f));
        query->setVector("N", i, BX_Vector3(0, 0, 1));
        query->setVector("u", i, TestUtil::unit(2.0f * r01(rng) - 1.0f, 2.0f * r01(rng) - 1.0f, r01(rng) + 0.05f));
        query->setFloat("sx", i, r01(rng));
    }
    KAL_ProcArray all(KAL_MAX_LANES), lanes(KAL_MAX_LANES);
    builder->run(all);
    ASSERT_TRUE(query->setRef("F", builder->getRef("F")));
    for (int i = 3; i < KAL_MAX_LANES; i += 4)
        lanes.setState(i, 1);
    const long runs = 1000000 / lanes.runningCount() + 1;
    long instructions = 0;
    Counting counting;
    for (long r = 0; r < runs; ++r)
        instructions += query->run(lanes);
    counting.stop();
    EXPECT_TRUE(theAllocations.load() == 0 && theLocks.load() == 0);
    EXPECT_EQ(instructions, runs * 7);
    EXPECT_NEAR(query.vec("dir", 0).length(), 1.0f, 1e-4f);
    EXPECT_TRUE(query.vec("alb", 0).x > 0.0f && query.integer("types", 0) == 3 && query.integer("count", 0) == 3);
    EXPECT_EQ(query.vec("dir", 3).length(), 0.0f);
}
