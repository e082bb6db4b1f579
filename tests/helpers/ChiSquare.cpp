#include "ChiSquare.h"

#include "SRF_BSDF.h"
#include "SRF_Constants.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <sstream>
#include <vector>

namespace
{

std::atomic<int> theRuns{0};

// The 8-point Gauss-Legendre rule on [-1, 1].
const double NODES[ChiSquare::QUADRATURE] = {-0.9602898564975363, -0.7966664774136267, -0.5255324099163290,
                                             -0.1834346424956498, 0.1834346424956498,  0.5255324099163290,
                                             0.7966664774136267,  0.9602898564975363};
const double WEIGHTS[ChiSquare::QUADRATURE] = {0.1012285362903763, 0.2223810344533745, 0.3137066458778873,
                                               0.3626837833783620, 0.3626837833783620, 0.3137066458778873,
                                               0.2223810344533745, 0.1012285362903763};

} // namespace

void ChiSquare::gaussLegendre(int intervals, std::vector<double> &nodes, std::vector<double> &weights)
{
    nodes.clear();
    weights.clear();
    const double half = 1.0 / intervals;
    for (int i = 0; i < intervals; ++i)
        for (int k = 0; k < QUADRATURE; ++k)
        {
            nodes.push_back(-1.0 + half * (2 * i + 1) + half * NODES[k]);
            weights.push_back(half * WEIGHTS[k]);
        }
}

namespace
{
// A float uniform on [0, 1): 24 random bits.
float uniform(std::mt19937 &rng) { return float(rng() >> 8) * (1.0f / 16777216.0f); }
} // namespace

namespace ChiSquare
{
Frame frameAbout(const BX_Vector3 &z)
{
    Frame f;
    f.z = z;
    f.z.normalize();
    f.z.getFrameOfReference(f.x, f.y);
    return f;
}

// Wilson and Hilferty: (X/k)^(1/3) is nearly normal with mean 1 - 2/(9k)
// and variance 2/(9k), close enough in the tail for the hundreds of degrees
// of freedom the tests have.
double upperTail(double x, int k)
{
    if (!(x > 0.0))
        return 1.0;
    const double v = 2.0 / (9.0 * k), z = (std::cbrt(x / k) - (1.0 - v)) / std::sqrt(v);
    return 0.5 * std::erfc(z / std::sqrt(2.0));
}

std::shared_ptr<const SRF_BSDF> hold(SRF_BSDF *bsdf)
{
    return std::shared_ptr<const SRF_BSDF>(bsdf,
                                           [](const SRF_BSDF *b)
                                           {
                                               if (b)
                                                   b->decRefCount();
                                           });
}

Result run(const Sampler &sampler, long samples)
{
    Result result;
    const int ncells = COS_BINS * PHI_BINS;
    const double dc = 2.0 / COS_BINS, dphi = 2.0 * SRF_PI_DOUBLE / PHI_BINS;
    const Frame &f = sampler.frame;

    // 1. The histogram of drawn directions.
    std::vector<double> observed(ncells, 0.0);
    std::mt19937 rng(SEED);
    for (long i = 0; i < samples; ++i)
    {
        const float sx = uniform(rng);
        const float sy = uniform(rng);
        BX_Vector3 d;
        sampler.draw(sx, sy, d);
        const double x = d.dot(f.x), y = d.dot(f.y), z = d.dot(f.z);
        const double len = std::sqrt(x * x + y * y + z * z);
        if (!std::isfinite(len) || len == 0.0)
        {
            ++result.invalid;
            continue;
        }
        double phi = std::atan2(y, x);
        if (phi < 0.0)
            phi += 2.0 * SRF_PI_DOUBLE;
        const int ci = std::clamp(int((z / len + 1.0) / dc), 0, COS_BINS - 1);
        const int pj = std::clamp(int(phi / dphi), 0, PHI_BINS - 1);
        observed[ci * PHI_BINS + pj] += 1.0;
    }

    // 2. Expected counts by integrating the density over each cell.
    std::vector<double> expected(ncells, 0.0);
    for (int ci = 0; ci < COS_BINS; ++ci)
        for (int pj = 0; pj < PHI_BINS; ++pj)
        {
            const double c0 = -1.0 + ci * dc, p0 = pj * dphi;
            double integral = 0.0;
            for (int a = 0; a < QUADRATURE; ++a)
            {
                const double c = c0 + 0.5 * dc * (NODES[a] + 1.0);
                const double s = std::sqrt(std::max(0.0, 1.0 - c * c));
                for (int b = 0; b < QUADRATURE; ++b)
                {
                    const double phi = p0 + 0.5 * dphi * (NODES[b] + 1.0);
                    const double cx = s * std::cos(phi), cy = s * std::sin(phi);
                    const BX_Vector3 d(float(cx * f.x.x + cy * f.y.x + c * f.z.x),
                                       float(cx * f.x.y + cy * f.y.y + c * f.z.y),
                                       float(cx * f.x.z + cy * f.y.z + c * f.z.z));
                    integral += WEIGHTS[a] * WEIGHTS[b] * sampler.density(d);
                }
            }
            integral *= 0.25 * dc * dphi;
            result.mass += integral;
            expected[ci * PHI_BINS + pj] = integral * double(samples);
        }

    // 3. Pooling of the cells with small expected counts.
    std::vector<double> cellObs, cellExp;
    double poolObs = 0.0, poolExp = 0.0;
    for (int i = 0; i < ncells; ++i)
    {
        if (expected[i] < MIN_EXPECTED)
        {
            poolObs += observed[i];
            poolExp += expected[i];
        }
        else
        {
            cellObs.push_back(observed[i]);
            cellExp.push_back(expected[i]);
        }
    }
    if (poolExp >= MIN_EXPECTED)
    {
        cellObs.push_back(poolObs);
        cellExp.push_back(poolExp);
    }
    else if (!cellExp.empty())
    {
        const size_t smallest = size_t(std::min_element(cellExp.begin(), cellExp.end()) - cellExp.begin());
        cellObs[smallest] += poolObs;
        cellExp[smallest] += poolExp;
    }

    // 4. The statistic and its p-value at the Sidak-corrected level.
    for (size_t i = 0; i < cellObs.size(); ++i)
        result.statistic += (cellObs[i] - cellExp[i]) * (cellObs[i] - cellExp[i]) / cellExp[i];
    result.degreesOfFreedom = int(cellObs.size()) - 1;
    result.pValue = upperTail(result.statistic, std::max(1, result.degreesOfFreedom));
    result.level = 1.0 - std::pow(1.0 - SIGNIFICANCE, 1.0 / FAMILY_SIZE);
    const int runs = ++theRuns;

    std::ostringstream out;
    out << sampler.name << ": chi2 = " << result.statistic << " with " << result.degreesOfFreedom
        << " degrees of freedom, p = " << result.pValue << " (level " << result.level << "), density mass "
        << result.mass << ", " << result.invalid << " non-finite samples";
    bool sound = true;
    if (std::fabs(result.mass - 1.0) > MASS_TOLERANCE)
    {
        out << "; the density does not integrate to 1";
        sound = false;
    }
    if (result.invalid > 0 || result.degreesOfFreedom < 1)
        sound = false;
    if (runs > FAMILY_SIZE)
    {
        out << "; more chi-square tests than FAMILY_SIZE allows";
        sound = false;
    }
    result.passed = sound && result.pValue >= result.level;
    result.report = out.str();
    // The numbers are worth seeing in a passing run too.
    std::printf("[chi-square] %s\n", result.report.c_str());
    return result;
}

::testing::AssertionResult fits(const Sampler &sampler)
{
    const Result r = run(sampler);
    if (r.passed)
        return ::testing::AssertionSuccess() << r.report;
    return ::testing::AssertionFailure() << r.report;
}
} // namespace ChiSquare
