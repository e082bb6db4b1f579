#ifndef SRF_LANEMATH_H
#define SRF_LANEMATH_H

#include "SRF_Constants.h"

#include <cmath>
#include <cstdint>
#include <cstring>

// The elementary functions a lobe's formula calls, in two interchangeable
// sets with the same members:
//
// - SRF_StdMath: the C maths library. The per-lane queries use it.
// - SRF_LaneMath: straight-line code of additions, multiplications,
//   divisions, square roots, bit operations and selects, with no call and no
//   table, so that a loop over lanes that inlines it vectorises. The batch
//   queries use it. Each function works in double precision and rounds once
//   to float at the end, so its result is the correctly rounded value, or
//   one float unit off it, like the C library's: within 1e-5 relative of
//   SRF_StdMath (the ranges the lobes use are tested). The trigonometric
//   functions reduce their argument exactly over the whole float range
//   (a half-angle of 1e20 radians is the C library's angle too).
//
// A lobe writes its formula once, as an inline function template over the
// set; its per-lane query instantiates it with SRF_StdMath and its batch
// query with SRF_LaneMath.
struct SRF_StdMath
{
    static float pow(float x, float y) { return std::pow(x, y); }
    static float powNonNegative(float x, float y) { return std::pow(x, y); }
    static float sin(float a) { return std::sin(a); }
    static float cos(float a) { return std::cos(a); }
    // sin and cos of an angle within a few turns (see SRF_LaneMath).
    static float sinSmall(float a) { return std::sin(a); }
    static float cosSmall(float a) { return std::cos(a); }
    static float tan(float a) { return std::tan(a); }
    static float atan(float a) { return std::atan(a); }
    // sin(acos(c)) for c clamped to [-1, 1].
    static float sinOfAcos(float c) { return std::sin(std::acos(c < -1.0f ? -1.0f : (c > 1.0f ? 1.0f : c))); }
    // c ? a : b.
    static float pick(bool c, float a, float b) { return c ? a : b; }
};

struct SRF_LaneMath
{
    static float pow(float x, float y);
    // x^y where x is +0 or more, infinite or NaN (a cosine taken where it
    // is positive, a squared radius): pow's answer there, without the
    // negative-base cases, which cost pow a tenth of its time. Its answer
    // for a negative x is not pow's: callers pass none, or discard it.
    static float powNonNegative(float x, float y);
    static float sin(float a) { return float(sinCos(a, false)); }
    static float cos(float a) { return float(sinCos(a, true)); }
    // sin and cos of an angle within a few turns, as a sample's azimuth
    // 2 pi s (s in [0, 1]) is: a 2/pi in one double product, off by a few
    // units of 2^-52 there, in place of the exact reduction of any float
    // (eight products). Further out the error grows with |a| (about
    // |a| 2^-52 radians); the value stays finite.
    static float sinSmall(float a) { return float(sinCosOfTurns(a * TWO_OVER_PI, a, false)); }
    static float cosSmall(float a) { return float(sinCosOfTurns(a * TWO_OVER_PI, a, true)); }
    static float tan(float a) { return float(sinCos(a, false) / sinCos(a, true)); }
    static float atan(float a);
    static float sinOfAcos(float c);

    // log2 of a positive, finite, normal double.
    static double log2(double x);
    // 2^t for t in [-1022, 1023].
    static double exp2(double t);
    // sin(a) or cos(a) in double.
    static double sinCos(float a, bool cosine) { return sinCosOfTurns(quarterTurns(a), a, cosine); }
    // The same from `turns`, a 2/pi or that less a multiple of 4.
    static double sinCosOfTurns(double turns, float a, bool cosine);
    static constexpr double TWO_OVER_PI = 2.0 * SRF_INV_PI_DOUBLE;
    // a 2/pi less the nearest multiple of 4, in [-2, 2], to within 1e-15.
    static double quarterTurns(float a);

    // c ? a : b by bit masks: a test of the result downstream (a later pow
    // of it, a clamp) cannot be folded into selects of booleans, which the
    // vectoriser does not take.
    static float pick(bool c, float a, float b)
    {
        std::uint32_t ia, ib;
        std::memcpy(&ia, &a, sizeof ia);
        std::memcpy(&ib, &b, sizeof ib);
        const std::uint32_t m = 0u - std::uint32_t(c);
        const std::uint32_t r = (ia & m) | (ib & ~m);
        float f;
        std::memcpy(&f, &r, sizeof f);
        return f;
    }

private:
    // |x|^y rounded to float, for any y but NaN and any x but NaN, and but
    // +-1 with an infinite y (the limits where x is zero or infinite).
    static float magnitudeOfPow(float x, float y);
    static double fromBits(std::uint64_t bits)
    {
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }
    static std::uint64_t toBits(double d)
    {
        std::uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        return bits;
    }
    // Adding and subtracting 1.5 * 2^52 rounds a double of magnitude below
    // 2^51 to the nearest integer, and leaves that integer in the low bits.
    static constexpr double ROUNDER = 6755399441055744.0;
    static constexpr std::uint64_t ROUNDER_BITS = 0x4338000000000000ull;
};

// x = 2^e m with m in [sqrt(1/2), sqrt(2)); with f = (m - 1) / (m + 1),
// log2 m = f T(f^2), T(z) = (2 / ln 2) atanh(sqrt z) / sqrt z, which the
// polynomial below (fitted for the least greatest relative error over
// 0 <= z <= 0.02944, i.e. |f| <= 0.1716) matches within 4.3e-12: y log2 x
// stays within 1e-9 wherever x^y is a normal float (|y log2 x| < 150).
inline double SRF_LaneMath::log2(double x)
{
    const std::uint64_t bits = toBits(x);
    // The biased exponent as a double, without an integer conversion:
    // 2^52 + e_biased, less 2^52 + 1023.
    const double biased = fromBits((bits >> 52) | 0x4330000000000000ull) - 4503599627371519.0;
    const double m1 = fromBits((bits & 0x000FFFFFFFFFFFFFull) | 0x3FF0000000000000ull);
    const bool high = m1 > 1.4142135623730951;
    const double m = high ? m1 * 0.5 : m1;
    const double e = high ? biased + 1.0 : biased;
    const double f = (m - 1.0) / (m + 1.0);
    const double z = f * f;
    double series = 0.34072812786469636;
    series = series * z + 0.41167282073206923;
    series = series * z + 0.5770835833663219;
    series = series * z + 0.961796673349596;
    series = series * z + 2.8853900817900846;
    return e + f * series;
}

// t = k + r with k the nearest integer and |r| <= 1/2; 2^r by a polynomial
// of degree 7 fitted for the least greatest relative error over
// [-1/2, 1/2] (within 4.1e-11), and 2^k written into the exponent bits. With
// the logarithm's error, a power is within 1e-9 of x^y before its rounding
// to float (a float's unit is 6e-8 to 1.2e-7 of its value): correctly
// rounded, or rarely one unit off.
inline double SRF_LaneMath::exp2(double t)
{
    const double shifted = t + ROUNDER;
    const double k = shifted - ROUNDER;
    const double r = t - k;
    double p = 1.5201923145233276e-05;
    p = p * r + 0.00015469291195418025;
    p = p * r + 0.0013333922558352758;
    p = p * r + 0.009618027253502831;
    p = p * r + 0.055504103534525236;
    p = p * r + 0.24022651198158856;
    p = p * r + 0.6931471807284463;
    p = p * r + 0.9999999999616843;
    const double scale = fromBits((toBits(shifted) - ROUNDER_BITS + 1023u) << 52);
    return p * scale;
}

// |x|^y = 2^(y log2 |x|). A zero or infinite x has a logarithm of -1023 or
// 1024 here, taken 1e300 times: y log2 x then saturates by the sign of y
// alone, and 2^t is 0 or infinite, as the limits say. t is NaN only for a
// NaN y or an infinite y at |x| = 1, which the callers answer themselves:
// the clamp takes it to -300.
inline float SRF_LaneMath::magnitudeOfPow(float x, float y)
{
    const float ax = std::fabs(x);
    const bool edge = (ax == 0.0f) | (ax > 3.4028235e38f);
    const double lx = log2(double(ax)) * (edge ? 1e300 : 1.0);
    double t = double(y) * lx;
    t = t > -300.0 ? t : -300.0;
    t = t < 300.0 ? t : 300.0;
    return float(exp2(t));
}

// x^y with the C library's answers for the special cases: y = 0 or x = 1
// gives 1, and so does x = -1 with an infinite y; a NaN gives NaN, a zero or infinite x and an infinite y follow
// their limits, and a negative x gives NaN unless y is an integer (negative
// for odd y).
inline float SRF_LaneMath::pow(float x, float y)
{
    const float magnitude = magnitudeOfPow(x, y);
    // A negative base: an integer y (an infinite one counts) keeps the
    // magnitude, negated when odd; any other y gives NaN.
    const float halfY = y * 0.5f;
    const bool integer = std::trunc(y) == y;
    const bool odd = integer & (std::trunc(halfY) != halfY);
    float result = pick(std::signbit(x) & odd, -magnitude, magnitude);
    result = pick((x < 0.0f) & (x >= -3.4028235e38f) & !integer, NAN, result);
    result = pick((x != x) | (y != y), x + y, result);
    const bool minusOneToInfinity = (x == -1.0f) & (std::fabs(y) == INFINITY);
    return pick((y == 0.0f) | (x == 1.0f) | minusOneToInfinity, 1.0f, result);
}

inline float SRF_LaneMath::powNonNegative(float x, float y)
{
    const float result = pick((x != x) | (y != y), x + y, magnitudeOfPow(x, y));
    return pick((y == 0.0f) | (x == 1.0f), 1.0f, result);
}

// a 2/pi = sum over j of a C_j, with C_j the j-th 24 bits of 2/pi's
// binary expansion: each product of a float's 24-bit significand by 24 bits
// is exact in double, and so is its remainder modulo 4 (a product of 2^52
// or more is a multiple of 16). Eight chunks reach 2^-192, which the
// largest float (2^128) takes to 2^-64. The sum, kept within [-2, 2] by
// taking out multiples of 4 as it grows, from the smallest terms up, is off
// by a few units of 2^-52.
inline double SRF_LaneMath::quarterTurns(float a)
{
    const double x = a;
    double sum = 0.0;
    // Adds a C_j's remainder modulo 4, then takes the multiples of 4 out.
    const auto add = [&](double chunk)
    {
        const double t = x * chunk;
        const double k = (t * 0.25 + ROUNDER) - ROUNDER;
        sum += std::fabs(t) < 4503599627370496.0 ? t - 4.0 * k : 0.0;
        sum -= 4.0 * ((sum * 0.25 + ROUNDER) - ROUNDER);
    };
    add(double(0x439041) * 0x1p-192);
    add(double(0x95993c) * 0x1p-168);
    add(double(0xc0db62) * 0x1p-144);
    add(double(0xf534dd) * 0x1p-120);
    add(double(0x2757d1) * 0x1p-96);
    add(double(0x1529fc) * 0x1p-72);
    add(double(0x6e4e44) * 0x1p-48);
    add(double(0xa2f983) * 0x1p-24);
    return sum;
}

// a = k pi/2 + r with |r| <= pi/4 (k the integer nearest `turns`); sin and
// cos of r by their Taylor series (to r^15 and r^16, within 1e-14), then
// the quadrant k mod 4 picks and signs them.
inline double SRF_LaneMath::sinCosOfTurns(double turns, float a, bool cosine)
{
    const double shifted = turns + ROUNDER;
    const double k = shifted - ROUNDER;
    const double r = (turns - k) * SRF_HALF_PI_DOUBLE;
    const double r2 = r * r;
    double s = -1.0 / 1307674368000.0;
    s = s * r2 + 1.0 / 6227020800.0;
    s = s * r2 - 1.0 / 39916800.0;
    s = s * r2 + 1.0 / 362880.0;
    s = s * r2 - 1.0 / 5040.0;
    s = s * r2 + 1.0 / 120.0;
    s = s * r2 - 1.0 / 6.0;
    s = r + r * r2 * s;
    double c = 1.0 / 20922789888000.0;
    c = c * r2 - 1.0 / 87178291200.0;
    c = c * r2 + 1.0 / 479001600.0;
    c = c * r2 - 1.0 / 3628800.0;
    c = c * r2 + 1.0 / 40320.0;
    c = c * r2 - 1.0 / 720.0;
    c = c * r2 + 1.0 / 24.0;
    c = c * r2 - 0.5;
    c = 1.0 + r2 * c;
    const std::uint64_t quadrant = (toBits(shifted) + (cosine ? 1u : 0u)) & 3u;
    const double value = (quadrant & 1u) ? c : s;
    // An infinite or NaN argument has no remainder: NaN, as from the C
    // library.
    const double finite = double(a) - double(a);
    return finite == 0.0 ? ((quadrant & 2u) ? -value : value) : finite;
}

// atan by symmetry onto [0, 1] (atan x = pi/2 - atan(1/x)), then onto
// |w| <= tan(pi/8) (atan z = pi/4 + atan((z - 1)/(z + 1))), where its Taylor
// series reaches float precision with room to spare in 13 terms.
inline float SRF_LaneMath::atan(float a)
{
    const double x = std::fabs(double(a));
    const bool inverted = x > 1.0;
    const double z = inverted ? 1.0 / x : x;
    const bool shifted = z > 0.41421356237309503;
    const double w = shifted ? (z - 1.0) / (z + 1.0) : z;
    const double w2 = w * w;
    double p = 1.0 / 25.0;
    p = p * w2 - 1.0 / 23.0;
    p = p * w2 + 1.0 / 21.0;
    p = p * w2 - 1.0 / 19.0;
    p = p * w2 + 1.0 / 17.0;
    p = p * w2 - 1.0 / 15.0;
    p = p * w2 + 1.0 / 13.0;
    p = p * w2 - 1.0 / 11.0;
    p = p * w2 + 1.0 / 9.0;
    p = p * w2 - 1.0 / 7.0;
    p = p * w2 + 1.0 / 5.0;
    p = p * w2 - 1.0 / 3.0;
    p = p * w2 + 1.0;
    double r = w * p + (shifted ? SRF_QUARTER_PI_DOUBLE : 0.0);
    r = inverted ? SRF_HALF_PI_DOUBLE - r : r;
    const float magnitude = float(r);
    return a < 0.0f ? -magnitude : (a == a ? magnitude : a);
}

// sqrt((1 - c)(1 + c)): sin(acos c) without the arc cosine; 1 - c is exact
// for c near 1, where 1 - c^2 would cancel.
inline float SRF_LaneMath::sinOfAcos(float c)
{
    const double k = c < -1.0f ? -1.0 : (c > 1.0f ? 1.0 : double(c));
    return float(std::sqrt((1.0 - k) * (1.0 + k)));
}

#endif
