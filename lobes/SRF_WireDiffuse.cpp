#include "SRF_WireDiffuse.h"

#include "SRF_WireDiffuseKernel.h"

SRF_WireDiffuse::SRF_WireDiffuse(BX_Vector3 *tangent) : SRF_Lobe(SRF_LobeBlocks{{tangent}}) {}

template class SRF_Lobe<SRF_WireDiffuseKernel>;
