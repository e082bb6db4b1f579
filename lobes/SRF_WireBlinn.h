#ifndef SRF_WIREBLINN_H
#define SRF_WIREBLINN_H

#include "SRF_Lobe.h"

struct SRF_API SRF_WireBlinnKernel;

// Glossy lobe of a curve along a tangent: the half vector's sine to T, to a
// power. Bounce set, formulas and sampling: SRF_WireBlinnKernel.h.
// Blocks, in field order: tangent (vector), exponent (float).
class SRF_API SRF_WireBlinn : public SRF_Lobe<SRF_WireBlinnKernel>
{
public:
    using SRF_Lobe::SRF_Lobe;
    // Takes ownership of the blocks.
    SRF_WireBlinn(BX_Vector3 *tangent, float *exponent);
};

extern template class SRF_Lobe<SRF_WireBlinnKernel>;

#endif
