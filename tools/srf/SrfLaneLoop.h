#ifndef SRF_TOOL_LANELOOP_H
#define SRF_TOOL_LANELOOP_H

#include "SRF_LaneLoops.h"

// The tool's own per-sample loops over a tile's lanes (random numbers,
// camera, studio, weights), vectorised in the widest variant the processor
// runs, whatever batch mode the library's queries are set to: --per-lane
// compares the library's two paths, not the tool's. The variants give the
// same bits (the tool is built without contraction into fused
// multiply-adds, as the library is).
class SrfLaneLoop
{
public:
    template <class Body> static void run(int count, Body body)
    {
#ifdef SRF_LANE_VARIANTS
        static const SRF_BatchMode widest = SRFbatchModeSupported(SRF_BATCH_AVX512) ? SRF_BATCH_AVX512
                                            : SRFbatchModeSupported(SRF_BATCH_AVX2) ? SRF_BATCH_AVX2
                                                                                    : SRF_BATCH_SSE2;
        if (widest == SRF_BATCH_AVX512)
            SRF_LaneLoops::avx512(0, count, body);
        else if (widest == SRF_BATCH_AVX2)
            SRF_LaneLoops::avx2(0, count, body);
        else
            SRF_LaneLoops::sse2(0, count, body);
#else
        for (int lane = 0; lane < count; ++lane)
            body(lane);
#endif
    }
};

#endif
