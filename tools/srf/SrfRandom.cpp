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
// each digit is flipped by a random function of the digits before it.
uint32_t owen(uint32_t x, uint32_t seed) { return reverseBits(scrambleUpward(reverseBits(x), seed)); }

// Generator of Sobol's second dimension: column i is the direction number
// v_i = the bits of row i of Pascal's triangle mod 2, from the top bit. The
// point of index i is the xor of the columns of its set bits, looked up a
// byte at a time: byte[k][b] is the xor of the columns of the set bits of
// b << 8k.
struct SobolColumns
{
    uint32_t byte[4][256];
    SobolColumns()
    {
        uint32_t v[32], column = 1U << 31;
        for (int i = 0; i < 32; ++i, column ^= column >> 1)
            v[i] = column;
        for (int k = 0; k < 4; ++k)
            for (int b = 0; b < 256; ++b)
            {
                uint32_t sum = 0;
                for (int bit = 0; bit < 8; ++bit)
                    sum ^= (b >> bit) & 1 ? v[8 * k + bit] : 0U;
                byte[k][b] = sum;
            }
    }
};
const SobolColumns SOBOL;
} // namespace

// Index i of the pixel's pair: i' = owen(i) (a shuffle that keeps each
// aligned block of 2^k indices together, so prefixes stay nets), then
// x = owen(reverse(i')), y = owen(sum of v_k over the set bits k of i').
void SrfRandom::sobolPairs(uint32_t seed, const uint32_t *pixel, int count, uint32_t sample, uint32_t pair, float *x,
                           float *y)
{
    const uint32_t base = hash(hash(seed ^ 0x2545f491U) ^ (pair * 0x9e3779b9U + 0x68e31da4U));
    const SobolColumns &sobol = SOBOL;
    SrfLaneLoop::run(count,
                     [&](int lane)
                     {
                         const uint32_t key = hash(base ^ pixel[lane]);
                         const uint32_t index = owen(sample, key);
                         const uint32_t second = sobol.byte[0][index & 255U] ^ sobol.byte[1][(index >> 8) & 255U] ^
                                                 sobol.byte[2][(index >> 16) & 255U] ^ sobol.byte[3][index >> 24];
                         x[lane] = toUnit(owen(reverseBits(index), key * 0x85ebca6bU + 0x1b873593U));
                         y[lane] = toUnit(owen(second, key * 0xc2b2ae35U + 0x27d4eb2fU));
                     });
}
