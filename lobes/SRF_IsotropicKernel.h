#ifndef SRF_ISOTROPICKERNEL_H
#define SRF_ISOTROPICKERNEL_H

#include "BX_PolarSample.h"
#include "SRF_Constants.h"
#include "SRF_Isotropic.h"
#include "SRF_LobeDriver.h"

// The isotropic lobe: unit value into every direction of the whole sphere.
struct SRF_API SRF_IsotropicKernel : SRF_LobeKernelBase<SRF_BOUNCE_DIFFUSE>
{
    using Class = SRF_Isotropic;
    static constexpr const char *NAME = "SRF_Isotropic";
    static constexpr const char *SUMMARY = "Uniform diffuse lobe: value 1 into every direction of the whole sphere.";
    static constexpr int BLOCKS = 0;
    static constexpr SRF_BlockField FIELDS[1] = {{nullptr, SRF_BLOCK_VECTOR, nullptr, 0}};

    struct Lane
    {
    };
    static Lane at(const SRF_LobeBlocks &, int) { return {}; }

    template <class M> static float albedo(const Lane &) { return 1.0f; }
    template <class M> static float specularRatio(const Lane &) { return 0.0f; }

    // f = 1 everywhere; scalar = 1.
    template <class M>
    static SRF_LobeValue evaluate(const Lane &, const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &)
    {
        return {BX_Vector3(1.0f, 1.0f, 1.0f), 1.0f};
    }

    // Uniform over the sphere: the polar sampler about u, azimuth 2 pi sx,
    // cosine 2 sy - 1. Weight: 1.
    template <class M>
    static SRF_LobeDraw sample(const Lane &, const BX_Vector3 &u, const BX_Vector3 &, float sx, float sy)
    {
        return {BX_PolarSample::about<M>(u, sx, sy), BX_Vector3(1.0f, 1.0f, 1.0f)};
    }

    // pdf = value = 1 / (4 pi).
    template <class M>
    static SRF_LobeDensity evaluatePdf(const Lane &, const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &)
    {
        return {BX_Vector3(SRF_INV_FOUR_PI, SRF_INV_FOUR_PI, SRF_INV_FOUR_PI), SRF_INV_FOUR_PI};
    }
};

#endif
