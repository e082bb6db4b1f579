#ifndef SRF_ASHIKHMINKERNEL_H
#define SRF_ASHIKHMINKERNEL_H

#include "BX_PolarSample.h"
#include "SRF_Ashikhmin.h"
#include "SRF_Constants.h"
#include "SRF_KernelMaths.h"
#include "SRF_LobeDriver.h"

// The anisotropic half-vector lobe of Ashikhmin and Shirley (2000), without
// its Fresnel and normalisation factors.
struct SRF_API SRF_AshikhminKernel : SRF_LobeKernelBase<SRF_BOUNCE_GLOSSY>
{
    using Class = SRF_Ashikhmin;
    static constexpr const char *NAME = "SRF_Ashikhmin";
    static constexpr const char *SUMMARY = "Anisotropic half-vector lobe with exponents along two tangents.";
    static constexpr bool WEIGHT_IS_VALUE = true;
    static constexpr int BLOCKS = 5;
    static constexpr SRF_BlockField FIELDS[BLOCKS] = {
        {"normal", SRF_BLOCK_VECTOR, "normal N, used as stored", 0},
        {"tangent1", SRF_BLOCK_VECTOR, "tangent t1, the direction of the first exponent", 3},
        {"tangent2", SRF_BLOCK_VECTOR, "tangent t2, the direction of the second exponent", 4},
        {"exponent1", SRF_BLOCK_FLOAT, "exponent e1 along t1", 1, true},
        {"exponent2", SRF_BLOCK_FLOAT, "exponent e2 along t2", 2, true}};

    struct Lane
    {
        BX_Vector3 nl, t1, t2;
        float e1, e2;
    };
    static Lane at(const SRF_LobeBlocks &p, int lane)
    {
        return {p.vectors(0)[lane], p.vectors(1)[lane], p.vectors(2)[lane], p.floats(3)[lane], p.floats(4)[lane]};
    }

    // A = 1 / sqrt((e2 + 1)(e1 + 1)).
    template <class M> static float albedo(const Lane &q) { return 1.0f / std::sqrt((q.e2 + 1.0f) * (q.e1 + 1.0f)); }
    // (e2 + e1) / (2 + e2 + e1).
    template <class M> static float specularRatio(const Lane &q)
    {
        const float sum = q.e2 + q.e1;
        return sum / (2.0f + sum);
    }

    // X = t2 x N and Y = N x t1, normalised: X along t1 and Y along t2 for a
    // right-handed (t1, t2, N), both perpendicular to N.
    static void tangentFrame(const Lane &q, BX_Vector3 &x, BX_Vector3 &y)
    {
        x = q.t2.cross(q.nl);
        x.normalize();
        y = q.nl.cross(q.t1);
        y.normalize();
    }

    // The exponent of a half vector with local components (hx, hy, hz):
    // p = (e2 hy^2 + e1 hx^2) / (1 - hz^2).
    static float blend(const Lane &q, float hx, float hy, float hz)
    {
        return (q.e2 * hy * hy + q.e1 * hx * hx) / (1.0f - hz * hz);
    }

    // H = (u + v) / |u + v| with local components (hx, hy, hz) in (X, Y, N);
    // f = hz^p / (4 H.u) where hz > 0, else 0; scalar = A. Only hz gates the
    // value: no side test of u or v.
    template <class M>
    static SRF_LobeValue evaluate(const Lane &q, const BX_Vector3 &u, const BX_Vector3 &, const BX_Vector3 &v)
    {
        BX_Vector3 x, y;
        tangentFrame(q, x, y);
        BX_Vector3 h = u + v;
        h.normalize();
        const float hz = q.nl.dot(h);
        const float p = blend(q, x.dot(h), y.dot(h), hz);
        const float f = hz > 0.0f ? M::powNonNegative(hz, p) / (4.0f * h.dot(u)) : 0.0f;
        return {BX_Vector3(f, f, f), albedo<M>(q)};
    }

    // One quadrant's inversion: with k = sqrt((e1 + 1) / (e2 + 1)),
    // phi = atan(k tan(a pi/2)) and cos(theta) = b^(1 / (e1 cos^2 phi +
    // e2 sin^2 phi + 1)), which draws H with
    // p(H) = sqrt((e1 + 1)(e2 + 1)) / (2 pi) (N.H)^(e1 cos^2 phi + e2 sin^2 phi).
    template <class M> static void quadrant(const Lane &q, float a, float b, float &phi, float &cosTheta)
    {
        const float k = std::sqrt((q.e1 + 1.0f) / (q.e2 + 1.0f));
        phi = M::atan(k * M::tan(a * SRF_HALF_PI));
        const float cosPhi = M::cos(phi);
        const float sinPhi = M::sin(phi);
        cosTheta = M::pow(b, 1.0f / (q.e1 * cosPhi * cosPhi + q.e2 * sinPhi * sinPhi + 1.0f));
    }

    // sx picks the quadrant of the azimuth and, rescaled, a for the
    // quadrant's inversion (mirrored in the second and fourth quadrants); sy
    // is b. H is turned toward u, v = 2 (u.H) H - u is folded across n when
    // it lands on the other side of n than u. Weight: the value at v.
    template <class M>
    static SRF_LobeDraw sample(const Lane &q, const BX_Vector3 &u, const BX_Vector3 &n, float sx, float sy)
    {
        BX_Vector3 x, y;
        tangentFrame(q, x, y);
        const bool first = sx < 0.25f, second = sx < 0.5f, third = sx < 0.75f;
        const float a =
            first ? 4.0f * sx : (second ? 4.0f * (0.5f - sx) : (third ? 4.0f * (sx - 0.5f) : 4.0f * (1.0f - sx)));
        float phi, cosTheta;
        quadrant<M>(q, a, sy, phi, cosTheta);
        phi = first ? phi : (second ? SRF_PI - phi : (third ? SRF_PI + phi : SRF_TWO_PI - phi));
        BX_Vector3 h = BX_PolarSample::about<M>(q.nl, x, y, phi * SRF_INV_TWO_PI, (cosTheta + 1.0f) * 0.5f);
        h = h.dot(u) < 0.0f ? -h : h;
        const BX_Vector3 w = -u;
        const BX_Vector3 v = w - h * (2.0f * w.dot(h));
        return {SRFpick(SRFsameHemisphere(u, n, v), v, SRFfold(v, n)), BX_Vector3(0.0f, 0.0f, 0.0f)};
    }

    // The half vector of either unfolded w, turned toward u, came from +-H
    // with |N.H| = hz: p(H) = sqrt((e1 + 1)(e2 + 1)) / (2 pi) hz^p. The
    // weight is the value at v, so value = f(v) pdf(v).
    template <class M>
    static SRF_LobeDensity evaluatePdf(const Lane &q, const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v)
    {
        BX_Vector3 x, y, axis = q.nl;
        tangentFrame(q, x, y);
        axis.normalize();
        const float k = std::sqrt((q.e1 + 1.0f) * (q.e2 + 1.0f)) * SRF_INV_TWO_PI;
        const SRF_LobeDensity d = SRFmirroredDensity(
            u, n, v,
            [&](const BX_Vector3 &h) -> SRF_LobeDensity
            {
                const float hz = std::fabs(axis.dot(h));
                return {BX_Vector3(0.0f, 0.0f, 0.0f), k * M::powNonNegative(hz, blend(q, x.dot(h), y.dot(h), hz))};
            });
        return {evaluate<M>(q, u, n, v).colour * d.pdf, d.pdf};
    }
};

#endif
