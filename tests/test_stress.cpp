// Concurrency stress: twice as many threads as cores, for a few seconds,
// each compiling and running the example shaders over lane arrays,
// sampling and evaluating the BSDFs they build, duplicating and destroying
// trees, sharing one tree by reference counts, and running
// "measured@BSVVV" on a few file names that every thread uses. Afterwards
// every BSDF is destroyed, every pool block is back and each file name has
// exactly one data set. Built with -fsanitize=thread it is the race test of
// the ops, the pool, the reference counts and the measured-data cache.
#include "KAL_Context.h"
#include "KAL_DataPool.h"
#include "KAL_Instance.h"
#include "KAL_ProcArray.h"
#include "KAL_RefType.h"
#include "KAL_Shader.h"
#include "KAL_ShaderLoader.h"
#include "SRF_BSDF.h"
#include "SRF_Functions.h"
#include "SRF_Measured.h"
#include "SRF_MeasuredCache.h"
#include "SRF_MeasuredData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace
{
const int STRESS_MILLISECONDS = 3000;
// Each thread goes round every shader at least this often, however slow
// the build (a sanitizer's) makes it.
const int MIN_ROUNDS = 2;
const int MAX_LANES = 48;
const int MEASURED_ROWS = 40;
const char *const EXAMPLES[] = {"diffuse", "plastic", "metal", "hair", "emitter"};
const int EXAMPLE_COUNT = 5;
const int MEASURED_FILES = 3; // plus one name whose file does not exist

const BX_Vector3 NORMAL(0.0f, 0.0f, 1.0f);
const BX_Vector3 DPDS(1.0f, 0.0f, 0.0f);
const BX_Vector3 DPDT(0.0f, 1.0f, 0.0f);
// The fixed pair every evaluation is checked at.
const BX_Vector3 FIXED_U(0.6f, 0.0f, 0.8f);
const BX_Vector3 FIXED_V(-0.48f, 0.36f, 0.8f);

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string workPath(const std::string &name) { return std::string(SRF_BINARY_TEST_DIR) + "/stress_" + name; }

// A measurement file of a smooth glossy material; `tint` tells the files
// apart.
void writeMeasurements(const std::string &path, float tint)
{
    FILE *file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr) << path;
    std::fprintf(file, "SAMPLE_NAME stress\nNUM_POINTS %d\nVARS theta_i,phi_i,theta_s,phi_s,R,G,B\n\n", MEASURED_ROWS);
    for (int i = 0; i < MEASURED_ROWS; ++i)
    {
        const float thetaI = 0.1f + 1.2f * float(i % 8) / 8.0f;
        const float thetaS = 0.05f + 1.3f * float(i / 8) / 5.0f;
        const float phiS = 3.0f - 0.4f * float(i % 5);
        const float lobe = 0.2f + 0.6f * std::exp(-std::fabs(thetaI - thetaS) * 3.0f);
        std::fprintf(file, "%f,0,%f,%f,%f,%f,%f\n", thetaI, thetaS, phiS, tint * lobe, 0.5f * lobe, 0.25f * lobe);
    }
    std::fclose(file);
}

bool sameBits(const BX_Vector3 &a, const BX_Vector3 &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool finite(const BX_Vector3 &v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

struct Shader
{
    std::string name;
    std::string text;
    int measured;      // index of the file name it names, or -1
    BX_Vector3 colour; // the value at the fixed pair, from a run on one thread
    float scalar = 0.0f;
};

// What one thread saw.
struct Report
{
    int rounds = 0;
    std::vector<std::string> errors;
    std::vector<const SRF_MeasuredData *> dataSets;

    void error(const std::string &what)
    {
        if (errors.size() < 5)
            errors.push_back(what);
    }
};

class Stress : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SRF_Functions::installFunctions(context);
        for (const char *example : EXAMPLES)
        {
            const std::string path = std::string(SRF_SOURCE_DIR) + "/examples/" + example + ".kal";
            shaders.push_back({example, readFile(path), -1, BX_Vector3(), 0.0f});
            ASSERT_FALSE(shaders.back().text.empty()) << path;
        }
        for (int f = 0; f <= MEASURED_FILES; ++f)
        {
            const std::string path = workPath("measured_" + std::to_string(f) + ".astm");
            names.push_back(path);
            std::remove(path.c_str());
            if (f < MEASURED_FILES)
                writeMeasurements(path, 0.3f + 0.2f * float(f));
            shaders.push_back({"measured " + std::to_string(f),
                               "string name = \"" + path + "\"\nmeasured@BSVVV F name N dPds dPdt\n", f, BX_Vector3(),
                               0.0f});
        }
    }
    void TearDown() override
    {
        for (const std::string &path : names)
            std::remove(path.c_str());
    }

    // Compiles and runs a shader over `count` lanes, the first running; null
    // with the message in error when it does not compile.
    std::unique_ptr<KAL_Instance> run(const Shader &shader, KAL_ProcArray &lanes, std::string &error)
    {
        std::unique_ptr<KAL_Shader> compiled =
            KAL_ShaderLoader::compileText(context, shader.text, shader.name.c_str(), error);
        if (!compiled)
            return nullptr;
        std::unique_ptr<KAL_Instance> instance(compiled->createInstance());
        if (!instance)
        {
            error = shader.name + ": no instance";
            return nullptr;
        }
        instance->fillVector("N", NORMAL);
        instance->fillVector("dPds", DPDS);
        instance->fillVector("dPdt", DPDT);
        instance->run(lanes);
        return instance;
    }

    void work(int thread, Report &report, std::chrono::steady_clock::time_point deadline)
    {
        std::mt19937 random(1000u + unsigned(thread));
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        report.dataSets.assign(names.size(), nullptr);
        for (int round = 0; round < MIN_ROUNDS || std::chrono::steady_clock::now() < deadline; ++round)
        {
            for (size_t s = 0; s < shaders.size(); ++s)
            {
                const Shader &shader = shaders[(s + thread) % shaders.size()];
                KAL_ProcArray lanes(1 + int(random() % MAX_LANES));
                for (int lane = 1; lane < lanes.getCount(); ++lane)
                    if (random() % 4 == 0)
                        lanes.setState(lane, 1);
                std::string error;
                std::unique_ptr<KAL_Instance> instance = run(shader, lanes, error);
                if (!instance)
                {
                    report.error(error);
                    continue;
                }
                const SRF_BSDF *bsdf = static_cast<const SRF_BSDF *>(instance->getRef("F"));
                if (!bsdf)
                {
                    report.error(shader.name + ": F is null");
                    continue;
                }
                if (shader.measured >= 0)
                {
                    const SRF_Measured *lobe = dynamic_cast<const SRF_Measured *>(bsdf);
                    if (!lobe)
                        report.error(shader.name + ": F is not a measured lobe");
                    else if (!report.dataSets[shader.measured])
                        report.dataSets[shader.measured] = lobe->getData();
                    else if (report.dataSets[shader.measured] != lobe->getData())
                        report.error(shader.name + ": two data sets for one name");
                }
                check(shader, *bsdf, lanes, random, unit, report);

                // Share the tree for a moment, as a renderer hands a BSDF to
                // another thread, and drop it in another order.
                bsdf->addRefCount();
                instance.reset();
                if (bsdf->getRefCount() != 1)
                    report.error(shader.name + ": the instance kept a reference");
                bsdf->decRefCount();
            }
            // The tree every thread holds at once.
            shared->addRefCount();
            BX_Vector3 colour;
            float scalar = 0.0f;
            shared->evaluate(FIXED_U, NORMAL, FIXED_V, colour, scalar, 0, SRF_BOUNCE_ALL);
            if (!sameBits(colour, sharedColour))
                report.error("the shared tree evaluates differently");
            shared->decRefCount();
            report.rounds = round + 1;
        }
    }

    // Every running lane evaluates to the one-thread value at the fixed
    // pair; samples are finite; a duplicate evaluates as its original.
    void check(const Shader &shader, const SRF_BSDF &bsdf, const KAL_ProcArray &lanes, std::mt19937 &random,
               std::uniform_real_distribution<float> &unit, Report &report)
    {
        SRF_BSDF *copy = bsdf.duplicate(lanes.getCount());
        if (!copy)
            report.error(shader.name + ": duplicate gave null");
        // A measured lobe's value depends on the fit: every lane must agree
        // with lane 0 (all lanes have the same normal).
        BX_Vector3 want = shader.colour;
        float wantScalar = shader.scalar;
        if (shader.measured >= 0)
            bsdf.evaluate(FIXED_U, NORMAL, FIXED_V, want, wantScalar, 0, SRF_BOUNCE_ALL);
        for (int lane = 0; lane < lanes.getCount(); ++lane)
        {
            if (!lanes.isRunning(lane))
                continue;
            BX_Vector3 colour;
            float scalar = 0.0f;
            bsdf.evaluate(FIXED_U, NORMAL, FIXED_V, colour, scalar, lane, SRF_BOUNCE_ALL);
            if (!sameBits(colour, want) || std::memcmp(&scalar, &wantScalar, sizeof scalar) != 0)
                report.error(shader.name + ": lane " + std::to_string(lane) + " evaluates differently");
            if (copy)
            {
                BX_Vector3 other;
                float otherScalar = 0.0f;
                copy->evaluate(FIXED_U, NORMAL, FIXED_V, other, otherScalar, lane, SRF_BOUNCE_ALL);
                if (!sameBits(other, colour))
                    report.error(shader.name + ": the duplicate evaluates differently");
            }
            BX_Vector3 v, weight;
            int bounce = 0;
            bsdf.sample(FIXED_U, NORMAL, v, weight, scalar, bounce, unit(random), unit(random), lane, SRF_BOUNCE_ALL);
            if (!finite(v) || !finite(weight) || !std::isfinite(scalar))
                report.error(shader.name + ": a sample is not finite");
            bsdf.albedo(FIXED_U, NORMAL, lane, SRF_BOUNCE_ALL);
            bsdf.specularRatio(lane, SRF_BOUNCE_ALL);
            bsdf.emission(weight, lane);
        }
        if (copy)
            copy->decRefCount();
    }

    KAL_Context context;
    std::vector<Shader> shaders;
    std::vector<std::string> names;
    SRF_BSDF *shared = nullptr;
    BX_Vector3 sharedColour;
};

TEST_F(Stress, ThreadsShareOpsPoolCountsAndCache)
{
    const long blocksBefore = KAL_DataPool::getDataPool().blocksOut();
    const long objectsBefore = KAL_RefType::liveObjects();
    SRF_MeasuredCache &cache = SRF_MeasuredCache::instance();
    const int entriesBefore = cache.entries();

    // Reference values, from runs on this thread alone. The measured
    // shaders are left to the threads, so that they race to create the
    // data sets.
    for (Shader &shader : shaders)
    {
        if (shader.measured >= 0)
            continue;
        KAL_ProcArray lanes(1);
        std::string error;
        std::unique_ptr<KAL_Instance> instance = run(shader, lanes, error);
        ASSERT_TRUE(instance) << error;
        const SRF_BSDF *bsdf = static_cast<const SRF_BSDF *>(instance->getRef("F"));
        ASSERT_NE(bsdf, nullptr) << shader.name;
        bsdf->evaluate(FIXED_U, NORMAL, FIXED_V, shader.colour, shader.scalar, 0, SRF_BOUNCE_ALL);
        if (shader.name == "plastic")
        {
            shared = const_cast<SRF_BSDF *>(bsdf);
            shared->addRefCount();
            sharedColour = shader.colour;
        }
    }
    ASSERT_NE(shared, nullptr);
    EXPECT_GT(sharedColour.x, 0.0f);
    EXPECT_EQ(cache.entries(), entriesBefore);

    const int threadCount = 2 * int(std::max(2u, std::thread::hardware_concurrency()));
    std::vector<Report> reports(threadCount);
    std::atomic<int> ready(0);
    std::atomic<bool> go(false);
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t)
        threads.emplace_back(
            [&, t]()
            {
                ++ready;
                while (!go.load())
                    std::this_thread::yield();
                work(t, reports[t], std::chrono::steady_clock::now() + std::chrono::milliseconds(STRESS_MILLISECONDS));
            });
    while (ready.load() < threadCount)
        std::this_thread::yield();
    go = true;
    for (std::thread &t : threads)
        t.join();
    shared->decRefCount();

    for (int t = 0; t < threadCount; ++t)
    {
        EXPECT_GE(reports[t].rounds, MIN_ROUNDS) << "thread " << t;
        for (const std::string &e : reports[t].errors)
            ADD_FAILURE() << "thread " << t << ": " << e;
    }

    // Exactly one data set per name, the one every thread saw.
    EXPECT_EQ(cache.entries(), entriesBefore + int(names.size()));
    for (size_t f = 0; f < names.size(); ++f)
    {
        const SRF_MeasuredData *data = cache.find(names[f].c_str());
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(data->getPointCount(), int(f) < MEASURED_FILES ? MEASURED_ROWS : 0) << names[f];
        for (int t = 0; t < threadCount; ++t)
            EXPECT_EQ(reports[t].dataSets[f], data) << "thread " << t << ", " << names[f];
    }
    EXPECT_EQ(cache.entries(), entriesBefore + int(names.size()));

    EXPECT_EQ(KAL_DataPool::getDataPool().blocksOut(), blocksBefore);
    EXPECT_EQ(KAL_RefType::liveObjects(), objectsBefore);
}
} // namespace
