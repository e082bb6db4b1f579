#include "SRF_Fitter.h"

#include "SRF_FitReader.h"
#include "SRF_MeasuredAshikhmin.h"
#include "SRF_MeasuredPhong.h"
#include "SRF_MeasurementFile.h"
#include "SRF_RobustFitter.h"

#include <chrono>
#include <cmath>
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
    for (int i = 0; i < fitted->getParameterCount(); ++i)
        result.parameters.emplace_back(SRF_FitModel::parameterName(model, i), double(fitted->getParameters()[i]));
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

std::vector<double> SRF_Fitter::Result::values() const
{
    std::vector<double> out;
    for (const auto &parameter : parameters)
        out.push_back(parameter.second);
    return out;
}

SRF_Fitter::Result SRF_Fitter::fit(const std::string &path, const Options &options)
{
    return fit(SRF_FitReader::read(path), options);
}

SRF_Fitter::Result SRF_Fitter::fit(const SRF_FitData &data, const Options &options)
{
    if (data.points.empty())
        throw std::invalid_argument("no measurements to fit" + (data.path.empty() ? "" : " in '" + data.path + "'"));
    if (options.starts < 1)
        throw std::invalid_argument("the robust solver needs at least one start, not " +
                                    std::to_string(options.starts));
    Result result;
    if (options.solver == DEFINED)
        result = definedFit(data, options.model);
    else
    {
        const auto start = std::chrono::steady_clock::now();
        const SRF_RobustFitter::Result robust =
            SRF_RobustFitter::fit(data, options.model, options.metric == LOG_RELATIVE, options.starts);
        result.seconds = secondsSince(start);
        for (int i = 0; i < int(robust.parameters.size()); ++i)
            result.parameters.emplace_back(SRF_FitModel::parameterName(options.model, i), robust.parameters[i]);
    }
    result.model = options.model;
    result.solver = options.solver;
    result.metric = options.metric;
    result.points = data.size();
    const std::vector<double> values = result.values();
    result.rms = error(data, options.model, values.data(), ABSOLUTE);
    result.metricValue = error(data, options.model, values.data(), options.metric);
    result.account.insert(result.account.begin(), data.account.begin(), data.account.end());
    return result;
}

double SRF_Fitter::error(const SRF_FitData &data, SRF_FitModel::Kind model, const double *parameters, Metric metric)
{
    if (data.points.empty())
        return 0.0;
    double sum = 0.0;
    for (const SRF_FitData::Point &point : data.points)
    {
        double f[3];
        SRF_FitModel::evaluate(model, parameters, point.incoming, point.scattered, f);
        const double w = std::max(point.incoming[2], 0.0);
        for (int c = 0; c < 3; ++c)
        {
            const double r = metric == ABSOLUTE ? f[c] - point.value[c]
                                                : std::log1p(w * f[c]) - std::log1p(w * std::max(point.value[c], 0.0));
            sum += r * r;
        }
    }
    return std::sqrt(sum / data.size());
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
