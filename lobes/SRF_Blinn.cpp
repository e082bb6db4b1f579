#include "SRF_Blinn.h"

#include "BX_PolarSample.h"

SRF_Blinn::SRF_Blinn(BX_Vector3 *normal, float *exponent) : normal(normal), exponent(exponent)
{
    bounces = SRF_BOUNCE_GLOSSY;
}

SRF_Blinn::~SRF_Blinn()
{
    if (exponent)
        release(exponent);
    if (normal)
        release(normal);
}

const char *SRF_Blinn::className() const { return "SRF_Blinn"; }

// A = 1 / (e + 1).
float SRF_Blinn::albedo(const BX_Vector3 &, const BX_Vector3 &, int lane) const
{
    return 1.0f / (exponent[lane] + 1.0f);
}

// e / (e + 1).
float SRF_Blinn::specularRatio(int lane) const
{
    const float e = exponent[lane];
    return e / (e + 1.0f);
}

// H = (u + v) / |u + v|; f = (N.H)^e / (4 H.u) where N.v > 0 and N.H > 0,
// else 0; scalar = A. The side test uses the lobe's own normal N, not n.
void SRF_Blinn::evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                         float &scalar, int lane) const
{
    const BX_Vector3 &nl = normal[lane];
    BX_Vector3 h = u + v;
    h.normalize();
    const float k = nl.dot(h);
    scalar = albedo(u, n, lane);
    colour = BX_Vector3(0.0f, 0.0f, 0.0f);
    if (!(nl.dot(v) > 0.0f) || !(k > 0.0f))
        return;
    const float f = std::pow(k, exponent[lane]) / (4.0f * h.dot(u));
    colour = BX_Vector3(f, f, f);
}

// H about N with cos(H, N) = c = sy^(1/(e+1)), pdf(H) = (e+1)/(2 pi) (N.H)^e,
// azimuth 2 pi sx; H is turned toward u, v = 2 (u.H) H - u, and v is folded
// across n when it lands on the other side of n than u. Weight:
// c^e / (4 H.u), the value of the lobe for the unfolded v when H was not
// turned; scalar: A.
void SRF_Blinn::sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                       int &bounce, float sx, float sy, int lane) const
{
    const BX_PolarSample polar(normal[lane]);
    const float e = exponent[lane];
    const float c = std::pow(sy, 1.0f / (e + 1.0f));
    BX_Vector3 h;
    polar.compute(h, sx, (c + 1.0f) * 0.5f);
    if (h.dot(u) < 0.0f)
        h.negate();
    const BX_Vector3 w = -u;
    v = w - h * (2.0f * w.dot(h));
    scalar = albedo(u, n, lane);
    bounce = bounces;
    const float f = std::pow(c, e) / (4.0f * h.dot(u));
    colour = BX_Vector3(f, f, f);
    if (!sameHemisphere(u, n, v))
        v -= n * (2.0f * v.dot(n));
}

SRF_BSDF *SRF_Blinn::duplicate(int count) const
{
    SRF_Blinn *twin = new SRF_Blinn(copy(normal, count), copy(exponent, count));
    if (twin && (!twin->normal || !twin->exponent))
    {
        // The pool ran dry: a lobe without its blocks could not be queried.
        twin->decRefCount();
        return nullptr;
    }
    return twin;
}

void SRF_Blinn::flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &vectors,
                        BX_PtrArray<float *> &floats)
{
    bsdfs.append(this);
    vectors.append(normal);
    floats.append(exponent);
}

void SRF_Blinn::dump(int indent) const { dumpName(indent); }
