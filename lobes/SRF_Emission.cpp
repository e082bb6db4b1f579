#include "SRF_Emission.h"

namespace
{
const BX_Vector3 ZERO(0.0f, 0.0f, 0.0f);
} // namespace

SRF_Emission::SRF_Emission() { bounces = SRF_BOUNCE_EMISSION; }

SRF_Emission::~SRF_Emission() {}

const char *SRF_Emission::className() const { return "SRF_Emission"; }

// A = 0: nothing is scattered.
float SRF_Emission::albedo(const BX_Vector3 &, const BX_Vector3 &, int) const { return 0.0f; }

void SRF_Emission::albedoBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Emission>())
        return SRF_BSDF::albedoBatch(batch);
    const SRF_LaneBatch b = batch;
    const int set = bounces;
    SRFforLanes(b.begin, b.end, [=](int lane) { b.putScalar(lane, set, 0.0f); });
}

float SRF_Emission::specularRatio(int) const { return 0.0f; }

void SRF_Emission::specularRatioBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Emission>())
        return SRF_BSDF::specularRatioBatch(batch);
    const SRF_LaneBatch b = batch;
    const int set = bounces;
    SRFforLanes(b.begin, b.end, [=](int lane) { b.putScalar(lane, set, 0.0f); });
}

// f(u, v) = 0.
void SRF_Emission::evaluate(const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &colour,
                            float &scalar, int) const
{
    colour = ZERO;
    scalar = 0.0f;
}

void SRF_Emission::evaluateBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Emission>())
        return SRF_BSDF::evaluateBatch(batch);
    const SRF_LaneBatch b = batch;
    const int set = bounces;
    SRFforLanes(b.begin, b.end, [=](int lane) { b.putEvaluate(lane, set, ZERO, 0.0f); });
}

// Zero weight; v and bounce keep what the caller put there.
void SRF_Emission::sample(const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &, BX_Vector3 &colour, float &scalar,
                          int &, float, float, int) const
{
    colour = ZERO;
    scalar = 0.0f;
}

// Writes what evaluate writes: zero colour and scalar, v and bounce untouched.
void SRF_Emission::sampleBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Emission>())
        return SRF_BSDF::sampleBatch(batch);
    const SRF_LaneBatch b = batch;
    const int set = bounces;
    SRFforLanes(b.begin, b.end, [=](int lane) { b.putEvaluate(lane, set, ZERO, 0.0f); });
}

// Le = (1, 1, 1) for every lane.
void SRF_Emission::emission(BX_Vector3 &colour, int) const { colour = BX_Vector3(1.0f, 1.0f, 1.0f); }

void SRF_Emission::emissionBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Emission>())
        return SRF_BSDF::emissionBatch(batch);
    const SRF_LaneBatch b = batch;
    SRFforLanes(b.begin, b.end,
                [=](int lane) { b.colour.blend(lane, b.isRunning(lane), BX_Vector3(1.0f, 1.0f, 1.0f)); });
}

SRF_BSDF *SRF_Emission::duplicate(int) const { return new SRF_Emission(); }

void SRF_Emission::flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &, BX_PtrArray<float *> &)
{
    bsdfs.append(this);
}

void SRF_Emission::dump(int indent) const { dumpName(indent); }
