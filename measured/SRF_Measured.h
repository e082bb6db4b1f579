#ifndef SRF_MEASURED_H
#define SRF_MEASURED_H

#include "SRF_BSDF.h"

class SRF_MeasuredData;

// Renders a reflectance model fitted to a measurement file. Sampling,
// albedo and evaluation are forwarded to the data set, which the lobe points
// to but does not own (the measured-data cache keeps it for the life of the
// library). Per lane it carries the shading normal, used by evaluate in
// place of the caller's n, and the two surface derivative directions.
// Bounce set: diffuse.
class SRF_API SRF_Measured : public SRF_BSDF
{
public:
    // Takes ownership of the three blocks, not of the data set.
    SRF_Measured(SRF_MeasuredData *data, BX_Vector3 *normals, BX_Vector3 *dPds, BX_Vector3 *dPdt);
    ~SRF_Measured() override;

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

    void evaluatePdf(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &value, float &pdf,
                     int lane, int mask) const override;
    SRF_BSDF *duplicate(int count) const override;
    void flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &vectors,
                 BX_PtrArray<float *> &floats) override;
    void dump(int indent) const override;

    SRF_MeasuredData *getData() const { return myData; }
    const BX_Vector3 *getNormals() const { return myNormals; }
    const BX_Vector3 *getDPds() const { return myDPds; }
    const BX_Vector3 *getDPdt() const { return myDPdt; }

private:
    SRF_MeasuredData *myData;
    BX_Vector3 *myNormals;
    BX_Vector3 *myDPds;
    BX_Vector3 *myDPdt;
};

#endif
