#include "SRF_SumBSDF.h"

namespace
{
// Both inputs of the albedo queries that weight the operands' specular ratios.
const BX_Vector3 RATIO_DIRECTION(1.0f, 0.0f, 0.0f);
// A total albedo at or below this has no specular share worth weighting.
const float RATIO_MIN_ALBEDO = 1e-6f;
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

// Le = Le_1 + Le_2.
void SRF_SumBSDF::emission(BX_Vector3 &colour, int lane) const
{
    BX_Vector3 second;
    myFirst->emission(colour, lane);
    mySecond->emission(second, lane);
    colour += second;
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
