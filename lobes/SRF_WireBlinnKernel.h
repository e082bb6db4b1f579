#ifndef SRF_WIREBLINNKERNEL_H
#define SRF_WIREBLINNKERNEL_H

#include "SRF_Constants.h"
#include "SRF_LobeDriver.h"
#include "SRF_WireBlinn.h"

// The glossy lobe of a curve with per-lane tangent T: the sine of the angle
// between T and the half vector, to a per-lane power e.
struct SRF_API SRF_WireBlinnKernel : SRF_LobeKernelBase<SRF_BOUNCE_GLOSSY>
{
    using Class = SRF_WireBlinn;
    static constexpr const char *NAME = "SRF_WireBlinn";
    static constexpr const char *SUMMARY =
        "Glossy lobe of a curve along a tangent: the half vector's sine to T, to a power.";
    static constexpr bool WEIGHT_IS_VALUE = true;
    static constexpr int BLOCKS = 2;
    static constexpr SRF_BlockField FIELDS[BLOCKS] = {
        {"tangent", SRF_BLOCK_VECTOR, "curve tangent T, used as stored", 0},
        {"exponent", SRF_BLOCK_FLOAT, "exponent e of the half vector's sine to T", 1, true}};

    struct Lane
    {
        BX_Vector3 t;
        float e;
    };
    static Lane at(const SRF_LobeBlocks &p, int lane) { return {p.vectors(0)[lane], p.floats(1)[lane]}; }

    // A = sqrt(1 / (e + 1)).
    template <class M> static float albedo(const Lane &q) { return std::sqrt(1.0f / (q.e + 1.0f)); }
    // e / (e + 1).
    template <class M> static float specularRatio(const Lane &q) { return q.e / (q.e + 1.0f); }

    // H = (u + v) / |u + v|, t = T.H; f = sqrt(1 - t^2)^e; scalar = A. No
    // side or sign test.
    template <class M>
    static SRF_LobeValue evaluate(const Lane &q, const BX_Vector3 &u, const BX_Vector3 &, const BX_Vector3 &v)
    {
        BX_Vector3 h = u + v;
        h.normalize();
        const float c = q.t.dot(h);
        const float f = M::powNonNegative(std::sqrt(1.0f - c * c), q.e);
        return {BX_Vector3(f, f, f), albedo<M>(q)};
    }

    // P = the unit vector perpendicular to T at azimuth 2 pi sx, turned
    // toward u; sy picks the half along +T or -T and, rescaled to xi, the
    // sine s = xi^(1/(e+1)) of H to T: H = s P +- sqrt(1 - s^2) T, and
    // v = 2 (u.H) H - u, unfolded. Weight: the value at v.
    template <class M>
    static SRF_LobeDraw sample(const Lane &q, const BX_Vector3 &u, const BX_Vector3 &, float sx, float sy)
    {
        BX_Vector3 f1, f2;
        q.t.getFrameOfReference(f1, f2);
        const float phi = SRF_TWO_PI * sx;
        BX_Vector3 p = f1 * M::cosSmall(phi) + f2 * M::sinSmall(phi);
        p = p.dot(u) < 0.0f ? -p : p;
        const bool upper = sy > 0.5f;
        const float xi = upper ? 2.0f * (sy - 0.5f) : 2.0f * sy;
        const float s = M::pow(xi, 1.0f / (q.e + 1.0f));
        const float c = std::sqrt(1.0f - s * s);
        BX_Vector3 h = upper ? p * s + q.t * c : p * s - q.t * c;
        h.normalize();
        const BX_Vector3 w = -u;
        return {w - h * (2.0f * w.dot(h)), BX_Vector3(0.0f, 0.0f, 0.0f)};
    }

    // H is +-(u + v)/|u + v|, whichever leans toward u across T; with
    // t = T.H and s = sqrt(1 - t^2) the sampler's density over (t, azimuth)
    // gives p(H) = (e+1) s^(e-1) |t| / (2 pi), and the mirror
    // pdf = p(H) / (4 |H.u|). The weight is the value at v: value = f pdf.
    template <class M>
    static SRF_LobeDensity evaluatePdf(const Lane &q, const BX_Vector3 &u, const BX_Vector3 &, const BX_Vector3 &v)
    {
        BX_Vector3 h = u + v;
        h.normalize();
        const float t = q.t.dot(h);
        const float s2 = 1.0f - t * t;
        // A pick, not a select: the power tests its base, and a test of a
        // select's result keeps the lane loop from vectorising.
        const float s = std::sqrt(M::pick(s2 > 0.0f, s2, 0.0f));
        const float se = M::powNonNegative(s, q.e);
        const float density = s > 0.0f ? (q.e + 1.0f) * se / s * std::fabs(t) * SRF_INV_TWO_PI : 0.0f;
        const float pdf = density / (4.0f * std::fabs(h.dot(u)));
        // evaluate's f = sqrt(1 - t^2)^e at v, taken from se where 1 - t^2 is
        // not negative; elsewhere its base is NaN, and so is f (but NaN^0 = 1).
        const float f = M::pick(s2 >= 0.0f, se, M::pick(q.e == 0.0f, 1.0f, std::sqrt(s2)));
        const float value = f * pdf;
        return {BX_Vector3(value, value, value), pdf};
    }
};

#endif
