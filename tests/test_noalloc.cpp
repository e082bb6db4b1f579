// Queries run on many threads in a renderer's inner loop: they must neither
// allocate nor lock. test_lobes checks each lobe on its own; this binary
// checks the composites over lobes (sum, scale, mul, switch, nested) and
// the query ops run through the executor, a million queries each. It
// replaces the global allocation functions and interposes the mutex lock
// (the libraries reach both through the dynamic linker) and counts what
// happens while the queries run.
#include "CountingAllocator.h"
#include "KAL_Context.h"
#include "KAL_Instance.h"
#include "KAL_ProcArray.h"
#include "KAL_Shader.h"
#include "KAL_ShaderLoader.h"
#include "PoolCheck.h"
#include "SRF_Blinn.h"
#include "SRF_Emission.h"
#include "SRF_Functions.h"
#include "SRF_Lafortune.h"
#include "SRF_MulBSDF.h"
#include "SRF_Phong.h"
#include "SRF_ScaleBSDF.h"
#include "SRF_SumBSDF.h"
#include "SRF_SwitchBSDF.h"
#include "SRF_WaveletBSDF.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <dlfcn.h>
#include <memory>
#include <new>
#include <pthread.h>
#include <random>
#include <string>

namespace
{
const int LANES = KAL_MAX_LANES;
const long MILLION = 1000000;

BX_Vector3 unit(float x, float y, float z)
{
    BX_Vector3 v(x, y, z);
    v.normalize();
    return v;
}

BX_Vector3 *vectorBlock(const BX_Vector3 &value)
{
    BX_Vector3 *block = SRF_BSDF::allocVector();
    for (int i = 0; i < LANES; ++i)
        block[i] = value;
    return block;
}

float *floatBlock(float value)
{
    float *block = SRF_BSDF::allocFloat();
    for (int i = 0; i < LANES; ++i)
        block[i] = value + 0.5f * float(i % 7);
    return block;
}

// sum(tint * diffuse, mul(phong, blinn)) and a switch between it, a bare
// Blinn lobe and an emitter, by lane.
SRF_BSDF *compositeTree()
{
    const BX_Vector3 up(0.0f, 0.0f, 1.0f);
    SRF_BSDF *diffuse = new SRF_Lafortune(vectorBlock(up), vectorBlock(BX_Vector3(0, 0, 1)), floatBlock(0.0f));
    SRF_BSDF *tinted = new SRF_ScaleBSDF(diffuse, vectorBlock(BX_Vector3(0.8f, 0.3f, 0.2f)));
    SRF_BSDF *phong = new SRF_Phong(vectorBlock(unit(0.2f, 0.1f, 1.0f)), floatBlock(20.0f));
    SRF_BSDF *blinn = new SRF_Blinn(vectorBlock(up), floatBlock(8.0f));
    SRF_BSDF *product = new SRF_MulBSDF(phong, blinn);
    SRF_BSDF *sum = new SRF_SumBSDF(tinted, product);

    BX_PtrArray<SRF_BSDF *> entries;
    entries.append(sum);
    entries.append(new SRF_Blinn(vectorBlock(up), floatBlock(30.0f)));
    entries.append(new SRF_ScaleBSDF(new SRF_Emission(), vectorBlock(BX_Vector3(2.0f, 2.0f, 2.0f))));
    int *index = SRF_BSDF::allocInteger();
    for (int i = 0; i < LANES; ++i)
        index[i] = i % 4; // index 3 lies outside the list: a null lane
    return new SRF_SwitchBSDF(entries, index);
}

TEST(NoAllocation, TheCountersSeeTheLibrariesAllocateAndLock)
{
    // Without this the zero counts below would prove nothing: an allocation
    // made inside libSRF and a lock taken inside libKAL are both counted.
    Counting counting;
    SRF_BSDF *tables = new SRF_WaveletBSDF(2, 2); // allocates its tables with new
    SRF_BSDF::release(SRF_BSDF::allocFloat());    // the pool locks its free list
    counting.stop();
    EXPECT_GE(theAllocations.load(), 1);
    EXPECT_GE(theLocks.load(), 1);
    tables->decRefCount();
}

TEST(NoAllocation, CompositeQueriesAMillionTimes)
{
    SRF_BSDF *tree = compositeTree();
    ASSERT_NE(tree, nullptr);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> r01(0.0f, 1.0f);
    BX_Vector3 dirs[64];
    float rnd[64];
    for (int i = 0; i < 64; ++i)
    {
        dirs[i] = unit(2.0f * r01(rng) - 1.0f, 2.0f * r01(rng) - 1.0f, 2.0f * r01(rng) - 0.8f);
        rnd[i] = r01(rng);
    }
    const BX_Vector3 n(0.0f, 0.0f, 1.0f);
    const SRF_BSDF &bsdf = *tree;
    float sink = 0.0f;
    long nonZero = 0, thrown = 0;
    Counting counting;
    try
    {
        // Each pass makes 8 queries.
        for (long i = 0; i < MILLION / 8; ++i)
        {
            const BX_Vector3 &u = dirs[i % 64], &w = dirs[(i + 11) % 64];
            const int lane = int(i % LANES), mask = int(1 + i % 15);
            BX_Vector3 v, colour, emitted;
            float scalar = 0.0f;
            int bounce = 0;
            bsdf.sample(u, n, v, colour, scalar, bounce, rnd[i % 64], rnd[(i + 5) % 64], lane, mask);
            nonZero += colour.x > 0.0f;
            bsdf.sample(u, n, v, colour, scalar, bounce, rnd[(i + 3) % 64], rnd[(i + 9) % 64], lane);
            bsdf.evaluate(u, n, w, colour, scalar, lane, mask);
            nonZero += colour.x > 0.0f;
            bsdf.evaluate(u, n, w, colour, scalar, lane);
            bsdf.emission(emitted, lane);
            sink += colour.x + scalar + emitted.x + bsdf.albedo(u, n, lane, mask) + bsdf.specularRatio(lane, mask) +
                    float(bsdf.getBounces(lane));
        }
    }
    catch (...)
    {
        ++thrown;
    }
    counting.stop();
    EXPECT_EQ(theAllocations.load(), 0);
    EXPECT_EQ(theLocks.load(), 0);
    EXPECT_EQ(thrown, 0);
    // The queries did real work: many samples and values were not zero.
    EXPECT_GT(nonZero, MILLION / 20);
    EXPECT_TRUE(std::isfinite(sink));
    tree->decRefCount();
}

// Every query op over the plastic example's tree, through the executor.
const char *const QUERIES = "varying vector u\nvarying vector v\nvarying float sx\nvarying float sy\n"
                            "varying vector dir\nvarying vector col\nvarying int bt\nvarying vector ev\n"
                            "varying vector alb\nvarying vector em\nvarying float ratio\nvarying int types\n"
                            "varying int count\n"
                            "sample_bsdf@BVVVVIFFI F u N dir col bt sx sy 7\n"
                            "eval_bsdf@VBVVVI ev F u N v 7\n"
                            "albedo@VBVVI alb F u N 15\n"
                            "emission_bsdf@VB em F\n"
                            "specularratio_bsdf@FBI ratio F 7\n"
                            "getbounces@IB types F\n"
                            "nbouncetypes@I count\n";

TEST(NoAllocation, QueryOpsThroughTheExecutorAMillionLanes)
{
    KAL_Context context;
    SRF_Functions::installFunctions(context);
    std::string error;
    const std::string path = std::string(SRF_SOURCE_DIR) + "/examples/plastic.kal";
    std::unique_ptr<KAL_Shader> plastic = KAL_ShaderLoader::load(context, path.c_str(), error);
    ASSERT_TRUE(plastic) << error;
    std::unique_ptr<KAL_Shader> queries = KAL_ShaderLoader::compileText(context, QUERIES, "queries", error);
    ASSERT_TRUE(queries) << error;
    std::unique_ptr<KAL_Instance> builder(plastic->createInstance());
    std::unique_ptr<KAL_Instance> query(queries->createInstance());

    std::mt19937 rng(5);
    std::uniform_real_distribution<float> r01(0.0f, 1.0f);
    for (int i = 0; i < LANES; ++i)
    {
        const BX_Vector3 n = unit(0.2f * r01(rng) - 0.1f, 0.2f * r01(rng) - 0.1f, 1.0f);
        builder->setVector("N", i, n);
        query->setVector("N", i, n);
        query->setVector("u", i, unit(2.0f * r01(rng) - 1.0f, 2.0f * r01(rng) - 1.0f, r01(rng) + 0.05f));
        query->setVector("v", i, unit(2.0f * r01(rng) - 1.0f, 2.0f * r01(rng) - 1.0f, r01(rng) + 0.05f));
        query->setFloat("sx", i, r01(rng));
        query->setFloat("sy", i, r01(rng));
    }
    KAL_ProcArray all(LANES);
    builder->run(all);
    ASSERT_NE(builder->getRef("F"), nullptr);
    ASSERT_TRUE(query->setRef("F", builder->getRef("F")));

    // Every fourth lane stopped, as a renderer's finished paths are.
    KAL_ProcArray lanes(LANES);
    for (int i = 3; i < LANES; i += 4)
        lanes.setState(i, 1);
    const int running = lanes.runningCount();
    const long runs = MILLION / running + 1;
    long instructions = 0;
    Counting counting;
    for (long r = 0; r < runs; ++r)
        instructions += query->run(lanes);
    counting.stop();
    EXPECT_EQ(theAllocations.load(), 0);
    EXPECT_EQ(theLocks.load(), 0);
    EXPECT_EQ(instructions, runs * 7);
    EXPECT_GE(runs * running, MILLION);

    // The ops wrote their outputs: a drawn direction, a value and the three
    // scattering types on a running lane, nothing on a stopped one.
    BX_Vector3 dir, alb;
    int types = 0, count = 0;
    ASSERT_TRUE(query->getVector("dir", 0, dir));
    ASSERT_TRUE(query->getVector("alb", 0, alb));
    ASSERT_TRUE(query->getInt("types", 0, types));
    ASSERT_TRUE(query->getInt("count", 0, count));
    EXPECT_NEAR(dir.length(), 1.0f, 1e-4f);
    EXPECT_GT(alb.x, 0.0f);
    EXPECT_EQ(types, SRF_BOUNCE_DIFFUSE | SRF_BOUNCE_GLOSSY);
    EXPECT_EQ(count, 3);
    ASSERT_TRUE(query->getVector("dir", 3, dir));
    EXPECT_EQ(dir.length(), 0.0f);
}
} // namespace
