#include "SRF_WireBlinn.h"

namespace
{
constexpr float TWO_PI = 6.2831855f;
} // namespace

SRF_WireBlinn::SRF_WireBlinn(BX_Vector3 *tangent, float *exponent) : tangent(tangent), exponent(exponent)
{
    bounces = SRF_BOUNCE_GLOSSY;
}

SRF_WireBlinn::~SRF_WireBlinn()
{
    if (exponent)
        release(exponent);
    if (tangent)
        release(tangent);
}

const char *SRF_WireBlinn::className() const { return "SRF_WireBlinn"; }

// A = sqrt(1 / (e + 1)).
float SRF_WireBlinn::albedo(const BX_Vector3 &, const BX_Vector3 &, int lane) const
{
    return std::sqrt(1.0f / (exponent[lane] + 1.0f));
}

// e / (e + 1).
float SRF_WireBlinn::specularRatio(int lane) const
{
    const float e = exponent[lane];
    return e / (e + 1.0f);
}

// H = (u + v) / |u + v|, t = T.H; f = (sqrt(1 - t^2))^e with no side or sign
// test; scalar = A.
void SRF_WireBlinn::evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                             float &scalar, int lane) const
{
    scalar = albedo(u, n, lane);
    BX_Vector3 h = u + v;
    h.normalize();
    const float t = tangent[lane].dot(h);
    const float k = std::pow(std::sqrt(1.0f - t * t), exponent[lane]);
    colour = BX_Vector3(k, k, k);
}

// P = P(2 pi sx) perpendicular to T, turned toward u. sy picks the half of
// the sphere (+T above 1/2, -T otherwise) and, rescaled to xi in [0, 1], the
// sine s = xi^(1/(e+1)) of the angle between H and T:
// H = s P +- sqrt(1 - s^2) T, normalised, and v = 2 (u.H) H - u, not folded.
// Weight and scalar are the lobe's value for v.
void SRF_WireBlinn::sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                           int &bounce, float sx, float sy, int lane) const
{
    const BX_Vector3 &t = tangent[lane];
    BX_Vector3 f1, f2;
    t.getFrameOfReference(f1, f2);
    const float phi = TWO_PI * sx;
    BX_Vector3 p = f1 * std::cos(phi) + f2 * std::sin(phi);
    if (p.dot(u) < 0.0f)
        p.negate();

    const bool upper = sy > 0.5f;
    const float xi = upper ? 2.0f * (sy - 0.5f) : 2.0f * sy;
    const float s = std::pow(xi, 1.0f / (exponent[lane] + 1.0f));
    const float c = std::sqrt(1.0f - s * s);
    BX_Vector3 h = upper ? p * s + t * c : p * s - t * c;
    h.normalize();

    const BX_Vector3 w = -u;
    v = w - h * (2.0f * w.dot(h));
    evaluate(u, n, v, colour, scalar, lane);
    bounce = bounces;
}

SRF_BSDF *SRF_WireBlinn::duplicate(int count) const
{
    SRF_WireBlinn *twin = new SRF_WireBlinn(copy(tangent, count), copy(exponent, count));
    if (twin && (!twin->tangent || !twin->exponent))
    {
        // The pool ran dry: a lobe without its blocks could not be queried.
        twin->decRefCount();
        return nullptr;
    }
    return twin;
}

void SRF_WireBlinn::flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &vectors,
                            BX_PtrArray<float *> &floats)
{
    bsdfs.append(this);
    vectors.append(tangent);
    floats.append(exponent);
}

void SRF_WireBlinn::dump(int indent) const { dumpName(indent); }
