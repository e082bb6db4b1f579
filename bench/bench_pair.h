// What every benchmark of srf_bench shares: a figure is never printed
// alone but beside a reference measured in the same run, so that their
// ratio holds on a loaded machine.
//
// comparePair runs the measured code and its reference alternately, one
// batch each per benchmark iteration (the order flipped every iteration),
// and keeps a low percentile (the 10th) of each: nearly the fastest batch,
// but not a lone reading that an accident of the clock made short. Batches are timed in the CPU time of
// the running thread, so that time given to other processes while a batch
// runs is not counted; the fast batches are the ones least disturbed by
// their use of the caches. The figures go to the benchmark's counters and to
// the summary table that srf_bench prints when every benchmark has run.
#ifndef SRF_BENCH_PAIR_H
#define SRF_BENCH_PAIR_H

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace bench
{
// One row of the summary: a figure, its reference and their ratio.
struct Row
{
    std::string group;         // "1 lobes", "2 ops", ...
    std::string figure;        // what was measured
    double value;              // the figure, in `unit`
    double reference;          // the reference, in `unit`
    std::string unit;          // "ns/call", "MB/s", ...
    std::string referenceName; // what the reference is
    double ratio;              // value / reference, or as the benchmark defines it
    double aim;                // the ratio aimed at; 0 when there is none
    bool aimIsMinimum;         // true when the ratio should be at least `aim`
};

// Records a row; a later row with the same group and figure replaces it
// (google benchmark may run a function more than once).
void record(const Row &row);

// Prints every recorded row as a table on standard output.
void printSummary();

// `count` floats uniform in [0, 1), the same for the same seed.
inline std::vector<float> randomValues(std::size_t count, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
    std::vector<float> values(count);
    for (float &x : values)
        x = uniform(rng);
    return values;
}

// Wall-clock nanoseconds taken by one call of f.
template <class F> double wallTimeOnce(F &&f)
{
    const auto start = std::chrono::steady_clock::now();
    f();
    const auto stop = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::nano>(stop - start).count();
}

// The CPU time the calling thread has used, in nanoseconds.
inline double threadCpuNs()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e9 + double(ts.tv_nsec);
}

// What reading the thread's CPU clock twice costs, measured once: it is
// taken off every timing so that short batches are not pulled toward equal.
double clockOverheadNs();

// CPU nanoseconds the calling thread spends in one call of f.
template <class F> double timeOnce(F &&f)
{
    const double start = threadCpuNs();
    f();
    const double stop = threadCpuNs();
    return stop - start - clockOverheadNs();
}

// The 10th percentile of a set of timings (0 for none).
inline double lowPercentile(std::vector<double> &times)
{
    if (times.empty())
        return 0.0;
    const std::size_t k = times.size() / 10;
    std::nth_element(times.begin(), times.begin() + std::ptrdiff_t(k), times.end());
    return times[k];
}

// Times `measured` and `reference` (each a batch of `items` items) against
// each other, the 10th percentile of each, and reports ns per item and the ratio
// measured / reference with its aim (0 for none).
template <class Measured, class Reference>
void comparePair(benchmark::State &state, const char *group, const std::string &figure, const char *referenceName,
                 double items, double aim, Measured &&measured, Reference &&reference)
{
    std::vector<double> measuredTimes, referenceTimes;
    bool referenceFirst = false;
    for (auto _ : state)
    {
        if (referenceFirst)
        {
            referenceTimes.push_back(timeOnce(reference));
            measuredTimes.push_back(timeOnce(measured));
        }
        else
        {
            measuredTimes.push_back(timeOnce(measured));
            referenceTimes.push_back(timeOnce(reference));
        }
        referenceFirst = !referenceFirst;
    }
    const double bestMeasured = lowPercentile(measuredTimes);
    const double bestReference = lowPercentile(referenceTimes);
    const double perItem = bestMeasured / items;
    const double referencePerItem = bestReference / items;
    const double ratio = perItem / referencePerItem;
    state.counters["ns"] = perItem;
    state.counters["ref_ns"] = referencePerItem;
    state.counters["ratio"] = ratio;
    if (aim > 0.0)
        state.counters["aim"] = aim;
    record(Row{group, figure, perItem, referencePerItem, "ns/item", referenceName, ratio, aim, false});
}
} // namespace bench

#endif
