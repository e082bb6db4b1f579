#include "SRF_MulBSDF.h"

#include "SRF_LaneLoops.h"

namespace
{
// The lane whose specular ratios order the operands.
const int ORDER_LANE = 0;

// Runs a scalar query on both operands over the operand batch `sub` and keeps,
// in each running lane of `batch`, the second operand's answer where
// takeSecond(first's, second's) holds, else the first's.
template <class TakeSecond>
void chooseScalars(const SRF_LaneBatch &batch, const SRF_LaneBatch &sub, const SRF_BSDF &first, const SRF_BSDF &second,
                   void (SRF_BSDF::*query)(const SRF_LaneBatch &) const, TakeSecond takeSecond)
{
    float secondStore[KAL_MAX_LANES];
    float *const s2 = secondStore;
    SRF_LaneBatch secondBatch = sub;
    secondBatch.scalar = s2;
    (second.*query)(secondBatch);
    (first.*query)(sub);
    const SRF_LaneBatch b = batch;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const float s1 = b.scalar[lane];
                    const bool running = b.isRunning(lane), takesSecond = takeSecond(s1, s2[lane]);
                    b.scalar[lane] = (running & takesSecond) ? s2[lane] : s1;
                });
}
} // namespace

SRF_MulBSDF::SRF_MulBSDF(SRF_BSDF *a, SRF_BSDF *b) : myFirst(a), mySecond(b)
{
    // Ties and ratios that do not compare (NaN) keep the given order.
    if (b->specularRatio(ORDER_LANE) > a->specularRatio(ORDER_LANE))
    {
        myFirst = b;
        mySecond = a;
    }
    bounces = myFirst->getBounces();
    countQueryNodes(a, b);
}

SRF_MulBSDF::~SRF_MulBSDF()
{
    releaseOperand(myFirst);
    releaseOperand(mySecond);
}

const char *SRF_MulBSDF::className() const { return "SRF_MulBSDF"; }

bool SRF_MulBSDF::isEqual(const KAL_RefType &other, float tolerance) const
{
    if (!SRF_BSDF::isEqual(other, tolerance))
        return false;
    const SRF_MulBSDF &mul = static_cast<const SRF_MulBSDF &>(other);
    return myFirst->isEqual(*mul.myFirst, tolerance) && mySecond->isEqual(*mul.mySecond, tolerance);
}

// A = min(A_1, A_2); the first operand's on a tie.
float SRF_MulBSDF::albedo(const BX_Vector3 &u, const BX_Vector3 &n, int lane, int mask) const
{
    const float a2 = mySecond->albedo(u, n, lane, mask);
    const float a1 = myFirst->albedo(u, n, lane, mask);
    return a2 < a1 ? a2 : a1;
}

void SRF_MulBSDF::albedoBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::albedoBatch(batch);
    chooseScalars(batch, operandBatch(batch), *myFirst, *mySecond, &SRF_BSDF::albedoBatch,
                  [](float a1, float a2) { return a2 < a1; });
    canonicalAtTop(batch, OUT_SCALAR);
}

// r = max(r_1, r_2); the second operand's unless the first's is greater.
float SRF_MulBSDF::specularRatio(int lane, int mask) const
{
    const float r2 = mySecond->specularRatio(lane, mask);
    const float r1 = myFirst->specularRatio(lane, mask);
    return r1 > r2 ? r1 : r2;
}

void SRF_MulBSDF::specularRatioBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::specularRatioBatch(batch);
    chooseScalars(batch, operandBatch(batch), *myFirst, *mySecond, &SRF_BSDF::specularRatioBatch,
                  [](float r1, float r2) { return !(r1 > r2); });
    canonicalAtTop(batch, OUT_SCALAR);
}

void SRF_MulBSDF::modulateLanes(const SRF_LaneBatch &batch, const SRF_LaneVectors &c2, const float *s2,
                                bool weighScalar)
{
    const SRF_LaneBatch b = batch;
    const SRF_LaneVectors by = c2;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const bool running = b.isRunning(lane);
                    const BX_Vector3 c = b.colour.get(lane), m = by.get(lane);
                    b.colour.blend(lane, running, BX_Vector3(c.x * m.x, c.y * m.y, c.z * m.z));
                    b.scalar[lane] = (running & weighScalar) ? b.scalar[lane] * s2[lane] : b.scalar[lane];
                });
}

// f(u, v) = f_1(u, v) f_2(u, v), colours component by component; the
// scalars multiply too.
void SRF_MulBSDF::evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                           float &scalar, int lane, int mask) const
{
    BX_Vector3 c;
    float s = 0.0f;
    myFirst->evaluate(u, n, v, colour, scalar, lane, mask);
    mySecond->evaluate(u, n, v, c, s, lane, mask);
    modulate(colour, scalar, c, s);
}

void SRF_MulBSDF::evaluateBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::evaluateBatch(batch);
    weighBySecond(batch, &SRF_BSDF::evaluateBatch, true);
    canonicalAtTop(batch, OUT_COLOUR | OUT_SCALAR);
}

// v drawn by the first operand, weighted by f_2(u, v); the second operand
// consumes no random number.
void SRF_MulBSDF::sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                         int &bounce, float sx, float sy, int lane, int mask) const
{
    BX_Vector3 c;
    float s = 0.0f;
    myFirst->sample(u, n, v, colour, scalar, bounce, sx, sy, lane, mask);
    mySecond->evaluate(u, n, v, c, s, lane, mask);
    modulate(colour, scalar, c, s);
}

void SRF_MulBSDF::sampleBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::sampleBatch(batch);
    weighBySecond(batch, &SRF_BSDF::sampleBatch, true);
    canonicalAtTop(batch, OUT_DIRECTION | OUT_COLOUR | OUT_SCALAR);
}

void SRF_MulBSDF::weighBySecond(const SRF_LaneBatch &batch, void (SRF_BSDF::*firstQuery)(const SRF_LaneBatch &) const,
                                bool weighScalar) const
{
    const SRF_LaneBatch sub = operandBatch(batch);
    SRF_LaneVectorArrays c2;
    float s2Store[KAL_MAX_LANES];
    float *const s2 = s2Store;
    SRF_LaneBatch second = sub;
    second.colour = c2.lanes();
    second.scalar = s2;
    (myFirst->*firstQuery)(sub);
    mySecond->evaluateBatch(second);
    modulateLanes(batch, second.colour, s2, weighScalar);
}

// The first operand draws; its weight is multiplied by the second's colour
// at the drawn direction, so value = value_1 * f_2(v) and pdf = pdf_1.
void SRF_MulBSDF::evaluatePdf(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &value,
                              float &pdf, int lane, int mask) const
{
    BX_Vector3 c;
    float s = 0.0f;
    myFirst->evaluatePdf(u, n, v, value, pdf, lane, mask);
    mySecond->evaluate(u, n, v, c, s, lane, mask);
    modulate(value, c);
}

void SRF_MulBSDF::evaluatePdfBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::evaluatePdfBatch(batch);
    weighBySecond(batch, &SRF_BSDF::evaluatePdfBatch, false);
    canonicalAtTop(batch, OUT_COLOUR | OUT_SCALAR);
}

// Le = Le_1 Le_2, component by component.
void SRF_MulBSDF::emission(BX_Vector3 &colour, int lane) const
{
    BX_Vector3 second;
    myFirst->emission(colour, lane);
    mySecond->emission(second, lane);
    modulate(colour, second);
}

void SRF_MulBSDF::emissionBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::emissionBatch(batch);
    joinEmissions(batch, *myFirst, *mySecond, true);
}

SRF_BSDF *SRF_MulBSDF::duplicate(int count) const
{
    // The constructor orders the copies again by their lane-0 ratios.
    return duplicatePair<SRF_MulBSDF>(*myFirst, *mySecond, count);
}

void SRF_MulBSDF::flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &vectors,
                          BX_PtrArray<float *> &floats)
{
    flattenPair(this, myFirst, mySecond, bsdfs, vectors, floats);
}

void SRF_MulBSDF::dump(int indent) const
{
    dumpName(indent);
    myFirst->dump(indent + 1);
    mySecond->dump(indent + 1);
}
