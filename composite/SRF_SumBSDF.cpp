#include "SRF_SumBSDF.h"

#include "SRF_LaneLoops.h"

namespace
{
// Both inputs of the albedo queries that weight the operands' specular ratios.
const BX_Vector3 RATIO_DIRECTION(1.0f, 0.0f, 0.0f);
// A total albedo at or below this has no specular share worth weighting.
const float RATIO_MIN_ALBEDO = 1e-6f;

// acc + value where `add`, else acc: the sum over the eligible operands,
// taken in the per-lane query's order.
inline float addIf(bool add, float acc, float value) { return add ? acc + value : acc; }

// A share limited to [0, 1], NaN taken as 0 (selects, which lane loops
// vectorise where fmin and fmax may not).
inline float unitShare(float x) { return x > 0.0f ? (x < 1.0f ? x : 1.0f) : 0.0f; }
} // namespace

SRF_SumBSDF::SRF_SumBSDF(SRF_BSDF *first, SRF_BSDF *second) : myFirst(first), mySecond(second)
{
    bounces = first->getBounces() | second->getBounces();
    countQueryNodes(first, second);
}

SRF_SumBSDF::~SRF_SumBSDF()
{
    releaseOperand(myFirst);
    releaseOperand(mySecond);
}

const char *SRF_SumBSDF::className() const { return "SRF_SumBSDF"; }

const SRF_BSDF *SRF_SumBSDF::soleOperand(const SRF_LaneBatch &sub) const
{
    const int first = admittedLanes(sub, *myFirst);
    if (first == 0)
        return mySecond;
    return first == sub.runningLanes() && admittedLanes(sub, *mySecond) == 0 ? myFirst : nullptr;
}

bool SRF_SumBSDF::isEqual(const KAL_RefType &other, float tolerance) const
{
    if (!SRF_BSDF::isEqual(other, tolerance))
        return false;
    const SRF_SumBSDF &sum = static_cast<const SRF_SumBSDF &>(other);
    return myFirst->isEqual(*sum.myFirst, tolerance) && mySecond->isEqual(*sum.mySecond, tolerance);
}

// A = sum over the eligible operands of A_i.
float SRF_SumBSDF::albedo(const BX_Vector3 &u, const BX_Vector3 &n, int lane, int mask) const
{
    float total = 0.0f;
    if (isEligible(*myFirst, mask))
        total += myFirst->albedo(u, n, lane, mask);
    if (isEligible(*mySecond, mask))
        total += mySecond->albedo(u, n, lane, mask);
    return total;
}

void SRF_SumBSDF::albedoBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::albedoBatch(batch);
    const SRF_LaneBatch sub = operandBatch(batch);
    if (const SRF_BSDF *sole = soleOperand(sub))
    {
        sole->albedoBatch(sub);
        return canonicalAtTop(batch, OUT_SCALAR);
    }
    int firstLanesStore[KAL_MAX_LANES], secondLanesStore[KAL_MAX_LANES];
    int *const firstLanes = firstLanesStore, *const secondLanes = secondLanesStore;
    float a2Store[KAL_MAX_LANES];
    float *const a2 = a2Store;
    eligibleLanes(sub, *myFirst, firstLanes);
    eligibleLanes(sub, *mySecond, secondLanes);
    SRF_LaneBatch first = sub, second = sub;
    first.run = firstLanes;
    second.run = secondLanes;
    second.scalar = a2;
    myFirst->albedoBatch(first);
    mySecond->albedoBatch(second);
    const SRF_LaneBatch b = batch;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const float total =
                        addIf(secondLanes[lane], addIf(firstLanes[lane], 0.0f, b.scalar[lane]), a2[lane]);
                    b.scalar[lane] = b.isRunning(lane) ? total : b.scalar[lane];
                });
    canonicalAtTop(batch, OUT_SCALAR);
}

// r = sum(r_i a_i) / sum(a_i) over the eligible operands, a_i their albedos
// at u = n = (1, 0, 0); 0 when sum(a_i) <= 1e-6.
float SRF_SumBSDF::specularRatio(int lane, int mask) const
{
    float total = 0.0f;
    float weighted = 0.0f;
    for (const SRF_BSDF *operand : {myFirst, mySecond})
    {
        if (!isEligible(*operand, mask))
            continue;
        const float a = operand->albedo(RATIO_DIRECTION, RATIO_DIRECTION, lane);
        total += a;
        weighted += operand->specularRatio(lane) * a;
    }
    return total > RATIO_MIN_ALBEDO ? weighted / total : 0.0f;
}

void SRF_SumBSDF::specularRatioBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::specularRatioBatch(batch);
    const SRF_LaneBatch sub = operandBatch(batch);
    int firstLanesStore[KAL_MAX_LANES], secondLanesStore[KAL_MAX_LANES];
    int *const firstLanes = firstLanesStore, *const secondLanes = secondLanesStore;
    eligibleLanes(sub, *myFirst, firstLanes);
    eligibleLanes(sub, *mySecond, secondLanes);
    SRF_LaneVectorArrays direction;
    float a1Store[KAL_MAX_LANES], a2Store[KAL_MAX_LANES], r1Store[KAL_MAX_LANES], r2Store[KAL_MAX_LANES];
    float *const a1 = a1Store, *const a2 = a2Store, *const r1 = r1Store, *const r2 = r2Store;
    SRF_LaneVectors ratioDirection = direction.lanes();
    SRFforLanes(sub.begin, sub.end, [=](int lane) { ratioDirection.set(lane, RATIO_DIRECTION); });
    // The operands' mask-free albedos at u = n = (1, 0, 0) and ratios.
    SRF_LaneBatch first = sub, second = sub;
    first.maskFree = second.maskFree = true;
    first.u = first.n = second.u = second.n = ratioDirection;
    first.run = firstLanes;
    second.run = secondLanes;
    first.scalar = a1;
    second.scalar = a2;
    myFirst->albedoBatch(first);
    mySecond->albedoBatch(second);
    first.scalar = r1;
    second.scalar = r2;
    myFirst->specularRatioBatch(first);
    mySecond->specularRatioBatch(second);
    const SRF_LaneBatch b = batch;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const bool one = firstLanes[lane], two = secondLanes[lane];
                    const float total = addIf(two, addIf(one, 0.0f, a1[lane]), a2[lane]);
                    const float weighted = addIf(two, addIf(one, 0.0f, r1[lane] * a1[lane]), r2[lane] * a2[lane]);
                    const float ratio = total > RATIO_MIN_ALBEDO ? weighted / total : 0.0f;
                    b.scalar[lane] = b.isRunning(lane) ? ratio : b.scalar[lane];
                });
    canonicalAtTop(batch, OUT_SCALAR);
}

// f(u, v) = sum over the eligible operands of f_i(u, v).
void SRF_SumBSDF::evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                           float &scalar, int lane, int mask) const
{
    colour = BX_Vector3(0.0f, 0.0f, 0.0f);
    scalar = 0.0f;
    for (const SRF_BSDF *operand : {myFirst, mySecond})
    {
        if (!isEligible(*operand, mask))
            continue;
        BX_Vector3 c;
        float s = 0.0f;
        operand->evaluate(u, n, v, c, s, lane, mask);
        colour += c;
        scalar += s;
    }
}

void SRF_SumBSDF::evaluateBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::evaluateBatch(batch);
    const SRF_LaneBatch sub = operandBatch(batch);
    if (const SRF_BSDF *sole = soleOperand(sub))
    {
        sole->evaluateBatch(sub);
        return canonicalAtTop(batch, OUT_COLOUR | OUT_SCALAR);
    }
    int firstLanesStore[KAL_MAX_LANES], secondLanesStore[KAL_MAX_LANES];
    int *const firstLanes = firstLanesStore, *const secondLanes = secondLanesStore;
    eligibleLanes(sub, *myFirst, firstLanes);
    eligibleLanes(sub, *mySecond, secondLanes);
    SRF_LaneVectorArrays c2;
    float s2Store[KAL_MAX_LANES];
    float *const s2 = s2Store;
    SRF_LaneBatch first = sub, second = sub;
    first.run = firstLanes;
    second.run = secondLanes;
    second.colour = c2.lanes();
    second.scalar = s2;
    myFirst->evaluateBatch(first);
    mySecond->evaluateBatch(second);
    const SRF_LaneBatch b = batch;
    const SRF_LaneVectors c2Lanes = second.colour;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const bool one = firstLanes[lane], two = secondLanes[lane];
                    const BX_Vector3 c1 = b.colour.get(lane), c = c2Lanes.get(lane);
                    const BX_Vector3 sum(addIf(two, addIf(one, 0.0f, c1.x), c.x),
                                         addIf(two, addIf(one, 0.0f, c1.y), c.y),
                                         addIf(two, addIf(one, 0.0f, c1.z), c.z));
                    const bool running = b.isRunning(lane);
                    b.colour.blend(lane, running, sum);
                    b.scalar[lane] = running ? addIf(two, addIf(one, 0.0f, b.scalar[lane]), s2[lane]) : b.scalar[lane];
                });
    canonicalAtTop(batch, OUT_COLOUR | OUT_SCALAR);
}

// Operand i is drawn with probability a_i / A (mask-free albedos) and its
// sample is weighted by A / a_i, so the estimate is that of f_1 + f_2. The
// rescaled sx drives the drawn operand; sy passes through unchanged.
void SRF_SumBSDF::sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                         int &bounce, float sx, float sy, int lane, int mask) const
{
    if (!isEligible(*myFirst, mask))
    {
        mySecond->sample(u, n, v, colour, scalar, bounce, sx, sy, lane, mask);
        return;
    }
    if (!isEligible(*mySecond, mask))
    {
        myFirst->sample(u, n, v, colour, scalar, bounce, sx, sy, lane, mask);
        return;
    }
    OperandChoice choice;
    if (!chooseByAlbedo(sx, myFirst->albedo(u, n, lane), mySecond->albedo(u, n, lane), choice))
        return;
    const SRF_BSDF *chosen = choice.first ? myFirst : mySecond;
    chosen->sample(u, n, v, colour, scalar, bounce, choice.sx, sy, lane, mask);
    reweight(colour, scalar, choice.weight);
}

// The lanes each operand admits, those both admit, and there the operands'
// mask-free albedos, by which the per-lane rule picks between them.
void SRF_SumBSDF::pickableLanes(const SRF_LaneBatch &sub, int *firstLanes, int *secondLanes, int *bothLanes, float *a1,
                                float *a2) const
{
    eligibleLanes(sub, *myFirst, firstLanes);
    eligibleLanes(sub, *mySecond, secondLanes);
    SRFforLanes(sub.begin, sub.end, [=](int lane) { bothLanes[lane] = firstLanes[lane] & secondLanes[lane]; });
    SRF_LaneBatch albedos = sub;
    albedos.maskFree = true;
    albedos.run = bothLanes;
    albedos.scalar = a1;
    myFirst->albedoBatch(albedos);
    albedos.scalar = a2;
    mySecond->albedoBatch(albedos);
}

// The lanes are split by the operand each samples, by the same rule: an
// operand alone eligible takes the lane as it is; with both eligible, the
// lane's albedos choose one, rescale sx and weight the result.
void SRF_SumBSDF::sampleBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::sampleBatch(batch);
    const SRF_LaneBatch sub = operandBatch(batch);
    if (const SRF_BSDF *sole = soleOperand(sub))
    {
        sole->sampleBatch(sub);
        return canonicalAtTop(batch, OUT_DIRECTION | OUT_COLOUR | OUT_SCALAR);
    }
    int firstLanesStore[KAL_MAX_LANES], secondLanesStore[KAL_MAX_LANES], bothLanesStore[KAL_MAX_LANES];
    int *const firstLanes = firstLanesStore, *const secondLanes = secondLanesStore, *const bothLanes = bothLanesStore;
    float a1Store[KAL_MAX_LANES], a2Store[KAL_MAX_LANES], rescaledStore[KAL_MAX_LANES], weightStore[KAL_MAX_LANES];
    float *const a1 = a1Store, *const a2 = a2Store, *const rescaled = rescaledStore, *const weight = weightStore;
    pickableLanes(sub, firstLanes, secondLanes, bothLanes, a1, a2);
    // firstLanes and secondLanes become the lanes each operand samples.
    const SRF_LaneBatch b = sub;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const bool one = firstLanes[lane], two = secondLanes[lane], running = b.isRunning(lane);
                    OperandChoice choice;
                    const bool chosen = chooseByAlbedo(b.sx[lane], a1[lane], a2[lane], choice);
                    const bool both = one & two;
                    firstLanes[lane] = (both & chosen & choice.first) | (!both & one);
                    secondLanes[lane] = (both & chosen & !choice.first) | (!both & running & !one);
                    rescaled[lane] = both ? choice.sx : b.sx[lane];
                    weight[lane] = (both & chosen) ? choice.weight : 1.0f;
                });
    SRF_LaneBatch first = sub, second = sub;
    first.run = firstLanes;
    second.run = secondLanes;
    first.sx = second.sx = rescaled;
    myFirst->sampleBatch(first);
    mySecond->sampleBatch(second);
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const bool reweighted = bothLanes[lane] & (firstLanes[lane] | secondLanes[lane]);
                    const float w = weight[lane];
                    const BX_Vector3 c = b.colour.get(lane);
                    b.colour.blend(lane, reweighted, c * w);
                    b.scalar[lane] = reweighted ? b.scalar[lane] * w : b.scalar[lane];
                });
    canonicalAtTop(batch, OUT_DIRECTION | OUT_COLOUR | OUT_SCALAR);
}

// pdf of the masked sample: with both operands eligible, the mixture by
// the albedo choice, P_i pdf_i; the value adds what each pick contributes,
// P_i w_i value_i (P_i w_i = 1 where 0 < a_i < A). One operand alone
// eligible answers for the Sum; an albedo total of 0 or less draws nothing.
void SRF_SumBSDF::evaluatePdf(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &value,
                              float &pdf, int lane, int mask) const
{
    if (!isEligible(*myFirst, mask))
        return mySecond->evaluatePdf(u, n, v, value, pdf, lane, mask);
    if (!isEligible(*mySecond, mask))
        return myFirst->evaluatePdf(u, n, v, value, pdf, lane, mask);
    value = BX_Vector3(0.0f, 0.0f, 0.0f);
    pdf = 0.0f;
    const float a1 = myFirst->albedo(u, n, lane), a2 = mySecond->albedo(u, n, lane);
    const float total = a1 + a2, rest = total - a1;
    if (!(total > 0.0f))
        return;
    // The share of sx in [0, 1] that picks each operand (chooseByAlbedo).
    const float p1 = rest > 0.0f ? unitShare(a1 / total) : 1.0f;
    const float p2 = 1.0f - p1;
    const float weights[2] = {total / a1, total / rest};
    const float shares[2] = {p1, p2};
    const SRF_BSDF *operands[2] = {myFirst, mySecond};
    for (int i = 0; i < 2; ++i)
    {
        if (!(shares[i] > 0.0f))
            continue;
        BX_Vector3 c;
        float p = 0.0f;
        operands[i]->evaluatePdf(u, n, v, c, p, lane, mask);
        value += c * (shares[i] * weights[i]);
        pdf += shares[i] * p;
    }
}

// The lanes by the operands they admit, as evaluate splits them; where both
// are eligible, the operands' mask-free albedos give the shares and weights
// of the per-lane rule.
void SRF_SumBSDF::evaluatePdfBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::evaluatePdfBatch(batch);
    const SRF_LaneBatch sub = operandBatch(batch);
    if (const SRF_BSDF *sole = soleOperand(sub))
    {
        sole->evaluatePdfBatch(sub);
        return canonicalAtTop(batch, OUT_COLOUR | OUT_SCALAR);
    }
    int firstLanesStore[KAL_MAX_LANES], secondLanesStore[KAL_MAX_LANES], bothLanesStore[KAL_MAX_LANES];
    int *const firstLanes = firstLanesStore, *const secondLanes = secondLanesStore, *const bothLanes = bothLanesStore;
    float a1Store[KAL_MAX_LANES], a2Store[KAL_MAX_LANES], s2Store[KAL_MAX_LANES];
    float *const a1 = a1Store, *const a2 = a2Store, *const s2 = s2Store;
    pickableLanes(sub, firstLanes, secondLanes, bothLanes, a1, a2);
    SRF_LaneVectorArrays c2Store;
    SRF_LaneBatch first = sub, second = sub;
    first.run = firstLanes;
    second.run = secondLanes;
    second.colour = c2Store.lanes();
    second.scalar = s2;
    myFirst->evaluatePdfBatch(first);
    mySecond->evaluatePdfBatch(second);
    const SRF_LaneBatch b = batch;
    const SRF_LaneVectors c2 = second.colour;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const bool one = firstLanes[lane], two = secondLanes[lane], both = one & two;
                    const float total = a1[lane] + a2[lane], rest = total - a1[lane];
                    const float share = rest > 0.0f ? unitShare(a1[lane] / total) : 1.0f;
                    // Alone eligible, an operand answers in full.
                    const float p1 = both ? share : (one ? 1.0f : 0.0f), p2 = both ? 1.0f - share : (two ? 1.0f : 0.0f);
                    const float w1 = both ? p1 * (total / a1[lane]) : 1.0f, w2 = both ? p2 * (total / rest) : 1.0f;
                    const bool take1 = p1 > 0.0f, take2 = p2 > 0.0f, drawn = !both | (total > 0.0f);
                    const BX_Vector3 v1 = b.colour.get(lane), v2 = c2.get(lane);
                    const BX_Vector3 value(addIf(take2, addIf(take1, 0.0f, v1.x * w1), v2.x * w2),
                                           addIf(take2, addIf(take1, 0.0f, v1.y * w1), v2.y * w2),
                                           addIf(take2, addIf(take1, 0.0f, v1.z * w1), v2.z * w2));
                    const float pdf = addIf(take2, addIf(take1, 0.0f, p1 * b.scalar[lane]), p2 * s2[lane]);
                    const bool running = b.isRunning(lane);
                    b.colour.blend(lane, running, drawn ? value : BX_Vector3(0.0f, 0.0f, 0.0f));
                    b.scalar[lane] = running ? (drawn ? pdf : 0.0f) : b.scalar[lane];
                });
    canonicalAtTop(batch, OUT_COLOUR | OUT_SCALAR);
}

// Le = Le_1 + Le_2.
void SRF_SumBSDF::emission(BX_Vector3 &colour, int lane) const
{
    BX_Vector3 second;
    myFirst->emission(colour, lane);
    mySecond->emission(second, lane);
    colour += second;
}

void SRF_SumBSDF::emissionBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::emissionBatch(batch);
    joinEmissions(batch, *myFirst, *mySecond, false);
}

SRF_BSDF *SRF_SumBSDF::duplicate(int count) const { return duplicatePair<SRF_SumBSDF>(*myFirst, *mySecond, count); }

void SRF_SumBSDF::flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &vectors,
                          BX_PtrArray<float *> &floats)
{
    flattenPair(this, myFirst, mySecond, bsdfs, vectors, floats);
}

void SRF_SumBSDF::dump(int indent) const
{
    dumpName(indent);
    myFirst->dump(indent + 1);
    mySecond->dump(indent + 1);
}
