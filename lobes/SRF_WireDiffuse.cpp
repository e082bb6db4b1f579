#include "SRF_WireDiffuse.h"

namespace
{
constexpr float TWO_PI = 6.2831855f;
constexpr float ALBEDO = 0.5f;
} // namespace

SRF_WireDiffuse::SRF_WireDiffuse(BX_Vector3 *tangent) : tangent(tangent) { bounces = SRF_BOUNCE_DIFFUSE; }

SRF_WireDiffuse::~SRF_WireDiffuse()
{
    if (tangent)
        release(tangent);
}

const char *SRF_WireDiffuse::className() const { return "SRF_WireDiffuse"; }

// A = 1/2.
float SRF_WireDiffuse::albedo(const BX_Vector3 &, const BX_Vector3 &, int) const { return ALBEDO; }

float SRF_WireDiffuse::specularRatio(int) const { return 0.0f; }

// f(v) = 1 - (T.v)^2 on the whole sphere; scalar = A.
void SRF_WireDiffuse::evaluate(const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &v, BX_Vector3 &colour,
                               float &scalar, int lane) const
{
    scalar = ALBEDO;
    const float t = tangent[lane].dot(v);
    const float k = 1.0f - t * t;
    colour = BX_Vector3(k, k, k);
}

// c = 2 sy - 1 uniform on [-1, 1] along T, azimuth 2 pi sx about T:
// v = s P(phi) + c T with s = sqrt(1 - c^2), uniform over the sphere.
// Weight: the sine s; scalar: A.
void SRF_WireDiffuse::sample(const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                             int &bounce, float sx, float sy, int lane) const
{
    bounce = bounces;
    scalar = ALBEDO;
    const BX_Vector3 &t = tangent[lane];
    BX_Vector3 f1, f2;
    t.getFrameOfReference(f1, f2);
    const float phi = TWO_PI * sx;
    const BX_Vector3 p = f1 * std::cos(phi) + f2 * std::sin(phi);
    const float c = 2.0f * sy - 1.0f;
    const float s = std::sqrt(1.0f - c * c);
    v = BX_Vector3(s * p.x + c * t.x, s * p.y + c * t.y, s * p.z + c * t.z);
    colour = BX_Vector3(s, s, s);
}

SRF_BSDF *SRF_WireDiffuse::duplicate(int count) const
{
    SRF_WireDiffuse *twin = new SRF_WireDiffuse(copy(tangent, count));
    if (twin && !twin->tangent)
    {
        // The pool ran dry: a lobe without its block could not be queried.
        twin->decRefCount();
        return nullptr;
    }
    return twin;
}

void SRF_WireDiffuse::flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &vectors,
                              BX_PtrArray<float *> &)
{
    bsdfs.append(this);
    vectors.append(tangent);
}

void SRF_WireDiffuse::dump(int indent) const { dumpName(indent); }
