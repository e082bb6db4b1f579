#include "SRF_Ashikhmin.h"

#include "BX_PolarSample.h"
#include "SRF_LaneMath.h"

namespace
{
constexpr float HALF_PI = 1.5707964f;
constexpr float PI = 3.1415927f;
constexpr float TWO_PI = 6.2831855f;
constexpr float INV_TWO_PI = 0.15915494f;

// The formulas, written once over the maths set M (SRF_LaneMath.h): the
// per-lane queries call them with the C library, the batch queries with the
// vectorisable set.

float ashikhminAlbedo(float e1, float e2) { return 1.0f / std::sqrt((e2 + 1.0f) * (e1 + 1.0f)); }

float ashikhminSpecularRatio(float e1, float e2)
{
    const float sum = e2 + e1;
    return sum / (2.0f + sum);
}

// X = t2 x N and Y = N x t1, normalised: X along t1 and Y along t2 for a
// right-handed (t1, t2, N), both perpendicular to N.
void tangentFrame(const BX_Vector3 &nl, const BX_Vector3 &t1, const BX_Vector3 &t2, BX_Vector3 &x, BX_Vector3 &y)
{
    x = t2.cross(nl);
    x.normalize();
    y = nl.cross(t1);
    y.normalize();
}

template <class M>
BX_Vector3 ashikhminColour(const BX_Vector3 &nl, const BX_Vector3 &t1, const BX_Vector3 &t2, float e1, float e2,
                           const BX_Vector3 &u, const BX_Vector3 &v)
{
    BX_Vector3 x, y;
    tangentFrame(nl, t1, t2, x, y);
    BX_Vector3 h = u + v;
    h.normalize();
    const float hx = x.dot(h);
    const float hy = y.dot(h);
    const float hz = nl.dot(h);
    const float p = (e2 * hy * hy + e1 * hx * hx) / (1.0f - hz * hz);
    const float f = hz > 0.0f ? M::pow(hz, p) / (4.0f * h.dot(u)) : 0.0f;
    return BX_Vector3(f, f, f);
}

template <class M> void ashikhminQuadrant(float e1, float e2, float a, float b, float &phi, float &cosTheta)
{
    const float k = std::sqrt((e1 + 1.0f) / (e2 + 1.0f));
    phi = M::atan(k * M::tan(a * HALF_PI));
    const float cosPhi = M::cos(phi);
    const float sinPhi = M::sin(phi);
    cosTheta = M::pow(b, 1.0f / (e1 * cosPhi * cosPhi + e2 * sinPhi * sinPhi + 1.0f));
}

// The sampled direction (before its value is taken).
template <class M>
BX_Vector3 ashikhminDirection(const BX_Vector3 &nl, const BX_Vector3 &t1, const BX_Vector3 &t2, float e1, float e2,
                              const BX_Vector3 &u, const BX_Vector3 &n, float sx, float sy)
{
    BX_Vector3 x, y;
    tangentFrame(nl, t1, t2, x, y);
    // The quadrant of sx, and a for the quadrant's inversion, mirrored in
    // the second and fourth.
    const bool first = sx < 0.25f, second = sx < 0.5f, third = sx < 0.75f;
    const float a =
        first ? 4.0f * sx : (second ? 4.0f * (0.5f - sx) : (third ? 4.0f * (sx - 0.5f) : 4.0f * (1.0f - sx)));
    float phi, cosTheta;
    ashikhminQuadrant<M>(e1, e2, a, sy, phi, cosTheta);
    phi = first ? phi : (second ? PI - phi : (third ? PI + phi : TWO_PI - phi));
    BX_Vector3 h = BX_PolarSample::about<M>(nl, x, y, phi * INV_TWO_PI, (cosTheta + 1.0f) * 0.5f);
    h = h.dot(u) < 0.0f ? -h : h;
    const BX_Vector3 w = -u;
    const BX_Vector3 v = w - h * (2.0f * w.dot(h));
    return SRFsameHemisphere(u, n, v) ? v : v - n * (2.0f * v.dot(n));
}
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
    return ashikhminAlbedo(exponent1[lane], exponent2[lane]);
}

void SRF_Ashikhmin::albedoBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Ashikhmin>())
        return SRF_BSDF::albedoBatch(batch);
    const SRF_LaneBatch b = batch;
    const float *e1 = exponent1, *e2 = exponent2;
    const int set = bounces;
    SRFforLanes(b.begin, b.end, [=](int lane) { b.putScalar(lane, set, ashikhminAlbedo(e1[lane], e2[lane])); });
}

// (e2 + e1) / (2 + e2 + e1).
float SRF_Ashikhmin::specularRatio(int lane) const { return ashikhminSpecularRatio(exponent1[lane], exponent2[lane]); }

void SRF_Ashikhmin::specularRatioBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Ashikhmin>())
        return SRF_BSDF::specularRatioBatch(batch);
    const SRF_LaneBatch b = batch;
    const float *e1 = exponent1, *e2 = exponent2;
    const int set = bounces;
    SRFforLanes(b.begin, b.end, [=](int lane) { b.putScalar(lane, set, ashikhminSpecularRatio(e1[lane], e2[lane])); });
}

// H = (u + v) / |u + v| with local components (hx, hy, hz) in (X, Y, N);
// p = (e2 hy^2 + e1 hx^2) / (1 - hz^2); f = hz^p / (4 H.u) where hz > 0,
// else 0; scalar = A. Only hz gates the value: no side test of u or v.
void SRF_Ashikhmin::evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                             float &scalar, int lane) const
{
    scalar = albedo(u, n, lane);
    colour = ashikhminColour<SRF_StdMath>(normal[lane], tangent1[lane], tangent2[lane], exponent1[lane],
                                          exponent2[lane], u, v);
}

void SRF_Ashikhmin::evaluateBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Ashikhmin>())
        return SRF_BSDF::evaluateBatch(batch);
    const SRF_LaneBatch b = batch;
    const BX_Vector3 *nl = normal, *t1 = tangent1, *t2 = tangent2;
    const float *e1 = exponent1, *e2 = exponent2;
    const int set = bounces;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const BX_Vector3 colour = ashikhminColour<SRF_LaneMath>(nl[lane], t1[lane], t2[lane], e1[lane],
                                                                            e2[lane], b.u.get(lane), b.v.get(lane));
                    b.putEvaluate(lane, set, colour, ashikhminAlbedo(e1[lane], e2[lane]));
                });
}

// With k = sqrt((e1 + 1) / (e2 + 1)): phi = atan(k tan(a pi/2)) and
// cos(theta) = b^(1 / (e1 cos^2 phi + e2 sin^2 phi + 1)), which draws H with
// pdf(H) = sqrt((e1 + 1)(e2 + 1)) / (2 pi) (N.H)^(e1 cos^2 phi + e2 sin^2 phi)
// over the quadrant.
void SRF_Ashikhmin::sampleFirstQuadrant(float a, float b, float &phi, float &cosTheta, int lane) const
{
    ashikhminQuadrant<SRF_StdMath>(exponent1[lane], exponent2[lane], a, b, phi, cosTheta);
}

// sx picks the quadrant of the azimuth and, rescaled, a for the quadrant's
// inversion (mirrored in the second and fourth quadrants); sy is b. H is
// turned toward u, v = 2 (u.H) H - u is folded across n when it lands on the
// other side of n than u, and the weight and scalar are the lobe's value
// for the final v.
void SRF_Ashikhmin::sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                           int &bounce, float sx, float sy, int lane) const
{
    bounce = bounces;
    v = ashikhminDirection<SRF_StdMath>(normal[lane], tangent1[lane], tangent2[lane], exponent1[lane], exponent2[lane],
                                        u, n, sx, sy);
    evaluate(u, n, v, colour, scalar, lane);
}

void SRF_Ashikhmin::sampleBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Ashikhmin>())
        return SRF_BSDF::sampleBatch(batch);
    const SRF_LaneBatch b = batch;
    const BX_Vector3 *nl = normal, *t1 = tangent1, *t2 = tangent2;
    const float *e1 = exponent1, *e2 = exponent2;
    const int set = bounces;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const BX_Vector3 u = b.u.get(lane);
                    const BX_Vector3 v = ashikhminDirection<SRF_LaneMath>(
                        nl[lane], t1[lane], t2[lane], e1[lane], e2[lane], u, b.n.get(lane), b.sx[lane], b.sy[lane]);
                    const BX_Vector3 colour =
                        ashikhminColour<SRF_LaneMath>(nl[lane], t1[lane], t2[lane], e1[lane], e2[lane], u, v);
                    b.putSample(lane, set, v, colour, ashikhminAlbedo(e1[lane], e2[lane]), set);
                });
}

void SRF_Ashikhmin::emissionBatch(const SRF_LaneBatch &batch) const { emitNothingBatch<SRF_Ashikhmin>(batch); }

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
