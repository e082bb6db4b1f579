// Axes, normals and tangents that are not of unit length: lobes use them as
// stored, so the frame and polar-sample helpers must hold for any length.
#include "BX_PolarSample.h"
#include "SRF_Ashikhmin.h"
#include "SRF_Blinn.h"
#include "SRF_Cone.h"
#include "SRF_Isotropic.h"
#include "SRF_Lafortune.h"
#include "SRF_Phong.h"
#include "SRF_Specular.h"
#include "SRF_WireBlinn.h"
#include "SRF_WireDiffuse.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace
{
BX_Vector3 unit(BX_Vector3 v) { return v * (1.0f / v.length()); }
BX_Vector3 *vectors(const BX_Vector3 &value) { return new (SRF_BSDF::allocVector()) BX_Vector3(value); }
float *floats(float value) { return new (SRF_BSDF::allocFloat()) float(value); }
} // namespace

TEST(Axes, NormalizeFrameAndPolarSampleHoldForAnyLength)
{
    for (BX_Vector3 big : {BX_Vector3(1e30f, 0, 0), BX_Vector3(1e-25f, 0, 0), BX_Vector3(3e38f, -3e38f, 0)})
    {
        const BX_Vector3 expected = big.y == 0.0f ? BX_Vector3(1, 0, 0) : BX_Vector3(0.70710677f, -0.70710677f, 0);
        big.normalize();
        EXPECT_NEAR((big - expected).length(), 0.0f, 1e-6f);
    }
    BX_Vector3 zero(0, 0, 0);
    zero.normalize();
    EXPECT_EQ(zero, BX_Vector3(0, 0, 0));

    for (const BX_Vector3 &dir : {BX_Vector3(0, 0.3f, 0.64f), BX_Vector3(2, 0, 0), BX_Vector3(0, 0, -1),
                                  BX_Vector3(1, -2, 3), BX_Vector3(-0.1f, 0.2f, -0.9f)})
        for (float length : {0.5f, 3.0f})
        {
            const BX_Vector3 w = unit(dir) * length;
            BX_Vector3 a, b;
            w.getFrameOfReference(a, b);
            EXPECT_NEAR(a.length(), 1.0f, 1e-6f);
            EXPECT_NEAR(b.length(), 1.0f, 1e-6f);
            EXPECT_NEAR(a.dot(b), 0.0f, 1e-6f);
            EXPECT_NEAR(a.dot(w), 0.0f, 1e-5f);
            EXPECT_NEAR(b.dot(w), 0.0f, 1e-5f);
            const BX_PolarSample polar(w);
            for (float t : {0.0f, 0.3f, 0.5f, 0.9f})
            {
                BX_Vector3 d;
                polar.compute(d, 0.37f, t);
                EXPECT_NEAR(d.length(), 1.0f, 1e-6f);
                EXPECT_NEAR(d.dot(unit(w)), 2.0f * t - 1.0f, 1e-6f);
            }
        }
}

// One row per lobe that samples about an axis, normal or tangent of length L:
// the sampled direction (or the half vector of u and it) projected on the
// normalised axis must not change over `points` (sx, sy) that differ only in
// azimuth, and must be unit where the lobe draws unit directions.
struct AxisCase
{
    const char *name;
    std::function<SRF_BSDF *(float)> make;
    BX_Vector3 u, n, axis;
    bool halfVector, unitDirection, diskPoints;
};

TEST(Axes, EveryLobeSamplesAboutANonUnitAxisAlike)
{
    const BX_Vector3 z(0, 0, 1), d = unit(BX_Vector3(0.2f, -0.3f, 0.9f)), t = unit(BX_Vector3(1, 2, 0.5f));
    const std::vector<AxisCase> cases = {
        {"phong", [&](float l) { return new SRF_Phong(vectors(d * l), floats(10)); }, z, d, d, false, false, true},
        {"cone", [&](float l) { return new SRF_Cone(vectors(d * l), floats(0.6f)); }, z, d, d, false, false, true},
        // Local u = (0, -0.6, 0.8) in the frame ((-1, 0, 0), (0, -1, 0), z):
        // K = (1, -l, l) gives the lobe axis w = l (0, 0.6, 0.8).
        {"lafortune", [&](float l) { return new SRF_Lafortune(vectors(z), vectors(BX_Vector3(1, -l, l)), floats(10)); },
         BX_Vector3(0, 0.6f, 0.8f), z, BX_Vector3(0, -0.6f, 0.8f), false, false, true},
        {"blinn", [&](float l) { return new SRF_Blinn(vectors(d * l), floats(10)); }, d, d, d, true, true, false},
        {"ashikhmin",
         [&](float l)
         { return new SRF_Ashikhmin(vectors(d * l), floats(8), floats(8), vectors(t), vectors(d.cross(t))); },
         d, d, d, true, true, false},
        {"isotropic", [&](float) { return new SRF_Isotropic(); }, d, d, d, false, true, false},
        {"wirediffuse", [&](float l) { return new SRF_WireDiffuse(vectors(t * l)); }, d, z, t, false, false, false},
        {"wireblinn", [&](float l) { return new SRF_WireBlinn(vectors(t * l), floats(10)); }, d, z, t, true, true,
         false},
        {"specular", [&](float l) { return new SRF_Specular(vectors(d * l)); }, z, z, d, false, true, false},
    };
    // Four points of disk radius 0.5 at different azimuths; four azimuths.
    const float disk[4][2] = {{0.75f, 0.5f}, {0.5f, 0.75f}, {0.25f, 0.6f}, {0.6f, 0.25f}};
    const float polar[4][2] = {{0.05f, 0.7f}, {0.3f, 0.7f}, {0.55f, 0.7f}, {0.8f, 0.7f}};
    for (const AxisCase &c : cases)
        for (float length : {0.5f, 3.0f, 1e30f})
        {
            if (length == 1e30f && std::string(c.name) != "specular")
            {
                continue;
            }
            SCOPED_TRACE(std::string(c.name) + " length " + std::to_string(length));
            SRF_BSDF *lobe = c.make(c.name == std::string("isotropic") ? 1.0f : length);
            const BX_Vector3 u = c.name == std::string("isotropic") ? c.u * length : c.u;
            float first = 0.0f;
            for (int k = 0; k < 4; ++k)
            {
                const float *p = c.diskPoints ? disk[k] : polar[k];
                BX_Vector3 v, colour;
                float scalar = 0.0f;
                int bounce = 0;
                lobe->sample(u, c.n, v, colour, scalar, bounce, p[0], p[1], 0);
                const BX_Vector3 probe = c.halfVector ? unit(unit(u) + v) : v;
                if (c.unitDirection)
                {
                    EXPECT_NEAR(v.length(), 1.0f, 1e-5f);
                }
                if (k == 0)
                    first = probe.dot(c.axis);
                EXPECT_NEAR(probe.dot(c.axis), first, 1e-5f * std::max(1.0f, length)) << "point " << k;
            }
            lobe->decRefCount();
        }
}

// A host's cone whose albedo is its own: sample and evaluate report it.
TEST(Axes, ConeScalarComesFromItsOwnAlbedo)
{
    struct HostCone : SRF_Cone
    {
        using SRF_Cone::albedo;
        using SRF_Cone::SRF_Cone;
        float albedo(const BX_Vector3 &, const BX_Vector3 &, int) const override { return 0.125f; }
    };
    const HostCone *cone = new HostCone(vectors(BX_Vector3(0, 0, 1)), floats(0.5f));
    BX_Vector3 v(0, 0, 1), colour;
    float scalar = 0.0f;
    int bounce = 0;
    cone->evaluate(BX_Vector3(0, 0, 1), BX_Vector3(0, 0, 1), v, colour, scalar, 0, SRF_BOUNCE_GLOSSY);
    EXPECT_EQ(scalar, 0.125f);
    EXPECT_EQ(colour, BX_Vector3(1, 1, 1));
    scalar = 0.0f;
    cone->sample(BX_Vector3(0, 0, 1), BX_Vector3(0, 0, 1), v, colour, scalar, bounce, 0.3f, 0.6f, 0, 7);
    EXPECT_EQ(scalar, 0.125f);
    cone->decRefCount();
}
