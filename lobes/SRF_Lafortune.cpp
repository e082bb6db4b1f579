#include "SRF_Lafortune.h"

#include "SRF_LafortuneKernel.h"

SRF_Lafortune::SRF_Lafortune(BX_Vector3 *normal, BX_Vector3 *coefficients, float *exponent)
    : SRF_Lobe(SRF_LobeBlocks{{normal, coefficients, exponent}})
{
}

SRF_Lafortune::SRF_Lafortune(BX_Vector3 *normal, BX_Vector3 *coefficients, float *exponent, int bounceSet)
    : SRF_Lobe(SRF_LobeBlocks{{normal, coefficients, exponent}}, bounceSet)
{
}

template class SRF_Lobe<SRF_LafortuneKernel>;
