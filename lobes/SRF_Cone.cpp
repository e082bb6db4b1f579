#include "SRF_Cone.h"

#include "BX_PolarSample.h"

SRF_Cone::SRF_Cone(BX_Vector3 *axis, float *halfAngle) : axis(axis), halfAngle(halfAngle)
{
    bounces = SRF_BOUNCE_GLOSSY;
}

SRF_Cone::~SRF_Cone()
{
    if (halfAngle)
        release(halfAngle);
    if (axis)
        release(axis);
}

const char *SRF_Cone::className() const { return "SRF_Cone"; }

// A = 1 - cos(alpha): the cone's solid angle over 2 pi.
float SRF_Cone::albedo(const BX_Vector3 &, const BX_Vector3 &, int lane) const
{
    return 1.0f - std::cos(halfAngle[lane]);
}

// cos(alpha).
float SRF_Cone::specularRatio(int lane) const { return std::cos(halfAngle[lane]); }

// f(v) = 1 where m.v > 0 and D.v > cos(alpha), both strict, else 0, with m
// the normal turned toward D; scalar = A, the lobe's own albedo.
void SRF_Cone::evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                        float &scalar, int lane) const
{
    const BX_Vector3 &d = axis[lane];
    const BX_Vector3 m = d.dot(n) < 0.0f ? -n : n;
    const float cosAlpha = std::cos(halfAngle[lane]);
    scalar = albedo(u, n, lane);
    const bool inside = m.dot(v) > 0.0f && d.dot(v) > cosAlpha;
    colour = inside ? BX_Vector3(1.0f, 1.0f, 1.0f) : BX_Vector3(0.0f, 0.0f, 0.0f);
}

// (x, y) = sin(alpha) * (uniform unit-disk point), z = sqrt(1 - x^2 - y^2),
// v = x F1 + y F2 + z D: pdf(v) = (D.v) / (pi sin^2 alpha) inside the cone
// (alpha <= pi/2). v is folded across the normal turned toward D when it
// lands on the other side of n than D. Weight: 1; scalar: A, the lobe's own
// albedo.
void SRF_Cone::sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                      int &bounce, float sx, float sy, int lane) const
{
    bounce = bounces;
    scalar = albedo(u, n, lane);
    const float sinAlpha = std::sin(halfAngle[lane]);
    const BX_Vector3 &d = axis[lane];
    const BX_Vector3 m = d.dot(n) < 0.0f ? -n : n;

    float x, y;
    BX_PolarSample::computeDisk2(sx, sy, x, y);
    x *= sinAlpha;
    y *= sinAlpha;
    const float z = std::sqrt(1.0f - x * x - y * y);

    BX_Vector3 f1, f2;
    d.getFrameOfReference(f1, f2);
    v = (f1 * x + f2 * y) + d * z;
    colour = BX_Vector3(1.0f, 1.0f, 1.0f);
    if (!sameHemisphere(d, n, v))
        v -= m * (2.0f * v.dot(m));
}

SRF_BSDF *SRF_Cone::duplicate(int count) const
{
    SRF_Cone *twin = new SRF_Cone(copy(axis, count), copy(halfAngle, count));
    if (twin && (!twin->axis || !twin->halfAngle))
    {
        // The pool ran dry: a lobe without its blocks could not be queried.
        twin->decRefCount();
        return nullptr;
    }
    return twin;
}

void SRF_Cone::flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &vectors, BX_PtrArray<float *> &floats)
{
    bsdfs.append(this);
    vectors.append(axis);
    floats.append(halfAngle);
}

void SRF_Cone::dump(int indent) const { dumpName(indent); }
