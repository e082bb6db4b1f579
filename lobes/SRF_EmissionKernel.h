#ifndef SRF_EMISSIONKERNEL_H
#define SRF_EMISSIONKERNEL_H

#include "SRF_Emission.h"
#include "SRF_LobeDriver.h"

// The emission lobe: scatters nothing and emits (1, 1, 1).
struct SRF_API SRF_EmissionKernel : SRF_LobeKernelBase<SRF_BOUNCE_EMISSION>
{
    using Class = SRF_Emission;
    static constexpr const char *NAME = "SRF_Emission";
    static constexpr const char *SUMMARY = "Emitter of colour (1, 1, 1); scale it for other colours.";
    static constexpr bool DRAWS = false;
    static constexpr bool EMITS = true;
    static constexpr int BLOCKS = 0;
    static constexpr SRF_BlockField FIELDS[1] = {{nullptr, SRF_BLOCK_VECTOR, nullptr, 0}};

    struct Lane
    {
    };
    static Lane at(const SRF_LobeBlocks &, int) { return {}; }

    template <class M> static float albedo(const Lane &) { return 0.0f; }
    template <class M> static float specularRatio(const Lane &) { return 0.0f; }

    // Nothing is scattered: colour and scalar 0.
    template <class M>
    static SRF_LobeValue evaluate(const Lane &, const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &)
    {
        return {BX_Vector3(0.0f, 0.0f, 0.0f), 0.0f};
    }

    // No direction is drawn (DRAWS): colour and scalar 0, v and bounce kept.
    template <class M> static SRF_LobeDraw sample(const Lane &, const BX_Vector3 &, const BX_Vector3 &, float, float)
    {
        return {BX_Vector3(0.0f, 0.0f, 0.0f), BX_Vector3(0.0f, 0.0f, 0.0f)};
    }

    template <class M>
    static SRF_LobeDensity evaluatePdf(const Lane &, const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &)
    {
        return {BX_Vector3(0.0f, 0.0f, 0.0f), 0.0f};
    }
};

#endif
