// The tabulated data: the 2D CDF and the Haar pyramid worked by hand and
// checked statistically at every level, spherical harmonics against their
// closed forms, and the wavelet BSDF's table lookup and sampling.
#include "ChiSquare.h"
#include "SRF_Cdf2D.h"
#include "SRF_SphericalHarmonics.h"
#include "SRF_Wavelet2D.h"
#include "SRF_WaveletBSDF.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <random>
#include <vector>

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace
{
const char *const ZERO_PDF = "Error: pdf has probability 0\n";
const BX_Vector3 UP(0, 0, 1);

float uniform(std::mt19937 &rng) { return float(rng() >> 8) * (1.0f / 16777216.0f); }

std::vector<float> randomTable(std::mt19937 &rng, int n, float zeroShare)
{
    std::vector<float> t(size_t(n) * n);
    for (float &v : t)
        v = uniform(rng) < zeroShare ? 0.0f : 0.05f + uniform(rng);
    return t;
}

// Pearson's test of counts in cells against a table's weights, cells of
// expected count below 5 pooled; at most `strayShare` of the samples may
// land in cells of weight 0. Sidak-corrected over the chi-square tests of
// this file (12) for a family significance of 0.01.
::testing::AssertionResult fitsTable(const std::vector<float> &weights, const std::vector<long> &counts)
{
    double total = 0.0, statistic = 0.0, pooledE = 0.0, pooledO = 0.0;
    long samples = 0, stray = 0;
    int cells = 0;
    for (size_t i = 0; i < weights.size(); ++i)
        total += weights[i], samples += counts[i];
    for (size_t i = 0; i < weights.size(); ++i)
    {
        const double e = samples * weights[i] / total;
        if (e == 0.0)
            stray += counts[i];
        else if (e < 5.0)
            pooledE += e, pooledO += counts[i];
        else
            statistic += (counts[i] - e) * (counts[i] - e) / e, ++cells;
    }
    if (pooledE > 0.0)
        statistic += (pooledO - pooledE) * (pooledO - pooledE) / pooledE, ++cells;
    const double p = ChiSquare::upperTail(statistic, cells - 1), level = 1.0 - std::pow(0.99, 1.0 / 12);
    if (p > level && stray <= samples / 10000)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "chi2 " << statistic << " over " << cells << " cells, p " << p << ", "
                                         << stray << " stray samples";
}

// Samples a square sampler, bins the points on a grid twice as fine as the
// table (each cell must also be uniform inside) and tests the counts.
template <class Draw>::testing::AssertionResult fitsSquare(const std::vector<float> &table, int n, Draw draw)
{
    const int bins = 2 * n;
    std::vector<float> weights(size_t(bins) * bins);
    std::vector<long> counts(weights.size(), 0);
    for (int r = 0; r < bins; ++r)
        for (int c = 0; c < bins; ++c)
            weights[r * bins + c] = table[(r / 2) * n + c / 2];
    std::mt19937 rng(1234u + n);
    for (long i = 0; i < 240L * n * n + 20000; ++i)
    {
        float x = -1.0f, y = -1.0f;
        draw(uniform(rng), uniform(rng), x, y);
        if (!(x >= 0.0f && x <= 1.0f && y >= 0.0f && y <= 1.0f))
            return ::testing::AssertionFailure() << "point (" << x << ", " << y << ") outside the square";
        ++counts[std::min(int(y * bins), bins - 1) * bins + std::min(int(x * bins), bins - 1)];
    }
    return fitsTable(weights, counts);
}
} // namespace

// The 2 x 2 table (1, 3 / 0, 4) by hand: row sums (1, 4 / 0, 4), mean 2,
// row 0 then column 1 at a third for (0.5, 0.25); Haar coefficients (mean,
// then the three differences) (2, -1.5, 0, -0.5). Level 0 keeps its one
// value; an empty object samples the identity.
TEST(Tables, TwoByTwoByHand)
{
    const float values[4] = {1, 3, 0, 4};
    float sums[4] = {}, x, y, value = 0.0f;
    SRF_Cdf2D cdf;
    cdf.init(sums, 1);
    cdf.compress(values);
    EXPECT_TRUE(sums[0] == 1.0f && sums[1] == 4.0f && sums[2] == 0.0f && sums[3] == 4.0f);
    EXPECT_FLOAT_EQ(cdf.getScaling(), 2.0f);
    cdf.sample(0.5f, 0.25f, x, y);
    EXPECT_VEC_NEAR(BX_Vector3(x, y, 0), 2.0f / 3.0f, 0.25f, 0.0f, 1e-6f);
    cdf.sample(0.1f, 0.6f, x, y); // row 1, its empty first cell skipped
    EXPECT_VEC_NEAR(BX_Vector3(x, y, 0), 0.55f, 0.6f, 0.0f, 1e-6f);
    SRF_Cdf2D copy(cdf), assigned;
    assigned = copy;
    copy.init(sums, 1); // a copy owns its row sums
    assigned.sample(0.5f, 0.25f, x, y);
    EXPECT_NEAR(x, 2.0f / 3.0f, 1e-6f);
    CaptureStderr();
    cdf.dump();
    EXPECT_EQ(GetCapturedStderr(), "1.000000\n4.000000\n0.000000\n4.000000\n");

    float coefficients[4] = {}, back[4];
    SRF_Wavelet2D w;
    w.init(coefficients, 1);
    w.compress(values);
    EXPECT_TRUE(coefficients[0] == 2.0f && coefficients[1] == -1.5f && coefficients[2] == 0.0f &&
                coefficients[3] == -0.5f);
    EXPECT_TRUE(w.getMaxValue() == 4.0f && w.getScaling() == 2.0f);
    w.decompress(back);
    EXPECT_TRUE(back[0] == 1.0f && back[1] == 3.0f && back[2] == 0.0f && back[3] == 4.0f);
    w.sample(0.5f, 0.25f, x, y, value);
    EXPECT_VEC_NEAR(BX_Vector3(x, y, value), 2.0f / 3.0f, 0.25f, 3.0f, 1e-6f);
    const float upperOnly[4] = {1, 3, 0, 0}; // random numbers of 1 stay in the upper row
    w.compress(upperOnly);
    w.sample(1.0f, 1.0f, x, y, value);
    EXPECT_TRUE(x == 1.0f && y == 0.5f && value == 3.0f);

    const float one = 5.0f;
    float single = 0.0f;
    cdf.init(&single, 0);
    cdf.compress(&one);
    cdf.sample(0.3f, 0.7f, x, y);
    EXPECT_TRUE(x == 0.3f && y == 0.7f);
    w.init(&single, 0);
    w.compress(&one);
    w.sample(0.3f, 0.8f, x, y, value);
    EXPECT_TRUE(single == 5.0f && x == 0.3f && y == 0.8f && value == 5.0f);
    SRF_Cdf2D empty;
    empty.sample(0.25f, 0.75f, x, y);
    EXPECT_TRUE(x == 0.25f && y == 0.75f && empty.getScaling() == 0.0f);
    SRF_Wavelet2D none; // no storage: nothing to draw, a mean of 0
    CaptureStderr();
    none.sample(0.5f, 0.5f, x, y, value);
    EXPECT_TRUE(GetCapturedStderr() == ZERO_PDF && none.getScaling() == 0.0f);
}

// Hosts build tables on worker threads with small stacks: a 2 x 2 pyramid
// and a 4 x 4 harmonics grid compress on a 64 KiB stack.
TEST(Tables, CompressOnA64KiBStack)
{
    struct Run
    {
        float pyramid[4] = {}, harmonic = 0.0f;
    } run;
    pthread_attr_t attr;
    pthread_t worker;
    ASSERT_EQ(pthread_attr_init(&attr) | pthread_attr_setstacksize(&attr, 64 * 1024), 0);
    const auto compress = [](void *arg) -> void *
    {
        Run &out = *static_cast<Run *>(arg);
        const float table[4] = {1, 3, 0, 4}, ones[16] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
        SRF_Wavelet2D pyramid;
        pyramid.init(out.pyramid, 1);
        pyramid.compress(table);
        SRF_SphericalHarmonics harmonics;
        harmonics.init(&out.harmonic, 1);
        harmonics.compress(ones, 4, 4);
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&worker, &attr, compress, &run), 0);
    ASSERT_EQ(pthread_join(worker, nullptr), 0);
    pthread_attr_destroy(&attr);
    EXPECT_TRUE(run.pyramid[0] == 2.0f && run.pyramid[1] == -1.5f && run.pyramid[2] == 0.0f && run.pyramid[3] == -0.5f);
    EXPECT_NEAR(run.harmonic, 3.5449077f, 1e-5f);
}

// One value 16 at row 3, column 0 of a 4 x 4 table: mean 1; the coarse node
// sees its lower-left child at 4, the fine node (1, 0) its lower-left cell
// at 16, so every difference is +m and every sample lands in that cell.
// Tables of every level come back from their pyramid; bad tables give
// points in the square (an empty one says so).
TEST(Tables, PyramidLayoutRoundTripAndBadTables)
{
    float values[16] = {}, coefficients[16];
    values[12] = 16.0f;
    SRF_Wavelet2D w;
    w.init(coefficients, 2);
    w.compress(values);
    const float expected[16] = {1, 1, 1, 1, 0, 0, 4, 0, 0, 0, 4, 0, 0, 0, 4, 0};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(coefficients[i], expected[i]) << i;
    std::mt19937 rng(11);
    float x, y, value;
    for (int i = 0; i < 100; ++i)
    {
        w.sample(uniform(rng), uniform(rng), x, y, value);
        ASSERT_TRUE(value == 16.0f && x >= 0.0f && x <= 0.25f && y >= 0.75f && y <= 1.0f) << x << " " << y;
    }
    for (int level = 1; level <= 8; ++level)
    {
        const int n = 1 << level;
        const std::vector<float> table = randomTable(rng, n, 0.2f);
        std::vector<float> pyramid(table.size()), back(table.size(), -1.0f);
        w.init(pyramid.data(), level);
        w.compress(table.data());
        w.decompress(back.data());
        double sum = 0.0;
        for (float v : table)
            sum += v;
        EXPECT_EQ(w.getMaxValue(), *std::max_element(table.begin(), table.end()));
        EXPECT_NEAR(w.getScaling(), sum / table.size(), 1e-5);
        for (size_t i = 0; i < table.size(); ++i)
            ASSERT_NEAR(back[i], table[i], 1e-5f) << "level " << level << " value " << i;
    }

    const std::vector<std::vector<float>> bad = {{0, 0, 0, 0}, {-1, -2, -3, -4}, {1, NAN, 2, 3}, {-1, 3, 2, -0.5f}};
    for (const std::vector<float> &table : bad)
    {
        float sums[4], pyramid[4];
        SRF_Cdf2D cdf;
        cdf.init(sums, 1);
        cdf.compress(table.data());
        w.init(pyramid, 1);
        w.compress(table.data());
        EXPECT_GE(w.getMaxValue(), 0.0f);
        for (float s : {0.0f, 0.3f, 0.7f, 1.0f})
        {
            cdf.sample(s, 1.0f - s, x, y);
            EXPECT_TRUE(x >= 0.0f && x <= 1.0f && y >= 0.0f && y <= 1.0f) << x << " " << y;
            CaptureStderr();
            w.sample(s, 1.0f - s, x, y, value);
            const std::string said = GetCapturedStderr();
            EXPECT_TRUE(x >= 0.0f && x <= 1.0f && y >= 0.0f && y <= 1.0f) << x << " " << y;
            // A table with nothing to draw says so, gives (0, 0) and no value.
            const bool nothing = table[0] <= 0.0f && table[1] <= 0.0f && table[3] <= 0.0f;
            EXPECT_TRUE(!nothing || (said == ZERO_PDF && x == 0.0f && y == 0.0f));
        }
        // All zero: t = 0 is below no sum, so the CDF enters the last row and
        // column at their start.
        cdf.sample(0.5f, 0.5f, x, y);
        EXPECT_TRUE(&table != &bad[0] || (x == 0.5f && y == 0.5f)) << x << " " << y;
    }
}

// Both square samplers, at levels 2 to 6, draw points with the table's
// density; the pyramid also gives the chosen cell's value.
TEST(Tables, SquareSamplersDrawTheTable)
{
    std::mt19937 rng(5);
    for (int level = 2; level <= 6; ++level)
    {
        const int n = 1 << level;
        const std::vector<float> table = randomTable(rng, n, 0.1f);
        std::vector<float> storage(table.size()), pyramid(table.size());
        SRF_Cdf2D cdf;
        cdf.init(storage.data(), level);
        cdf.compress(table.data());
        EXPECT_TRUE(fitsSquare(table, n, [&](float sx, float sy, float &x, float &y) { cdf.sample(sx, sy, x, y); }));
        SRF_Wavelet2D w;
        w.init(pyramid.data(), level);
        w.compress(table.data());
        long wrongValues = 0;
        EXPECT_TRUE(fitsSquare(table, n,
                               [&](float sx, float sy, float &x, float &y)
                               {
                                   float value = -1.0f;
                                   w.sample(sx, sy, x, y, value);
                                   const int c = std::min(int(x * n), n - 1), r = std::min(int(y * n), n - 1);
                                   wrongValues += std::fabs(value - table[r * n + c]) > 1e-4f;
                               }));
        EXPECT_LT(wrongValues, 10) << "level " << level; // a point on a cell edge may read its neighbour
    }
}

namespace
{
// The real spherical harmonics of bands 0 to 2 in closed form.
double closedFormY(int l, int m, double theta, double phi)
{
    const double x = std::cos(theta), s = std::sin(theta), c1 = std::sqrt(3.0 / (4.0 * SRF_PI_DOUBLE));
    const double c2 = std::sqrt(15.0 / (4.0 * SRF_PI_DOUBLE)), c3 = 0.25 * std::sqrt(15.0 / SRF_PI_DOUBLE);
    const double values[] = {0.5 * std::sqrt(1.0 / SRF_PI_DOUBLE),
                             c1 * s * std::sin(phi),
                             c1 * x,
                             c1 * s * std::cos(phi),
                             c3 * s * s * std::sin(2.0 * phi),
                             c2 * s * x * std::sin(phi),
                             0.25 * std::sqrt(5.0 / SRF_PI_DOUBLE) * (3.0 * x * x - 1.0),
                             c2 * s * x * std::cos(phi),
                             c3 * s * s * std::cos(2.0 * phi)};
    return values[l * l + l + m];
}
} // namespace

// Point values against the closed forms; a table made of harmonics of
// known weights gives those weights back (in the order (0, 0), (1, -1),
// (1, 0), (1, 1), ...) and is rebuilt from them; degenerate grids and
// orders give zeros, not NaN.
TEST(Tables, SphericalHarmonicsRebuildBandLimitedFunctions)
{
    SRF_SphericalHarmonics sh;
    for (int l = 0; l <= 2; ++l)
        for (int m = -l; m <= l; ++m)
            for (double theta : {0.1, 1.0, 2.0, 3.0})
                for (double phi : {0.3, 2.0, 4.5})
                    EXPECT_NEAR(sh.sphericalHarmonics(float(phi), float(theta), l, m), closedFormY(l, m, theta, phi),
                                1e-5)
                        << l << " " << m;
    const int nPhi = 64, nTheta = 48;
    const double weights[9] = {0.9, -0.3, 0.5, 0.2, 0.15, -0.25, 0.4, 0.1, -0.05};
    std::vector<float> table(nPhi * nTheta), back(table.size());
    for (int j = 0; j < nTheta; ++j)
        for (int i = 0; i < nPhi; ++i)
        {
            double f = 0.0;
            for (int k = 0; k < 9; ++k)
            {
                const int l = int(std::sqrt(double(k)));
                f += weights[k] * closedFormY(l, k - l * l - l, (j + 0.5) * SRF_PI_DOUBLE / nTheta,
                                              (i + 0.5) * 2.0 * SRF_PI_DOUBLE / nPhi);
            }
            table[j * nPhi + i] = float(f);
        }
    float coefficients[9];
    sh.init(coefficients, 3);
    sh.compress(table.data(), nPhi, nTheta);
    for (int k = 0; k < 9; ++k)
        EXPECT_NEAR(coefficients[k], weights[k], 2e-3) << k;
    sh.decompress(back.data(), nPhi, nTheta);
    for (size_t i = 0; i < table.size(); ++i)
        ASSERT_NEAR(back[i], table[i], 5e-3f) << i;
    EXPECT_EQ(SRF_SphericalHarmonics(sh).getScaling(), coefficients[0]);

    // A constant 1: coefficient 1 / Y00 = sqrt(4 pi); the harmonics sample
    // nothing and have no largest value.
    std::fill(table.begin(), table.end(), 1.0f);
    sh.init(coefficients, 1);
    sh.compress(table.data(), nPhi, nTheta);
    EXPECT_NEAR(coefficients[0], 3.5449077f, 1e-5f);
    EXPECT_EQ(sh.getMaxValue(), 0.0f);
    float column[3] = {}; // a grid of one column rebuilds it too
    sh.decompress(column, 1, 3);
    EXPECT_TRUE(std::fabs(column[0] - 1.0f) < 1e-5f && std::fabs(column[2] - 1.0f) < 1e-5f) << column[0];
    float x = 9.0f, y = 9.0f, value = 9.0f;
    sh.sample(0.5f, 0.5f, x, y, value);
    EXPECT_TRUE(x == 9.0f && y == 9.0f && value == 9.0f);
    CaptureStderr();
    sh.dump();
    SRF_SphericalHarmonics().dump();
    EXPECT_EQ(GetCapturedStderr(), "3.544908\n");

    float four[4] = {5, 5, 5, 5}, ones[4] = {1, 1, 1, 1};
    sh.init(four, 2);
    sh.compress(ones, 0, 4); // no columns: nothing happens
    EXPECT_EQ(four[0], 5.0f);
    sh.compress(ones, 1, 4); // one column at phi = pi: the sine harmonic is 0, not NaN
    EXPECT_TRUE(four[1] == 0.0f && std::isfinite(four[2]) && std::isfinite(four[3]));
    four[0] = 5.0f;
    sh.compress(ones, 4, 1); // one row, at the equator: integrated like any other grid
    EXPECT_NEAR(four[0], 3.5449077f, 1e-5f);
    sh.init(four, 0);
    sh.decompress(ones, 2, 2);
    EXPECT_TRUE(ones[0] == 0.0f && ones[3] == 0.0f && sh.getScaling() == 0.0f);
}

namespace
{
BX_Vector3 direction(double theta, double phi)
{
    return BX_Vector3(float(std::sin(theta) * std::cos(phi)), float(std::sin(theta) * std::sin(phi)),
                      float(std::cos(theta)));
}
float valueOf(const SRF_BSDF &b, const BX_Vector3 &u, const BX_Vector3 &v)
{
    const TestUtil::Evaluated e = TestUtil::evaluateOf(b, u, UP, v);
    EXPECT_TRUE(e.colour.x == e.colour.y && e.colour.x == e.colour.z);
    return e.colour.x;
}
} // namespace

// Tables are chosen by the sine of u's angle to n (4 tables: sine 0.6 is
// table 2, grazing limited to 3, NaN 0); within a table the row is
// 1 - cos(v, n) and the column the azimuth of v about u, read bilinearly.
TEST(Tables, WaveletBsdfReadsAndSamplesItsTables)
{
    auto indexer = TestUtil::hold(new SRF_WaveletBSDF(4, 1));
    auto *b4 = static_cast<SRF_WaveletBSDF *>(indexer.get());
    const std::pair<BX_Vector3, int> indices[] = {
        {BX_Vector3(0.6f, 0, 0.8f), 2}, {BX_Vector3(1, 0, 0), 3},   {UP, 0},
        {BX_Vector3(0, 0, 1.0001f), 0}, {BX_Vector3(NAN, 0, 0), 0}, {BX_Vector3(0, 0.6f, -0.8f), 2}};
    for (const auto &[u, index] : indices)
        EXPECT_EQ(b4->getIdx(u, UP), index);

    // Table 1 of 2 (u at 60 degrees) holds 10 r + c, table 0 holds 100 + c.
    const int res = 4;
    std::vector<float> tables(2 * res * res);
    for (int i = 0; i < res * res; ++i)
        tables[i] = 100.0f + i % res, tables[res * res + i] = 10.0f * (i / res) + i % res;
    auto held = TestUtil::hold(new SRF_WaveletBSDF(2, 2));
    auto *b = static_cast<SRF_WaveletBSDF *>(held.get());
    b->construct(tables.data());
    EXPECT_TRUE(b->getScaling(0) == 101.5f && b->getScaling(1) == 16.5f);
    const BX_Vector3 u = direction(SRF_PI_DOUBLE / 3.0, 0.0);
    const std::pair<BX_Vector3, float> reads[] = {
        {UP, 0.0f},                                                  // row 0, column 0
        {direction(SRF_PI_DOUBLE / 2.0, 0.0), 29.997f},              // rows 2 and 3 at 0.9999: row 3 weighs 0.9997
        {direction(SRF_PI_DOUBLE / 2.0, SRF_PI_DOUBLE), 31.497f},    // opposite u: halfway between columns 1 and 2
        {direction(std::acos(0.4999), SRF_PI_DOUBLE / 2.0), 15.75f}, // rows 1, 2 halfway; columns 0, 1 at 3/4
        {BX_Vector3(0, 0, -1), 30.0f},                               // below the surface: the last row
        {direction(SRF_PI_DOUBLE / 2.0, -1e-7), 32.997f},            // just below 2 pi: the last column
    };
    for (const auto &[v, expected] : reads)
        EXPECT_NEAR(valueOf(*b, u, v), expected, 2e-3f);
    EXPECT_NEAR(valueOf(*b, UP, direction(SRF_PI_DOUBLE / 2.0, 2.0)), 100.0f, 1e-4f); // u along n: azimuth 0
    EXPECT_EQ(TestUtil::evaluateOf(*b, u, UP, UP).scalar, 16.5f);
    EXPECT_TRUE(b->albedo(u, UP, 0) == 16.5f && b->albedo(UP, UP, 0) == 101.5f);
    EXPECT_TRUE(b->albedo(direction(2.0, 0.0), UP, 0) == 0.0f && b->specularRatio(0) == 0.0f);

    // A constant 2 x 2 table: (0.25, 0.5) is theta = 60 degrees, phi = 90
    // degrees, so v = sin 60 F2 + cos 60 n with F2 = y for this u.
    const float flat[4] = {2, 2, 2, 2};
    auto constant = TestUtil::hold(new SRF_WaveletBSDF(1, 1));
    static_cast<SRF_WaveletBSDF *>(constant.get())->construct(const_cast<float *>(flat));
    TestUtil::Sampled s = TestUtil::sampleOf(*constant, BX_Vector3(0.6f, 0, 0.8f), UP, 0.25f, 0.5f);
    EXPECT_VEC_NEAR(s.v, 0.0f, 0.8660254f, 0.5f, 1e-6f);
    EXPECT_TRUE(s.bounce == 7 && s.colour.x == 2.0f && s.scalar == 2.0f);

    // Before construct: the mean -1, v = n with the message; the host writes
    // a table and converts both ways; no tables at all answer zeros.
    auto raw = TestUtil::hold(new SRF_WaveletBSDF(2, 2));
    auto *r = static_cast<SRF_WaveletBSDF *>(raw.get());
    EXPECT_TRUE(r->getScaling(0) == -1.0f && r->getScaling(5) == 0.0f && r->getData(2) == nullptr);
    CaptureStderr();
    s = TestUtil::sampleOf(*r, u, UP, 0.3f, 0.6f);
    EXPECT_EQ(GetCapturedStderr(), ZERO_PDF);
    EXPECT_TRUE(s.v == UP && s.scalar == -1.0f);
    for (int i = 0; i < 16; ++i)
        r->getData(1)[i] = float(i);
    r->convert(true);
    EXPECT_EQ(r->getScaling(1), 7.5f);
    r->convert(false);
    EXPECT_NEAR(r->getData(1)[5], 5.0f, 1e-5f);
    auto none = TestUtil::hold(new SRF_WaveletBSDF(0, 3));
    const TestUtil::Evaluated nothing = TestUtil::evaluateOf(*none, u, UP, u);
    EXPECT_TRUE(none->albedo(u, UP, 0) == 0.0f && nothing.scalar == 0.0f && nothing.colour == BX_Vector3(0, 0, 0));
    // Dumps: the table's values one a line, indented, then its mean and
    // differences (2.5; (1 + 3 - 5) / 2, (3 + 4 - 5) / 2, (2 + 3 - 5) / 2).
    const float cells[4] = {1, 2, 3, 4};
    auto dumped = TestUtil::hold(new SRF_WaveletBSDF(1, 1));
    static_cast<SRF_WaveletBSDF *>(dumped.get())->construct(const_cast<float *>(cells));
    CaptureStderr();
    none->dump(0);
    dumped->dump(2);
    static_cast<SRF_WaveletBSDF *>(dumped.get())->dumpWavelet();
    EXPECT_EQ(GetCapturedStderr(),
              "  1.000000\n  2.000000\n  3.000000\n  4.000000\n2.500000\n-0.500000\n1.000000\n0.000000\n");

    // Sampled directions fall in the table's cells in proportion to it.
    const int level = 3, n = 1 << level;
    std::mt19937 rng(17);
    std::vector<float> two = randomTable(rng, n, 0.15f), second = randomTable(rng, n, 0.15f);
    two.insert(two.end(), second.begin(), second.end());
    auto sampled = TestUtil::hold(new SRF_WaveletBSDF(2, level));
    static_cast<SRF_WaveletBSDF *>(sampled.get())->construct(two.data());
    const BX_Vector3 us[2] = {direction(0.3, 0.7), direction(1.2, -2.0)};
    for (int j = 0; j < 2; ++j)
    {
        BX_Vector3 f2 = UP.cross(us[j]), f1;
        f2.normalize();
        f1 = f2.cross(UP);
        std::vector<long> counts(n * n, 0);
        for (long i = 0; i < 200000; ++i)
        {
            const TestUtil::Sampled d = TestUtil::sampleOf(*sampled, us[j], UP, uniform(rng), uniform(rng));
            double azimuth = std::atan2(d.v.dot(f2), d.v.dot(f1)) / (2.0 * SRF_PI_DOUBLE);
            azimuth += azimuth < 0.0 ? 1.0 : 0.0;
            ++counts[std::min(int((1.0 - d.v.z) * n), n - 1) * n + std::min(int(azimuth * n), n - 1)];
        }
        EXPECT_TRUE(fitsTable(std::vector<float>(two.begin() + j * n * n, two.begin() + (j + 1) * n * n), counts));
    }
}
