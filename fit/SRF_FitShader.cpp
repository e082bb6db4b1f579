#include "SRF_FitShader.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace
{
const double PI = 3.14159265358979323846;
const char *const DIRECTIONS = "theta_i,phi_i,theta_s,phi_s";
// Glossy lobes are matched to the model's albedo from normal incidence to
// this many degrees, with weights (u.n v.n)^a up to MAX_COUPLING.
const int MATCHED_DEGREES = 60;
const double MAX_COUPLING = 3.0;

std::string vector3(const double *v)
{
    char text[96];
    snprintf(text, sizeof text, "%.7g %.7g %.7g", v[0], v[1], v[2]);
    return text;
}

std::string scalar(double x)
{
    char text[32];
    snprintf(text, sizeof text, "%.7g", x);
    return text;
}

// The shader's numbers are 32-bit floats: a value that is not finite or
// beyond their range would render as nothing or as infinity.
void checkFloat(const std::string &what, double x)
{
    if (!std::isfinite(x) || std::fabs(x) > FLT_MAX)
        throw std::runtime_error("cannot export the fit: " + what + " = " + scalar(x) +
                                 " is not a finite 32-bit float");
}
} // namespace

namespace
{
// A glossy lobe of the shader as its sampler draws it: a Blinn or an
// Ashikhmin half-vector lobe (exponents e1 along dPds, e2 along dPdt, as in
// the measurement frame: dPds = y, dPdt = x, N = z), weighted by the
// Lafortune factors (u.n v.n)^coupling and, when fresnel > 0,
// (-u_t.v_t)^fresnel.
struct Glossy
{
    bool blinn;
    double e1, e2;
    double coupling;
    double fresnel;
};

double dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// The Ashikhmin exponent of a unit half vector h in the measurement frame.
double blend(double e1, double e2, const double h[3])
{
    const double across = h[0] * h[0] + h[1] * h[1];
    return across > 0.0 ? (e1 * h[1] * h[1] + e2 * h[0] * h[0]) / across : 0.5 * (e1 + e2);
}

// Quadrature points over the half vectors of the upper hemisphere, the
// polar angle spaced as t^2 to resolve narrow lobes: f(h, d omega).
template <class F> void overHalfVectors(F f)
{
    const int POLAR = 240, AZIMUTH = 96;
    for (int i = 0; i < POLAR; ++i)
    {
        const double t = (i + 0.5) / POLAR, theta = 0.5 * PI * t * t, dTheta = PI * t / POLAR;
        const double area = std::sin(theta) * dTheta * (2.0 * PI / AZIMUTH);
        for (int j = 0; j < AZIMUTH; ++j)
        {
            const double phi = 2.0 * PI * (j + 0.5) / AZIMUTH;
            const double h[3] = {std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi), std::cos(theta)};
            f(h, area);
        }
    }
}

// The mean colour weight of the lobe's samples for u: the integral over the
// sampler's half-vector density of its weight, with the direction folded
// above the surface as the sampler folds it.
double sampledAlbedo(const Glossy &lobe, const double u[3])
{
    double sum = 0.0;
    const double norm =
        lobe.blinn ? (lobe.e1 + 1.0) / (2.0 * PI) : std::sqrt((lobe.e1 + 1.0) * (lobe.e2 + 1.0)) / (2.0 * PI);
    const double ut[3] = {u[0], u[1], 0.0};
    overHalfVectors(
        [&](const double *hs, double area)
        {
            const double c = hs[2];
            const double power = lobe.blinn ? lobe.e1 : blend(lobe.e1, lobe.e2, hs);
            const double density = norm * std::pow(c, power);
            double h[3] = {hs[0], hs[1], hs[2]};
            if (dot(h, u) < 0.0)
                h[0] = -h[0], h[1] = -h[1], h[2] = -h[2];
            const double k = dot(h, u);
            double v[3] = {2.0 * k * h[0] - u[0], 2.0 * k * h[1] - u[1], 2.0 * k * h[2] - u[2]};
            if (v[2] <= 0.0)
                v[2] = -v[2];
            double weight;
            if (lobe.blinn)
                weight = k > 0.0 ? std::pow(c, lobe.e1) / (4.0 * k) : 0.0;
            else
            {
                double g[3];
                SRF_FitModel::halfVector(u, v, g);
                const double kg = dot(g, u);
                weight = g[2] > 0.0 && kg > 0.0 ? std::pow(g[2], blend(lobe.e1, lobe.e2, g)) / (4.0 * kg) : 0.0;
            }
            const double q = u[2] * v[2];
            if (lobe.coupling > 0.0)
                weight *= q > 0.0 ? std::pow(q, lobe.coupling) : 0.0;
            if (lobe.fresnel > 0.0)
            {
                const double r = -dot(ut, v);
                weight *= r > 0.0 ? std::pow(r, lobe.fresnel) : 0.0;
            }
            sum += density * weight * area;
        });
    return sum;
}

// The model's directional albedo for u, the integral of f cos(theta_s).
double modelAlbedo(SRF_FitModel::Kind model, const double *p, const double u[3], int channel)
{
    double sum = 0.0;
    overHalfVectors(
        [&](const double *h, double area)
        {
            const double k = dot(h, u);
            const double v[3] = {2.0 * k * h[0] - u[0], 2.0 * k * h[1] - u[1], 2.0 * k * h[2] - u[2]};
            if (!(k > 0.0) || !(v[2] > 0.0))
                return;
            double f[3];
            SRF_FitModel::evaluate(model, p, u, v, f);
            sum += f[channel] * v[2] * 4.0 * k * area;
        });
    return sum;
}

// The colour C and coupling a for which C x the lobe's albedo best matches
// the model's over incidence 0 to MATCHED_DEGREES (two azimuths): C by
// least squares of the ratios, a for the smallest largest error.
//
// A product samples its more specular operand (by e / (e + 1) for these
// lobes): a weight's exponent stays below half the lobe's summed exponents,
// so that the lobe keeps the sampling.
double match(Glossy lobe, SRF_FitModel::Kind model, const double *p, int channel, double &colour, double &coupling)
{
    const double largest = std::min(SRF_FitShader::largestWeightExponent(lobe.blinn, lobe.e1, lobe.e2), MAX_COUPLING);
    std::vector<std::array<double, 3>> directions;
    for (int degrees = 0; degrees <= MATCHED_DEGREES; degrees += 10)
        for (int azimuth = 0; azimuth < (degrees ? 2 : 1); ++azimuth)
        {
            const double t = degrees * PI / 180.0;
            directions.push_back({azimuth ? std::sin(t) : 0.0, azimuth ? 0.0 : std::sin(t), std::cos(t)});
        }
    std::vector<double> target;
    double largestTarget = 0.0;
    for (const auto &u : directions)
    {
        target.push_back(modelAlbedo(model, p, u.data(), channel));
        largestTarget = std::max(largestTarget, target.back());
    }
    // The largest relative error with coupling a, and the colour for it.
    auto tryCoupling = [&](double a, double &c)
    {
        lobe.coupling = a;
        std::vector<double> ratio;
        double s1 = 0.0, s2 = 0.0;
        for (size_t j = 0; j < directions.size(); ++j)
        {
            const double r = target[j] > 0.0 ? sampledAlbedo(lobe, directions[j].data()) / target[j] : 0.0;
            ratio.push_back(r);
            s1 += r;
            s2 += r * r;
        }
        c = s2 > 0.0 ? s1 / s2 : 0.0;
        (void)c;
        // Errors relative to the target plus a tenth of the largest
        // target: a part that vanishes at some angle (the Fresnel rise at
        // normal incidence) need not match there in relative terms.
        double error = 0.0;
        for (size_t j = 0; j < ratio.size(); ++j)
            error = std::max(error, std::fabs(c * ratio[j] - 1.0) * target[j] / (target[j] + 0.1 * largestTarget));
        return error;
    };
    // A coarse scan, then golden sections about its best.
    const int STEPS = 8;
    double best = 0.0, bestError = HUGE_VAL;
    for (int i = 0; i <= STEPS; ++i)
    {
        double c;
        const double a = largest * i / STEPS, error = tryCoupling(a, c);
        if (error < bestError)
            bestError = error, best = a;
    }
    double low = std::max(best - largest / STEPS, 0.0), high = std::min(best + largest / STEPS, largest);
    const double GOLDEN = 0.6180339887498949;
    for (int i = 0; i < 8; ++i)
    {
        double c;
        const double a1 = high - GOLDEN * (high - low), a2 = low + GOLDEN * (high - low);
        if (tryCoupling(a1, c) < tryCoupling(a2, c))
            high = a2;
        else
            low = a1;
    }
    double c;
    const double middle = 0.5 * (low + high);
    coupling = tryCoupling(middle, c) < bestError ? middle : best;
    return tryCoupling(coupling, colour);
}
} // namespace

double SRF_FitShader::largestWeightExponent(bool blinn, double e1, double e2)
{
    // Blinn e / (e + 1) > a / (a + 1) for a < e; Ashikhmin (e1 + e2) /
    // (2 + e1 + e2) > a / (a + 1) for a < (e1 + e2) / 2; a margin of 5 %.
    return 0.95 * (blinn ? e1 : 0.5 * (e1 + e2));
}

double SRF_FitShader::glossyAlbedo(bool blinn, double e1, double e2, double coupling, double fresnel, const double u[3])
{
    return sampledAlbedo(Glossy{blinn, e1, e2, coupling, fresnel}, u);
}

void SRF_FitShader::albedos(SRF_FitModel::Kind model, const double *p, const Lobes &lobes, const double u[3],
                            double fitted[3], double exported[3])
{
    const bool phong = model == SRF_FitModel::PHONG;
    const double glossy = glossyAlbedo(phong, lobes.exponents[0], lobes.exponents[1], lobes.glossyCoupling, 0.0, u);
    const double rise = phong ? 0.0
                              : glossyAlbedo(false, lobes.exponents[0], lobes.exponents[1], lobes.fresnelCoupling,
                                             lobes.fresnelPower, u);
    // The diffuse lobes' albedos in closed form: Phong about N of exponent
    // 1/2, 1/2 (any Phong lobe's); of exponent e times (u.n v.n)^a, (u.n)^a (e + 1) / (2e + 2 + a).
    const double a = DIFFUSE_COUPLING, e = DIFFUSE_EXPONENT;
    const double diffuse = phong ? 0.5 : std::pow(u[2], a) * (e + 1.0) / (2.0 * e + 2.0 + a);
    for (int c = 0; c < 3; ++c)
    {
        fitted[c] = modelAlbedo(model, p, u, c);
        exported[c] = lobes.diffuse[c] * diffuse + lobes.glossy[c] * glossy + lobes.fresnel[c] * rise;
    }
}

SRF_FitShader::Lobes SRF_FitShader::lobes(SRF_FitModel::Kind model, const double *p)
{
    for (int i = 0; i < SRF_FitModel::parameterCount(model); ++i)
        checkFloat(SRF_FitModel::parameterName(model, i), p[i]);
    Lobes lobes;
    if (model == SRF_FitModel::PHONG)
    {
        // Diffuse: Kd (v.n)^2 = Kd 4 pi / 3 x the Phong lobe value 3 / (4 pi) (v.n)^2.
        // Glossy: a Blinn lobe of exponent e / 2, whose value goes as
        // (h.n)^e, times (u.n v.n)^a: colour and coupling a matched to the
        // model's albedo for Ks = 1.
        const double e = p[6];
        const double unit[SRF_FitModel::PHONG_PARAMETERS] = {1.0, 1.0, 1.0, 0.0, 0.0, 0.0, e};
        double scale;
        match(Glossy{true, 0.5 * e, 0.5 * e, 0.0, 0.0}, model, unit, 0, scale, lobes.glossyCoupling);
        for (int c = 0; c < 3; ++c)
        {
            lobes.diffuse[c] = p[3 + c] * 4.0 * PI / 3.0;
            lobes.glossy[c] = p[c] * scale;
            lobes.fresnel[c] = 0.0;
        }
        lobes.exponents[0] = lobes.exponents[1] = 0.5 * e;
        lobes.fresnelCoupling = lobes.glossyCoupling;
        lobes.fresnelPower = 0.0;
    }
    else
    {
        // Glossy: an Ashikhmin lobe of half the exponents, whose value goes
        // as c^p, times (u.n v.n)^a, matched to the model's specular albedo
        // with F = 1; the Fresnel rise (1 - Rs)(1 - k)^5 by a second such
        // lobe also weighted by (sin^2 theta)^FRESNEL_POWER (-u_t.v_t, that
        // is sin^2 theta at the peak), matched to the model's with
        // F = (1 - k)^5.
        // Diffuse: the model's directional albedo is Rd (1 - Rs) D(u.n),
        // D(x) = 1 - (1 - x / 2)^5; the Phong lobe about N of exponent e
        // (value (e + 1) / (2 pi) (v.n)^(2e + 1)) times (u.n v.n)^a has the
        // albedo (u.n)^a (e + 1) / (2e + 2 + a), and D(x) ~ DIFFUSE_SCALE x^a.
        // Its exponent e is a little above a, so that the product samples
        // the Phong lobe.
        const double specular[SRF_FitModel::ASHIKHMIN_PARAMETERS] = {p[0], p[1], 1.0, 1.0, 1.0, 0.0, 0.0, 0.0};
        const double rise[SRF_FitModel::ASHIKHMIN_PARAMETERS] = {p[0], p[1], 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
        double glossy, fresnel = 0.0;
        match(Glossy{false, 0.5 * p[0], 0.5 * p[1], 0.0, 0.0}, model, specular, 0, glossy, lobes.glossyCoupling);
        // The Fresnel power too from a short list, each with its matched
        // coupling and colour.
        const double largest = largestWeightExponent(false, 0.5 * p[0], 0.5 * p[1]);
        double bestError = HUGE_VAL;
        for (double power :
             {0.6 * FRESNEL_POWER, 0.8 * FRESNEL_POWER, FRESNEL_POWER, 1.25 * FRESNEL_POWER, 1.6 * FRESNEL_POWER})
        {
            if (power >= largest && power != 0.6 * FRESNEL_POWER)
                continue;
            power = std::min(power, largest);
            double c, a;
            const double error = match(Glossy{false, 0.5 * p[0], 0.5 * p[1], 0.0, power}, model, rise, 0, c, a);
            if (error < bestError)
            {
                bestError = error;
                fresnel = c;
                lobes.fresnelCoupling = a;
                lobes.fresnelPower = power;
            }
        }
        for (int c = 0; c < 3; ++c)
        {
            const double rs = p[2 + c];
            lobes.diffuse[c] = p[5 + c] * (1.0 - rs) * DIFFUSE_SCALE *
                               (2.0 * DIFFUSE_EXPONENT + 2.0 + DIFFUSE_COUPLING) / (DIFFUSE_EXPONENT + 1.0);
            lobes.glossy[c] = glossy * rs;
            lobes.fresnel[c] = fresnel * (1.0 - rs);
        }
        lobes.exponents[0] = 0.5 * p[0];
        lobes.exponents[1] = 0.5 * p[1];
    }
    for (int c = 0; c < 3; ++c)
    {
        checkFloat("the diffuse colour", lobes.diffuse[c]);
        checkFloat("the glossy colour", lobes.glossy[c]);
        checkFloat("the Fresnel colour", lobes.fresnel[c]);
    }
    return lobes;
}

std::string SRF_FitShader::text(const SRF_Fitter::Result &result, const std::string &source, Part part)
{
    const std::vector<double> values = result.values();
    if (int(values.size()) != SRF_FitModel::parameterCount(result.model))
        throw std::runtime_error("cannot export the fit: it has " + std::to_string(values.size()) +
                                 " parameters, not " + std::to_string(SRF_FitModel::parameterCount(result.model)));
    return text(result, source, lobes(result.model, values.data()), part);
}

std::string SRF_FitShader::text(const SRF_Fitter::Result &result, const std::string &source, const Lobes &lobes,
                                Part part)
{
    const bool phong = result.model == SRF_FitModel::PHONG;
    std::string text;
    text += std::string("# the ") + SRF_Fitter::modelName(result.model) + " model fitted to " + source + " (" +
            SRF_Fitter::solverName(result.solver) + " solver, " + SRF_Fitter::metricName(result.metric) + " metric" +
            (result.points > 0
                 ? "; rms per channel " + scalar(result.rms) + " over " + std::to_string(result.points) + " points"
                 : std::string()) +
            ")\n";
    text += std::string("# measurement frame: ") + DIRECTIONS + " about the normal N" +
            (phong ? "" : ", its y axis (exponent.u) along dPds and x (exponent.v) along dPdt") + "\n";
    text += "# the lobes' values (sampled colour x density) follow the model's f cos(theta_s): a render\n"
            "# reflects what the model reflects\n";
    if (phong)
        text += "# diffuse: a Phong lobe about N, exponent 1/2: Kd (v.n)^2 exactly\n"
                "# glossy: a Blinn lobe of exponent e/2 times (u.n v.n)^a, its colour and a matched to the\n"
                "# model's directional albedo from 0 to 60 degrees\n";
    else
        text += "# diffuse: a Phong lobe about N of exponent " + scalar(DIFFUSE_EXPONENT) + " times (u.n v.n)^" +
                scalar(DIFFUSE_COUPLING) +
                ": the model's albedo Rd (1 - Rs) (1 - (1 - u.n/2)^5) within 2.5 % to 65 degrees\n"
                "# glossy: an Ashikhmin lobe of half the exponents times (u.n v.n)^a, and a second one\n"
                "# times (sin^2 theta)^" +
                scalar(lobes.fresnelPower) +
                " for the Fresnel rise, their colours and a matched to the model's directional albedo\n"
                "# from 0 to 60 degrees\n";
    for (const auto &parameter : result.parameters)
        text += "#   " + parameter.first + " " + scalar(parameter.second) + "\n";
    text += "vector diffuseColour = " + vector3(lobes.diffuse) + "\n";
    text += "vector glossyColour  = " + vector3(lobes.glossy) + "\n";
    if (!phong)
        text += "vector fresnelColour = " + vector3(lobes.fresnel) + "\n";
    text += "vector up = 0 0 1\n";
    text += "varying vector normal\nbsdf   glossy\nbsdf   factor\n";
    text += "normalize@VV normal N\n";
    if (phong)
        text += "float  exponent = " + scalar(lobes.exponents[0]) + "\n";
    else
    {
        text += "vector across = 0 -1 0\n";
        text += "float  exponentU = " + scalar(lobes.exponents[0]) + "\n";
        text += "float  exponentV = " + scalar(lobes.exponents[1]) + "\n";
        text += "varying vector tangentU\nvarying vector tangentV\nbsdf   rise\n";
        text += "normalize@VV tangentU dPds\nnormalize@VV tangentV dPdt\n";
    }
    // Each part into its BSDF variable; the whole is their sum in F.
    const std::string diffuse = part == ALL || part == DIFFUSE ? "F" : "";
    const std::string glossy = part == GLOSSY ? "F" : part == ALL ? "glossy" : "";
    const std::string rise = part == FRESNEL ? "F" : part == ALL && !phong ? "rise" : "";
    if (!diffuse.empty() && phong)
        text += "phonglobe@BVF " + diffuse + " normal 0.5\nmul@BV        " + diffuse + " diffuseColour\n";
    else if (!diffuse.empty())
        text += "phonglobe@BVF " + diffuse + " normal " + scalar(DIFFUSE_EXPONENT) +
                "\nlafortune@BVVF factor normal up " + scalar(DIFFUSE_COUPLING) + "\nmul@BB        " + diffuse +
                " factor\nmul@BV        " + diffuse + " diffuseColour\n";
    if (!glossy.empty())
    {
        text += phong ? "blinn@BVF     " + glossy + " normal exponent\n"
                      : "ashikhmin@BVFFVV " + glossy + " normal exponentU exponentV tangentU tangentV\n";
        if (lobes.glossyCoupling > 0.0)
            text += "lafortune@BVVF factor normal up " + scalar(lobes.glossyCoupling) + "\nmul@BB        " + glossy +
                    " factor\n";
        text += "mul@BV        " + glossy + " glossyColour\n";
    }
    if (!rise.empty() && !phong)
    {
        text += "ashikhmin@BVFFVV " + rise + " normal exponentU exponentV tangentU tangentV\n";
        if (lobes.fresnelCoupling > 0.0)
            text += "lafortune@BVVF factor normal up " + scalar(lobes.fresnelCoupling) + "\nmul@BB        " + rise +
                    " factor\n";
        text += "lafortune@BVVF factor normal across " + scalar(lobes.fresnelPower) + "\nmul@BB        " + rise +
                " factor\nmul@BV        " + rise + " fresnelColour\n";
    }
    if (part == ALL)
        text += phong ? "add@BB        F glossy\n" : "add@BB        F glossy\nadd@BB        F rise\n";
    return text;
}

// All the shader's file writing is here, in one place.
void SRF_FitShader::write(const std::string &path, const SRF_Fitter::Result &result, const std::string &source)
{
    const std::string content = text(result, source);
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        throw std::runtime_error("cannot write '" + path + "': " + std::strerror(errno));
    const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    if (std::fclose(file) != 0 || !written)
        throw std::runtime_error("cannot write '" + path + "': " + std::strerror(errno));
}
