#ifndef SRF_WAVELET2D_H
#define SRF_WAVELET2D_H

#include "SRF_API.h"

// A square table of non-negative values, n x n with n = 2^k, stored as a 2D
// Haar pyramid of means and differences, and sampled by walking down the
// pyramid without rebuilding the table.
//
// Coefficient layout: position 0 holds the mean of all n^2 values. Step j
// of the pyramid (0 coarse ... k - 1 fine) has W x W nodes, W = 2^j,
// q = 4^j; node (r, c) keeps its three differences at q + r W + c,
// 2q + r W + c and 3q + r W + c. For a 2 x 2 block with a, b on the upper
// row and e, d on the lower one (a and e in the left column):
//   m = (a + b + e + d) / 4
//   D1 = (a - b + e - d) / 4   left column minus right column
//   D2 = (e + d - a - b) / 4   lower row minus upper row
//   D3 = (b + e - a - d) / 4   anti-diagonal minus diagonal
// Means are plain averages, so a node's mean is the mean of the table
// below it.
//
// The coefficient storage belongs to the caller; copies share it. Table
// value (r, c) is at r * n + c; rows go with y, columns with x.
//
// Level 0 (n = 1) keeps its single value as coefficient 0 and gives it back
// from decompress. A level below 0 counts as 0 and one above MAX_LEVEL as
// MAX_LEVEL. Sampling a pyramid whose mean is not positive (all zeros,
// negative values, NaN, no storage) prints the one error line of the library
// and leaves x = y = 0; negative values deeper down never divide by zero:
// the point stays in [0, 1]^2.
class SRF_API SRF_Wavelet2D
{
public:
    static const int MAX_LEVEL = 15;

    SRF_Wavelet2D();
    SRF_Wavelet2D(const SRF_Wavelet2D &other);
    SRF_Wavelet2D &operator=(const SRF_Wavelet2D &other);
    virtual ~SRF_Wavelet2D();

    // Binds n x n floats of coefficient storage; writes nothing.
    void init(float *coefficients, int level);
    // n x n table to pyramid; records the largest value (never below 0).
    void compress(const float *values);
    // Pyramid to n x n table.
    void decompress(float *values) const;
    // Draws (x, y) with density table(y, x) / mean and gives the value of the
    // chosen cell; sy decides rows, sx columns.
    void sample(float sx, float sy, float &x, float &y, float &value) const;
    // The mean of the table (coefficient 0).
    float getScaling() const;
    float getMaxValue() const { return myMaxValue; }
    // The n^2 coefficients, one "%f" line each, on the standard error stream.
    void dump() const;

    int getSize() const { return mySize; }
    int getLevel() const { return myLevel; }
    const float *getCoefficients() const { return myCoefficients; }

private:
    float *myCoefficients;
    float myMaxValue;
    float myScale;
    int mySize;
    int myLevel;
};

#endif
