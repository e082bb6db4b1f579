#include "SRF_Specular.h"

#include "SRF_SpecularKernel.h"

SRF_Specular::SRF_Specular(BX_Vector3 *direction) : SRF_Lobe(SRF_LobeBlocks{{direction}}) {}

template class SRF_Lobe<SRF_SpecularKernel>;
