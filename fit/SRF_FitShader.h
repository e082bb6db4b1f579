#ifndef SRF_FITSHADER_H
#define SRF_FITSHADER_H

#include "SRF_FitModel.h"
#include "SRF_FitParameters.h"
#include "SRF_Fitter.h"

#include <string>
#include <vector>

// SRF_FitShader: a text shader that renders a fitted model with the
// library's analytic lobes and reflects what the model reflects: for an
// incident direction u, the mean colour weight of the shader's samples (the
// light a renderer gathers from a uniform sky) is the model's directional
// albedo, the integral of f cos(theta_s), and the lobes' values (colour
// weight x density) follow the model's f cos(theta_s) about its highlight.
//
// The shader is a sum of terms, each a library lobe times weights, times a
// colour:
// - diffuse: a Phong lobe about N ("phonglobe", value (e + 1) / (2 pi)
//   (v.n)^(2e + 1)); of exponent 1/2 for Phong, Kd (v.n)^2 exactly; of
//   exponent DIFFUSE_EXPONENT times (u.n v.n)^DIFFUSE_COUPLING for
//   Ashikhmin, whose diffuse albedo falls as (1 - (1 - u.n / 2)^5);
// - highlight: a Blinn lobe of half the Phong exponent (its value goes as
//   (h.n)^e, the model's shape) or an Ashikhmin lobe of half the model's
//   exponents (its value goes as c^p), times weights from a short list:
//   a Lafortune lobe (u.n v.n)^a, which dims grazing light as the model's
//   1 / max(u.n, v.n) and its loss below the horizon do; for Ashikhmin a
//   Lafortune lobe (-u_t.v_t)^FRESNEL_POWER, the Fresnel rise, and
//   1 - (T.v)^2 for a tangent T (three Phong lobes of exponent 2, about the
//   other tangent, its opposite and N), which dims light incident along T:
//   an anisotropic lobe loses more light below the horizon in its broad
//   direction. The fewest terms that match are kept, and the terms on one
//   lobe are written as that lobe times the sum of their weights and
//   colours: one lobe to sample, the same light.
//
// The colours are matched to the model's directional albedo at incidence 0
// to 60 degrees in two azimuths, both by quadrature: the model's formula
// (SRF_FitModel) against the compiled terms' evaluatePdf (SRF_FitTree).
// The diffuse colour is the model's diffuse colour times a least-squares
// scale; the highlights' colours solve non-negative least squares, for
// Ashikhmin one for the part that Rs scales and one for the Fresnel part
// that (1 - Rs) scales.
//
// Lobes' colours and the model's parameters must be finite 32-bit floats;
// a fit that is not raises std::runtime_error with a one-line message.
class SRF_FitShader
{
public:
    static constexpr double DIFFUSE_COUPLING = 0.386;
    static constexpr double DIFFUSE_EXPONENT = 0.4;
    static constexpr double FRESNEL_POWER = 8.8;

    // The library lobe of a term.
    enum Lobe
    {
        PHONG_ABOUT_N, // "phonglobe@BVF" about the normal
        BLINN,         // "blinn@BVF"
        ASHIKHMIN      // "ashikhmin@BVFFVV" on the tangents dPds, dPdt
    };
    // A weight 1 - (T.v)^2 for a tangent T: the sum of "phonglobe@BVF" of
    // exponent 2 about the other tangent S, about -S and about N.
    enum Tangent
    {
        NO_TANGENT,
        ACROSS_S, // T along dPds, the measurement frame's y
        ACROSS_T  // T along dPdt, its x
    };
    static constexpr double TANGENT_EXPONENT = 2.0;
    struct Term
    {
        bool diffuse = false; // renders the model's diffuse part, else its highlight
        Lobe lobe = BLINN;
        double exponents[2] = {0.0, 0.0}; // the lobe's (one for Phong and Blinn)
        double coupling = 0.0;            // weight (u.n v.n)^coupling, none at 0
        double fresnelPower = 0.0;        // weight (-u_t.v_t)^fresnelPower, none at 0
        Tangent tangent = NO_TANGENT;
        double colour[3] = {0.0, 0.0, 0.0};
    };

    // The terms that render the model with these parameters.
    static std::vector<Term> terms(const SRF_FitParameters &parameters);
    // The shader's text for a fit of the file `source`, and for terms
    // already worked out (one alone, for instance).
    static std::string text(const SRF_Fitter::Result &result, const std::string &source);
    static std::string text(const SRF_Fitter::Result &result, const std::string &source,
                            const std::vector<Term> &terms);
    // Writes a shader's text; raises std::runtime_error when the file
    // cannot be written.
    static void write(const std::string &path, const std::string &text);

    // The model's directional albedo for u (measurement frame), the
    // integral of f cos(theta_s), by quadrature.
    static void modelAlbedo(const SRF_FitParameters &parameters, const double u[3], double albedo[3]);
    // The largest exponent of a weight that leaves the sampling to the
    // lobe (a product samples its operand of larger e / (e + 1)).
    static double largestWeightExponent(Lobe lobe, const double exponents[2]);
};

#endif
