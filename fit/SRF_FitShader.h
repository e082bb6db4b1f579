#ifndef SRF_FITSHADER_H
#define SRF_FITSHADER_H

#include "SRF_Fitter.h"

#include <string>

// SRF_FitShader: a text shader that renders a fitted model with the
// analytic lobes, reflecting what the model reflects: for an incident
// direction u, the mean colour weight of the shader's samples (the light a
// renderer gathers from a uniform sky) is the model's directional albedo,
// the integral of f cos(theta_s), and the lobes' values (colour weight x
// density) follow the model's f cos(theta_s) about its highlight.
//
// Phong, Kd (v.n) + Ks (h.n)^e: the diffuse term by a Phong lobe about N of
// exponent 1/2, whose value is 3 / (4 pi) (v.n)^2, exactly; the glossy term
// by a Blinn lobe of exponent e / 2 (value (e/2 + 1) / (2 pi) (h.n)^e /
// (16 (h.u)^2), the model's (h.n)^e shape) weighted by (u.n v.n)^a.
//
// Ashikhmin: the glossy term by an Ashikhmin lobe of half the exponents
// (its value goes as c^p, the model's shape) weighted by (u.n v.n)^a, the
// Fresnel rise (1 - k)^5 by a second such lobe also weighted by
// (sin^2 theta)^FRESNEL_POWER; the diffuse term by a Phong lobe about N of
// exponent DIFFUSE_EXPONENT weighted by (u.n v.n)^DIFFUSE_COUPLING, within
// 2.5 % of the model's albedo to 65 degrees (its falloff towards grazing
// v steeper than the model's). The weights are Lafortune lobes' values in a product.
//
// A glossy lobe's colour and coupling a are matched to the model: the
// lobe's directional albedo (the mean weight of its sampler, folding
// included, by quadrature over its half-vector density) against the
// model's (the integral of f cos(theta_s), by quadrature), at incidence 0
// to 60 degrees in two azimuths; a by a scan and golden sections for the
// smallest largest error, the colour by least squares.
//
// Lobes' colours and the model's parameters must be finite 32-bit floats;
// a fit that is not raises std::runtime_error with a one-line message.
class SRF_FitShader
{
public:
    // The shader's text for a fit of the file `source`.
    // The parts of the shader: all of them summed, or one alone (Phong has
    // no Fresnel part: its shader leaves F empty).
    enum Part
    {
        ALL,
        DIFFUSE,
        GLOSSY,
        FRESNEL
    };
    static std::string text(const SRF_Fitter::Result &result, const std::string &source, Part part = ALL);
    // Writes it; raises std::runtime_error when the file cannot be written.
    static void write(const std::string &path, const SRF_Fitter::Result &result, const std::string &source);

    static constexpr double DIFFUSE_COUPLING = 0.386;
    static constexpr double DIFFUSE_SCALE = 0.9921;
    static constexpr double DIFFUSE_EXPONENT = 0.4;
    static constexpr double FRESNEL_POWER = 8.8;

    // The lobes' colours and exponents: diffuse colour, glossy colour,
    // Fresnel colour and the two exponents (equal for Phong).
    struct Lobes
    {
        double diffuse[3];
        double glossy[3];
        double fresnel[3]; // Ashikhmin's Fresnel lobe; 0 for Phong
        double exponents[2];
        // The glossy lobes' weights (u.n v.n)^coupling.
        double glossyCoupling;
        double fresnelCoupling;
        double fresnelPower; // FRESNEL_POWER, or less for a broad lobe
    };
    static Lobes lobes(SRF_FitModel::Kind model, const double *parameters);
    // The text for lobes already worked out.
    static std::string text(const SRF_Fitter::Result &result, const std::string &source, const Lobes &lobes,
                            Part part = ALL);

    // The mean colour weight, for u about the normal (0, 0, 1), of a Blinn
    // (exponent e1) or Ashikhmin lobe (e1 along y, e2 along x) weighted by
    // (u.n v.n)^coupling and, when fresnel > 0, (-u_t.v_t)^fresnel, by
    // quadrature over the sampler's half-vector density.
    // The directional albedo for u (about the normal (0, 0, 1)) of the
    // model with parameters p and of the shader of its lobes, both by
    // quadrature: the integral of f cos(theta_s), and the mean colour
    // weight of the shader's samples.
    static void albedos(SRF_FitModel::Kind model, const double *p, const Lobes &lobes, const double u[3],
                        double fitted[3], double exported[3]);
    // The largest exponent of a weight that leaves the sampling to the
    // lobe (a product samples its operand of larger e / (e + 1)).
    static double largestWeightExponent(bool blinn, double e1, double e2);
    static double glossyAlbedo(bool blinn, double e1, double e2, double coupling, double fresnel, const double u[3]);
};

#endif
