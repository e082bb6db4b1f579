#include "SRF_Ashikhmin.h"

#include "BX_PolarSample.h"

namespace
{
constexpr float HALF_PI = 1.5707964f;
constexpr float PI = 3.1415927f;
constexpr float TWO_PI = 6.2831855f;
constexpr float INV_TWO_PI = 0.15915494f;
} // namespace

SRF_Ashikhmin::SRF_Ashikhmin(BX_Vector3 *normal, float *exponent1, float *exponent2, BX_Vector3 *tangent1,
                             BX_Vector3 *tangent2)
    : normal(normal), tangent1(tangent1), tangent2(tangent2), exponent1(exponent1), exponent2(exponent2)
{
    bounces = SRF_BOUNCE_GLOSSY;
}

SRF_Ashikhmin::~SRF_Ashikhmin()
{
    if (exponent2)
        release(exponent2);
    if (exponent1)
        release(exponent1);
    if (tangent2)
        release(tangent2);
    if (tangent1)
        release(tangent1);
    if (normal)
        release(normal);
}

const char *SRF_Ashikhmin::className() const { return "SRF_Ashikhmin"; }

// A = 1 / sqrt((e2 + 1)(e1 + 1)).
float SRF_Ashikhmin::albedo(const BX_Vector3 &, const BX_Vector3 &, int lane) const
{
    return 1.0f / std::sqrt((exponent2[lane] + 1.0f) * (exponent1[lane] + 1.0f));
}

// (e2 + e1) / (2 + e2 + e1).
float SRF_Ashikhmin::specularRatio(int lane) const
{
    const float sum = exponent2[lane] + exponent1[lane];
    return sum / (2.0f + sum);
}

void SRF_Ashikhmin::tangentFrame(int lane, BX_Vector3 &x, BX_Vector3 &y) const
{
    const BX_Vector3 &nl = normal[lane];
    x = tangent2[lane].cross(nl);
    x.normalize();
    y = nl.cross(tangent1[lane]);
    y.normalize();
}

// H = (u + v) / |u + v| with local components (hx, hy, hz) in (X, Y, N);
// p = (e2 hy^2 + e1 hx^2) / (1 - hz^2); f = hz^p / (4 H.u) where hz > 0,
// else 0; scalar = A. Only hz gates the value: no side test of u or v.
void SRF_Ashikhmin::evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                             float &scalar, int lane) const
{
    BX_Vector3 x, y;
    tangentFrame(lane, x, y);
    BX_Vector3 h = u + v;
    h.normalize();
    const float hx = x.dot(h);
    const float hy = y.dot(h);
    const float hz = normal[lane].dot(h);
    scalar = albedo(u, n, lane);
    colour = BX_Vector3(0.0f, 0.0f, 0.0f);
    if (!(hz > 0.0f))
        return;
    const float p = (exponent2[lane] * hy * hy + exponent1[lane] * hx * hx) / (1.0f - hz * hz);
    const float f = std::pow(hz, p) / (4.0f * h.dot(u));
    colour = BX_Vector3(f, f, f);
}

// With k = sqrt((e1 + 1) / (e2 + 1)): phi = atan(k tan(a pi/2)) and
// cos(theta) = b^(1 / (e1 cos^2 phi + e2 sin^2 phi + 1)), which draws H with
// pdf(H) = sqrt((e1 + 1)(e2 + 1)) / (2 pi) (N.H)^(e1 cos^2 phi + e2 sin^2 phi)
// over the quadrant.
void SRF_Ashikhmin::sampleFirstQuadrant(float a, float b, float &phi, float &cosTheta, int lane) const
{
    const float e1 = exponent1[lane];
    const float e2 = exponent2[lane];
    const float k = std::sqrt((e1 + 1.0f) / (e2 + 1.0f));
    phi = std::atan(k * std::tan(a * HALF_PI));
    const float cosPhi = std::cos(phi);
    const float sinPhi = std::sin(phi);
    cosTheta = std::pow(b, 1.0f / (e1 * cosPhi * cosPhi + e2 * sinPhi * sinPhi + 1.0f));
}

// sx picks the quadrant of the azimuth and, rescaled, a for the quadrant's
// inversion (mirrored in the second and fourth quadrants); sy is b. H is
// turned toward u, v = 2 (u.H) H - u is folded across n when it lands on the
// other side of n than u, and the weight and scalar are the lobe's value
// for the final v.
void SRF_Ashikhmin::sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                           int &bounce, float sx, float sy, int lane) const
{
    BX_Vector3 x, y;
    tangentFrame(lane, x, y);
    const BX_PolarSample polar(normal[lane], x, y);
    bounce = bounces;

    float phi, cosTheta;
    if (sx < 0.25f)
    {
        sampleFirstQuadrant(4.0f * sx, sy, phi, cosTheta, lane);
    }
    else if (sx < 0.5f)
    {
        sampleFirstQuadrant(4.0f * (0.5f - sx), sy, phi, cosTheta, lane);
        phi = PI - phi;
    }
    else if (sx < 0.75f)
    {
        sampleFirstQuadrant(4.0f * (sx - 0.5f), sy, phi, cosTheta, lane);
        phi = PI + phi;
    }
    else
    {
        sampleFirstQuadrant(4.0f * (1.0f - sx), sy, phi, cosTheta, lane);
        phi = TWO_PI - phi;
    }

    BX_Vector3 h;
    polar.compute(h, phi * INV_TWO_PI, (cosTheta + 1.0f) * 0.5f);
    if (h.dot(u) < 0.0f)
        h.negate();
    const BX_Vector3 w = -u;
    v = w - h * (2.0f * w.dot(h));
    if (!sameHemisphere(u, n, v))
        v -= n * (2.0f * v.dot(n));
    evaluate(u, n, v, colour, scalar, lane);
}

SRF_BSDF *SRF_Ashikhmin::duplicate(int count) const
{
    SRF_Ashikhmin *twin = new SRF_Ashikhmin(copy(normal, count), copy(exponent1, count), copy(exponent2, count),
                                            copy(tangent1, count), copy(tangent2, count));
    if (twin && (!twin->normal || !twin->tangent1 || !twin->tangent2 || !twin->exponent1 || !twin->exponent2))
    {
        // The pool ran dry: a lobe without its blocks could not be queried.
        twin->decRefCount();
        return nullptr;
    }
    return twin;
}

void SRF_Ashikhmin::flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &vectors,
                            BX_PtrArray<float *> &floats)
{
    bsdfs.append(this);
    vectors.append(normal);
    vectors.append(tangent1);
    vectors.append(tangent2);
    floats.append(exponent1);
    floats.append(exponent2);
}

void SRF_Ashikhmin::dump(int indent) const { dumpName(indent); }
