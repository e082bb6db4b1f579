#include "SRF_Isotropic.h"

#include "BX_PolarSample.h"
#include "SRF_LaneMath.h"

namespace
{
const BX_Vector3 ONE(1.0f, 1.0f, 1.0f);

// The direction drawn, over the maths set M (SRF_LaneMath.h).
template <class M> BX_Vector3 isotropicDirection(const BX_Vector3 &u, float sx, float sy)
{
    return BX_PolarSample::about<M>(u, sx, sy);
}
} // namespace

SRF_Isotropic::SRF_Isotropic() { bounces = SRF_BOUNCE_DIFFUSE; }

SRF_Isotropic::~SRF_Isotropic() {}

const char *SRF_Isotropic::className() const { return "SRF_Isotropic"; }

// A = 1: unit value over the whole sphere.
float SRF_Isotropic::albedo(const BX_Vector3 &, const BX_Vector3 &, int) const { return 1.0f; }

void SRF_Isotropic::albedoBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Isotropic>())
        return SRF_BSDF::albedoBatch(batch);
    const SRF_LaneBatch b = batch;
    const int set = bounces;
    SRFforLanes(b.begin, b.end, [=](int lane) { b.putScalar(lane, set, 1.0f); });
}

float SRF_Isotropic::specularRatio(int) const { return 0.0f; }

void SRF_Isotropic::specularRatioBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Isotropic>())
        return SRF_BSDF::specularRatioBatch(batch);
    const SRF_LaneBatch b = batch;
    const int set = bounces;
    SRFforLanes(b.begin, b.end, [=](int lane) { b.putScalar(lane, set, 0.0f); });
}

// f(u, v) = 1 for every v, on either side of the surface.
void SRF_Isotropic::evaluate(const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &colour,
                             float &scalar, int) const
{
    colour = ONE;
    scalar = 1.0f;
}

void SRF_Isotropic::evaluateBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Isotropic>())
        return SRF_BSDF::evaluateBatch(batch);
    const SRF_LaneBatch b = batch;
    const int set = bounces;
    SRFforLanes(b.begin, b.end, [=](int lane) { b.putEvaluate(lane, set, ONE, 1.0f); });
}

// v uniform over the sphere: azimuth 2*pi*sx about u, cos(v, u) = 2 sy - 1.
void SRF_Isotropic::sample(const BX_Vector3 &u, const BX_Vector3 &, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                           int &bounce, float sx, float sy, int) const
{
    v = isotropicDirection<SRF_StdMath>(u, sx, sy);
    colour = ONE;
    scalar = 1.0f;
    bounce = bounces;
}

void SRF_Isotropic::sampleBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Isotropic>())
        return SRF_BSDF::sampleBatch(batch);
    const SRF_LaneBatch b = batch;
    const int set = bounces;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const BX_Vector3 v = isotropicDirection<SRF_LaneMath>(b.u.get(lane), b.sx[lane], b.sy[lane]);
                    b.putSample(lane, set, v, ONE, 1.0f, set);
                });
}

void SRF_Isotropic::emissionBatch(const SRF_LaneBatch &batch) const { emitNothingBatch<SRF_Isotropic>(batch); }

SRF_BSDF *SRF_Isotropic::duplicate(int) const { return new SRF_Isotropic(); }

void SRF_Isotropic::flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &, BX_PtrArray<float *> &)
{
    bsdfs.append(this);
}

void SRF_Isotropic::dump(int indent) const { dumpName(indent); }
