#include "SRF_FitShader.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace
{
const double BLINN_SCALE = 4.0;                     // the Blinn lobe divides by 4 h.u
const double TWO_PI = 6.283185307179586;            // 2 pi
const double DIFFUSE_NORM = 0.38750768752669983;    // 28 / (23 pi)
const double DIFFUSE_AT_NORMAL = 0.96875 * 0.96875; // (1 - (1 - 1/2)^5)^2
const char *const DIRECTIONS = "theta_i,phi_i,theta_s,phi_s";

std::string vector3(const double *v)
{
    char text[96];
    snprintf(text, sizeof text, "%.6g %.6g %.6g", v[0], v[1], v[2]);
    return text;
}

std::string scalar(double x)
{
    char text[32];
    snprintf(text, sizeof text, "%.6g", x);
    return text;
}
} // namespace

SRF_FitShader::Lobes SRF_FitShader::lobes(SRF_FitModel::Kind model, const double *p)
{
    Lobes lobes;
    if (model == SRF_FitModel::PHONG)
    {
        for (int c = 0; c < 3; ++c)
        {
            lobes.diffuse[c] = p[3 + c];
            lobes.glossy[c] = BLINN_SCALE * p[c];
        }
        lobes.exponents[0] = lobes.exponents[1] = p[6];
        return lobes;
    }
    const double norm = std::sqrt((p[0] + 1.0) * (p[1] + 1.0)) / TWO_PI;
    for (int c = 0; c < 3; ++c)
    {
        lobes.diffuse[c] = DIFFUSE_NORM * DIFFUSE_AT_NORMAL * p[5 + c] * (1.0 - p[2 + c]);
        lobes.glossy[c] = norm * p[2 + c];
    }
    lobes.exponents[0] = p[0];
    lobes.exponents[1] = p[1];
    return lobes;
}

std::string SRF_FitShader::text(const SRF_Fitter::Result &result, const std::string &source)
{
    const std::vector<double> values = result.values();
    const Lobes lobes = SRF_FitShader::lobes(result.model, values.data());
    const bool phong = result.model == SRF_FitModel::PHONG;
    std::string text;
    text += std::string("# the ") + SRF_Fitter::modelName(result.model) + " model fitted to " + source + " (" +
            SRF_Fitter::solverName(result.solver) + " solver, " + SRF_Fitter::metricName(result.metric) +
            " metric; rms " + scalar(result.rms) + " over " + std::to_string(result.points) + " points)\n";
    text += std::string("# measurement frame: ") + DIRECTIONS + " about the normal N" +
            (phong ? "" : ", its y axis (exponent.u) along dPds and x (exponent.v) along dPdt") + "\n";
    if (phong)
        text += "# diffuse Kd (v.n) and a Blinn lobe 4 Ks (h.n)^e / (4 h.u), equal to Ks (h.n)^e where h.u = 1\n";
    else
        text += "# diffuse and Ashikhmin lobes equal to the model's terms where u = v = n\n";
    for (const auto &parameter : result.parameters)
        text += "#   " + parameter.first + " " + scalar(parameter.second) + "\n";
    text += "vector diffuseColour = " + vector3(lobes.diffuse) + "\n";
    text += "vector glossyColour  = " + vector3(lobes.glossy) + "\n";
    if (phong)
        text += "float  exponent = " + scalar(lobes.exponents[0]) + "\n";
    else
    {
        text += "float  exponentU = " + scalar(lobes.exponents[0]) + "\n";
        text += "float  exponentV = " + scalar(lobes.exponents[1]) + "\n";
        text += "varying vector tangentU\nvarying vector tangentV\n";
    }
    text += "bsdf   glossy\n";
    text += "diffuse@B F\nmul@BV    F diffuseColour\n";
    if (phong)
        text += "blinn@BF  glossy exponent\n";
    else
        text += "normalize@VV tangentU dPds\nnormalize@VV tangentV dPdt\n"
                "ashikhmin@BFFVV glossy exponentU exponentV tangentU tangentV\n";
    text += "mul@BV    glossy glossyColour\nadd@BB    F glossy\n";
    return text;
}

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
