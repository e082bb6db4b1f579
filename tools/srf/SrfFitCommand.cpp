#include "SrfFitCommand.h"

#include "SrfError.h"

#include "SRF_Constants.h"
#include "SRF_FitReader.h"
#include "SRF_FitShader.h"
#include "SRF_FitTree.h"

#include <cmath>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

std::vector<SRF_Fitter::Result> SrfFitCommand::fit(const std::string &path, const SRF_Fitter::Options &options,
                                                   const std::vector<SRF_Fitter::Solver> &solvers)
{
    std::vector<SRF_Fitter::Result> results;
    try
    {
        const SRF_FitData data = SRF_FitReader::read(path);
        for (SRF_Fitter::Solver solver : solvers)
        {
            SRF_Fitter::Options chosen = options;
            chosen.solver = solver;
            results.push_back(SRF_Fitter::fit(data, chosen));
        }
    }
    catch (const std::exception &error)
    {
        throw SrfError(error.what());
    }
    return results;
}

std::string SrfFitCommand::report(const std::string &path, const std::vector<SRF_Fitter::Result> &results, int starts)
{
    std::string text;
    char line[256];
    if (results.empty())
        return text;
    const SRF_Fitter::Result &first = results.front();
    snprintf(line, sizeof line, "model %s fitted to %s\n", SRF_Fitter::modelName(first.parameters.model()),
             path.c_str());
    text += line;
    // The reader's account comes first in every result; print it once.
    size_t shared = results.front().account.size();
    for (const SRF_Fitter::Result &result : results)
        shared = std::min(shared, result.account.size());
    for (size_t i = 0; i < shared; ++i)
        text += "read: " + first.account[i] + "\n";
    for (const SRF_Fitter::Result &result : results)
    {
        const bool robust = result.solver == SRF_Fitter::ROBUST;
        snprintf(line, sizeof line, "solver %s", SRF_Fitter::solverName(result.solver));
        text += line;
        if (robust)
        {
            snprintf(line, sizeof line, ", metric %s, %d start%s, loss %s", SRF_Fitter::metricName(result.metric),
                     starts, starts == 1 ? "" : "s", SRF_Fitter::lossName(result.loss));
            text += line;
            if (result.lossScale > 0.0)
            {
                snprintf(line, sizeof line, " (scale %.3g, from the median residual)", result.lossScale);
                text += line;
            }
            if (result.isotropic)
                text += ", isotropic";
        }
        text += "\n";
        for (size_t i = shared; i < result.account.size(); ++i)
            text += "  note: " + result.account[i] + "\n";
        for (int i = 0; i < result.parameters.count(); ++i)
        {
            snprintf(line, sizeof line, "  %-10s %.6g\n", result.parameters.name(i), result.parameters.value(i));
            text += line;
        }
        snprintf(line, sizeof line, "points: %d\nrms per channel: %.6g\nrms rgb: %.6g\n", result.points, result.rms,
                 result.rmsRgb);
        text += line;
        if (result.lossScale > 0.0)
        {
            snprintf(line, sizeof line,
                     "outliers: %d beyond 10 times their loss scale; rms per channel without them: %.6g\n",
                     result.outliers, result.rmsWithout);
            text += line;
        }
        if (result.metric == SRF_Fitter::LOG_RELATIVE)
            snprintf(line, sizeof line, "logrel error (scale %.3g, the median of cos(theta_i) m): %.6g\n",
                     result.logScale, result.metricValue);
        else
            snprintf(line, sizeof line, "%s error per channel: %.6g\n", SRF_Fitter::metricName(result.metric),
                     result.metricValue);
        text += line;
        snprintf(line, sizeof line, "time: %.3f s\n", result.seconds);
        text += line;
        for (const std::string &warning : result.warnings)
            text += warning + "\n";
    }
    return text;
}

std::string SrfFitCommand::exportReport(const SRF_Fitter::Result &result, const std::string &shader)
{
    const SRF_FitTree tree(shader);
    std::string text = "shader albedo against the model's (the integral of the shader's evaluatePdf value and of\n"
                       "  f cos, by quadrature; the worst channel of those above a thousandth of the brightest):\n";
    char line[256];
    for (int degrees : {0, 30, 60})
        for (int azimuth = 0; azimuth < 2; ++azimuth)
        {
            const double t = degrees * SRF_PI_DOUBLE / 180.0;
            const double u[3] = {azimuth ? std::sin(t) : 0.0, azimuth ? 0.0 : std::sin(t), std::cos(t)};
            double fitted[3], exported[3];
            SRF_FitShader::modelAlbedo(result.parameters, u, fitted);
            tree.albedo(u, exported);
            double worst = 0.0;
            const double largest = std::max({fitted[0], fitted[1], fitted[2]});
            for (int c = 0; c < 3; ++c)
                if (fitted[c] > 1e-3 * largest && std::fabs(exported[c] / fitted[c] - 1.0) > std::fabs(worst))
                    worst = exported[c] / fitted[c] - 1.0;
            snprintf(line, sizeof line,
                     "  theta_i %2d, phi_i %2d: model %.4g %.4g %.4g, shader %.4g %.4g %.4g (%+.1f %%)\n", degrees,
                     azimuth ? 90 : 0, fitted[0], fitted[1], fitted[2], exported[0], exported[1], exported[2],
                     100.0 * worst);
            text += line;
        }
    return text;
}
