#ifndef SRF_LANELOOPS_H
#define SRF_LANELOOPS_H

// The lane loops of the batch queries: one loop per vector variant, each
// compiled with its instruction set. Internal to the library and its own
// tools (built with -ffp-contract=off, like the library): not installed.

#include "SRF_LaneBatch.h"

#include <atomic>
#include <type_traits>

// The mode in force before AUTO is resolved: the one SRFsetBatchMode set,
// or for AUTO the one SRF_BATCH names (AUTO when none). Read inline: a query
// of one lane chooses with a load, not a call.
constexpr int SRF_UNREAD_MODE = -1;
extern SRF_API std::atomic<int> SRFtheRequestedMode;
SRF_API int SRFreadRequestedMode();
inline int SRFrequestedMode()
{
    const int mode = SRFtheRequestedMode.load(std::memory_order_relaxed);
    return mode != SRF_UNREAD_MODE ? mode : SRFreadRequestedMode();
}
// Whether a query at the top over a range narrower than the narrowest vector
// that pays runs as a batch: only where the mode names a variant.
inline bool SRFsmallRangeBatches()
{
    const int mode = SRFrequestedMode();
    return mode != SRF_BATCH_AUTO && mode != SRF_BATCH_PER_LANE;
}

// Whether the mode is AUTO (set, or the default, with no other mode named
// by SRF_BATCH): only then does a query choose between batch and lane by
// lane.
SRF_API bool SRFbatchModeIsAuto();
// Whether a query over a range of `width` lanes, `running` of them
// running, runs as a batch: in AUTO mode where that beats lane by lane;
// otherwise unless the mode is PER_LANE.
SRF_API bool SRFbatchPays(int running, int width);
// The same for a batch at the top of a query (an operand's batch follows
// its composite's choice).
inline bool SRFbatchPays(const SRF_LaneBatch &batch)
{
    // A range narrower than the narrowest vector that pays is never
    // counted: its count decides nothing.
    const int width = batch.end - batch.begin;
    if (batch.depth > 0)
        return true;
    return width < 8 ? SRFsmallRangeBatches() : SRFbatchPays(batch.runningLanes(), width);
}
// The same for a lobe: in AUTO mode with AVX-512 its loop runs over the
// running lanes alone where few run (SRFpackRunningLanes), which pays from
// fewer of them than a composite's loops over the whole range.
SRF_API bool SRFlobeBatchPays(int running, int width);
// `running` is the batch's runningLanes() where the choice counted them,
// so that a query counts them once; it is left alone where it did not.
inline bool SRFlobeBatchPays(const SRF_LaneBatch &batch, int &running)
{
    const int width = batch.end - batch.begin;
    if (batch.depth > 0)
        return true;
    if (width < 8)
        return SRFsmallRangeBatches();
    running = batch.runningLanes();
    return SRFlobeBatchPays(running, width);
}

// Where few lanes of the batch's range run (for the query named by
// `sampling`: sample, or another; `running` of them), writes the running lanes, in
// order, to `lanes` (KAL_MAX_LANES of them) and answers the length of the
// list: a loop over those lanes alone then beats one over the whole range,
// which computes every lane and stores only the running ones. In the
// AVX-512 variant the list repeats its last lane up to a whole number of
// vectors. Answers -1 where enough lanes run for the whole range to be the
// cheaper loop.
SRF_API int SRFpackRunningLanes(const SRF_LaneBatch &batch, bool sampling, int running, int *lanes);

// One loop over lanes per vector variant, each compiled for its instruction
// set with everything the body calls inlined.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__)
#define SRF_LANE_VARIANTS 1
// The library is built with -fopenmp-simd (and SRF_LANE_SIMD): the loops
// are vectorised whatever the compiler's cost model or aliasing analysis
// thinks; nothing of OpenMP's runtime is used.
#ifdef SRF_LANE_SIMD
#define SRF_LANE_SIMD_LOOP _Pragma("omp simd")
#else
#define SRF_LANE_SIMD_LOOP
#endif
#define SRF_LANE_LOOP(name, ...)                                                                                       \
    template <class Body> __attribute__((__VA_ARGS__)) void name(int begin, int end, Body body)                        \
    {                                                                                                                  \
        SRF_LANE_SIMD_LOOP for (int lane = begin; lane < end; ++lane) body(lane);                                      \
    }
namespace SRF_LaneLoops
{
SRF_LANE_LOOP(avx512, target("avx512f,avx512vl,avx512bw,avx512dq"), flatten)
SRF_LANE_LOOP(avx2, target("avx2"), flatten)
SRF_LANE_LOOP(sse2, flatten)
template <class Body> __attribute__((flatten, optimize("no-tree-vectorize"))) void scalar(int begin, int end, Body body)
{
    for (int lane = begin; lane < end; ++lane)
        body(lane);
}
} // namespace SRF_LaneLoops
#undef SRF_LANE_LOOP
#endif

// SRFforLanes for a body that writes the batch's outputs: body(lane, tag),
// the tag a std::integral_constant<bool, STORE_IF_WRITTEN> (SRFstoreIf):
// true in the AVX2 and AVX-512 loops, which store masked, in the scalar
// loop and without the variants; false in the SSE2 loop, which has no
// masked store and stores an idle lane's old value back.
template <class Body> void SRFforLanesStoring(int begin, int end, Body body)
{
#ifdef SRF_LANE_VARIANTS
    const auto masked = [body](int lane) { body(lane, std::true_type()); };
    switch (SRFbatchMode())
    {
    case SRF_BATCH_AVX512:
        // A range narrower than 16 lanes would run entirely in the 16-wide
        // loop's scalar remainder: the 8-wide loop takes it (same bits).
        if (end - begin < 16)
            SRF_LaneLoops::avx2(begin, end, masked);
        else
            SRF_LaneLoops::avx512(begin, end, masked);
        return;
    case SRF_BATCH_AVX2:
        SRF_LaneLoops::avx2(begin, end, masked);
        return;
    case SRF_BATCH_SCALAR:
        SRF_LaneLoops::scalar(begin, end, masked);
        return;
    default:
        SRF_LaneLoops::sse2(begin, end, [body](int lane) { body(lane, std::false_type()); });
        return;
    }
#else
    for (int lane = begin; lane < end; ++lane)
        body(lane, std::true_type());
#endif
}

// Runs body(lane) for every lane of [begin, end) in the vector variant of the
// batch mode. body must be straight-line code (its branches selects) over
// values it copied: the loop is compiled once per variant with everything
// it calls inlined, and vectorised across lanes.
template <class Body> void SRFforLanes(int begin, int end, Body body)
{
    SRFforLanesStoring(begin, end, [body](int lane, auto) { body(lane); });
}

#endif
