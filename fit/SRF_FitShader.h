#ifndef SRF_FITSHADER_H
#define SRF_FITSHADER_H

#include "SRF_Fitter.h"

#include <string>

// SRF_FitShader: a text shader that renders a fitted model with the
// analytic lobes, so that a render samples it in proportion to its value.
//
// Phong, Kd (v.n) + Ks (h.n)^e: a diffuse lobe of colour Kd (its value is
// |N.v|, the model's diffuse term exactly) plus a Blinn lobe of exponent e
// and colour 4 Ks. The Blinn lobe's value (h.n)^e / (4 h.u) carries the
// Jacobian of mirroring the half vector, so it equals the model's
// Ks (h.n)^e where h.u = 1 and exceeds it by 1 / (h.u) elsewhere.
//
// Ashikhmin: a diffuse lobe of colour 28 / (23 pi) Rd (1 - Rs) (1 - 1/32)^2
// plus an Ashikhmin lobe of exponents exponent.u along dPds and exponent.v
// along dPdt and colour Rs sqrt((nu1 + 1)(nu2 + 1)) / (2 pi). Both equal the
// model's terms where u = v = n; elsewhere the shader leaves out the
// model's Fresnel factor and its 1 / max(u.n, v.n), and its diffuse lobe
// falls off as v.n where the model's falls off as 1 - (1 - v.n / 2)^5.
class SRF_FitShader
{
public:
    // The shader's text for a fit of the file `source`.
    static std::string text(const SRF_Fitter::Result &result, const std::string &source);
    // Writes it; raises std::runtime_error when the file cannot be written.
    static void write(const std::string &path, const SRF_Fitter::Result &result, const std::string &source);

    // The lobes' colours and exponents: diffuse colour, glossy colour and
    // the two exponents (equal for Phong).
    struct Lobes
    {
        double diffuse[3];
        double glossy[3];
        double exponents[2];
    };
    static Lobes lobes(SRF_FitModel::Kind model, const double *parameters);
};

#endif
