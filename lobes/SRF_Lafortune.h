#ifndef SRF_LAFORTUNE_H
#define SRF_LAFORTUNE_H

#include "SRF_Lobe.h"

struct SRF_API SRF_LafortuneKernel;

// Generalised cosine lobe: coefficients weigh the components of u and v in "
// "the frame of the normal; an exponent of 0 or less makes a lane diffuse. Bounce set, formulas and sampling:
// SRF_LafortuneKernel.h. Blocks, in field order: normal, coefficients (vectors), exponent (float).
class SRF_API SRF_Lafortune : public SRF_Lobe<SRF_LafortuneKernel>
{
public:
    using SRF_Lobe::SRF_Lobe;
    // Takes ownership of the blocks; the bounce set follows lane 0's
    // exponent, or is the one given.
    SRF_Lafortune(BX_Vector3 *normal, BX_Vector3 *coefficients, float *exponent);
    SRF_Lafortune(BX_Vector3 *normal, BX_Vector3 *coefficients, float *exponent, int bounceSet);
};

extern template class SRF_Lobe<SRF_LafortuneKernel>;

#endif
