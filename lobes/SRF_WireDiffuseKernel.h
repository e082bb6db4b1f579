#ifndef SRF_WIREDIFFUSEKERNEL_H
#define SRF_WIREDIFFUSEKERNEL_H

#include "SRF_Constants.h"
#include "SRF_LobeDriver.h"
#include "SRF_WireDiffuse.h"

// The diffuse lobe of a curve with per-lane tangent T: the squared sine of
// the angle between T and v, over the whole sphere.
struct SRF_API SRF_WireDiffuseKernel : SRF_LobeKernelBase<SRF_BOUNCE_DIFFUSE>
{
    using Class = SRF_WireDiffuse;
    static constexpr const char *NAME = "SRF_WireDiffuse";
    static constexpr const char *SUMMARY = "Diffuse lobe of a curve along a tangent: 1 - (T.v)^2.";
    static constexpr int BLOCKS = 1;
    static constexpr SRF_BlockField FIELDS[BLOCKS] = {
        {"tangent", SRF_BLOCK_VECTOR, "curve tangent T, used as stored", 0}};

    struct Lane
    {
        BX_Vector3 t;
    };
    static Lane at(const SRF_LobeBlocks &p, int lane) { return {p.vectors(0)[lane]}; }

    // A = 1/2.
    template <class M> static float albedo(const Lane &) { return 0.5f; }
    template <class M> static float specularRatio(const Lane &) { return 0.0f; }

    // f(v) = 1 - (T.v)^2; scalar = A. u and n play no part.
    template <class M>
    static SRF_LobeValue evaluate(const Lane &q, const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &v)
    {
        const float c = q.t.dot(v);
        const float k = 1.0f - c * c;
        return {BX_Vector3(k, k, k), 0.5f};
    }

    // Uniform over the sphere about T: azimuth 2 pi sx, cos(v, T) = c =
    // 2 sy - 1. Weight: the sine s = sqrt(1 - c^2).
    template <class M>
    static SRF_LobeDraw sample(const Lane &q, const BX_Vector3 &, const BX_Vector3 &, float sx, float sy)
    {
        BX_Vector3 f1, f2;
        q.t.getFrameOfReference(f1, f2);
        const float phi = SRF_TWO_PI * sx;
        const BX_Vector3 p = f1 * M::cosSmall(phi) + f2 * M::sinSmall(phi);
        const float c = 2.0f * sy - 1.0f;
        const float s = std::sqrt(1.0f - c * c);
        return {BX_Vector3(s * p.x + c * q.t.x, s * p.y + c * q.t.y, s * p.z + c * q.t.z), BX_Vector3(s, s, s)};
    }

    // pdf = 1 / (4 pi) everywhere; value = sqrt(1 - (T.v)^2) / (4 pi).
    template <class M>
    static SRF_LobeDensity evaluatePdf(const Lane &q, const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &v)
    {
        const float c = q.t.dot(v);
        const float value = std::sqrt(std::fmax(1.0f - c * c, 0.0f)) * SRF_INV_FOUR_PI;
        return {BX_Vector3(value, value, value), SRF_INV_FOUR_PI};
    }
};

#endif
