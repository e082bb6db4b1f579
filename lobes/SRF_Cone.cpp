#include "SRF_Cone.h"

#include "BX_PolarSample.h"
#include "SRF_LaneMath.h"

namespace
{
// The formulas, written once over the maths set M (SRF_LaneMath.h): the
// per-lane queries call them with the C library, the batch queries with the
// vectorisable set.

template <class M> float coneAlbedo(float alpha) { return 1.0f - M::cos(alpha); }

template <class M> float coneSpecularRatio(float alpha) { return M::cos(alpha); }

template <class M> BX_Vector3 coneColour(const BX_Vector3 &d, float alpha, const BX_Vector3 &n, const BX_Vector3 &v)
{
    const BX_Vector3 m = d.dot(n) < 0.0f ? -n : n;
    const bool inside = (m.dot(v) > 0.0f) & (d.dot(v) > M::cos(alpha));
    return inside ? BX_Vector3(1.0f, 1.0f, 1.0f) : BX_Vector3(0.0f, 0.0f, 0.0f);
}

template <class M> BX_Vector3 coneDirection(const BX_Vector3 &d, float alpha, const BX_Vector3 &n, float sx, float sy)
{
    const float sinAlpha = M::sin(alpha);
    const BX_Vector3 m = d.dot(n) < 0.0f ? -n : n;
    float x, y;
    BX_PolarSample::computeDisk2<M>(sx, sy, x, y);
    x *= sinAlpha;
    y *= sinAlpha;
    const float z = std::sqrt(1.0f - x * x - y * y);
    BX_Vector3 f1, f2;
    d.getFrameOfReference(f1, f2);
    const BX_Vector3 v = (f1 * x + f2 * y) + d * z;
    return SRFsameHemisphere(d, n, v) ? v : v - m * (2.0f * v.dot(m));
}
} // namespace

SRF_Cone::SRF_Cone(BX_Vector3 *axis, float *halfAngle) : axis(axis), halfAngle(halfAngle)
{
    bounces = SRF_BOUNCE_GLOSSY;
}

SRF_Cone::~SRF_Cone()
{
    if (halfAngle)
        release(halfAngle);
    if (axis)
        release(axis);
}

const char *SRF_Cone::className() const { return "SRF_Cone"; }

// A = 1 - cos(alpha): the cone's solid angle over 2 pi.
float SRF_Cone::albedo(const BX_Vector3 &, const BX_Vector3 &, int lane) const
{
    return coneAlbedo<SRF_StdMath>(halfAngle[lane]);
}

void SRF_Cone::albedoBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Cone>())
        return SRF_BSDF::albedoBatch(batch);
    const SRF_LaneBatch b = batch;
    const float *alpha = halfAngle;
    const int set = bounces;
    SRFforLanes(b.begin, b.end, [=](int lane) { b.putScalar(lane, set, coneAlbedo<SRF_LaneMath>(alpha[lane])); });
}

// cos(alpha).
float SRF_Cone::specularRatio(int lane) const { return coneSpecularRatio<SRF_StdMath>(halfAngle[lane]); }

void SRF_Cone::specularRatioBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Cone>())
        return SRF_BSDF::specularRatioBatch(batch);
    const SRF_LaneBatch b = batch;
    const float *alpha = halfAngle;
    const int set = bounces;
    SRFforLanes(b.begin, b.end,
                [=](int lane) { b.putScalar(lane, set, coneSpecularRatio<SRF_LaneMath>(alpha[lane])); });
}

// f(v) = 1 where m.v > 0 and D.v > cos(alpha), both strict, else 0, with m
// the normal turned toward D; scalar = A, the lobe's own albedo.
void SRF_Cone::evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                        float &scalar, int lane) const
{
    scalar = albedo(u, n, lane);
    colour = coneColour<SRF_StdMath>(axis[lane], halfAngle[lane], n, v);
}

void SRF_Cone::evaluateBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Cone>())
        return SRF_BSDF::evaluateBatch(batch);
    const SRF_LaneBatch b = batch;
    const BX_Vector3 *d = axis;
    const float *alpha = halfAngle;
    const int set = bounces;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const BX_Vector3 colour =
                        coneColour<SRF_LaneMath>(d[lane], alpha[lane], b.n.get(lane), b.v.get(lane));
                    b.putEvaluate(lane, set, colour, coneAlbedo<SRF_LaneMath>(alpha[lane]));
                });
}

// (x, y) = sin(alpha) * (uniform unit-disk point), z = sqrt(1 - x^2 - y^2),
// v = x F1 + y F2 + z D: pdf(v) = (D.v) / (pi sin^2 alpha) inside the cone
// (alpha <= pi/2). v is folded across the normal turned toward D when it
// lands on the other side of n than D. Weight: 1; scalar: A, the lobe's own
// albedo.
void SRF_Cone::sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                      int &bounce, float sx, float sy, int lane) const
{
    bounce = bounces;
    scalar = albedo(u, n, lane);
    v = coneDirection<SRF_StdMath>(axis[lane], halfAngle[lane], n, sx, sy);
    colour = BX_Vector3(1.0f, 1.0f, 1.0f);
}

void SRF_Cone::sampleBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Cone>())
        return SRF_BSDF::sampleBatch(batch);
    const SRF_LaneBatch b = batch;
    const BX_Vector3 *d = axis;
    const float *alpha = halfAngle;
    const int set = bounces;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const BX_Vector3 v =
                        coneDirection<SRF_LaneMath>(d[lane], alpha[lane], b.n.get(lane), b.sx[lane], b.sy[lane]);
                    b.putSample(lane, set, v, BX_Vector3(1.0f, 1.0f, 1.0f), coneAlbedo<SRF_LaneMath>(alpha[lane]), set);
                });
}

void SRF_Cone::emissionBatch(const SRF_LaneBatch &batch) const { emitNothingBatch<SRF_Cone>(batch); }

SRF_BSDF *SRF_Cone::duplicate(int count) const
{
    SRF_Cone *twin = new SRF_Cone(copy(axis, count), copy(halfAngle, count));
    if (twin && (!twin->axis || !twin->halfAngle))
    {
        // The pool ran dry: a lobe without its blocks could not be queried.
        twin->decRefCount();
        return nullptr;
    }
    return twin;
}

void SRF_Cone::flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &vectors, BX_PtrArray<float *> &floats)
{
    bsdfs.append(this);
    vectors.append(axis);
    floats.append(halfAngle);
}

void SRF_Cone::dump(int indent) const { dumpName(indent); }
