#include "SRFfastRandom.h"

#include <cstring>

namespace
{
const unsigned int LCG_MULTIPLIER = 1664525u;
const unsigned int LCG_INCREMENT = 1013904223u;
const unsigned int ONE_BITS = 0x3F800000u;      // 1.0f
const unsigned int MANTISSA_BITS = 0x007FFFFFu; // the 23 fraction bits

unsigned int nextState(unsigned int state) { return state * LCG_MULTIPLIER + LCG_INCREMENT; }

// An integer hash that spreads every state bit over the low 23 bits; the
// result is the float 1.m - 1 with m the hashed bits.
float hashToUnit(unsigned int h)
{
    h = ~(h << 16) + h;
    h ^= h >> 5;
    h *= 9u;
    h ^= h >> 13;
    h += ~(h << 9);
    h ^= h >> 17;
    const unsigned int bits = ONE_BITS | (h & MANTISSA_BITS);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f - 1.0f;
}
} // namespace

float SRFfastRandom(unsigned int &state)
{
    state = nextState(state);
    return hashToUnit(state);
}

float SRFfastRandom(std::atomic<unsigned int> &state)
{
    unsigned int old = state.load(std::memory_order_relaxed);
    unsigned int next = nextState(old);
    while (!state.compare_exchange_weak(old, next, std::memory_order_relaxed))
        next = nextState(old);
    return hashToUnit(next);
}
