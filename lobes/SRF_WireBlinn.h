#ifndef SRF_WIREBLINN_H
#define SRF_WIREBLINN_H

#include "SRF_Lobe.h"

struct SRF_API SRF_WireBlinnKernel;

// The glossy lobe of a thin curve: the sine of the angle between the tangent
// T and the half vector, to a per-lane exponent. Bounce set: glossy.
//
// Blocks, in field order: tangent (vector), exponent (float).
// Formulas: SRF_WireBlinnKernel.h.
class SRF_API SRF_WireBlinn : public SRF_Lobe<SRF_WireBlinnKernel>
{
public:
    using SRF_Lobe::SRF_Lobe;
    // Takes ownership of the blocks.
    SRF_WireBlinn(BX_Vector3 *tangent, float *exponent);
};

extern template class SRF_Lobe<SRF_WireBlinnKernel>;

#endif
