#ifndef SRF_ROBUSTFITTER_H
#define SRF_ROBUSTFITTER_H

#include "SRF_FitData.h"
#include "SRF_FitModel.h"

#include <vector>

// SRF_RobustFitter: a least-squares fit of a reflectance model that finds
// the narrow highlights of real materials.
//
// - Double precision throughout; derivatives by automatic differentiation.
// - Exponents are fitted as their logarithms, bounded to [MIN_EXPONENT,
//   MAX_EXPONENT]; colours are bounded below by 0, and the Ashikhmin Rs
//   above by 1 (a reflectance at normal incidence).
// - Several starts: exponents spread evenly in log scale over 1 to 10^4
//   (both Ashikhmin exponents alike), each with the colours that fit best
//   for that exponent (a linear least-squares problem per channel, solved
//   within the bounds); the start that ends with the smallest error wins.
// - The residuals of a measurement are f - m per channel (absolute), or
//   ln(1 + w f) - ln(1 + w max(m, 0)) with w the cosine of the incoming
//   direction (log-relative).
class SRF_RobustFitter
{
public:
    static constexpr double MIN_EXPONENT = 1e-2;
    static constexpr double MAX_EXPONENT = 1e5;
    static constexpr double FIRST_START = 1.0;
    static constexpr double LAST_START = 1e4;

    struct Result
    {
        std::vector<double> parameters; // in the model's order, exponents as they are
        double metricValue = 0.0;       // sqrt(sum of squared residuals / point count)
        int iterations = 0;             // solver iterations over all starts
    };

    static Result fit(const SRF_FitData &data, SRF_FitModel::Kind model, bool logRelative, int starts);

    // The starting exponents: count values from FIRST_START to LAST_START,
    // evenly spaced in log scale (one start: their geometric mean).
    static std::vector<double> startingExponents(int count);
    // Sets the colours of parameters (whose exponents are already set) to
    // those that minimise the absolute error with these exponents, within
    // the bounds.
    static void fitColours(const SRF_FitData &data, SRF_FitModel::Kind model, double *parameters);
};

#endif
