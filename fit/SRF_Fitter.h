#ifndef SRF_FITTER_H
#define SRF_FITTER_H

#include "SRF_FitData.h"
#include "SRF_FitModel.h"

#include <string>
#include <utility>
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
//   derivatives, bounds (colours and exponents non-negative, Rs at most 1),
//   several starts spread over exponents 1 to 10^4 (SRF_RobustFitter), on
//   the data that SRF_FitReader reads, spectral and band files included.
//
// Two metrics for the robust solver to minimise (the defined one always
// minimises the absolute error):
// - ABSOLUTE: sqrt(sum_i |f_i - m_i|^2 / n), f the model, m the measured RGB;
// - LOG_RELATIVE: the same of ln(1 + cos(theta_i) f) - ln(1 + cos(theta_i) m)
//   per channel (measured values below 0 taken as 0), which weighs the dim
//   diffuse part of a material as much as its bright highlight.
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
    enum Metric
    {
        ABSOLUTE,
        LOG_RELATIVE
    };

    struct Options
    {
        SRF_FitModel::Kind model = SRF_FitModel::PHONG;
        Solver solver = ROBUST;
        Metric metric = ABSOLUTE;
        int starts = 8; // robust solver: starting exponents, spread 1 to 10^4 in log scale
    };

    struct Result
    {
        SRF_FitModel::Kind model = SRF_FitModel::PHONG;
        Solver solver = ROBUST;
        Metric metric = ABSOLUTE;
        // The fitted parameters by name, in the order of the model's
        // parameter array ("Ks.r" ... "exponent"; "exponent.u" ... "Rd.b").
        std::vector<std::pair<std::string, double>> parameters;
        int points = 0;           // measurements fitted (and measured against)
        double rms = 0.0;         // absolute RMS over all measurements, whatever the metric
        double metricValue = 0.0; // the chosen metric over all measurements
        double seconds = 0.0;     // time of the fit (the defined solver: reading included)
        // The reader's account of the file (SRF_FitData::account), and for
        // the defined solver how the op's reader differs, when it does.
        std::vector<std::string> account;

        // The parameter array in the model's order.
        std::vector<double> values() const;
    };

    static Result fit(const std::string &path, const Options &options);
    // Fits data already read; the defined solver reads data.path again.
    static Result fit(const SRF_FitData &data, const Options &options);

    // The metric of the given parameters over the data.
    static double error(const SRF_FitData &data, SRF_FitModel::Kind model, const double *parameters, Metric metric);

    // "defined", "robust"; "abs", "logrel": the names the tool and the
    // Python module use. parse* raise std::invalid_argument for any other.
    static const char *solverName(Solver solver);
    static const char *metricName(Metric metric);
    static const char *modelName(SRF_FitModel::Kind model);
    static Solver parseSolver(const std::string &name);
    static Metric parseMetric(const std::string &name);
    static SRF_FitModel::Kind parseModel(const std::string &name);
};

#endif
