#include "SRF_Phong.h"

#include "BX_PolarSample.h"
#include "SRF_LaneMath.h"

namespace
{
// Below this disk radius the point is taken as the centre: dividing by r
// would only amplify rounding.
constexpr float DISK_CENTRE = 0.0001f;

// The formulas, written once over the maths set M (SRF_LaneMath.h): the
// per-lane queries call them with the C library, the batch queries with the
// vectorisable set.

float phongAlbedo(float e) { return 1.0f / (e + 1.0f); }

float phongSpecularRatio(float e) { return e / (e + 1.0f); }

template <class M> BX_Vector3 phongColour(const BX_Vector3 &d, float e, const BX_Vector3 &n, const BX_Vector3 &v)
{
    const float cosAxis = d.dot(v);
    const bool lit = !(n.dot(v) <= 0.0f) & !(cosAxis <= 0.0f);
    const float c = lit ? M::pow(cosAxis, e) : 0.0f;
    return BX_Vector3(c, c, c);
}

// The sampled direction; r2 receives the disk point's squared radius.
template <class M>
BX_Vector3 phongDirection(const BX_Vector3 &d, float e, const BX_Vector3 &n, float sx, float sy, float &r2)
{
    const BX_Vector3 m = d.dot(n) < 0.0f ? -n : n;
    float x, y;
    BX_PolarSample::computeDisk2<M>(sx, sy, x, y);
    r2 = x * x + y * y;
    const float r = std::sqrt(r2);
    const bool offCentre = r > DISK_CENTRE;
    const float inv = 1.0f / r;
    const float c = offCentre ? M::pow(r2, 1.0f / (e + 1.0f)) : 0.0f;
    const float s = offCentre ? M::sinOfAcos(c) : r;
    x = offCentre ? (x * inv) * s : x;
    y = offCentre ? (y * inv) * s : y;
    BX_Vector3 f1, f2;
    d.getFrameOfReference(f1, f2);
    const BX_Vector3 v = (f1 * x + f2 * y) + d * std::sqrt(1.0f - s * s);
    return SRFsameHemisphere(d, n, v) ? v : v - m * (2.0f * v.dot(m));
}
} // namespace

SRF_Phong::SRF_Phong(BX_Vector3 *axis, float *exponent) : axis(axis), exponent(exponent)
{
    bounces = SRF_BOUNCE_GLOSSY;
}

SRF_Phong::~SRF_Phong()
{
    if (exponent)
        release(exponent);
    if (axis)
        release(axis);
}

const char *SRF_Phong::className() const { return "SRF_Phong"; }

// A = 1 / (e + 1).
float SRF_Phong::albedo(const BX_Vector3 &, const BX_Vector3 &, int lane) const { return phongAlbedo(exponent[lane]); }

void SRF_Phong::albedoBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Phong>())
        return SRF_BSDF::albedoBatch(batch);
    const SRF_LaneBatch b = batch;
    const float *e = exponent;
    const int set = bounces;
    SRFforLanes(b.begin, b.end, [=](int lane) { b.putScalar(lane, set, phongAlbedo(e[lane])); });
}

// e / (e + 1).
float SRF_Phong::specularRatio(int lane) const { return phongSpecularRatio(exponent[lane]); }

void SRF_Phong::specularRatioBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Phong>())
        return SRF_BSDF::specularRatioBatch(batch);
    const SRF_LaneBatch b = batch;
    const float *e = exponent;
    const int set = bounces;
    SRFforLanes(b.begin, b.end, [=](int lane) { b.putScalar(lane, set, phongSpecularRatio(e[lane])); });
}

// f(v) = (D.v)^e where n.v > 0 and D.v > 0, else 0; scalar = A.
void SRF_Phong::evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                         float &scalar, int lane) const
{
    scalar = albedo(u, n, lane);
    colour = phongColour<SRF_StdMath>(axis[lane], exponent[lane], n, v);
}

void SRF_Phong::evaluateBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Phong>())
        return SRF_BSDF::evaluateBatch(batch);
    const SRF_LaneBatch b = batch;
    const BX_Vector3 *d = axis;
    const float *e = exponent;
    const int set = bounces;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const BX_Vector3 colour = phongColour<SRF_LaneMath>(d[lane], e[lane], b.n.get(lane), b.v.get(lane));
                    b.putEvaluate(lane, set, colour, phongAlbedo(e[lane]));
                });
}

// A uniform disk point (x, y) of radius r gives xi = r^2 uniform on [0, 1];
// cos(v, D) = xi^(1/(e+1)) draws pdf(v) = (e+1)/(2 pi) (D.v)^e, the azimuth
// is the disk point's. v = sin * (x F1 + y F2) + cos * D, folded across the
// normal turned toward D when it lands on the other side of n than D.
// Weight: r^2; scalar: A.
void SRF_Phong::sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                       int &bounce, float sx, float sy, int lane) const
{
    bounce = bounces;
    scalar = albedo(u, n, lane);
    float r2;
    v = phongDirection<SRF_StdMath>(axis[lane], exponent[lane], n, sx, sy, r2);
    colour = BX_Vector3(r2, r2, r2);
}

void SRF_Phong::sampleBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Phong>())
        return SRF_BSDF::sampleBatch(batch);
    const SRF_LaneBatch b = batch;
    const BX_Vector3 *d = axis;
    const float *e = exponent;
    const int set = bounces;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    float r2;
                    const BX_Vector3 v =
                        phongDirection<SRF_LaneMath>(d[lane], e[lane], b.n.get(lane), b.sx[lane], b.sy[lane], r2);
                    b.putSample(lane, set, v, BX_Vector3(r2, r2, r2), phongAlbedo(e[lane]), set);
                });
}

void SRF_Phong::emissionBatch(const SRF_LaneBatch &batch) const { emitNothingBatch<SRF_Phong>(batch); }

SRF_BSDF *SRF_Phong::duplicate(int count) const
{
    SRF_Phong *twin = new SRF_Phong(copy(axis, count), copy(exponent, count));
    if (twin && (!twin->axis || !twin->exponent))
    {
        // The pool ran dry: a lobe without its blocks could not be queried.
        twin->decRefCount();
        return nullptr;
    }
    return twin;
}

void SRF_Phong::flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &vectors,
                        BX_PtrArray<float *> &floats)
{
    bsdfs.append(this);
    vectors.append(axis);
    floats.append(exponent);
}

void SRF_Phong::dump(int indent) const { dumpName(indent); }
