#include "SRF_WireBlinn.h"

#include "SRF_WireBlinnKernel.h"

SRF_WireBlinn::SRF_WireBlinn(BX_Vector3 *tangent, float *exponent) : SRF_Lobe(SRF_LobeBlocks{{tangent, exponent}}) {}

template class SRF_Lobe<SRF_WireBlinnKernel>;
