#include "SRF_MeasuredOp.h"

#include "SRF_OpFrame.h"

// Placeholder until the measured-data lobe is wired in: the old value of
// argument 0 loses its reference and the result is null, which every query
// op answers with zeros.
int opMeasured(KAL_Instance &instance, KAL_ProcArray &)
{
    SRF_OpFrame::dropBsdf(instance, 0);
    return SRF_OpFrame::next(instance);
}
