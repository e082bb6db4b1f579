#ifndef SRF_CONEKERNEL_H
#define SRF_CONEKERNEL_H

#include "BX_PolarSample.h"
#include "SRF_Cone.h"
#include "SRF_Constants.h"
#include "SRF_KernelMaths.h"
#include "SRF_LobeDriver.h"

// The cone lobe: 1 inside a cone of per-lane half-angle alpha about a
// per-lane axis D, on the axis's side of the surface.
struct SRF_API SRF_ConeKernel : SRF_LobeKernelBase<SRF_BOUNCE_GLOSSY>
{
    using Class = SRF_Cone;
    static constexpr const char *NAME = "SRF_Cone";
    static constexpr const char *SUMMARY = "Uniform lobe inside a cone about an axis (half angle in radians).";
    static constexpr int BLOCKS = 2;
    static constexpr SRF_BlockField FIELDS[BLOCKS] = {
        {"axis", SRF_BLOCK_VECTOR, "cone axis D, used as stored", 0},
        {"half_angle", SRF_BLOCK_FLOAT, "half-angle alpha, in radians", 1}};

    struct Lane
    {
        BX_Vector3 d;
        float alpha;
    };
    static Lane at(const SRF_LobeBlocks &p, int lane) { return {p.vectors(0)[lane], p.floats(1)[lane]}; }

    // A = 1 - cos(alpha): the cone's solid angle over 2 pi.
    template <class M> static float albedo(const Lane &q) { return 1.0f - M::cos(q.alpha); }
    // cos(alpha).
    template <class M> static float specularRatio(const Lane &q) { return M::cos(q.alpha); }

    // f(v) = 1 where m.v > 0 and D.v > cos(alpha), both strict, else 0, with
    // m the normal turned toward D; scalar = A.
    template <class M>
    static SRF_LobeValue evaluate(const Lane &q, const BX_Vector3 &, const BX_Vector3 &n, const BX_Vector3 &v)
    {
        const float cosAlpha = M::cos(q.alpha);
        const BX_Vector3 m = SRFtoward(n, q.d);
        const bool above = m.dot(v) > 0.0f, within = q.d.dot(v) > cosAlpha;
        const bool inside = above & within;
        return {inside ? BX_Vector3(1.0f, 1.0f, 1.0f) : BX_Vector3(0.0f, 0.0f, 0.0f), 1.0f - cosAlpha};
    }

    // (x, y) = sin(alpha) * (uniform unit-disk point), z = sqrt(1 - x^2 - y^2),
    // w = x F1 + y F2 + z D: p(w) = (D.w) / (pi sin^2 alpha) within the cone
    // D.w > |cos alpha|. w is folded across m when it lands on the other side
    // of n than D. Weight: 1.
    template <class M>
    static SRF_LobeDraw sample(const Lane &q, const BX_Vector3 &, const BX_Vector3 &n, float sx, float sy)
    {
        const float sinAlpha = M::sin(q.alpha);
        const BX_Vector3 m = SRFtoward(n, q.d);
        float x, y;
        BX_PolarSample::computeDisk2<M>(sx, sy, x, y);
        x *= sinAlpha;
        y *= sinAlpha;
        const float z = std::sqrt(1.0f - x * x - y * y);
        BX_Vector3 f1, f2;
        q.d.getFrameOfReference(f1, f2);
        const BX_Vector3 w = (f1 * x + f2 * y) + q.d * z;
        return {SRFsameHemisphere(q.d, n, w) ? w : SRFfold(w, m), BX_Vector3(1.0f, 1.0f, 1.0f)};
    }

    // On D's side of n, v comes from w = v or v folded across m, each of
    // density (D.w) / (pi sin^2 alpha) inside the sampled cone; the weight is
    // 1, so value = pdf. A cone of no width is a delta: 0.
    template <class M>
    static SRF_LobeDensity evaluatePdf(const Lane &q, const BX_Vector3 &, const BX_Vector3 &n, const BX_Vector3 &v)
    {
        const float sinAlpha = M::sin(q.alpha);
        const float s2 = sinAlpha * sinAlpha;
        const BX_Vector3 folded = SRFfold(v, SRFtoward(n, q.d));
        const float c1 = q.d.dot(v), c2 = q.d.dot(folded);
        const float p1 = (c1 > 0.0f) & (1.0f - c1 * c1 < s2) ? c1 : 0.0f;
        const float p2 = (c2 > 0.0f) & (1.0f - c2 * c2 < s2) & !SRFsameHemisphere(q.d, n, folded) ? c2 : 0.0f;
        const float k = SRFsameHemisphere(q.d, n, v) & (s2 > 0.0f) ? SRF_INV_PI / s2 : 0.0f;
        const float pdf = k * (p1 + p2);
        return {BX_Vector3(pdf, pdf, pdf), pdf};
    }
};

#endif
