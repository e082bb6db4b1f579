// The analytic lobes' evaluate and sample, ns per call, each beside the same
// formula written inline here: no virtual call, no mask test, no pooled
// block, parameters read from plain arrays. Both sides run over the same 256
// lanes of directions and random numbers. The lobe is called as a renderer
// calls it: through an SRF_BSDF pointer, masked form, mask 7.
#include "bench_pair.h"

#include "BX_PolarSample.h"
#include "SRF_Ashikhmin.h"
#include "SRF_Blinn.h"
#include "SRF_Cone.h"
#include "SRF_Emission.h"
#include "SRF_Isotropic.h"
#include "SRF_Lafortune.h"
#include "SRF_Phong.h"
#include "SRF_Specular.h"
#include "SRF_WireBlinn.h"
#include "SRF_WireDiffuse.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace
{
const int LANES = KAL_MAX_LANES;
const int MASK = SRF_BOUNCE_SCATTER;
const double LOBE_AIM = 1.3;
const int BATCHES = 3000;

constexpr float HALF_PI = 1.5707964f;
constexpr float PI = 3.1415927f;
constexpr float TWO_PI = 6.2831855f;
constexpr float INV_TWO_PI = 0.15915494f;
constexpr float DISK_CENTRE = 0.0001f;
constexpr float DELTA_WEIGHT = 1e6f;

// Directions, random numbers and lobe parameters for every lane.
struct Lanes
{
    BX_Vector3 u[LANES], n[LANES], v[LANES];
    float sx[LANES], sy[LANES];
    BX_Vector3 axis[LANES], tangent1[LANES], tangent2[LANES], coefficients[LANES];
    float exponent[LANES], exponent2[LANES], angle[LANES];

    Lanes()
    {
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> r01(0.0f, 1.0f);
        for (int i = 0; i < LANES; ++i)
        {
            n[i] = BX_Vector3(0.2f * r01(rng) - 0.1f, 0.2f * r01(rng) - 0.1f, 1.0f);
            n[i].normalize();
            u[i] = BX_Vector3(2.0f * r01(rng) - 1.0f, 2.0f * r01(rng) - 1.0f, r01(rng) + 0.05f);
            u[i].normalize();
            v[i] = BX_Vector3(2.0f * r01(rng) - 1.0f, 2.0f * r01(rng) - 1.0f, 1.2f * r01(rng) - 0.2f);
            v[i].normalize();
            sx[i] = r01(rng);
            sy[i] = r01(rng);
            axis[i] = n[i] * (2.0f * u[i].dot(n[i])) - u[i];
            n[i].getFrameOfReference(tangent1[i], tangent2[i]);
            coefficients[i] = BX_Vector3(-0.9f, -0.9f, 0.95f);
            exponent[i] = 5.0f + 95.0f * r01(rng);
            exponent2[i] = 2.0f + 30.0f * r01(rng);
            angle[i] = 0.1f + 0.5f * r01(rng);
        }
    }
};

const Lanes &lanes()
{
    static const Lanes all;
    return all;
}

BX_Vector3 *vectorBlock(const BX_Vector3 *from)
{
    BX_Vector3 *block = SRF_BSDF::allocVector();
    std::memcpy(block, from, sizeof(BX_Vector3) * LANES);
    return block;
}

float *floatBlock(const float *from)
{
    float *block = SRF_BSDF::allocFloat();
    std::memcpy(block, from, sizeof(float) * LANES);
    return block;
}

bool sameSide(const BX_Vector3 &a, const BX_Vector3 &normal, const BX_Vector3 &b)
{
    return (a.dot(normal) > 0.0f) == (b.dot(normal) > 0.0f);
}

const BX_Vector3 ZERO(0.0f, 0.0f, 0.0f);
const BX_Vector3 ONE(1.0f, 1.0f, 1.0f);

// ---------------------------------------------------------------------------
// The formulas, one struct per lobe: make() builds the library's object on
// pooled copies of the lane arrays; evaluate and sample compute the same
// values from the arrays directly.

struct Isotropic
{
    static const char *name() { return "isotropic"; }
    static SRF_BSDF *make(const Lanes &) { return new SRF_Isotropic(); }
    static void evaluate(const Lanes &, int, const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &,
                         BX_Vector3 &colour, float &scalar)
    {
        colour = ONE;
        scalar = 1.0f;
    }
    static void sample(const Lanes &, int, const BX_Vector3 &u, const BX_Vector3 &, BX_Vector3 &v, BX_Vector3 &colour,
                       float &scalar, int &bounce, float sx, float sy)
    {
        BX_PolarSample(u).compute(v, sx, sy);
        colour = ONE;
        scalar = 1.0f;
        bounce = SRF_BOUNCE_DIFFUSE;
    }
};

struct Emission
{
    static const char *name() { return "emission"; }
    static SRF_BSDF *make(const Lanes &) { return new SRF_Emission(); }
    static void evaluate(const Lanes &, int, const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &,
                         BX_Vector3 &colour, float &scalar)
    {
        colour = ZERO;
        scalar = 0.0f;
    }
    static void sample(const Lanes &, int, const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &, BX_Vector3 &colour,
                       float &scalar, int &, float, float)
    {
        colour = ZERO;
        scalar = 0.0f;
    }
};

struct Specular
{
    static const char *name() { return "specular"; }
    static SRF_BSDF *make(const Lanes &l) { return new SRF_Specular(vectorBlock(l.axis)); }
    static void evaluate(const Lanes &, int, const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &,
                         BX_Vector3 &colour, float &scalar)
    {
        colour = ZERO;
        scalar = 1.0f;
    }
    static void sample(const Lanes &l, int i, const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &v, BX_Vector3 &colour,
                       float &scalar, int &bounce, float, float)
    {
        v = l.axis[i];
        v.normalize();
        colour = BX_Vector3(DELTA_WEIGHT, DELTA_WEIGHT, DELTA_WEIGHT);
        scalar = 1.0f;
        bounce = SRF_BOUNCE_SPECULAR;
    }
};

// The cosine-power warp of a disk point shared by Phong and Lafortune:
// cos = (r^2)^(1/(e+1)), the disk point rescaled to the sine.
void cosinePowerDisk(float &x, float &y, float r2, float e, float &s)
{
    const float r = std::sqrt(r2);
    if (r > DISK_CENTRE)
    {
        const float inv = 1.0f / r;
        x *= inv;
        y *= inv;
        const float c = std::pow(r2, 1.0f / (e + 1.0f));
        s = std::sin(std::acos(std::clamp(c, -1.0f, 1.0f)));
        x *= s;
        y *= s;
    }
    else
        s = r;
}

struct Phong
{
    static const char *name() { return "phong"; }
    static SRF_BSDF *make(const Lanes &l) { return new SRF_Phong(vectorBlock(l.axis), floatBlock(l.exponent)); }
    static void evaluate(const Lanes &l, int i, const BX_Vector3 &, const BX_Vector3 &n, const BX_Vector3 &v,
                         BX_Vector3 &colour, float &scalar)
    {
        const float e = l.exponent[i];
        scalar = 1.0f / (e + 1.0f);
        colour = ZERO;
        const float cosAxis = l.axis[i].dot(v);
        if (n.dot(v) <= 0.0f || cosAxis <= 0.0f)
            return;
        const float c = std::pow(cosAxis, e);
        colour = BX_Vector3(c, c, c);
    }
    static void sample(const Lanes &l, int i, const BX_Vector3 &, const BX_Vector3 &n, BX_Vector3 &v,
                       BX_Vector3 &colour, float &scalar, int &bounce, float sx, float sy)
    {
        const float e = l.exponent[i];
        bounce = SRF_BOUNCE_GLOSSY;
        scalar = 1.0f / (e + 1.0f);
        const BX_Vector3 &d = l.axis[i];
        const BX_Vector3 m = d.dot(n) < 0.0f ? -n : n;
        float x, y, s;
        BX_PolarSample::computeDisk2(sx, sy, x, y);
        const float r2 = x * x + y * y;
        colour = BX_Vector3(r2, r2, r2);
        cosinePowerDisk(x, y, r2, e, s);
        BX_Vector3 f1, f2;
        d.getFrameOfReference(f1, f2);
        v = (f1 * x + f2 * y) + d * std::sqrt(1.0f - s * s);
        if (!sameSide(d, n, v))
            v -= m * (2.0f * v.dot(m));
    }
};

struct Blinn
{
    static const char *name() { return "blinn"; }
    static SRF_BSDF *make(const Lanes &l) { return new SRF_Blinn(vectorBlock(l.n), floatBlock(l.exponent)); }
    static void evaluate(const Lanes &l, int i, const BX_Vector3 &u, const BX_Vector3 &, const BX_Vector3 &v,
                         BX_Vector3 &colour, float &scalar)
    {
        const BX_Vector3 &nl = l.n[i];
        const float e = l.exponent[i];
        BX_Vector3 h = u + v;
        h.normalize();
        const float k = nl.dot(h);
        scalar = 1.0f / (e + 1.0f);
        colour = ZERO;
        if (!(nl.dot(v) > 0.0f) || !(k > 0.0f))
            return;
        const float f = std::pow(k, e) / (4.0f * h.dot(u));
        colour = BX_Vector3(f, f, f);
    }
    static void sample(const Lanes &l, int i, const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v,
                       BX_Vector3 &colour, float &scalar, int &bounce, float sx, float sy)
    {
        const float e = l.exponent[i];
        const float c = std::pow(sy, 1.0f / (e + 1.0f));
        BX_Vector3 h;
        BX_PolarSample(l.n[i]).compute(h, sx, (c + 1.0f) * 0.5f);
        if (h.dot(u) < 0.0f)
            h.negate();
        const BX_Vector3 w = -u;
        v = w - h * (2.0f * w.dot(h));
        scalar = 1.0f / (e + 1.0f);
        bounce = SRF_BOUNCE_GLOSSY;
        const float f = std::pow(c, e) / (4.0f * h.dot(u));
        colour = BX_Vector3(f, f, f);
        if (!sameSide(u, n, v))
            v -= n * (2.0f * v.dot(n));
    }
};

struct Cone
{
    static const char *name() { return "cone"; }
    static SRF_BSDF *make(const Lanes &l) { return new SRF_Cone(vectorBlock(l.axis), floatBlock(l.angle)); }
    static void evaluate(const Lanes &l, int i, const BX_Vector3 &, const BX_Vector3 &n, const BX_Vector3 &v,
                         BX_Vector3 &colour, float &scalar)
    {
        const BX_Vector3 &d = l.axis[i];
        const BX_Vector3 m = d.dot(n) < 0.0f ? -n : n;
        const float cosAlpha = std::cos(l.angle[i]);
        scalar = 1.0f - cosAlpha;
        colour = (m.dot(v) > 0.0f && d.dot(v) > cosAlpha) ? ONE : ZERO;
    }
    static void sample(const Lanes &l, int i, const BX_Vector3 &, const BX_Vector3 &n, BX_Vector3 &v,
                       BX_Vector3 &colour, float &scalar, int &bounce, float sx, float sy)
    {
        bounce = SRF_BOUNCE_GLOSSY;
        scalar = 1.0f - std::cos(l.angle[i]);
        const BX_Vector3 &d = l.axis[i];
        const BX_Vector3 m = d.dot(n) < 0.0f ? -n : n;
        float x, y;
        BX_PolarSample::computeDisk2(sx, sy, x, y);
        const float sinAlpha = std::sin(l.angle[i]);
        x *= sinAlpha;
        y *= sinAlpha;
        const float z = std::sqrt(1.0f - x * x - y * y);
        BX_Vector3 f1, f2;
        d.getFrameOfReference(f1, f2);
        v = (f1 * x + f2 * y) + d * z;
        colour = ONE;
        if (!sameSide(d, n, v))
            v -= m * (2.0f * v.dot(m));
    }
};

struct Ashikhmin
{
    static const char *name() { return "ashikhmin"; }
    static SRF_BSDF *make(const Lanes &l)
    {
        return new SRF_Ashikhmin(vectorBlock(l.n), floatBlock(l.exponent), floatBlock(l.exponent2),
                                 vectorBlock(l.tangent1), vectorBlock(l.tangent2));
    }
    static void frame(const Lanes &l, int i, BX_Vector3 &x, BX_Vector3 &y)
    {
        x = l.tangent2[i].cross(l.n[i]);
        x.normalize();
        y = l.n[i].cross(l.tangent1[i]);
        y.normalize();
    }
    static void evaluate(const Lanes &l, int i, const BX_Vector3 &u, const BX_Vector3 &, const BX_Vector3 &v,
                         BX_Vector3 &colour, float &scalar)
    {
        const float e1 = l.exponent[i], e2 = l.exponent2[i];
        BX_Vector3 x, y;
        frame(l, i, x, y);
        BX_Vector3 h = u + v;
        h.normalize();
        const float hx = x.dot(h), hy = y.dot(h), hz = l.n[i].dot(h);
        scalar = 1.0f / std::sqrt((e2 + 1.0f) * (e1 + 1.0f));
        colour = ZERO;
        if (!(hz > 0.0f))
            return;
        const float p = (e2 * hy * hy + e1 * hx * hx) / (1.0f - hz * hz);
        const float f = std::pow(hz, p) / (4.0f * h.dot(u));
        colour = BX_Vector3(f, f, f);
    }
    static void quadrant(float e1, float e2, float a, float b, float &phi, float &cosTheta)
    {
        const float k = std::sqrt((e1 + 1.0f) / (e2 + 1.0f));
        phi = std::atan(k * std::tan(a * HALF_PI));
        const float cosPhi = std::cos(phi), sinPhi = std::sin(phi);
        cosTheta = std::pow(b, 1.0f / (e1 * cosPhi * cosPhi + e2 * sinPhi * sinPhi + 1.0f));
    }
    static void sample(const Lanes &l, int i, const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v,
                       BX_Vector3 &colour, float &scalar, int &bounce, float sx, float sy)
    {
        const float e1 = l.exponent[i], e2 = l.exponent2[i];
        BX_Vector3 x, y;
        frame(l, i, x, y);
        const BX_PolarSample polar(l.n[i], x, y);
        bounce = SRF_BOUNCE_GLOSSY;
        float phi, cosTheta;
        if (sx < 0.25f)
            quadrant(e1, e2, 4.0f * sx, sy, phi, cosTheta);
        else if (sx < 0.5f)
        {
            quadrant(e1, e2, 4.0f * (0.5f - sx), sy, phi, cosTheta);
            phi = PI - phi;
        }
        else if (sx < 0.75f)
        {
            quadrant(e1, e2, 4.0f * (sx - 0.5f), sy, phi, cosTheta);
            phi = PI + phi;
        }
        else
        {
            quadrant(e1, e2, 4.0f * (1.0f - sx), sy, phi, cosTheta);
            phi = TWO_PI - phi;
        }
        BX_Vector3 h;
        polar.compute(h, phi * INV_TWO_PI, (cosTheta + 1.0f) * 0.5f);
        if (h.dot(u) < 0.0f)
            h.negate();
        const BX_Vector3 w = -u;
        v = w - h * (2.0f * w.dot(h));
        if (!sameSide(u, n, v))
            v -= n * (2.0f * v.dot(n));
        evaluate(l, i, u, n, v, colour, scalar);
    }
};

struct Lafortune
{
    static const char *name() { return "lafortune"; }
    static SRF_BSDF *make(const Lanes &l)
    {
        return new SRF_Lafortune(vectorBlock(l.n), vectorBlock(l.coefficients), floatBlock(l.exponent));
    }
    static void localFrame(const BX_Vector3 &nl, const BX_Vector3 &u, BX_Vector3 &t, BX_Vector3 &b)
    {
        t = nl.cross(u);
        t.normalize();
        b = nl.cross(t);
    }
    static void evaluate(const Lanes &l, int i, const BX_Vector3 &u, const BX_Vector3 &, const BX_Vector3 &v,
                         BX_Vector3 &colour, float &scalar)
    {
        const float e = l.exponent[i];
        scalar = e > 0.0f ? 1.0f / (e + 1.0f) : 0.5f;
        colour = ZERO;
        const BX_Vector3 &nl = l.n[i];
        if (!sameSide(u, nl, v))
            return;
        if (!(e > 0.0f))
        {
            const float a = std::fabs(nl.dot(v));
            colour = BX_Vector3(a, a, a);
            return;
        }
        BX_Vector3 t, b;
        localFrame(nl, u, t, b);
        const BX_Vector3 &k = l.coefficients[i];
        const float q = (k.z * nl.dot(u) * nl.dot(v) + k.y * b.dot(u) * b.dot(v)) + k.x * t.dot(u) * t.dot(v);
        if (q > 0.0f)
        {
            const float c = std::pow(q, e);
            colour = BX_Vector3(c, c, c);
        }
    }
    static void sample(const Lanes &l, int i, const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v,
                       BX_Vector3 &colour, float &scalar, int &bounce, float sx, float sy)
    {
        const float e = l.exponent[i];
        bounce = SRF_BOUNCE_GLOSSY;
        scalar = e > 0.0f ? 1.0f / (e + 1.0f) : 0.5f;
        BX_Vector3 nl = l.n[i];
        if (!sameSide(u, n, nl))
            nl.negate();
        BX_Vector3 t, b;
        localFrame(nl, u, t, b);
        float x, y, s;
        BX_PolarSample::computeDisk2(sx, sy, x, y);
        if (!(e > 0.0f))
        {
            v = (t * x + b * y) + nl * std::sqrt(1.0f - x * x - y * y);
            if (!sameSide(u, n, v))
                v -= n * (2.0f * v.dot(n));
            const float a = std::fabs(nl.dot(v));
            colour = BX_Vector3(a, a, a);
            return;
        }
        const BX_Vector3 &k = l.coefficients[i];
        const BX_Vector3 w(k.x * t.dot(u), k.y * b.dot(u), k.z * nl.dot(u));
        BX_Vector3 f1, f2;
        w.getFrameOfReference(f1, f2);
        const float r2 = x * x + y * y;
        colour = BX_Vector3(r2, r2, r2);
        cosinePowerDisk(x, y, r2, e, s);
        BX_Vector3 local = (f1 * x + f2 * y) + w * std::sqrt(1.0f - s * s);
        if (local.z <= 0.0f)
            local.z = -local.z;
        v = (t * local.x + b * local.y) + nl * local.z;
    }
};

struct WireBlinn
{
    static const char *name() { return "wireblinn"; }
    static SRF_BSDF *make(const Lanes &l) { return new SRF_WireBlinn(vectorBlock(l.tangent1), floatBlock(l.exponent)); }
    static void evaluate(const Lanes &l, int i, const BX_Vector3 &u, const BX_Vector3 &, const BX_Vector3 &v,
                         BX_Vector3 &colour, float &scalar)
    {
        const float e = l.exponent[i];
        scalar = std::sqrt(1.0f / (e + 1.0f));
        BX_Vector3 h = u + v;
        h.normalize();
        const float t = l.tangent1[i].dot(h);
        const float k = std::pow(std::sqrt(1.0f - t * t), e);
        colour = BX_Vector3(k, k, k);
    }
    static void sample(const Lanes &l, int i, const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v,
                       BX_Vector3 &colour, float &scalar, int &bounce, float sx, float sy)
    {
        const BX_Vector3 &t = l.tangent1[i];
        BX_Vector3 f1, f2;
        t.getFrameOfReference(f1, f2);
        const float phi = TWO_PI * sx;
        BX_Vector3 p = f1 * std::cos(phi) + f2 * std::sin(phi);
        if (p.dot(u) < 0.0f)
            p.negate();
        const bool upper = sy > 0.5f;
        const float xi = upper ? 2.0f * (sy - 0.5f) : 2.0f * sy;
        const float s = std::pow(xi, 1.0f / (l.exponent[i] + 1.0f));
        const float c = std::sqrt(1.0f - s * s);
        BX_Vector3 h = upper ? p * s + t * c : p * s - t * c;
        h.normalize();
        const BX_Vector3 w = -u;
        v = w - h * (2.0f * w.dot(h));
        evaluate(l, i, u, n, v, colour, scalar);
        bounce = SRF_BOUNCE_GLOSSY;
    }
};

struct WireDiffuse
{
    static const char *name() { return "wirediffuse"; }
    static SRF_BSDF *make(const Lanes &l) { return new SRF_WireDiffuse(vectorBlock(l.tangent1)); }
    static void evaluate(const Lanes &l, int i, const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &v,
                         BX_Vector3 &colour, float &scalar)
    {
        scalar = 0.5f;
        const float t = l.tangent1[i].dot(v);
        const float k = 1.0f - t * t;
        colour = BX_Vector3(k, k, k);
    }
    static void sample(const Lanes &l, int i, const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &v, BX_Vector3 &colour,
                       float &scalar, int &bounce, float sx, float sy)
    {
        bounce = SRF_BOUNCE_DIFFUSE;
        scalar = 0.5f;
        const BX_Vector3 &t = l.tangent1[i];
        BX_Vector3 f1, f2;
        t.getFrameOfReference(f1, f2);
        const float phi = TWO_PI * sx;
        const BX_Vector3 p = f1 * std::cos(phi) + f2 * std::sin(phi);
        const float c = 2.0f * sy - 1.0f;
        const float s = std::sqrt(1.0f - c * c);
        v = BX_Vector3(s * p.x + c * t.x, s * p.y + c * t.y, s * p.z + c * t.z);
        colour = BX_Vector3(s, s, s);
    }
};

// ---------------------------------------------------------------------------

// The lobe is reached through a pointer the compiler cannot see through, as
// a renderer holding a BSDF of unknown class does.
const SRF_BSDF *opaque(const SRF_BSDF *bsdf)
{
    const SRF_BSDF *volatile hidden = bsdf;
    return hidden;
}

template <class Lobe> void LobeEvaluate(benchmark::State &state)
{
    const Lanes &l = lanes();
    SRF_BSDF *made = Lobe::make(l);
    const SRF_BSDF *bsdf = opaque(made);
    float sink = 0.0f;
    bench::comparePair(
        state, "1 lobes", std::string(Lobe::name()) + " evaluate", "formula inline", LANES, LOBE_AIM,
        [&]
        {
            for (int i = 0; i < LANES; ++i)
            {
                BX_Vector3 colour;
                float scalar;
                bsdf->evaluate(l.u[i], l.n[i], l.v[i], colour, scalar, i, MASK);
                sink += colour.x + scalar;
            }
            benchmark::DoNotOptimize(sink);
        },
        [&]
        {
            for (int i = 0; i < LANES; ++i)
            {
                BX_Vector3 colour;
                float scalar;
                Lobe::evaluate(l, i, l.u[i], l.n[i], l.v[i], colour, scalar);
                sink += colour.x + scalar;
            }
            benchmark::DoNotOptimize(sink);
        });
    made->decRefCount();
}

template <class Lobe> void LobeSample(benchmark::State &state)
{
    const Lanes &l = lanes();
    SRF_BSDF *made = Lobe::make(l);
    const SRF_BSDF *bsdf = opaque(made);
    float sink = 0.0f;
    bench::comparePair(
        state, "1 lobes", std::string(Lobe::name()) + " sample", "formula inline", LANES, LOBE_AIM,
        [&]
        {
            for (int i = 0; i < LANES; ++i)
            {
                BX_Vector3 v, colour;
                float scalar;
                int bounce = 0;
                bsdf->sample(l.u[i], l.n[i], v, colour, scalar, bounce, l.sx[i], l.sy[i], i, MASK);
                sink += v.x + colour.x + scalar + float(bounce);
            }
            benchmark::DoNotOptimize(sink);
        },
        [&]
        {
            for (int i = 0; i < LANES; ++i)
            {
                BX_Vector3 v, colour;
                float scalar;
                int bounce = 0;
                Lobe::sample(l, i, l.u[i], l.n[i], v, colour, scalar, bounce, l.sx[i], l.sy[i]);
                sink += v.x + colour.x + scalar + float(bounce);
            }
            benchmark::DoNotOptimize(sink);
        });
    made->decRefCount();
}

// The batch queries against the per-lane masked calls, over the same lanes:
// the lobe's evaluateBatch or sampleBatch for all 256 lanes (all running,
// mask 7) beside the loop of its masked per-lane calls.
struct BatchLanes : SRF_LaneBatchStorage
{
    explicit BatchLanes(const Lanes &l)
    {
        batch.end = LANES;
        for (int i = 0; i < LANES; ++i)
        {
            batch.u.set(i, l.u[i]);
            batch.n.set(i, l.n[i]);
            batch.v.set(i, l.v[i]);
            sx[i] = l.sx[i];
            sy[i] = l.sy[i];
            run[i] = 1;
            mask[i] = MASK;
        }
    }
};

// Isotropic, emission and specular evaluate are aimed at 8 times, the
// others at 4.
template <class Lobe> double batchAim(bool evaluate)
{
    const std::string name = Lobe::name();
    return evaluate && (name == "isotropic" || name == "emission" || name == "specular") ? 0.125 : 0.25;
}

template <class Lobe> void LobeBatchEvaluate(benchmark::State &state)
{
    const Lanes &l = lanes();
    SRF_BSDF *made = Lobe::make(l);
    const SRF_BSDF *bsdf = opaque(made);
    BatchLanes in(l);
    float sink = 0.0f;
    bench::comparePair(
        state, "7 batch", std::string(Lobe::name()) + " evaluate, batch", "per-lane masked call", LANES,
        batchAim<Lobe>(true),
        [&]
        {
            bsdf->evaluateBatch(in.batch);
            benchmark::DoNotOptimize(in.scalar);
            benchmark::ClobberMemory();
        },
        [&]
        {
            for (int i = 0; i < LANES; ++i)
            {
                BX_Vector3 colour;
                float scalar;
                bsdf->evaluate(l.u[i], l.n[i], l.v[i], colour, scalar, i, MASK);
                sink += colour.x + scalar;
            }
            benchmark::DoNotOptimize(sink);
        });
    made->decRefCount();
}

template <class Lobe> void LobeBatchSample(benchmark::State &state)
{
    const Lanes &l = lanes();
    SRF_BSDF *made = Lobe::make(l);
    const SRF_BSDF *bsdf = opaque(made);
    BatchLanes in(l);
    float sink = 0.0f;
    bench::comparePair(
        state, "7 batch", std::string(Lobe::name()) + " sample, batch", "per-lane masked call", LANES,
        batchAim<Lobe>(false),
        [&]
        {
            bsdf->sampleBatch(in.batch);
            benchmark::DoNotOptimize(in.scalar);
            benchmark::ClobberMemory();
        },
        [&]
        {
            for (int i = 0; i < LANES; ++i)
            {
                BX_Vector3 v, colour;
                float scalar;
                int bounce = 0;
                bsdf->sample(l.u[i], l.n[i], v, colour, scalar, bounce, l.sx[i], l.sy[i], i, MASK);
                sink += v.x + colour.x + scalar + float(bounce);
            }
            benchmark::DoNotOptimize(sink);
        });
    made->decRefCount();
}

#define SRF_LOBE_BENCH(Lobe)                                                                                           \
    BENCHMARK_TEMPLATE(LobeEvaluate, Lobe)->Iterations(BATCHES);                                                       \
    BENCHMARK_TEMPLATE(LobeSample, Lobe)->Iterations(BATCHES);                                                         \
    BENCHMARK_TEMPLATE(LobeBatchEvaluate, Lobe)->Iterations(BATCHES);                                                  \
    BENCHMARK_TEMPLATE(LobeBatchSample, Lobe)->Iterations(BATCHES)

SRF_LOBE_BENCH(Isotropic);
SRF_LOBE_BENCH(Emission);
SRF_LOBE_BENCH(Specular);
SRF_LOBE_BENCH(Phong);
SRF_LOBE_BENCH(Blinn);
SRF_LOBE_BENCH(Cone);
SRF_LOBE_BENCH(Ashikhmin);
SRF_LOBE_BENCH(Lafortune);
SRF_LOBE_BENCH(WireBlinn);
SRF_LOBE_BENCH(WireDiffuse);
} // namespace
