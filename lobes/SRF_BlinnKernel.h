#ifndef SRF_BLINNKERNEL_H
#define SRF_BLINNKERNEL_H

#include "BX_PolarSample.h"
#include "SRF_Blinn.h"
#include "SRF_Constants.h"
#include "SRF_KernelMaths.h"
#include "SRF_LobeDriver.h"

// The Blinn lobe (Blinn 1977): the half vector's cosine to a per-lane
// normal N, to the power e, over 4 (H.u).
struct SRF_API SRF_BlinnKernel : SRF_LobeKernelBase<SRF_BOUNCE_GLOSSY>
{
    using Class = SRF_Blinn;
    static constexpr const char *NAME = "SRF_Blinn";
    static constexpr const char *SUMMARY = "Half-vector lobe about a normal: (N.H)^e / (4 H.u).";
    static constexpr int BLOCKS = 2;
    static constexpr SRF_BlockField FIELDS[BLOCKS] = {
        {"normal", SRF_BLOCK_VECTOR, "lobe normal N, used as stored", 0},
        {"exponent", SRF_BLOCK_FLOAT, "cosine-power exponent e of the half vector", 1, true}};

    struct Lane
    {
        BX_Vector3 nl;
        float e;
    };
    static Lane at(const SRF_LobeBlocks &p, int lane) { return {p.vectors(0)[lane], p.floats(1)[lane]}; }

    // A = 1 / (e + 1).
    template <class M> static float albedo(const Lane &q) { return 1.0f / (q.e + 1.0f); }
    // e / (e + 1).
    template <class M> static float specularRatio(const Lane &q) { return q.e / (q.e + 1.0f); }

    // H = (u + v) / |u + v|; f = (N.H)^e / (4 H.u) where N.v > 0 and N.H > 0,
    // else 0; scalar = A. The side test uses the lobe's own N, not n.
    template <class M>
    static SRF_LobeValue evaluate(const Lane &q, const BX_Vector3 &u, const BX_Vector3 &, const BX_Vector3 &v)
    {
        BX_Vector3 h = u + v;
        h.normalize();
        const float k = q.nl.dot(h);
        const bool lit = (q.nl.dot(v) > 0.0f) & (k > 0.0f);
        const float f = lit ? M::powNonNegative(k, q.e) / (4.0f * h.dot(u)) : 0.0f;
        return {BX_Vector3(f, f, f), albedo<M>(q)};
    }

    // cos(H, N) = c = sy^(1/(e+1)), azimuth 2 pi sx: p(H) = (e+1)/(2 pi) c^e.
    // H is turned toward u, v = 2 (u.H) H - u, folded across n when it lands
    // on the other side of n than u. Weight: c^e / (4 H.u).
    template <class M>
    static SRF_LobeDraw sample(const Lane &q, const BX_Vector3 &u, const BX_Vector3 &n, float sx, float sy)
    {
        const float c = M::pow(sy, 1.0f / (q.e + 1.0f));
        BX_Vector3 h = BX_PolarSample::about<M>(q.nl, sx, (c + 1.0f) * 0.5f);
        h = h.dot(u) < 0.0f ? -h : h;
        const BX_Vector3 w = -u;
        const BX_Vector3 v = w - h * (2.0f * w.dot(h));
        const float f = M::pow(c, q.e) / (4.0f * h.dot(u));
        return {SRFpick(SRFsameHemisphere(u, n, v), v, SRFfold(v, n)), BX_Vector3(f, f, f)};
    }

    // The half vector of either unfolded w, turned toward u, came from +-H
    // with |N.H| = c: p(H) = (e+1)/(2 pi) c^e, weight c^e / (4 H.u).
    template <class M>
    static SRF_LobeDensity evaluatePdf(const Lane &q, const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v)
    {
        BX_Vector3 axis = q.nl;
        axis.normalize();
        const float k = (q.e + 1.0f) * SRF_INV_TWO_PI;
        const float e = q.e;
        // Captured by value: an axis captured by reference stays in memory,
        // and the lane loop around it is not vectorised.
        return SRFmirroredDensity(u, n, v,
                                  [axis, k, e, u](const BX_Vector3 &h) -> SRF_LobeDensity
                                  {
                                      const float ce = M::powNonNegative(std::fabs(axis.dot(h)), e);
                                      const float weight = ce / (4.0f * h.dot(u));
                                      return {BX_Vector3(weight, weight, weight), k * ce};
                                  });
    }
};

#endif
