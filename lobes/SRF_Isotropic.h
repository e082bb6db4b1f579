#ifndef SRF_ISOTROPIC_H
#define SRF_ISOTROPIC_H

#include "SRF_Lobe.h"

struct SRF_API SRF_IsotropicKernel;

// Uniform diffuse lobe: value 1 into every direction of the whole sphere. Bounce set, formulas and sampling:
// SRF_IsotropicKernel.h.
class SRF_API SRF_Isotropic : public SRF_Lobe<SRF_IsotropicKernel>
{
public:
    using SRF_Lobe::SRF_Lobe;
    SRF_Isotropic();
};

extern template class SRF_Lobe<SRF_IsotropicKernel>;

#endif
