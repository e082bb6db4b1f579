#include "SRF_Measured.h"

#include "SRF_MeasuredData.h"

#include <algorithm>
#include <cmath>

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

// The fitted models draw the normalised point of the box
// [-1/2, 1/2]^2 x [0, 1/2] (volume 1/2, density 2): along a direction v of
// the upper half-space the box reaches t = min(1/(2|vx|), 1/(2|vy|), 1/(2 vz)),
// so pdf(v) = 2 t^3 / 3. The weight is the model's value for the caller's n.
void SRF_Measured::evaluatePdf(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &value,
                               float &pdf, int lane, int mask) const
{
    value = BX_Vector3(0.0f, 0.0f, 0.0f);
    pdf = 0.0f;
    BX_Vector3 d = v;
    d.normalize();
    if (!hasBounce(mask) || !myData || !(d.z > 0.0f))
        return;
    const float reach = 0.5f / std::max(std::max(std::fabs(d.x), std::fabs(d.y)), d.z);
    pdf = 2.0f / 3.0f * reach * reach * reach;
    BX_Vector3 colour;
    float scalar = 0.0f;
    myData->evaluate(u, n, d, colour, scalar, lane);
    value = colour * pdf;
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
