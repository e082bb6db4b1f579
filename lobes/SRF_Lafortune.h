#ifndef SRF_LAFORTUNE_H
#define SRF_LAFORTUNE_H

#include "SRF_Lobe.h"

struct SRF_API SRF_LafortuneKernel;

// The generalised cosine lobe (Lafortune et al. 1997): u and v in a local
// frame built from a per-lane normal N and u, their components multiplied
// pairwise and weighted by per-lane coefficients K, summed and raised to a
// per-lane exponent e. A lane with e <= 0 is diffuse: f(v) = |N.v|. Bounce
// set: glossy when the exponent of lane 0 is positive, else diffuse.
// Formulas: SRF_LafortuneKernel.h.
//
// Blocks, in field order: normal, coefficients (vectors), exponent (float).
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
