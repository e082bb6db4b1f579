#include "SRF_SphericalHarmonics.h"

#include "SRF_Constants.h"
#include "SRF_ScratchFloats.h"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>

namespace
{
const float SQRT_2 = 1.41421356f;
// A harmonic whose grid norm D is below this share of the norm it would
// have if its azimuthal factor were at its peak everywhere is one that the
// grid cannot see (all its columns sit on zeros of the factor).
const double VISIBLE_SHARE = 1e-6;

// The degree's share of the normalisation of Y_l^m, sqrt((2l + 1) / (4 pi)),
// with 1 / (4 pi) taken in double from the single-precision pi.
float degreeNormalisation(int l) { return static_cast<float>(std::sqrt((2.0 * l + 1.0) * (0.25 / double(SRF_PI)))); }

int coefficientIndex(int l, int m) { return l * l + l + m; }

// The azimuthal factor of Y(l, m): sqrt(2) cos(m phi), sqrt(2) sin(|m| phi)
// or 1.
float azimuthal(int m, float phi)
{
    if (m > 0)
        return SQRT_2 * std::cos(static_cast<float>(m) * phi);
    if (m < 0)
        return SQRT_2 * std::sin(static_cast<float>(-m) * phi);
    return 1.0f;
}
} // namespace

SRF_SphericalHarmonics::SRF_SphericalHarmonics() : myCoefficients(nullptr), myOrder(0) {}

SRF_SphericalHarmonics::SRF_SphericalHarmonics(const SRF_SphericalHarmonics &other) = default;

SRF_SphericalHarmonics &SRF_SphericalHarmonics::operator=(const SRF_SphericalHarmonics &other) = default;

SRF_SphericalHarmonics::~SRF_SphericalHarmonics() {}

void SRF_SphericalHarmonics::init(float *storage, int bands)
{
    myCoefficients = storage;
    myOrder = bands;
}

// c(l, m) = N / D over the grid (see the table overload).
void SRF_SphericalHarmonics::compress(const float *table, int nPhi, int nTheta)
{
    if (myOrder < 1 || !myCoefficients || !table || nPhi < 1 || nTheta < 1)
        return;
    // The projection only reads the table.
    float *source = const_cast<float *>(table);
    for (int l = 0; l < myOrder; ++l)
        for (int m = -l; m <= l; ++m)
            myCoefficients[coefficientIndex(l, m)] = sphericalHarmonics(source, nPhi, nTheta, l, m, nullptr);
}

// f(theta_j, phi_i) = sum_{l, m} c(l, m) Y(l, m)(theta_j, phi_i).
void SRF_SphericalHarmonics::decompress(float *table, int nPhi, int nTheta) const
{
    if (!table || nPhi < 1 || nTheta < 1)
        return;
    std::memset(table, 0, sizeof(float) * static_cast<std::size_t>(nPhi) * static_cast<std::size_t>(nTheta));
    if (myOrder < 1 || !myCoefficients)
        return;
    for (int l = 0; l < myOrder; ++l)
        for (int m = -l; m <= l; ++m)
            sphericalHarmonics(table, nPhi, nTheta, l, m, &myCoefficients[coefficientIndex(l, m)]);
}

void SRF_SphericalHarmonics::sample(float, float, float &, float &, float &) const {}

float SRF_SphericalHarmonics::getScaling() const { return (myCoefficients && myOrder >= 1) ? myCoefficients[0] : 0.0f; }

void SRF_SphericalHarmonics::dump() const
{
    if (!myCoefficients)
        return;
    for (int i = 0; i < myOrder * myOrder; ++i)
        fprintf(stderr, "%f\n", myCoefficients[i]);
}

// sqrt(a! / b!) = prod_{i = b+1}^{a} sqrt(i).
float SRF_SphericalHarmonics::sqrtfactorial(int a, int b) const
{
    float product = 1.0f;
    for (int i = b + 1; i <= a; ++i)
        product *= std::sqrt(static_cast<float>(i));
    return product;
}

// P_0 = 1, P_{i+1}(x) = ((2i + 1) x P_i(x) - i P_{i-1}(x)) / (i + 1).
float SRF_SphericalHarmonics::legendre(float x, int n) const
{
    float previous = 0.0f;
    float current = 1.0f;
    for (int i = 0; i < n; ++i)
    {
        const float fi = static_cast<float>(i);
        const float next = ((2.0f * fi + 1.0f) * x * current - fi * previous) / (fi + 1.0f);
        previous = current;
        current = next;
    }
    return current;
}

// P(m, m) = prod_{i=1}^{m} (2i - 1) s, then upward in l:
// P(i + 1, m) = ((2i + 1) x P(i, m) - (i + m) P(i - 1, m)) / (i - m + 1).
float SRF_SphericalHarmonics::associatedLegendre(float x, float s, int l, int m) const
{
    float pmm = 1.0f;
    for (int i = 1; i <= m; ++i)
        pmm *= static_cast<float>(2 * i - 1) * s;
    if (l <= m)
        return pmm;
    if (m == 0)
        return legendre(x, l);
    float previous = 0.0f;
    float current = pmm;
    for (int i = m; i < l; ++i)
    {
        const float next = (static_cast<float>(2 * i + 1) * x * current - static_cast<float>(i + m) * previous) /
                           static_cast<float>(i - m + 1);
        previous = current;
        current = next;
    }
    return current;
}

// Y(l, m)(theta, phi) = K(l, |m|) P(l, |m|, cos theta) times the azimuthal
// factor.
float SRF_SphericalHarmonics::sphericalHarmonics(float phi, float theta, int l, int m) const
{
    const int a = m < 0 ? -m : m;
    const float k = degreeNormalisation(l) / sqrtfactorial(l + a, l - a);
    return k * associatedLegendre(std::cos(theta), std::sin(theta), l, a) * azimuthal(m, phi);
}

// Over the grid, with w = sin theta_j dtheta dphi:
//   N = sum w f Y(l, m),  D = sum w Y(l, m)^2,  result N / D,
// the projection divided by the grid's own estimate of |Y(l, m)|^2. With a
// coefficient c the pass adds c Y(l, m) to every value instead.
float SRF_SphericalHarmonics::sphericalHarmonics(float *table, int nPhi, int nTheta, int l, int m,
                                                 const float *coefficient) const
{
    SRF_ScratchFloats phiScratch(static_cast<std::size_t>(nPhi));
    SRF_ScratchFloats thetaScratch(static_cast<std::size_t>(nTheta));
    float *phis = phiScratch.data();
    float *thetas = thetaScratch.data();
    if (!phis || !thetas)
        return 0.0f;
    // 2 pi in double (from the single-precision constant), rounded to float
    // only after dividing by the column count.
    const float dPhi = static_cast<float>(double(SRF_TWO_PI) / nPhi);
    const float dTheta = SRF_PI / static_cast<float>(nTheta);
    for (int i = 0; i < nPhi; ++i)
        phis[i] = (static_cast<float>(i) + 0.5f) * dPhi;
    for (int j = 0; j < nTheta; ++j)
        thetas[j] = (static_cast<float>(j) + 0.5f) * dTheta;

    const int a = m < 0 ? -m : m;
    const float k = degreeNormalisation(l) / sqrtfactorial(l + a, l - a);
    // Sums in double: a fine grid adds up hundreds of thousands of terms.
    double numerator = 0.0;
    double denominator = 0.0;
    double peakDenominator = 0.0;
    const double peak = m != 0 ? 2.0 : 1.0;
    for (int j = 0; j < nTheta; ++j)
    {
        const float sinTheta = std::sin(thetas[j]);
        const float kp = k * associatedLegendre(std::cos(thetas[j]), sinTheta, l, a);
        float *row = table + static_cast<std::size_t>(j) * static_cast<std::size_t>(nPhi);
        peakDenominator += static_cast<double>(sinTheta) * kp * kp * peak * dTheta * dPhi * nPhi;
        for (int i = 0; i < nPhi; ++i)
        {
            const float y = kp * azimuthal(m, phis[i]);
            if (coefficient)
            {
                row[i] += y * *coefficient;
            }
            else
            {
                const float w = sinTheta * y * dTheta * dPhi;
                numerator += w * row[i];
                denominator += w * y;
            }
        }
    }
    if (coefficient || !(denominator > VISIBLE_SHARE * peakDenominator))
        return 0.0f;
    return static_cast<float>(numerator / denominator);
}
