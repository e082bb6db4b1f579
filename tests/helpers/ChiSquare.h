#ifndef SRF_TEST_CHISQUARE_H
#define SRF_TEST_CHISQUARE_H

#include "BX_Vector3.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class SRF_BSDF;

// A chi-square goodness-of-fit test of a direction sampler against the
// density it claims to draw. The harness draws SAMPLES directions from a
// fixed seed and histograms them in COS_BINS x PHI_BINS cells of equal solid
// angle about the sampler's frame; integrates the density over each cell by
// a QUADRATURE x QUADRATURE Gauss-Legendre rule (the whole must be within
// MASS_TOLERANCE of 1, or the density is wrong) for the expected counts;
// pools the cells expecting fewer than MIN_EXPECTED (merging a small pool
// into the smallest cell, so that stray samples still count); and compares
// Pearson's statistic with the chi-square law. The level is Sidak-corrected
// so that all the suite's chi-square tests together wrongly fail with
// probability SIGNIFICANCE; a process that runs more than FAMILY_SIZE of
// them fails. COS_BINS is odd so that the horizon falls mid-cell, where an
// even number of quadrature points integrates a cut as well as a smooth
// density; other cuts (a cone's rim) are best put on a cell edge.
namespace ChiSquare
{
constexpr int COS_BINS = 101;
constexpr int PHI_BINS = 50;
constexpr long SAMPLES = 1000000;
constexpr int QUADRATURE = 8;
constexpr double MIN_EXPECTED = 5.0;
constexpr double MASS_TOLERANCE = 2e-3;
constexpr double SIGNIFICANCE = 0.01;
constexpr int FAMILY_SIZE = 64;
constexpr unsigned SEED = 0x5eed1e5u;

// A right-handed orthonormal frame: cos(theta) = d.z, phi from x toward y.
struct Frame
{
    BX_Vector3 x, y, z;
};

// A frame about z from BX_Vector3::getFrameOfReference.
Frame frameAbout(const BX_Vector3 &z);

struct Sampler
{
    std::string name;
    Frame frame;
    // Writes one direction for the random numbers (sx, sy); need not be unit
    // length (the harness normalises). A non-finite direction fails the test.
    std::function<void(float sx, float sy, BX_Vector3 &dir)> draw;
    // The density of the drawn directions per steradian, for a unit d.
    std::function<double(const BX_Vector3 &d)> density;
};

struct Result
{
    double statistic = 0.0;
    int degreesOfFreedom = 0;
    double pValue = 0.0;
    double level = 0.0;
    double mass = 0.0;   // the density integrated over the sphere
    long invalid = 0;    // non-finite directions drawn
    bool passed = false; // fit accepted and the run itself sound
    std::string report;  // one line with all of the above
};

Result run(const Sampler &sampler, long samples = SAMPLES);

// For EXPECT_TRUE: the run's report on failure.
::testing::AssertionResult fits(const Sampler &sampler);

// The composite Gauss-Legendre rule on [-1, 1]: the 8-point rule on each of
// `intervals` equal parts.
void gaussLegendre(int intervals, std::vector<double> &nodes, std::vector<double> &weights);

// The upper tail P(X >= x) of the chi-square law with k degrees of freedom.
double upperTail(double x, int k);

// Holds one reference to a BSDF for the lifetime of the sampler that
// captures it, and drops it when the last copy goes.
std::shared_ptr<const SRF_BSDF> hold(SRF_BSDF *bsdf);
} // namespace ChiSquare

#endif
