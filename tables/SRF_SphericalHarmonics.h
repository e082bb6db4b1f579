#ifndef SRF_SPHERICALHARMONICS_H
#define SRF_SPHERICALHARMONICS_H

#include "SRF_API.h"

// A function over the sphere, tabulated over the polar angle theta in
// [0, pi] (rows) and the azimuth phi in [0, 2 pi] (columns), represented by
// the coefficients of the real spherical harmonics of bands 0 ... order - 1.
//
// Coefficient (l, m), m = -l ... l, is at l^2 + l + m. The table of nPhi
// columns and nTheta rows samples the cell centres:
//   phi_i = (i + 0.5) 2 pi / nPhi,  theta_j = (j + 0.5) pi / nTheta,
// value (j, i) at j * nPhi + i. The basis, with a = |m|:
//   K = sqrt((2l + 1) / (4 pi) (l - a)! / (l + a)!)
//   Y(l, m) = K P(l, a, cos theta) sqrt(2) cos(a phi)   m > 0
//           = K P(l, a, cos theta) sqrt(2) sin(a phi)   m < 0
//           = K P(l, 0, cos theta)                      m = 0
// with P the associated Legendre function without the alternating sign.
//
// The coefficient storage (order^2 floats) belongs to the caller; copies
// share it. A table without rows or columns, or an order below 1, leaves
// the coefficients alone and decompress writes zeros; a harmonic that the
// grid cannot see (zero on every grid point) gets coefficient 0.
class SRF_API SRF_SphericalHarmonics
{
public:
    SRF_SphericalHarmonics();
    SRF_SphericalHarmonics(const SRF_SphericalHarmonics &other);
    SRF_SphericalHarmonics &operator=(const SRF_SphericalHarmonics &other);
    virtual ~SRF_SphericalHarmonics();

    // Binds order^2 floats of coefficient storage.
    void init(float *coefficients, int order);
    // Projects a table onto every coefficient.
    void compress(const float *table, int nPhi, int nTheta);
    // Rebuilds the table as the sum of coefficient(l, m) Y(l, m).
    void decompress(float *table, int nPhi, int nTheta) const;
    // No sampling: the outputs are left as they are.
    void sample(float sx, float sy, float &x, float &y, float &value) const;
    // Coefficient (0, 0).
    float getScaling() const;
    float getMaxValue() const { return 0.0f; }
    // The order^2 coefficients, one "%f" line each, on the standard error
    // stream; nothing without storage.
    void dump() const;

    int getOrder() const { return myOrder; }

    // Y(l, m) at the azimuth phi and the polar angle theta.
    float sphericalHarmonics(float phi, float theta, int l, int m) const;

private:
    // sqrt(a! / b!) = prod_{i = b+1}^{a} sqrt(i); 1 when b + 1 > a.
    float sqrtfactorial(int a, int b) const;
    // The Legendre polynomial P_n(x).
    float legendre(float x, int n) const;
    // P(l, m) at x = cos theta, s = sin theta, without the sign factor.
    float associatedLegendre(float x, float s, int l, int m) const;
    // Over the table's grid: with a coefficient, adds coefficient Y(l, m)
    // to every value (the table is written); without one (null), returns
    // the projection N / D of the table onto Y(l, m) (the table is read).
    float sphericalHarmonics(float *table, int nPhi, int nTheta, int l, int m, const float *coefficient) const;

    float *myCoefficients;
    int myOrder;
};

#endif
