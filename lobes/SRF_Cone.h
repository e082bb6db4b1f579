#ifndef SRF_CONE_H
#define SRF_CONE_H

#include "SRF_Lobe.h"

struct SRF_API SRF_ConeKernel;

// Uniform lobe inside a cone about an axis (half angle in radians). Bounce set, formulas and sampling:
// SRF_ConeKernel.h. Blocks, in field order: axis (vector), half-angle in radians (float).
class SRF_API SRF_Cone : public SRF_Lobe<SRF_ConeKernel>
{
public:
    using SRF_Lobe::SRF_Lobe;
    // Takes ownership of the blocks.
    SRF_Cone(BX_Vector3 *axis, float *halfAngle);
};

extern template class SRF_Lobe<SRF_ConeKernel>;

#endif
