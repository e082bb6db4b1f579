#ifndef SRF_WIREDIFFUSE_H
#define SRF_WIREDIFFUSE_H

#include "SRF_Lobe.h"

struct SRF_API SRF_WireDiffuseKernel;

// Diffuse lobe of a curve along a tangent: 1 - (T.v)^2. Bounce set, formulas and sampling: SRF_WireDiffuseKernel.h.
// Blocks: tangent (vector).
class SRF_API SRF_WireDiffuse : public SRF_Lobe<SRF_WireDiffuseKernel>
{
public:
    using SRF_Lobe::SRF_Lobe;
    // Takes ownership of the blocks.
    SRF_WireDiffuse(BX_Vector3 *tangent);
};

extern template class SRF_Lobe<SRF_WireDiffuseKernel>;

#endif
