#ifndef SRF_LAFORTUNE_H
#define SRF_LAFORTUNE_H

#include "SRF_BSDF.h"

// The generalised cosine lobe (Lafortune et al. 1997): u and v are taken in
// a local frame (T, B, N) built from a per-lane normal N and u itself, and
// f(u, v) = (Kx ux vx + Ky uy vy + Kz uz vz)^e for per-lane coefficients K
// and exponent e. An exponent of 0 or less (or NaN) makes the lane a diffuse
// lobe of value |N.v|. Bounce set: glossy when the exponent of lane 0 is
// positive, else diffuse.
//
// Blocks, in field order: normal, coefficients (vectors), exponent (float).
class SRF_API SRF_Lafortune : public SRF_BSDF
{
public:
    // Takes ownership of the three blocks; reads exponent element 0 to
    // choose the bounce set.
    SRF_Lafortune(BX_Vector3 *normal, BX_Vector3 *coefficients, float *exponent);
    ~SRF_Lafortune() override;

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
    // A copy that keeps a given bounce set: a copy of no lanes has no
    // exponent to choose one from.
    SRF_Lafortune(BX_Vector3 *normal, BX_Vector3 *coefficients, float *exponent, int bounceSet);

    BX_Vector3 *normal;
    BX_Vector3 *coefficients;
    float *exponent;
};

#endif
