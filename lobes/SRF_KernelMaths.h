#ifndef SRF_KERNELMATHS_H
#define SRF_KERNELMATHS_H

// Geometry that several lobe kernels share. Not installed.

#include "BX_Vector3.h"
#include "SRF_BSDF.h"
#include "SRF_Lobe.h"

// v folded across m: v - 2 (v.m) m, which flips v's component along a unit m.
inline BX_Vector3 SRFfold(const BX_Vector3 &v, const BX_Vector3 &m) { return v - m * (2.0f * v.dot(m)); }

// m turned toward d: -m when d.m < 0.
inline BX_Vector3 SRFtoward(const BX_Vector3 &m, const BX_Vector3 &d) { return d.dot(m) < 0.0f ? -m : m; }

// Density and value of a direction drawn by mirroring u about a half vector
// h (turned toward u) and folding the result across n when it lands on the
// other side of n than u. A v on u's side is reached from w = v or from
// w = v folded; for each, h = (u + w) / |u + w| and the mirror maps
// d(omega_h) onto 4 (h.u) d(omega_w), so
//   pdf(v) = sum over w of p_h(h) / (4 h.u),  value(v) = sum of pdf_w * weight(h),
// where half(h) answers {p_h(h), weight(h)} as an SRF_LobeDensity {value.x, pdf}.
template <class Half>
SRF_LobeDensity SRFmirroredDensity(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, Half half)
{
    const auto term = [&](const BX_Vector3 &w, bool drawn, float &pdf, float &value)
    {
        BX_Vector3 h = u + w;
        h.normalize();
        const SRF_LobeDensity d = half(h);
        const float pdfW = drawn ? d.pdf / (4.0f * h.dot(u)) : 0.0f;
        pdf += pdfW;
        value += pdfW * d.value.x;
    };
    float pdf = 0.0f, value = 0.0f;
    const BX_Vector3 folded = SRFfold(v, n);
    term(v, true, pdf, value);
    term(folded, !SRFsameHemisphere(u, n, folded), pdf, value);
    const bool kept = SRFsameHemisphere(u, n, v);
    pdf = kept ? pdf : 0.0f;
    value = kept ? value : 0.0f;
    return {BX_Vector3(value, value, value), pdf};
}

#endif
