#ifndef SRF_WIREDIFFUSE_H
#define SRF_WIREDIFFUSE_H

#include "SRF_BSDF.h"

// The diffuse lobe of a thin curve with per-lane tangent T:
// f(v) = 1 - (T.v)^2, the squared sine of the angle between T and v, over
// the whole sphere (a curve has no surface side). Sampling draws the whole
// sphere uniformly about T. Bounce set: diffuse.
//
// Blocks, in field order: tangent (vector).
class SRF_API SRF_WireDiffuse : public SRF_BSDF
{
public:
    // Takes ownership of the tangent block.
    explicit SRF_WireDiffuse(BX_Vector3 *tangent);
    ~SRF_WireDiffuse() override;

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
};

#endif
