// Tests of the tabulated data: the 2D CDF, the Haar pyramid, spherical
// harmonics, the wavelet BSDF and float splitting.

#include "ChiSquare.h"
#include "PLTsplitFloat.h"
#include "SRF_Cdf2D.h"
#include "SRF_SphericalHarmonics.h"
#include "SRF_Wavelet2D.h"
#include "SRF_WaveletBSDF.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>
#include <string>
#include <vector>

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace
{
const char *const kZeroPdf = "Error: pdf has probability 0\n";
const double kPi = 3.14159265358979323846;

// A uniform float in [0, 1): 24 random bits, never 1.
float uniform(std::mt19937 &rng) { return static_cast<float>(rng() >> 8) * (1.0f / 16777216.0f); }

std::vector<float> randomTable(std::mt19937 &rng, int n, float zeroShare)
{
    std::vector<float> t(static_cast<std::size_t>(n) * n);
    for (float &v : t)
        v = uniform(rng) < zeroShare ? 0.0f : 0.05f + uniform(rng);
    return t;
}

// ---- Chi-square over table cells -----------------------------------------
// The shared harness bins directions over the sphere; tables are checked
// cell by cell instead, with its chi-square law. Bins whose expected count is below 5 are pooled into one; the
// statistic is compared with the chi-square law of (bins - 1) degrees of freedom. The significance 0.01 is shared by
// every chi-square test of this file with the Sidak correction 1 - (1 - 0.01)^(1 / kChiSquareTests).
const int kChiSquareTests = 12; // Cdf2D and Wavelet2D at levels 2..6, two BSDF tables
const double kSignificance = 0.01;
const double kMinExpected = 5.0;

struct Fit
{
    double statistic = 0.0;
    int dof = 0;
    double pValue = 1.0;
    long zeroHits = 0; // samples that landed where the density is 0
};

Fit chiSquare(const std::vector<double> &expected, const std::vector<long> &observed)
{
    Fit result;
    double pooledExpected = 0.0, pooledObserved = 0.0;
    int bins = 0;
    for (std::size_t i = 0; i < expected.size(); ++i)
    {
        if (expected[i] == 0.0)
        {
            result.zeroHits += observed[i];
            continue;
        }
        if (expected[i] < kMinExpected)
        {
            pooledExpected += expected[i];
            pooledObserved += observed[i];
            continue;
        }
        const double d = observed[i] - expected[i];
        result.statistic += d * d / expected[i];
        ++bins;
    }
    if (pooledExpected > 0.0)
    {
        const double d = pooledObserved - pooledExpected;
        result.statistic += d * d / pooledExpected;
        ++bins;
    }
    result.dof = bins - 1;
    result.pValue = ChiSquare::upperTail(result.statistic, result.dof);
    return result;
}

double sidakThreshold() { return 1.0 - std::pow(1.0 - kSignificance, 1.0 / kChiSquareTests); }

// Samples a square-table sampler and compares the points, binned on a grid
// twice as fine as the table (so each cell is also checked for a constant
// density inside), with the table's density.
template <class Draw> void checkSquareSampler(const std::vector<float> &table, int n, long samples, Draw draw)
{
    const int bins = 2 * n;
    double total = 0.0;
    for (float v : table)
        total += v;
    std::vector<double> expected(static_cast<std::size_t>(bins) * bins);
    for (int r = 0; r < bins; ++r)
        for (int c = 0; c < bins; ++c)
            expected[r * bins + c] = samples * table[(r / 2) * n + c / 2] / (4.0 * total);
    std::vector<long> observed(expected.size(), 0);
    std::mt19937 rng(1234u + n);
    for (long i = 0; i < samples; ++i)
    {
        float x = -1.0f, y = -1.0f;
        draw(uniform(rng), uniform(rng), x, y);
        ASSERT_TRUE(x >= 0.0f && x <= 1.0f && y >= 0.0f && y <= 1.0f) << x << " " << y;
        const int c = std::min(static_cast<int>(x * bins), bins - 1);
        const int r = std::min(static_cast<int>(y * bins), bins - 1);
        ++observed[r * bins + c];
    }
    const Fit chi = chiSquare(expected, observed);
    EXPECT_LE(chi.zeroHits, samples / 100000) << "samples in cells of zero weight";
    EXPECT_GT(chi.pValue, sidakThreshold()) << "n = " << n << ", chi2 = " << chi.statistic << ", dof = " << chi.dof;
}
} // namespace

// ---- Float splitting ----------------------------------------------------

TEST(PLTsplitFloat, WholeAndFraction)
{
    // The last three lie outside the callers' range: still a defined index.
    const struct
    {
        float value;
        int whole;
        float fraction;
    } cases[] = {
        {2.75f, 2, 0.75f}, {3.0f, 3, 0.0f}, {-0.5f, 0, 0.0f}, {std::nanf(""), 0, 0.0f}, {1e20f, INT_MAX, 0.0f}};
    for (const auto &c : cases)
    {
        float v = c.value;
        int whole = -1;
        PLTsplitFloat(v, whole);
        EXPECT_EQ(whole, c.whole) << c.value;
        EXPECT_EQ(v, c.fraction) << c.value;
    }
}

// ---- Cdf2D --------------------------------------------------------------

TEST(Cdf2D, TwoByTwoTable)
{
    const float values[4] = {1.0f, 3.0f, 0.0f, 4.0f};
    float storage[4] = {};
    SRF_Cdf2D cdf;
    cdf.init(storage, 1);
    cdf.compress(values);
    const float sums[4] = {1.0f, 4.0f, 0.0f, 4.0f};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(storage[i], sums[i]) << i;
    EXPECT_FLOAT_EQ(cdf.getScaling(), 2.0f);

    float x, y;
    cdf.sample(0.5f, 0.25f, x, y); // row 0, then column 1 at a third
    EXPECT_NEAR(x, 2.0f / 3.0f, 1e-6f);
    EXPECT_NEAR(y, 0.25f, 1e-6f);
    cdf.sample(0.1f, 0.6f, x, y); // row 1; its empty first cell is skipped
    EXPECT_NEAR(x, 0.55f, 1e-6f);
    EXPECT_NEAR(y, 0.6f, 1e-6f);

    float untouched[4] = {9.0f, 9.0f, 9.0f, 9.0f};
    cdf.decompress(untouched);
    for (float v : untouched)
        EXPECT_EQ(v, 9.0f);

    CaptureStderr();
    cdf.dump();
    EXPECT_EQ(GetCapturedStderr(), "1.000000\n4.000000\n0.000000\n4.000000\n");
}

TEST(Cdf2D, LevelZeroAndCopies)
{
    const float one = 5.0f;
    float storage = 0.0f;
    SRF_Cdf2D cdf;
    cdf.init(&storage, 0);
    cdf.compress(&one);
    float x, y;
    for (float s : {0.0f, 0.3f, 1.0f})
    {
        cdf.sample(s, 1.0f - s, x, y);
        EXPECT_FLOAT_EQ(x, s);
        EXPECT_FLOAT_EQ(y, 1.0f - s);
    }

    // Copies own their row sums: each outlives the others, none frees twice.
    const float values[4] = {1.0f, 3.0f, 0.0f, 4.0f};
    float table[4];
    SRF_Cdf2D *original = new SRF_Cdf2D();
    original->init(table, 1);
    original->compress(values);
    SRF_Cdf2D copy(*original);
    SRF_Cdf2D assigned;
    assigned = *original;
    assigned = assigned;
    delete original;
    copy.sample(0.5f, 0.25f, x, y);
    EXPECT_NEAR(x, 2.0f / 3.0f, 1e-6f);
    EXPECT_FLOAT_EQ(copy.getScaling(), 2.0f);
    assigned.sample(0.1f, 0.6f, x, y);
    EXPECT_NEAR(x, 0.55f, 1e-6f);

    // Re-init replaces the row sums; an empty object samples the identity.
    assigned.init(table, 1);
    SRF_Cdf2D empty;
    empty.sample(0.25f, 0.75f, x, y);
    EXPECT_EQ(x, 0.25f);
    EXPECT_EQ(y, 0.75f);
    EXPECT_EQ(empty.getScaling(), 0.0f);
}

TEST(Cdf2D, BadTablesGivePointsInTheSquare)
{
    const float nan = std::nanf("");
    const std::vector<std::vector<float>> tables = {
        {0.0f, 0.0f, 0.0f, 0.0f}, {-1.0f, -2.0f, -3.0f, -4.0f}, {1.0f, nan, 2.0f, 3.0f}, {-1.0f, 3.0f, 2.0f, -0.5f}};
    for (const auto &values : tables)
    {
        float storage[4];
        SRF_Cdf2D cdf;
        cdf.init(storage, 1);
        cdf.compress(values.data());
        for (float s : {0.0f, 0.3f, 0.7f, 1.0f})
        {
            float x = -1.0f, y = -1.0f;
            cdf.sample(s, 1.0f - s, x, y);
            EXPECT_TRUE(x >= 0.0f && x <= 1.0f && y >= 0.0f && y <= 1.0f) << x << " " << y;
        }
    }
    // An all-zero table: t = 0 is below no sum, so the last row and the
    // last column are chosen and entered at their start.
    float storage[4];
    const float zeros[4] = {};
    SRF_Cdf2D cdf;
    cdf.init(storage, 1);
    cdf.compress(zeros);
    float x, y;
    cdf.sample(0.5f, 0.5f, x, y);
    EXPECT_EQ(x, 0.5f);
    EXPECT_EQ(y, 0.5f);
    // Levels out of range are limited.
    cdf.init(storage, -3);
    EXPECT_EQ(cdf.getSize(), 1);
}

// ---- Wavelet2D ----------------------------------------------------------

TEST(Wavelet2D, TwoByTwoTable)
{
    const float values[4] = {1.0f, 3.0f, 0.0f, 4.0f};
    float coefficients[4] = {};
    SRF_Wavelet2D w;
    w.init(coefficients, 1);
    w.compress(values);
    const float expected[4] = {2.0f, -1.5f, 0.0f, -0.5f};
    for (int i = 0; i < 4; ++i)
        EXPECT_FLOAT_EQ(coefficients[i], expected[i]) << i;
    EXPECT_EQ(w.getMaxValue(), 4.0f);
    EXPECT_EQ(w.getScaling(), 2.0f);

    float back[4];
    w.decompress(back);
    for (int i = 0; i < 4; ++i)
        EXPECT_FLOAT_EQ(back[i], values[i]);

    float x, y, value = 0.0f;
    w.sample(0.5f, 0.25f, x, y, value); // upper row, then the right cell
    EXPECT_NEAR(x, 2.0f / 3.0f, 1e-6f);
    EXPECT_NEAR(y, 0.25f, 1e-6f);
    EXPECT_EQ(value, 3.0f);

    // Random numbers of exactly 1 with an empty lower row stay in the upper row.
    const float upperOnly[4] = {1.0f, 3.0f, 0.0f, 0.0f};
    w.compress(upperOnly);
    w.sample(1.0f, 1.0f, x, y, value);
    EXPECT_EQ(x, 1.0f);
    EXPECT_EQ(y, 0.5f);
    EXPECT_EQ(value, 3.0f);

    CaptureStderr();
    w.compress(values);
    w.dump();
    EXPECT_EQ(GetCapturedStderr(), "2.000000\n-1.500000\n0.000000\n-0.500000\n");
}

TEST(Wavelet2D, CoefficientLayout)
{
    // One non-zero value at row 3, column 0 of a 4 x 4 table: mean 1; the
    // coarse node sees its lower-left child at 4, the fine node (1, 0)
    // sees its lower-left cell at 16. Every difference is then +m.
    float values[16] = {};
    values[3 * 4 + 0] = 16.0f;
    float coefficients[16];
    SRF_Wavelet2D w;
    w.init(coefficients, 2);
    w.compress(values);
    const float expected[16] = {1, 1, 1, 1, 0, 0, 4, 0, 0, 0, 4, 0, 0, 0, 4, 0};
    for (int i = 0; i < 16; ++i)
        EXPECT_FLOAT_EQ(coefficients[i], expected[i]) << "position " << i;

    std::mt19937 rng(3);
    for (int i = 0; i < 100; ++i)
    {
        float x, y, value;
        w.sample(uniform(rng), uniform(rng), x, y, value);
        EXPECT_EQ(value, 16.0f);
        EXPECT_TRUE(x >= 0.0f && x <= 0.25f && y >= 0.75f && y <= 1.0f) << x << " " << y;
    }
}

TEST(Wavelet2D, LevelZeroKeepsItsValue)
{
    const float one = 2.5f;
    float coefficient = 0.0f;
    SRF_Wavelet2D w;
    w.init(&coefficient, 0);
    w.compress(&one);
    EXPECT_EQ(coefficient, 2.5f);
    float back = 0.0f;
    w.decompress(&back);
    EXPECT_EQ(back, 2.5f);
    float x, y, value;
    w.sample(0.3f, 0.8f, x, y, value);
    EXPECT_FLOAT_EQ(x, 0.3f);
    EXPECT_FLOAT_EQ(y, 0.8f);
    EXPECT_EQ(value, 2.5f);
}

TEST(Wavelet2D, ZeroNegativeAndNaNTables)
{
    float coefficients[4];
    SRF_Wavelet2D w;
    w.init(coefficients, 1);

    const float zeros[4] = {};
    w.compress(zeros);
    float x = 7.0f, y = 7.0f, value = 7.0f;
    CaptureStderr();
    w.sample(0.5f, 0.5f, x, y, value);
    EXPECT_EQ(GetCapturedStderr(), kZeroPdf);
    EXPECT_EQ(x, 0.0f);
    EXPECT_EQ(y, 0.0f);
    EXPECT_EQ(value, 7.0f); // not written

    const float negative[4] = {-1.0f, -2.0f, -3.0f, -4.0f};
    w.compress(negative);
    EXPECT_EQ(w.getMaxValue(), 0.0f);
    CaptureStderr();
    w.sample(0.5f, 0.5f, x, y, value);
    EXPECT_EQ(GetCapturedStderr(), kZeroPdf);

    // A positive mean over negative cells, and a NaN: points stay in the square.
    const float nan = std::nanf("");
    const std::vector<std::vector<float>> bad = {
        {-1.0f, 3.0f, 2.0f, -0.5f}, {4.0f, -4.0f, 0.0f, 1.0f}, {1.0f, nan, 2.0f, 3.0f}};
    for (const auto &values : bad)
    {
        w.compress(values.data());
        for (float s : {0.0f, 0.2f, 0.5f, 0.9f, 1.0f})
        {
            CaptureStderr();
            w.sample(s, 1.0f - s, x, y, value);
            GetCapturedStderr();
            EXPECT_TRUE(x >= 0.0f && x <= 1.0f && y >= 0.0f && y <= 1.0f) << x << " " << y;
        }
    }

    // No storage: nothing written or read, the mean is 0.
    SRF_Wavelet2D empty;
    CaptureStderr();
    empty.sample(0.5f, 0.5f, x, y, value);
    EXPECT_EQ(GetCapturedStderr(), kZeroPdf);
    EXPECT_EQ(empty.getScaling(), 0.0f);
}

TEST(Wavelet2D, RoundTripAtEveryLevel)
{
    std::mt19937 rng(11);
    for (int level = 1; level <= 8; ++level)
    {
        const int n = 1 << level;
        const std::vector<float> values = randomTable(rng, n, 0.2f);
        std::vector<float> coefficients(values.size()), back(values.size(), -1.0f);
        SRF_Wavelet2D w;
        w.init(coefficients.data(), level);
        w.compress(values.data());
        w.decompress(back.data());
        float largest = 0.0f;
        double sum = 0.0;
        for (float v : values)
        {
            largest = std::max(largest, v);
            sum += v;
        }
        EXPECT_EQ(w.getMaxValue(), largest);
        EXPECT_NEAR(w.getScaling(), sum / values.size(), 1e-5 * largest);
        for (std::size_t i = 0; i < values.size(); ++i)
            ASSERT_NEAR(back[i], values[i], 1e-5f * largest) << "level " << level << ", value " << i;

        // Copies share the coefficients.
        SRF_Wavelet2D copy(w);
        EXPECT_EQ(copy.getCoefficients(), coefficients.data());
    }
}

// Both square samplers, at levels 2 to 6, draw points with the table's
// density.
TEST(SquareSamplers, SamplesInProportionToTheTable)
{
    std::mt19937 cdfRng(7), rng(5);
    for (int level = 2; level <= 6; ++level)
    {
        const int n = 1 << level;
        const std::vector<float> cdfValues = randomTable(cdfRng, n, 0.1f);
        std::vector<float> storage(cdfValues.size());
        SRF_Cdf2D cdf;
        cdf.init(storage.data(), level);
        cdf.compress(cdfValues.data());
        checkSquareSampler(cdfValues, n, 60L * 4 * n * n + 20000,
                           [&](float sx, float sy, float &x, float &y) { cdf.sample(sx, sy, x, y); });

        const std::vector<float> values = randomTable(rng, n, 0.1f);
        std::vector<float> coefficients(values.size());
        SRF_Wavelet2D w;
        w.init(coefficients.data(), level);
        w.compress(values.data());
        const float mean = w.getScaling();
        checkSquareSampler(values, n, 60L * 4 * n * n + 20000,
                           [&](float sx, float sy, float &x, float &y)
                           {
                               float value = -1.0f;
                               w.sample(sx, sy, x, y, value);
                               // The value returned is the chosen cell's table value.
                               const int c = std::min(static_cast<int>(x * n), n - 1);
                               const int r = std::min(static_cast<int>(y * n), n - 1);
                               if (x * n != std::floor(x * n) && y * n != std::floor(y * n))
                               {
                                   ASSERT_NEAR(value, values[r * n + c], 1e-4f * mean);
                               }
                           });
    }
}

// ---- Spherical harmonics -------------------------------------------------

namespace
{
// The real spherical harmonics of bands 0 to 2 in closed form.
double closedFormY(int l, int m, double theta, double phi)
{
    const double x = std::cos(theta), s = std::sin(theta);
    const double c1 = std::sqrt(3.0 / (4.0 * kPi));
    const double c2 = std::sqrt(15.0 / (4.0 * kPi));
    switch (l * 10 + m)
    {
    case 0:
        return 0.5 * std::sqrt(1.0 / kPi);
    case 9: // (1, -1)
        return c1 * s * std::sin(phi);
    case 10:
        return c1 * x;
    case 11:
        return c1 * s * std::cos(phi);
    case 18: // (2, -2)
        return 0.25 * std::sqrt(15.0 / kPi) * s * s * std::sin(2.0 * phi);
    case 19: // (2, -1)
        return c2 * s * x * std::sin(phi);
    case 20:
        return 0.25 * std::sqrt(5.0 / kPi) * (3.0 * x * x - 1.0);
    case 21:
        return c2 * s * x * std::cos(phi);
    case 22:
        return 0.25 * std::sqrt(15.0 / kPi) * s * s * std::cos(2.0 * phi);
    }
    return 0.0;
}

// A table of sum_k weights[k] Y(l_k, m_k) on the grid of cell centres.
std::vector<float> harmonicTable(const std::vector<double> &weights, int nPhi, int nTheta)
{
    std::vector<float> table(static_cast<std::size_t>(nPhi) * nTheta, 0.0f);
    for (int j = 0; j < nTheta; ++j)
        for (int i = 0; i < nPhi; ++i)
        {
            const double theta = (j + 0.5) * kPi / nTheta, phi = (i + 0.5) * 2.0 * kPi / nPhi;
            double f = 0.0;
            for (std::size_t k = 0; k < weights.size(); ++k)
            {
                const int l = static_cast<int>(std::sqrt(static_cast<double>(k)));
                f += weights[k] * closedFormY(l, static_cast<int>(k) - l * l - l, theta, phi);
            }
            table[j * nPhi + i] = static_cast<float>(f);
        }
    return table;
}
} // namespace

TEST(SphericalHarmonics, OrderOneConstant)
{
    const int nPhi = 16, nTheta = 8;
    std::vector<float> table(nPhi * nTheta, 1.0f);
    float coefficient = 0.0f;
    SRF_SphericalHarmonics sh;
    sh.init(&coefficient, 1);
    sh.compress(table.data(), nPhi, nTheta);
    EXPECT_NEAR(coefficient, 3.5449077f, 1e-5f); // 1 / sqrt(1 / 4 pi)
    EXPECT_EQ(sh.getScaling(), coefficient);
    EXPECT_EQ(sh.getMaxValue(), 0.0f);

    std::vector<float> back(table.size(), -1.0f);
    sh.decompress(back.data(), nPhi, nTheta);
    for (float v : back)
        EXPECT_NEAR(v, 1.0f, 1e-5f);

    float x = 9.0f, y = 9.0f, value = 9.0f;
    sh.sample(0.5f, 0.5f, x, y, value);
    EXPECT_EQ(x, 9.0f);
    EXPECT_EQ(y, 9.0f);
    EXPECT_EQ(value, 9.0f);

    CaptureStderr();
    sh.dump();
    SRF_SphericalHarmonics().dump();
    EXPECT_EQ(GetCapturedStderr(), "3.544908\n");
}

TEST(SphericalHarmonics, OrderTwoCoefficientOrder)
{
    // A table equal to one band-1 harmonic puts 1 at its position,
    // (0, 0), (1, -1), (1, 0), (1, 1), and about 0 elsewhere.
    const int nPhi = 64, nTheta = 32;
    for (int k = 1; k <= 3; ++k)
    {
        std::vector<double> weights(4, 0.0);
        weights[k] = 1.0;
        const std::vector<float> table = harmonicTable(weights, nPhi, nTheta);
        float coefficients[4];
        SRF_SphericalHarmonics sh;
        sh.init(coefficients, 2);
        sh.compress(table.data(), nPhi, nTheta);
        for (int i = 0; i < 4; ++i)
            EXPECT_NEAR(coefficients[i], i == k ? 1.0f : 0.0f, 1e-4f) << "harmonic " << k << ", position " << i;
    }
}

TEST(SphericalHarmonics, PointValuesMatchClosedForms)
{
    SRF_SphericalHarmonics sh;
    for (int l = 0; l <= 2; ++l)
        for (int m = -l; m <= l; ++m)
            for (double theta : {0.1, 1.0, 2.0, 3.0})
                for (double phi : {0.3, 2.0, 4.5})
                    EXPECT_NEAR(sh.sphericalHarmonics(static_cast<float>(phi), static_cast<float>(theta), l, m),
                                closedFormY(l, m, theta, phi), 1e-5)
                        << "Y(" << l << ", " << m << ")";
}

TEST(SphericalHarmonics, RebuildsABandLimitedFunction)
{
    const int nPhi = 64, nTheta = 48;
    const std::vector<double> weights = {0.9, -0.3, 0.5, 0.2, 0.15, -0.25, 0.4, 0.1, -0.05};
    const std::vector<float> table = harmonicTable(weights, nPhi, nTheta);
    float coefficients[9];
    SRF_SphericalHarmonics sh;
    sh.init(coefficients, 3);
    sh.compress(table.data(), nPhi, nTheta);
    for (int k = 0; k < 9; ++k)
        EXPECT_NEAR(coefficients[k], weights[k], 2e-3) << "coefficient " << k;
    std::vector<float> back(table.size());
    sh.decompress(back.data(), nPhi, nTheta);
    for (std::size_t i = 0; i < table.size(); ++i)
        ASSERT_NEAR(back[i], table[i], 5e-3f) << "value " << i;

    // Copies share the storage.
    SRF_SphericalHarmonics copy(sh);
    EXPECT_EQ(copy.getScaling(), coefficients[0]);
}

TEST(SphericalHarmonics, DegenerateGridsAndOrders)
{
    float coefficients[4] = {5.0f, 5.0f, 5.0f, 5.0f};
    float table[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    SRF_SphericalHarmonics sh;
    sh.init(coefficients, 2);
    sh.compress(table, 0, 4); // no columns: nothing happens
    EXPECT_EQ(coefficients[0], 5.0f);
    // A single column sits at phi = pi, where every sine harmonic vanishes:
    // those get 0, not a NaN.
    sh.compress(table, 1, 4);
    EXPECT_EQ(coefficients[1], 0.0f);
    EXPECT_TRUE(std::isfinite(coefficients[2]) && std::isfinite(coefficients[3]));

    sh.init(coefficients, 0);
    sh.decompress(table, 2, 2);
    for (float v : table)
        EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(sh.getScaling(), 0.0f);
}

// ---- Wavelet BSDF -------------------------------------------------------

namespace
{
const BX_Vector3 kNormal(0.0f, 0.0f, 1.0f);

// A unit direction at polar angle theta about z, azimuth phi from x.
BX_Vector3 direction(double theta, double phi)
{
    return BX_Vector3(static_cast<float>(std::sin(theta) * std::cos(phi)),
                      static_cast<float>(std::sin(theta) * std::sin(phi)), static_cast<float>(std::cos(theta)));
}

float evaluateValue(const SRF_BSDF &b, const BX_Vector3 &u, const BX_Vector3 &v)
{
    BX_Vector3 colour;
    float scalar;
    b.evaluate(u, kNormal, v, colour, scalar, 0);
    EXPECT_EQ(colour.x, colour.y);
    EXPECT_EQ(colour.x, colour.z);
    return colour.x;
}
} // namespace

TEST(WaveletBSDF, TableIndex)
{
    SRF_WaveletBSDF *b = new SRF_WaveletBSDF(4, 1);
    EXPECT_EQ(b->getBounces(), 7);
    EXPECT_EQ(b->getIdx(BX_Vector3(0.6f, 0.0f, 0.8f), kNormal), 2);    // sine 0.6
    EXPECT_EQ(b->getIdx(BX_Vector3(1.0f, 0.0f, 0.0f), kNormal), 3);    // 4, limited
    EXPECT_EQ(b->getIdx(kNormal, kNormal), 0);                         // sine 0
    EXPECT_EQ(b->getIdx(BX_Vector3(0.0f, 0.0f, 1.0001f), kNormal), 0); // cosine past 1
    EXPECT_EQ(b->getIdx(BX_Vector3(std::nanf(""), 0.0f, 0.0f), kNormal), 0);
    EXPECT_EQ(b->getIdx(BX_Vector3(0.0f, 0.6f, -0.8f), kNormal), 2); // below: same sine
    b->decRefCount();

    SRF_WaveletBSDF *single = new SRF_WaveletBSDF(1, 0);
    EXPECT_EQ(single->getIdx(BX_Vector3(1.0f, 0.0f, 0.0f), kNormal), 0);
    single->decRefCount();
}

TEST(WaveletBSDF, EvaluateReadsRowsAndColumns)
{
    // Table 1 of 2 (u at 60 degrees: sine 0.87) holds 10 r + c; table 0
    // holds 100 + c, so a wrong table index shows.
    const int res = 4;
    std::vector<float> tables(2 * res * res);
    for (int r = 0; r < res; ++r)
        for (int c = 0; c < res; ++c)
        {
            tables[r * res + c] = 100.0f + c;
            tables[res * res + r * res + c] = 10.0f * r + c;
        }
    SRF_WaveletBSDF *b = new SRF_WaveletBSDF(2, 2);
    b->construct(tables.data());
    EXPECT_FLOAT_EQ(b->getScaling(0), 101.5f);
    EXPECT_FLOAT_EQ(b->getScaling(1), 16.5f);

    const BX_Vector3 u = direction(kPi / 3.0, 0.0);
    // Along n: row 0, column 0.
    EXPECT_FLOAT_EQ(evaluateValue(*b, u, kNormal), 0.0f);
    // On the tangent plane on u's side: rows 2 and 3 at 0.9999, column 0.
    // (3 * 0.9999 = 2.9997: row 3 weighs 0.9997.)
    EXPECT_NEAR(evaluateValue(*b, u, direction(kPi / 2.0, 0.0)), 29.997f, 1e-3f);
    // Opposite u: azimuth 1/2, halfway between columns 1 and 2.
    EXPECT_NEAR(evaluateValue(*b, u, direction(kPi / 2.0, kPi)), 29.997f + 1.5f, 1e-3f);
    // Bilinear inside: y = 0.5 (rows 1 and 2 halfway), azimuth 1/4 (columns 0 and 1 at 3/4).
    EXPECT_NEAR(evaluateValue(*b, u, direction(std::acos(0.4999), kPi / 2.0)), 15.75f, 1e-3f);
    // Below the surface: the last row.
    EXPECT_NEAR(evaluateValue(*b, u, BX_Vector3(0.0f, 0.0f, -1.0f)), 30.0f, 1e-4f);
    EXPECT_NEAR(evaluateValue(*b, u, direction(2.0, kPi)), 31.5f, 1e-3f);
    // Just below azimuth 2 pi: the last column, no read past the row.
    EXPECT_NEAR(evaluateValue(*b, u, direction(kPi / 2.0, -1e-7)), 29.997f + 3.0f, 2e-3f);

    // The scalar is the chosen table's mean; albedo is that mean above the surface.
    BX_Vector3 colour;
    float scalar = 0.0f;
    b->evaluate(u, kNormal, kNormal, colour, scalar, 0);
    EXPECT_FLOAT_EQ(scalar, 16.5f);
    EXPECT_FLOAT_EQ(b->albedo(u, kNormal, 0), 16.5f);
    EXPECT_FLOAT_EQ(b->albedo(kNormal, kNormal, 0), 101.5f);
    EXPECT_EQ(b->albedo(direction(2.0, 0.0), kNormal, 0), 0.0f);
    EXPECT_EQ(b->albedo(BX_Vector3(1.0f, 0.0f, 0.0f), kNormal, 0), 0.0f);
    // Masks without a scattering bit answer zero.
    EXPECT_EQ(b->albedo(u, kNormal, 0, SRF_BOUNCE_EMISSION), 0.0f);
    EXPECT_EQ(b->specularRatio(0), 0.0f);

    // u along n: the frame vanishes and the azimuth reads 0 (column 0, not
    // the column of the azimuth 2 rad, which would give 101.27).
    EXPECT_NEAR(evaluateValue(*b, kNormal, direction(kPi / 2.0, 2.0)), 100.0f, 1e-4f);
    b->decRefCount();
}

TEST(WaveletBSDF, SampleDirection)
{
    // A constant 2 x 2 table: the pyramid turns (0.25, 0.5) into (0.25, 0.5),
    // theta = 60 degrees and phi = 90 degrees, so v = sin 60 F2 + cos 60 n.
    const float tables[4] = {2.0f, 2.0f, 2.0f, 2.0f};
    SRF_WaveletBSDF *b = new SRF_WaveletBSDF(1, 1);
    b->construct(const_cast<float *>(tables));
    const BX_Vector3 u(0.6f, 0.0f, 0.8f); // F1 = x, F2 = y
    BX_Vector3 v, colour;
    float scalar = 0.0f;
    int bounce = 0;
    b->sample(u, kNormal, v, colour, scalar, bounce, 0.25f, 0.5f, 0);
    EXPECT_NEAR(v.x, 0.0f, 1e-6f);
    EXPECT_NEAR(v.y, std::sqrt(3.0f) / 2.0f, 1e-6f);
    EXPECT_NEAR(v.z, 0.5f, 1e-6f);
    EXPECT_EQ(bounce, 7);
    EXPECT_FLOAT_EQ(colour.x, 2.0f);
    EXPECT_FLOAT_EQ(scalar, 2.0f);

    // u equal to n: the normal's own frame, still a unit direction at 60 degrees.
    b->sample(kNormal, kNormal, v, colour, scalar, bounce, 0.25f, 0.5f, 0);
    EXPECT_NEAR(v.length(), 1.0f, 1e-6f);
    EXPECT_NEAR(v.z, 0.5f, 1e-6f);
    b->decRefCount();
}

TEST(WaveletBSDF, BeforeConstructAndBadInput)
{
    SRF_WaveletBSDF *b = new SRF_WaveletBSDF(2, 2);
    EXPECT_EQ(b->getScaling(0), -1.0f);
    EXPECT_EQ(b->getScaling(5), 0.0f);
    EXPECT_EQ(b->getData(2), nullptr);
    const BX_Vector3 u = direction(0.5, 0.0);
    BX_Vector3 v(9.0f, 9.0f, 9.0f), colour;
    float scalar;
    int bounce = 0;
    CaptureStderr();
    b->sample(u, kNormal, v, colour, scalar, bounce, 0.3f, 0.6f, 0);
    EXPECT_EQ(GetCapturedStderr(), kZeroPdf);
    EXPECT_NEAR(v.z, 1.0f, 1e-6f); // v = n
    EXPECT_EQ(scalar, -1.0f);

    // The host writes a table and converts; convert(false) rebuilds it.
    float *table = b->getData(1);
    for (int i = 0; i < 16; ++i)
        table[i] = static_cast<float>(i);
    b->convert(true);
    EXPECT_FLOAT_EQ(b->getScaling(1), 7.5f);
    for (int i = 0; i < 16; ++i)
        table[i] = -1.0f;
    b->convert(false);
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(table[i], static_cast<float>(i), 1e-5f);
    b->construct(static_cast<SRF_BSDF *>(nullptr));
    EXPECT_NEAR(b->getData(1)[5], 5.0f, 1e-5f);

    // Not duplicable, no pooled parameters.
    EXPECT_EQ(b->duplicate(4), nullptr);
    const TestUtil::Flat flat(b);
    EXPECT_EQ(flat.bsdfs.entries() + flat.vectors.entries() + flat.floats.entries(), 0);
    EXPECT_STREQ(b->className(), "SRF_WaveletBSDF");
    b->decRefCount();

    // No tables at all: zeros and v = n, without reading anything.
    for (int count : {0, -3})
    {
        SRF_WaveletBSDF *none = new SRF_WaveletBSDF(count, 3);
        EXPECT_EQ(none->albedo(u, kNormal, 0), 0.0f);
        none->evaluate(u, kNormal, u, colour, scalar, 0);
        EXPECT_EQ(colour.x, 0.0f);
        EXPECT_EQ(scalar, 0.0f);
        none->sample(u, kNormal, v, colour, scalar, bounce, 0.3f, 0.6f, 0);
        EXPECT_NEAR(v.z, 1.0f, 1e-6f);
        CaptureStderr();
        none->dump(0);
        none->dumpWavelet();
        EXPECT_EQ(GetCapturedStderr(), "");
        none->decRefCount();
    }

    // NaN directions and an out-of-range level: defined values, no crash.
    SRF_WaveletBSDF *coarse = new SRF_WaveletBSDF(1, -2);
    EXPECT_EQ(coarse->getResolution(), 1);
    float one = 3.0f;
    coarse->construct(&one);
    const BX_Vector3 nan(std::nanf(""), 0.0f, 0.0f);
    EXPECT_EQ(evaluateValue(*coarse, nan, nan), 3.0f);
    coarse->decRefCount();

    // Dumps: one mean a line, indented; then the coefficients.
    const float two[2] = {1.0f, 3.0f};
    SRF_WaveletBSDF *dumped = new SRF_WaveletBSDF(2, 0);
    dumped->construct(const_cast<float *>(two));
    CaptureStderr();
    dumped->dump(2);
    dumped->dumpWavelet();
    EXPECT_EQ(GetCapturedStderr(), "  1.000000\n  3.000000\n1.000000\n3.000000\n");
    dumped->decRefCount();
}

TEST(WaveletBSDF, SamplesRowsAndColumnsInProportionToTheTable)
{
    // Two tables of 8 x 8; u in each bin. A sampled v is mapped back to the
    // table cell it lies in (row from 1 - cos theta, column from the azimuth
    // about u) and the counts are compared with the table.
    const int level = 3, res = 1 << level, count = 2;
    std::mt19937 rng(17);
    std::vector<float> tables;
    for (int j = 0; j < count; ++j)
    {
        const std::vector<float> t = randomTable(rng, res, 0.15f);
        tables.insert(tables.end(), t.begin(), t.end());
    }
    SRF_WaveletBSDF *b = new SRF_WaveletBSDF(count, level);
    b->construct(tables.data());
    const BX_Vector3 us[count] = {direction(0.3, 0.7), direction(1.2, -2.0)};
    for (int j = 0; j < count; ++j)
    {
        const BX_Vector3 &u = us[j];
        ASSERT_EQ(b->getIdx(u, kNormal), j);
        BX_Vector3 f2 = kNormal.cross(u), f1;
        f2.normalize();
        f1 = f2.cross(kNormal);
        const float *table = tables.data() + j * res * res;
        double total = 0.0;
        for (int i = 0; i < res * res; ++i)
            total += table[i];
        const long samples = 200000;
        std::vector<double> expected(res * res);
        for (int i = 0; i < res * res; ++i)
            expected[i] = samples * table[i] / total;
        std::vector<long> observed(res * res, 0);
        for (long s = 0; s < samples; ++s)
        {
            BX_Vector3 v, colour;
            float scalar;
            int bounce;
            b->sample(u, kNormal, v, colour, scalar, bounce, uniform(rng), uniform(rng), 0);
            ASSERT_NEAR(v.length(), 1.0f, 1e-4f);
            ASSERT_GE(v.dot(kNormal), -1e-6f);
            double x = std::atan2(v.dot(f2), v.dot(f1)) / (2.0 * kPi);
            if (x < 0.0)
                x += 1.0;
            const int c = std::min(static_cast<int>(x * res), res - 1);
            const int r = std::min(static_cast<int>((1.0 - v.dot(kNormal)) * res), res - 1);
            ++observed[r * res + c];
        }
        const Fit chi = chiSquare(expected, observed);
        EXPECT_LE(chi.zeroHits, samples / 10000) << "samples in cells of zero weight";
        EXPECT_GT(chi.pValue, sidakThreshold()) << "table " << j << ", chi2 = " << chi.statistic;
    }
    b->decRefCount();
}
