#include "SRF_Specular.h"

namespace
{
// The weight of a sampled delta: large enough to stand for "infinitely
// concentrated" against every finite lobe it is mixed with.
constexpr float DELTA_WEIGHT = 1e6f;
} // namespace

SRF_Specular::SRF_Specular(BX_Vector3 *direction) : direction(direction) { bounces = SRF_BOUNCE_SPECULAR; }

SRF_Specular::~SRF_Specular()
{
    if (direction)
        release(direction);
}

const char *SRF_Specular::className() const { return "SRF_Specular"; }

// A = 1: the delta sends everything one way.
float SRF_Specular::albedo(const BX_Vector3 &, const BX_Vector3 &, int) const { return 1.0f; }

void SRF_Specular::albedoBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Specular>())
        return SRF_BSDF::albedoBatch(batch);
    const SRF_LaneBatch b = batch;
    const int set = bounces;
    SRFforLanes(b.begin, b.end, [=](int lane) { b.putScalar(lane, set, 1.0f); });
}

float SRF_Specular::specularRatio(int) const { return 1.0f; }

void SRF_Specular::specularRatioBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Specular>())
        return SRF_BSDF::specularRatioBatch(batch);
    const SRF_LaneBatch b = batch;
    const int set = bounces;
    SRFforLanes(b.begin, b.end, [=](int lane) { b.putScalar(lane, set, 1.0f); });
}

// f(u, v) = 0 for every v: a direction chosen elsewhere never hits the delta.
void SRF_Specular::evaluate(const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &colour,
                            float &scalar, int) const
{
    colour = BX_Vector3(0.0f, 0.0f, 0.0f);
    scalar = 1.0f;
}

void SRF_Specular::evaluateBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Specular>())
        return SRF_BSDF::evaluateBatch(batch);
    const SRF_LaneBatch b = batch;
    const int set = bounces;
    SRFforLanes(b.begin, b.end, [=](int lane) { b.putEvaluate(lane, set, BX_Vector3(0.0f, 0.0f, 0.0f), 1.0f); });
}

// v = d / |d| for the lane's direction d, weight 1e6; not folded or tested
// against the surface.
void SRF_Specular::sample(const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                          int &bounce, float, float, int lane) const
{
    v = direction[lane];
    v.normalize();
    bounce = bounces;
    colour = BX_Vector3(DELTA_WEIGHT, DELTA_WEIGHT, DELTA_WEIGHT);
    scalar = 1.0f;
}

void SRF_Specular::sampleBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Specular>())
        return SRF_BSDF::sampleBatch(batch);
    const SRF_LaneBatch b = batch;
    const BX_Vector3 *d = direction;
    const int set = bounces;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    BX_Vector3 v = d[lane];
                    v.normalize();
                    b.putSample(lane, set, v, BX_Vector3(DELTA_WEIGHT, DELTA_WEIGHT, DELTA_WEIGHT), 1.0f, set);
                });
}

void SRF_Specular::emissionBatch(const SRF_LaneBatch &batch) const { emitNothingBatch<SRF_Specular>(batch); }

SRF_BSDF *SRF_Specular::duplicate(int count) const
{
    SRF_Specular *twin = new SRF_Specular(copy(direction, count));
    if (twin && !twin->direction)
    {
        // The pool ran dry: a lobe without its block could not be queried.
        twin->decRefCount();
        return nullptr;
    }
    return twin;
}

void SRF_Specular::flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &vectors, BX_PtrArray<float *> &)
{
    bsdfs.append(this);
    vectors.append(direction);
}

void SRF_Specular::dump(int indent) const { dumpName(indent); }
