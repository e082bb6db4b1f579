#include "SRF_QueryOps.h"

#include "KAL_OpCode.h"
#include "KAL_ProcIterator.h"
#include "SRF_BSDF.h"
#include "SRF_OpFrame.h"

namespace
{
using Frame = SRF_OpFrame;

const BX_Vector3 ZERO(0.0f, 0.0f, 0.0f);

// The number of scattering bounce types: diffuse, glossy, specular.
const int SCATTERING_TYPES = 3;

// A random number of sample_bsdf kept in [0, 1]; a NaN passes unchanged.
inline float clampUnit(float s)
{
    if (s <= 0.0f)
        return 0.0f;
    if (s >= 1.0f)
        return 1.0f;
    return s;
}
} // namespace

// result = (a, a, a), a = albedo(u, n, lane, mask).
int opAlbedo(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    const SRF_BSDF *bsdf = Frame::getBsdf(instance, 1);
    KAL_ProcIterator it(instance, lanes);
    for (it.rewind(); !it.isDone(); it.advance())
    {
        const BX_Vector3 u = *it.getVector(2);
        const BX_Vector3 n = *it.getVector(3);
        const int mask = *it.getInt(4);
        const float a = bsdf ? bsdf->albedo(u, n, it.getLane(), mask) : 0.0f;
        *it.getVector(0) = BX_Vector3(a, a, a);
    }
    return Frame::next(instance);
}

// colour = f(u, v) for the lane; the output scalar is dropped.
int opEvalBsdf(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    const SRF_BSDF *bsdf = Frame::getBsdf(instance, 1);
    KAL_ProcIterator it(instance, lanes);
    for (it.rewind(); !it.isDone(); it.advance())
    {
        const BX_Vector3 u = *it.getVector(2);
        const BX_Vector3 n = *it.getVector(3);
        const BX_Vector3 v = *it.getVector(4);
        const int mask = *it.getInt(5);
        BX_Vector3 colour = ZERO;
        float scalar = 0.0f;
        if (bsdf)
            bsdf->evaluate(u, n, v, colour, scalar, it.getLane(), mask);
        *it.getVector(0) = colour;
    }
    return Frame::next(instance);
}

// Draws a direction for the lane from the clamped random numbers. A null
// BSDF, or a mask foreign to it, leaves the presets: zero direction, zero
// colour, bounce type 0.
int opSampleBsdf(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    const SRF_BSDF *bsdf = Frame::getBsdf(instance, 0);
    KAL_ProcIterator it(instance, lanes);
    for (it.rewind(); !it.isDone(); it.advance())
    {
        const BX_Vector3 u = *it.getVector(1);
        const BX_Vector3 n = *it.getVector(2);
        const float sx = clampUnit(*it.getFloat(6));
        const float sy = clampUnit(*it.getFloat(7));
        const int mask = *it.getInt(8);
        BX_Vector3 v = ZERO;
        BX_Vector3 colour = ZERO;
        float scalar = 0.0f;
        int bounce = 0;
        if (bsdf)
            bsdf->sample(u, n, v, colour, scalar, bounce, sx, sy, it.getLane(), mask);
        *it.getVector(3) = v;
        *it.getVector(4) = colour;
        *it.getInt(5) = bounce;
    }
    return Frame::next(instance);
}

int opEmissionBsdf(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    const SRF_BSDF *bsdf = Frame::getBsdf(instance, 1);
    KAL_ProcIterator it(instance, lanes);
    for (it.rewind(); !it.isDone(); it.advance())
    {
        BX_Vector3 colour = ZERO;
        if (bsdf)
            bsdf->emission(colour, it.getLane());
        *it.getVector(0) = colour;
    }
    return Frame::next(instance);
}

int opSpecularRatioBsdf(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    const SRF_BSDF *bsdf = Frame::getBsdf(instance, 1);
    KAL_ProcIterator it(instance, lanes);
    for (it.rewind(); !it.isDone(); it.advance())
    {
        const int mask = *it.getInt(2);
        *it.getFloat(0) = bsdf ? bsdf->specularRatio(it.getLane(), mask) : 0.0f;
    }
    return Frame::next(instance);
}

// The virtual per-lane form, so that a BSDF choosing its operand per lane
// answers for that lane.
int opGetBounces(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    const SRF_BSDF *bsdf = Frame::getBsdf(instance, 1);
    KAL_ProcIterator it(instance, lanes);
    for (it.rewind(); !it.isDone(); it.advance())
        *it.getInt(0) = bsdf ? bsdf->getBounces(it.getLane()) : 0;
    return Frame::next(instance);
}

int opNBounceTypes(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    KAL_ProcIterator it(instance, lanes);
    for (it.rewind(); !it.isDone(); it.advance())
        *it.getInt(0) = SCATTERING_TYPES;
    return Frame::next(instance);
}

const int *sampleBsdfWrittenArgs()
{
    static const int written[] = {3, 4, 5, KAL_ARGS_END};
    return written;
}
