#ifndef SRF_PHONGKERNEL_H
#define SRF_PHONGKERNEL_H

#include "BX_PolarSample.h"
#include "SRF_Constants.h"
#include "SRF_KernelMaths.h"
#include "SRF_LobeDriver.h"
#include "SRF_Phong.h"

// The Phong lobe: a cosine-power lobe about a per-lane axis D with exponent e.
struct SRF_API SRF_PhongKernel : SRF_LobeKernelBase<SRF_BOUNCE_GLOSSY>
{
    using Class = SRF_Phong;
    static constexpr const char *NAME = "SRF_Phong";
    static constexpr const char *SUMMARY = "Cosine-power lobe about an axis: (D.v)^e.";
    static constexpr int BLOCKS = 2;
    static constexpr SRF_BlockField FIELDS[BLOCKS] = {
        {"axis", SRF_BLOCK_VECTOR, "lobe axis D (usually the mirror direction), used as stored", 0},
        {"exponent", SRF_BLOCK_FLOAT, "cosine-power exponent e", 1, true}};
    // Below this disk radius the point is taken as the centre: dividing by r
    // would only amplify rounding.
    static constexpr float DISK_CENTRE = 0.0001f;

    struct Lane
    {
        BX_Vector3 d;
        float e;
    };
    static Lane at(const SRF_LobeBlocks &p, int lane) { return {p.vectors(0)[lane], p.floats(1)[lane]}; }

    // A = 1 / (e + 1).
    template <class M> static float albedo(const Lane &q) { return 1.0f / (q.e + 1.0f); }
    // e / (e + 1).
    template <class M> static float specularRatio(const Lane &q) { return q.e / (q.e + 1.0f); }

    // f(v) = (D.v)^e where n.v > 0 and D.v > 0, else 0; scalar = A.
    template <class M>
    static SRF_LobeValue evaluate(const Lane &q, const BX_Vector3 &, const BX_Vector3 &n, const BX_Vector3 &v)
    {
        const float cosAxis = q.d.dot(v);
        const bool lit = !(n.dot(v) <= 0.0f) & !(cosAxis <= 0.0f);
        const float c = lit ? M::powNonNegative(cosAxis, q.e) : 0.0f;
        return {BX_Vector3(c, c, c), albedo<M>(q)};
    }

    // A uniform disk point (x, y) of radius r gives xi = r^2 uniform on
    // [0, 1]; cos(v, D) = xi^(1/(e+1)) draws w with p(w) = (e+1)/(2 pi) (D.w)^e,
    // the azimuth is the disk point's: w = sin (x F1 + y F2)/r + cos D, folded
    // across m (n turned toward D) when it lands on the other side of n than
    // D. Weight: r^2.
    template <class M>
    static SRF_LobeDraw sample(const Lane &q, const BX_Vector3 &, const BX_Vector3 &n, float sx, float sy)
    {
        const BX_Vector3 m = SRFtoward(n, q.d);
        float x, y;
        BX_PolarSample::computeDisk2<M>(sx, sy, x, y);
        const float r2 = x * x + y * y;
        const float r = std::sqrt(r2);
        const bool offCentre = r > DISK_CENTRE;
        const float inv = 1.0f / r;
        const float c = offCentre ? M::powNonNegative(r2, 1.0f / (q.e + 1.0f)) : 0.0f;
        const float s = offCentre ? M::sinOfAcos(c) : r;
        x = offCentre ? (x * inv) * s : x;
        y = offCentre ? (y * inv) * s : y;
        BX_Vector3 f1, f2;
        q.d.getFrameOfReference(f1, f2);
        const BX_Vector3 w = (f1 * x + f2 * y) + q.d * std::sqrt(1.0f - s * s);
        return {SRFpick(SRFsameHemisphere(q.d, n, w), w, SRFfold(w, m)), BX_Vector3(r2, r2, r2)};
    }

    // On D's side of n, v comes from w = v or w = v folded across m:
    // pdf = sum (e+1)/(2 pi) (D.w)^e and, each w weighing xi = (D.w)^(e+1),
    // value = sum (e+1)/(2 pi) (D.w)^(2e+1); 0 on the other side.
    template <class M>
    static SRF_LobeDensity evaluatePdf(const Lane &q, const BX_Vector3 &, const BX_Vector3 &n, const BX_Vector3 &v)
    {
        const BX_Vector3 folded = SRFfold(v, SRFtoward(n, q.d));
        const float c1 = q.d.dot(v), c2 = q.d.dot(folded);
        const float p1 = M::pick(c1 > 0.0f, M::powNonNegative(c1, q.e), 0.0f);
        const float p2 = M::pick((c2 > 0.0f) & !SRFsameHemisphere(q.d, n, folded), M::powNonNegative(c2, q.e), 0.0f);
        const float k = SRFsameHemisphere(q.d, n, v) ? (q.e + 1.0f) * SRF_INV_TWO_PI : 0.0f;
        const float value = k * (p1 * p1 * c1 + p2 * p2 * c2);
        return {BX_Vector3(value, value, value), k * (p1 + p2)};
    }
};

#endif
