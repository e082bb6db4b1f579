#ifndef SRF_TOOL_RANDOM_H
#define SRF_TOOL_RANDOM_H

#include <cstdint>

// Random numbers that depend only on (seed, pixel, sample index, dimension),
// never on which thread asks or in what order, so that an image is the same
// whatever the thread count.
//
// The two BSDF numbers of a sample come from the R2 sequence (a
// two-dimensional Kronecker sequence built on the plastic number), shifted
// per pixel by a hashed offset: well spread over the square for every
// prefix of samples, and decorrelated between neighbouring pixels. Other
// dimensions (the position inside the pixel) are plain hashes.
class SrfRandom
{
public:
    SrfRandom(uint32_t seed, uint32_t pixel) : mySeed(seed), myPixel(pixel) {}

    // A number in [0, 1) for the sample and dimension.
    float uniform(uint32_t sample, uint32_t dimension) const;
    // The sample's point of the shifted R2 sequence, in [0, 1)^2.
    void pair(uint32_t sample, float &sx, float &sy) const;

    // A well-mixed 32-bit hash of a 32-bit value.
    static uint32_t hash(uint32_t value);

private:
    uint32_t mySeed, myPixel;
};

#endif
