#ifndef SRF_SPECULAR_H
#define SRF_SPECULAR_H

#include "SRF_BSDF.h"

// A delta lobe: all energy leaves in one direction per lane, which the
// shader computes (usually the mirror direction). Sampling returns that
// direction with a very large fixed weight; no direction chosen by other
// means ever hits the delta, so evaluation gives zero. Bounce set: specular.
//
// Blocks, in field order: direction (vector).
class SRF_API SRF_Specular : public SRF_BSDF
{
public:
    // Takes ownership of the direction block.
    explicit SRF_Specular(BX_Vector3 *direction);
    ~SRF_Specular() override;

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
    BX_Vector3 *direction;
};

#endif
