#ifndef SRF_EMISSION_H
#define SRF_EMISSION_H

#include "SRF_BSDF.h"

// Scatters nothing and emits the unit colour (1, 1, 1); a coloured emitter is
// this lobe under a Scale composite. Bounce set: emission.
class SRF_API SRF_Emission : public SRF_BSDF
{
public:
    SRF_Emission();
    ~SRF_Emission() override;

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

    void emission(BX_Vector3 &colour, int lane) const override;

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
};

#endif
