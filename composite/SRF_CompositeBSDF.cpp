#include "SRF_CompositeBSDF.h"
#include "SRF_LaneLoops.h"

void SRF_CompositeBSDF::sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour,
                               float &scalar, int &bounce, float sx, float sy, int lane) const
{
    sample(u, n, v, colour, scalar, bounce, sx, sy, lane, SRF_BOUNCE_SCATTER);
}

float SRF_CompositeBSDF::albedo(const BX_Vector3 &u, const BX_Vector3 &n, int lane) const
{
    return albedo(u, n, lane, SRF_BOUNCE_SCATTER);
}

void SRF_CompositeBSDF::evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                                 float &scalar, int lane) const
{
    evaluate(u, n, v, colour, scalar, lane, SRF_BOUNCE_SCATTER);
}

float SRF_CompositeBSDF::specularRatio(int lane) const { return specularRatio(lane, SRF_BOUNCE_SCATTER); }

void SRF_CompositeBSDF::eligibleLanes(const SRF_LaneBatch &operandLanes, const SRF_BSDF &operand, int *eligible)
{
    const SRF_LaneBatch b = operandLanes;
    const int set = operand.getBounces();
    SRFforLanes(b.begin, b.end, [=](int lane) { eligible[lane] = b.isRunning(lane) & ((set & b.mask[lane]) != 0); });
}

int SRF_CompositeBSDF::admittedLanes(const SRF_LaneBatch &operandLanes, const SRF_BSDF &operand)
{
    const int set = operand.getBounces();
    const int *run = operandLanes.run, *mask = operandLanes.mask;
    int admitted = 0;
#ifdef SRF_LANE_SIMD
#pragma omp simd reduction(+ : admitted)
#endif
    for (int lane = operandLanes.begin; lane < operandLanes.end; ++lane)
        admitted += (run[lane] != 0) & ((set & mask[lane]) != 0);
    return admitted;
}

void SRF_CompositeBSDF::joinEmissions(const SRF_LaneBatch &batch, const SRF_BSDF &first, const SRF_BSDF &second,
                                      bool multiply)
{
    const SRF_LaneBatch sub = operandBatch(batch);
    SRF_LaneVectorArrays secondStore;
    SRF_LaneBatch secondBatch = sub;
    secondBatch.colour = secondStore.lanes();
    first.emissionBatch(sub);
    second.emissionBatch(secondBatch);
    const SRF_LaneBatch b = batch;
    const SRF_LaneVectors e2 = secondBatch.colour;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const BX_Vector3 c = b.colour.get(lane), e = e2.get(lane);
                    const BX_Vector3 joined = multiply ? BX_Vector3(c.x * e.x, c.y * e.y, c.z * e.z)
                                                       : BX_Vector3(c.x + e.x, c.y + e.y, c.z + e.z);
                    b.colour.blend(lane, b.isRunning(lane), joined);
                });
}

void SRF_CompositeBSDF::canonicalAtTop(const SRF_LaneBatch &batch, int outputs)
{
    if (batch.depth != 0)
        return;
    const SRF_LaneBatch b = batch;
    if (outputs & OUT_SCALAR)
        SRFforLanes(b.begin, b.end,
                    [=](int lane) {
                        b.scalar[lane] = b.isRunning(lane) ? SRF_LaneBatch::canonical(b.scalar[lane]) : b.scalar[lane];
                    });
    if (outputs & OUT_COLOUR)
        SRFforLanes(b.begin, b.end, [=](int lane) { b.colour.blend(lane, b.isRunning(lane), b.colour.get(lane)); });
    if (outputs & OUT_DIRECTION)
        SRFforLanes(b.begin, b.end, [=](int lane) { b.v.blend(lane, b.isRunning(lane), b.v.get(lane)); });
}

bool SRF_CompositeBSDF::answerLaneByLane(const SRF_LaneBatch &batch)
{
    return batch.depth >= MAX_BATCH_DEPTH || !SRFbatchPays(batch);
}

void SRF_CompositeBSDF::reweight(BX_Vector3 &colour, float &scalar, float weight)
{
    colour *= weight;
    scalar *= weight;
}

void SRF_CompositeBSDF::modulate(BX_Vector3 &colour, float &scalar, const BX_Vector3 &byColour, float byScalar)
{
    modulate(colour, byColour);
    scalar *= byScalar;
}

void SRF_CompositeBSDF::modulate(BX_Vector3 &colour, const BX_Vector3 &byColour)
{
    colour.x *= byColour.x;
    colour.y *= byColour.y;
    colour.z *= byColour.z;
}

void SRF_CompositeBSDF::flattenPair(SRF_BSDF *node, SRF_BSDF *first, SRF_BSDF *second, BX_PtrArray<SRF_BSDF *> &bsdfs,
                                    BX_PtrArray<BX_Vector3 *> &vectors, BX_PtrArray<float *> &floats)
{
    bsdfs.append(node);
    first->flatten(bsdfs, vectors, floats);
    second->flatten(bsdfs, vectors, floats);
}

int SRF_CompositeBSDF::queryNodes(const SRF_BSDF *bsdf)
{
    if (!bsdf)
        return 0;
    const SRF_CompositeBSDF *composite = dynamic_cast<const SRF_CompositeBSDF *>(bsdf);
    return composite ? composite->myQueryNodes : 1;
}

int SRF_CompositeBSDF::queryNodes(const SRF_BSDF *first, const SRF_BSDF *second)
{
    // Each count lies in [0, MAX_QUERY_NODES], so the sum fits in 64 bits.
    const long long total = 1LL + queryNodes(first) + queryNodes(second);
    return total < MAX_QUERY_NODES ? static_cast<int>(total) : MAX_QUERY_NODES;
}

void SRF_CompositeBSDF::countQueryNodes(const SRF_BSDF *first, const SRF_BSDF *second)
{
    myQueryNodes = queryNodes(first, second);
}

void SRF_CompositeBSDF::pdfBatch(const SRF_LaneBatch &batch) const
{
    SRF_LaneVectorArrays values;
    SRF_LaneBatch withValues = batch;
    withValues.colour = values.lanes();
    evaluatePdfBatch(withValues);
}
