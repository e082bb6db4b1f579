// Concurrency stress: twice as many threads as cores, for a few seconds,
// each compiling and running the example shaders over lane arrays, checking
// their BSDFs lane by lane against a one-thread run, duplicating, sharing
// and dropping trees, and running "measured@BSVVV" on file names that every
// thread uses. Afterwards every BSDF is destroyed, every pool block is back
// and each name has exactly one data set. Built with -fsanitize=thread it
// is the race test of the ops, the pool, the reference counts and the
// measured-data cache.
#include "KAL_DataPool.h"
#include "Program.h"
#include "SRF_Measured.h"
#include "SRF_MeasuredCache.h"
#include "SRF_MeasuredData.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

namespace
{
const int STRESS_MILLISECONDS = 3000, MIN_ROUNDS = 2, MAX_LANES = 48, MEASURED_FILES = 3;
const BX_Vector3 NORMAL(0, 0, 1), FIXED_U(0.6f, 0, 0.8f), FIXED_V(-0.48f, 0.36f, 0.8f);

struct Shader
{
    std::string name, text;
    int measured;      // the file name it uses, or -1
    BX_Vector3 colour; // its value at the fixed pair, from a run on one thread
};

// Compiles and runs a shader over the lanes with a fixed frame.
std::unique_ptr<Program> run(const Shader &shader, KAL_ProcArray &lanes)
{
    auto p = std::make_unique<Program>(shader.text);
    if (!p->ok())
        return p;
    (*p)->fillVector("N", NORMAL);
    (*p)->fillVector("dPds", BX_Vector3(1, 0, 0));
    (*p)->fillVector("dPdt", BX_Vector3(0, 1, 0));
    (*p)->run(lanes);
    return p;
}

BX_Vector3 valueAt(const SRF_BSDF &b, int lane)
{
    BX_Vector3 colour;
    float scalar = 0.0f;
    b.evaluate(FIXED_U, NORMAL, FIXED_V, colour, scalar, lane, SRF_BOUNCE_ALL);
    return colour;
}
bool same(const BX_Vector3 &a, const BX_Vector3 &b) { return std::memcmp(&a, &b, sizeof a) == 0; }
} // namespace

TEST(Stress, ThreadsShareOpsPoolCountsAndCache)
{
    const long blocks = KAL_DataPool::getDataPool().blocksOut(), objects = KAL_RefType::liveObjects();
    SRF_MeasuredCache &cache = SRF_MeasuredCache::instance();
    const int entries = cache.entries();
    std::vector<Shader> shaders;
    std::vector<std::string> names;
    for (const char *example : {"diffuse", "plastic", "metal", "hair", "emitter"})
    {
        std::ifstream in(std::string(SRF_SOURCE_DIR) + "/examples/" + example + ".kal");
        std::ostringstream text;
        text << in.rdbuf();
        shaders.push_back({example, text.str(), -1, BX_Vector3()});
    }
    // Glossy measurement files told apart by a tint, and a name without a
    // file; the threads race to create their data sets.
    for (int f = 0; f <= MEASURED_FILES; ++f)
    {
        names.push_back(std::string(SRF_BINARY_TEST_DIR) + "/stress_" + std::to_string(f) + ".astm");
        std::remove(names.back().c_str());
        if (f < MEASURED_FILES)
        {
            FILE *file = std::fopen(names.back().c_str(), "w");
            std::fprintf(file, "NUM_POINTS 40\nVARS theta_i,phi_i,theta_s,phi_s,R,G,B\n\n");
            for (int i = 0; i < 40; ++i)
            {
                const float ti = 0.1f + 0.15f * float(i % 8), ts = 0.05f + 0.26f * float(i / 8);
                const float lobe = 0.2f + 0.6f * std::exp(-3.0f * std::fabs(ti - ts));
                std::fprintf(file, "%f,0,%f,%f,%f,%f,%f\n", ti, ts, 3.0f - 0.4f * float(i % 5),
                             (0.3f + 0.2f * f) * lobe, 0.5f * lobe, 0.25f * lobe);
            }
            std::fclose(file);
        }
        shaders.push_back({"measured", "measured@BSVVV F \"" + names.back() + "\" N dPds dPdt\n", f, BX_Vector3()});
    }
    SRF_BSDF *shared = nullptr;
    std::vector<std::unique_ptr<Program>> references;
    for (Shader &shader : shaders)
        if (shader.measured < 0)
        {
            KAL_ProcArray one(1);
            references.push_back(run(shader, one));
            ASSERT_TRUE(references.back()->ok() && references.back()->bsdf("F")) << shader.name;
            shader.colour = valueAt(*references.back()->bsdf("F"), 0);
            if (shader.name == "plastic")
                (shared = references.back()->bsdf("F"))->addRefCount();
        }
    references.clear();
    const BX_Vector3 sharedColour = valueAt(*shared, 0);
    EXPECT_GT(sharedColour.x, 0.0f);

    const int threadCount = 2 * int(std::max(2u, std::thread::hardware_concurrency()));
    std::vector<std::vector<std::string>> errors(threadCount);
    std::vector<std::vector<const SRF_MeasuredData *>> seen(threadCount, {names.size(), nullptr});
    std::vector<int> rounds(threadCount, 0);
    std::atomic<int> ready(0);
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t)
        threads.emplace_back(
            [&, t]
            {
                auto fail = [&](const std::string &what)
                {
                    if (errors[t].size() < 5)
                        errors[t].push_back(what);
                };
                std::mt19937 random(1000u + unsigned(t));
                std::uniform_real_distribution<float> r01(0.0f, 1.0f);
                for (++ready; ready.load() < threadCount;)
                    std::this_thread::yield();
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(STRESS_MILLISECONDS);
                for (int round = 0; round < MIN_ROUNDS || std::chrono::steady_clock::now() < deadline; ++round)
                {
                    for (size_t s = 0; s < shaders.size(); ++s)
                    {
                        const Shader &shader = shaders[(s + t) % shaders.size()];
                        KAL_ProcArray lanes(1 + int(random() % MAX_LANES));
                        for (int lane = 1; lane < lanes.getCount(); ++lane)
                            if (random() % 4 == 0)
                                lanes.setState(lane, 1);
                        std::unique_ptr<Program> p = run(shader, lanes);
                        SRF_BSDF *bsdf = p->ok() ? p->bsdf("F") : nullptr;
                        if (!bsdf)
                        {
                            fail(shader.name + ": no BSDF " + p->error);
                            continue;
                        }
                        BX_Vector3 want = shader.colour;
                        if (shader.measured >= 0)
                        {
                            const SRF_MeasuredData *data = static_cast<SRF_Measured *>(bsdf)->getData();
                            const SRF_MeasuredData *&first = seen[t][shader.measured];
                            if (first && first != data)
                                fail(shader.name + ": two data sets for one name");
                            first = data;
                            want = valueAt(*bsdf, 0); // every lane agrees with lane 0
                        }
                        SRF_BSDF *copy = bsdf->duplicate(lanes.getCount());
                        for (int lane = 0; lane < lanes.getCount(); ++lane)
                        {
                            if (!lanes.isRunning(lane))
                                continue;
                            if (!same(valueAt(*bsdf, lane), want) || !copy || !same(valueAt(*copy, lane), want))
                                fail(shader.name + ": lane " + std::to_string(lane) + " evaluates differently");
                            BX_Vector3 v, weight;
                            float scalar = 0.0f;
                            int bounce = 0;
                            bsdf->sample(FIXED_U, NORMAL, v, weight, scalar, bounce, r01(random), r01(random), lane,
                                         SRF_BOUNCE_ALL);
                            if (!std::isfinite(v.x + v.y + v.z + weight.x + weight.y + weight.z + scalar))
                                fail(shader.name + ": a sample is not finite");
                        }
                        if (copy)
                            copy->decRefCount();
                        // Hand the tree over, as a renderer does, and drop it
                        // in the other order.
                        bsdf->addRefCount();
                        p.reset();
                        if (bsdf->getRefCount() != 1)
                            fail(shader.name + ": the instance kept a reference");
                        bsdf->decRefCount();
                    }
                    shared->addRefCount();
                    if (!same(valueAt(*shared, 0), sharedColour))
                        fail("the shared tree evaluates differently");
                    shared->decRefCount();
                    rounds[t] = round + 1;
                }
            });
    for (std::thread &t : threads)
        t.join();
    shared->decRefCount();

    for (int t = 0; t < threadCount; ++t)
    {
        EXPECT_GE(rounds[t], MIN_ROUNDS) << "thread " << t;
        for (const std::string &e : errors[t])
            ADD_FAILURE() << "thread " << t << ": " << e;
    }
    EXPECT_EQ(cache.entries(), entries + int(names.size()));
    for (size_t f = 0; f < names.size(); ++f)
    {
        const SRF_MeasuredData *data = cache.find(names[f].c_str());
        EXPECT_EQ(data->getPointCount(), int(f) < MEASURED_FILES ? 40 : 0) << names[f];
        for (int t = 0; t < threadCount; ++t)
            EXPECT_EQ(seen[t][f], data) << "thread " << t << ", " << names[f];
        std::remove(names[f].c_str());
    }
    EXPECT_EQ(KAL_DataPool::getDataPool().blocksOut(), blocks);
    EXPECT_EQ(KAL_RefType::liveObjects(), objects);
}
