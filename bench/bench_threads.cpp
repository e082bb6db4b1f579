// Sampling throughput on 1 and 2 threads over one shared BSDF tree (the
// plastic example's). Queries write only their outputs, so a second thread
// should double the throughput; the reference is the same scaling, measured
// in the same run, of the Phong sampling formula written inline on data
// private to each thread, which shows how much of a second core the machine
// gives right now.
#include "bench_pair.h"
#include "bench_plastic.h"

#include "BX_PolarSample.h"
#include "SRF_BSDF.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace
{
using bench::LANES;
const int MASK = SRF_BOUNCE_SCATTER;
const int BATCHES_PER_THREAD = 2000;
const int ROUNDS = 12;
const double SCALING_AIM = 0.9;    // of the reference's scaling
const double CPU_GROWTH_AIM = 1.1; // of the reference's growth

// Each thread's outputs on their own cache lines.
struct alignas(64) Outputs
{
    BX_Vector3 dir[LANES], colour[LANES];
    int bounce[LANES];
    float sink = 0.0f;
};

// One run of `work(thread)` on `threads` threads at once: the wall time in
// ns from the moment every thread is ready until the last one finishes, and
// the CPU time all the threads spent in their work.
struct Timing
{
    double wall;
    double cpu;
};

template <class Work> Timing runThreads(int threads, Work work)
{
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<double> cpu(std::size_t(threads), 0.0);
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back(
            [&, t]
            {
                ready.fetch_add(1);
                while (!go.load(std::memory_order_acquire))
                    std::this_thread::yield();
                cpu[std::size_t(t)] = bench::timeOnce([&] { work(t); });
            });
    while (ready.load() < threads)
        std::this_thread::yield();
    const double wall = bench::wallTimeOnce(
        [&]
        {
            go.store(true, std::memory_order_release);
            for (std::thread &thread : pool)
                thread.join();
        });
    double total = 0.0;
    for (double c : cpu)
        total += c;
    return Timing{wall, total};
}

// The Phong lobe's sampling formula about u with exponent 40, inline.
void referenceSample(const BX_Vector3 &d, const BX_Vector3 &n, float sx, float sy, BX_Vector3 &v, BX_Vector3 &colour)
{
    float x, y;
    BX_PolarSample::computeDisk2(sx, sy, x, y);
    const float r2 = x * x + y * y;
    const float r = std::sqrt(r2);
    colour = BX_Vector3(r2, r2, r2);
    float s = r;
    if (r > 0.0001f)
    {
        x /= r;
        y /= r;
        s = std::sin(std::acos(std::clamp(std::pow(r2, 1.0f / 41.0f), -1.0f, 1.0f)));
        x *= s;
        y *= s;
    }
    BX_Vector3 f1, f2;
    d.getFrameOfReference(f1, f2);
    v = (f1 * x + f2 * y) + d * std::sqrt(1.0f - s * s);
    if ((d.dot(n) > 0.0f) != (v.dot(n) > 0.0f))
        v -= n * (2.0f * v.dot(n));
}

void SamplingThreads(benchmark::State &state)
{
    bench::PlasticScene scene;
    if (!scene.ok())
    {
        state.SkipWithError(scene.error.c_str());
        return;
    }
    const SRF_BSDF *tree = scene.tree;
    const bench::QueryLanes &in = scene.in;
    std::vector<Outputs> outputs(2);

    const auto library = [&](int t)
    {
        Outputs &out = outputs[t];
        for (int b = 0; b < BATCHES_PER_THREAD; ++b)
            for (int lane = 0; lane < LANES; ++lane)
            {
                float scalar = 0.0f;
                tree->sample(in.u[lane], in.n[lane], out.dir[lane], out.colour[lane], scalar, out.bounce[lane],
                             in.sx[lane], in.sy[lane], lane, MASK);
                out.sink += scalar;
            }
    };
    const auto reference = [&](int t)
    {
        Outputs &out = outputs[t];
        for (int b = 0; b < BATCHES_PER_THREAD; ++b)
            for (int lane = 0; lane < LANES; ++lane)
            {
                referenceSample(in.u[lane], in.n[lane], in.sx[lane], in.sy[lane], out.dir[lane], out.colour[lane]);
                out.sink += out.colour[lane].x;
            }
    };

    // Samples per microsecond of wall time, the best of the rounds for each
    // case; and CPU ns per sample, the least of the rounds: a query that
    // wrote a line the other thread reads would cost more CPU time per
    // sample whenever the two threads ran at once.
    double lib1 = 0.0, lib2 = 0.0, ref1 = 0.0, ref2 = 0.0;
    double libCpu1 = 1e300, libCpu2 = 1e300, refCpu1 = 1e300, refCpu2 = 1e300;
    const double perThread = double(BATCHES_PER_THREAD) * LANES;
    const auto keep = [&](int threads, Timing t, double &throughput, double &cpuPerSample)
    {
        throughput = std::max(throughput, threads * perThread * 1000.0 / t.wall);
        cpuPerSample = std::min(cpuPerSample, t.cpu / (threads * perThread));
    };
    for (auto _ : state)
        for (int round = 0; round < ROUNDS; ++round)
        {
            keep(1, runThreads(1, library), lib1, libCpu1);
            keep(1, runThreads(1, reference), ref1, refCpu1);
            keep(2, runThreads(2, library), lib2, libCpu2);
            keep(2, runThreads(2, reference), ref2, refCpu2);
        }
    benchmark::DoNotOptimize(outputs[0].sink + outputs[1].sink);

    const double libScaling = lib2 / lib1, refScaling = ref2 / ref1;
    state.counters["lib_1t"] = lib1;
    state.counters["lib_2t"] = lib2;
    state.counters["ref_1t"] = ref1;
    state.counters["ref_2t"] = ref2;
    state.counters["scaling"] = libScaling;
    state.counters["ref_scaling"] = refScaling;
    bench::record(bench::Row{"4 threads", "plastic sample, 1 thread", lib1, ref1, "samples/us", "inline Phong formula",
                             lib1 / ref1, 0.0, false});
    bench::record(bench::Row{"4 threads", "plastic sample, 2 threads", lib2, ref2, "samples/us", "inline Phong formula",
                             lib2 / ref2, 0.0, false});
    bench::record(bench::Row{"4 threads", "2-thread / 1-thread throughput", libScaling, refScaling, "x",
                             "same scaling, inline", libScaling / refScaling, SCALING_AIM, true});
    const double libCpuGrowth = libCpu2 / libCpu1, refCpuGrowth = refCpu2 / refCpu1;
    state.counters["cpu_growth"] = libCpuGrowth;
    bench::record(bench::Row{"4 threads", "CPU per sample, 2 threads / 1 thread", libCpuGrowth, refCpuGrowth, "x",
                             "same growth, inline", libCpuGrowth / refCpuGrowth, CPU_GROWTH_AIM, false});
}
BENCHMARK(SamplingThreads)->Iterations(1)->UseRealTime();
} // namespace
