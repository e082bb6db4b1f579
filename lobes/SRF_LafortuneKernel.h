#ifndef SRF_LAFORTUNEKERNEL_H
#define SRF_LAFORTUNEKERNEL_H

#include "BX_PolarSample.h"
#include "SRF_Constants.h"
#include "SRF_KernelMaths.h"
#include "SRF_Lafortune.h"
#include "SRF_LobeDriver.h"

// The generalised cosine lobe of Lafortune et al. (1997): the components of
// u and v in a local frame, weighted pairwise by per-lane coefficients K,
// summed and raised to a per-lane exponent e; a lane with e <= 0 is diffuse.
struct SRF_API SRF_LafortuneKernel : SRF_LobeKernelBase<SRF_BOUNCE_GLOSSY>
{
    using Class = SRF_Lafortune;
    static constexpr const char *NAME = "SRF_Lafortune";
    static constexpr const char *SUMMARY = "Generalised cosine lobe: coefficients weigh the components of u and v in "
                                           "the frame of the normal; an exponent of 0 or less makes a lane diffuse.";
    static constexpr int BLOCKS = 3;
    static constexpr SRF_BlockField FIELDS[BLOCKS] = {
        {"normal", SRF_BLOCK_VECTOR, "normal N of the local frame, used as stored", 0},
        {"coefficients", SRF_BLOCK_VECTOR, "weights K of the three local components", 1},
        {"exponent", SRF_BLOCK_FLOAT, "exponent e; 0 or less makes the lane diffuse", 2}};
    // Below this disk radius the point is taken as the centre.
    static constexpr float DISK_CENTRE = 0.0001f;

    struct Lane
    {
        BX_Vector3 nl, k;
        float e;
    };
    static Lane at(const SRF_LobeBlocks &p, int lane)
    {
        return {p.vectors(0)[lane], p.vectors(1)[lane], p.floats(2)[lane]};
    }

    // The exponent of a glossy lane; 0 or less, or NaN, makes the lane diffuse.
    static bool isGlossy(float e) { return e > 0.0f; }
    // Glossy when lane 0 is.
    static int bounceSet(const SRF_LobeBlocks &p)
    {
        return isGlossy(p.floats(2)[0]) ? SRF_BOUNCE_GLOSSY : SRF_BOUNCE_DIFFUSE;
    }
    // T = N x u normalised, B = N x T.
    static void localFrame(const BX_Vector3 &nl, const BX_Vector3 &u, BX_Vector3 &t, BX_Vector3 &b)
    {
        t = nl.cross(u);
        t.normalize();
        b = nl.cross(t);
    }

    // A = 1 / (e + 1) for a glossy lane, 1/2 for a diffuse one.
    template <class M> static float albedo(const Lane &q) { return isGlossy(q.e) ? 1.0f / (q.e + 1.0f) : 0.5f; }
    // e / (e + 1), for diffuse lanes too.
    template <class M> static float specularRatio(const Lane &q) { return q.e / (q.e + 1.0f); }

    // Zero unless u and v lie on the same side of N. Diffuse lane: f = |N.v|.
    // Glossy lane: q = Kz uz vz + Ky uy vy + Kx ux vx in the frame (T, B, N),
    // f = q^e where q > 0, else 0. scalar = A.
    template <class M>
    static SRF_LobeValue evaluate(const Lane &q, const BX_Vector3 &u, const BX_Vector3 &, const BX_Vector3 &v)
    {
        const bool sameSide = SRFsameHemisphere(u, q.nl, v);
        const bool glossy = isGlossy(q.e);
        BX_Vector3 t, b;
        localFrame(q.nl, u, t, b);
        const float dot =
            (q.k.z * q.nl.dot(u) * q.nl.dot(v) + q.k.y * b.dot(u) * b.dot(v)) + q.k.x * t.dot(u) * t.dot(v);
        const float c = (sameSide & glossy & (dot > 0.0f)) ? M::powNonNegative(dot, q.e) : 0.0f;
        const float a = std::fabs(q.nl.dot(v));
        const float value = !sameSide ? 0.0f : (glossy ? c : a);
        return {BX_Vector3(value, value, value), albedo<M>(q)};
    }

    // N' is N turned to u's side of n, with the frame (T, B, N').
    // Diffuse lane: w = x T + y B + sqrt(1 - x^2 - y^2) N' for a uniform disk
    // point (x, y), p(w) = (N'.w) / pi, folded across n when it lands on the
    // other side of n than u; weight |N'.v|.
    // Glossy lane: the lobe axis w = (Kx ux, Ky uy, Kz uz) in local
    // coordinates; a disk point of radius r gives cos(L, w) = (r^2)^(1/(e+1))
    // as in the Phong lobe, L is turned to the positive side of N' and
    // brought back to world space without folding; weight r^2.
    template <class M>
    static SRF_LobeDraw sample(const Lane &q, const BX_Vector3 &u, const BX_Vector3 &n, float sx, float sy)
    {
        const BX_Vector3 nl = SRFsameHemisphere(u, n, q.nl) ? q.nl : -q.nl;
        BX_Vector3 t, b;
        localFrame(nl, u, t, b);
        float x, y;
        BX_PolarSample::computeDisk2<M>(sx, sy, x, y);
        const bool glossy = isGlossy(q.e);
        BX_Vector3 diffuse = (t * x + b * y) + nl * std::sqrt(1.0f - x * x - y * y);
        diffuse = SRFsameHemisphere(u, n, diffuse) ? diffuse : SRFfold(diffuse, n);
        const float a = std::fabs(nl.dot(diffuse));
        const BX_Vector3 w(q.k.x * t.dot(u), q.k.y * b.dot(u), q.k.z * nl.dot(u));
        BX_Vector3 f1, f2;
        w.getFrameOfReference(f1, f2);
        const float r2 = x * x + y * y;
        const float r = std::sqrt(r2);
        const bool offCentre = r > DISK_CENTRE;
        const float inv = 1.0f / r;
        // Taken in every lane (a diffuse or centred one discards it): a power
        // under a condition keeps the lane loop from vectorising.
        const float power = M::powNonNegative(r2, 1.0f / (q.e + 1.0f));
        const float c = M::pick(glossy & offCentre, power, 0.0f);
        const float s = offCentre ? M::sinOfAcos(c) : r;
        const float gx = offCentre ? (x * inv) * s : x;
        const float gy = offCentre ? (y * inv) * s : y;
        BX_Vector3 local = (f1 * gx + f2 * gy) + w * std::sqrt(1.0f - s * s);
        local.z = local.z <= 0.0f ? -local.z : local.z;
        const BX_Vector3 lobe = (t * local.x + b * local.y) + nl * local.z;
        const float weight = glossy ? r2 : a;
        return {SRFpick(glossy, lobe, diffuse), BX_Vector3(weight, weight, weight)};
    }

    // Diffuse lane: v on u's side of n comes from w = v or v folded across n,
    // each of density max(N'.w, 0) / pi; value = |N'.v| pdf.
    // Glossy lane: with rho = |w|, the drawn direction omega (cosine-power
    // about w/rho, p(omega) = (e+1)/(2 pi) cos^e) is stretched by rho along
    // w before normalising, so the local direction l has
    // p(l) = p(omega) / (rho |g|^3), g = l + (1/rho - 1)(l.w^)w^, cos = (l.w^)/(rho |g|),
    // summed over l and l mirrored across N' (the turn to N''s side); each
    // weighs xi = cos^(e+1).
    template <class M>
    static SRF_LobeDensity evaluatePdf(const Lane &q, const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v)
    {
        const BX_Vector3 nl = SRFpick(SRFsameHemisphere(u, n, q.nl), q.nl, -q.nl);
        // Diffuse.
        const float d1 = nl.dot(v), d2 = nl.dot(SRFfold(v, n));
        const float diffusePdf =
            SRFsameHemisphere(u, n, v) ? ((d1 > 0.0f ? d1 : 0.0f) + (d2 > 0.0f ? d2 : 0.0f)) * SRF_INV_PI : 0.0f;
        // Glossy, in the local frame (T, B, N').
        BX_Vector3 t, b;
        localFrame(nl, u, t, b);
        BX_Vector3 axis(q.k.x * t.dot(u), q.k.y * b.dot(u), q.k.z * nl.dot(u));
        const float rho = axis.length();
        axis = axis * (1.0f / rho);
        BX_Vector3 l(t.dot(v), b.dot(v), nl.dot(v));
        l = l * (1.0f / l.length());
        const float k = (q.e + 1.0f) * SRF_INV_TWO_PI;
        float glossyPdf = 0.0f, glossyValue = 0.0f;
        const auto term = [&](const BX_Vector3 &dir)
        {
            const float along = dir.dot(axis);
            const float g = std::sqrt(1.0f - along * along + (along * along) / (rho * rho));
            const float cosine = along / (rho * g);
            const float power = M::pick(cosine > 0.0f, M::powNonNegative(cosine, q.e), 0.0f);
            const float p = k * power / (rho * g * g * g);
            glossyPdf += p;
            glossyValue += p * power * cosine;
        };
        term(l);
        term(BX_Vector3(l.x, l.y, -l.z));
        const bool drawn = (l.z > 0.0f) & (rho > 0.0f);
        glossyPdf = drawn ? glossyPdf : 0.0f;
        glossyValue = drawn ? glossyValue : 0.0f;
        const bool glossy = isGlossy(q.e);
        const float pdf = glossy ? glossyPdf : diffusePdf;
        const float value = glossy ? glossyValue : diffusePdf * std::fabs(d1);
        return {BX_Vector3(value, value, value), pdf};
    }
};

#endif
