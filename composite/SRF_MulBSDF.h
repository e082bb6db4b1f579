#ifndef SRF_MULBSDF_H
#define SRF_MULBSDF_H

#include "SRF_CompositeBSDF.h"

// The product of two BSDFs. The more specular operand (by its lane-0
// specular ratio) comes first: it is sampled, and the sample is weighted by
// the other operand's value in the sampled direction. Bounce set: the first
// operand's.
class SRF_API SRF_MulBSDF : public SRF_CompositeBSDF
{
public:
    // Adopts one reference to each of a and b (never null); b comes first
    // only when its lane-0 specular ratio is strictly greater than a's.
    SRF_MulBSDF(SRF_BSDF *a, SRF_BSDF *b);
    ~SRF_MulBSDF() override;

    const char *className() const override;
    // The first operands are equal and the second operands are equal.
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
    // colour *= c2, and scalar *= s2 when weighScalar, in the running lanes.
    static void modulateLanes(const SRF_LaneBatch &batch, const SRF_LaneVectors &c2, const float *s2, bool weighScalar);
    // The first operand's batch query (evaluate, sample or evaluatePdf)
    // weighted by the second operand's evaluation at the resulting v; the
    // scalar too when weighScalar (a pdf is the first operand's alone).
    void weighBySecond(const SRF_LaneBatch &batch, void (SRF_BSDF::*firstQuery)(const SRF_LaneBatch &) const,
                       bool weighScalar) const;

    SRF_BSDF *myFirst;
    SRF_BSDF *mySecond;
};

#endif
