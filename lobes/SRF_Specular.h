#ifndef SRF_SPECULAR_H
#define SRF_SPECULAR_H

#include "SRF_Lobe.h"

struct SRF_API SRF_SpecularKernel;

// Mirror (delta) lobe about a direction. Bounce set, formulas and sampling: SRF_SpecularKernel.h.
// Blocks: direction (vector).
class SRF_API SRF_Specular : public SRF_Lobe<SRF_SpecularKernel>
{
public:
    using SRF_Lobe::SRF_Lobe;
    // Takes ownership of the blocks.
    SRF_Specular(BX_Vector3 *direction);
};

extern template class SRF_Lobe<SRF_SpecularKernel>;

#endif
