#include "SrfCommands.h"

#include "SrfBatch.h"
#include "SrfError.h"
#include "SrfFitCommand.h"
#include "SrfOptions.h"
#include "SrfOutputFile.h"
#include "SrfPlotter.h"
#include "SrfRenderer.h"
#include "SrfShader.h"

#include "KAL_RefType.h"
#include "SRF_BSDF.h"
#include "SRF_FitShader.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <unistd.h>

#ifndef SRF_SOURCE_DIR
#define SRF_SOURCE_DIR "."
#endif
#ifndef SRF_EXAMPLES_FROM_BIN
#define SRF_EXAMPLES_FROM_BIN "../share/srf/examples"
#endif

namespace
{
const int MAX_SIZE = 8192;
const int MAX_SAMPLES = 1 << 16;
const int MAX_THREADS = 256;
const int MAX_STARTS = SRF_Fitter::MAX_STARTS;

std::string absolute(const std::string &path)
{
    char *resolved = realpath(path.c_str(), nullptr);
    if (!resolved)
        return path;
    std::string result(resolved);
    free(resolved);
    return result;
}

std::string bounceNames(int bounces)
{
    static const char *const NAMES[] = {"diffuse", "glossy", "specular", "emission"};
    std::string text;
    for (int bit = 0; bit < 4; ++bit)
        if (bounces & (1 << bit))
            text += std::string(text.empty() ? "" : " ") + NAMES[bit];
    return text.empty() ? "none" : text;
}

// Whether the shader calls an op of the curve lobes (wirediffuse@...,
// wireblinn@...): the listing has one call a line, op name first.
bool usesCurveLobes(const SrfShader &shader)
{
    const std::string listing = "\n" + shader.listing();
    return listing.find("\nwire") != std::string::npos;
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
} // namespace

// The bundled plastic example: where the install put it (beside the tool's
// bin folder), else in the source tree the tool was built from.
const char *SrfCommands::defaultShader()
{
    static const std::string path = []
    {
        const std::string built = SRF_SOURCE_DIR "/examples/plastic.kal";
        char self[4096];
        const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
        if (length <= 0)
            return built;
        std::string installed(self, size_t(length));
        installed = installed.substr(0, installed.rfind('/') + 1) + SRF_EXAMPLES_FROM_BIN "/plastic.kal";
        return access(installed.c_str(), R_OK) == 0 ? absolute(installed) : built;
    }();
    return path.c_str();
}

int SrfCommands::render(int argc, char **argv)
{
    SrfOptions options("render", "[SHADER.kal]",
                       "Renders a material preview: the BSDF that the shader leaves in F on a sphere lit by a soft\n"
                       "studio, seen from a fixed camera, written as an 8-bit sRGB PNG or a linear OpenEXR. Without a "
                       "shader it renders\n"
                       "the bundled plastic example.",
                       {{"--output", "-o", "FILE", "the image to write: .png (8-bit sRGB) or .exr (half-float linear)",
                         "srf-render.png"},
                        {"--size", nullptr, "N", "width and height in pixels", "256"},
                        {"--spp", nullptr, "N", "samples per pixel", "64"},
                        {"--threads", nullptr, "N", "threads to render with (default: every core)", nullptr},
                        {"--seed", nullptr, "N", "seed of the random numbers", "1"},
                        {"--sampling", nullptr, "NAME",
                         "mis (light and BSDF sampling combined) or bsdf (the BSDF's sampling alone)", "mis"},
                        {"--geometry", nullptr, "NAME",
                         "sphere, fibres (a ball of hair), or auto: fibres for a shader using the curve lobes", "auto"},
                        {"--per-lane", nullptr, nullptr, "query the BSDF lane by lane, not in batches", nullptr}},
                       0, 1);
    options.parse(argc, argv);
    if (options.helpRequested())
    {
        fputs(options.help().c_str(), stdout);
        return 0;
    }
    SrfRenderer::Settings settings;
    settings.perLane = options.given("--per-lane");
    settings.size = options.integer("--size", 1, MAX_SIZE);
    settings.samples = options.integer("--spp", 1, MAX_SAMPLES);
    settings.threads = options.given("--threads") ? options.integer("--threads", 1, MAX_THREADS) : 0;
    settings.seed = uint32_t(options.integer("--seed", 0, INT_MAX));
    const std::string sampling = options.text("--sampling");
    if (sampling != "mis" && sampling != "bsdf")
        throw SrfError("--sampling must be mis or bsdf, not '" + sampling + "' (see 'srf render --help')", 2);
    settings.mis = sampling == "mis";
    const std::string input = options.positional().empty() ? defaultShader() : options.positional()[0];
    const std::string output = options.text("--output");

    SrfOutputFile::checkExtension("--output", output, SrfImage::formats());
    const std::string geometry = options.text("--geometry");
    if (geometry != "auto" && geometry != "sphere" && geometry != "fibres")
        throw SrfError("--geometry must be auto, sphere or fibres, not '" + geometry + "' (see 'srf render --help')",
                       2);
    const SrfShader shader(input);
    SrfOutputFile::checkWritable(output);
    settings.fibres = geometry == "fibres" || (geometry == "auto" && usesCurveLobes(shader));
    SrfRenderer renderer(shader, settings);
    const auto start = std::chrono::steady_clock::now();
    const SrfImage image = renderer.render();
    const double seconds = secondsSince(start);
    image.save(output);

    const double samples = double(settings.size) * settings.size * settings.samples;
    printf("rendered %s: %dx%d, %d samples per pixel, %d thread%s, %.2f s (%.2f million samples/s)\n", input.c_str(),
           settings.size, settings.size, settings.samples, renderer.threadCount(),
           renderer.threadCount() == 1 ? "" : "s", seconds, samples / seconds * 1e-6);
    printf("wrote %s\n", absolute(output).c_str());
    return 0;
}

int SrfCommands::plot(int argc, char **argv)
{
    SrfOptions options(
        "plot", "SHADER.kal",
        "Plots the BSDF that the shader leaves in F for one incident direction u at THETA degrees from the\n"
        "normal: its evaluate colour over every direction (left) beside a histogram of the directions that\n"
        "sample draws (right), each hemisphere as an equal-area disk seen from above the surface (upper\n"
        "hemisphere on top). Prints the albedo, specular ratio and bounce types for u.",
        {{"--theta", nullptr, "DEG", "angle of u from the normal, in degrees", "45"},
         {"--output", "-o", "FILE", "the image to write: .png or .exr", "srf-plot.png"},
         {"--size", nullptr, "N", "diameter of each disk in pixels", "200"},
         {"--samples", nullptr, "N", "directions drawn for the histogram", "4194304"},
         {"--seed", nullptr, "N", "seed of the random numbers", "1"}},
        1, 1);
    options.parse(argc, argv);
    if (options.helpRequested())
    {
        fputs(options.help().c_str(), stdout);
        return 0;
    }
    SrfPlotter::Settings settings;
    settings.theta = float(options.number("--theta", 0.0, 180.0));
    settings.panel = options.integer("--size", 8, 2048);
    settings.samples = options.integer("--samples", 1, INT_MAX);
    settings.seed = uint32_t(options.integer("--seed", 0, INT_MAX));
    const std::string output = options.text("--output");

    SrfOutputFile::checkExtension("--output", output, SrfImage::formats());
    const SrfShader shader(options.positional()[0]);
    SrfOutputFile::checkWritable(output);
    SrfPlotter plotter(shader, settings);
    SrfPlotter::Report report;
    const SrfImage image = plotter.plot(report);
    image.save(output);

    const double drawn = double(settings.samples);
    printf("shader %s\n", shader.path().c_str());
    printf("u: theta %.1f degrees, (%.4f, %.4f, %.4f)\n", settings.theta, report.u.x, report.u.y, report.u.z);
    printf("albedo: %.4f\n", report.albedo);
    printf("specular ratio: %.4f\n", report.specularRatio);
    printf("bounce types: %s (%d)\n", bounceNames(report.bounces).c_str(), report.bounces);
    printf("sampled %ld directions: %.1f%% above the surface, %.1f%% below, %.1f%% none\n", settings.samples,
           100.0 * report.above / drawn, 100.0 * report.below / drawn, 100.0 * report.none / drawn);
    printf("wrote %s\n", absolute(output).c_str());
    return 0;
}

int SrfCommands::fit(int argc, char **argv)
{
    SrfOptions options(
        "fit", "FILE",
        "Reads a measurement file, fits a reflectance model to it and prints what the reader made of the\n"
        "file, then for each solver the fitted parameters, the number of measurements, the absolute RMS\n"
        "difference between model and measurements, the chosen metric and the time the fit took.\n"
        "The defined solver is the fit that measured@BSVVV runs, on the file as that op reads it; it\n"
        "draws from generator states shared by the whole process, so its result depends on what drew\n"
        "before it. The robust one fits in double precision from several starts with a robust loss per\n"
        "measurement, and reads spectral and band files. Warnings name parameters that sit at a bound\n"
        "or barely move the error: the data cannot decide them.",
        {{"--model", nullptr, "NAME", "phong or ashikhmin", "phong"},
         {"--solver", nullptr, "NAME", "defined, robust or both", SRF_Fitter::solverName(SRF_Fitter::DEFAULT_SOLVER)},
         {"--metric", nullptr, "NAME", "what the robust solver minimises: abs or logrel", "abs"},
         {"--starts", nullptr, "N", "starting exponents of the robust solver", "8"},
         {"--loss", nullptr, "NAME", "robust solver's loss per measurement: cauchy, huber, softl1 or none", "cauchy"},
         {"--isotropic", nullptr, nullptr, "ashikhmin: fit one exponent for both tangents", nullptr},
         {"--kal", nullptr, "FILE", "write a shader rendering the (last) fitted model with analytic lobes", nullptr}},
        1, 1);
    options.parse(argc, argv);
    if (options.helpRequested())
    {
        fputs(options.help().c_str(), stdout);
        return 0;
    }
    SRF_Fitter::Options settings;
    std::vector<SRF_Fitter::Solver> solvers;
    try
    {
        settings.model = SRF_Fitter::parseModel(options.text("--model"));
        settings.metric = SRF_Fitter::parseMetric(options.text("--metric"));
        settings.loss = SRF_Fitter::parseLoss(options.text("--loss"));
        settings.isotropic = options.given("--isotropic");
        if (settings.isotropic && settings.model != SRF_FitModel::ASHIKHMIN)
            throw std::invalid_argument("isotropic is for --model ashikhmin (phong has one exponent)");
        const std::string solver = options.text("--solver");
        if (solver != "both" && solver != "defined" && solver != "robust")
            throw std::invalid_argument("solver must be defined, robust or both, not '" + solver + "'");
        if (solver == "both")
            solvers = {SRF_Fitter::DEFINED, SRF_Fitter::ROBUST};
        else
            solvers = {SRF_Fitter::parseSolver(solver)};
    }
    catch (const std::invalid_argument &error)
    {
        throw SrfError(std::string("--") + error.what() + " (see 'srf fit --help')", 2);
    }
    settings.starts = options.integer("--starts", 1, MAX_STARTS);
    const std::string input = options.positional()[0];
    const std::string shader = options.text("--kal");
    if (!shader.empty())
        SrfOutputFile::checkWritable(shader);

    const std::vector<SRF_Fitter::Result> results = SrfFitCommand::fit(input, settings, solvers);
    fputs(SrfFitCommand::report(input, results, settings.starts).c_str(), stdout);
    if (!shader.empty())
    {
        try
        {
            const std::string text = SRF_FitShader::text(results.back(), input);
            SrfOutputFile::write(shader, [&](const std::string &to) { SRF_FitShader::write(to, text); });
            fputs(SrfFitCommand::exportReport(results.back(), text).c_str(), stdout);
        }
        catch (const std::exception &error)
        {
            throw SrfError(error.what());
        }
        printf("wrote %s\n", absolute(shader).c_str());
    }
    return 0;
}

int SrfCommands::info(int argc, char **argv)
{
    SrfOptions options("info", "SHADER.kal",
                       "Prints the compiled shader with every rewrite expanded, one instruction a line with its\n"
                       "operands named, then the BSDF tree that the shader leaves in F for one lane.",
                       {}, 1, 1);
    options.parse(argc, argv);
    if (options.helpRequested())
    {
        fputs(options.help().c_str(), stdout);
        return 0;
    }
    const SrfShader shader(options.positional()[0]);
    printf("# %s: %d instructions after rewrites\n", shader.path().c_str(), shader.instructionCount());
    fputs(shader.listing().c_str(), stdout);

    SrfBatch batch(shader);
    batch.setGeometry(0, BX_Vector3(0.0f, 0.0f, 1.0f), BX_Vector3(1.0f, 0.0f, 0.0f), BX_Vector3(0.0f, 1.0f, 0.0f));
    batch.shade(1);
    printf("# F for one lane (N = (0, 0, 1)):\n");
    const KAL_RefType *bsdf = batch.bsdf();
    if (!bsdf)
    {
        printf("null: the shader leaves no BSDF in F\n");
        return 0;
    }
    // dump writes to standard error; send it to standard output for the
    // moment, so that the whole report goes to one stream.
    fflush(stdout);
    fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(STDOUT_FILENO, STDERR_FILENO);
    // Indent 1 rather than 0, so that the first level of operands shows as
    // nested (a field width of 0 or 1 both give one space).
    static_cast<const SRF_BSDF *>(bsdf)->dump(1);
    fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    return 0;
}
