// Measurement files: reading them as the fitter does, fitting the two
// reflectance models with the fitter the host tool uses, and the fitted
// model's values; and the equal-area projection of the lobe plots.

#include "SrfPyArrays.h"
#include "SrfPyBind.h"

#include "SrfError.h"

#include "BX_PolarSample.h"
#include "SRF_FitModel.h"
#include "SRF_FitReader.h"
#include "SRF_FitShader.h"
#include "SRF_Fitter.h"
#include "SRF_MeasurementFile.h"

#include <pybind11/stl.h>

#include <cmath>
#include <stdexcept>

namespace py = pybind11;
using Floats = SrfPyArrays::Floats;
using Doubles = py::array_t<double, py::array::c_style>;

namespace
{
// Runs work, turning the fitter's and reader's one-line errors into
// srf.Error.
template <class Work> auto reporting(Work work) -> decltype(work())
{
    try
    {
        return work();
    }
    catch (const std::invalid_argument &error)
    {
        throw SrfError(error.what());
    }
    catch (const std::runtime_error &error)
    {
        throw SrfError(error.what());
    }
}

// Lines of a file's text (names, the reader's account), as Python str.
py::list texts(const std::vector<std::string> &lines)
{
    py::list list;
    for (const std::string &line : lines)
        list.append(SrfPyArrays::text(line));
    return list;
}

py::dict readMeasurements(const std::string &path)
{
    const SRF_FitData data = reporting([&] { return SRF_FitReader::read(path); });
    const py::ssize_t count = data.size();
    Doubles incoming({count, py::ssize_t(3)}), scattered({count, py::ssize_t(3)}), values({count, py::ssize_t(3)});
    for (py::ssize_t i = 0; i < count; ++i)
        for (int c = 0; c < 3; ++c)
        {
            incoming.mutable_at(i, c) = data.points[i].incoming[c];
            scattered.mutable_at(i, c) = data.points[i].scattered[c];
            values.mutable_at(i, c) = data.points[i].value[c];
        }
    // The header as the file states it, beside what the reader made of it.
    const SRF_MeasurementFile file(path.c_str());
    py::list names;
    for (int i = 0; i < file.nameCount(); ++i)
        names.append(SrfPyArrays::text(file.name(i)));
    py::dict header;
    header["NUM_POINTS"] = file.pointCount();
    header["VARS"] = names;
    header["SAMPLE_NAME"] = SrfPyArrays::text(data.sampleName);
    header["account"] = texts(data.account);

    py::dict out;
    out["points"] = data.size();
    out["incoming"] = incoming;
    out["scattered"] = scattered;
    out["values"] = values;
    out["header"] = header;
    return out;
}

SRF_Fitter::Options fitOptions(const std::string &model, const std::string &solver, const std::string &metric,
                               long long starts, const std::string &loss, bool isotropic)
{
    SRF_Fitter::Options options;
    reporting(
        [&]
        {
            options.model = SRF_Fitter::parseModel(model);
            options.solver = SRF_Fitter::parseSolver(solver);
            options.metric = SRF_Fitter::parseMetric(metric);
            options.loss = SRF_Fitter::parseLoss(loss);
            return 0;
        });
    if (starts < 1 || starts > SRF_Fitter::MAX_STARTS)
        throw SrfError("starts must be an integer from 1 to " + std::to_string(SRF_Fitter::MAX_STARTS) + ", not " +
                       std::to_string(starts));
    options.starts = int(starts);
    options.isotropic = isotropic;
    return options;
}

// A fit's result; a Ctrl-C during the fit (which runs without the
// interpreter lock) stops the caller here.
py::dict resultDict(const SRF_Fitter::Result &result)
{
    if (PyErr_CheckSignals() != 0)
        throw py::error_already_set();
    py::dict parameters;
    for (int i = 0; i < result.parameters.count(); ++i)
        parameters[SrfPyArrays::text(result.parameters.name(i))] = result.parameters.value(i);
    py::dict out;
    out["model"] = SRF_Fitter::modelName(result.parameters.model());
    out["solver"] = SRF_Fitter::solverName(result.solver);
    out["metric"] = SRF_Fitter::metricName(result.metric);
    out["loss"] = SRF_Fitter::lossName(result.loss);
    out["isotropic"] = result.isotropic;
    out["parameters"] = parameters;
    out["rms"] = result.rms;
    out["rms_rgb"] = result.rmsRgb;
    out["metric_value"] = result.metricValue;
    out["log_scale"] = result.logScale;
    out["loss_scale"] = result.lossScale;
    out["outliers"] = result.outliers;
    out["rms_without_outliers"] = result.rmsWithout;
    out["points"] = result.points;
    out["seconds"] = result.seconds;
    out["account"] = texts(result.account);
    out["warnings"] = texts(result.warnings);
    return out;
}

py::dict fit(const std::string &path, const std::string &model, const std::string &solver, const std::string &metric,
             long long starts, const std::string &loss, bool isotropic)
{
    const SRF_Fitter::Options options = fitOptions(model, solver, metric, starts, loss, isotropic);
    SRF_Fitter::Result result;
    {
        py::gil_scoped_release unlocked;
        result = reporting([&] { return SRF_Fitter::fit(path, options); });
    }
    return resultDict(result);
}

// A fit of measurements given as arrays: angles (N, 4) theta_i, phi_i,
// theta_s, phi_s in radians, values (N, 3), optional weights (N,) and a
// mask (N,) of the rows to fit.
py::dict fitArrays(const Doubles &angles, const Doubles &values, py::object weights, py::object mask,
                   const std::string &model, const std::string &metric, long long starts, const std::string &loss,
                   bool isotropic)
{
    const SRF_Fitter::Options options = fitOptions(model, "robust", metric, starts, loss, isotropic);
    if (angles.ndim() != 2 || angles.shape(1) != 4)
        throw py::value_error("angles must have shape (N, 4): theta_i, phi_i, theta_s, phi_s in radians");
    const py::ssize_t count = angles.shape(0);
    if (values.ndim() != 2 || values.shape(1) != 3 || values.shape(0) != count)
        throw py::value_error("values must have shape (N, 3), one row per row of angles");
    Doubles w;
    const bool weighted = !weights.is_none(), masked = !mask.is_none();
    if (weighted)
    {
        w = Doubles::ensure(weights);
        if (!w || w.ndim() != 1 || w.shape(0) != count)
            throw py::value_error("weights must have shape (N,), one per row of angles");
    }
    py::array_t<bool> keep;
    if (masked)
    {
        keep = py::array_t<bool>::ensure(mask);
        if (!keep || keep.ndim() != 1 || keep.shape(0) != count)
            throw py::value_error("mask must have shape (N,), one per row of angles");
    }
    SRF_FitData data;
    data.account.push_back("rows: " + std::to_string(count) + " given as arrays");
    int dropped = 0;
    for (py::ssize_t i = 0; i < count; ++i)
    {
        if (masked && !keep.at(i))
        {
            ++dropped;
            continue;
        }
        const double value[3] = {values.at(i, 0), values.at(i, 1), values.at(i, 2)};
        bool finite = true;
        for (int k = 0; k < 4; ++k)
            finite = finite && std::isfinite(angles.at(i, k));
        for (double x : value)
            finite = finite && std::isfinite(x);
        const double weight = weighted ? w.at(i) : 1.0;
        if (!finite || !std::isfinite(weight) || weight < 0.0)
            throw py::value_error("row " + std::to_string(i) +
                                  " holds a value, angle or weight that is not a finite "
                                  "number (or a negative weight)");
        data.add(angles.at(i, 0), angles.at(i, 1), angles.at(i, 2), angles.at(i, 3), value);
        data.points.back().weight = weight;
    }
    if (dropped > 0)
        data.account.push_back("mask: " + std::to_string(dropped) + " rows left out");
    SRF_Fitter::Result result;
    {
        py::gil_scoped_release unlocked;
        result = reporting([&] { return SRF_Fitter::fit(data, options); });
    }
    return resultDict(result);
}

// The shader text of a fit given by model and parameters.
std::string fitShader(const std::string &model, const std::vector<double> &parameters, const std::string &source)
{
    SRF_Fitter::Result result;
    const SRF_FitModel::Kind kind = reporting([&] { return SRF_Fitter::parseModel(model); });
    if (int(parameters.size()) != SRF_FitModel::parameterCount(kind))
        throw py::value_error(model + " has " + std::to_string(SRF_FitModel::parameterCount(kind)) +
                              " parameters, not " + std::to_string(parameters.size()));
    result.parameters = SRF_FitParameters(kind, parameters);
    return reporting([&] { return SRF_FitShader::text(result, source); });
}

// The colours (M, 3) of a model with the given parameters (in the model's
// order) for pairs of unit directions in the frame of the measurement.
Doubles modelValues(const std::string &model, const std::vector<double> &parameters, const Doubles &incoming,
                    const Doubles &scattered)
{
    const SRF_FitModel::Kind kind = reporting([&] { return SRF_Fitter::parseModel(model); });
    if (int(parameters.size()) != SRF_FitModel::parameterCount(kind))
        throw py::value_error(model + " has " + std::to_string(SRF_FitModel::parameterCount(kind)) +
                              " parameters, not " + std::to_string(parameters.size()));
    if (incoming.ndim() != 2 || incoming.shape(1) != 3 || scattered.ndim() != 2 || scattered.shape(1) != 3 ||
        incoming.shape(0) != scattered.shape(0))
        throw py::value_error("incoming and scattered must both have shape (N, 3)");
    const py::ssize_t count = incoming.shape(0);
    Doubles result({count, py::ssize_t(3)});
    for (py::ssize_t i = 0; i < count; ++i)
        SRF_FitModel::evaluate(kind, parameters.data(), incoming.data(i, 0), scattered.data(i, 0),
                               result.mutable_data(i, 0));
    return result;
}

// The directions of disk points (x, y) of the plot's equal-area projection.
Floats diskDirections(py::handle x, py::handle y, bool upper)
{
    const Floats xs = SrfPyArrays::floats(x, "x"), ys = SrfPyArrays::floats(y, "y");
    const long rows = SrfPyArrays::commonRows(SrfPyArrays::rows(xs), SrfPyArrays::rows(ys), "y");
    const Floats xr = SrfPyArrays::expand(xs, rows), yr = SrfPyArrays::expand(ys, rows);
    Floats result = SrfPyArrays::newVectors(rows);
    for (long i = 0; i < rows; ++i)
        SrfPyArrays::vectorData(result)[i] = BX_PolarSample::fromEqualAreaDisk(xr.data()[i], yr.data()[i], upper);
    return result;
}

// The disk points (M, 2) of directions (M, 3).
Floats diskPoints(py::handle v)
{
    const Floats vs = SrfPyArrays::vectors(v, "v");
    Floats result({py::ssize_t(SrfPyArrays::rows(vs)), py::ssize_t(2)});
    for (long i = 0; i < SrfPyArrays::rows(vs); ++i)
        BX_PolarSample::toEqualAreaDisk(SrfPyArrays::vectorData(vs)[i], result.mutable_data()[2 * i],
                                        result.mutable_data()[2 * i + 1]);
    return result;
}
} // namespace

void srfBindMeasurements(py::module_ &m)
{
    m.def("_read_measurements", &readMeasurements, py::arg("path"));
    // False in a build without Ceres Solver, which fits by the defined solver only.
    m.attr("HAS_ROBUST_SOLVER") = SRF_Fitter::HAS_ROBUST_SOLVER;
    m.def("_fit", &fit, py::arg("path"), py::arg("model") = "phong",
          py::arg("solver") = SRF_Fitter::solverName(SRF_Fitter::DEFAULT_SOLVER), py::arg("metric") = "abs",
          py::arg("starts") = SRF_Fitter::Options().starts, py::arg("loss") = "cauchy", py::arg("isotropic") = false);
    m.def("_fit_arrays", &fitArrays, py::arg("angles"), py::arg("values"), py::arg("weights") = py::none(),
          py::arg("mask") = py::none(), py::arg("model") = "phong", py::arg("metric") = "abs",
          py::arg("starts") = SRF_Fitter::Options().starts, py::arg("loss") = "cauchy", py::arg("isotropic") = false);
    m.def("_fit_shader", &fitShader, py::arg("model"), py::arg("parameters"), py::arg("source") = "arrays");
    m.def("_model_values", &modelValues, py::arg("model"), py::arg("parameters"), py::arg("incoming"),
          py::arg("scattered"));
    m.def("_disk_directions", &diskDirections, py::arg("x"), py::arg("y"), py::arg("upper"));
    m.def("_disk_points", &diskPoints, py::arg("v"));
    m.def("_check_lanes", &SrfPyArrays::checkLanes, py::arg("lanes"), py::arg("bytes_per_lane"), py::arg("what"));
}
