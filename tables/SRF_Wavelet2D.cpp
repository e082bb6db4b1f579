#include "SRF_Wavelet2D.h"

#include "SRF_ScratchFloats.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>

namespace
{
const char *const ZERO_PDF = "Error: pdf has probability 0\n";

// The rescaled random number of a half: (s - start) / width, limited to
// [0, 1] so that a zero or negative half of a bad table cannot spread NaN.
float rescale(float s, float start, float width)
{
    const float f = (s - start) / width;
    if (!(f >= 0.0f))
        return 0.0f;
    return f > 1.0f ? 1.0f : f;
}
} // namespace

SRF_Wavelet2D::SRF_Wavelet2D() : myCoefficients(nullptr), myMaxValue(0.0f), myScale(0.0f), mySize(0), myLevel(0) {}

SRF_Wavelet2D::SRF_Wavelet2D(const SRF_Wavelet2D &other) = default;

SRF_Wavelet2D &SRF_Wavelet2D::operator=(const SRF_Wavelet2D &other) = default;

SRF_Wavelet2D::~SRF_Wavelet2D() {}

void SRF_Wavelet2D::init(float *storage, int lvl)
{
    lvl = std::clamp(lvl, 0, MAX_LEVEL);
    myCoefficients = storage;
    myLevel = lvl;
    mySize = 1 << lvl;
    myScale = 1.0f / static_cast<float>(mySize);
}

// Haar analysis, fine to coarse. Each step turns the s x s image of means
// into h x h means (h = s / 2) at positions below q = h^2 and three
// differences per node at q, 2q and 3q:
//   m = (a + b + e + d) / 4, D1 = ((a + e) - 2m) / 2,
//   D2 = ((e + d) - 2m) / 2, D3 = ((b + e) - 2m) / 2.
void SRF_Wavelet2D::compress(const float *values)
{
    if (!values)
        return;
    const std::size_t n = static_cast<std::size_t>(mySize);
    const std::size_t count = n * n;
    myMaxValue = 0.0f;
    for (std::size_t i = 0; i < count; ++i)
        if (values[i] > myMaxValue)
            myMaxValue = values[i];
    if (!myCoefficients)
        return;
    if (myLevel < 1)
    {
        myCoefficients[0] = values[0];
        return;
    }

    SRF_ScratchFloats scratch(count);
    float *image = scratch.data();
    if (!image)
        return;
    std::memcpy(image, values, sizeof(float) * count);
    for (std::size_t s = n; s > 1; s /= 2)
    {
        const std::size_t h = s / 2;
        const std::size_t q = h * h;
        for (std::size_t r = 0; r < h; ++r)
        {
            for (std::size_t c = 0; c < h; ++c)
            {
                const float a = image[(2 * r) * s + 2 * c];
                const float b = image[(2 * r) * s + 2 * c + 1];
                const float e = image[(2 * r + 1) * s + 2 * c];
                const float d = image[(2 * r + 1) * s + 2 * c + 1];
                const float m = (a + b + e + d) * 0.25f;
                const std::size_t node = r * h + c;
                myCoefficients[node] = m;
                myCoefficients[q + node] = ((a + e) - (m + m)) * 0.5f;
                myCoefficients[2 * q + node] = ((e + d) - (m + m)) * 0.5f;
                myCoefficients[3 * q + node] = ((b + e) - (m + m)) * 0.5f;
            }
        }
        std::memcpy(image, myCoefficients, sizeof(float) * q);
    }
}

// Haar synthesis, coarse to fine: each node's mean m and differences give
//   a = m + D1 - D2 - D3, b = m - D1 - D2 + D3,
//   e = m + D1 + D2 + D3, d = m - D1 + D2 - D3,
// the means of the next finer step.
void SRF_Wavelet2D::decompress(float *values) const
{
    if (!values)
        return;
    const std::size_t n = static_cast<std::size_t>(mySize);
    const std::size_t count = n * n;
    if (!myCoefficients)
    {
        std::memset(values, 0, sizeof(float) * count);
        return;
    }
    if (myLevel < 1)
    {
        values[0] = myCoefficients[0];
        return;
    }

    SRF_ScratchFloats scratch(count);
    float *means = scratch.data();
    if (!means)
    {
        std::memset(values, 0, sizeof(float) * count);
        return;
    }
    std::memcpy(means, myCoefficients, sizeof(float) * count);
    for (std::size_t s = 2; s <= n; s *= 2)
    {
        const std::size_t h = s / 2;
        const std::size_t q = h * h;
        for (std::size_t r = 0; r < h; ++r)
        {
            for (std::size_t c = 0; c < h; ++c)
            {
                const std::size_t node = r * h + c;
                const float m = means[node];
                const float d1 = means[q + node];
                const float d2 = means[2 * q + node];
                const float d3 = means[3 * q + node];
                values[(2 * r) * s + 2 * c] = m + d1 - d2 - d3;
                values[(2 * r) * s + 2 * c + 1] = m - d1 - d2 + d3;
                values[(2 * r + 1) * s + 2 * c] = m + d1 + d2 + d3;
                values[(2 * r + 1) * s + 2 * c + 1] = m - d1 + d2 - d3;
            }
        }
        std::memcpy(means, values, sizeof(float) * s * s);
    }
}

// Walks down the pyramid from the mean P. At each node the four children
// TL, TR, BL, BR of P are rebuilt from its differences; sy picks the upper
// row with probability (TL + TR) / 4P, sx then the left cell of that row
// with probability L / (L + R). Each random number is rescaled to [0, 1]
// inside the chosen half and reused at the next step; what is left of them
// places the point inside the final cell. The density is value / mean.
void SRF_Wavelet2D::sample(float sx, float sy, float &x, float &y, float &value) const
{
    x = 0.0f;
    y = 0.0f;
    float p = myCoefficients ? myCoefficients[0] : 0.0f;
    if (!(p > 0.0f))
    {
        fputs(ZERO_PDF, stderr);
        return;
    }

    std::size_t r = 0;
    std::size_t c = 0;
    std::size_t w = 1;
    std::size_t q = 1;
    for (int step = 0; step < myLevel; ++step)
    {
        const std::size_t node = r * w + c;
        const float d1 = myCoefficients[q + node];
        const float d2 = myCoefficients[2 * q + node];
        const float d3 = myCoefficients[3 * q + node];
        const float tl = p + d1 - d2 - d3;
        const float tr = p - d1 - d2 + d3;
        const float bl = p + d1 + d2 + d3;
        const float br = p - d1 + d2 - d3;
        r *= 2;
        c *= 2;

        const float top = tl + tr;
        const float bottom = bl + br;
        const float syScaled = sy * (top + bottom);
        float left, right;
        if (top > 0.0f && syScaled <= top)
        {
            sy = rescale(syScaled, 0.0f, top);
            left = tl;
            right = tr;
        }
        else
        {
            sy = rescale(syScaled, top, bottom);
            r += 1;
            left = bl;
            right = br;
        }

        const float sxScaled = sx * (left + right);
        if (left > 0.0f && sxScaled <= left)
        {
            sx = rescale(sxScaled, 0.0f, left);
            p = left;
        }
        else
        {
            sx = rescale(sxScaled, left, right);
            c += 1;
            p = right;
        }
        w *= 2;
        q *= 4;
    }
    x = (static_cast<float>(c) + sx) * myScale;
    y = (static_cast<float>(r) + sy) * myScale;
    value = p;
}

float SRF_Wavelet2D::getScaling() const { return myCoefficients ? myCoefficients[0] : 0.0f; }

void SRF_Wavelet2D::dump() const
{
    if (!myCoefficients)
        return;
    const std::size_t count = static_cast<std::size_t>(mySize) * static_cast<std::size_t>(mySize);
    for (std::size_t i = 0; i < count; ++i)
        fprintf(stderr, "%f\n", myCoefficients[i]);
}
