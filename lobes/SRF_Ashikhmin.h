#ifndef SRF_ASHIKHMIN_H
#define SRF_ASHIKHMIN_H

#include "SRF_BSDF.h"

// The anisotropic half-vector lobe (Ashikhmin and Shirley 2000) without its
// Fresnel and normalising factors: f(u, v) = (N.H)^p / (4 H.u), where the
// exponent p blends e1 (along the first tangent) and e2 (along the second)
// by the azimuth of the half vector H. Sampling inverts the half-vector
// distribution one quadrant at a time and mirrors u about H. Bounce set:
// glossy.
//
// Blocks, in field order: normal, first tangent, second tangent (vectors),
// first exponent, second exponent (floats).
class SRF_API SRF_Ashikhmin : public SRF_BSDF
{
public:
    // Takes ownership of all five blocks; note the argument order differs
    // from the field order.
    SRF_Ashikhmin(BX_Vector3 *normal, float *exponent1, float *exponent2, BX_Vector3 *tangent1, BX_Vector3 *tangent2);
    ~SRF_Ashikhmin() override;

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

protected:
    // The inversion over the first quadrant of azimuths: a, b in [0, 1] give
    // the azimuth phi in [0, pi/2] and the cosine to N.
    void sampleFirstQuadrant(float a, float b, float &phi, float &cosTheta, int lane) const;

private:
    BX_Vector3 *normal;
    BX_Vector3 *tangent1;
    BX_Vector3 *tangent2;
    float *exponent1;
    float *exponent2;
};

#endif
