#include "SRF_Fitter.h"

#include "SRF_FitReader.h"
#include "SRF_MeasuredAshikhmin.h"
#include "SRF_MeasuredPhong.h"
#include "SRF_MeasurementFile.h"
#include "SRF_RobustFitter.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace
{
const char *const PHONG_NAMES[SRF_FitModel::PHONG_PARAMETERS] = {"Ks.r", "Ks.g", "Ks.b",    "Kd.r",
                                                                 "Kd.g", "Kd.b", "exponent"};
const char *const ASHIKHMIN_NAMES[SRF_FitModel::ASHIKHMIN_PARAMETERS] = {"exponent.u", "exponent.v", "Rs.r", "Rs.g",
                                                                         "Rs.b",       "Rd.r",       "Rd.g", "Rd.b"};

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// What the shading op's reader makes of the file, where it differs from
// the fitting reader: names that take no place in its rows.
void describeOpReader(const std::string &path, int opPoints, std::vector<std::string> &account)
{
    const int SHOWN = 3;
    SRF_MeasurementFile file(path.c_str());
    std::vector<std::string> unplaced;
    bool phi = false;
    for (int k = 0; k < file.nameCount(); ++k)
    {
        const int code = SRF_MeasurementFile::columnCode(file.name(k));
        phi = phi || code == SRF_MeasurementFile::PHI_S;
        if (code < 0)
            unplaced.push_back(file.name(k));
    }
    if (unplaced.empty() && phi)
        return;
    std::string line = "defined solver: the op's reader took " + std::to_string(opPoints) + " rows";
    if (!unplaced.empty())
    {
        line += "; " + std::to_string(unplaced.size()) + " names take no place in its rows (";
        for (int k = 0; k < int(unplaced.size()) && k < SHOWN; ++k)
            line += (k ? " " : "") + unplaced[k];
        line += std::string(unplaced.size() > SHOWN ? " ...)" : ")");
    }
    if (!phi)
        line += "; VARS names no phi_s";
    account.push_back(line);
}

SRF_Fitter::Result definedFit(const SRF_FitData &data, SRF_FitModel::Kind model)
{
    if (data.path.empty())
        throw std::invalid_argument("the defined solver reads its file itself: give the data set's path");
    SRF_Fitter::Result result;
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<SRF_MeasuredData> fitted;
    if (model == SRF_FitModel::PHONG)
        fitted.reset(new SRF_MeasuredPhong(data.path.c_str()));
    else
        fitted.reset(new SRF_MeasuredAshikhmin(data.path.c_str()));
    result.seconds = secondsSince(start);
    result.parameters = SRF_FitParameters(model);
    for (int i = 0; i < fitted->getParameterCount(); ++i)
        result.parameters.set(i, double(fitted->getParameters()[i]));
    describeOpReader(data.path, fitted->getPointCount(), result.account);
    return result;
}
} // namespace

const char *SRF_FitModel::parameterName(Kind kind, int i)
{
    if (i < 0 || i >= parameterCount(kind))
        return "";
    return kind == PHONG ? PHONG_NAMES[i] : ASHIKHMIN_NAMES[i];
}

SRF_Fitter::Result SRF_Fitter::fit(const std::string &path, const Options &options)
{
    return fit(SRF_FitReader::read(path), options);
}

namespace
{
// Outliers: residual lengths beyond this many loss scales.
const double OUTLIER_SCALES = 10.0;

// The objective the robust solver minimises, sum_i rho(|r_i|^2), for
// parameters p (the plain sum of squares without a loss).
double objective(const SRF_FitData &data, SRF_FitModel::Kind model, const double *p, SRF_Fitter::Metric metric,
                 double logScale, SRF_RobustFitter::Loss loss, double lossScale)
{
    double sum = 0.0;
    for (const SRF_FitData::Point &point : data.points)
    {
        double f[3], length2 = 0.0;
        SRF_FitModel::evaluate(model, p, point.incoming, point.scattered, f);
        const double w = std::max(point.incoming[2], 0.0) / logScale;
        for (int c = 0; c < 3; ++c)
        {
            const double r = metric == SRF_Fitter::ABSOLUTE
                                 ? f[c] - point.value[c]
                                 : std::log1p(w * f[c]) - std::log1p(w * std::max(point.value[c], 0.0));
            length2 += r * r;
        }
        sum += loss == SRF_RobustFitter::NONE ? length2 : SRF_RobustFitter::rho(loss, lossScale, length2);
    }
    return sum;
}

std::string value(double x)
{
    char text[32];
    snprintf(text, sizeof text, "%.6g", x);
    return text;
}

// The model's values at every measurement in the metric's terms (f, or
// ln(1 + w f)), three per measurement.
std::vector<double> metricValues(const SRF_FitData &data, SRF_FitModel::Kind model, const double *p,
                                 SRF_Fitter::Metric metric, double logScale)
{
    std::vector<double> out;
    out.reserve(3 * data.points.size());
    for (const SRF_FitData::Point &point : data.points)
    {
        double f[3];
        SRF_FitModel::evaluate(model, p, point.incoming, point.scattered, f);
        const double w = std::max(point.incoming[2], 0.0) / logScale;
        for (int c = 0; c < 3; ++c)
            out.push_back(metric == SRF_Fitter::ABSOLUTE ? f[c] : std::log1p(w * f[c]));
    }
    return out;
}

// The warnings of a fit: parameters at a bound, and parameters that the
// data cannot decide. A parameter is tried doubled and halved (exponents)
// or changed by a quarter (colours). With d_i the squared move of
// measurement i's model value over its noise (half its loss scale, about
// the median residual), the change is undecided when sum d_i < 1 (it moves
// the error by less than one noise unit), and rests on few measurements
// when (sum d_i)^2 / sum d_i^2, the number of measurements that carry the
// move, and the number of measurements with d_i > 1 are both below
// DECIDING_POINTS. The same test of both Ashikhmin exponents
// set to their geometric mean tells whether the data can show an
// anisotropy.
std::vector<std::string> diagnose(const SRF_FitData &data, const SRF_Fitter::Result &result)
{
    const double DECIDING_POINTS = 10.0;
    std::vector<std::string> warnings;
    const SRF_FitModel::Kind model = result.parameters.model();
    const std::vector<double> p = result.parameters.values();
    const int count = int(p.size());
    SRF_RobustFitter::Settings settings;
    settings.logRelative = result.metric == SRF_Fitter::LOG_RELATIVE;
    settings.logScale = result.logScale;
    const double scale =
        result.lossScale > 0.0 ? result.lossScale : SRF_RobustFitter::lossScale(data, model, p.data(), settings);
    const std::vector<double> noise = SRF_RobustFitter::pointScales(data, model, p.data(), settings, scale);
    const std::vector<double> base = metricValues(data, model, p.data(), result.metric, result.logScale);
    // The move of q against p: sum d_i and the number of measurements that
    // carry it.
    auto moved = [&](const std::vector<double> &q, double &total, double &carriers, int &beyond)
    {
        const std::vector<double> values = metricValues(data, model, q.data(), result.metric, result.logScale);
        double sum = 0.0, sum2 = 0.0;
        beyond = 0;
        for (int i = 0; i < data.size(); ++i)
        {
            double length2 = 0.0;
            for (int c = 0; c < 3; ++c)
                length2 += (values[3 * i + c] - base[3 * i + c]) * (values[3 * i + c] - base[3 * i + c]);
            const double d = length2 / (0.25 * noise[i] * noise[i]);
            sum += d;
            sum2 += d * d;
            beyond += d > 1.0;
        }
        total = sum;
        carriers = sum2 > 0.0 ? sum * sum / sum2 : 0.0;
    };
    auto judge = [&](const std::string &what, const std::string &how, double total, double carriers, int beyond)
    {
        char text[64];
        if (total < 1.0)
        {
            snprintf(text, sizeof text, "%.2g", total);
            warnings.push_back("warning: the data cannot decide " + what + ": " + how +
                               " moves the error by less than its noise (" + text + " noise units squared)");
        }
        else if (carriers < DECIDING_POINTS && beyond < DECIDING_POINTS)
            warnings.push_back("warning: " + what + " rests on a handful of measurements: " + how + " moves " +
                               std::to_string(beyond) + " of " + std::to_string(data.size()) + " beyond their noise");
    };
    double largestColour = 0.0;
    for (int i = 0; i < count; ++i)
        if (!SRF_FitModel::isExponent(model, i))
            largestColour = std::max(largestColour, p[i]);
    const bool tied = result.isotropic && model == SRF_FitModel::ASHIKHMIN;
    for (int i = 0; i < count; ++i)
    {
        const std::string name = SRF_FitModel::parameterName(model, i);
        if (tied && i == SRF_FitModel::ASHIKHMIN_EXPONENT_V)
            continue;
        const bool exponent = SRF_FitModel::isExponent(model, i);
        if (exponent && p[i] >= SRF_RobustFitter::MAX_EXPONENT * 0.999)
            warnings.push_back("warning: " + name + " sits at its upper bound " +
                               value(SRF_RobustFitter::MAX_EXPONENT) +
                               ": the data ask for a sharper highlight than they can show");
        else if (exponent && p[i] <= SRF_RobustFitter::MIN_EXPONENT * 1.001)
            warnings.push_back("warning: " + name + " sits at its lower bound " +
                               value(SRF_RobustFitter::MIN_EXPONENT));
        else if (!exponent && p[i] <= 0.0)
            warnings.push_back("warning: " + name + " sits at its lower bound 0");
        else if (SRF_FitModel::isReflectance(model, i) && p[i] >= 1.0 - 1e-9)
            warnings.push_back("warning: " + name + " sits at its upper bound 1");
        double total = HUGE_VAL, carriers = HUGE_VAL;
        int beyond = data.size();
        for (int side = 0; side < 2; ++side)
        {
            std::vector<double> q = p;
            if (exponent)
                q[i] = side ? p[i] * 2.0 : p[i] * 0.5;
            else
                q[i] = p[i] > 0.0 ? p[i] * (side ? 1.25 : 0.75) : (side ? 0.25 * largestColour : 0.0);
            if (tied)
                q[SRF_FitModel::ASHIKHMIN_EXPONENT_V] = q[SRF_FitModel::ASHIKHMIN_EXPONENT_U];
            if (q[i] == p[i])
                continue;
            double t, k;
            int b;
            moved(q, t, k, b);
            total = std::min(total, t);
            carriers = std::min(carriers, k);
            beyond = std::min(beyond, b);
        }
        judge(name + " " + value(p[i]), exponent ? "doubling or halving it" : "changing it by a quarter", total,
              carriers, beyond);
    }
    const double anisotropy = result.parameters.exponentU() / result.parameters.exponentV();
    if (model == SRF_FitModel::ASHIKHMIN && !tied && std::fabs(std::log(anisotropy)) > std::log(1.1))
    {
        std::vector<double> q = p;
        q[SRF_FitModel::ASHIKHMIN_EXPONENT_U] = q[SRF_FitModel::ASHIKHMIN_EXPONENT_V] =
            std::sqrt(result.parameters.exponentU() * result.parameters.exponentV());
        double total, carriers;
        int beyond;
        moved(q, total, carriers, beyond);
        judge("the anisotropy exponent.u / exponent.v = " + value(anisotropy),
              "one exponent for both (try --isotropic)", total, carriers, beyond);
    }
    return warnings;
}
} // namespace

SRF_Fitter::Result SRF_Fitter::fit(const SRF_FitData &data, const Options &options)
{
    if (data.points.empty())
        throw std::invalid_argument("no measurements to fit" + (data.path.empty() ? "" : " in '" + data.path + "'"));
    if (options.starts < 1)
        throw std::invalid_argument("the robust solver needs at least one start, not " +
                                    std::to_string(options.starts));
    if (options.isotropic && options.model != SRF_FitModel::ASHIKHMIN)
        throw std::invalid_argument("isotropic fits are for the ashikhmin model (phong has one exponent)");
    if (options.isotropic && options.solver == DEFINED)
        throw std::invalid_argument("the defined solver fits both exponents: isotropic is for the robust solver");
    Result result;
    result.logScale = logScale(data);
    if (options.solver == ROBUST && !HAS_ROBUST_SOLVER)
        throw std::invalid_argument("this build has no robust solver (Ceres Solver was not found when it was "
                                    "configured): use the defined solver");
    if (options.solver == DEFINED)
        result = definedFit(data, options.model);
#ifdef SRF_HAVE_ROBUST_SOLVER
    else
    {
        const auto start = std::chrono::steady_clock::now();
        SRF_RobustFitter::Settings settings;
        settings.logRelative = options.metric == LOG_RELATIVE;
        settings.logScale = logScale(data);
        settings.starts = options.starts;
        settings.loss = options.loss;
        settings.isotropic = options.isotropic;
        const SRF_RobustFitter::Result robust = SRF_RobustFitter::fit(data, options.model, settings);
        result.seconds = secondsSince(start);
        result.parameters = robust.parameters;
        result.loss = options.loss;
        result.lossScale = robust.lossScale;
        result.isotropic = options.isotropic;
    }
#endif
    result.solver = options.solver;
    result.metric = options.metric;
    result.points = data.size();
    result.logScale = logScale(data);
    const std::vector<double> &values = result.parameters.values();
    for (double x : values)
        if (!std::isfinite(x))
            throw std::runtime_error("the fit gave a parameter that is not a finite number");
    result.rms = error(data, options.model, values.data(), ABSOLUTE);
    result.rmsRgb = std::sqrt(3.0) * result.rms;
    result.metricValue = error(data, options.model, values.data(), options.metric);
    if (result.lossScale > 0.0)
    {
        SRF_RobustFitter::Settings settings;
        settings.logRelative = options.metric == LOG_RELATIVE;
        settings.logScale = result.logScale;
        const std::vector<double> scales =
            SRF_RobustFitter::pointScales(data, options.model, values.data(), settings, result.lossScale);
        double sum = 0.0;
        int kept = 0;
        for (int i = 0; i < data.size(); ++i)
        {
            const SRF_FitData::Point &point = data.points[i];
            double f[3], length2 = 0.0, metricLength2 = 0.0;
            SRF_FitModel::evaluate(options.model, values.data(), point.incoming, point.scattered, f);
            const double w = std::max(point.incoming[2], 0.0) / result.logScale;
            for (int c = 0; c < 3; ++c)
            {
                const double r = f[c] - point.value[c];
                const double m =
                    settings.logRelative ? std::log1p(w * f[c]) - std::log1p(w * std::max(point.value[c], 0.0)) : r;
                length2 += r * r;
                metricLength2 += m * m;
            }
            if (std::sqrt(metricLength2) > OUTLIER_SCALES * scales[i])
                ++result.outliers;
            else
            {
                sum += length2;
                ++kept;
            }
        }
        result.rmsWithout = kept > 0 ? std::sqrt(sum / (3.0 * kept)) : 0.0;
    }
    result.warnings = diagnose(data, result);
    if (options.solver == DEFINED)
        result.account.push_back(
            "defined solver: its random starts and samples come from generator states shared by the "
            "whole process, so its result depends on every fit that drew before it (a second "
            "run in the same process gives other parameters)");
    result.account.insert(result.account.begin(), data.account.begin(), data.account.end());
    return result;
}

double SRF_Fitter::logScale(const SRF_FitData &data)
{
    std::vector<double> products;
    for (const SRF_FitData::Point &point : data.points)
        for (int c = 0; c < 3; ++c)
        {
            const double x = std::max(point.incoming[2], 0.0) * point.value[c];
            if (x > 0.0)
                products.push_back(x);
        }
    if (products.empty())
        return 1.0;
    std::nth_element(products.begin(), products.begin() + products.size() / 2, products.end());
    return products[products.size() / 2];
}

double SRF_Fitter::error(const SRF_FitData &data, SRF_FitModel::Kind model, const double *parameters, Metric metric)
{
    if (data.points.empty())
        return 0.0;
    const double scale = metric == LOG_RELATIVE ? logScale(data) : 1.0;
    return std::sqrt(objective(data, model, parameters, metric, scale, SRF_RobustFitter::NONE, 0.0) /
                     (3.0 * data.size()));
}

const char *SRF_Fitter::lossName(SRF_RobustFitter::Loss loss)
{
    static const char *const NAMES[] = {"none", "cauchy", "huber", "softl1"};
    return NAMES[loss];
}

SRF_RobustFitter::Loss SRF_Fitter::parseLoss(const std::string &name)
{
    for (SRF_RobustFitter::Loss loss :
         {SRF_RobustFitter::NONE, SRF_RobustFitter::CAUCHY, SRF_RobustFitter::HUBER, SRF_RobustFitter::SOFT_L1})
        if (name == lossName(loss))
            return loss;
    throw std::invalid_argument("loss must be none, cauchy, huber or softl1, not '" + name + "'");
}

const char *SRF_Fitter::solverName(Solver solver) { return solver == DEFINED ? "defined" : "robust"; }

const char *SRF_Fitter::metricName(Metric metric) { return metric == ABSOLUTE ? "abs" : "logrel"; }

const char *SRF_Fitter::modelName(SRF_FitModel::Kind model)
{
    return model == SRF_FitModel::PHONG ? "phong" : "ashikhmin";
}

SRF_Fitter::Solver SRF_Fitter::parseSolver(const std::string &name)
{
    if (name == "defined" || name == "robust")
        return name == "defined" ? DEFINED : ROBUST;
    throw std::invalid_argument("solver must be defined or robust, not '" + name + "'");
}

SRF_Fitter::Metric SRF_Fitter::parseMetric(const std::string &name)
{
    if (name == "abs" || name == "logrel")
        return name == "abs" ? ABSOLUTE : LOG_RELATIVE;
    throw std::invalid_argument("metric must be abs or logrel, not '" + name + "'");
}

SRF_FitModel::Kind SRF_Fitter::parseModel(const std::string &name)
{
    if (name == "phong" || name == "ashikhmin")
        return name == "phong" ? SRF_FitModel::PHONG : SRF_FitModel::ASHIKHMIN;
    throw std::invalid_argument("model must be phong or ashikhmin, not '" + name + "'");
}
