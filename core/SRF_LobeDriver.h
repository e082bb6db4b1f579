#ifndef SRF_LOBEDRIVER_H
#define SRF_LOBEDRIVER_H

// The driver of the analytic lobes: SRF_Lobe's members, written once for
// every kernel. Included by each lobe's source, which instantiates the
// driver for its kernel; not installed.

#include "SRF_LaneLoops.h"
#include "SRF_LaneMath.h"
#include "SRF_Lobe.h"

#include <cassert>
#include <typeinfo>

// What a kernel inherits unless it says otherwise: a fixed bounce set, a
// sample that draws a direction with a weight of its own, no emission.
template <int Bounces> struct SRF_LobeKernelBase
{
    static constexpr int BOUNCES = Bounces;
    // sample draws a direction and writes it with the bounce type (the
    // emission lobe draws none and writes zero colour and scalar).
    static constexpr bool DRAWS = true;
    // sample's weight is evaluate's colour at the drawn direction (asked
    // through the virtual table per lane), not a weight of its own.
    static constexpr bool WEIGHT_IS_VALUE = false;
    // The lobe emits (1, 1, 1) in every lane.
    static constexpr bool EMITS = false;
    static int bounceSet(const SRF_LobeBlocks &) { return Bounces; }
};

namespace SRF_LobeDetail
{
inline const BX_Vector3 ZERO(0.0f, 0.0f, 0.0f);
inline const BX_Vector3 ONE(1.0f, 1.0f, 1.0f);
} // namespace SRF_LobeDetail

// Gives each block of a kernel's schema back to the pool, in reverse field
// order; null blocks are skipped.
template <class K> void SRFreleaseLobeBlocks(const SRF_LobeBlocks &blocks)
{
    for (int field = K::BLOCKS - 1; field >= 0; --field)
    {
        if (!blocks.block[field])
            continue;
        if (K::FIELDS[field].kind == SRF_BLOCK_VECTOR)
            SRF_BSDF::release(static_cast<BX_Vector3 *>(blocks.block[field]));
        else
            SRF_BSDF::release(static_cast<float *>(blocks.block[field]));
    }
}

// A new lobe of kernel K on the blocks, which it then owns. When a block is
// missing or the object cannot be allocated, every block goes back to the
// pool and the answer is null: a failed allocation loses nothing.
template <class K> SRF_BSDF *SRFbuildLobe(const SRF_LobeBlocks &blocks)
{
    bool complete = true;
    for (int field = 0; field < K::BLOCKS; ++field)
        complete = complete && blocks.block[field];
    if (complete)
        if (SRF_BSDF *lobe = new typename K::Class(blocks))
            return lobe;
    SRFreleaseLobeBlocks<K>(blocks);
    return nullptr;
}

template <class K> SRF_Lobe<K>::SRF_Lobe(const SRF_LobeBlocks &blocks) : myBlocks(blocks)
{
    bounces = K::bounceSet(blocks);
}

template <class K> SRF_Lobe<K>::SRF_Lobe(const SRF_LobeBlocks &blocks, int bounceSet) : myBlocks(blocks)
{
    bounces = bounceSet;
}

template <class K> SRF_Lobe<K>::~SRF_Lobe() { SRFreleaseLobeBlocks<K>(myBlocks); }

template <class K> const char *SRF_Lobe<K>::className() const { return K::NAME; }

template <class K> bool SRF_Lobe<K>::isOwnClass() const { return typeid(*this) == typeid(typename K::Class); }

template <class K> float SRF_Lobe<K>::albedo(const BX_Vector3 &, const BX_Vector3 &, int lane) const
{
    return K::template albedo<SRF_StdMath>(K::at(myBlocks, lane));
}

template <class K> float SRF_Lobe<K>::specularRatio(int lane) const
{
    return K::template specularRatio<SRF_StdMath>(K::at(myBlocks, lane));
}

// The scalar is the lobe's albedo: the kernel's, or a host's subclass's own.
template <class K>
void SRF_Lobe<K>::evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                           float &scalar, int lane) const
{
    const SRF_LobeValue value = K::template evaluate<SRF_StdMath>(K::at(myBlocks, lane), u, n, v);
    scalar = isOwnClass() ? value.scalar : albedo(u, n, lane);
    colour = value.colour;
}

template <class K>
void SRF_Lobe<K>::sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                         int &bounce, float sx, float sy, int lane) const
{
    if (!K::DRAWS)
    {
        colour = SRF_LobeDetail::ZERO;
        scalar = 0.0f;
        return;
    }
    const SRF_LobeDraw draw = K::template sample<SRF_StdMath>(K::at(myBlocks, lane), u, n, sx, sy);
    bounce = bounces;
    if (K::WEIGHT_IS_VALUE)
    {
        v = draw.v;
        evaluate(u, n, draw.v, colour, scalar, lane);
        return;
    }
    scalar = albedo(u, n, lane);
    v = draw.v;
    colour = draw.weight;
}

template <class K> void SRF_Lobe<K>::emission(BX_Vector3 &colour, int) const
{
    colour = K::EMITS ? SRF_LobeDetail::ONE : SRF_LobeDetail::ZERO;
}

template <class K>
float SRF_Lobe<K>::pdf(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, int lane, int mask) const
{
    if (!hasBounce(mask))
        return 0.0f;
    return K::template evaluatePdf<SRF_StdMath>(K::at(myBlocks, lane), u, n, v).pdf;
}

template <class K>
void SRF_Lobe<K>::evaluatePdf(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &value,
                              float &pdf, int lane, int mask) const
{
    if (!hasBounce(mask))
    {
        value = SRF_LobeDetail::ZERO;
        pdf = 0.0f;
        return;
    }
    const SRF_LobeDensity density = K::template evaluatePdf<SRF_StdMath>(K::at(myBlocks, lane), u, n, v);
    value = density.value;
    pdf = density.pdf;
}

// Runs body(batch, lane's parameters, bounce set, lane) over the batch's
// running lanes of a lobe of kernel K with these blocks and bounce set
// (SRF_Lobe::overLanes, once it has chosen the batch): a function of its
// own, so that a query answered lane by lane does not set up the loops'
// frame.
template <class K, class Body>
void SRFrunLobeLanes(const SRF_LaneBatch &batch, bool sampling, int running, int set, const SRF_LobeBlocks &p,
                     Body body);

// The batch queries: one lane loop each over the kernel with the
// vectorisable maths, writing what the masked or mask-free per-lane query
// writes (SRF_LaneBatch's put functions). A host's subclass is answered by
// the base class, lane by lane through its virtual queries (perLane).
template <class K>
template <class PerLane, class Body>
void SRF_Lobe<K>::overLanes(const SRF_LaneBatch &batch, bool sampling, PerLane perLane, Body body) const
{
    assert(!batch.outputsAliasInputs(sampling) && "a batch query's outputs must not alias its inputs");
    int running = -1;
    if (!SRFlobeBatchPays(batch, running) || !isOwnClass())
        return perLane();
    SRFrunLobeLanes<K>(batch, sampling, running, bounces, myBlocks, body);
}

template <class K, class Body>
__attribute__((noinline)) void SRFrunLobeLanes(const SRF_LaneBatch &batch, bool sampling, int running, int set,
                                               const SRF_LobeBlocks &blocks, Body body)
{
    const SRF_LobeBlocks p = blocks;
    // A mask-free batch may come without a mask array; the put functions
    // read one in every lane (an unconditional read vectorises).
    SRF_LaneBatch b = batch;
    b.mask = b.maskFree ? SRF_LaneBatch::scatterMasks() : b.mask;
    // Where few lanes run (a Sum's operand in sample, a Switch's branch, a
    // sparse batch), the loop runs over the running lanes alone, each
    // reading and writing its own elements: the same values, stored in the
    // same lanes, as the loop over the whole range.
    int packedStore[KAL_MAX_LANES];
    const int *const packed = packedStore;
    const int count = SRFpackRunningLanes(b, sampling, running < 0 ? b.runningLanes() : running, packedStore);
    if (count < 0)
        return SRFforLanesStoring(b.begin, b.end,
                                  [=](int lane, auto store) { body(b, K::at(p, lane), set, lane, store); });
    SRFforLanesStoring(0, count,
                       [=](int i, auto store)
                       {
                           const int lane = packed[i];
                           body(b, K::at(p, lane), set, lane, store);
                       });
}

template <class K> void SRF_Lobe<K>::albedoBatch(const SRF_LaneBatch &batch) const
{
    overLanes(
        batch, false, [&] { SRF_BSDF::albedoBatch(batch); },
        [](const SRF_LaneBatch &b, const typename K::Lane &q, int set, int lane, auto store)
        { b.template putScalar<decltype(store)::value>(lane, set, K::template albedo<SRF_LaneMath>(q)); });
}

template <class K> void SRF_Lobe<K>::specularRatioBatch(const SRF_LaneBatch &batch) const
{
    overLanes(
        batch, false, [&] { SRF_BSDF::specularRatioBatch(batch); },
        [](const SRF_LaneBatch &b, const typename K::Lane &q, int set, int lane, auto store)
        { b.template putScalar<decltype(store)::value>(lane, set, K::template specularRatio<SRF_LaneMath>(q)); });
}

template <class K> void SRF_Lobe<K>::evaluateBatch(const SRF_LaneBatch &batch) const
{
    overLanes(
        batch, false, [&] { SRF_BSDF::evaluateBatch(batch); },
        [](const SRF_LaneBatch &b, const typename K::Lane &q, int set, int lane, auto store)
        {
            const SRF_LobeValue value =
                K::template evaluate<SRF_LaneMath>(q, b.u.get(lane), b.n.get(lane), b.v.get(lane));
            b.template putEvaluate<decltype(store)::value>(lane, set, value.colour, value.scalar);
        });
}

// A lobe that draws nothing writes what evaluate writes: zero colour and
// scalar, v and bounce kept.
template <class K> void SRF_Lobe<K>::sampleBatch(const SRF_LaneBatch &batch) const
{
    overLanes(
        batch, true, [&] { SRF_BSDF::sampleBatch(batch); },
        [](const SRF_LaneBatch &b, const typename K::Lane &q, int set, int lane, auto store)
        {
            if (!K::DRAWS)
                return b.template putEvaluate<decltype(store)::value>(lane, set, SRF_LobeDetail::ZERO, 0.0f);
            const BX_Vector3 u = b.u.get(lane), n = b.n.get(lane);
            const SRF_LobeDraw draw = K::template sample<SRF_LaneMath>(q, u, n, b.sx[lane], b.sy[lane]);
            if (K::WEIGHT_IS_VALUE)
            {
                const SRF_LobeValue value = K::template evaluate<SRF_LaneMath>(q, u, n, draw.v);
                b.template putSample<decltype(store)::value>(lane, set, draw.v, value.colour, value.scalar, set);
            }
            else
                b.template putSample<decltype(store)::value>(lane, set, draw.v, draw.weight,
                                                             K::template albedo<SRF_LaneMath>(q), set);
        });
}

template <class K> void SRF_Lobe<K>::emissionBatch(const SRF_LaneBatch &batch) const
{
    overLanes(
        batch, false, [&] { SRF_BSDF::emissionBatch(batch); },
        [](const SRF_LaneBatch &b, const typename K::Lane &, int, int lane, auto store)
        {
            b.colour.template blend<decltype(store)::value>(lane, b.isRunning(lane),
                                                            K::EMITS ? SRF_LobeDetail::ONE : SRF_LobeDetail::ZERO);
        });
}

template <class K> void SRF_Lobe<K>::pdfBatch(const SRF_LaneBatch &batch) const
{
    overLanes(
        batch, false, [&] { SRF_BSDF::pdfBatch(batch); },
        [](const SRF_LaneBatch &b, const typename K::Lane &q, int set, int lane, auto store)
        {
            const SRF_LobeDensity density =
                K::template evaluatePdf<SRF_LaneMath>(q, b.u.get(lane), b.n.get(lane), b.v.get(lane));
            b.template putScalar<decltype(store)::value>(lane, set, density.pdf);
        });
}

template <class K> void SRF_Lobe<K>::evaluatePdfBatch(const SRF_LaneBatch &batch) const
{
    overLanes(
        batch, false, [&] { SRF_BSDF::evaluatePdfBatch(batch); },
        [](const SRF_LaneBatch &b, const typename K::Lane &q, int set, int lane, auto store)
        {
            const SRF_LobeDensity density =
                K::template evaluatePdf<SRF_LaneMath>(q, b.u.get(lane), b.n.get(lane), b.v.get(lane));
            b.template putEvaluate<decltype(store)::value>(lane, set, density.value, density.pdf);
        });
}

// Storage first, so that nothing is copied when there is none; a pool that
// runs dry gives back what was copied and answers null, since a lobe without
// its blocks could not be queried. A copy of no lanes has no parameters to
// choose a bounce set from: it keeps this lobe's.
template <class K> SRF_BSDF *SRF_Lobe<K>::duplicate(int count) const
{
    using Class = typename K::Class;
    void *storage = operator new(sizeof(Class));
    if (!storage)
        return nullptr;
    SRF_LobeBlocks copies;
    bool complete = true;
    for (int field = 0; field < K::BLOCKS; ++field)
    {
        if (K::FIELDS[field].kind == SRF_BLOCK_VECTOR)
            copies.block[field] = copy(myBlocks.vectors(field), count);
        else
            copies.block[field] = copy(myBlocks.floats(field), count);
        complete = complete && copies.block[field];
    }
    if (!complete)
    {
        SRFreleaseLobeBlocks<K>(copies);
        operator delete(storage, sizeof(Class));
        return nullptr;
    }
    return new (storage) Class(copies, count > 0 ? K::bounceSet(copies) : bounces);
}

template <class K>
void SRF_Lobe<K>::flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &vectors,
                          BX_PtrArray<float *> &floats)
{
    bsdfs.append(this);
    for (int field = 0; field < K::BLOCKS; ++field)
    {
        if (K::FIELDS[field].kind == SRF_BLOCK_VECTOR)
            vectors.append(static_cast<BX_Vector3 *>(myBlocks.block[field]));
        else
            floats.append(static_cast<float *>(myBlocks.block[field]));
    }
}

template <class K> void SRF_Lobe<K>::dump(int indent) const { dumpName(indent); }

#endif
