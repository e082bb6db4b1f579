#include "SRF_Cdf2D.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>

namespace
{
// The smallest index i < count with t < a[i], comparing only the first
// count - 1 entries: a t at or above all of them gives count - 1, and cells
// of zero width (equal consecutive sums) are never chosen before the end.
int search(const float *a, int count, float t)
{
    int lo = 0;
    int hi = count - 1;
    if (hi < 1)
        return 0;
    while (hi > lo)
    {
        const int mid = (lo + hi) / 2;
        if (t < a[mid])
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

// offset / width, limited to [0, 1]; a width that is not positive (or a
// NaN) gives 0, the start of the cell.
float fraction(float offset, float width)
{
    if (!(width > 0.0f))
        return 0.0f;
    const float f = offset / width;
    if (!(f >= 0.0f))
        return 0.0f;
    return f > 1.0f ? 1.0f : f;
}

float *copyOf(const float *from, int count)
{
    if (!from || count <= 0)
        return nullptr;
    float *to = new (std::nothrow) float[count];
    if (to)
        std::memcpy(to, from, sizeof(float) * static_cast<std::size_t>(count));
    return to;
}
} // namespace

SRF_Cdf2D::SRF_Cdf2D() : myTable(nullptr), myRowSums(nullptr), myScale(0.0f), mySize(0), myLevel(0) {}

SRF_Cdf2D::SRF_Cdf2D(const SRF_Cdf2D &other)
    : myTable(other.myTable), myRowSums(copyOf(other.myRowSums, other.mySize)), myScale(other.myScale),
      mySize(other.mySize), myLevel(other.myLevel)
{
}

SRF_Cdf2D &SRF_Cdf2D::operator=(const SRF_Cdf2D &other)
{
    if (this != &other)
    {
        float *sums = copyOf(other.myRowSums, other.mySize);
        delete[] myRowSums;
        myTable = other.myTable;
        myRowSums = sums;
        myScale = other.myScale;
        mySize = other.mySize;
        myLevel = other.myLevel;
    }
    return *this;
}

SRF_Cdf2D::~SRF_Cdf2D() { delete[] myRowSums; }

void SRF_Cdf2D::init(float *values, int lvl)
{
    lvl = std::clamp(lvl, 0, MAX_LEVEL);
    myTable = values;
    myLevel = lvl;
    mySize = 1 << lvl;
    myScale = 1.0f / static_cast<float>(mySize);
    delete[] myRowSums;
    myRowSums = new (std::nothrow) float[mySize]();
}

// table(r, c) = sum_{c' <= c} values(r, c'); rowSums[r] = sum_{r' <= r} sum_c values(r', c).
void SRF_Cdf2D::compress(const float *values)
{
    if (!myTable || !myRowSums || !values)
        return;
    const std::size_t n = static_cast<std::size_t>(mySize);
    for (std::size_t r = 0; r < n; ++r)
    {
        float *row = myTable + r * n;
        const float *source = values + r * n;
        row[0] = source[0];
        for (std::size_t c = 1; c < n; ++c)
            row[c] = source[c] + row[c - 1];
        myRowSums[r] = row[n - 1];
        if (r > 0)
            myRowSums[r] = myRowSums[r - 1] + myRowSums[r];
    }
}

void SRF_Cdf2D::decompress(float *) {}

// Inverts the row marginal with sy and the row's conditional with sx:
//   r = min{r : sy * R(n-1) < R(r)},  c = min{c : sx * w_r < C_r(c)},
// then x = (c + fc) / n and y = (r + fr) / n with the linear fractions
// inside the chosen row and cell, so the density is constant in a cell.
void SRF_Cdf2D::sample(float sx, float sy, float &x, float &y) const
{
    if (!myTable || !myRowSums)
    {
        x = sx;
        y = sy;
        return;
    }
    const int n = mySize;
    const float t = sy * myRowSums[n - 1];
    const int r = search(myRowSums, n, t);
    const float rowStart = r > 0 ? myRowSums[r - 1] : 0.0f;
    const float width = myRowSums[r] - rowStart;
    const float fr = fraction(t - rowStart, width);

    const float *row = myTable + static_cast<std::size_t>(r) * static_cast<std::size_t>(n);
    const float s = sx * width;
    const int c = search(row, n, s);
    const float cellStart = c > 0 ? row[c - 1] : 0.0f;
    const float fc = fraction(s - cellStart, row[c] - cellStart);

    x = (static_cast<float>(c) + fc) * myScale;
    y = (static_cast<float>(r) + fr) * myScale;
}

float SRF_Cdf2D::getScaling() const { return myRowSums ? myRowSums[mySize - 1] * myScale * myScale : 0.0f; }

void SRF_Cdf2D::dump() const
{
    if (!myTable)
        return;
    const std::size_t count = static_cast<std::size_t>(mySize) * static_cast<std::size_t>(mySize);
    for (std::size_t i = 0; i < count; ++i)
        fprintf(stderr, "%f\n", myTable[i]);
}
