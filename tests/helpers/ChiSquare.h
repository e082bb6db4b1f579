#ifndef SRF_TEST_CHISQUARE_H
#define SRF_TEST_CHISQUARE_H

#include "BX_Vector3.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

class SRF_BSDF;

// A chi-square goodness-of-fit test of a direction sampler against the
// density it claims to draw.
//
// Each test gives the harness a Sampler: a function that turns two random
// numbers into a direction, the density of those directions per steradian,
// and the frame in which to histogram them. The harness
//   1. draws SAMPLES directions with (sx, sy) uniform on [0, 1) from a fixed
//      seed, and histograms them in COS_BINS x PHI_BINS cells, equal in
//      cos(theta) over [-1, 1] and in phi over [0, 2 pi) about the frame's z
//      (so every cell has the same solid angle);
//   2. integrates the density over each cell by QUADRATURE x QUADRATURE
//      Gauss-Legendre points in (cos(theta), phi) -- the measure of that
//      product is exactly the solid angle -- and multiplies by SAMPLES for
//      the expected count; the whole integral must be within MASS_TOLERANCE
//      of 1, or the test's density is wrong;
//   3. pools every cell whose expected count is below MIN_EXPECTED into one
//      cell; if the pool is itself below MIN_EXPECTED it is merged into the
//      smallest cell that is not (so stray samples where the density is zero
//      still count against the fit);
//   4. compares the statistic sum (observed - expected)^2 / expected with
//      the chi-square law of (cells - 1) degrees of freedom and fails when
//      its p-value is below the per-test level.
//
// The per-test level is Sidak-corrected so that the whole suite, all its
// chi-square tests together, wrongly fails with probability SIGNIFICANCE:
// level = 1 - (1 - SIGNIFICANCE)^(1 / FAMILY_SIZE). FAMILY_SIZE bounds the
// number of chi-square tests the suite runs; a larger bound only makes each
// test stricter about false alarms. The harness counts its runs and fails
// once a process runs more than FAMILY_SIZE of them.
//
// COS_BINS is odd so that the horizon cos(theta) = 0 falls in the middle of
// a cell: with an even number of symmetric quadrature points per cell, a
// density that is cut off at the horizon is then integrated as well as a
// smooth one. Parameters that put a cut elsewhere (a cone's rim, the edge
// of an azimuth range) are best chosen on a cell edge.
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

// A right-handed orthonormal frame: cos(theta) = d.z, phi measured from x
// toward y.
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

// The upper tail P(X >= x) of the chi-square law with k degrees of freedom.
double upperTail(double x, int k);

// Holds one reference to a BSDF for the lifetime of the sampler that
// captures it, and drops it when the last copy goes.
std::shared_ptr<const SRF_BSDF> hold(SRF_BSDF *bsdf);
} // namespace ChiSquare

#endif
