#include "SRF_Emission.h"

#include "SRF_EmissionKernel.h"

SRF_Emission::SRF_Emission() : SRF_Lobe(SRF_LobeBlocks{}) {}

template class SRF_Lobe<SRF_EmissionKernel>;
