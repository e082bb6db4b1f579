#include "SrfRandom.h"

#include <cmath>

namespace
{
// The top 24 bits as a float in [0, 1): exact, and never 1.
float toUnit(uint32_t bits) { return float(bits >> 8) * (1.0f / 16777216.0f); }
} // namespace

// An integer finaliser with good avalanche (every input bit flips every
// output bit with probability near one half).
uint32_t SrfRandom::hash(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

float SrfRandom::uniform(uint32_t sample, uint32_t dimension) const
{
    uint32_t h = hash(mySeed ^ 0x9e3779b9U);
    h = hash(h ^ myPixel);
    h = hash(h ^ (sample * 0x632be5abU));
    h = hash(h ^ (dimension * 0x85ebca6bU + 0x165667b1U));
    return toUnit(h);
}

// x_i = frac(offset + i / g), y_i = frac(offset' + i / g^2), g the plastic
// number (the real root of g^3 = g + 1). The step is kept in 32-bit fixed
// point so that large sample indices lose no precision.
void SrfRandom::pair(uint32_t sample, float &sx, float &sy) const
{
    const uint32_t STEP_X = 3242174889U; // 2^32 / g
    const uint32_t STEP_Y = 2447445413U; // 2^32 / g^2
    const uint32_t offsetX = hash(hash(mySeed ^ 0x2545f491U) ^ myPixel);
    const uint32_t offsetY = hash(offsetX ^ 0x68e31da4U);
    sx = toUnit(offsetX + sample * STEP_X);
    sy = toUnit(offsetY + sample * STEP_Y);
}
