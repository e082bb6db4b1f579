#ifndef SRF_EMISSION_H
#define SRF_EMISSION_H

#include "SRF_Lobe.h"

struct SRF_API SRF_EmissionKernel;

// Emitter of colour (1, 1, 1); scale it for other colours. Bounce set, formulas and sampling: SRF_EmissionKernel.h.
class SRF_API SRF_Emission : public SRF_Lobe<SRF_EmissionKernel>
{
public:
    using SRF_Lobe::SRF_Lobe;
    SRF_Emission();
};

extern template class SRF_Lobe<SRF_EmissionKernel>;

#endif
