#ifndef SRF_BLINN_H
#define SRF_BLINN_H

#include "SRF_Lobe.h"

struct SRF_API SRF_BlinnKernel;

// Half-vector lobe about a normal: (N.H)^e / (4 H.u). Bounce set, formulas and sampling: SRF_BlinnKernel.h.
// Blocks, in field order: normal (vector), exponent (float).
class SRF_API SRF_Blinn : public SRF_Lobe<SRF_BlinnKernel>
{
public:
    using SRF_Lobe::SRF_Lobe;
    // Takes ownership of the blocks.
    SRF_Blinn(BX_Vector3 *normal, float *exponent);
};

extern template class SRF_Lobe<SRF_BlinnKernel>;

#endif
