#include "SRF_LaneBatch.h"

#include <array>
#include <atomic>

namespace
{
// The mode set by SRFsetBatchMode, AUTO until then.
std::atomic<int> theMode{SRF_BATCH_AUTO};

SRF_BatchMode widestSupported()
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

std::array<int, KAL_MAX_LANES> fillScatterMasks()
{
    std::array<int, KAL_MAX_LANES> masks;
    masks.fill(SRF_LaneBatch::SCATTER);
    return masks;
}
const std::array<int, KAL_MAX_LANES> theScatterMasks = fillScatterMasks();
} // namespace

const int *SRF_LaneBatch::scatterMasks() { return theScatterMasks.data(); }

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
    const SRF_BatchMode resolved = mode == SRF_BATCH_AUTO || !SRFbatchModeSupported(mode) ? widestSupported() : mode;
    theMode.store(resolved, std::memory_order_relaxed);
}

SRF_BatchMode SRFbatchMode()
{
    // No static of its own: the first query must neither lock nor allocate.
    const int mode = theMode.load(std::memory_order_relaxed);
    return mode != SRF_BATCH_AUTO ? SRF_BatchMode(mode) : widestSupported();
}
