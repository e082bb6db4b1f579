#include "SRF_LaneBatch.h"
#include "SRF_LaneLoops.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace
{
// The mode SRF_BATCH names in the environment, read at the first query
// (UNREAD until then): AUTO when it is unset or names no mode.
std::atomic<int> theEnvironmentMode{SRF_UNREAD_MODE};

int environmentMode()
{
    int mode = theEnvironmentMode.load(std::memory_order_relaxed);
    if (mode != SRF_UNREAD_MODE)
        return mode;
    static const struct
    {
        const char *name;
        SRF_BatchMode mode;
    } NAMES[] = {{"auto", SRF_BATCH_AUTO}, {"per-lane", SRF_BATCH_PER_LANE}, {"scalar", SRF_BATCH_SCALAR},
                 {"sse2", SRF_BATCH_SSE2}, {"avx2", SRF_BATCH_AVX2},         {"avx512", SRF_BATCH_AVX512}};
    mode = SRF_BATCH_AUTO;
    if (const char *text = std::getenv("SRF_BATCH"))
        for (const auto &entry : NAMES)
            if (std::strcmp(text, entry.name) == 0)
                mode = entry.mode;
    theEnvironmentMode.store(mode, std::memory_order_relaxed);
    return mode;
}
} // namespace

// The mode set by SRFsetBatchMode, or for AUTO the environment's; UNREAD
// until the first query or setting. A setting always stores a mode, and the
// first query stores the environment's only over UNREAD, so neither
// undoes the other.
std::atomic<int> SRFtheRequestedMode{SRF_UNREAD_MODE};

int SRFreadRequestedMode()
{
    int expected = SRF_UNREAD_MODE;
    SRFtheRequestedMode.compare_exchange_strong(expected, environmentMode(), std::memory_order_relaxed);
    return SRFtheRequestedMode.load(std::memory_order_relaxed);
}

namespace
{
SRF_BatchMode findWidest()
{
#ifdef SRF_LANE_VARIANTS
    __builtin_cpu_init();
    if (SRFbatchModeSupported(SRF_BATCH_AVX512))
        return SRF_BATCH_AVX512;
    if (SRFbatchModeSupported(SRF_BATCH_AVX2))
        return SRF_BATCH_AVX2;
#endif
    return SRF_BATCH_SSE2;
}

// The widest variant, found at the first query (AUTO until then).
std::atomic<int> theWidest{SRF_BATCH_AUTO};

SRF_BatchMode widestSupported()
{
    int widest = theWidest.load(std::memory_order_relaxed);
    if (widest == SRF_BATCH_AUTO)
    {
        widest = findWidest();
        theWidest.store(widest, std::memory_order_relaxed);
    }
    return SRF_BatchMode(widest);
}

std::array<int, KAL_MAX_LANES> fillScatterMasks()
{
    std::array<int, KAL_MAX_LANES> masks;
    masks.fill(SRF_LaneBatch::SCATTER);
    return masks;
}
const std::array<int, KAL_MAX_LANES> theScatterMasks = fillScatterMasks();
} // namespace

const int *SRF_LaneBatch::scatterMasks() { return theScatterMasks.data(); }

namespace
{
// Whether the elements [begin, end) of two arrays of 4-byte elements share
// a byte; a null array shares none.
bool sameElements(const void *a, const void *b, int begin, int end)
{
    if (!a || !b || begin >= end)
        return false;
    const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(a), second = reinterpret_cast<std::uintptr_t>(b);
    const std::uintptr_t from = std::uintptr_t(begin) * 4u, to = std::uintptr_t(end) * 4u;
    return first + from < second + to && second + from < first + to;
}
} // namespace

bool SRF_LaneVectors::overlaps(const void *at, int begin, int end) const
{
    return sameElements(x, at, begin, end) || sameElements(y, at, begin, end) || sameElements(z, at, begin, end);
}

bool SRF_LaneBatch::outputsAliasInputs(bool sampling) const
{
    const void *inputs[] = {u.x,
                            u.y,
                            u.z,
                            n.x,
                            n.y,
                            n.z,
                            sampling ? nullptr : v.x,
                            sampling ? nullptr : v.y,
                            sampling ? nullptr : v.z,
                            sx,
                            sy,
                            run,
                            maskFree ? nullptr : mask};
    for (const void *input : inputs)
    {
        const bool sharedWithOutput = colour.overlaps(input, begin, end) || sameElements(scalar, input, begin, end) ||
                                      sameElements(bounce, input, begin, end) ||
                                      (sampling && v.overlaps(input, begin, end));
        if (sharedWithOutput)
            return true;
    }
    return false;
}

bool SRFbatchModeSupported(SRF_BatchMode mode)
{
    switch (mode)
    {
#ifdef SRF_LANE_VARIANTS
    case SRF_BATCH_AVX512:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
               __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq");
    case SRF_BATCH_AVX2:
        return __builtin_cpu_supports("avx2");
#else
    case SRF_BATCH_AVX512:
    case SRF_BATCH_AVX2:
        return false;
#endif
    case SRF_BATCH_AUTO:
    case SRF_BATCH_PER_LANE:
    case SRF_BATCH_SCALAR:
    case SRF_BATCH_SSE2:
        return true;
    }
    return false;
}

void SRFsetBatchMode(SRF_BatchMode mode)
{
    const SRF_BatchMode resolved = SRFbatchModeSupported(mode) ? mode : widestSupported();
    SRFtheRequestedMode.store(resolved != SRF_BATCH_AUTO ? int(resolved) : environmentMode(),
                              std::memory_order_relaxed);
}

SRF_BatchMode SRFbatchMode()
{
    // No static of its own: the first query must neither lock nor allocate.
    const int mode = SRFrequestedMode();
    return mode == SRF_BATCH_AUTO || !SRFbatchModeSupported(SRF_BatchMode(mode)) ? widestSupported()
                                                                                 : SRF_BatchMode(mode);
}

bool SRFbatchModeIsAuto() { return SRFrequestedMode() == SRF_BATCH_AUTO; }

// A batch costs a fixed entry (a few passes over the range, temporaries on
// the stack) plus a vector step per lane of the range, running or not, and
// a range shorter than a vector runs in the loop's scalar remainder; lane
// by lane costs a virtual call and the C library's maths per running lane.
// Measured on Phong and the plastic tree (bench/README.md, the occupancy
// table), the batch wins from a full vector of running lanes that are at
// least a third of the range (AVX-512) or half of it (AVX2). The SSE2 and
// scalar loops do not beat the C library's maths lane by lane, nor does a
// build without the variants: there the automatic mode always answers lane
// by lane.
bool SRFbatchPays(int running, int width)
{
    const int requested = SRFrequestedMode();
    if (requested != SRF_BATCH_AUTO)
        return requested != SRF_BATCH_PER_LANE;
    switch (widestSupported())
    {
    case SRF_BATCH_AVX512:
        // Under 16 lanes the AVX2 loop runs (SRFforLanes), which beat lane
        // by lane for some trees and lost for others (the plastic tree's
        // sample, 1.2): lane by lane is the safe side.
        return running >= 16 && running * 3 >= width;
    case SRF_BATCH_AVX2:
        return running >= 8 && running * 2 >= width;
    default:
        return false;
    }
}

// A lobe's packed AVX-512 loop beat lane by lane from a tenth of the range
// running (Phong at 10 %, evaluate and sample: bench/README.md, the
// occupancy table); below that the fixed cost of listing the lanes weighs
// more.
bool SRFlobeBatchPays(int running, int width)
{
    if (SRFrequestedMode() == SRF_BATCH_AUTO && widestSupported() == SRF_BATCH_AVX512)
        return running >= 16 && running * 10 >= width;
    return SRFbatchPays(running, width);
}

// Every lobe's batch counts its running lanes before it chooses its loop:
// 16 flags a step where the processor has AVX-512 and the range holds a
// vector of them (a count is the same integer in any variant), 4 otherwise.
namespace
{
#ifdef SRF_LANE_SIMD
#define SRF_COUNT_SIMD _Pragma("omp simd reduction(+ : count)")
#else
#define SRF_COUNT_SIMD
#endif
#define SRF_COUNT_RUNNING(name, ...)                                                                                   \
    __VA_ARGS__ int name(const int *flags, int begin, int end)                                                         \
    {                                                                                                                  \
        int count = 0;                                                                                                 \
        SRF_COUNT_SIMD for (int lane = begin; lane < end; ++lane) count += flags[lane] != 0;                           \
        return count;                                                                                                  \
    }
SRF_COUNT_RUNNING(countRunning, )
#ifdef SRF_LANE_VARIANTS
SRF_COUNT_RUNNING(countRunningAvx512, __attribute__((target("avx512f,avx512vl,avx512bw,avx512dq"))))
#endif
#undef SRF_COUNT_RUNNING
#undef SRF_COUNT_SIMD
} // namespace

int SRF_LaneBatch::runningLanes() const
{
#ifdef SRF_LANE_VARIANTS
    if (end - begin >= 16 && widestSupported() == SRF_BATCH_AVX512)
        return countRunningAvx512(run, begin, end);
#endif
    return countRunning(run, begin, end);
}

// A loop over the running lanes alone reads its inputs and parameters and
// writes its outputs through the list of lanes: gathers and scatters. The
// AVX-512 loop has both, and beats the loop over the whole range (which
// computes the idle lanes too) up to about half of the range running, two
// thirds for sample, whose kernels cost more per lane than their gathers
// and scatters (bench/README.md, the occupancy table). The narrower loops
// have no scatter, and run the packed lanes one by one: there packing pays
// up to about a fifth of the range running.
namespace
{
const int PACK_PERCENT_AVX512 = 50;
const int PACK_PERCENT_AVX512_SAMPLE = 67;
const int PACK_PERCENT_NARROW = 20;
const int AVX512_FLOATS = 16;
} // namespace

int SRFpackRunningLanes(const SRF_LaneBatch &batch, bool sampling, int running, int *lanes)
{
    const int width = batch.end - batch.begin;
    const bool wide = SRFbatchMode() == SRF_BATCH_AVX512;
    const int percent = wide ? (sampling ? PACK_PERCENT_AVX512_SAMPLE : PACK_PERCENT_AVX512) : PACK_PERCENT_NARROW;
    if (running * 100 > width * percent)
        return -1;
    int count = 0;
    if (running == 0)
        return count;
    const int *flags = batch.run;
    for (int lane = batch.begin; lane < batch.end; ++lane)
    {
        lanes[count] = lane;
        count += flags[lane] != 0;
    }
    if (!wide)
        return count;
    // The AVX-512 loop would run the lanes past the last whole vector one
    // by one (and a list shorter than a vector in the AVX2 loop, with no
    // scatter): the last lane is repeated up to a whole number of vectors,
    // computed again and stored again with the same values.
    const int padded = (count + AVX512_FLOATS - 1) / AVX512_FLOATS * AVX512_FLOATS;
    for (int i = count; i < padded; ++i)
        lanes[i] = lanes[count - 1];
    return padded;
}
