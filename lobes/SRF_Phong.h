#ifndef SRF_PHONG_H
#define SRF_PHONG_H

#include "SRF_Lobe.h"

struct SRF_API SRF_PhongKernel;

// A glossy cosine-power lobe about a per-lane axis D (usually the mirror
// direction): f(v) = (D.v)^e on the side of the surface the axis faces.
// Sampling lifts a point of the unit disk onto the cosine-power distribution
// about D. Bounce set: glossy. Formulas: SRF_PhongKernel.h.
//
// Blocks, in field order: axis (vector), exponent (float).
class SRF_API SRF_Phong : public SRF_Lobe<SRF_PhongKernel>
{
public:
    using SRF_Lobe::SRF_Lobe;
    // Takes ownership of both blocks.
    SRF_Phong(BX_Vector3 *axis, float *exponent);
};

extern template class SRF_Lobe<SRF_PhongKernel>;

#endif
