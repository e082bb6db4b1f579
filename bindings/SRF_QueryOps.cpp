#include "SRF_QueryOps.h"

#include "KAL_OpCode.h"
#include "KAL_ProcIterator.h"
#include "SRF_BSDF.h"
#include "SRF_LaneLoops.h"
#include "SRF_OpArgs.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace
{
using Args = SRF_OpArgs;

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

// to = write ? value : to, component by component, so that a lane loop
// vectorises it.
inline void keepOrSet(float &to, bool write, float value) { to = write ? value : to; }
inline void keepOrSet(int &to, bool write, int value) { to = write ? value : to; }
inline void keepOrSet(BX_Vector3 &to, bool write, const BX_Vector3 &value)
{
    keepOrSet(to.x, write, value.x);
    keepOrSet(to.y, write, value.y);
    keepOrSet(to.z, write, value.z);
}

// One op call's lanes as one batch query (structure of arrays, indexed by
// lane) over the range from the first to the last running lane: the inputs
// of the range read from the arguments' storage (a lane that does not run
// reads its own storage too, and its results are dropped), the outputs
// preset, and after the query the outputs written back to the running
// lanes. Each pass is a lane loop the compiler vectorises.
struct OpBatch : SRF_LaneBatchStorage
{
    OpBatch(const KAL_Instance &instance, const KAL_ProcArray &lanes) : myInstance(instance)
    {
        int begin = 0;
        while (begin < lanes.myCount && lanes.myState[begin] != 0)
            ++begin;
        int end = lanes.myCount;
        while (end > begin && lanes.myState[end - 1] != 0)
            --end;
        batch.begin = begin;
        batch.end = end;
        const int *states = lanes.myState;
        int *running = run;
        SRFforLanes(begin, end, [=](int lane) { running[lane] = states[lane] == 0; });
        const SRF_LaneBatch b = batch;
        SRFforLanes(begin, end,
                    [=](int lane)
                    {
                        b.v.set(lane, ZERO);
                        b.colour.set(lane, ZERO);
                        b.scalar[lane] = 0.0f;
                        b.bounce[lane] = 0;
                    });
    }

    bool anyRunning() const { return batch.begin < batch.end; }

    void read(int k, const SRF_LaneVectors &to) const
    {
        const BX_Vector3 *from = myInstance.getArg<BX_Vector3>(k);
        if (myInstance.isArgVarying(k))
            SRFforLanes(batch.begin, batch.end, [=](int lane) { to.set(lane, from[lane]); });
        else
            SRFforLanes(batch.begin, batch.end, [=, one = *from](int lane) { to.set(lane, one); });
    }
    // sx and sy, clamped to [0, 1] as the per-lane path clamps them.
    void readUnit(int k, float *to) const
    {
        const float *from = myInstance.getArg<float>(k);
        if (myInstance.isArgVarying(k))
            SRFforLanes(batch.begin, batch.end, [=](int lane) { to[lane] = clampUnit(from[lane]); });
        else
            SRFforLanes(batch.begin, batch.end, [=, one = clampUnit(*from)](int lane) { to[lane] = one; });
    }
    // u, n, v and the mask from arguments first to first + 3, the layout of
    // every query of a direction pair.
    void readDirections(int first)
    {
        read(first, batch.u);
        read(first + 1, batch.n);
        read(first + 2, batch.v);
        read(first + 3, mask);
    }
    void read(int k, int *to) const
    {
        const int *from = myInstance.getArg<int>(k);
        if (myInstance.isArgVarying(k))
            SRFforLanes(batch.begin, batch.end, [=](int lane) { to[lane] = from[lane]; });
        else
            SRFforLanes(batch.begin, batch.end, [=, one = *from](int lane) { to[lane] = one; });
    }

    // Writes value(lane) to argument k of every running lane; a uniform
    // argument keeps the last running lane's, as the per-lane loop leaves it.
    template <class T, class Value> void write(int k, Value value) const
    {
        T *to = myInstance.getArg<T>(k);
        const int *running = run;
        if (!myInstance.isArgVarying(k))
        {
            for (int lane = batch.begin; lane < batch.end; ++lane)
                if (running[lane])
                    *to = value(lane);
            return;
        }
        SRFforLanes(batch.begin, batch.end, [=](int lane) { keepOrSet(to[lane], running[lane] != 0, value(lane)); });
    }

private:
    const KAL_Instance &myInstance;
};

// Whether the op's lanes may be answered as one batch. A batch reads every
// lane's inputs before it writes any output; the per-lane loop reads and
// writes lane by lane. The two differ only when a written argument is a
// uniform variable that the op also reads: a later lane then reads what an
// earlier one wrote. Such a call, every call in the per-lane mode, and in
// the automatic mode a call with too few running lanes for a batch to pay
// (SRFbatchPays, over the range from the first running lane to the last),
// runs lane by lane.
bool answersAsBatch(const KAL_Instance &instance, const KAL_ProcArray &lanes, std::initializer_list<int> written,
                    std::initializer_list<int> read)
{
    // One pass that vectorises: the count and the first and last running
    // lanes as reductions.
    const int *states = lanes.myState;
    const int count = lanes.myCount;
    int running = 0, first = count, last = -1;
#ifdef SRF_LANE_SIMD
#pragma omp simd reduction(+ : running) reduction(min : first) reduction(max : last)
#endif
    for (int lane = 0; lane < count; ++lane)
    {
        const bool on = states[lane] == 0;
        running += on;
        first = std::min(first, on ? lane : count);
        last = std::max(last, on ? lane : -1);
    }
    if (!SRFbatchPays(running, last - first + 1))
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
    const SRF_BSDF *bsdf = Args::getBsdf(instance, 1);
    KAL_ProcIterator it(instance, lanes);
    if (bsdf && answersAsBatch(instance, lanes, {0}, {2, 3, 4}))
    {
        OpBatch q(instance, lanes);
        if (!q.anyRunning())
            return Args::next(instance);
        q.read(2, q.batch.u);
        q.read(3, q.batch.n);
        q.read(4, q.mask);
        bsdf->albedoBatch(q.batch);
        const float *a = q.batch.scalar;
        q.write<BX_Vector3>(0,
                            [=](int lane)
                            {
                                const float albedo = a[lane];
                                return BX_Vector3(albedo, albedo, albedo);
                            });
        return Args::next(instance);
    }
    for (it.rewind(); !it.isDone(); it.advance())
    {
        const BX_Vector3 u = *it.getVector(2);
        const BX_Vector3 n = *it.getVector(3);
        const int mask = *it.getInt(4);
        const float a = bsdf ? bsdf->albedo(u, n, it.getLane(), mask) : 0.0f;
        *it.getVector(0) = BX_Vector3(a, a, a);
    }
    return Args::next(instance);
}

// colour = f(u, v) for the lane; the output scalar is dropped.
int opEvalBsdf(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    const SRF_BSDF *bsdf = Args::getBsdf(instance, 1);
    KAL_ProcIterator it(instance, lanes);
    if (bsdf && answersAsBatch(instance, lanes, {0}, {2, 3, 4, 5}))
    {
        OpBatch q(instance, lanes);
        if (!q.anyRunning())
            return Args::next(instance);
        q.readDirections(2);
        bsdf->evaluateBatch(q.batch);
        const SRF_LaneVectors colour = q.batch.colour;
        q.write<BX_Vector3>(0, [=](int lane) { return colour.get(lane); });
        return Args::next(instance);
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
    return Args::next(instance);
}

// Draws a direction for the lane from the clamped random numbers. A null
// BSDF, or a mask foreign to it, leaves the presets: zero direction, zero
// colour, bounce type 0.
int opSampleBsdf(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    const SRF_BSDF *bsdf = Args::getBsdf(instance, 0);
    KAL_ProcIterator it(instance, lanes);
    if (bsdf && answersAsBatch(instance, lanes, {3, 4, 5}, {1, 2, 6, 7, 8}))
    {
        OpBatch q(instance, lanes);
        if (!q.anyRunning())
            return Args::next(instance);
        q.read(1, q.batch.u);
        q.read(2, q.batch.n);
        q.readUnit(6, q.sx);
        q.readUnit(7, q.sy);
        q.read(8, q.mask);
        bsdf->sampleBatch(q.batch);
        const SRF_LaneVectors v = q.batch.v, colour = q.batch.colour;
        const int *bounce = q.batch.bounce;
        q.write<BX_Vector3>(3, [=](int lane) { return v.get(lane); });
        q.write<BX_Vector3>(4, [=](int lane) { return colour.get(lane); });
        q.write<int>(5, [=](int lane) { return bounce[lane]; });
        return Args::next(instance);
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
    return Args::next(instance);
}

int opEmissionBsdf(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    const SRF_BSDF *bsdf = Args::getBsdf(instance, 1);
    KAL_ProcIterator it(instance, lanes);
    if (bsdf && answersAsBatch(instance, lanes, {}, {}))
    {
        OpBatch q(instance, lanes);
        if (!q.anyRunning())
            return Args::next(instance);
        bsdf->emissionBatch(q.batch);
        const SRF_LaneVectors colour = q.batch.colour;
        q.write<BX_Vector3>(0, [=](int lane) { return colour.get(lane); });
        return Args::next(instance);
    }
    for (it.rewind(); !it.isDone(); it.advance())
    {
        BX_Vector3 colour = ZERO;
        if (bsdf)
            bsdf->emission(colour, it.getLane());
        *it.getVector(0) = colour;
    }
    return Args::next(instance);
}

int opSpecularRatioBsdf(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    const SRF_BSDF *bsdf = Args::getBsdf(instance, 1);
    KAL_ProcIterator it(instance, lanes);
    if (bsdf && answersAsBatch(instance, lanes, {0}, {2}))
    {
        OpBatch q(instance, lanes);
        if (!q.anyRunning())
            return Args::next(instance);
        q.read(2, q.mask);
        bsdf->specularRatioBatch(q.batch);
        const float *ratio = q.batch.scalar;
        q.write<float>(0, [=](int lane) { return ratio[lane]; });
        return Args::next(instance);
    }
    for (it.rewind(); !it.isDone(); it.advance())
    {
        const int mask = *it.getInt(2);
        *it.getFloat(0) = bsdf ? bsdf->specularRatio(it.getLane(), mask) : 0.0f;
    }
    return Args::next(instance);
}

// The virtual per-lane form, so that a BSDF choosing its operand per lane
// answers for that lane.
int opGetBounces(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    const SRF_BSDF *bsdf = Args::getBsdf(instance, 1);
    KAL_ProcIterator it(instance, lanes);
    if (bsdf && answersAsBatch(instance, lanes, {}, {}))
    {
        OpBatch q(instance, lanes);
        if (!q.anyRunning())
            return Args::next(instance);
        bsdf->getBouncesBatch(q.batch);
        const int *bounces = q.batch.bounce;
        q.write<int>(0, [=](int lane) { return bounces[lane]; });
        return Args::next(instance);
    }
    for (it.rewind(); !it.isDone(); it.advance())
        *it.getInt(0) = bsdf ? bsdf->getBounces(it.getLane()) : 0;
    return Args::next(instance);
}

int opNBounceTypes(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    KAL_ProcIterator it(instance, lanes);
    for (it.rewind(); !it.isDone(); it.advance())
        *it.getInt(0) = SCATTERING_TYPES;
    return Args::next(instance);
}

// pdf = the density with which the masked sample draws v for the lane
// (SRF_BSDF::pdf); a null BSDF draws nothing: 0.
int opPdfBsdf(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    const SRF_BSDF *bsdf = Args::getBsdf(instance, 1);
    KAL_ProcIterator it(instance, lanes);
    if (bsdf && answersAsBatch(instance, lanes, {0}, {2, 3, 4, 5}))
    {
        OpBatch q(instance, lanes);
        if (!q.anyRunning())
            return Args::next(instance);
        q.readDirections(2);
        bsdf->pdfBatch(q.batch);
        const float *density = q.batch.scalar;
        q.write<float>(0, [=](int lane) { return density[lane]; });
        return Args::next(instance);
    }
    for (it.rewind(); !it.isDone(); it.advance())
    {
        const int mask = *it.getInt(5);
        *it.getFloat(0) =
            bsdf ? bsdf->pdf(*it.getVector(2), *it.getVector(3), *it.getVector(4), it.getLane(), mask) : 0.0f;
    }
    return Args::next(instance);
}

// value (what sample's weight estimates) and pdf for the lane
// (SRF_BSDF::evaluatePdf); a null BSDF: zero value, pdf 0.
int opEvalPdfBsdf(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    const SRF_BSDF *bsdf = Args::getBsdf(instance, 2);
    KAL_ProcIterator it(instance, lanes);
    if (bsdf && answersAsBatch(instance, lanes, {0, 1}, {3, 4, 5, 6}))
    {
        OpBatch q(instance, lanes);
        if (!q.anyRunning())
            return Args::next(instance);
        q.readDirections(3);
        bsdf->evaluatePdfBatch(q.batch);
        const SRF_LaneVectors value = q.batch.colour;
        const float *density = q.batch.scalar;
        q.write<BX_Vector3>(0, [=](int lane) { return value.get(lane); });
        q.write<float>(1, [=](int lane) { return density[lane]; });
        return Args::next(instance);
    }
    for (it.rewind(); !it.isDone(); it.advance())
    {
        BX_Vector3 value = ZERO;
        float density = 0.0f;
        if (bsdf)
            bsdf->evaluatePdf(*it.getVector(3), *it.getVector(4), *it.getVector(5), value, density, it.getLane(),
                              *it.getInt(6));
        *it.getVector(0) = value;
        *it.getFloat(1) = density;
    }
    return Args::next(instance);
}

const int *evalPdfBsdfWrittenArgs()
{
    static const int written[] = {0, 1, KAL_ARGS_END};
    return written;
}

const int *sampleBsdfWrittenArgs()
{
    static const int written[] = {3, 4, 5, KAL_ARGS_END};
    return written;
}
