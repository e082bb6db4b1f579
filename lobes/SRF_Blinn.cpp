#include "SRF_Blinn.h"

#include "SRF_BlinnKernel.h"

SRF_Blinn::SRF_Blinn(BX_Vector3 *normal, float *exponent) : SRF_Lobe(SRF_LobeBlocks{{normal, exponent}}) {}

template class SRF_Lobe<SRF_BlinnKernel>;
