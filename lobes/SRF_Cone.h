#ifndef SRF_CONE_H
#define SRF_CONE_H

#include "SRF_Lobe.h"

struct SRF_API SRF_ConeKernel;

// A flat glossy lobe: 1 for every direction strictly inside a cone of
// per-lane half-angle about a per-lane axis (on the axis's side of the
// surface), 0 outside. Bounce set: glossy.
//
// Blocks, in field order: axis (vector), half-angle in radians (float).
// Formulas: SRF_ConeKernel.h.
class SRF_API SRF_Cone : public SRF_Lobe<SRF_ConeKernel>
{
public:
    using SRF_Lobe::SRF_Lobe;
    // Takes ownership of the blocks.
    SRF_Cone(BX_Vector3 *axis, float *halfAngle);
};

extern template class SRF_Lobe<SRF_ConeKernel>;

#endif
