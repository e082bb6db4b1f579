// What every benchmark of srf_bench shares: a figure is never printed
// alone but beside a reference measured in the same run, so that their
// ratio holds on a loaded machine.
//
// comparePair runs the measured code and its reference alternately, one
// batch each per benchmark iteration (the order flipped every iteration),
// and keeps the fastest batch of each: the batch least disturbed by other
// processes. The figures go to the benchmark's counters and to the summary
// table that srf_bench prints when every benchmark has run.
#ifndef SRF_BENCH_PAIR_H
#define SRF_BENCH_PAIR_H

#include <benchmark/benchmark.h>

#include <chrono>
#include <limits>
#include <string>

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

// Nanoseconds taken by one call of f.
template <class F> double timeOnce(F &&f)
{
    const auto start = std::chrono::steady_clock::now();
    f();
    const auto stop = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::nano>(stop - start).count();
}

// Times `measured` and `reference` (each a batch of `items` items) against
// each other, fastest batch of each, and reports ns per item and the ratio
// measured / reference with its aim (0 for none).
template <class Measured, class Reference>
void comparePair(benchmark::State &state, const char *group, const std::string &figure, const char *referenceName,
                 double items, double aim, Measured &&measured, Reference &&reference)
{
    double bestMeasured = std::numeric_limits<double>::infinity();
    double bestReference = bestMeasured;
    bool referenceFirst = false;
    for (auto _ : state)
    {
        double m, r;
        if (referenceFirst)
        {
            r = timeOnce(reference);
            m = timeOnce(measured);
        }
        else
        {
            m = timeOnce(measured);
            r = timeOnce(reference);
        }
        referenceFirst = !referenceFirst;
        if (m < bestMeasured)
            bestMeasured = m;
        if (r < bestReference)
            bestReference = r;
    }
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
