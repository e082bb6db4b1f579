// The utility layer as the library uses it: the shared warps (statistically,
// through the chi-square harness) and frames, and what files open. (The
// allocator, the symbol table and the lock are raced by the stress and cache
// tests; the solver and text input serve the measured tests.)
#include "BX_IFStream.h"
#include "BX_PolarSample.h"
#include "ChiSquare.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

TEST(BxWarps, SphereAndDiskSamplesAreUniformAndFramesHoldForAnyLength)
{
    const BX_Vector3 axis(0.6f, 0.0f, 0.8f);
    const ChiSquare::Frame frame = ChiSquare::frameAbout(axis);
    // compute(s, t): uniform on the sphere about any axis.
    EXPECT_TRUE(ChiSquare::fits({"polar sample", frame,
                                 [axis](float s, float t, BX_Vector3 &d) { BX_PolarSample(axis).compute(d, s, t); },
                                 [](const BX_Vector3 &) { return 1.0 / (4.0 * SRF_PI_DOUBLE); }}));
    // computeDisk2 preserves area: the disk point lifted to the hemisphere is
    // cosine-distributed.
    EXPECT_TRUE(
        ChiSquare::fits({"disk lifted to the hemisphere", frame,
                         [frame](float s, float t, BX_Vector3 &d)
                         {
                             float x, y;
                             BX_PolarSample::computeDisk2(s, t, x, y);
                             const float z = std::sqrt(std::max(0.0f, 1.0f - x * x - y * y));
                             d = frame.x * x + frame.y * y + frame.z * z;
                         },
                         [axis](const BX_Vector3 &d) { return std::max(0.0, double(axis.dot(d))) / SRF_PI_DOUBLE; }}));
    float x, y;
    BX_PolarSample::computeDisk2(0.5f, 0.5f, x, y);
    EXPECT_TRUE(x == 0.0f && y == 0.0f);
    BX_PolarSample::computeDisk2(1.0f, 0.5f, x, y);
    EXPECT_VEC_NEAR(BX_Vector3(x, y, 0.0f), 1.0f, 0.0f, 0.0f, 1e-6f);
    // t gives the cosine 2t - 1, s the azimuth from the first tangent.
    BX_PolarSample framed(BX_Vector3(0, 0, 1), BX_Vector3(1, 0, 0), BX_Vector3(0, 1, 0));
    BX_Vector3 d;
    framed.compute(d, 0.25f, 0.5f);
    EXPECT_VEC_NEAR(d, 0.0f, 1.0f, 0.0f, 1e-6f);
    framed.compute(d, 0.0f, 0.75f);
    EXPECT_VEC_NEAR(d, std::sqrt(0.75f), 0.0f, 0.5f, 1e-6f);

    // Frames and polar samples hold for vectors of any length; normalize
    // scales before squaring, so that huge and tiny vectors come out unit.
    std::mt19937 rng(3);
    std::vector<BX_Vector3> dirs = {BX_Vector3(0, 0, 1), BX_Vector3(0, 0, -1), BX_Vector3(0, 1e-7f, -1)};
    for (int i = 0; i < 20000; ++i)
        dirs.push_back(TestUtil::randomUnit(rng));
    for (const BX_Vector3 &n : dirs)
        for (float length : {1.0f, 0.5f, 3.0f})
        {
            BX_Vector3 a, b, p;
            (n * length).getFrameOfReference(a, b);
            ASSERT_NEAR(a.length(), 1.0f, 1e-5f);
            ASSERT_NEAR(b.length(), 1.0f, 1e-5f);
            ASSERT_NEAR(a.dot(b), 0.0f, 1e-5f);
            ASSERT_NEAR(a.dot(n), 0.0f, 1e-5f);
            ASSERT_NEAR((a.cross(b) - n).length(), 0.0f, 1e-5f); // right-handed
            BX_PolarSample(n * length).compute(p, 0.37f, 0.9f);
            ASSERT_NEAR(p.length(), 1.0f, 1e-5f);
            ASSERT_NEAR(p.dot(n), 0.8f, 1e-5f);
        }
    for (BX_Vector3 v : {BX_Vector3(1e30f, 0, 0), BX_Vector3(1e-25f, 0, 0), BX_Vector3(3e38f, -3e38f, 0)})
    {
        v.normalize();
        EXPECT_NEAR(v.length(), 1.0f, 1e-6f);
    }
    BX_Vector3 zero, v(3.0f, 0.0f, 4.0f);
    zero.normalize();
    EXPECT_TRUE(zero == BX_Vector3(0, 0, 0));
    EXPECT_EQ(v.normalize(), 5.0f);
    EXPECT_TRUE(v == BX_Vector3(0.6f, 0.0f, 0.8f));
}

// The plots' equal-area projection: uniform disk points give uniform
// directions over each hemisphere, and toEqualAreaDisk inverts
// fromEqualAreaDisk.
TEST(BxWarps, EqualAreaDiskHoldsSolidAngleAndInverts)
{
    for (bool upper : {true, false})
        EXPECT_TRUE(ChiSquare::fits({upper ? "equal-area disk, upper" : "equal-area disk, lower",
                                     ChiSquare::frameAbout(BX_Vector3(0, 0, upper ? 1.0f : -1.0f)),
                                     [upper](float s, float t, BX_Vector3 &d)
                                     {
                                         float x, y;
                                         BX_PolarSample::computeDisk2(s, t, x, y);
                                         d = BX_PolarSample::fromEqualAreaDisk(x, y, upper);
                                     },
                                     [upper](const BX_Vector3 &d)
                                     { return (d.z > 0.0f) == upper ? 1.0 / (2.0 * SRF_PI_DOUBLE) : 0.0; }}));
    // The pole, the rim and a point at half the area: radius^2 = 1 - |cos t|.
    EXPECT_VEC_NEAR(BX_PolarSample::fromEqualAreaDisk(0.0f, 0.0f, false), 0.0f, 0.0f, -1.0f, 1e-7f);
    EXPECT_VEC_NEAR(BX_PolarSample::fromEqualAreaDisk(0.0f, -1.0f, true), 0.0f, -1.0f, 0.0f, 1e-7f);
    EXPECT_VEC_NEAR(BX_PolarSample::fromEqualAreaDisk(0.6f, 0.0f, true), 0.6f * std::sqrt(1.64f), 0.0f, 0.64f, 1e-6f);
    std::mt19937 rng(5);
    for (int i = 0; i < 1000; ++i)
    {
        const BX_Vector3 v = TestUtil::randomUnit(rng);
        float x, y;
        BX_PolarSample::toEqualAreaDisk(v, x, y);
        ASSERT_LE(x * x + y * y, 1.0f + 1e-6f);
        const BX_Vector3 back = BX_PolarSample::fromEqualAreaDisk(x, y, v.z > 0.0f);
        ASSERT_NEAR((back - v).length(), 0.0f, 2e-6f) << v.x << " " << v.y << " " << v.z;
    }
}

// Only regular files open: a device named as a measurement file used to
// hang the reader. (Lines and tokens are read by the measurement reader's
// tests; the solver is the fitting's.)
TEST(BxText, OnlyRegularFilesOpen)
{
    for (const std::string &bad : {std::string("/dev/zero"), std::string(SRF_BINARY_TEST_DIR), std::string("/no/such")})
    {
        BX_IFStream s;
        EXPECT_FALSE(s.open(bad.c_str(), 0)) << bad;
        EXPECT_TRUE(s.isEof());
    }
}
