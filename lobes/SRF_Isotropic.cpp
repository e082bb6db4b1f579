#include "SRF_Isotropic.h"

#include "SRF_IsotropicKernel.h"

SRF_Isotropic::SRF_Isotropic() : SRF_Lobe(SRF_LobeBlocks{}) {}

template class SRF_Lobe<SRF_IsotropicKernel>;
