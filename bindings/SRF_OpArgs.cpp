#include "SRF_OpArgs.h"

#include "SRF_BSDF.h"

namespace
{
KAL_RefType **refSlot(const KAL_Instance &instance, int k) { return instance.getArg<KAL_RefType *>(k); }

// Lanes the builders fill: the lane array's count, never more than a block
// holds.
int laneCount(const KAL_ProcArray &lanes)
{
    const int count = lanes.getCount();
    return count < 0 ? 0 : (count > KAL_MAX_LANES ? KAL_MAX_LANES : count);
}

// Fills a block of T from argument k, converting each value with `convert`.
// Zeros first; then either the running lanes' own values (varying), or the
// one value in every element (uniform, when `uniformFills` allows it).
template <class T, class Source, class Convert>
T *fillBlock(T *block, int k, const KAL_Instance &instance, const KAL_ProcArray &lanes, bool uniformFills,
             Convert convert)
{
    if (!block)
        return nullptr;
    const int count = laneCount(lanes);
    const KAL_Variable &arg = instance.getArgVariable(k);
    const Source *values = static_cast<const Source *>(arg.myData);
    // Element 0 is always defined, so that a lobe reading its lane-0 value
    // at construction (to choose its bounce set) never reads pool garbage,
    // even on an empty lane array.
    block[0] = T();
    if (arg.isVarying())
    {
        for (int lane = 0; lane < count; ++lane)
            block[lane] = lanes.myState[lane] == 0 ? convert(values[lane]) : T();
    }
    else
    {
        const T value = uniformFills ? convert(values[0]) : T();
        for (int lane = 0; lane < count; ++lane)
            block[lane] = value;
    }
    return block;
}
} // namespace

SRF_BSDF *SRF_OpArgs::getBsdf(const KAL_Instance &instance, int k)
{
    return static_cast<SRF_BSDF *>(*refSlot(instance, k));
}

void SRF_OpArgs::setBsdf(const KAL_Instance &instance, int k, SRF_BSDF *bsdf) { *refSlot(instance, k) = bsdf; }

void SRF_OpArgs::dropBsdf(const KAL_Instance &instance, int k)
{
    KAL_RefType **slot = refSlot(instance, k);
    if (*slot)
        (*slot)->decRefCount();
    *slot = nullptr;
}

float *SRF_OpArgs::floatBlockFromArg(int k, const KAL_Instance &instance, const KAL_ProcArray &lanes)
{
    // A uniform float is taken only when lane 0 runs: a shader that skips
    // lane 0 gets an all-zero block.
    const bool uniformFills = laneCount(lanes) > 0 && lanes.myState[0] == 0;
    return fillBlock<float, float>(SRF_BSDF::allocFloat(), k, instance, lanes, uniformFills, [](float f) { return f; });
}

BX_Vector3 *SRF_OpArgs::vectorBlockFromArg(int k, const KAL_Instance &instance, const KAL_ProcArray &lanes)
{
    return fillBlock<BX_Vector3, BX_Vector3>(SRF_BSDF::allocVector(), k, instance, lanes, true,
                                             [](const BX_Vector3 &v) { return v; });
}

BX_Vector3 *SRF_OpArgs::greyBlockFromArg(int k, const KAL_Instance &instance, const KAL_ProcArray &lanes)
{
    return fillBlock<BX_Vector3, float>(SRF_BSDF::allocVector(), k, instance, lanes, true,
                                        [](float f) { return BX_Vector3(f, f, f); });
}

namespace
{
// Written so that a NaN fails the test.
inline bool nearZero(float f) { return f >= -SRF_OpArgs::NEAR_ZERO && f <= SRF_OpArgs::NEAR_ZERO; }
} // namespace

bool SRF_OpArgs::floatsNearZero(const float *values, int count)
{
    for (int i = 0; i < count; ++i)
        if (!nearZero(values[i]))
            return false;
    return true;
}

bool SRF_OpArgs::vectorsNearZero(const BX_Vector3 *values, int count)
{
    for (int i = 0; i < count; ++i)
        if (!nearZero(values[i].x) || !nearZero(values[i].y) || !nearZero(values[i].z))
            return false;
    return true;
}
