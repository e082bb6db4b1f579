#ifndef SRF_SUMBSDF_H
#define SRF_SUMBSDF_H

#include "SRF_CompositeBSDF.h"

// Scatters like the sum of two BSDFs. Evaluation adds the eligible operands;
// sampling picks one operand in proportion to the operands' albedos, reuses
// the rescaled first random number inside it and reweights the result.
// Bounce set: the OR of the operands'.
class SRF_API SRF_SumBSDF : public SRF_CompositeBSDF
{
public:
    // Adopts one reference to each operand; neither may be null.
    SRF_SumBSDF(SRF_BSDF *first, SRF_BSDF *second);
    ~SRF_SumBSDF() override;

    const char *className() const override;
    // Ordered: the first operands are equal and the second operands are equal.
    bool isEqual(const KAL_RefType &other, float tolerance) const override;

    using SRF_CompositeBSDF::albedo;
    using SRF_CompositeBSDF::evaluate;
    using SRF_CompositeBSDF::sample;
    using SRF_CompositeBSDF::specularRatio;

    float albedo(const BX_Vector3 &u, const BX_Vector3 &n, int lane, int mask) const override;
    float specularRatio(int lane, int mask) const override;
    void evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                  int lane, int mask) const override;
    void sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar, int &bounce,
                float sx, float sy, int lane, int mask) const override;
    void evaluatePdf(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &value, float &pdf,
                     int lane, int mask) const override;
    void evaluatePdfBatch(const SRF_LaneBatch &batch) const override;
    void emission(BX_Vector3 &colour, int lane) const override;

    void albedoBatch(const SRF_LaneBatch &batch) const override;
    void specularRatioBatch(const SRF_LaneBatch &batch) const override;
    void evaluateBatch(const SRF_LaneBatch &batch) const override;
    void sampleBatch(const SRF_LaneBatch &batch) const override;
    void emissionBatch(const SRF_LaneBatch &batch) const override;

    SRF_BSDF *duplicate(int count) const override;
    void flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &vectors,
                 BX_PtrArray<float *> &floats) override;
    void dump(int indent) const override;

private:
    // The operand that answers every running lane of the batch as the Sum
    // does lane by lane (a query masked to its bounce types), which then
    // takes the batch as it is: the second where the first admits no lane
    // (a lane neither admits is the second's to answer), the first where it
    // admits every lane and the second none. Null otherwise.
    const SRF_BSDF *soleOperand(const SRF_LaneBatch &sub) const;
    void pickableLanes(const SRF_LaneBatch &sub, int *firstLanes, int *secondLanes, int *bothLanes, float *a1,
                       float *a2) const;
    SRF_BSDF *myFirst;
    SRF_BSDF *mySecond;
};

#endif
