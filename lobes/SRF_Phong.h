#ifndef SRF_PHONG_H
#define SRF_PHONG_H

#include "SRF_Lobe.h"

struct SRF_API SRF_PhongKernel;

// Cosine-power lobe about an axis: (D.v)^e. Bounce set, formulas and sampling: SRF_PhongKernel.h.
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
