// Direction sampling and frames of the utility layer, checked statistically
// and over many directions, and the small-object allocator under threads.
#include "BX_PolarSample.h"
#include "BX_SmallObjectAllocator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace
{
// Pearson's statistic of observed against equal expected counts.
double chiSquareUniform(const std::vector<int> &counts, int total)
{
    const double expected = double(total) / double(counts.size());
    double chi2 = 0.0;
    for (int c : counts)
        chi2 += (c - expected) * (c - expected) / expected;
    return chi2;
}

// Upper 0.001 quantile of chi-square with k degrees of freedom
// (Wilson-Hilferty approximation); z = 3.09.
double chiSquareCritical(int k)
{
    const double z = 3.09;
    const double a = 2.0 / (9.0 * k);
    return k * std::pow(1.0 - a + z * std::sqrt(a), 3.0);
}
} // namespace

TEST(PolarSample, UniformOverTheSphereAboutAnyAxis)
{
    // Equal-area bins: 8 bands of cos(theta) about z times 16 sectors of phi.
    const int bands = 8, sectors = 16, total = 256000;
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> uni(0.0f, 1.0f);
    for (BX_Vector3 axis : {BX_Vector3(0, 0, 1), BX_Vector3(0, 0, -1), BX_Vector3(0.6f, 0.0f, 0.8f)})
    {
        BX_PolarSample polar(axis);
        std::vector<int> counts(bands * sectors, 0);
        for (int i = 0; i < total; ++i)
        {
            BX_Vector3 d;
            polar.compute(d, uni(rng), uni(rng));
            ASSERT_NEAR(d.length(), 1.0f, 1e-5f);
            const float c = std::min(std::max(d.z, -1.0f), 0.999999f);
            const int band = int((c + 1.0f) * 0.5f * bands);
            float phi = std::atan2(d.y, d.x);
            if (phi < 0.0f)
                phi += 6.2831855f;
            const int sector = std::min(int(phi / 6.2831855f * sectors), sectors - 1);
            ++counts[band * sectors + sector];
        }
        EXPECT_LT(chiSquareUniform(counts, total), chiSquareCritical(bands * sectors - 1));
    }
    // The two parameters: t sets the cosine 2t - 1, s the azimuth from tangent1.
    BX_PolarSample framed(BX_Vector3(0, 0, 1), BX_Vector3(1, 0, 0), BX_Vector3(0, 1, 0));
    BX_Vector3 d;
    framed.compute(d, 0.25f, 0.5f);
    EXPECT_NEAR(d.x, 0.0f, 1e-6f);
    EXPECT_NEAR(d.y, 1.0f, 1e-6f);
    EXPECT_NEAR(d.z, 0.0f, 1e-6f);
    framed.compute(d, 0.0f, 0.75f);
    EXPECT_NEAR(d.z, 0.5f, 1e-6f);
    EXPECT_NEAR(d.x, std::sqrt(0.75f), 1e-6f);
}

TEST(PolarSample, DiskMapIsAreaPreserving)
{
    // Uniform (s, t) must give r^2 and the angle each uniform and the point
    // inside the unit disk; bins: 8 rings of equal area times 16 sectors.
    const int rings = 8, sectors = 16, total = 256000;
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> uni(0.0f, 1.0f);
    std::vector<int> counts(rings * sectors, 0);
    for (int i = 0; i < total; ++i)
    {
        float x, y;
        BX_PolarSample::computeDisk2(uni(rng), uni(rng), x, y);
        const float r2 = x * x + y * y;
        ASSERT_LE(r2, 1.0f + 1e-5f);
        float phi = std::atan2(y, x);
        if (phi < 0.0f)
            phi += 6.2831855f;
        const int ring = std::min(int(r2 * rings), rings - 1);
        const int sector = std::min(int(phi / 6.2831855f * sectors), sectors - 1);
        ++counts[ring * sectors + sector];
    }
    EXPECT_LT(chiSquareUniform(counts, total), chiSquareCritical(rings * sectors - 1));
    float x, y;
    BX_PolarSample::computeDisk2(0.5f, 0.5f, x, y);
    EXPECT_EQ(x, 0.0f);
    EXPECT_EQ(y, 0.0f);
    BX_PolarSample::computeDisk2(1.0f, 0.5f, x, y);
    EXPECT_NEAR(x, 1.0f, 1e-6f);
    EXPECT_NEAR(y, 0.0f, 1e-6f);
}

TEST(Vector3, FrameIsOrthonormalForEveryDirectionAndZeroStaysZero)
{
    std::vector<BX_Vector3> dirs = {BX_Vector3(0, 0, 1), BX_Vector3(0, 0, -1), BX_Vector3(1, 0, 0),
                                    BX_Vector3(0, -1, 0), BX_Vector3(0, 1e-7f, -1)};
    std::mt19937 rng(3);
    std::normal_distribution<float> g;
    for (int i = 0; i < 20000; ++i)
    {
        BX_Vector3 d(g(rng), g(rng), g(rng));
        d.normalize();
        dirs.push_back(d);
    }
    for (const BX_Vector3 &n : dirs)
    {
        BX_Vector3 a, b;
        n.getFrameOfReference(a, b);
        ASSERT_NEAR(a.length(), 1.0f, 1e-5f);
        ASSERT_NEAR(b.length(), 1.0f, 1e-5f);
        ASSERT_NEAR(a.dot(b), 0.0f, 1e-5f);
        ASSERT_NEAR(a.dot(n), 0.0f, 1e-5f);
        ASSERT_NEAR(b.dot(n), 0.0f, 1e-5f);
        ASSERT_NEAR((a.cross(b) - n).length(), 0.0f, 1e-5f); // right-handed
    }
    BX_Vector3 zero;
    zero.normalize();
    EXPECT_TRUE(zero == BX_Vector3(0, 0, 0));
    BX_Vector3 tiny(1e-30f, 0.0f, 0.0f);
    tiny.normalize();
    EXPECT_FALSE(std::isnan(tiny.x));
    BX_Vector3 v(3.0f, 0.0f, 4.0f);
    EXPECT_EQ(v.normalize(), 5.0f);
    EXPECT_TRUE(v == BX_Vector3(0.6f, 0.0f, 0.8f));
}

TEST(SmallObjectAllocator, ExactSizesUnderThreads)
{
    BX_SmallObjectAllocator alloc(false, 32, 128, true);
    void *big = alloc.allocate(129); // above the pooled sizes: the heap
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(alloc.outstanding(), 1);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back(
            [&alloc, t]
            {
                std::vector<std::pair<void *, std::size_t>> held;
                for (int i = 0; i < 20000; ++i)
                {
                    const std::size_t size = 8 + std::size_t((i * 7 + t) % 121);
                    char *p = static_cast<char *>(alloc.allocate(size));
                    std::memset(p, t, size);
                    held.emplace_back(p, size);
                    if (held.size() > 50)
                    {
                        for (auto &h : held)
                        {
                            for (std::size_t k = 0; k < h.second; ++k)
                                ASSERT_EQ(static_cast<char *>(h.first)[k], char(t)); // nobody else wrote here
                            alloc.deallocate(h.first, h.second);
                        }
                        held.clear();
                    }
                }
                for (auto &h : held)
                    alloc.deallocate(h.first, h.second);
            });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(alloc.outstanding(), 1);
    alloc.deallocate(big, 129);
    EXPECT_EQ(alloc.outstanding(), 0);
    for (std::size_t s = 1; s <= 128; ++s)
        EXPECT_EQ(alloc.outstanding(s), 0);
}
