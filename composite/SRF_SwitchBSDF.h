#ifndef SRF_SWITCHBSDF_H
#define SRF_SWITCHBSDF_H

#include "SRF_CompositeBSDF.h"

// A list of BSDFs and, per lane, the index of the one that answers every
// query on that lane. A lane whose index lies outside the list answers as a
// null BSDF: it scatters and emits nothing and has no bounce types. Bounce
// set: the OR of the entries' (the lane's own through getBounces(lane)).
class SRF_API SRF_SwitchBSDF : public SRF_CompositeBSDF
{
public:
    // Copies the list of pointers, adopting one reference to each entry
    // (none null), and owns the int block of per-lane indices.
    SRF_SwitchBSDF(const BX_PtrArray<SRF_BSDF *> &entries, int *index);
    ~SRF_SwitchBSDF() override;

    const char *className() const override;
    // As many entries, equal position by position with the fixed tolerance
    // 1e-6; the index blocks are not compared.
    bool isEqual(const KAL_RefType &other, float tolerance) const override;

    int getBounces(int lane) const override;

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

    void getBouncesBatch(const SRF_LaneBatch &batch) const override;
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
    // The entry picked for a lane, or null when the lane's index lies
    // outside the list.
    const SRF_BSDF *picked(int lane) const;
    // Its position in the list, or -1.
    int pickedIndex(int lane) const;
    template <class Query, class None> void byEntry(const SRF_LaneBatch &batch, Query query, None none) const;

    BX_PtrArray<SRF_BSDF *> myEntries;
    int *myIndex;
};

#endif
