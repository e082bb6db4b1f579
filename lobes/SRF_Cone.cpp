#include "SRF_Cone.h"

#include "SRF_ConeKernel.h"

SRF_Cone::SRF_Cone(BX_Vector3 *axis, float *halfAngle) : SRF_Lobe(SRF_LobeBlocks{{axis, halfAngle}}) {}

template class SRF_Lobe<SRF_ConeKernel>;
