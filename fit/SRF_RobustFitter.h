#ifndef SRF_ROBUSTFITTER_H
#define SRF_ROBUSTFITTER_H

#include "SRF_FitData.h"
#include "SRF_FitModel.h"
#include "SRF_FitParameters.h"

#include <vector>

// SRF_RobustFitter: a least-squares fit of a reflectance model that finds
// the narrow highlights of real materials.
//
// - Double precision throughout; derivatives by automatic differentiation.
// - Exponents are fitted as their logarithms, bounded to [MIN_EXPONENT,
//   MAX_EXPONENT]; colours are bounded below by 0, and the Ashikhmin Rs
//   and Rd above by 1 (reflectances: at normal incidence, and diffuse).
// - Several starts: exponents spread evenly in log scale over 1 to 10^4
//   (both Ashikhmin exponents alike), each with the colours that fit best
//   for that exponent (a linear least-squares problem per channel, solved
//   within the bounds); the start that ends with the smallest error wins.
// - The residuals of a measurement are f - m per channel (absolute), or
//   ln(1 + w f) - ln(1 + w max(m, 0)) with w the cosine of the incoming
//   direction over a scale of the data (log-relative), each times the square
//   root of the measurement's weight.
// - A robust loss (Cauchy, Huber or soft L1) per measurement, on the
//   length of its three residuals, keeps a few wrong rows (an instrument's
//   artefacts) from pulling the fit. Its scale comes from the data: the
//   least-squares fit is made first; a measurement's scale is
//   SCALE_OVER_MEDIAN times the median residual length of that fit plus
//   RELATIVE_SCALE times the length of the fitted value there (for the
//   absolute metric: an instrument's error grows with the signal, and a
//   highlight a hundred times the diffuse level is no outlier); the robust
//   fit runs from every start and from that fit, and once more with the
//   scales of its own residuals and values.
class SRF_RobustFitter
{
public:
    static constexpr double MIN_EXPONENT = 1e-2;
    static constexpr double MAX_EXPONENT = 1e5;
    static constexpr double FIRST_START = 1.0;
    static constexpr double LAST_START = 1e4;

    static constexpr double SCALE_OVER_MEDIAN = 2.0;
    static constexpr double RELATIVE_SCALE = 0.35;

    enum Loss
    {
        NONE,
        CAUCHY,
        HUBER,
        SOFT_L1
    };

    struct Settings
    {
        bool logRelative = false;
        double logScale = 1.0; // log-relative residuals: ln(1 + cos f / logScale)
        int starts = 8;
        Loss loss = CAUCHY;
        bool isotropic = false; // Ashikhmin: one exponent for both tangents
    };

    struct Result
    {
        SRF_FitParameters parameters;
        double metricValue = 0.0; // sqrt(2 x final cost / point count): with no loss, the RMS residual length
        double lossScale = 0.0;   // the robust loss's scale (0 without one)
        int iterations = 0;       // solver iterations over all starts
    };

#ifdef SRF_HAVE_ROBUST_SOLVER
    // The fit itself needs Ceres Solver: a build without it has the rest of
    // this class (the losses, the scales, the starting colours) only.
    static Result fit(const SRF_FitData &data, SRF_FitModel::Kind model, const Settings &settings);
#endif

    // The loss scale of every measurement: scale plus, for the absolute
    // metric, RELATIVE_SCALE times the length of the model's value there.
    static std::vector<double> pointScales(const SRF_FitData &data, SRF_FitModel::Kind model, const double *parameters,
                                           const Settings &settings, double scale);
    // rho(s) of the loss with the given scale, s a squared residual length
    // (s itself for NONE).
    static double rho(Loss loss, double scale, double s);
    // SCALE_OVER_MEDIAN times the median length of the measurements'
    // residuals for the given parameters.
    static double lossScale(const SRF_FitData &data, SRF_FitModel::Kind model, const double *parameters,
                            const Settings &settings);

    // The starting exponents: count values from FIRST_START to LAST_START,
    // evenly spaced in log scale (one start: their geometric mean).
    static std::vector<double> startingExponents(int count);
    // Sets the colours of parameters (whose exponents are already set) to
    // those that minimise the absolute error with these exponents, within
    // the bounds.
    static void fitColours(const SRF_FitData &data, SRF_FitModel::Kind model, double *parameters);
};

#endif
