// The analytic lobes: values worked out by hand from each lobe's formula, as
// tables run by one loop; sampling about axes of any length; and one
// chi-square harness fed every sampler with the density it claims.
#include "ChiSquare.h"
#include "Registry.h"
#include "SRF_Blinn.h"
#include "SRF_Cone.h"
#include "SRF_Lafortune.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace TestUtil;

namespace
{
const BX_Vector3 X(1, 0, 0), Y(0, 1, 0), Z(0, 0, 1), ZERO(0, 0, 0);
const float THIRD = 1.0471976f, HALF = 1.5707964f; // pi/3, pi/2
const float RIM = std::cos(THIRD);

// One lane's parameters in constructor order: vectors, then floats.
Registry::Lane L(BX_Vector3 a, float e = 0.0f, BX_Vector3 b = ZERO, BX_Vector3 c = ZERO, float e2 = 0.0f)
{
    return {{a, b, c}, {e, e2}};
}
const Registry::Lane NONE = L(ZERO);
const Registry::Lane ASHIKHMIN = L(Z, 3.0f, X, Y, 15.0f);

struct ScalarRow
{
    const char *lobe;
    Registry::Lane p;
    float albedo, ratio;
};
const ScalarRow SCALARS[] = {
    {"SRF_Isotropic", NONE, 1.0f, 0.0f},          {"SRF_Emission", NONE, 0.0f, 0.0f},
    {"SRF_Specular", L(Z), 1.0f, 1.0f},           {"SRF_Phong", L(Z, 0.0f), 1.0f, 0.0f},
    {"SRF_Phong", L(Z, -1.0f), INF, -INF},        {"SRF_Blinn", L(Z, 10.0f), 1.0f / 11.0f, 10.0f / 11.0f},
    {"SRF_Cone", L(Z, 0.0f), 0.0f, 1.0f},         {"SRF_Cone", L(Z, THIRD), 0.5f, 0.5f},
    {"SRF_Ashikhmin", ASHIKHMIN, 0.125f, 0.9f},   {"SRF_Lafortune", L(Z, 2.0f, Z), 1.0f / 3.0f, 2.0f / 3.0f},
    {"SRF_Lafortune", L(Z, 0.0f, Z), 0.5f, 0.0f}, {"SRF_Lafortune", L(Z, -1.0f, Z), 0.5f, -INF},
    {"SRF_WireDiffuse", L(Z), 0.5f, 0.0f},        {"SRF_WireBlinn", L(Z, 3.0f), 0.5f, 0.75f},
    {"SRF_WireBlinn", L(Z, 0.0f), 1.0f, 0.0f},    {"SRF_WireBlinn", L(Z, -1.0f), INF, -INF},
};

// evaluate(u, n, v): a grey colour and the scalar.
struct EvaluateRow
{
    const char *lobe;
    Registry::Lane p;
    BX_Vector3 u, n, v;
    float colour, scalar;
};
const BX_Vector3 U(0.6f, 0, 0.8f);
const EvaluateRow EVALUATES[] = {
    // No side test: the isotropic lobe is 1 below the surface too.
    {"SRF_Isotropic", NONE, BX_Vector3(0, 0.6f, 0.8f), Z, -Z, 1.0f, 1.0f},
    {"SRF_Emission", NONE, Z, Z, Z, 0.0f, 0.0f},
    // Even the mirror direction itself evaluates to nothing.
    {"SRF_Specular", L(Z), Z, Z, Z, 0.0f, 1.0f},
    // (D.v)^e where n.v > 0 and D.v > 0.
    {"SRF_Phong", L(Z, 0.0f), Z, Z, unit(0.9f, 0, 0.1f), 1.0f, 1.0f},
    {"SRF_Phong", L(Z, 0.0f), Z, Z, unit(0.9f, 0, -0.1f), 0.0f, 1.0f},
    {"SRF_Phong", L(Z, 1.0f), Z, Z, BX_Vector3(0, 0.6f, 0.8f), 0.8f, 0.5f},
    {"SRF_Phong", L(X, 3.0f), Z, Z, BX_Vector3(-0.6f, 0, 0.8f), 0.0f, 0.25f},
    {"SRF_Phong", L(X, 3.0f), Z, Z, BX_Vector3(0.6f, 0, 0.8f), 0.216f, 0.25f},
    // (N.H)^e / (4 H.u); the side test is on N, not n.
    {"SRF_Blinn", L(Z, 10.0f), Z, Z, Z, 0.25f, 1.0f / 11.0f},
    {"SRF_Blinn", L(Z, 0.0f), U, Z, BX_Vector3(-0.6f, 0, 0.8f), 0.3125f, 1.0f},
    {"SRF_Blinn", L(Z, 1.0f), Z, -Z, BX_Vector3(0.8f, 0, -0.6f), 0.0f, 0.5f},
    // H = X is perpendicular to N: unlit, even where (N.H)^0 would be 1.
    {"SRF_Blinn", L(Z, 0.0f), BX_Vector3(0.6f, 0, -0.8f), Z, U, 0.0f, 1.0f},
    {"SRF_Blinn", L(Z, 1.0f), Z, -Z, BX_Vector3(0, 0.6f, 0.8f), 0.25f, 0.5f},
    // 1 strictly inside the cone and above the surface; scalar 1 - cos(alpha).
    {"SRF_Cone", L(Z, 0.0f), Z, Z, Z, 0.0f, 0.0f},
    {"SRF_Cone", L(Z, HALF), Z, Z, unit(1, 0, 0.01f), 1.0f, 1.0f},
    {"SRF_Cone", L(Z, HALF), Z, Z, X, 0.0f, 1.0f},
    {"SRF_Cone", L(X, 2.0f * THIRD), Z, Z, unit(-0.3f, 0, 0.9539392f), 1.0f, 1.5f},
    {"SRF_Cone", L(X, 2.0f * THIRD), Z, Z, unit(-0.6f, 0, 0.8f), 0.0f, 1.5f},
    // The side test uses n turned toward D.
    {"SRF_Cone", L(unit(1, 0, -0.3f), 2.0f * THIRD), Z, Z, BX_Vector3(0.6f, 0, -0.8f), 1.0f, 1.5f},
    {"SRF_Cone", L(Z, THIRD), Z, Z, BX_Vector3(0.8f, 0, RIM), 0.0f, 0.5f},
    {"SRF_Cone", L(Z, THIRD), Z, Z, BX_Vector3(0.8f, 0, std::nextafter(RIM, 1.0f)), 1.0f, 0.5f},
    // hz^p / (4 H.u), p = (e2 hy^2 + e1 hx^2) / (1 - hz^2): H 30 degrees from
    // N toward X gives p = e1, toward Y p = e2; H below N gives 0.
    {"SRF_Ashikhmin", ASHIKHMIN, Z, Z, BX_Vector3(0.8660254f, 0, 0.5f), 0.1875f, 0.125f},
    {"SRF_Ashikhmin", ASHIKHMIN, Z, Z, BX_Vector3(0, 0.8660254f, 0.5f), 0.033370972f, 0.125f},
    {"SRF_Ashikhmin", ASHIKHMIN, U, Z, BX_Vector3(0.6f, 0, -0.9f), 0.0f, 0.125f},
    // q = Kz uz vz + Ky uy vy + Kx ux vx in (T, B, N), T = N x u; diffuse |N.v|.
    {"SRF_Lafortune", L(Z, 2.0f, BX_Vector3(-1, -1, 1)), U, Z, BX_Vector3(-0.6f, 0, 0.8f), 1.0f, 1.0f / 3.0f},
    {"SRF_Lafortune", L(Z, 2.0f, BX_Vector3(0, 0.5f, 1)), U, Z, BX_Vector3(0, 0.6f, 0.8f), 0.4096f, 1.0f / 3.0f},
    {"SRF_Lafortune", L(Z, 2.0f, BX_Vector3(-1, -1, 1)), U, Z, BX_Vector3(0, 0.6f, -0.8f), 0.0f, 1.0f / 3.0f},
    {"SRF_Lafortune", L(Z, 0.0f, BX_Vector3(1, 1, 1)), U, -Z, BX_Vector3(0, 0.6f, 0.8f), 0.8f, 0.5f},
    {"SRF_Lafortune", L(Z, 0.0f, BX_Vector3(1, 1, 1)), U, Z, BX_Vector3(0, 0.6f, -0.8f), 0.0f, 0.5f},
    // 1 - (T.v)^2 over the whole sphere.
    {"SRF_WireDiffuse", L(Z), Z, X, Z, 0.0f, 0.5f},
    {"SRF_WireDiffuse", L(Z), Z, -Z, BX_Vector3(0, -1, 0), 1.0f, 0.5f},
    {"SRF_WireDiffuse", L(Z), Z, Z, BX_Vector3(0.6f, 0, -0.8f), 0.36f, 0.5f},
    // (1 - (T.H)^2)^(e/2).
    {"SRF_WireBlinn", L(Z, 3.0f), BX_Vector3(0, 0.6f, 0.8f), Z, BX_Vector3(0, 0.6f, 0.8f), 0.216f, 0.5f},
    {"SRF_WireBlinn", L(Z, 0.0f), X, Z, -Z, 1.0f, 1.0f},
};

// sample(u, n, sx, sy): direction, grey weight, scalar and bounce type.
struct SampleRow
{
    const char *lobe;
    Registry::Lane p;
    BX_Vector3 u, n;
    float sx, sy;
    BX_Vector3 v;
    float colour, scalar;
    int bounce;
};
const float ROOT3 = 0.8660254f;
const SampleRow SAMPLES[] = {
    // Uniform about u: sy = 0 gives -u, sy = 1 gives u.
    {"SRF_Isotropic", NONE, BX_Vector3(0, 0.6f, 0.8f), Z, 0.3f, 0.0f, BX_Vector3(0, -0.6f, -0.8f), 1, 1, 1},
    {"SRF_Isotropic", NONE, BX_Vector3(0, 0.6f, 0.8f), Z, 0.3f, 1.0f, BX_Vector3(0, 0.6f, 0.8f), 1, 1, 1},
    // Zero weight; direction and bounce are left as they were.
    {"SRF_Emission", NONE, Z, Z, 0.5f, 0.5f, Sampled().v, 0, 0, -7},
    // The stored direction normalised, never folded.
    {"SRF_Specular", L(BX_Vector3(0, 0, 2)), unit(0.3f, 0.1f, 0.9f), Z, 0.4f, 0.6f, Z, 1e6f, 1, 4},
    {"SRF_Specular", L(BX_Vector3(0, -3, 0)), Z, Y, 0.5f, 0.5f, -Y, 1e6f, 1, 4},
    // The disk centre lifts to D with weight r^2 = 0; (0.75, 0.5) is the
    // disk point (0.5, 0): weight 1/4, cos = (1/4)^(1/(e+1)). D = (0.6, 0,
    // 0.8) has F1 = (0.8, 0, -0.6): that v falls below and is folded, for n
    // and -n alike.
    {"SRF_Phong", L(Z, 1.0f), Z, Z, 0.5f, 0.5f, Z, 0, 0.5f, 2},
    {"SRF_Phong", L(Z, 1.0f), Z, Z, 0.75f, 0.5f, BX_Vector3(ROOT3, 0, 0.5f), 0.25f, 0.5f, 2},
    // A disk point beyond 0.0001 of the centre (r = 1.25e-4) is a direction
    // of cosine r (below a float's resolution beside 1): nearly horizontal;
    // within it the point would be kept as it is, nearly D.
    {"SRF_Phong", L(Z, 1.0f), Z, Z, 0.5000625f, 0.5f, BX_Vector3(1, 0, 0), 0, 0.5f, 2},
    {"SRF_Phong", L(U, 1.0f), Z, Z, 0.75f, 0.5f, BX_Vector3(0.99282032f, 0, 0.11961524f), 0.25f, 0.5f, 2},
    {"SRF_Phong", L(U, 1.0f), Z, -Z, 0.75f, 0.5f, BX_Vector3(0.99282032f, 0, 0.11961524f), 0.25f, 0.5f, 2},
    // sy = 1: H = N, v the mirror image of u, weight 1 / (4 H.u); folded
    // when below n; H negated when it faces away from u.
    {"SRF_Blinn", L(Z, 7.0f), U, Z, 0.3f, 1.0f, BX_Vector3(-0.6f, 0, 0.8f), 0.3125f, 0.125f, 2},
    {"SRF_Blinn", L(BX_Vector3(0.8f, 0, 0.6f), 7.0f), Z, Z, 0.3f, 1.0f, BX_Vector3(0.96f, 0, 0.28f), 1 / 2.4f, 0.125f,
     2},
    {"SRF_Blinn", L(Z, 7.0f), -Z, Z, 0.3f, 1.0f, -Z, 0.25f, 0.125f, 2},
    // alpha = 0: every sample is D, with weight 1.
    {"SRF_Cone", L(Z, 0.0f), Z, Z, 0.9f, 0.2f, Z, 1, 0, 2},
    // alpha = pi/2: the disk point (0, 0.5) of (0.5, 0.75) lifts to F2 / 2 + cos D.
    {"SRF_Cone", L(Z, HALF), Z, Z, 0.5f, 0.75f, BX_Vector3(0, 0.5f, ROOT3), 1, 1, 2},
    // sy = 1: H = N; weight and scalar are the value there.
    {"SRF_Ashikhmin", ASHIKHMIN, U, Z, 0.3f, 1.0f, BX_Vector3(-0.6f, 0, 0.8f), 0.3125f, 0.125f, 2},
    // The disk centre: N turned to u's side of n (diffuse), the lobe axis w
    // = (Kx ux, Ky uy, Kz uz) with its N component turned up (glossy).
    {"SRF_Lafortune", L(Z, 0.0f, BX_Vector3(1, 1, 1)), BX_Vector3(0.6f, 0, -0.8f), -Z, 0.5f, 0.5f, -Z, 1, 0.5f, 1},
    {"SRF_Lafortune", L(Z, 4.0f, BX_Vector3(1, 1, -1)), U, Z, 0.5f, 0.5f, U, 0, 0.2f, 2},
    // cos = 2 sy - 1 along T, azimuth 2 pi sx from F1 = X; weight the sine.
    {"SRF_WireDiffuse", L(Z), Z, Z, 0.25f, 0.5f, Y, 1, 0.5f, 1},
    {"SRF_WireDiffuse", L(Z), Z, Z, 0.7f, 0.0f, -Z, 0, 0.5f, 1},
    {"SRF_WireDiffuse", L(Z), Z, Z, 0.7f, 1.0f, Z, 0, 0.5f, 1},
    {"SRF_WireDiffuse", L(Z), Z, Z, 0.0f, 0.9f, BX_Vector3(0.6f, 0, 0.8f), 0.6f, 0.5f, 1},
    // sy = 1/2: H = P, which is X, or -X turned toward u.
    {"SRF_WireBlinn", L(Z, 3.0f), U, Z, 0.0f, 0.5f, BX_Vector3(0.6f, 0, -0.8f), 1, 0.5f, 2},
    {"SRF_WireBlinn", L(Z, 3.0f), U, Z, 0.5f, 0.5f, BX_Vector3(0.6f, 0, -0.8f), 1, 0.5f, 2},
};
} // namespace

TEST(Lobes, ValuesByHand)
{
    for (const ScalarRow &r : SCALARS)
    {
        auto lobe = hold(Registry::make(r.lobe, r.p));
        SCOPED_TRACE(std::string(r.lobe) + " e = " + std::to_string(r.p.f[0]));
        // An exponent of -1 passes infinities on.
        const float albedo = lobe->albedo(Z, Z, 3), ratio = lobe->specularRatio(3);
        EXPECT_TRUE(std::isinf(r.albedo) ? albedo == r.albedo : std::fabs(albedo - r.albedo) <= 1e-6f) << albedo;
        EXPECT_TRUE(std::isinf(r.ratio) ? ratio == r.ratio : std::fabs(ratio - r.ratio) <= 1e-6f) << ratio;
    }
    for (const EvaluateRow &r : EVALUATES)
    {
        auto lobe = hold(Registry::make(r.lobe, r.p));
        SCOPED_TRACE(std::string(r.lobe) + " row " + std::to_string(&r - EVALUATES));
        const Evaluated e = evaluateOf(*lobe, r.u, r.n, r.v, 2);
        EXPECT_VEC_NEAR(e.colour, r.colour, r.colour, r.colour, 1e-6f);
        EXPECT_NEAR(e.scalar, r.scalar, 1e-6f);
    }
    for (const SampleRow &r : SAMPLES)
    {
        auto lobe = hold(Registry::make(r.lobe, r.p));
        SCOPED_TRACE(std::string(r.lobe) + " row " + std::to_string(&r - SAMPLES));
        const Sampled s = sampleOf(*lobe, r.u, r.n, r.sx, r.sy, 1);
        EXPECT_VEC_NEAR(s.v, r.v.x, r.v.y, r.v.z, 1e-5f);
        EXPECT_VEC_NEAR(s.colour, r.colour, r.colour, r.colour, 1e-6f * std::max(1.0f, r.colour));
        EXPECT_NEAR(s.scalar, r.scalar, 1e-6f);
        EXPECT_EQ(s.bounce, r.bounce);
    }
}

// Axes, normals and tangents are used as stored, so frames and polar
// samples must hold for any length (0.5 and 3 here): directions sampled at
// one disk radius (or polar angle) but four azimuths keep their part along
// the normalised axis (the half vector's, where the lobe draws those), and
// are unit where the lobe draws unit directions.
TEST(Lobes, SampleAboutAxesOfAnyLength)
{
    const BX_Vector3 d = unit(0.2f, -0.3f, 0.9f), t = unit(1, 2, 0.5f);
    const struct
    {
        const char *lobe;
        std::function<Registry::Lane(float)> p;
        BX_Vector3 u, n, axis;
        bool half, unitDirection, disk;
    } rows[] = {
        {"SRF_Phong", [&](float l) { return L(d * l, 10.0f); }, Z, d, d, false, false, true},
        {"SRF_Cone", [&](float l) { return L(d * l, 0.6f); }, Z, d, d, false, false, true},
        // u is (0, -0.6, 0.8) in its frame ((-1, 0, 0), (0, -1, 0), Z): K =
        // (1, -l, l) gives the lobe axis l (0, 0.6, 0.8) there.
        {"SRF_Lafortune", [](float l) { return L(Z, 10.0f, BX_Vector3(1, -l, l)); }, BX_Vector3(0, 0.6f, 0.8f), Z,
         BX_Vector3(0, -0.6f, 0.8f), false, false, true},
        {"SRF_Blinn", [&](float l) { return L(d * l, 10.0f); }, d, d, d, true, true, false},
        {"SRF_Ashikhmin", [&](float l) { return L(d * l, 8.0f, t, d.cross(t), 8.0f); }, d, d, d, true, true, false},
        {"SRF_WireDiffuse", [&](float l) { return L(t * l); }, d, Z, t, false, false, false},
        {"SRF_WireBlinn", [&](float l) { return L(t * l, 10.0f); }, d, Z, t, true, true, false},
        {"SRF_Specular", [&](float l) { return L(d * l); }, Z, Z, d, false, true, false},
        {"SRF_Isotropic", [](float) { return NONE; }, d, d, d, false, true, false}, // about u of length l
    };
    const float disk[4][2] = {{0.75f, 0.5f}, {0.5f, 0.75f}, {0.25f, 0.6f}, {0.6f, 0.25f}};
    const float polar[4][2] = {{0.05f, 0.7f}, {0.3f, 0.7f}, {0.55f, 0.7f}, {0.8f, 0.7f}};
    for (const auto &r : rows)
        for (float length : {0.5f, 3.0f})
        {
            SCOPED_TRACE(std::string(r.lobe) + " " + std::to_string(length));
            auto lobe = hold(Registry::make(r.lobe, r.p(length)));
            const BX_Vector3 u = r.lobe == std::string("SRF_Isotropic") ? r.u * length : r.u;
            float first = 0.0f;
            for (int k = 0; k < 4; ++k)
            {
                const float *p = r.disk ? disk[k] : polar[k];
                const BX_Vector3 v = sampleOf(*lobe, u, r.n, p[0], p[1]).v;
                BX_Vector3 probe = r.half ? unit(u.x, u.y, u.z) + v : v;
                probe.normalize();
                EXPECT_TRUE(!r.unitDirection || std::fabs(v.length() - 1.0f) < 1e-5f) << v.length();
                first = k ? first : probe.dot(r.axis);
                EXPECT_NEAR(probe.dot(r.axis), first, 1e-5f * length) << "point " << k;
            }
        }
    EXPECT_TRUE(sampleOf(*hold(Registry::make("SRF_Specular", L(BX_Vector3(0, 0, 1e30f)))), Z, Z, 0, 0).v == Z);

    // A host's cone with an albedo of its own: sample and evaluate report it.
    struct HostCone : SRF_Cone
    {
        using SRF_Cone::SRF_Cone;
        float albedo(const BX_Vector3 &, const BX_Vector3 &, int) const override { return 0.125f; }
    };
    auto cone = hold(new HostCone(vectors({Z}), floats({0.5f})));
    EXPECT_TRUE(evaluateOf(*cone, Z, Z, Z).scalar == 0.125f && sampleOf(*cone, Z, Z, 0.3f, 0.6f).scalar == 0.125f);
}

// The bounce set of a Lafortune lobe follows its lane-0 exponent (0 or
// less, or NaN, makes it diffuse), and a copy keeps it whatever it copies.
TEST(Lobes, LafortuneBounceSetFollowsLaneZero)
{
    auto diffuse = hold(new SRF_Lafortune(vectors({Z, Z}), vectors({Z, Z}), floats({0.0f, 3.0f})));
    auto glossy = hold(new SRF_Lafortune(vectors({Z, Z}), vectors({Z, Z}), floats({2.0f, 0.0f})));
    EXPECT_EQ(hold(Registry::make("SRF_Lafortune", L(Z, NaN, Z)))->getBounces(), SRF_BOUNCE_DIFFUSE);
    for (int count : {0, 1, 2})
    {
        EXPECT_EQ(hold(diffuse->duplicate(count))->getBounces(), SRF_BOUNCE_DIFFUSE);
        EXPECT_EQ(hold(glossy->duplicate(count))->getBounces(), SRF_BOUNCE_GLOSSY);
    }
}

namespace
{
using Density = std::function<double(const BX_Vector3 &)>;

// (e + 1)/(2 pi) (a.d)^e on the hemisphere of a.
Density cosinePower(const BX_Vector3 &a, double e)
{
    return [a, e](const BX_Vector3 &d)
    {
        const double c = a.dot(d);
        return c > 0.0 ? (e + 1.0) / (2.0 * PI) * std::pow(c, e) : 0.0;
    };
}

// A density p drawn about an axis and then folded across the plane of m
// onto m's side: p(d) + p(d mirrored).
Density folded(Density p, const BX_Vector3 &m)
{
    return [p, m](const BX_Vector3 &d) { return m.dot(d) > 0.0f ? p(d) + p(d - m * (2.0f * m.dot(d))) : 0.0; };
}

// The half vectors drawn with pdf p and turned toward u.
Density turned(Density p, const BX_Vector3 &u)
{
    return [p, u](const BX_Vector3 &h) { return u.dot(h) > 0.0f ? p(h) + p(-h) : 0.0; };
}

// Histograms the sampled v for fixed u and n, or the half vector of u and v
// (with n = 0 so that nothing is folded).
ChiSquare::Sampler sampler(const std::string &name, SRF_BSDF *bsdf, const BX_Vector3 &u, const BX_Vector3 &n,
                           const ChiSquare::Frame &frame, Density density, bool halfVector = false)
{
    auto held = ChiSquare::hold(bsdf);
    return {name, frame,
            [held, u, n, halfVector](float sx, float sy, BX_Vector3 &dir)
            {
                dir = sampleOf(*held, u, halfVector ? ZERO : n, sx, sy).v;
                if (halfVector)
                    dir = u + dir;
            },
            std::move(density)};
}

// Every sampler with the density it claims, folded and turned where the
// lobe folds or turns.
std::vector<ChiSquare::Sampler> everySampler()
{
    using ChiSquare::frameAbout;
    const BX_Vector3 d = unit(0.36f, 0.48f, 0.8f), tilted = unit(0.7f, 0.1f, 0.5f), c = unit(-0.3f, 0.2f, 0.9f);
    const auto uniform = [](const BX_Vector3 &) { return 1.0 / (4.0 * PI); };
    // cos(alpha) = 51/101 puts the cone's rim on a cell edge.
    const double cosAlpha = 51.0 / 101.0;
    const Density cone = [c, cosAlpha](const BX_Vector3 &v)
    {
        const double x = c.dot(v);
        return x > cosAlpha ? x / (PI * (1.0 - cosAlpha * cosAlpha)) : 0.0;
    };
    const Density tiltedCone = [tilted](const BX_Vector3 &v)
    { return tilted.dot(v) > 0.5 ? double(tilted.dot(v)) / (PI * 0.75) : 0.0; };
    const BX_Vector3 nl = unit(0.2f, 0.1f, 1.0f), ua = unit(-0.7f, 0.3f, 0.6f), ub = unit(0.9f, 0.1f, 0.5f);
    BX_Vector3 t1, t2;
    nl.getFrameOfReference(t1, t2);
    const Density anisotropic = [nl, t1, t2](const BX_Vector3 &h)
    {
        const double hz = nl.dot(h), hx = t1.dot(h), hy = t2.dot(h), s2 = std::max(1e-300, hx * hx + hy * hy);
        return hz > 0.0 ? std::sqrt(5.0 * 41.0) / (2.0 * PI) * std::pow(hz, (4.0 * hx * hx + 40.0 * hy * hy) / s2)
                        : 0.0;
    };
    // The wire's half vector: sine s of H to T with density (e + 1) s^e, the
    // azimuth uniform over the half turned toward u (at azimuth pi/50, so
    // that its edges lie on cell edges).
    const BX_Vector3 t = unit(0.3f, -0.4f, 0.8f);
    const ChiSquare::Frame wire = frameAbout(t);
    const BX_Vector3 uw = wire.x * float(std::cos(PI / 50)) + wire.y * float(std::sin(PI / 50));
    const Density wireHalf = [t, uw](const BX_Vector3 &h)
    {
        const double x = t.dot(h);
        return uw.dot(h) > 0.0f ? 7.0 / (2.0 * PI) * std::pow(std::max(0.0, 1.0 - x * x), 2.5) * std::fabs(x) : 0.0;
    };
    return {
        sampler("isotropic", Registry::make("SRF_Isotropic", NONE), unit(0.2f, -0.5f, 0.7f), Z, frameAbout(Z), uniform),
        sampler("wire diffuse", Registry::make("SRF_WireDiffuse", L(unit(1, 2, 2))), Z, Z, frameAbout(Z), uniform),
        sampler("phong e = 4", Registry::make("SRF_Phong", L(d, 4.0f)), Z, d, frameAbout(d), cosinePower(d, 4.0)),
        sampler("phong folded", Registry::make("SRF_Phong", L(tilted, 2.0f)), Z, Z, frameAbout(Z),
                folded(cosinePower(tilted, 2.0), Z)),
        sampler("cone", Registry::make("SRF_Cone", L(c, std::acos(float(cosAlpha)))), c, c, frameAbout(c), cone),
        sampler("cone pi/2", Registry::make("SRF_Cone", L(c, HALF)), c, c, frameAbout(c), cosinePower(c, 1.0)),
        sampler("cone folded", Registry::make("SRF_Cone", L(tilted, THIRD)), Z, -Z, frameAbout(Z),
                folded(tiltedCone, Z)),
        sampler("lafortune diffuse", Registry::make("SRF_Lafortune", L(nl, 0.0f, BX_Vector3(-1, -1, 1))),
                unit(0.2f, 0.3f, 0.9f), nl, frameAbout(nl), cosinePower(nl, 1.0)),
        // About an N tilted from n: what lands below n is folded above it.
        sampler("lafortune diffuse folded", Registry::make("SRF_Lafortune", L(tilted, 0.0f, Z)), Z, Z, frameAbout(Z),
                folded(cosinePower(tilted, 1.0), Z)),
        // Glossy with k = (-1, -1, 1): the cosine power about u mirrored in N,
        // folded across N's plane where it dips below.
        sampler("lafortune glossy", Registry::make("SRF_Lafortune", L(nl, 3.0f, BX_Vector3(-1, -1, 1))), tilted, nl,
                frameAbout(nl), folded(cosinePower(nl * (2.0f * nl.dot(tilted)) - tilted, 3.0), nl)),
        sampler("blinn", Registry::make("SRF_Blinn", L(nl, 6.0f)), ub, ub, frameAbout(ub),
                turned(cosinePower(nl, 6.0), ub), true),
        sampler("ashikhmin", Registry::make("SRF_Ashikhmin", L(nl, 4.0f, t1, t2, 40.0f)), ua, ua, frameAbout(ua),
                turned(anisotropic, ua), true),
        sampler("wire blinn", Registry::make("SRF_WireBlinn", L(t, 6.0f)), uw, uw, wire, wireHalf, true),
        // A Sum draws each operand in proportion to its albedo (1/5 against
        // 1) and passes it the rescaled sx: the mixture of the two densities.
        sampler("sum", Registry::make("SRF_SumBSDF", L(d, 4.0f)), Z, ZERO, frameAbout(d),
                [p = cosinePower(d, 4.0)](const BX_Vector3 &v) { return p(v) / 6.0 + 5.0 / 6.0 / (4.0 * PI); }),
        // The harness rejects the neighbouring exponent.
        sampler("phong e = 4 against 5", Registry::make("SRF_Phong", L(d, 4.0f)), Z, d, frameAbout(d),
                cosinePower(d, 5.0)),
    };
}
} // namespace

// In two halves, so that they run side by side.
TEST(Samplers, DirectionsHaveTheirDensities)
{
    const std::vector<ChiSquare::Sampler> samplers = everySampler();
    for (int i = 0; i < 7; ++i)
        EXPECT_TRUE(ChiSquare::fits(samplers[i]));
}

TEST(Samplers, FoldedAndHalfVectorsHaveTheirDensities)
{
    const std::vector<ChiSquare::Sampler> samplers = everySampler();
    for (size_t i = 7; i + 1 < samplers.size(); ++i)
        EXPECT_TRUE(ChiSquare::fits(samplers[i]));
    const ChiSquare::Result wrong = ChiSquare::run(samplers.back());
    EXPECT_FALSE(wrong.passed) << wrong.report;
    EXPECT_NEAR(wrong.mass, 1.0, ChiSquare::MASS_TOLERANCE) << wrong.report;
}
