#ifndef SRF_SPECULARKERNEL_H
#define SRF_SPECULARKERNEL_H

#include "SRF_LobeDriver.h"
#include "SRF_Specular.h"

// The perfect mirror, or any delta lobe: all its energy leaves in one
// per-lane direction.
struct SRF_API SRF_SpecularKernel : SRF_LobeKernelBase<SRF_BOUNCE_SPECULAR>
{
    using Class = SRF_Specular;
    static constexpr const char *NAME = "SRF_Specular";
    static constexpr const char *SUMMARY = "Mirror (delta) lobe about a direction.";
    static constexpr int BLOCKS = 1;
    static constexpr SRF_BlockField FIELDS[BLOCKS] = {
        {"direction", SRF_BLOCK_VECTOR, "the delta's outgoing direction, normalised when sampled", 0}};
    // The weight of a sampled delta: large enough to stand for "infinitely
    // concentrated" against every finite lobe it is mixed with.
    static constexpr float DELTA_WEIGHT = 1e6f;

    struct Lane
    {
        BX_Vector3 direction;
    };
    static Lane at(const SRF_LobeBlocks &p, int lane) { return {p.vectors(0)[lane]}; }

    template <class M> static float albedo(const Lane &) { return 1.0f; }
    template <class M> static float specularRatio(const Lane &) { return 1.0f; }

    // A direction chosen by other means never hits the delta: colour 0,
    // scalar 1.
    template <class M>
    static SRF_LobeValue evaluate(const Lane &, const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &)
    {
        return {BX_Vector3(0.0f, 0.0f, 0.0f), 1.0f};
    }

    // v = the lane's direction, normalised; weight 1e6, whatever u, n, sx, sy.
    template <class M> static SRF_LobeDraw sample(const Lane &q, const BX_Vector3 &, const BX_Vector3 &, float, float)
    {
        BX_Vector3 v = q.direction;
        v.normalize();
        return {v, BX_Vector3(DELTA_WEIGHT, DELTA_WEIGHT, DELTA_WEIGHT)};
    }

    // A delta has no density: 0.
    template <class M>
    static SRF_LobeDensity evaluatePdf(const Lane &, const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &)
    {
        return {BX_Vector3(0.0f, 0.0f, 0.0f), 0.0f};
    }
};

#endif
