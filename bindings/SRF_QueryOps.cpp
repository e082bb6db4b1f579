#include "SRF_QueryOps.h"

#include "KAL_OpCode.h"
#include "KAL_ProcIterator.h"
#include "SRF_BSDF.h"
#include "SRF_OpFrame.h"

#include <cmath>
#include <initializer_list>

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

// A vector as the op writes it from a batch: a NaN component as the one
// quiet NaN, whose sign the vector variants might otherwise set apart.
inline BX_Vector3 quiet(const BX_Vector3 &c)
{
    return BX_Vector3(c.x == c.x ? c.x : NAN, c.y == c.y ? c.y : NAN, c.z == c.z ? c.z : NAN);
}
inline float quiet(float s) { return s == s ? s : NAN; }

// One op call's lanes as one batch query: the running lanes' inputs gathered
// into arrays (structure of arrays, indexed by lane), the outputs preset,
// and after the query the outputs written back to the running lanes.
// Lanes between the first and last running one that do not run get zero
// inputs and are left alone.
struct OpBatch
{
    int run[KAL_MAX_LANES];
    int mask[KAL_MAX_LANES];
    SRF_LaneVectorArrays u, n, v, colour;
    float sx[KAL_MAX_LANES], sy[KAL_MAX_LANES], scalar[KAL_MAX_LANES];
    int bounce[KAL_MAX_LANES];
    SRF_LaneBatch batch;

    OpBatch()
    {
        batch.run = run;
        batch.mask = mask;
        batch.u = u.lanes();
        batch.n = n.lanes();
        batch.v = v.lanes();
        batch.colour = colour.lanes();
        batch.sx = sx;
        batch.sy = sy;
        batch.scalar = scalar;
        batch.bounce = bounce;
    }

    // Calls read(lane) for every running lane, in order, after presetting
    // every lane of the range; false when no lane runs.
    template <class Read> bool gather(KAL_ProcIterator &it, Read read)
    {
        it.rewind();
        if (it.isDone())
            return false;
        batch.begin = it.getLane();
        int next = batch.begin;
        for (; !it.isDone(); it.advance())
        {
            const int lane = it.getLane();
            for (; next < lane; ++next)
                preset(next, 0);
            preset(lane, 1);
            read(lane);
            next = lane + 1;
        }
        batch.end = next;
        return true;
    }

    void preset(int lane, int running)
    {
        run[lane] = running;
        mask[lane] = 0;
        batch.u.set(lane, ZERO);
        batch.n.set(lane, ZERO);
        batch.v.set(lane, ZERO);
        batch.colour.set(lane, ZERO);
        sx[lane] = sy[lane] = scalar[lane] = 0.0f;
        bounce[lane] = 0;
    }
};

// Whether the op's lanes may be answered as one batch. A batch reads every
// lane's inputs before it writes any output; the per-lane loop reads and
// writes lane by lane. The two differ only when a written argument is a
// uniform variable that the op also reads: a later lane then reads what an
// earlier one wrote. Such a call, and every call in the per-lane mode, runs
// lane by lane.
bool answersAsBatch(const KAL_Instance &instance, std::initializer_list<int> written, std::initializer_list<int> read)
{
    if (SRFbatchMode() == SRF_BATCH_PER_LANE)
        return false;
    for (int w : written)
        for (int r : read)
            if (!instance.isArgVarying(w) && instance.getArgSlot(w) == instance.getArgSlot(r))
                return false;
    return true;
}
} // namespace

// result = (a, a, a), a = albedo(u, n, lane, mask).
int opAlbedo(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    const SRF_BSDF *bsdf = Frame::getBsdf(instance, 1);
    KAL_ProcIterator it(instance, lanes);
    if (bsdf && answersAsBatch(instance, {0}, {2, 3, 4}))
    {
        OpBatch q;
        if (q.gather(it,
                     [&](int lane)
                     {
                         q.batch.u.set(lane, *it.getVector(2));
                         q.batch.n.set(lane, *it.getVector(3));
                         q.mask[lane] = *it.getInt(4);
                     }))
            bsdf->albedoBatch(q.batch);
        for (it.rewind(); !it.isDone(); it.advance())
        {
            const float a = quiet(q.scalar[it.getLane()]);
            *it.getVector(0) = BX_Vector3(a, a, a);
        }
        return Frame::next(instance);
    }
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
    if (bsdf && answersAsBatch(instance, {0}, {2, 3, 4, 5}))
    {
        OpBatch q;
        if (q.gather(it,
                     [&](int lane)
                     {
                         q.batch.u.set(lane, *it.getVector(2));
                         q.batch.n.set(lane, *it.getVector(3));
                         q.batch.v.set(lane, *it.getVector(4));
                         q.mask[lane] = *it.getInt(5);
                     }))
            bsdf->evaluateBatch(q.batch);
        for (it.rewind(); !it.isDone(); it.advance())
            *it.getVector(0) = quiet(q.batch.colour.get(it.getLane()));
        return Frame::next(instance);
    }
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
    if (bsdf && answersAsBatch(instance, {3, 4, 5}, {1, 2, 6, 7, 8}))
    {
        OpBatch q;
        if (q.gather(it,
                     [&](int lane)
                     {
                         q.batch.u.set(lane, *it.getVector(1));
                         q.batch.n.set(lane, *it.getVector(2));
                         q.sx[lane] = clampUnit(*it.getFloat(6));
                         q.sy[lane] = clampUnit(*it.getFloat(7));
                         q.mask[lane] = *it.getInt(8);
                     }))
            bsdf->sampleBatch(q.batch);
        for (it.rewind(); !it.isDone(); it.advance())
        {
            const int lane = it.getLane();
            *it.getVector(3) = quiet(q.batch.v.get(lane));
            *it.getVector(4) = quiet(q.batch.colour.get(lane));
            *it.getInt(5) = q.bounce[lane];
        }
        return Frame::next(instance);
    }
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
    if (bsdf && answersAsBatch(instance, {}, {}))
    {
        OpBatch q;
        if (q.gather(it, [](int) {}))
            bsdf->emissionBatch(q.batch);
        for (it.rewind(); !it.isDone(); it.advance())
            *it.getVector(0) = quiet(q.batch.colour.get(it.getLane()));
        return Frame::next(instance);
    }
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
    if (bsdf && answersAsBatch(instance, {0}, {2}))
    {
        OpBatch q;
        if (q.gather(it, [&](int lane) { q.mask[lane] = *it.getInt(2); }))
            bsdf->specularRatioBatch(q.batch);
        for (it.rewind(); !it.isDone(); it.advance())
            *it.getFloat(0) = quiet(q.scalar[it.getLane()]);
        return Frame::next(instance);
    }
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
    if (bsdf && answersAsBatch(instance, {}, {}))
    {
        OpBatch q;
        if (q.gather(it, [](int) {}))
            bsdf->getBouncesBatch(q.batch);
        for (it.rewind(); !it.isDone(); it.advance())
            *it.getInt(0) = q.bounce[it.getLane()];
        return Frame::next(instance);
    }
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
