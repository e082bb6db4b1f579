// The fitting library: colour matching, the fitting reader beside the op's
// reader, the double-precision models beside the library's, recovery of
// generated parameters, the shader of a fit and bad requests. (The aims on
// the shared measurement files are measured by srf fit, in the README.)
#include "SRF_ColourMatching.h"
#include "SRF_Constants.h"
#include "SRF_FitReader.h"
#include "SRF_FitShader.h"
#include "SRF_FitTree.h"
#include "SRF_Fitter.h"
#include "SRF_MeasuredAshikhmin.h"
#include "SRF_MeasuredPhong.h"
#include "SRF_RobustFitter.h"

#include "KAL_Context.h"
#include "KAL_Instance.h"
#include "KAL_ProcArray.h"
#include "KAL_Shader.h"
#include "KAL_ShaderLoader.h"
#include "SRF_BSDF.h"
#include "SRF_Functions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>

// The robust solver's tests: a build without Ceres Solver has no robust
// solver, and says so.
#define SKIP_WITHOUT_ROBUST_SOLVER()                                                                                   \
    if (!SRF_Fitter::HAS_ROBUST_SOLVER)                                                                                \
    GTEST_SKIP() << "this build has no robust solver (Ceres Solver was not found)"

namespace
{

std::string path(const std::string &name) { return std::string(SRF_BINARY_TEST_DIR) + "/fit_" + name; }

std::string write(const std::string &name, const std::string &text)
{
    std::ofstream(path(name), std::ios::binary) << text;
    return path(name);
}

// The op's reader and a model's parameters, reached through a model that
// fits nothing.
template <class Model> struct Probe : Model
{
    Probe() : Model("") {}
    void set(const std::vector<double> &p) { std::copy(p.begin(), p.end(), this->myParameters); }
    void read(const std::string &f, BX_Vector3Array &in, BX_Vector3Array &out, BX_Vector3Array &values)
    {
        Model::read(f.c_str(), in, out, values);
    }
};

// A measurement file of the model with 1 % multiplicative noise: incidence
// 10 to 80 degrees, a coarse grid of scattered directions and rings at 0.2
// to 16 degrees about the mirror direction.
std::string generate(const std::string &name, SRF_FitModel::Kind model, const std::vector<double> &p, unsigned seed,
                     double sigma = 0.01)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, sigma);
    std::string rows;
    int count = 0;
    for (int a = 10; a <= 80; a += 10)
    {
        const double t = a * SRF_PI_DOUBLE / 180, u[3] = {0.0, std::sin(t), std::cos(t)};
        std::vector<std::array<double, 3>> out;
        for (int s = 0; s <= 80; s += 8)
            for (int q = 0; q < 360; q += 30)
                out.push_back({std::sin(s * SRF_PI_DOUBLE / 180) * std::sin(q * SRF_PI_DOUBLE / 180),
                               std::sin(s * SRF_PI_DOUBLE / 180) * std::cos(q * SRF_PI_DOUBLE / 180),
                               std::cos(s * SRF_PI_DOUBLE / 180)});
        for (double d : {0.2, 0.5, 1.0, 2.0, 4.0, 8.0, 16.0})
            for (int q = 0; q < 8; ++q) // about the mirror (0, -sin t, cos t), in its frame x, (0, cos t, sin t)
                out.push_back({std::sin(d * SRF_PI_DOUBLE / 180) * std::cos(q * SRF_PI_DOUBLE / 4),
                               -std::cos(d * SRF_PI_DOUBLE / 180) * u[1] +
                                   std::sin(d * SRF_PI_DOUBLE / 180) * std::sin(q * SRF_PI_DOUBLE / 4) * u[2],
                               std::cos(d * SRF_PI_DOUBLE / 180) * u[2] +
                                   std::sin(d * SRF_PI_DOUBLE / 180) * std::sin(q * SRF_PI_DOUBLE / 4) * u[1]});
        for (const auto &v : out)
        {
            double f[3];
            SRF_FitModel::evaluate(model, p.data(), u, v.data(), f);
            char row[256];
            snprintf(row, sizeof row, "%.10g,0,%.10g,%.10g,%.10g,%.10g,%.10g\n", t, std::acos(v[2]),
                     std::atan2(v[0], v[1]), f[0] * (1 + noise(rng)), f[1] * (1 + noise(rng)), f[2] * (1 + noise(rng)));
            rows += v[2] > 0.02 ? (++count, row) : "";
        }
    }
    return write(name, "NUM_POINTS " + std::to_string(count) + "\nVARS theta_i,phi_i,theta_s,phi_s,R,G,B\n\n" + rows);
}
} // namespace

// A flat spectrum is grey; a spectrum of one band has that band's hue, in
// ratios worked out by hand from the tables: M (x, y, z)(lambda).
TEST(ColourMatching, FlatIsGreyAndOneBandHasItsHue)
{
    std::vector<double> wavelengths;
    for (int w = 400; w <= 700; w += 10)
        wavelengths.push_back(w);
    const SRF_ColourMatching matching(wavelengths);
    std::vector<double> spectrum(wavelengths.size(), 0.37);
    double rgb[3];
    matching.toRgb(spectrum.data(), rgb);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(rgb[c], 0.37, 1e-12);

    // A spectrum of one 10 nm sample, a hat 20 nm wide, has that band's
    // hue: the ratios of the tables at the band (worked out by hand: M (x, y,
    // z)(lambda)), within what the hat's neighbours add.
    struct Band
    {
        int nm, channel;
        double ratio[3]; // the other channels over the dominant one
    } const bands[] = {
        {450, 2, {0.0783, -0.0960, 1}}, {540, 1, {-0.3549, 1, -0.1040}}, {610, 0, {1, -0.0113, -0.0187}}};
    for (const Band &band : bands)
    {
        std::fill(spectrum.begin(), spectrum.end(), 0.0);
        spectrum[(band.nm - 400) / 10] = 1.0;
        matching.toRgb(spectrum.data(), rgb);
        EXPECT_GT(rgb[band.channel], 0.0) << band.nm;
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(rgb[c] / rgb[band.channel], band.ratio[c], 0.012) << band.nm << " nm, channel " << c;
    }

    // A 5 nm spectrum: every sample weighs, 555 nm too, and a flat one is
    // grey.
    std::vector<double> fine;
    for (int w = 400; w <= 700; w += 5)
        fine.push_back(w);
    const SRF_ColourMatching fineMatching(fine);
    std::vector<double> fineSpectrum(fine.size(), 0.0);
    fineSpectrum[(555 - 400) / 5] = 1.0;
    fineMatching.toRgb(fineSpectrum.data(), rgb);
    EXPECT_GT(rgb[1], 0.0);
    std::fill(fineSpectrum.begin(), fineSpectrum.end(), 0.25);
    fineMatching.toRgb(fineSpectrum.data(), rgb);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(rgb[c], 0.25, 1e-12);
}

// Spectral, band, missing-phi_s and extra-column files as the fitting reader
// reads them (a row of angles 0.3, 0, 0.5, 1.0), beside the op's reader,
// which gives those columns no place; and files it refuses.
TEST(FitReader, SpectraBandsMissingPhiAndTheOpsReader)
{
    std::string names, flat;
    for (int w = 400; w <= 700; w += 10)
        names += "," + std::to_string(w) + "nm", flat += ",0.5";
    struct Case
    {
        const char *name;
        std::string vars, row;
        double value[3];
        const char *says;
    } const cases[] = {
        // clang-format off
        {"spectral", "theta_i,phi_i,theta_s,phi_s" + names, "0.3,0,0.5,1.0" + flat, {0.5, 0.5, 0.5}, "31 wavelength columns"},
        {"bands", "theta_i,phi_i,theta_s,465nm,525nm,630nm", "0.3,0,0.5,1.0,0.1,0.2,0.3", {0.3, 0.2, 0.1}, "not in VARS"},
        {"extra", "theta_i,phi_i,X,theta_s,phi_s,R,G,B", "0.3,0,9,0.5,1.0,0.1,0.2,0.3", {0.1, 0.2, 0.3}, "skipped columns: X"},
        {"noplace", "theta_i,phi_i,X,theta_s,phi_s,I", "0.3,0,0.5,1.0,0.25", {0.25, 0.25, 0.25}, "1 rows without"},
        {"grey", "theta_i,phi_i,theta_s,phi_s,550nm", "0.3,0,0.5,1.0,0.25", {0.25, 0.25, 0.25}, "550nm as grey"},
        {"nan", "theta_i,phi_i,theta_s,phi_s,I", "0.3,0,0.5,1.0,nan\n0.3,0,0.5,1.0,0.25", {0.25, 0.25, 0.25}, "not a finite"},
        // clang-format on
    };
    for (const Case &c : cases)
    {
        const std::string file = write(std::string(c.name) + ".astm",
                                       "SAMPLE_NAME \t two words \r\nNUM_POINTS 2\nVARS " + c.vars + "\n\n" + c.row);
        const SRF_FitData data = SRF_FitReader::read(file);
        ASSERT_EQ(data.size(), 1) << c.name;
        EXPECT_EQ(data.sampleName, "two words");
        const SRF_FitData::Point &p = data.points[0];
        EXPECT_NEAR(p.incoming[1], std::sin(0.3), 1e-12) << c.name;
        EXPECT_NEAR(p.scattered[0], std::sin(0.5) * std::sin(1.0), 1e-12) << c.name;
        EXPECT_NEAR(p.scattered[1], std::sin(0.5) * std::cos(1.0), 1e-12) << c.name;
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(p.value[k], c.value[k], 1e-9) << c.name;
        std::string account;
        for (const std::string &line : data.account)
            account += line + "\n";
        EXPECT_NE(account.find(c.says), std::string::npos) << c.name << ":\n" << account;
    }
    // The op's reader: wavelength columns take no place, so the values stay
    // zero, and without phi_s in VARS the fourth value is not read.
    Probe<SRF_MeasuredPhong> op;
    BX_Vector3Array in, out, values;
    op.read(path("bands.astm"), in, out, values);
    ASSERT_EQ(values.entries(), 2); // the announced count, the missing row zero
    EXPECT_EQ(values[0].x + values[0].y + values[0].z, 0.0f);
    EXPECT_NEAR(out[0].y, std::sin(0.5f), 1e-6f);
    op.read(path("extra.astm"), in, out, values);
    EXPECT_NEAR(values[0].x, 1.0f, 1e-6f); // X took no place: R is the fifth value

    const char *const bad[][2] = {{"VARS theta_i phi_i theta_s phi_s R G B\n", "NUM_POINTS"},
                                  {"NUM_POINTS 1\nVARS phi_i phi_s R G B\n\n1 2 3 4 5\n", "theta_i"},
                                  {"NUM_POINTS 1\nVARS theta_i theta_s X\n\n1 2 3\n", "colour column"},
                                  {"NUM_POINTS 3\nVARS theta_i theta_s I\n\n\n\n", "no data row"},
                                  {"NUM_POINTS 2\nVARS theta_i theta_s I\n\n30 45 0.1\n0.2 0.3 0.1\n", "degrees"},
                                  {"NUM_POINTS 1\nVARS theta_i theta_s 900nm 1000NM\n\n0.1 0.2 1 1\n", "visible"},
                                  {nullptr, "No such file"}};
    EXPECT_THROW(SRF_FitReader::read(SRF_BINARY_TEST_DIR), std::runtime_error); // a folder
    for (const auto &b : bad)
        try
        {
            SRF_FitReader::read(b[0] ? write("bad.astm", b[0]) : path("does-not-exist"));
            ADD_FAILURE() << b[1] << " was read";
        }
        catch (const std::runtime_error &error)
        {
            EXPECT_NE(std::string(error.what()).find(b[1]), std::string::npos) << error.what();
        }
}

// The double-precision models give the library's single-precision values,
// away from the peak where the single-precision exponent loses its digits.
TEST(FitModel, AgreesWithTheLibrarysModels)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> r(0.0, 1.0);
    Probe<SRF_MeasuredPhong> phong;
    Probe<SRF_MeasuredAshikhmin> ashikhmin;
    const BX_Vector3 n(0.0f, 0.0f, 1.0f);
    int compared = 0;
    for (int i = 0; i < 2000; ++i)
    {
        const SRF_FitModel::Kind kind = i % 2 ? SRF_FitModel::PHONG : SRF_FitModel::ASHIKHMIN;
        std::vector<double> p(SRF_FitModel::parameterCount(kind));
        for (int j = 0; j < int(p.size()); ++j)
            p[j] = SRF_FitModel::isExponent(kind, j) ? std::exp(6 * r(rng)) : r(rng);
        double u[3], v[3];
        for (double *d : {u, v})
        {
            const double t = 1.5 * r(rng), f = 2 * SRF_PI_DOUBLE * r(rng);
            d[0] = std::sin(t) * std::sin(f), d[1] = std::sin(t) * std::cos(f), d[2] = std::cos(t);
        }
        double h[3], expected[3];
        SRF_FitModel::halfVector(u, v, h);
        if (h[2] > 0.999)
            continue;
        SRF_FitModel::evaluate(kind, p.data(), u, v, expected);
        SRF_MeasuredData &model = kind == SRF_FitModel::PHONG ? static_cast<SRF_MeasuredData &>(phong) : ashikhmin;
        (kind == SRF_FitModel::PHONG ? phong.set(p) : ashikhmin.set(p));
        BX_Vector3 colour;
        float scalar;
        model.evaluate(BX_Vector3(u[0], u[1], u[2]), n, BX_Vector3(v[0], v[1], v[2]), colour, scalar, 0);
        const float got[3] = {colour.x, colour.y, colour.z};
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(got[c], expected[c], 2e-4 * (1 + expected[c])) << "model " << kind << ", case " << i;
        ++compared;
    }
    EXPECT_GT(compared, 1900);
}

// Generated files with 1 % noise: the robust fit recovers every parameter
// within 2 %, exponents from 5 to 2000, with either metric.
TEST(RobustFit, RecoversGeneratedParameters)
{
    SKIP_WITHOUT_ROBUST_SOLVER();
    struct Case
    {
        SRF_FitModel::Kind model;
        SRF_Fitter::Metric metric;
        std::vector<double> p;
    } const cases[] = {
        {SRF_FitModel::PHONG, SRF_Fitter::ABSOLUTE, {0.6, 0.5, 0.4, 0.3, 0.2, 0.1, 5}},
        {SRF_FitModel::PHONG, SRF_Fitter::LOG_RELATIVE, {0.9, 0.8, 1.1, 0.05, 0.2, 0.4, 150}},
        {SRF_FitModel::PHONG, SRF_Fitter::ABSOLUTE, {2.0, 2.5, 3.0, 0.02, 0.03, 0.05, 2000}},
        {SRF_FitModel::ASHIKHMIN, SRF_Fitter::LOG_RELATIVE, {1000, 150, 0.05, 0.04, 0.06, 0.6, 0.3, 0.1}},
        {SRF_FitModel::ASHIKHMIN, SRF_Fitter::LOG_RELATIVE, {30, 400, 0.3, 0.2, 0.1, 0.2, 0.5, 0.4}},
    };
    int index = 0;
    for (const Case &c : cases)
    {
        const std::string file = generate("generated" + std::to_string(index) + ".astm", c.model, c.p, 11 + index);
        SRF_Fitter::Options options;
        options.model = c.model;
        options.metric = c.metric;
        const SRF_Fitter::Result result = SRF_Fitter::fit(file, options);
        ASSERT_EQ(result.parameters.count(), int(c.p.size()));
        EXPECT_GT(result.seconds, 0.0);
        for (int i = 0; i < int(c.p.size()); ++i)
            EXPECT_NEAR(result.parameters.value(i), c.p[i], 0.02 * c.p[i])
                << "case " << index << ", " << result.parameters.name(i);
        // The absolute RMS is that of the noise: 1 % of the values.
        EXPECT_LT(result.rms,
                  0.02 * SRF_Fitter::error(SRF_FitReader::read(file), c.model,
                                           std::vector<double>(c.p.size(), 0.0).data(), SRF_Fitter::ABSOLUTE));
        ++index;
    }
    // An exponent beyond the bound ends at the bound.
    const std::vector<double> sharp = {1, 1, 1, 0.1, 0.1, 0.1, 3e5};
    const double e = SRF_Fitter::fit(generate("sharp.astm", SRF_FitModel::PHONG, sharp, 5), {}).parameters.exponentU();
    EXPECT_NEAR(e, SRF_RobustFitter::MAX_EXPONENT, 1e-6 * SRF_RobustFitter::MAX_EXPONENT);
}

// The metrics of one measurement by hand: at theta_i 60 degrees, measured
// 0.2 straight up against a Phong diffuse Kd 0.4 (f = 0.4), the absolute
// error is 0.2 per channel; the log-relative scale is cos 60 x 0.2 = 0.1,
// so w = cos 60 / 0.1 = 5 and the error is ln(1 + 5 x 0.4) - ln(1 + 5 x
// 0.2) = ln 1.5.
TEST(Fitter, ErrorsOfOneMeasurementByHand)
{
    SRF_FitData one;
    const double value[3] = {0.2, 0.2, 0.2}, p[SRF_FitModel::PHONG_PARAMETERS] = {0, 0, 0, 0.4, 0.4, 0.4, 1};
    one.add(SRF_PI_DOUBLE / 3, 0.0, 0.0, 0.0, value);
    EXPECT_NEAR(SRF_Fitter::logScale(one), 0.1, 1e-12);
    EXPECT_NEAR(SRF_Fitter::error(one, SRF_FitModel::PHONG, p, SRF_Fitter::ABSOLUTE), 0.2, 1e-12);
    EXPECT_NEAR(SRF_Fitter::error(one, SRF_FitModel::PHONG, p, SRF_Fitter::LOG_RELATIVE), std::log(1.5), 1e-12);
}

// With the exponents right, the starting colours of a start are those of
// noise-free data exactly, within their bounds: where the best unbounded Kd
// is negative it is 0 (with a Ks that makes up for it, not checked: NaN),
// and an Rs of 1 stays 1.
TEST(RobustFit, StartingColoursSolveTheLinearProblem)
{
    const double NONE = std::nan("");
    struct Case
    {
        SRF_FitModel::Kind model;
        std::vector<double> truth, expected;
    } const cases[] = {
        {SRF_FitModel::PHONG, {0.5, 0.4, 0.3, 0.2, 0.1, -0.05, 40}, {0.5, 0.4, NONE, 0.2, 0.1, 0, 40}},
        {SRF_FitModel::ASHIKHMIN, {60, 9, 0.04, 0.3, 1.0, 0.5, 0.2, 0.0}, {60, 9, 0.04, 0.3, 1.0, 0.5, 0.2, 0.0}}};
    for (const Case &c : cases)
    {
        const SRF_FitData data = SRF_FitReader::read(generate("linear.astm", c.model, c.truth, 0, 0.0));
        std::vector<double> p = c.truth;
        SRF_RobustFitter::fitColours(data, c.model, p.data());
        for (int i = 0; i < int(p.size()); ++i)
            EXPECT_TRUE(std::isnan(c.expected[i]) || std::fabs(p[i] - c.expected[i]) < 1e-6)
                << SRF_FitModel::parameterName(c.model, i) << " = " << p[i];
    }
}

namespace
{
// The model's directional albedo for u, the integral of f cos(theta_s) over
// the upper hemisphere, by a quadrature of its own: a fine grid over the
// scattered direction's polar angle and azimuth (the exporter integrates
// over half vectors).
void modelAlbedo(SRF_FitModel::Kind kind, const std::vector<double> &p, const double u[3], double albedo[3])
{
    const int POLAR = 900, AZIMUTH = 720;
    albedo[0] = albedo[1] = albedo[2] = 0.0;
    for (int i = 0; i < POLAR; ++i)
    {
        const double theta = 0.5 * SRF_PI_DOUBLE * (i + 0.5) / POLAR, dTheta = 0.5 * SRF_PI_DOUBLE / POLAR;
        for (int j = 0; j < AZIMUTH; ++j)
        {
            const double phi = 2.0 * SRF_PI_DOUBLE * (j + 0.5) / AZIMUTH;
            const double v[3] = {std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi), std::cos(theta)};
            double f[3];
            SRF_FitModel::evaluate(kind, p.data(), u, v, f);
            const double weight = v[2] * std::sin(theta) * dTheta * (2.0 * SRF_PI_DOUBLE / AZIMUTH);
            for (int c = 0; c < 3; ++c)
                albedo[c] += f[c] * weight;
        }
    }
}

// The mean colour weight of a BSDF's samples for u about n = (0, 0, 1),
// over a grid of random numbers: the light it gathers from a uniform sky.
void sampledAlbedo(const SRF_BSDF &bsdf, const double u[3], double albedo[3])
{
    const int GRID = 200;
    double sum[3] = {0.0, 0.0, 0.0};
    const BX_Vector3 in{float(u[0]), float(u[1]), float(u[2])}, n{0.0f, 0.0f, 1.0f};
    for (int i = 0; i < GRID; ++i)
        for (int j = 0; j < GRID; ++j)
        {
            BX_Vector3 v, colour;
            float scalar;
            int bounce;
            bsdf.sample(in, n, v, colour, scalar, bounce, (i + 0.5f) / GRID, (j + 0.5f) / GRID, 0, 15);
            if (v.z > 0.0f)
                sum[0] += colour.x, sum[1] += colour.y, sum[2] += colour.z;
        }
    for (int c = 0; c < 3; ++c)
        albedo[c] = sum[c] / (double(GRID) * GRID);
}

// Incidence theta in degrees at azimuth 0 (along dPds, y) or 90 (along x).
std::array<double, 3> incidence(int degrees, int azimuth)
{
    const double t = degrees * SRF_PI_DOUBLE / 180;
    return {azimuth ? std::sin(t) : 0.0, azimuth ? 0.0 : std::sin(t), std::cos(t)};
}
} // namespace

// The shader of a fit reflects what the model reflects. The parameters are
// those of robust fits of glossy paints (a narrow Phong highlight, an
// isotropic Ashikhmin one and the anisotropic one of a red paint, whose
// albedo at 60 degrees differs by a fifth between the two azimuths) and a
// Phong highlight alone.
// - The compiled shader's albedo (its evaluatePdf integrated) is within 5 %
//   per channel of the model's, by an independent quadrature, at incidence
//   0, 30 and 60 degrees in both azimuths; so is the exporter's own
//   quadrature of the model, within 0.5 %.
// - Each term alone gathers, as its sampler draws, the light that the
//   quadrature of its evaluatePdf says (within 1 %).
// - The text names the library lobe of every term.
TEST(FitShader, ReflectsWhatTheModelReflects)
{
    struct Case
    {
        SRF_FitModel::Kind kind;
        std::vector<double> p;
    } const cases[] = {
        {SRF_FitModel::PHONG, {0.16, 0.15, 0.146, 0.0214, 0.00274, 0.00359, 9104}},
        {SRF_FitModel::PHONG, {0.5, 0.4, 0.3, 0.0, 0.0, 0.0, 2000}},
        {SRF_FitModel::ASHIKHMIN, {24.7, 24.7, 0.032, 0.0058, 0.019, 0.041, 0.0088, 0.0014}},
        {SRF_FitModel::ASHIKHMIN, {8.36, 67.0, 0.0407, 0.0176, 0.0285, 0.0392, 0.0054, 0.0}},
    };
    for (const Case &k : cases)
    {
        SRF_Fitter::Result result;
        result.parameters = SRF_FitParameters(k.kind, k.p);
        const std::vector<SRF_FitShader::Term> terms = SRF_FitShader::terms(result.parameters);
        const std::string text = SRF_FitShader::text(result, "test", terms);
        EXPECT_NE(text.find(k.kind == SRF_FitModel::PHONG
                                ? "highlight: library lobe blinn of exponent " + std::to_string(int(k.p[6] / 2))
                                : std::string("highlight: library lobe ashikhmin of exponents")),
                  std::string::npos)
            << text;
        const SRF_FitTree shader(text);
        for (int degrees : {0, 30, 60})
            for (int azimuth : {0, 1})
            {
                const std::array<double, 3> u = incidence(degrees, azimuth);
                double expected[3], fitted[3], got[3];
                modelAlbedo(k.kind, k.p, u.data(), expected);
                SRF_FitShader::modelAlbedo(result.parameters, u.data(), fitted);
                shader.albedo(u.data(), got);
                for (int c = 0; c < 3; ++c)
                {
                    if (expected[c] == 0.0)
                        continue;
                    EXPECT_NEAR(fitted[c] / expected[c], 1.0, 5e-3);
                    EXPECT_NEAR(got[c] / expected[c], 1.0, 0.05)
                        << SRF_Fitter::modelName(k.kind) << " " << k.p[0] << " at " << degrees << " degrees, azimuth "
                        << 90 * azimuth << ", channel " << c << ": " << got[c] << " against " << expected[c];
                }
            }
        // Each term alone: a sum's choice by the terms' albedos picks a
        // narrow highlight too rarely for a grid of samples to see it.
        for (const SRF_FitShader::Term &term : terms)
        {
            const SRF_FitTree alone(SRF_FitShader::text(result, "test", {term}));
            for (const auto &u : {incidence(30, 0), incidence(60, 1)})
            {
                double sampled[3], integrated[3];
                sampledAlbedo(alone.bsdf(), u.data(), sampled);
                alone.albedo(u.data(), integrated);
                for (int c = 0; c < 3; ++c)
                    EXPECT_TRUE(term.colour[c] == 0.0 || std::fabs(integrated[c] / sampled[c] - 1.0) < 0.01)
                        << "channel " << c << ": " << integrated[c] << " integrated, " << sampled[c] << " sampled";
            }
        }
    }
}

// Rows beyond 75 degrees that fall in a straight line from the 75-degree
// row to 0 are dropped as fill, counted in the account, also when the line
// starts a few per cent off that row (a smoothed fill); a run that does not
// fall to 0, or whose line starts far from the 75-degree row, is kept.
// Wavelength units in capitals are read; a band outside the visible range
// is warned of.
TEST(FitReader, DropsFillRowsAndWarnsOfInvisibleBands)
{
    const double degree = SRF_PI_DOUBLE / 180;
    std::string rows;
    int count = 0;
    for (int azimuth = 0; azimuth < 4; ++azimuth)
        for (int s = 70; s <= 90; ++s)
        {
            // Azimuth 0 ramps from the 75-degree value, 2 from 9 % above it
            // with a wobble of 3 % (fills); 1 holds 0.2 to grazing; 3 ramps
            // from half the 75-degree value.
            const double start[4] = {0.2, 0.218, 0.2, 0.1}, wobble = azimuth == 2 && s % 2 ? 0.006 : 0.0;
            const double value = s <= 75 ? 0.2 : (azimuth == 1 ? 0.2 : start[azimuth] * (90 - s) / 15.0 + wobble);
            char row[160];
            snprintf(row, sizeof row, "%.10g,0,%.10g,%d,%.10g,%.10g,%.10g\n", 20 * degree, s * degree, azimuth, value,
                     0.5 * value, 0.25 * value);
            rows += row;
            ++count;
        }
    const SRF_FitData data =
        SRF_FitReader::read(write("fill.astm", "NUM_POINTS " + std::to_string(count) +
                                                   "\nVARS theta_i,phi_i,theta_s,phi_s,630NM,525Nm,465nm\n\n" + rows));
    EXPECT_EQ(data.size(), count - 30);
    std::string account;
    for (const std::string &line : data.account)
        account += line + "\n";
    EXPECT_NE(account.find("fill rows: 30 dropped"), std::string::npos) << account;
    EXPECT_NE(account.find("630NM -> R"), std::string::npos) << account;
    for (const SRF_FitData::Point &point : data.points)
    {
        const long azimuth = std::lround(std::atan2(point.scattered[0], point.scattered[1]));
        EXPECT_TRUE(point.scattered[2] > std::cos(75.5 * degree) || azimuth % 2 == 1) << azimuth;
    }

    const SRF_FitData some = SRF_FitReader::read(
        write("invisible.astm", "NUM_POINTS 1\nVARS theta_i theta_s 350nm 550nm 650nm 800nm\n\n0.1 0.2 1 1 1 1\n"));
    std::string warned;
    for (const std::string &line : some.account)
        warned += line + "\n";
    EXPECT_NE(warned.find("warning: 2 of 4 wavelength columns lie outside"), std::string::npos) << warned;
}

// A robust loss keeps a few wrong rows from pulling the fit: a Phong file
// with 2 % of its rows a hundred times too bright in blue is recovered by
// the robust fit within 2 %, and the least-squares fit is pulled away.
TEST(RobustFit, IgnoresAFewWrongRows)
{
    SKIP_WITHOUT_ROBUST_SOLVER();
    const std::vector<double> truth = {0.4, 0.3, 0.2, 0.2, 0.1, 0.05, 60};
    const SRF_FitData clean = SRF_FitReader::read(generate("artefact.astm", SRF_FitModel::PHONG, truth, 3));
    SRF_FitData data = clean;
    for (int i = 0; i < data.size(); i += 50)
        data.points[i].value[2] = 100.0 * data.points[i].value[2] + 5.0;
    SRF_Fitter::Options options;
    const std::vector<double> robust = SRF_Fitter::fit(data, options).parameters.values();
    for (int i = 0; i < int(truth.size()); ++i)
        EXPECT_NEAR(robust[i], truth[i], 0.02 * truth[i]) << SRF_FitModel::parameterName(SRF_FitModel::PHONG, i);
    options.loss = SRF_RobustFitter::NONE;
    const std::vector<double> squares = SRF_Fitter::fit(data, options).parameters.values();
    EXPECT_GT(std::fabs(squares[5] - truth[5]), 0.2 * truth[5]); // Kd.b pulled
    EXPECT_THROW(SRF_Fitter::parseLoss("l2"), std::invalid_argument);
}

// Bad requests get an exception, never a fit.
TEST(Fitter, RefusesBadRequests)
{
    SRF_FitData data;
    SRF_Fitter::Options options;
    EXPECT_THROW(SRF_Fitter::fit(data, options), std::invalid_argument); // no measurement
    const double value[3] = {0.1, 0.1, 0.1};
    data.add(0.1, 0.0, 0.2, 3.0, value);
    options.starts = 0;
    EXPECT_THROW(SRF_Fitter::fit(data, options), std::invalid_argument);
    options.starts = 1;
    options.solver = SRF_Fitter::DEFINED; // it needs a file to read
    EXPECT_THROW(SRF_Fitter::fit(data, options), std::invalid_argument);
    EXPECT_THROW(SRF_Fitter::parseMetric("rel"), std::invalid_argument);
    options.solver = SRF_Fitter::ROBUST;
    options.isotropic = true; // Phong has one exponent
    EXPECT_THROW(SRF_Fitter::fit(data, options), std::invalid_argument);
    options.isotropic = false; // a build without Ceres Solver has no robust solver
    if (!SRF_Fitter::HAS_ROBUST_SOLVER)
    {
        EXPECT_THROW(SRF_Fitter::fit(data, options), std::invalid_argument);
    }
}

// Parameters by name: the accessors read the places the names say, the
// setters write only their colour's three places, and a wrong count or
// model name is refused.
TEST(FitParameters, NamesTheLayout)
{
    SRF_FitParameters phong(SRF_FitModel::PHONG, {1, 2, 3, 4, 5, 6, 7});
    EXPECT_EQ(std::string(phong.name(3)) + phong.name(6), "Kd.rexponent");
    EXPECT_EQ(phong.specular(2), 3);
    EXPECT_EQ(phong.diffuse(0), 4);
    EXPECT_EQ(phong.exponentU(), 7);
    EXPECT_EQ(phong.exponentV(), 7);
    phong.setDiffuse(-1, -2, -3);
    EXPECT_EQ(phong.values(), (std::vector<double>{1, 2, 3, -1, -2, -3, 7}));
    phong.setSpecular(-4, -5, -6);
    EXPECT_EQ(phong.values(), (std::vector<double>{-4, -5, -6, -1, -2, -3, 7}));
    SRF_FitParameters ashikhmin(SRF_FitModel::ASHIKHMIN, {1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(std::string(ashikhmin.name(1)) + ashikhmin.name(2), "exponent.vRs.r");
    EXPECT_EQ(ashikhmin.exponentU(), 1);
    EXPECT_EQ(ashikhmin.exponentV(), 2);
    EXPECT_EQ(ashikhmin.specular(0), 3);
    EXPECT_EQ(ashikhmin.diffuse(2), 8);
    ashikhmin.setDiffuse(0, 0, 0);
    EXPECT_EQ(ashikhmin.values(), (std::vector<double>{1, 2, 3, 4, 5, 0, 0, 0}));
    EXPECT_THROW(SRF_FitParameters(SRF_FitModel::PHONG, {1, 2, 3}), std::invalid_argument);
    EXPECT_EQ(SRF_Fitter::parseModel("phong"), SRF_FitModel::PHONG);
    EXPECT_EQ(SRF_Fitter::parseModel("ashikhmin"), SRF_FitModel::ASHIKHMIN);
    EXPECT_THROW(SRF_Fitter::parseModel("blinn"), std::invalid_argument);
}

// Fits say what the data cannot decide: an isotropic Ashikhmin file fitted
// with one exponent keeps both equal and draws no warning on them, while a
// Phong file without a diffuse term finds Kd at its bound, and a highlight
// sharper than the bound sits at it.
TEST(Fitter, WarnsOfWhatTheDataCannotDecide)
{
    SKIP_WITHOUT_ROBUST_SOLVER();
    auto warned = [](const SRF_Fitter::Result &result, const std::string &what)
    {
        for (const std::string &warning : result.warnings)
            if (warning.find(what) != std::string::npos)
                return true;
        return false;
    };
    SRF_Fitter::Options options;
    options.model = SRF_FitModel::ASHIKHMIN;
    options.isotropic = true;
    const SRF_Fitter::Result iso = SRF_Fitter::fit(
        generate("iso.astm", SRF_FitModel::ASHIKHMIN, {80, 80, 0.05, 0.04, 0.06, 0.6, 0.3, 0.1}, 7), options);
    EXPECT_EQ(iso.parameters.exponentU(), iso.parameters.exponentV());
    EXPECT_NEAR(iso.parameters.exponentU(), 80.0, 1.6);
    EXPECT_FALSE(warned(iso, "exponent")) << (iso.warnings.empty() ? "" : iso.warnings[0]);

    options = SRF_Fitter::Options();
    const SRF_Fitter::Result noDiffuse =
        SRF_Fitter::fit(generate("nodiffuse.astm", SRF_FitModel::PHONG, {0.5, 0.5, 0.5, 0, 0, 0, 40}, 8), options);
    EXPECT_TRUE(warned(noDiffuse, "Kd.r sits at its lower bound 0"));
    EXPECT_FALSE(warned(noDiffuse, "exponent"));
    const SRF_Fitter::Result sharp =
        SRF_Fitter::fit(generate("bound.astm", SRF_FitModel::PHONG, {1, 1, 1, 0.1, 0.1, 0.1, 3e5}, 9), options);
    EXPECT_TRUE(warned(sharp, "exponent sits at its upper bound 100000"));
    // A diffuse albedo above 1 ends at 1, and says so.
    options.model = SRF_FitModel::ASHIKHMIN;
    const SRF_Fitter::Result bright = SRF_Fitter::fit(
        generate("bright.astm", SRF_FitModel::ASHIKHMIN, {200, 200, 0.05, 0.04, 0.06, 1.6, 0.3, 0.1}, 10), options);
    EXPECT_EQ(bright.parameters.value(SRF_FitModel::ASHIKHMIN_RD), 1.0);
    EXPECT_TRUE(warned(bright, "Rd.r sits at its upper bound 1"));
}
