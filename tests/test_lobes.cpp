// The analytic lobes: values worked out by hand from each lobe's formula, as
// tables run by one loop; sampling about axes of any length; and one
// chi-square harness fed every sampler with the density it claims.
#include "ChiSquare.h"
#include "Program.h"
#include "Registry.h"
#include "SRF_Blinn.h"
#include "SRF_Cone.h"
#include "SRF_Lafortune.h"
#include "SRF_MulBSDF.h"
#include "SRF_SwitchBSDF.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
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
// Histograms the directions that `bsdf` samples for fixed u and n against
// its own pdf (or, for the harness's control, another BSDF's).
ChiSquare::Sampler sampler(const std::string &name, SRF_BSDF *bsdf, const BX_Vector3 &u, const BX_Vector3 &n,
                           const ChiSquare::Frame &frame, SRF_BSDF *claimed = nullptr)
{
    auto held = ChiSquare::hold(bsdf);
    auto density = claimed ? ChiSquare::hold(claimed) : held;
    return {name, frame, [held, u, n](float sx, float sy, BX_Vector3 &dir) { dir = sampleOf(*held, u, n, sx, sy).v; },
            [density, u, n](const BX_Vector3 &d) { return double(density->pdf(u, n, d, 0, SRF_BOUNCE_ALL)); }};
}

// Histograms the half vectors of u and the sampled directions (n = 0, so
// that nothing is folded) against the pdf the BSDF claims for v, carried to
// the half vector by the mirror's Jacobian: p(h) = pdf(v) 4 (h.u). Near
// v = -u a half-vector lobe's density in v has a pole that no quadrature of
// the v sphere integrates well; in h it is smooth.
ChiSquare::Sampler halfSampler(const std::string &name, SRF_BSDF *bsdf, const BX_Vector3 &u,
                               const ChiSquare::Frame &frame)
{
    auto held = ChiSquare::hold(bsdf);
    return {name, frame,
            [held, u](float sx, float sy, BX_Vector3 &dir) { dir = u + sampleOf(*held, u, ZERO, sx, sy).v; },
            [held, u](const BX_Vector3 &h)
            {
                const float cosine = h.dot(u);
                const BX_Vector3 v = h * (2.0f * cosine) - u;
                // Where h is all but perpendicular to u, u + v cancels to
                // nothing in floats: a band of no weight worth the noise.
                return cosine > 1e-4f ? 4.0 * cosine * held->pdf(u, ZERO, v, 0, SRF_BOUNCE_ALL) : 0.0;
            }};
}

// Every sampler of the library, folded where it folds, against its pdf.
std::vector<ChiSquare::Sampler> everySampler()
{
    using ChiSquare::frameAbout;
    const BX_Vector3 d = unit(0.36f, 0.48f, 0.8f), tilted = unit(0.7f, 0.1f, 0.5f), c = unit(-0.3f, 0.2f, 0.9f);
    // cos(alpha) = 51/101 puts the cone's rim on a cell edge.
    const float alpha = std::acos(51.0f / 101.0f);
    const BX_Vector3 nl = unit(0.2f, 0.1f, 1.0f), ua = unit(-0.7f, 0.3f, 0.6f), ub = unit(0.9f, 0.1f, 0.5f);
    const BX_Vector3 t = unit(0.3f, -0.4f, 0.8f);
    BX_Vector3 t1, t2, s1, s2;
    nl.getFrameOfReference(t1, t2);
    tilted.getFrameOfReference(s1, s2);
    // The wire's u perpendicular to T at azimuth pi/50 puts the edge of the
    // half turned toward u on cell edges.
    const ChiSquare::Frame wire = frameAbout(t);
    const BX_Vector3 uw = wire.x * float(std::cos(SRF_PI_DOUBLE / 50)) + wire.y * float(std::sin(SRF_PI_DOUBLE / 50));
    return {
        sampler("isotropic", Registry::make("SRF_Isotropic", NONE), unit(0.2f, -0.5f, 0.7f), Z, frameAbout(Z)),
        sampler("wire diffuse", Registry::make("SRF_WireDiffuse", L(unit(1, 2, 2))), Z, Z, frameAbout(Z)),
        sampler("phong e = 4", Registry::make("SRF_Phong", L(d, 4.0f)), Z, d, frameAbout(d)),
        sampler("phong folded", Registry::make("SRF_Phong", L(tilted, 2.0f)), Z, Z, frameAbout(Z)),
        sampler("cone", Registry::make("SRF_Cone", L(c, alpha)), c, c, frameAbout(c)),
        sampler("cone pi/2", Registry::make("SRF_Cone", L(c, HALF)), c, c, frameAbout(c)),
        sampler("cone folded", Registry::make("SRF_Cone", L(tilted, THIRD)), Z, -Z, frameAbout(Z)),
        sampler("lafortune diffuse", Registry::make("SRF_Lafortune", L(nl, 0.0f, BX_Vector3(-1, -1, 1))),
                unit(0.2f, 0.3f, 0.9f), nl, frameAbout(nl)),
        // About an N tilted from n: what lands below n is folded above it.
        sampler("lafortune diffuse folded", Registry::make("SRF_Lafortune", L(tilted, 0.0f, Z)), Z, Z, frameAbout(Z)),
        // k = (-1, -1, 1): the cosine power about u mirrored in N, folded
        // across N's plane where it dips below.
        sampler("lafortune glossy", Registry::make("SRF_Lafortune", L(nl, 3.0f, BX_Vector3(-1, -1, 1))), tilted, nl,
                frameAbout(nl)),
        // A lobe axis of length 0.6: the cosine power stretched along it.
        sampler("lafortune glossy stretched",
                Registry::make("SRF_Lafortune", L(Z, 5.0f, BX_Vector3(0.3f, -0.5f, 0.7f))), ua, Z, frameAbout(Z)),
        halfSampler("blinn", Registry::make("SRF_Blinn", L(nl, 6.0f)), ub, frameAbout(ub)),
        halfSampler("ashikhmin", Registry::make("SRF_Ashikhmin", L(nl, 4.0f, t1, t2, 40.0f)), ua, frameAbout(ua)),
        halfSampler("wire blinn", Registry::make("SRF_WireBlinn", L(t, 6.0f)), uw, wire),
        // A lobe normal tilted from n: mirrored directions below n are
        // folded back (where the pole at -u holds next to nothing).
        sampler("blinn folded", Registry::make("SRF_Blinn", L(tilted, 20.0f)), Z, Z, frameAbout(Z)),
        sampler("ashikhmin folded", Registry::make("SRF_Ashikhmin", L(tilted, 30.0f, s1, s2, 10.0f)), Z, Z,
                frameAbout(Z)),
        // A Sum draws each operand in proportion to its albedo and passes it
        // the rescaled sx: the mixture of the two densities.
        sampler("sum", Registry::make("SRF_SumBSDF", L(d, 4.0f)), Z, Z, frameAbout(d)),
        sampler("scale", Registry::make("SRF_ScaleBSDF", L(nl, 8.0f, BX_Vector3(0.2f, 0.5f, 0.9f))), ub, ub,
                frameAbout(ub)),
        sampler("measured", Registry::make("SRF_Measured", L(Z, 0.0f, X, Y)), ub, Z, frameAbout(Z)),
        // The harness rejects the neighbouring exponent.
        sampler("phong e = 4 against 5", Registry::make("SRF_Phong", L(d, 4.0f)), Z, d, frameAbout(d),
                Registry::make("SRF_Phong", L(d, 5.0f))),
    };
}
} // namespace

// In two halves, so that they run side by side.
TEST(Samplers, DirectionsHaveTheirDensities)
{
    const std::vector<ChiSquare::Sampler> samplers = everySampler();
    for (size_t i = 0; i < samplers.size() / 2; ++i)
        EXPECT_TRUE(ChiSquare::fits(samplers[i]));
}

TEST(Samplers, FoldedAndHalfVectorsHaveTheirDensities)
{
    const std::vector<ChiSquare::Sampler> samplers = everySampler();
    for (size_t i = samplers.size() / 2; i + 1 < samplers.size(); ++i)
        EXPECT_TRUE(ChiSquare::fits(samplers[i]));
    const ChiSquare::Result wrong = ChiSquare::run(samplers.back());
    EXPECT_FALSE(wrong.passed) << wrong.report;
    EXPECT_NEAR(wrong.mass, 1.0, ChiSquare::MASS_TOLERANCE) << wrong.report;
}

namespace
{
// One BSDF at fixed u and n, with the frame its value is integrated about:
// over v, or (half) over the half vector h of u and v, where d(omega_v) =
// 4 (h.u) d(omega_h) and a half-vector lobe's value has no pole.
struct ValueCase
{
    std::string name;
    std::shared_ptr<const SRF_BSDF> bsdf;
    BX_Vector3 u, n;
    ChiSquare::Frame frame;
    bool half = false;
};

// Two smooth functions of direction: 1 (the mean weight is the directional
// albedo) and a tilted quadratic.
double smooth(int k, const BX_Vector3 &v)
{
    const double a = 1.0 + 0.3 * v.x - 0.2 * v.y + 0.5 * v.z;
    return k == 0 ? 1.0 : a * a;
}

// The integral of value(v) g(v) over the sphere, per channel, by a
// Gauss-Legendre rule in cos(theta) and the midpoint rule in phi.
BX_Vector3 integralOfValue(const ValueCase &c, int k)
{
    const int THETAS = 48 * ChiSquare::QUADRATURE, PHIS = 384;
    std::vector<double> nodes, weights;
    ChiSquare::gaussLegendre(THETAS / ChiSquare::QUADRATURE, nodes, weights);
    double sum[3] = {0.0, 0.0, 0.0};
    for (int i = 0; i < THETAS; ++i)
        for (int j = 0; j < PHIS; ++j)
        {
            const double z = nodes[i], r = std::sqrt(std::max(0.0, 1.0 - z * z)),
                         phi = 2.0 * SRF_PI_DOUBLE * (j + 0.5) / PHIS;
            const BX_Vector3 d =
                c.frame.x * float(r * std::cos(phi)) + c.frame.y * float(r * std::sin(phi)) + c.frame.z * float(z);
            double jacobian = 1.0;
            BX_Vector3 v = d;
            if (c.half)
            {
                const float cosine = d.dot(c.u);
                if (!(cosine > 0.0f))
                    continue;
                v = d * (2.0f * cosine) - c.u;
                jacobian = 4.0 * cosine;
            }
            BX_Vector3 value;
            float pdf = 0.0f;
            c.bsdf->evaluatePdf(c.u, c.n, v, value, pdf, 0, SRF_BOUNCE_SCATTER);
            const double w = weights[i] * (2.0 * SRF_PI_DOUBLE / PHIS) * jacobian * smooth(k, v);
            sum[0] += w * value.x, sum[1] += w * value.y, sum[2] += w * value.z;
        }
    return BX_Vector3(float(sum[0]), float(sum[1]), float(sum[2]));
}
} // namespace

// What sample's colour weight estimates is the value: for every class (and
// the plastic example's tree) the mean of colour g(v) over sample's draws
// equals the integral of value g, within the draws' noise.
TEST(Samplers, MeanWeightIsTheIntegralOfValue)
{
    using ChiSquare::frameAbout;
    using ChiSquare::hold;
    const BX_Vector3 d = unit(0.36f, 0.48f, 0.8f), tilted = unit(0.7f, 0.1f, 0.5f), nl = unit(0.2f, 0.1f, 1.0f);
    const BX_Vector3 ua = unit(-0.7f, 0.3f, 0.6f), t = unit(0.3f, -0.4f, 0.8f), n = unit(0.1f, -0.2f, 1.0f);
    BX_Vector3 t1, t2;
    nl.getFrameOfReference(t1, t2);
    Program plastic(readFile(std::string(SRF_SOURCE_DIR) + "/examples/plastic.kal"));
    ASSERT_TRUE(plastic.ok()) << plastic.error;
    plastic->fillVector("N", nl);
    plastic.run(1);
    SRF_BSDF *tree = plastic.bsdf("F");
    tree->addRefCount();
    BX_PtrArray<SRF_BSDF *> entries;
    entries.append(Registry::make("SRF_Isotropic", NONE));
    entries.append(Registry::make("SRF_Cone", L(d, THIRD)));
    int *index = SRF_BSDF::allocInteger();
    index[0] = 1;
    // The Mul samples the glossier Phong and weights it by the diffuse
    // Lafortune lobe's value.
    SRF_BSDF *mul =
        new SRF_MulBSDF(Registry::make("SRF_Lafortune", L(n, 0.0f, Z)), Registry::make("SRF_Phong", L(d, 3.0f)));
    // u = N for the half-vector lobes: where h is perpendicular to u their
    // weight 1 / (4 h.u) has a pole, which N.h = 0 there silences.
    const std::vector<ValueCase> cases = {
        {"isotropic", hold(Registry::make("SRF_Isotropic", NONE)), ua, Z, frameAbout(Z)},
        {"wire diffuse", hold(Registry::make("SRF_WireDiffuse", L(t))), ua, Z, frameAbout(t)},
        {"phong folded", hold(Registry::make("SRF_Phong", L(tilted, 4.0f))), ua, Z, frameAbout(tilted)},
        {"cone folded", hold(Registry::make("SRF_Cone", L(tilted, THIRD))), ua, Z, frameAbout(tilted)},
        {"lafortune diffuse", hold(Registry::make("SRF_Lafortune", L(tilted, 0.0f, Z))), ua, Z, frameAbout(Z)},
        {"lafortune glossy", hold(Registry::make("SRF_Lafortune", L(Z, 5.0f, BX_Vector3(0.3f, -0.5f, 0.7f)))), ua, Z,
         frameAbout(Z)},
        {"blinn", hold(Registry::make("SRF_Blinn", L(nl, 6.0f))), nl, n, frameAbout(nl), true},
        {"ashikhmin", hold(Registry::make("SRF_Ashikhmin", L(nl, 4.0f, t1, t2, 20.0f))), nl, n, frameAbout(nl), true},
        {"wire blinn", hold(Registry::make("SRF_WireBlinn", L(t, 6.0f))), ua, Z, frameAbout(ua), true},
        {"sum", hold(Registry::make("SRF_SumBSDF", L(d, 4.0f))), ua, Z, frameAbout(d)},
        {"scale", hold(Registry::make("SRF_ScaleBSDF", L(nl, 8.0f, BX_Vector3(0.2f, 0.5f, 0.9f)))), nl, n,
         frameAbout(nl), true},
        {"mul", hold(mul), ua, n, frameAbout(d)},
        {"switch", hold(new SRF_SwitchBSDF(entries, index)), ua, Z, frameAbout(d)},
        {"measured", hold(Registry::make("SRF_Measured", L(Z, 0.0f, X, Y))), ua, Z, frameAbout(Z)},
        {"wavelet", hold(Registry::make("SRF_WaveletBSDF", NONE)), ua, Z, frameAbout(Z)},
        {"plastic", hold(tree), ua, nl, frameAbout(nl)},
    };
    const int SAMPLES = 1 << 18;
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> unit01(0.0f, 1.0f);
    for (const ValueCase &c : cases)
        for (int k = 0; k < 2; ++k)
        {
            double sum[3] = {0, 0, 0}, sum2[3] = {0, 0, 0};
            for (int s = 0; s < SAMPLES; ++s)
            {
                const Sampled draw = sampleOf(*c.bsdf, c.u, c.n, unit01(rng), unit01(rng));
                BX_Vector3 v = draw.v;
                v.normalize();
                const double g = smooth(k, v), x[3] = {draw.colour.x * g, draw.colour.y * g, draw.colour.z * g};
                for (int ch = 0; ch < 3; ++ch)
                    sum[ch] += x[ch], sum2[ch] += x[ch] * x[ch];
            }
            const BX_Vector3 integral = integralOfValue(c, k);
            const float expected[3] = {integral.x, integral.y, integral.z};
            for (int ch = 0; ch < 3; ++ch)
            {
                const double mean = sum[ch] / SAMPLES;
                const double error = std::sqrt(std::max(0.0, sum2[ch] / SAMPLES - mean * mean) / SAMPLES);
                EXPECT_NEAR(mean, expected[ch], 5.0 * error + 2e-3 * std::fabs(expected[ch]) + 1e-6)
                    << c.name << " g" << k << " channel " << ch;
            }
        }
}
