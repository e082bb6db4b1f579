#include "SrfRandom.h"

#include "SrfLaneLoop.h"

#include <cmath>

namespace
{
// The top 24 bits as a float in [0, 1): exact, and never 1.
float toUnit(uint32_t bits) { return float(bits >> 8) * (1.0f / 16777216.0f); }
} // namespace

float SrfRandom::uniform(uint32_t sample, uint32_t dimension) const
{
    uint32_t h = hash(mySeed ^ 0x9e3779b9U);
    h = hash(h ^ myPixel);
    h = hash(h ^ (sample * 0x632be5abU));
    h = hash(h ^ (dimension * 0x85ebca6bU + 0x165667b1U));
    return toUnit(h);
}

namespace
{
uint32_t reverseBits(uint32_t x)
{
    x = (x << 16) | (x >> 16);
    x = ((x & 0x00ff00ffU) << 8) | ((x & 0xff00ff00U) >> 8);
    x = ((x & 0x0f0f0f0fU) << 4) | ((x & 0xf0f0f0f0U) >> 4);
    x = ((x & 0x33333333U) << 2) | ((x & 0xccccccccU) >> 2);
    return ((x & 0x55555555U) << 1) | ((x & 0xaaaaaaaaU) >> 1);
}

// A random permutation of 32-bit values in which each bit is flipped by a
// function of the bits below it alone (carries run upward), seeded.
uint32_t scrambleUpward(uint32_t x, uint32_t seed)
{
    x ^= x * 0x3d20adeaU;
    x += seed;
    x *= (seed >> 16) | 1U;
    x ^= x * 0x05526c56U;
    x ^= x * 0x53a22864U;
    return x;
}

// Owen scrambling of a base-2 fraction 0.b1 b2 ... b32 (b1 the top bit):
// each digit is flipped by a random function of the digits before it. The
// scramble works on the reversed bits; `reversed` gives them, and the
// result comes back in the fraction's order.
uint32_t owenOfReversed(uint32_t reversed, uint32_t seed) { return reverseBits(scrambleUpward(reversed, seed)); }

// Sobol's second dimension for index i, bit-reversed: its generator matrix
// is Pascal's triangle mod 2 (column k, the direction number v_k, has the
// bit j places below the top set where C(k, j) is odd), and by Lucas'
// theorem C(k, j) is odd exactly when the set bits of j are among those of
// k. So bit j of the reversed point is the xor of the bits k of i whose
// positions contain j: a superset sum over the five bits of the position,
// one shift-and-xor for each.
uint32_t sobolSecondReversed(uint32_t i)
{
    i ^= (i >> 1) & 0x55555555U;
    i ^= (i >> 2) & 0x33333333U;
    i ^= (i >> 4) & 0x0f0f0f0fU;
    i ^= (i >> 8) & 0x00ff00ffU;
    i ^= (i >> 16) & 0x0000ffffU;
    return i;
}
} // namespace

// Index i of the pixel's pair: i' = owen(i) (a shuffle that keeps each
// aligned block of 2^k indices together, so prefixes stay nets), then
// x = owen(reverse(i')) (Sobol's first dimension is the radical inverse),
// y = owen(sum of v_k over the set bits k of i').
void SrfRandom::sobolPairs(uint32_t seed, const uint32_t *pixel, int count, uint32_t sample, uint32_t pair, float *x,
                           float *y)
{
    const uint32_t base = hash(hash(seed ^ 0x2545f491U) ^ (pair * 0x9e3779b9U + 0x68e31da4U));
    const uint32_t reversedSample = reverseBits(sample);
    SrfLaneLoop::run(count,
                     [&](int lane)
                     {
                         const uint32_t key = hash(base ^ pixel[lane]);
                         const uint32_t index = owenOfReversed(reversedSample, key);
                         x[lane] = toUnit(owenOfReversed(index, key * 0x85ebca6bU + 0x1b873593U));
                         y[lane] = toUnit(owenOfReversed(sobolSecondReversed(index), key * 0xc2b2ae35U + 0x27d4eb2fU));
                     });
}
