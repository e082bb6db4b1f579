#include "SRF_Lafortune.h"

#include "BX_PolarSample.h"
#include "SRF_LaneMath.h"

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

// The formulas, written once over the maths set M (SRF_LaneMath.h): the
// per-lane queries call them with the C library, the batch queries with the
// vectorisable set.

float lafortuneAlbedo(float e) { return isGlossy(e) ? 1.0f / (e + 1.0f) : 0.5f; }

float lafortuneSpecularRatio(float e) { return e / (e + 1.0f); }

template <class M>
BX_Vector3 lafortuneColour(const BX_Vector3 &nl, const BX_Vector3 &k, float e, const BX_Vector3 &u, const BX_Vector3 &v)
{
    const bool sameSide = SRFsameHemisphere(u, nl, v);
    const bool glossy = isGlossy(e);
    BX_Vector3 t, b;
    localFrame(nl, u, t, b);
    const float q = (k.z * nl.dot(u) * nl.dot(v) + k.y * b.dot(u) * b.dot(v)) + k.x * t.dot(u) * t.dot(v);
    const float c = sameSide & glossy & (q > 0.0f) ? M::pow(q, e) : 0.0f;
    const float a = std::fabs(nl.dot(v));
    const float value = !sameSide ? 0.0f : (glossy ? c : a);
    return BX_Vector3(value, value, value);
}

// The sampled direction; weight receives its weight.
template <class M>
BX_Vector3 lafortuneDirection(const BX_Vector3 &normal, const BX_Vector3 &k, float e, const BX_Vector3 &u,
                              const BX_Vector3 &n, float sx, float sy, float &weight)
{
    const BX_Vector3 nl = SRFsameHemisphere(u, n, normal) ? normal : -normal;
    BX_Vector3 t, b;
    localFrame(nl, u, t, b);
    float x, y;
    BX_PolarSample::computeDisk2<M>(sx, sy, x, y);
    const bool glossy = isGlossy(e);

    // A diffuse lane: the cosine distribution about N', folded across n.
    BX_Vector3 diffuse = (t * x + b * y) + nl * std::sqrt(1.0f - x * x - y * y);
    diffuse = SRFsameHemisphere(u, n, diffuse) ? diffuse : diffuse - n * (2.0f * diffuse.dot(n));
    const float a = std::fabs(nl.dot(diffuse));

    // A glossy lane: the cosine-power distribution about the local axis w.
    const BX_Vector3 w(k.x * t.dot(u), k.y * b.dot(u), k.z * nl.dot(u));
    BX_Vector3 f1, f2;
    w.getFrameOfReference(f1, f2);
    const float r2 = x * x + y * y;
    const float r = std::sqrt(r2);
    const bool offCentre = r > DISK_CENTRE;
    const float inv = 1.0f / r;
    const float c = glossy & offCentre ? M::pow(r2, 1.0f / (e + 1.0f)) : 0.0f;
    const float s = offCentre ? M::sinOfAcos(c) : r;
    const float gx = offCentre ? (x * inv) * s : x;
    const float gy = offCentre ? (y * inv) * s : y;
    BX_Vector3 local = (f1 * gx + f2 * gy) + w * std::sqrt(1.0f - s * s);
    local.z = local.z <= 0.0f ? -local.z : local.z;
    const BX_Vector3 lobe = (t * local.x + b * local.y) + nl * local.z;

    weight = glossy ? r2 : a;
    return glossy ? lobe : diffuse;
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
    return lafortuneAlbedo(exponent[lane]);
}

void SRF_Lafortune::albedoBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Lafortune>())
        return SRF_BSDF::albedoBatch(batch);
    const SRF_LaneBatch b = batch;
    const float *e = exponent;
    const int set = bounces;
    SRFforLanes(b.begin, b.end, [=](int lane) { b.putScalar(lane, set, lafortuneAlbedo(e[lane])); });
}

// e / (e + 1), for diffuse lanes too.
float SRF_Lafortune::specularRatio(int lane) const { return lafortuneSpecularRatio(exponent[lane]); }

void SRF_Lafortune::specularRatioBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Lafortune>())
        return SRF_BSDF::specularRatioBatch(batch);
    const SRF_LaneBatch b = batch;
    const float *e = exponent;
    const int set = bounces;
    SRFforLanes(b.begin, b.end, [=](int lane) { b.putScalar(lane, set, lafortuneSpecularRatio(e[lane])); });
}

// Zero unless u and v lie on the same side of N. Diffuse lane: f = |N.v|.
// Glossy lane: q = Kz uz vz + Ky uy vy + Kx ux vx in the frame (T, B, N),
// f = q^e where q > 0, else 0. scalar = A.
void SRF_Lafortune::evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                             float &scalar, int lane) const
{
    scalar = albedo(u, n, lane);
    colour = lafortuneColour<SRF_StdMath>(normal[lane], coefficients[lane], exponent[lane], u, v);
}

void SRF_Lafortune::evaluateBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Lafortune>())
        return SRF_BSDF::evaluateBatch(batch);
    const SRF_LaneBatch b = batch;
    const BX_Vector3 *nl = normal, *k = coefficients;
    const float *e = exponent;
    const int set = bounces;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const BX_Vector3 colour =
                        lafortuneColour<SRF_LaneMath>(nl[lane], k[lane], e[lane], b.u.get(lane), b.v.get(lane));
                    b.putEvaluate(lane, set, colour, lafortuneAlbedo(e[lane]));
                });
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
    float weight;
    v = lafortuneDirection<SRF_StdMath>(normal[lane], coefficients[lane], exponent[lane], u, n, sx, sy, weight);
    colour = BX_Vector3(weight, weight, weight);
}

void SRF_Lafortune::sampleBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Lafortune>())
        return SRF_BSDF::sampleBatch(batch);
    const SRF_LaneBatch b = batch;
    const BX_Vector3 *nl = normal, *k = coefficients;
    const float *e = exponent;
    const int set = bounces;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    float weight;
                    const BX_Vector3 v = lafortuneDirection<SRF_LaneMath>(
                        nl[lane], k[lane], e[lane], b.u.get(lane), b.n.get(lane), b.sx[lane], b.sy[lane], weight);
                    b.putSample(lane, set, v, BX_Vector3(weight, weight, weight), lafortuneAlbedo(e[lane]), set);
                });
}

void SRF_Lafortune::emissionBatch(const SRF_LaneBatch &batch) const { emitNothingBatch<SRF_Lafortune>(batch); }

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
