#include "SRF_WireDiffuse.h"

#include "SRF_LaneMath.h"

namespace
{
constexpr float TWO_PI = 6.2831855f;
constexpr float ALBEDO = 0.5f;

// The formulas, written once over the maths set M (SRF_LaneMath.h): the
// per-lane queries call them with the C library, the batch queries with the
// vectorisable set.

float wireDiffuseValue(const BX_Vector3 &t, const BX_Vector3 &v)
{
    const float c = t.dot(v);
    return 1.0f - c * c;
}

// The sampled direction; s receives its sine to T, the weight.
template <class M> BX_Vector3 wireDiffuseDirection(const BX_Vector3 &t, float sx, float sy, float &s)
{
    BX_Vector3 f1, f2;
    t.getFrameOfReference(f1, f2);
    const float phi = TWO_PI * sx;
    const BX_Vector3 p = f1 * M::cos(phi) + f2 * M::sin(phi);
    const float c = 2.0f * sy - 1.0f;
    s = std::sqrt(1.0f - c * c);
    return BX_Vector3(s * p.x + c * t.x, s * p.y + c * t.y, s * p.z + c * t.z);
}
} // namespace

SRF_WireDiffuse::SRF_WireDiffuse(BX_Vector3 *tangent) : tangent(tangent) { bounces = SRF_BOUNCE_DIFFUSE; }

SRF_WireDiffuse::~SRF_WireDiffuse()
{
    if (tangent)
        release(tangent);
}

const char *SRF_WireDiffuse::className() const { return "SRF_WireDiffuse"; }

// A = 1/2.
float SRF_WireDiffuse::albedo(const BX_Vector3 &, const BX_Vector3 &, int) const { return ALBEDO; }

void SRF_WireDiffuse::albedoBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_WireDiffuse>())
        return SRF_BSDF::albedoBatch(batch);
    const SRF_LaneBatch b = batch;
    const int set = bounces;
    SRFforLanes(b.begin, b.end, [=](int lane) { b.putScalar(lane, set, ALBEDO); });
}

float SRF_WireDiffuse::specularRatio(int) const { return 0.0f; }

void SRF_WireDiffuse::specularRatioBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_WireDiffuse>())
        return SRF_BSDF::specularRatioBatch(batch);
    const SRF_LaneBatch b = batch;
    const int set = bounces;
    SRFforLanes(b.begin, b.end, [=](int lane) { b.putScalar(lane, set, 0.0f); });
}

// f(v) = 1 - (T.v)^2 on the whole sphere; scalar = A.
void SRF_WireDiffuse::evaluate(const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &v, BX_Vector3 &colour,
                               float &scalar, int lane) const
{
    scalar = ALBEDO;
    const float k = wireDiffuseValue(tangent[lane], v);
    colour = BX_Vector3(k, k, k);
}

void SRF_WireDiffuse::evaluateBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_WireDiffuse>())
        return SRF_BSDF::evaluateBatch(batch);
    const SRF_LaneBatch b = batch;
    const BX_Vector3 *t = tangent;
    const int set = bounces;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const float k = wireDiffuseValue(t[lane], b.v.get(lane));
                    b.putEvaluate(lane, set, BX_Vector3(k, k, k), ALBEDO);
                });
}

// c = 2 sy - 1 uniform on [-1, 1] along T, azimuth 2 pi sx about T:
// v = s P(phi) + c T with s = sqrt(1 - c^2), uniform over the sphere.
// Weight: the sine s; scalar: A.
void SRF_WireDiffuse::sample(const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                             int &bounce, float sx, float sy, int lane) const
{
    bounce = bounces;
    scalar = ALBEDO;
    float s;
    v = wireDiffuseDirection<SRF_StdMath>(tangent[lane], sx, sy, s);
    colour = BX_Vector3(s, s, s);
}

void SRF_WireDiffuse::sampleBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_WireDiffuse>())
        return SRF_BSDF::sampleBatch(batch);
    const SRF_LaneBatch b = batch;
    const BX_Vector3 *t = tangent;
    const int set = bounces;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    float s;
                    const BX_Vector3 v = wireDiffuseDirection<SRF_LaneMath>(t[lane], b.sx[lane], b.sy[lane], s);
                    b.putSample(lane, set, v, BX_Vector3(s, s, s), ALBEDO, set);
                });
}

void SRF_WireDiffuse::emissionBatch(const SRF_LaneBatch &batch) const { emitNothingBatch<SRF_WireDiffuse>(batch); }

SRF_BSDF *SRF_WireDiffuse::duplicate(int count) const
{
    SRF_WireDiffuse *twin = new SRF_WireDiffuse(copy(tangent, count));
    if (twin && !twin->tangent)
    {
        // The pool ran dry: a lobe without its block could not be queried.
        twin->decRefCount();
        return nullptr;
    }
    return twin;
}

void SRF_WireDiffuse::flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &vectors,
                              BX_PtrArray<float *> &)
{
    bsdfs.append(this);
    vectors.append(tangent);
}

void SRF_WireDiffuse::dump(int indent) const { dumpName(indent); }
