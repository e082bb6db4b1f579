#include "SRF_Blinn.h"

#include "BX_PolarSample.h"
#include "SRF_LaneMath.h"

namespace
{
// The formulas, written once over the maths set M (SRF_LaneMath.h): the
// per-lane queries call them with the C library, the batch queries with the
// vectorisable set.

float blinnAlbedo(float e) { return 1.0f / (e + 1.0f); }

float blinnSpecularRatio(float e) { return e / (e + 1.0f); }

template <class M> BX_Vector3 blinnColour(const BX_Vector3 &nl, float e, const BX_Vector3 &u, const BX_Vector3 &v)
{
    BX_Vector3 h = u + v;
    h.normalize();
    const float k = nl.dot(h);
    const bool lit = (nl.dot(v) > 0.0f) & (k > 0.0f);
    const float f = lit ? M::pow(k, e) / (4.0f * h.dot(u)) : 0.0f;
    return BX_Vector3(f, f, f);
}

// The sampled direction; f receives its weight.
template <class M>
BX_Vector3 blinnDirection(const BX_Vector3 &nl, float e, const BX_Vector3 &u, const BX_Vector3 &n, float sx, float sy,
                          float &f)
{
    const float c = M::pow(sy, 1.0f / (e + 1.0f));
    BX_Vector3 h = BX_PolarSample::about<M>(nl, sx, (c + 1.0f) * 0.5f);
    h = h.dot(u) < 0.0f ? -h : h;
    const BX_Vector3 w = -u;
    const BX_Vector3 v = w - h * (2.0f * w.dot(h));
    f = M::pow(c, e) / (4.0f * h.dot(u));
    return SRFsameHemisphere(u, n, v) ? v : v - n * (2.0f * v.dot(n));
}
} // namespace

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
float SRF_Blinn::albedo(const BX_Vector3 &, const BX_Vector3 &, int lane) const { return blinnAlbedo(exponent[lane]); }

void SRF_Blinn::albedoBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Blinn>())
        return SRF_BSDF::albedoBatch(batch);
    const SRF_LaneBatch b = batch;
    const float *e = exponent;
    const int set = bounces;
    SRFforLanes(b.begin, b.end, [=](int lane) { b.putScalar(lane, set, blinnAlbedo(e[lane])); });
}

// e / (e + 1).
float SRF_Blinn::specularRatio(int lane) const { return blinnSpecularRatio(exponent[lane]); }

void SRF_Blinn::specularRatioBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Blinn>())
        return SRF_BSDF::specularRatioBatch(batch);
    const SRF_LaneBatch b = batch;
    const float *e = exponent;
    const int set = bounces;
    SRFforLanes(b.begin, b.end, [=](int lane) { b.putScalar(lane, set, blinnSpecularRatio(e[lane])); });
}

// H = (u + v) / |u + v|; f = (N.H)^e / (4 H.u) where N.v > 0 and N.H > 0,
// else 0; scalar = A. The side test uses the lobe's own normal N, not n.
void SRF_Blinn::evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                         float &scalar, int lane) const
{
    scalar = albedo(u, n, lane);
    colour = blinnColour<SRF_StdMath>(normal[lane], exponent[lane], u, v);
}

void SRF_Blinn::evaluateBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Blinn>())
        return SRF_BSDF::evaluateBatch(batch);
    const SRF_LaneBatch b = batch;
    const BX_Vector3 *nl = normal;
    const float *e = exponent;
    const int set = bounces;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const BX_Vector3 colour =
                        blinnColour<SRF_LaneMath>(nl[lane], e[lane], b.u.get(lane), b.v.get(lane));
                    b.putEvaluate(lane, set, colour, blinnAlbedo(e[lane]));
                });
}

// H about N with cos(H, N) = c = sy^(1/(e+1)), pdf(H) = (e+1)/(2 pi) (N.H)^e,
// azimuth 2 pi sx; H is turned toward u, v = 2 (u.H) H - u, and v is folded
// across n when it lands on the other side of n than u. Weight:
// c^e / (4 H.u), the value of the lobe for the unfolded v when H was not
// turned; scalar: A.
void SRF_Blinn::sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                       int &bounce, float sx, float sy, int lane) const
{
    float f;
    v = blinnDirection<SRF_StdMath>(normal[lane], exponent[lane], u, n, sx, sy, f);
    scalar = albedo(u, n, lane);
    bounce = bounces;
    colour = BX_Vector3(f, f, f);
}

void SRF_Blinn::sampleBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_Blinn>())
        return SRF_BSDF::sampleBatch(batch);
    const SRF_LaneBatch b = batch;
    const BX_Vector3 *nl = normal;
    const float *e = exponent;
    const int set = bounces;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    float f;
                    const BX_Vector3 v = blinnDirection<SRF_LaneMath>(nl[lane], e[lane], b.u.get(lane), b.n.get(lane),
                                                                      b.sx[lane], b.sy[lane], f);
                    b.putSample(lane, set, v, BX_Vector3(f, f, f), blinnAlbedo(e[lane]), set);
                });
}

void SRF_Blinn::emissionBatch(const SRF_LaneBatch &batch) const { emitNothingBatch<SRF_Blinn>(batch); }

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
