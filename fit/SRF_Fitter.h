#ifndef SRF_FITTER_H
#define SRF_FITTER_H

#include "SRF_FitData.h"
#include "SRF_FitModel.h"
#include "SRF_RobustFitter.h"

#include <string>
#include <vector>

// SRF_Fitter: fits a reflectance model to measurements and says how well
// it fits. This is the one call that the host tool and the Python module
// use.
//
// Two solvers:
// - DEFINED: the fit that the shading op "measured@BSVVV" runs (random
//   sample consensus around a single-precision Levenberg-Marquardt solver),
//   on the file as that op reads it, so its parameters are exactly those a
//   render gets. It needs a file path.
// - ROBUST: double precision, exponents fitted in log space, exact
//   derivatives, bounds (colours and exponents non-negative, Rs and Rd at most 1),
//   several starts spread over exponents 1 to 10^4 (SRF_RobustFitter), on
//   the data that SRF_FitReader reads, spectral and band files included.
//
// Two metrics for the robust solver to minimise (the defined one always
// minimises the absolute error):
// - ABSOLUTE: f_i - m_i per channel, f the model, m the measured RGB;
// - LOG_RELATIVE: ln(1 + cos(theta_i) f / s) - ln(1 + cos(theta_i) m / s)
//   per channel (measured values below 0 taken as 0), s the median of
//   cos(theta_i) m over the data (logScale), which weighs the dim diffuse
//   part of a material as much as its bright highlight whatever the
//   material's overall brightness.
// Errors are printed as the RMS per channel, sqrt(sum_i |r_i|^2 / 3n), and
// the RMS of the RGB residual length, sqrt(sum_i |r_i|^2 / n).
//
// The defined solver draws its starts and samples from generator states
// that live as long as the process: its result depends on every fit that
// drew before it in the same process.
//
// Errors (unreadable file, a file without measurements, bad options) raise
// std::runtime_error or std::invalid_argument with a one-line message.
class SRF_Fitter
{
public:
    enum Solver
    {
        DEFINED,
        ROBUST
    };
    // Whether this build has the robust solver (it needs Ceres Solver); the
    // defined solver is always there, and is the default without it.
#ifdef SRF_HAVE_ROBUST_SOLVER
    static constexpr bool HAS_ROBUST_SOLVER = true;
#else
    static constexpr bool HAS_ROBUST_SOLVER = false;
#endif
    static constexpr Solver DEFAULT_SOLVER = HAS_ROBUST_SOLVER ? ROBUST : DEFINED;
    enum Metric
    {
        ABSOLUTE,
        LOG_RELATIVE
    };

    // The most starts the robust solver is given (srf fit --starts, and the
    // Python module's fit): each start costs a solve.
    static constexpr int MAX_STARTS = 1000;

    struct Options
    {
        SRF_FitModel::Kind model = SRF_FitModel::PHONG;
        Solver solver = DEFAULT_SOLVER;
        Metric metric = ABSOLUTE;
        int starts = 8; // robust solver: starting exponents, spread 1 to 10^4 in log scale
        // Robust solver: the loss per measurement (its scale from the data)
        // and, for Ashikhmin, one exponent for both tangents.
        SRF_RobustFitter::Loss loss = SRF_RobustFitter::CAUCHY;
        bool isotropic = false;
    };

    struct Result
    {
        Solver solver = ROBUST;
        Metric metric = ABSOLUTE;
        SRF_FitParameters parameters; // the fitted parameters, by name, and their model
        SRF_RobustFitter::Loss loss = SRF_RobustFitter::NONE;
        bool isotropic = false;
        int points = 0;           // measurements fitted (and measured against)
        double rms = 0.0;         // absolute RMS per channel over all measurements, whatever the metric
        double rmsRgb = 0.0;      // absolute RMS of the RGB residual length (sqrt 3 x rms)
        double metricValue = 0.0; // the chosen metric over all measurements, per channel
        double logScale = 1.0;    // the log-relative metric's scale s
        double lossScale = 0.0;   // the robust loss's scale (0 without one)
        int outliers = 0;         // measurements whose residual exceeds 10 x their loss scale
        double rmsWithout = 0.0;  // rms per channel without those outliers
        // What the data cannot decide: parameters at a bound, or that barely
        // move the error; one line each, "warning: ..."
        std::vector<std::string> warnings;
        double seconds = 0.0; // time of the fit (the defined solver: reading included)
        // The reader's account of the file (SRF_FitData::account), and for
        // the defined solver how the op's reader differs, when it does.
        std::vector<std::string> account;
    };

    static Result fit(const std::string &path, const Options &options);
    // Fits data already read; the defined solver reads data.path again.
    static Result fit(const SRF_FitData &data, const Options &options);

    // The metric of the given parameters over the data, per channel (RMS of
    // the 3n residuals), log-relative with the data's logScale.
    static double error(const SRF_FitData &data, SRF_FitModel::Kind model, const double *parameters, Metric metric);
    // The log-relative scale of the data: the median of cos(theta_i) m over
    // its positive channel values (1 when there are none).
    static double logScale(const SRF_FitData &data);

    // "defined", "robust"; "abs", "logrel": the names the tool and the
    // Python module use. parse* raise std::invalid_argument for any other.
    static const char *solverName(Solver solver);
    static const char *metricName(Metric metric);
    static const char *modelName(SRF_FitModel::Kind model);
    static Solver parseSolver(const std::string &name);
    static Metric parseMetric(const std::string &name);
    // "none", "cauchy", "huber", "softl1".
    static const char *lossName(SRF_RobustFitter::Loss loss);
    static SRF_RobustFitter::Loss parseLoss(const std::string &name);
    static SRF_FitModel::Kind parseModel(const std::string &name);
};

#endif
