#ifndef SRF_BLINN_H
#define SRF_BLINN_H

#include "SRF_BSDF.h"

// The glossy half-vector lobe (Blinn 1977): f(u, v) = (N.H)^e / (4 H.u)
// for the half vector H of u and v and a per-lane lobe normal N. Sampling
// draws H about N by the cosine-power law and mirrors u about it. Bounce
// set: glossy.
//
// Blocks, in field order: normal (vector), exponent (float).
class SRF_API SRF_Blinn : public SRF_BSDF
{
public:
    // Takes ownership of both blocks.
    SRF_Blinn(BX_Vector3 *normal, float *exponent);
    ~SRF_Blinn() override;

    const char *className() const override;

    using SRF_BSDF::albedo;
    using SRF_BSDF::evaluate;
    using SRF_BSDF::sample;
    using SRF_BSDF::specularRatio;

    float albedo(const BX_Vector3 &u, const BX_Vector3 &n, int lane) const override;
    float specularRatio(int lane) const override;
    void evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                  int lane) const override;
    void sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar, int &bounce,
                float sx, float sy, int lane) const override;

    // Batch queries (SRF_BSDF.h).
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
    BX_Vector3 *normal;
    float *exponent;
};

#endif
