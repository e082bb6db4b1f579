#include "SRF_Phong.h"

#include "BX_PolarSample.h"

#include <algorithm>

namespace
{
// Below this disk radius the point is taken as the centre: dividing by r
// would only amplify rounding.
constexpr float DISK_CENTRE = 0.0001f;
} // namespace

SRF_Phong::SRF_Phong(BX_Vector3 *axis, float *exponent) : axis(axis), exponent(exponent)
{
    bounces = SRF_BOUNCE_GLOSSY;
}

SRF_Phong::~SRF_Phong()
{
    if (exponent)
        release(exponent);
    if (axis)
        release(axis);
}

const char *SRF_Phong::className() const { return "SRF_Phong"; }

// A = 1 / (e + 1).
float SRF_Phong::albedo(const BX_Vector3 &, const BX_Vector3 &, int lane) const
{
    return 1.0f / (exponent[lane] + 1.0f);
}

// e / (e + 1).
float SRF_Phong::specularRatio(int lane) const
{
    const float e = exponent[lane];
    return e / (e + 1.0f);
}

// f(v) = (D.v)^e where n.v > 0 and D.v > 0, else 0; scalar = A.
void SRF_Phong::evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                         float &scalar, int lane) const
{
    scalar = albedo(u, n, lane);
    colour = BX_Vector3(0.0f, 0.0f, 0.0f);
    const BX_Vector3 &d = axis[lane];
    if (n.dot(v) <= 0.0f)
        return;
    const float cosAxis = d.dot(v);
    if (cosAxis <= 0.0f)
        return;
    const float c = std::pow(cosAxis, exponent[lane]);
    colour = BX_Vector3(c, c, c);
}

// A uniform disk point (x, y) of radius r gives xi = r^2 uniform on [0, 1];
// cos(v, D) = xi^(1/(e+1)) draws pdf(v) = (e+1)/(2 pi) (D.v)^e, the azimuth
// is the disk point's. v = sin * (x F1 + y F2) + cos * D, folded across the
// normal turned toward D when it lands on the other side of n than D.
// Weight: r^2; scalar: A.
void SRF_Phong::sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                       int &bounce, float sx, float sy, int lane) const
{
    bounce = bounces;
    scalar = albedo(u, n, lane);
    const BX_Vector3 &d = axis[lane];
    const BX_Vector3 m = d.dot(n) < 0.0f ? -n : n;

    float x, y;
    BX_PolarSample::computeDisk2(sx, sy, x, y);
    const float r2 = x * x + y * y;
    const float r = std::sqrt(r2);
    colour = BX_Vector3(r2, r2, r2);
    float s;
    if (r > DISK_CENTRE)
    {
        const float inv = 1.0f / r;
        x *= inv;
        y *= inv;
        const float c = std::pow(r2, 1.0f / (exponent[lane] + 1.0f));
        s = std::sin(std::acos(std::clamp(c, -1.0f, 1.0f)));
        x *= s;
        y *= s;
    }
    else
        s = r;

    BX_Vector3 f1, f2;
    d.getFrameOfReference(f1, f2);
    v = (f1 * x + f2 * y) + d * std::sqrt(1.0f - s * s);
    if (!sameHemisphere(d, n, v))
        v -= m * (2.0f * v.dot(m));
}

SRF_BSDF *SRF_Phong::duplicate(int count) const
{
    SRF_Phong *twin = new SRF_Phong(copy(axis, count), copy(exponent, count));
    if (twin && (!twin->axis || !twin->exponent))
    {
        // The pool ran dry: a lobe without its blocks could not be queried.
        twin->decRefCount();
        return nullptr;
    }
    return twin;
}

void SRF_Phong::flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &vectors,
                        BX_PtrArray<float *> &floats)
{
    bsdfs.append(this);
    vectors.append(axis);
    floats.append(exponent);
}

void SRF_Phong::dump(int indent) const { dumpName(indent); }
