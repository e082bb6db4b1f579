#include "SRF_BSDF.h"

#include "KAL_DataPool.h"

#include <cassert>
#include <cstdio>
#include <cstring>

SRF_BSDF::SRF_BSDF() : bounces(0) {}

SRF_BSDF::~SRF_BSDF() {}

const char *SRF_BSDF::className() const { return "SRF_BSDF"; }

bool SRF_BSDF::isEqual(const KAL_RefType &other, float) const
{
    return std::strcmp(other.className(), className()) == 0;
}

int SRF_BSDF::getBounces(int) const { return bounces; }

void SRF_BSDF::sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                      int &bounce, float sx, float sy, int lane, int mask) const
{
    if (!(bounces & mask))
    {
        colour = BX_Vector3(0.0f, 0.0f, 0.0f);
        scalar = 0.0f;
        return;
    }
    sample(u, n, v, colour, scalar, bounce, sx, sy, lane);
}

float SRF_BSDF::albedo(const BX_Vector3 &u, const BX_Vector3 &n, int lane, int mask) const
{
    return (bounces & mask) ? albedo(u, n, lane) : 0.0f;
}

void SRF_BSDF::evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                        float &scalar, int lane, int mask) const
{
    if (!(bounces & mask))
    {
        colour = BX_Vector3(0.0f, 0.0f, 0.0f);
        scalar = 0.0f;
        return;
    }
    evaluate(u, n, v, colour, scalar, lane);
}

float SRF_BSDF::specularRatio(int lane, int mask) const { return (bounces & mask) ? specularRatio(lane) : 0.0f; }

void SRF_BSDF::emission(BX_Vector3 &colour, int) const { colour = BX_Vector3(0.0f, 0.0f, 0.0f); }

float SRF_BSDF::pdf(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, int lane, int mask) const
{
    BX_Vector3 value;
    float density = 0.0f;
    evaluatePdf(u, n, v, value, density, lane, mask);
    return density;
}

void SRF_BSDF::evaluatePdf(const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &value, float &pdf,
                           int, int) const
{
    value = BX_Vector3(0.0f, 0.0f, 0.0f);
    pdf = 0.0f;
}

void SRF_BSDF::dump(int indent) const { fprintf(stderr, "%*cno dump function defined\n", indent, ' '); }

void SRF_BSDF::dumpName(int indent) const { fprintf(stderr, "%*c%s\n", indent, ' ', className()); }

BX_Vector3 *SRF_BSDF::allocVector()
{
    return static_cast<BX_Vector3 *>(KAL_DataPool::getDataPool().alloc(KAL_DataPool::VECTOR));
}

float *SRF_BSDF::allocFloat() { return static_cast<float *>(KAL_DataPool::getDataPool().alloc(KAL_DataPool::FLOAT)); }

int *SRF_BSDF::allocInteger() { return static_cast<int *>(KAL_DataPool::getDataPool().alloc(KAL_DataPool::INT)); }

void SRF_BSDF::release(BX_Vector3 *block) { KAL_DataPool::getDataPool().release(block, KAL_DataPool::VECTOR); }

void SRF_BSDF::release(float *block) { KAL_DataPool::getDataPool().release(block, KAL_DataPool::FLOAT); }

void SRF_BSDF::release(int *block) { KAL_DataPool::getDataPool().release(block, KAL_DataPool::INT); }

namespace
{
// Copies `count` elements (clamped to the block's room) into a new block.
template <class T> T *copyBlock(T *block, const T *from, int count)
{
    if (block && from && count > 0)
        std::memcpy(block, from, sizeof(T) * (count < KAL_MAX_LANES ? count : KAL_MAX_LANES));
    return block;
}
} // namespace

BX_Vector3 *SRF_BSDF::copy(const BX_Vector3 *from, int count) const { return copyBlock(allocVector(), from, count); }

float *SRF_BSDF::copy(const float *from, int count) const { return copyBlock(allocFloat(), from, count); }

int *SRF_BSDF::copy(const int *from, int count) const { return copyBlock(allocInteger(), from, count); }

bool SRF_BSDF::sameHemisphere(const BX_Vector3 &a, const BX_Vector3 &normal, const BX_Vector3 &b) const
{
    return SRFsameHemisphere(a, normal, b);
}

float SRF_BSDF::cosine(const BX_Vector3 &a, const BX_Vector3 &b) const
{
    return std::fabs(a.z * b.z + a.y * b.y + a.x * b.x);
}

// The batch queries of a class that has none of its own: each running lane
// asks the per-lane virtual query, masked or mask-free as the batch asks.

namespace
{
BX_Vector3 canonical(const BX_Vector3 &v)
{
    return BX_Vector3(SRF_LaneBatch::canonical(v.x), SRF_LaneBatch::canonical(v.y), SRF_LaneBatch::canonical(v.z));
}
} // namespace

void SRF_BSDF::sampleBatch(const SRF_LaneBatch &b) const
{
    assert(!b.outputsAliasInputs(true));
    for (int lane = b.begin; lane < b.end; ++lane)
    {
        if (!b.isRunning(lane))
            continue;
        BX_Vector3 v = b.v.get(lane), colour = b.colour.get(lane);
        if (b.maskFree)
            sample(b.u.get(lane), b.n.get(lane), v, colour, b.scalar[lane], b.bounce[lane], b.sx[lane], b.sy[lane],
                   lane);
        else
            sample(b.u.get(lane), b.n.get(lane), v, colour, b.scalar[lane], b.bounce[lane], b.sx[lane], b.sy[lane],
                   lane, b.mask[lane]);
        b.v.set(lane, canonical(v));
        b.colour.set(lane, canonical(colour));
        b.scalar[lane] = SRF_LaneBatch::canonical(b.scalar[lane]);
    }
}

void SRF_BSDF::evaluateBatch(const SRF_LaneBatch &b) const
{
    assert(!b.outputsAliasInputs(false));
    for (int lane = b.begin; lane < b.end; ++lane)
    {
        if (!b.isRunning(lane))
            continue;
        BX_Vector3 colour = b.colour.get(lane);
        if (b.maskFree)
            evaluate(b.u.get(lane), b.n.get(lane), b.v.get(lane), colour, b.scalar[lane], lane);
        else
            evaluate(b.u.get(lane), b.n.get(lane), b.v.get(lane), colour, b.scalar[lane], lane, b.mask[lane]);
        b.colour.set(lane, canonical(colour));
        b.scalar[lane] = SRF_LaneBatch::canonical(b.scalar[lane]);
    }
}

void SRF_BSDF::albedoBatch(const SRF_LaneBatch &b) const
{
    assert(!b.outputsAliasInputs(false));
    for (int lane = b.begin; lane < b.end; ++lane)
        if (b.isRunning(lane))
            b.scalar[lane] =
                SRF_LaneBatch::canonical(b.maskFree ? albedo(b.u.get(lane), b.n.get(lane), lane)
                                                    : albedo(b.u.get(lane), b.n.get(lane), lane, b.mask[lane]));
}

void SRF_BSDF::specularRatioBatch(const SRF_LaneBatch &b) const
{
    assert(!b.outputsAliasInputs(false));
    for (int lane = b.begin; lane < b.end; ++lane)
        if (b.isRunning(lane))
            b.scalar[lane] =
                SRF_LaneBatch::canonical(b.maskFree ? specularRatio(lane) : specularRatio(lane, b.mask[lane]));
}

void SRF_BSDF::emissionBatch(const SRF_LaneBatch &b) const
{
    assert(!b.outputsAliasInputs(false));
    for (int lane = b.begin; lane < b.end; ++lane)
    {
        if (!b.isRunning(lane))
            continue;
        BX_Vector3 colour = b.colour.get(lane);
        emission(colour, lane);
        b.colour.set(lane, canonical(colour));
    }
}

void SRF_BSDF::getBouncesBatch(const SRF_LaneBatch &b) const
{
    assert(!b.outputsAliasInputs(false));
    for (int lane = b.begin; lane < b.end; ++lane)
        if (b.isRunning(lane))
            b.bounce[lane] = getBounces(lane);
}

void SRF_BSDF::pdfBatch(const SRF_LaneBatch &b) const
{
    assert(!b.outputsAliasInputs(false));
    for (int lane = b.begin; lane < b.end; ++lane)
        if (b.isRunning(lane))
            b.scalar[lane] =
                SRF_LaneBatch::canonical(pdf(b.u.get(lane), b.n.get(lane), b.v.get(lane), lane, b.maskOf(lane)));
}

void SRF_BSDF::evaluatePdfBatch(const SRF_LaneBatch &b) const
{
    assert(!b.outputsAliasInputs(false));
    for (int lane = b.begin; lane < b.end; ++lane)
    {
        if (!b.isRunning(lane))
            continue;
        BX_Vector3 value;
        evaluatePdf(b.u.get(lane), b.n.get(lane), b.v.get(lane), value, b.scalar[lane], lane, b.maskOf(lane));
        b.colour.set(lane, canonical(value));
        b.scalar[lane] = SRF_LaneBatch::canonical(b.scalar[lane]);
    }
}
