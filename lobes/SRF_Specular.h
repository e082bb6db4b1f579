#ifndef SRF_SPECULAR_H
#define SRF_SPECULAR_H

#include "SRF_Lobe.h"

struct SRF_API SRF_SpecularKernel;

// The perfect mirror, or any other delta lobe: all its energy leaves in one
// per-lane direction. Sampling returns that direction with a very large
// fixed weight; evaluating any direction gives zero. Bounce set: specular.
//
// Blocks: direction (vector).
// Formulas: SRF_SpecularKernel.h.
class SRF_API SRF_Specular : public SRF_Lobe<SRF_SpecularKernel>
{
public:
    using SRF_Lobe::SRF_Lobe;
    // Takes ownership of the blocks.
    SRF_Specular(BX_Vector3 *direction);
};

extern template class SRF_Lobe<SRF_SpecularKernel>;

#endif
