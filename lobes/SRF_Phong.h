#ifndef SRF_PHONG_H
#define SRF_PHONG_H

#include "SRF_BSDF.h"

// A glossy cosine-power lobe about a per-lane axis D (usually the mirror
// direction): f(v) = (D.v)^e on the side of the surface the axis faces.
// Sampling lifts a point of the unit disk onto the cosine-power distribution
// about D. Bounce set: glossy.
//
// Blocks, in field order: axis (vector), exponent (float).
class SRF_API SRF_Phong : public SRF_BSDF
{
public:
    // Takes ownership of both blocks.
    SRF_Phong(BX_Vector3 *axis, float *exponent);
    ~SRF_Phong() override;

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
    BX_Vector3 *axis;
    float *exponent;
};

#endif
