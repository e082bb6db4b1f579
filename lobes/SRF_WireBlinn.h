#ifndef SRF_WIREBLINN_H
#define SRF_WIREBLINN_H

#include "SRF_BSDF.h"

// The glossy lobe of a thin curve with per-lane tangent T and exponent e:
// f(u, v) = sin(T, H)^e for the half vector H of u and v, over the whole
// sphere (a curve has no surface side). Sampling draws H about T and
// mirrors u about it. Bounce set: glossy.
//
// Blocks, in field order: tangent (vector), exponent (float).
class SRF_API SRF_WireBlinn : public SRF_BSDF
{
public:
    // Takes ownership of both blocks.
    SRF_WireBlinn(BX_Vector3 *tangent, float *exponent);
    ~SRF_WireBlinn() override;

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
    BX_Vector3 *tangent;
    float *exponent;
};

#endif
