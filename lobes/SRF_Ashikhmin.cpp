#include "SRF_Ashikhmin.h"

#include "SRF_AshikhminKernel.h"

SRF_Ashikhmin::SRF_Ashikhmin(BX_Vector3 *normal, float *exponent1, float *exponent2, BX_Vector3 *tangent1,
                             BX_Vector3 *tangent2)
    : SRF_Lobe(SRF_LobeBlocks{{normal, tangent1, tangent2, exponent1, exponent2}})
{
}

void SRF_Ashikhmin::sampleFirstQuadrant(float a, float b, float &phi, float &cosTheta, int lane) const
{
    SRF_AshikhminKernel::quadrant<SRF_StdMath>(SRF_AshikhminKernel::at(blocks(), lane), a, b, phi, cosTheta);
}

template class SRF_Lobe<SRF_AshikhminKernel>;
