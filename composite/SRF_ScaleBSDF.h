#ifndef SRF_SCALEBSDF_H
#define SRF_SCALEBSDF_H

#include "SRF_CompositeBSDF.h"

// One BSDF tinted by a per-lane colour c: colours are multiplied by c and
// the output scalar and albedo by the luminance L(c). A lane whose colour
// has a luminance of exactly 0 scatters and emits nothing. Bounce set: the
// operand's.
class SRF_API SRF_ScaleBSDF : public SRF_CompositeBSDF
{
public:
    // Adopts one reference to the operand (never null) and owns the colour
    // block.
    SRF_ScaleBSDF(SRF_BSDF *operand, BX_Vector3 *colours);
    ~SRF_ScaleBSDF() override;

    const char *className() const override;
    // Equal operands and the very same colour block (compared by address).
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

    // L(c) = 0.299 c.x + 0.587 c.y + 0.114 c.z.
    static float luminance(const BX_Vector3 &c);

private:
    // tinted[lane]: the lane runs and its colour's luminance is not 0.
    void tintedLanes(const SRF_LaneBatch &batch, int *tinted) const;
    void tint(const SRF_LaneBatch &batch, const int *tinted, bool sampled) const;

    SRF_BSDF *myOperand;
    BX_Vector3 *myColours;
};

#endif
