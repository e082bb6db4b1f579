#ifndef SRF_FITMODEL_H
#define SRF_FITMODEL_H

#include "SRF_Constants.h"
#include "SRF_MeasuredAshikhmin.h"

#include <cmath>

// SRF_FitModel: the two reflectance models that measurements are fitted
// to, with the parameters and formulas of SRF_MeasuredPhong and
// SRF_MeasuredAshikhmin, evaluated about the normal (0, 0, 1) in double
// precision, or in the dual numbers of automatic differentiation (T is a
// double or any type with the arithmetic and exp, log and sqrt of one).
//
// Two forms differ from the single-precision models where those lose all
// precision, and agree everywhere else: the Ashikhmin exponent divides by
// a^2 + b^2 (equal to 1 - c^2 for a unit half vector, but exact near the
// peak), and a half vector along the normal gives the lobe 1 whatever the
// exponent; a specular term whose denominator k max(N.u, N.v) is not
// positive is 0 instead of infinite.
class SRF_FitModel
{
public:
    enum Kind
    {
        PHONG,
        ASHIKHMIN
    };
    // Where each parameter sits in the array that the solvers fit and the
    // formulas below read: the one statement of the layout. A colour takes
    // three places, red first.
    static constexpr int PHONG_KS = 0;
    static constexpr int PHONG_KD = 3;
    static constexpr int PHONG_EXPONENT = 6;
    static constexpr int PHONG_PARAMETERS = 7;
    static constexpr int ASHIKHMIN_EXPONENT_U = 0; // along T1, the measurement frame's y
    static constexpr int ASHIKHMIN_EXPONENT_V = 1; // along T2, its x
    static constexpr int ASHIKHMIN_RS = 2;
    static constexpr int ASHIKHMIN_RD = 5;
    static constexpr int ASHIKHMIN_PARAMETERS = 8;
    static constexpr int MAX_PARAMETERS = 8;

    // The first places of the highlight's colour (Ks, Rs) and the diffuse
    // colour (Kd, Rd); whether parameter i is one of Ashikhmin's colours,
    // reflectances (at most 1): Rs at normal incidence, Rd the diffuse
    // albedo. (Rd unbounded lets a fit trade Rs -> 1 against Rd -> infinity,
    // their product (1 - Rs) Rd finite, and a broad highlight lobe then
    // stands in for the diffuse term.)
    static int specularColour(Kind kind) { return kind == PHONG ? PHONG_KS : ASHIKHMIN_RS; }
    static int diffuseColour(Kind kind) { return kind == PHONG ? PHONG_KD : ASHIKHMIN_RD; }
    static bool isReflectance(Kind kind, int i)
    {
        return kind == ASHIKHMIN && i >= ASHIKHMIN_RS && i < ASHIKHMIN_RD + 3;
    }

    static int parameterCount(Kind kind) { return kind == PHONG ? PHONG_PARAMETERS : ASHIKHMIN_PARAMETERS; }
    // "Ks.r", ..., "exponent"; "exponent.u", "exponent.v", "Rs.r", ...
    static const char *parameterName(Kind kind, int i);
    // Whether parameter i is an exponent (fitted in log space).
    static bool isExponent(Kind kind, int i)
    {
        return kind == PHONG ? i == PHONG_EXPONENT : i == ASHIKHMIN_EXPONENT_U || i == ASHIKHMIN_EXPONENT_V;
    }

    // colour = the model's value for the pair of unit directions u, v.
    template <class T> static void evaluate(Kind kind, const T *p, const double u[3], const double v[3], T colour[3])
    {
        if (kind == PHONG)
            phong(p, u, v, colour);
        else
            ashikhmin(p, u, v, colour);
    }

    // f = Kd (v.n) + Ks (h.n)^e, h = normalise(u + v), zero unless v.n > 0
    // and h.n > 0.
    template <class T> static void phong(const T *p, const double u[3], const double v[3], T colour[3])
    {
        using std::exp;
        double h[3];
        halfVector(u, v, h);
        const double cv = v[2], ch = h[2];
        for (int c = 0; c < 3; ++c)
            colour[c] = T(0.0);
        if (!(cv > 0.0) || !(ch > 0.0))
            return;
        const T lobe = exp(p[PHONG_EXPONENT] * std::log(ch));
        for (int c = 0; c < 3; ++c)
            colour[c] = p[PHONG_KD + c] * cv + p[PHONG_KS + c] * lobe;
    }

    // With T1 = (0, -1, 0), T2 = (-1, 0, 0) about n = (0, 0, 1), h the half
    // vector, a = h.T1, b = h.T2, c = h.n, k = h.u:
    //   S = F sqrt((nu1 + 1)(nu2 + 1)) / (8 pi) c^((nu1 a^2 + nu2 b^2) / (a^2 + b^2))
    //       / (k max(u.n, v.n)),  F = Rs + (1 - Rs)(1 - k)^5,  0 unless c > 0;
    //   D = 28 / (23 pi) Rd (1 - Rs) (1 - (1 - u.n / 2)^5) (1 - (1 - v.n / 2)^5).
    template <class T> static void ashikhmin(const T *p, const double u[3], const double v[3], T colour[3])
    {
        using std::exp;
        using std::sqrt;
        double h[3];
        halfVector(u, v, h);
        const double a = -h[1], b = -h[0], c = h[2];
        const double k = h[0] * u[0] + h[1] * u[1] + h[2] * u[2];
        const double cu = u[2], cv = v[2];
        const double m = cu > cv ? cu : cv;
        const double fresnel = pow5(1.0 - k);
        const double diffuse =
            SRF_MeasuredAshikhmin::DIFFUSE_NORMALISATION * (1.0 - pow5(1.0 - 0.5 * cu)) * (1.0 - pow5(1.0 - 0.5 * cv));
        T specular = T(0.0);
        if (c > 0.0 && m * k > 0.0)
        {
            const double across = a * a + b * b;
            T lobe = T(1.0);
            if (across > 0.0)
                lobe = exp((p[ASHIKHMIN_EXPONENT_U] * (a * a) + p[ASHIKHMIN_EXPONENT_V] * (b * b)) *
                           (std::log(c) / across));
            specular = sqrt((p[ASHIKHMIN_EXPONENT_U] + 1.0) * (p[ASHIKHMIN_EXPONENT_V] + 1.0)) *
                       (SRF_INV_EIGHT_PI_DOUBLE / (m * k)) * lobe;
        }
        for (int i = 0; i < 3; ++i)
        {
            const T rs = p[ASHIKHMIN_RS + i];
            colour[i] = (rs + (1.0 - rs) * fresnel) * specular + p[ASHIKHMIN_RD + i] * (1.0 - rs) * diffuse;
        }
    }

    static void halfVector(const double u[3], const double v[3], double h[3])
    {
        for (int i = 0; i < 3; ++i)
            h[i] = u[i] + v[i];
        const double length = std::sqrt(h[0] * h[0] + h[1] * h[1] + h[2] * h[2]);
        for (int i = 0; i < 3 && length > 0.0; ++i)
            h[i] /= length;
    }

private:
    static double pow5(double x) { return x * x * x * x * x; }
};

#endif
