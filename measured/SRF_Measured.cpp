#include "SRF_Measured.h"

#include "SRF_MeasuredData.h"

SRF_Measured::SRF_Measured(SRF_MeasuredData *data, BX_Vector3 *normals, BX_Vector3 *dPds, BX_Vector3 *dPdt)
    : myData(data), myNormals(normals), myDPds(dPds), myDPdt(dPdt)
{
    bounces = SRF_BOUNCE_DIFFUSE;
}

SRF_Measured::~SRF_Measured()
{
    if (myDPdt)
        release(myDPdt);
    if (myDPds)
        release(myDPds);
    if (myNormals)
        release(myNormals);
}

const char *SRF_Measured::className() const { return "SRF_Measured"; }

// A = the data set's albedo (1 for the fitted models).
float SRF_Measured::albedo(const BX_Vector3 &u, const BX_Vector3 &n, int lane) const
{
    return myData->albedo(u, n, lane);
}

float SRF_Measured::specularRatio(int) const { return 0.0f; }

// f(u, v) = the fitted model about the lobe's own normal of the lane, which
// replaces the caller's n.
void SRF_Measured::evaluate(const BX_Vector3 &u, const BX_Vector3 &, const BX_Vector3 &v, BX_Vector3 &colour,
                            float &scalar, int lane) const
{
    myData->evaluate(u, myNormals[lane], v, colour, scalar, lane);
}

// The data set's sampling, with every argument passed through; it writes no
// bounce type.
void SRF_Measured::sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                          int &bounce, float sx, float sy, int lane) const
{
    myData->sample(u, n, v, colour, scalar, bounce, sx, sy, lane);
}

SRF_BSDF *SRF_Measured::duplicate(int count) const
{
    void *storage = SRF_BSDF::operator new(sizeof(SRF_Measured));
    if (!storage)
        return nullptr;
    return new (storage) SRF_Measured(myData, copy(myNormals, count), copy(myDPds, count), copy(myDPdt, count));
}

void SRF_Measured::flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &vectors, BX_PtrArray<float *> &)
{
    bsdfs.append(this);
    vectors.append(myNormals);
    vectors.append(myDPds);
    vectors.append(myDPdt);
}

void SRF_Measured::dump(int indent) const { dumpName(indent); }
