#ifndef SRF_CONE_H
#define SRF_CONE_H

#include "SRF_BSDF.h"

// A flat glossy lobe: f(v) = 1 strictly inside the cone of per-lane
// half-angle alpha about a per-lane axis D (on the side of the surface the
// axis faces), 0 outside. Sampling shrinks a unit-disk point to the disk of
// radius sin(alpha) and lifts it onto the sphere, which draws directions in
// the cone with density proportional to the cosine to D. Bounce set: glossy.
//
// Blocks, in field order: axis (vector), half-angle in radians (float).
class SRF_API SRF_Cone : public SRF_BSDF
{
public:
    // Takes ownership of both blocks.
    SRF_Cone(BX_Vector3 *axis, float *halfAngle);
    ~SRF_Cone() override;

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
    float *halfAngle;
};

#endif
