#include "SRF_WireBlinn.h"

#include "SRF_LaneMath.h"

namespace
{
constexpr float TWO_PI = 6.2831855f;

// The formulas, written once over the maths set M (SRF_LaneMath.h): the
// per-lane queries call them with the C library, the batch queries with the
// vectorisable set.

float wireBlinnAlbedo(float e) { return std::sqrt(1.0f / (e + 1.0f)); }

float wireBlinnSpecularRatio(float e) { return e / (e + 1.0f); }

template <class M> float wireBlinnValue(const BX_Vector3 &t, float e, const BX_Vector3 &u, const BX_Vector3 &v)
{
    BX_Vector3 h = u + v;
    h.normalize();
    const float c = t.dot(h);
    return M::pow(std::sqrt(1.0f - c * c), e);
}

template <class M> BX_Vector3 wireBlinnDirection(const BX_Vector3 &t, float e, const BX_Vector3 &u, float sx, float sy)
{
    BX_Vector3 f1, f2;
    t.getFrameOfReference(f1, f2);
    const float phi = TWO_PI * sx;
    BX_Vector3 p = f1 * M::cos(phi) + f2 * M::sin(phi);
    p = p.dot(u) < 0.0f ? -p : p;
    const bool upper = sy > 0.5f;
    const float xi = upper ? 2.0f * (sy - 0.5f) : 2.0f * sy;
    const float s = M::pow(xi, 1.0f / (e + 1.0f));
    const float c = std::sqrt(1.0f - s * s);
    BX_Vector3 h = upper ? p * s + t * c : p * s - t * c;
    h.normalize();
    const BX_Vector3 w = -u;
    return w - h * (2.0f * w.dot(h));
}
} // namespace

SRF_WireBlinn::SRF_WireBlinn(BX_Vector3 *tangent, float *exponent) : tangent(tangent), exponent(exponent)
{
    bounces = SRF_BOUNCE_GLOSSY;
}

SRF_WireBlinn::~SRF_WireBlinn()
{
    if (exponent)
        release(exponent);
    if (tangent)
        release(tangent);
}

const char *SRF_WireBlinn::className() const { return "SRF_WireBlinn"; }

// A = sqrt(1 / (e + 1)).
float SRF_WireBlinn::albedo(const BX_Vector3 &, const BX_Vector3 &, int lane) const
{
    return wireBlinnAlbedo(exponent[lane]);
}

void SRF_WireBlinn::albedoBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_WireBlinn>())
        return SRF_BSDF::albedoBatch(batch);
    const SRF_LaneBatch b = batch;
    const float *e = exponent;
    const int set = bounces;
    SRFforLanes(b.begin, b.end, [=](int lane) { b.putScalar(lane, set, wireBlinnAlbedo(e[lane])); });
}

// e / (e + 1).
float SRF_WireBlinn::specularRatio(int lane) const { return wireBlinnSpecularRatio(exponent[lane]); }

void SRF_WireBlinn::specularRatioBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_WireBlinn>())
        return SRF_BSDF::specularRatioBatch(batch);
    const SRF_LaneBatch b = batch;
    const float *e = exponent;
    const int set = bounces;
    SRFforLanes(b.begin, b.end, [=](int lane) { b.putScalar(lane, set, wireBlinnSpecularRatio(e[lane])); });
}

// H = (u + v) / |u + v|, t = T.H; f = (sqrt(1 - t^2))^e with no side or sign
// test; scalar = A.
void SRF_WireBlinn::evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                             float &scalar, int lane) const
{
    scalar = albedo(u, n, lane);
    const float k = wireBlinnValue<SRF_StdMath>(tangent[lane], exponent[lane], u, v);
    colour = BX_Vector3(k, k, k);
}

void SRF_WireBlinn::evaluateBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_WireBlinn>())
        return SRF_BSDF::evaluateBatch(batch);
    const SRF_LaneBatch b = batch;
    const BX_Vector3 *t = tangent;
    const float *e = exponent;
    const int set = bounces;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const float k = wireBlinnValue<SRF_LaneMath>(t[lane], e[lane], b.u.get(lane), b.v.get(lane));
                    b.putEvaluate(lane, set, BX_Vector3(k, k, k), wireBlinnAlbedo(e[lane]));
                });
}

// P = P(2 pi sx) perpendicular to T, turned toward u. sy picks the half of
// the sphere (+T above 1/2, -T otherwise) and, rescaled to xi in [0, 1], the
// sine s = xi^(1/(e+1)) of the angle between H and T:
// H = s P +- sqrt(1 - s^2) T, normalised, and v = 2 (u.H) H - u, not folded.
// Weight and scalar are the lobe's value for v.
void SRF_WireBlinn::sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                           int &bounce, float sx, float sy, int lane) const
{
    v = wireBlinnDirection<SRF_StdMath>(tangent[lane], exponent[lane], u, sx, sy);
    evaluate(u, n, v, colour, scalar, lane);
    bounce = bounces;
}

void SRF_WireBlinn::sampleBatch(const SRF_LaneBatch &batch) const
{
    if (!isExactly<SRF_WireBlinn>())
        return SRF_BSDF::sampleBatch(batch);
    const SRF_LaneBatch b = batch;
    const BX_Vector3 *t = tangent;
    const float *e = exponent;
    const int set = bounces;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const BX_Vector3 u = b.u.get(lane);
                    const BX_Vector3 v = wireBlinnDirection<SRF_LaneMath>(t[lane], e[lane], u, b.sx[lane], b.sy[lane]);
                    const float k = wireBlinnValue<SRF_LaneMath>(t[lane], e[lane], u, v);
                    b.putSample(lane, set, v, BX_Vector3(k, k, k), wireBlinnAlbedo(e[lane]), set);
                });
}

void SRF_WireBlinn::emissionBatch(const SRF_LaneBatch &batch) const { emitNothingBatch<SRF_WireBlinn>(batch); }

SRF_BSDF *SRF_WireBlinn::duplicate(int count) const
{
    SRF_WireBlinn *twin = new SRF_WireBlinn(copy(tangent, count), copy(exponent, count));
    if (twin && (!twin->tangent || !twin->exponent))
    {
        // The pool ran dry: a lobe without its blocks could not be queried.
        twin->decRefCount();
        return nullptr;
    }
    return twin;
}

void SRF_WireBlinn::flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &vectors,
                            BX_PtrArray<float *> &floats)
{
    bsdfs.append(this);
    vectors.append(tangent);
    floats.append(exponent);
}

void SRF_WireBlinn::dump(int indent) const { dumpName(indent); }
