#ifndef SRF_FITTREE_H
#define SRF_FITTREE_H

#include <memory>
#include <string>

class KAL_Context;
class KAL_Instance;
class KAL_Shader;
class SRF_BSDF;

// SRF_FitTree: a shader text compiled and run through the library, as a
// renderer runs it, for one shading point with N = (0, 0, 1), dPds =
// (0, 1, 0) and dPdt = (1, 0, 0) (the measurement frame), and the light its
// BSDF reflects: the mean colour weight of its samples, the integral of
// evaluatePdf's value over the hemisphere, by quadrature. The export's
// matching and its checks integrate the very tree that a render samples.
//
// A text that does not compile, or leaves F without a BSDF, raises
// std::runtime_error with a one-line message.
class SRF_FitTree
{
public:
    explicit SRF_FitTree(const std::string &text);
    ~SRF_FitTree();
    SRF_FitTree(const SRF_FitTree &) = delete;
    SRF_FitTree &operator=(const SRF_FitTree &) = delete;

    const SRF_BSDF &bsdf() const { return *myBsdf; }

    // The directional albedo for the unit direction u (measurement frame):
    // the integral over v of the value that the BSDF's samples estimate.
    void albedo(const double u[3], double albedo[3]) const;

    // Quadrature over the half vectors h of the upper hemisphere, the polar
    // angle spaced as t^2 to resolve narrow highlights: f(h, d omega_h).
    // The directions v = 2 (h.u) h - u of a u above the surface cover its
    // hemisphere once, with d omega_v = 4 (h.u) d omega_h.
    template <class F> static void overHalfVectors(F f);

private:
    std::unique_ptr<KAL_Context> myContext;
    std::unique_ptr<KAL_Shader> myShader;
    std::unique_ptr<KAL_Instance> myInstance;
    const SRF_BSDF *myBsdf = nullptr;
};

#include "SRF_Constants.h"

#include <cmath>

template <class F> void SRF_FitTree::overHalfVectors(F f)
{
    const int POLAR = 240, AZIMUTH = 96;
    for (int i = 0; i < POLAR; ++i)
    {
        const double t = (i + 0.5) / POLAR, theta = 0.5 * SRF_PI_DOUBLE * t * t, dTheta = SRF_PI_DOUBLE * t / POLAR;
        const double area = std::sin(theta) * dTheta * (SRF_TWO_PI_DOUBLE / AZIMUTH);
        for (int j = 0; j < AZIMUTH; ++j)
        {
            const double phi = SRF_TWO_PI_DOUBLE * (j + 0.5) / AZIMUTH;
            const double h[3] = {std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi), std::cos(theta)};
            f(h, area);
        }
    }
}

#endif
