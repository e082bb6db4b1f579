#ifndef SRF_TOOL_RANDOM_H
#define SRF_TOOL_RANDOM_H

#include <cstdint>

// Random numbers that depend only on (seed, pixel, sample index, dimension),
// never on which thread asks or in what order, so that an image is the same
// whatever the thread count.
//
// The renderer's numbers come in pairs of dimensions (the position in the
// pixel, the BSDF's two numbers, the light's two), each pair from the first
// two dimensions of Sobol' sequence with Owen scrambling: every power-of-two
// prefix of a pixel's samples is stratified over the square in every
// elementary interval, so the error falls faster than with independent
// numbers. Each pixel and pair gets its own scramble and its own shuffle of
// the sample order (Burley 2020, "Practical hash-based Owen scrambling"),
// so pairs and neighbouring pixels are decorrelated. The plot's numbers are
// plain hashes.
class SrfRandom
{
public:
    SrfRandom(uint32_t seed, uint32_t pixel) : mySeed(seed), myPixel(pixel) {}

    // A number in [0, 1) for the sample and dimension.
    float uniform(uint32_t sample, uint32_t dimension) const;
    // For each of `count` pixels, the point of dimension pair `pair` of
    // sample `sample`, in [0, 1)^2: a lane loop the compiler vectorises.
    static void sobolPairs(uint32_t seed, const uint32_t *pixel, int count, uint32_t sample, uint32_t pair, float *x,
                           float *y);

    // A well-mixed 32-bit hash of a 32-bit value: an integer finaliser
    // with good avalanche (every input bit flips every output bit with
    // probability near one half). Inline, for the lane loops.
    static uint32_t hash(uint32_t x)
    {
        x ^= x >> 16;
        x *= 0x7feb352dU;
        x ^= x >> 15;
        x *= 0x846ca68bU;
        x ^= x >> 16;
        return x;
    }

private:
    uint32_t mySeed, myPixel;
};

#endif
