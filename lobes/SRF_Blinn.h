#ifndef SRF_BLINN_H
#define SRF_BLINN_H

#include "SRF_Lobe.h"

struct SRF_API SRF_BlinnKernel;

// The glossy half-vector lobe (Blinn 1977): f(v) = (N.H)^e / (4 H.u) for the
// half vector H of u and v. Sampling draws H by the cosine-power law about N
// and mirrors u about it. Bounce set: glossy.
//
// Blocks, in field order: normal (vector), exponent (float).
// Formulas: SRF_BlinnKernel.h.
class SRF_API SRF_Blinn : public SRF_Lobe<SRF_BlinnKernel>
{
public:
    using SRF_Lobe::SRF_Lobe;
    // Takes ownership of the blocks.
    SRF_Blinn(BX_Vector3 *normal, float *exponent);
};

extern template class SRF_Lobe<SRF_BlinnKernel>;

#endif
