#ifndef SRF_ASHIKHMIN_H
#define SRF_ASHIKHMIN_H

#include "SRF_Lobe.h"

struct SRF_API SRF_AshikhminKernel;

// Anisotropic half-vector lobe with exponents along two tangents. Bounce set, formulas and sampling:
// SRF_AshikhminKernel.h. Blocks, in field order: normal, first tangent, second tangent (vectors), first exponent,
// second exponent (floats).
class SRF_API SRF_Ashikhmin : public SRF_Lobe<SRF_AshikhminKernel>
{
public:
    using SRF_Lobe::SRF_Lobe;
    // Takes ownership of the blocks, given in this order (not field order).
    SRF_Ashikhmin(BX_Vector3 *normal, float *exponent1, float *exponent2, BX_Vector3 *tangent1, BX_Vector3 *tangent2);

protected:
    // The inversion of one quadrant: for a and b in [0, 1], the azimuth phi
    // and cos(theta) of the half vector.
    void sampleFirstQuadrant(float a, float b, float &phi, float &cosTheta, int lane) const;
};

extern template class SRF_Lobe<SRF_AshikhminKernel>;

#endif
