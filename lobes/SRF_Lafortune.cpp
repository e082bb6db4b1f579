#include "SRF_Lafortune.h"

#include "BX_PolarSample.h"

#include <algorithm>

namespace
{
// Below this disk radius the point is taken as the centre: dividing by r
// would only amplify rounding.
constexpr float DISK_CENTRE = 0.0001f;

// The exponent of a glossy lane; 0 or less, or NaN, makes the lane diffuse.
bool isGlossy(float e) { return e > 0.0f; }

// T = N x u normalised, B = N x T.
void localFrame(const BX_Vector3 &nl, const BX_Vector3 &u, BX_Vector3 &t, BX_Vector3 &b)
{
    t = nl.cross(u);
    t.normalize();
    b = nl.cross(t);
}
} // namespace

SRF_Lafortune::SRF_Lafortune(BX_Vector3 *normal, BX_Vector3 *coefficients, float *exponent)
    : normal(normal), coefficients(coefficients), exponent(exponent)
{
    bounces = isGlossy(exponent[0]) ? SRF_BOUNCE_GLOSSY : SRF_BOUNCE_DIFFUSE;
}

SRF_Lafortune::SRF_Lafortune(BX_Vector3 *normal, BX_Vector3 *coefficients, float *exponent, int bounceSet)
    : normal(normal), coefficients(coefficients), exponent(exponent)
{
    bounces = bounceSet;
}

SRF_Lafortune::~SRF_Lafortune()
{
    if (exponent)
        release(exponent);
    if (coefficients)
        release(coefficients);
    if (normal)
        release(normal);
}

const char *SRF_Lafortune::className() const { return "SRF_Lafortune"; }

// A = 1 / (e + 1) for a glossy lane, 1/2 for a diffuse one.
float SRF_Lafortune::albedo(const BX_Vector3 &, const BX_Vector3 &, int lane) const
{
    const float e = exponent[lane];
    return isGlossy(e) ? 1.0f / (e + 1.0f) : 0.5f;
}

// e / (e + 1), for diffuse lanes too.
float SRF_Lafortune::specularRatio(int lane) const
{
    const float e = exponent[lane];
    return e / (e + 1.0f);
}

// Zero unless u and v lie on the same side of N. Diffuse lane: f = |N.v|.
// Glossy lane: q = Kz uz vz + Ky uy vy + Kx ux vx in the frame (T, B, N),
// f = q^e where q > 0, else 0. scalar = A.
void SRF_Lafortune::evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                             float &scalar, int lane) const
{
    scalar = albedo(u, n, lane);
    colour = BX_Vector3(0.0f, 0.0f, 0.0f);
    const BX_Vector3 &nl = normal[lane];
    if (!sameHemisphere(u, nl, v))
        return;
    const float e = exponent[lane];
    if (!isGlossy(e))
    {
        const float a = std::fabs(nl.dot(v));
        colour = BX_Vector3(a, a, a);
        return;
    }
    BX_Vector3 t, b;
    localFrame(nl, u, t, b);
    const BX_Vector3 &k = coefficients[lane];
    const float q = (k.z * nl.dot(u) * nl.dot(v) + k.y * b.dot(u) * b.dot(v)) + k.x * t.dot(u) * t.dot(v);
    if (q > 0.0f)
    {
        const float c = std::pow(q, e);
        colour = BX_Vector3(c, c, c);
    }
}

// N' is N turned to u's side of n, with the frame (T, B, N').
// Diffuse lane: v = x T + y B + sqrt(1 - x^2 - y^2) N' for a uniform disk
// point (x, y), pdf(v) = (N'.v) / pi, folded across n when it lands on the
// other side of n than u; weight |N'.v|.
// Glossy lane: the lobe axis w = (Kx ux, Ky uy, Kz uz) in local coordinates;
// a disk point of radius r gives cos(L, w) = (r^2)^(1/(e+1)) as in the Phong
// lobe, L is turned to the positive side of N' and brought back to world
// space without folding; weight r^2. scalar = A in both.
void SRF_Lafortune::sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                           int &bounce, float sx, float sy, int lane) const
{
    bounce = bounces;
    scalar = albedo(u, n, lane);
    BX_Vector3 nl = normal[lane];
    if (!sameHemisphere(u, n, nl))
        nl.negate();
    BX_Vector3 t, b;
    localFrame(nl, u, t, b);

    float x, y;
    BX_PolarSample::computeDisk2(sx, sy, x, y);
    const float e = exponent[lane];
    if (!isGlossy(e))
    {
        v = (t * x + b * y) + nl * std::sqrt(1.0f - x * x - y * y);
        if (!sameHemisphere(u, n, v))
            v -= n * (2.0f * v.dot(n));
        const float a = std::fabs(nl.dot(v));
        colour = BX_Vector3(a, a, a);
        return;
    }

    const BX_Vector3 &k = coefficients[lane];
    const BX_Vector3 w(k.x * t.dot(u), k.y * b.dot(u), k.z * nl.dot(u));
    BX_Vector3 f1, f2;
    w.getFrameOfReference(f1, f2);
    const float r2 = x * x + y * y;
    const float r = std::sqrt(r2);
    colour = BX_Vector3(r2, r2, r2);
    float s;
    if (r > DISK_CENTRE)
    {
        const float inv = 1.0f / r;
        x *= inv;
        y *= inv;
        const float c = std::pow(r2, 1.0f / (e + 1.0f));
        s = std::sin(std::acos(std::clamp(c, -1.0f, 1.0f)));
        x *= s;
        y *= s;
    }
    else
        s = r;
    BX_Vector3 local = (f1 * x + f2 * y) + w * std::sqrt(1.0f - s * s);
    if (local.z <= 0.0f)
        local.z = -local.z;
    v = (t * local.x + b * local.y) + nl * local.z;
}

SRF_BSDF *SRF_Lafortune::duplicate(int count) const
{
    // Storage first, so that nothing is copied when there is none.
    void *storage = operator new(sizeof(SRF_Lafortune));
    if (!storage)
        return nullptr;
    BX_Vector3 *normals = copy(normal, count);
    BX_Vector3 *weights = copy(coefficients, count);
    float *exponents = copy(exponent, count);
    if (!normals || !weights || !exponents)
    {
        // The pool ran dry: a lobe without its blocks could not be queried.
        if (exponents)
            release(exponents);
        if (weights)
            release(weights);
        if (normals)
            release(normals);
        operator delete(storage, sizeof(SRF_Lafortune));
        return nullptr;
    }
    // A copy of no lanes has no exponent to choose the bounce set from: it
    // keeps this lobe's.
    if (count > 0)
        return new (storage) SRF_Lafortune(normals, weights, exponents);
    return new (storage) SRF_Lafortune(normals, weights, exponents, bounces);
}

void SRF_Lafortune::flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &vectors,
                            BX_PtrArray<float *> &floats)
{
    bsdfs.append(this);
    vectors.append(normal);
    vectors.append(coefficients);
    floats.append(exponent);
}

void SRF_Lafortune::dump(int indent) const { dumpName(indent); }
