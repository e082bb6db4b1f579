#include "SrfPyQueries.h"

#include "SRF_BSDF.h"
#include "SRF_LaneLoops.h"

#include "KAL_API.h"

#include <algorithm>

namespace
{
const BX_Vector3 ZERO(0.0f, 0.0f, 0.0f);

// One chunk's query as one batch query: the inputs copied into the batch's
// layout (one array per component, indexed by lane), every lane running
// with the same mask, and the outputs preset to zero. Each pass is a lane
// loop that vectorises (SRFforLanes); an input of one row (step 0) is a
// broadcast, a separate loop from the row-by-row copy.
struct ChunkBatch : SRF_LaneBatchStorage
{
    ChunkBatch(int count, int maskValue)
    {
        batch.begin = 0;
        batch.end = count;
        int *running = run, *masks = mask, *bounces = bounce;
        float *scalars = scalar;
        const SRF_LaneVectors directions = batch.v, colours = batch.colour;
        SRFforLanes(0, count,
                    [=](int lane)
                    {
                        running[lane] = 1;
                        masks[lane] = maskValue;
                        directions.set(lane, ZERO);
                        colours.set(lane, ZERO);
                        scalars[lane] = 0.0f;
                        bounces[lane] = 0;
                    });
    }
    static void put(const SRF_LaneVectors &to, SrfPyRows<BX_Vector3> from, int count)
    {
        const BX_Vector3 *rows = from.data;
        if (from.step == 0)
            SRFforLanes(0, count, [=, one = rows[0]](int lane) { to.set(lane, one); });
        else
            SRFforLanes(0, count, [=](int lane) { to.set(lane, rows[lane]); });
    }
    static void put(float *to, SrfPyRows<float> from, int count)
    {
        const float *rows = from.data;
        if (from.step == 0)
            SRFforLanes(0, count, [=, one = rows[0]](int lane) { to[lane] = one; });
        else
            SRFforLanes(0, count, [=](int lane) { to[lane] = rows[lane]; });
    }
    static void get(BX_Vector3 *to, const SRF_LaneVectors &from, int count)
    {
        SRFforLanes(0, count, [=](int lane) { to[lane] = from.get(lane); });
    }
};

// The per-lane mode (SRFsetBatchMode) asks every query lane by lane.
bool perLane() { return SRFbatchMode() == SRF_BATCH_PER_LANE; }
} // namespace

void SrfPyQueries::evaluate(const SRF_BSDF &bsdf, int count, SrfPyRows<BX_Vector3> u, SrfPyRows<BX_Vector3> n,
                            SrfPyRows<BX_Vector3> v, int mask, BX_Vector3 *colour, float *scalar)
{
    if (perLane())
    {
        for (int lane = 0; lane < count; ++lane)
        {
            colour[lane] = ZERO;
            scalar[lane] = 0.0f;
            bsdf.evaluate(u[lane], n[lane], v[lane], colour[lane], scalar[lane], lane, mask);
        }
        return;
    }
    ChunkBatch q(count, mask);
    ChunkBatch::put(q.batch.u, u, count);
    ChunkBatch::put(q.batch.n, n, count);
    ChunkBatch::put(q.batch.v, v, count);
    bsdf.evaluateBatch(q.batch);
    ChunkBatch::get(colour, q.batch.colour, count);
    std::copy(q.scalar, q.scalar + count, scalar);
}

void SrfPyQueries::evaluatePdf(const SRF_BSDF &bsdf, int count, SrfPyRows<BX_Vector3> u, SrfPyRows<BX_Vector3> n,
                               SrfPyRows<BX_Vector3> v, int mask, BX_Vector3 *value, float *pdf)
{
    if (perLane())
    {
        for (int lane = 0; lane < count; ++lane)
        {
            if (value)
                bsdf.evaluatePdf(u[lane], n[lane], v[lane], value[lane], pdf[lane], lane, mask);
            else
                pdf[lane] = bsdf.pdf(u[lane], n[lane], v[lane], lane, mask);
        }
        return;
    }
    ChunkBatch q(count, mask);
    ChunkBatch::put(q.batch.u, u, count);
    ChunkBatch::put(q.batch.n, n, count);
    ChunkBatch::put(q.batch.v, v, count);
    if (value)
    {
        bsdf.evaluatePdfBatch(q.batch);
        ChunkBatch::get(value, q.batch.colour, count);
    }
    else
        bsdf.pdfBatch(q.batch);
    std::copy(q.scalar, q.scalar + count, pdf);
}

void SrfPyQueries::sample(const SRF_BSDF &bsdf, int count, SrfPyRows<BX_Vector3> u, SrfPyRows<BX_Vector3> n,
                          SrfPyRows<float> sx, SrfPyRows<float> sy, int mask, BX_Vector3 *v, BX_Vector3 *colour,
                          int *bounce)
{
    if (perLane())
    {
        for (int lane = 0; lane < count; ++lane)
        {
            v[lane] = ZERO;
            colour[lane] = ZERO;
            bounce[lane] = 0;
            float scalar = 0.0f;
            bsdf.sample(u[lane], n[lane], v[lane], colour[lane], scalar, bounce[lane], sx[lane], sy[lane], lane, mask);
        }
        return;
    }
    ChunkBatch q(count, mask);
    ChunkBatch::put(q.batch.u, u, count);
    ChunkBatch::put(q.batch.n, n, count);
    ChunkBatch::put(q.sx, sx, count);
    ChunkBatch::put(q.sy, sy, count);
    bsdf.sampleBatch(q.batch);
    ChunkBatch::get(v, q.batch.v, count);
    ChunkBatch::get(colour, q.batch.colour, count);
    std::copy(q.bounce, q.bounce + count, bounce);
}

void SrfPyQueries::albedo(const SRF_BSDF &bsdf, int count, SrfPyRows<BX_Vector3> u, SrfPyRows<BX_Vector3> n, int mask,
                          float *albedo)
{
    if (perLane())
    {
        for (int lane = 0; lane < count; ++lane)
            albedo[lane] = bsdf.albedo(u[lane], n[lane], lane, mask);
        return;
    }
    ChunkBatch q(count, mask);
    ChunkBatch::put(q.batch.u, u, count);
    ChunkBatch::put(q.batch.n, n, count);
    bsdf.albedoBatch(q.batch);
    std::copy(q.scalar, q.scalar + count, albedo);
}

void SrfPyQueries::specularRatio(const SRF_BSDF &bsdf, int count, int mask, float *ratio)
{
    if (perLane())
    {
        for (int lane = 0; lane < count; ++lane)
            ratio[lane] = bsdf.specularRatio(lane, mask);
        return;
    }
    ChunkBatch q(count, mask);
    bsdf.specularRatioBatch(q.batch);
    std::copy(q.scalar, q.scalar + count, ratio);
}

void SrfPyQueries::emission(const SRF_BSDF &bsdf, int count, BX_Vector3 *colour)
{
    if (perLane())
    {
        for (int lane = 0; lane < count; ++lane)
        {
            colour[lane] = ZERO;
            bsdf.emission(colour[lane], lane);
        }
        return;
    }
    ChunkBatch q(count, 0);
    bsdf.emissionBatch(q.batch);
    ChunkBatch::get(colour, q.batch.colour, count);
}

void SrfPyQueries::bounces(const SRF_BSDF &bsdf, int count, int *bounces)
{
    if (perLane())
    {
        for (int lane = 0; lane < count; ++lane)
            bounces[lane] = bsdf.getBounces(lane);
        return;
    }
    ChunkBatch q(count, 0);
    bsdf.getBouncesBatch(q.batch);
    std::copy(q.bounce, q.bounce + count, bounces);
}
