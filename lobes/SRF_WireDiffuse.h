#ifndef SRF_WIREDIFFUSE_H
#define SRF_WIREDIFFUSE_H

#include "SRF_Lobe.h"

struct SRF_API SRF_WireDiffuseKernel;

// The diffuse lobe of a thin curve: f(v) = 1 - (T.v)^2, the squared sine of
// the angle to the per-lane tangent T, over the whole sphere. Bounce set:
// diffuse.
//
// Blocks: tangent (vector).
// Formulas: SRF_WireDiffuseKernel.h.
class SRF_API SRF_WireDiffuse : public SRF_Lobe<SRF_WireDiffuseKernel>
{
public:
    using SRF_Lobe::SRF_Lobe;
    // Takes ownership of the blocks.
    SRF_WireDiffuse(BX_Vector3 *tangent);
};

extern template class SRF_Lobe<SRF_WireDiffuseKernel>;

#endif
