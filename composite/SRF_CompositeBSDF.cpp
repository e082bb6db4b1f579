#include "SRF_CompositeBSDF.h"

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
