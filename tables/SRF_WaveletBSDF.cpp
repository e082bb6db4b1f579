#include "SRF_WaveletBSDF.h"

#include "PLTsplitFloat.h"
#include "SRF_Constants.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>

namespace
{
// Pulls directions on the tangent plane just inside the last row band.
const float ROW_EPSILON = 0.0001f;

float clampUnit(float t)
{
    if (!(t >= 0.0f))
        return 0.0f;
    return t > 1.0f ? 1.0f : t;
}
} // namespace

SRF_WaveletBSDF::SRF_WaveletBSDF(int count, int lvl)
    : myData(nullptr), myWavelets(nullptr), myScalings(nullptr), mySpecularity(0.0f), myTableCount(0), myResolution(1),
      myLevel(0)
{
    bounces = SRF_BOUNCE_SCATTER;
    if (lvl < 0)
        lvl = 0;
    if (lvl > SRF_Wavelet2D::MAX_LEVEL)
        lvl = SRF_Wavelet2D::MAX_LEVEL;
    myLevel = lvl;
    myResolution = 1 << lvl;
    if (count < 1)
        return;

    // Plain tables, then coefficient stores, then scalings; zeroed, so that
    // an unconverted pyramid has mean 0.
    const std::size_t area = static_cast<std::size_t>(myResolution) * static_cast<std::size_t>(myResolution);
    const std::size_t m = static_cast<std::size_t>(count);
    myData = new (std::nothrow) float[2 * m * area + m]();
    myWavelets = new (std::nothrow) SRF_Wavelet2D[m];
    if (!myData || !myWavelets)
    {
        delete[] myData;
        delete[] myWavelets;
        myData = nullptr;
        myWavelets = nullptr;
        return;
    }
    myTableCount = count;
    myScalings = myData + 2 * m * area;
    for (std::size_t j = 0; j < m; ++j)
    {
        myWavelets[j].init(myData + (m + j) * area, myLevel);
        myScalings[j] = -1.0f;
    }
}

SRF_WaveletBSDF::~SRF_WaveletBSDF()
{
    delete[] myData;
    delete[] myWavelets;
}

const char *SRF_WaveletBSDF::className() const { return "SRF_WaveletBSDF"; }

// A(u) = mean of table idx(u, n) for u above the surface, else 0.
float SRF_WaveletBSDF::albedo(const BX_Vector3 &u, const BX_Vector3 &n, int) const
{
    if (myTableCount < 1 || !(u.dot(n) > 0.0f))
        return 0.0f;
    return myScalings[getIdx(u, n)];
}

float SRF_WaveletBSDF::specularRatio(int) const { return mySpecularity; }

// f(u, v) = T_idx(y, x) bilinear over res x res grid points spanning
// [0, 1]^2, with y = 1 - v.n - 0.0001 and x = atan2(v.F2, v.F1) / 2 pi,
// both held in [0, 1]; no wrap-around in azimuth.
void SRF_WaveletBSDF::evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                               float &scalar, int) const
{
    if (myTableCount < 1)
    {
        colour = BX_Vector3(0.0f, 0.0f, 0.0f);
        scalar = 0.0f;
        return;
    }
    const int idx = getIdx(u, n);
    scalar = myScalings[idx];

    BX_Vector3 f1, f2;
    frame(u, n, f1, f2);
    // Below the surface y passes 1 and is held at the last row.
    const float yv = clampUnit(1.0f - v.dot(n) - ROW_EPSILON);
    float xv = std::atan2(v.dot(f2), v.dot(f1)) * SRF_INV_TWO_PI;
    if (xv < 0.0f)
        xv += 1.0f;
    xv = clampUnit(xv);

    const int last = myResolution - 1;
    float tx = static_cast<float>(last) * xv;
    float ty = static_cast<float>(last) * yv;
    int ix, iy;
    PLTsplitFloat(tx, ix);
    PLTsplitFloat(ty, iy);
    // At the last grid line the fraction is 0; the neighbour is the line itself.
    const int ix1 = ix < last ? ix + 1 : last;
    const int iy1 = iy < last ? iy + 1 : last;

    const float *table = myData + static_cast<std::size_t>(idx) * myResolution * myResolution;
    const auto at = [&](int r, int c) { return table[static_cast<std::size_t>(r) * myResolution + c]; };
    const float left = at(iy, ix) + (at(iy1, ix) - at(iy, ix)) * ty;
    const float right = at(iy, ix1) + (at(iy1, ix1) - at(iy, ix1)) * ty;
    const float value = left + (right - left) * tx;
    colour = BX_Vector3(value, value, value);
}

// The pyramid of table idx draws (x, y) with density T_idx / mean; then
// cos theta = 1 - y, phi = 2 pi x and
//   v = sin theta cos phi F1 + cos theta n + sin theta sin phi F2,
// so cos theta is uniform within a row band and phi within a column band.
// Colour and scalar are those of evaluate at v.
void SRF_WaveletBSDF::sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                             int &bounce, float sx, float sy, int lane) const
{
    float x = 0.0f, y = 0.0f;
    if (myTableCount >= 1)
    {
        float cellValue = 0.0f;
        myWavelets[getIdx(u, n)].sample(sx, sy, x, y, cellValue);
    }
    float cosTheta = 1.0f - y;
    if (cosTheta < -1.0f)
        cosTheta = -1.0f;
    if (cosTheta > 1.0f)
        cosTheta = 1.0f;
    const float theta = std::acos(cosTheta);
    const float phi = SRF_TWO_PI * x;
    const float sinTheta = std::sin(theta);

    BX_Vector3 f1, f2;
    if (u == n)
        n.getFrameOfReference(f1, f2);
    else
        frame(u, n, f1, f2);
    v = f1 * (sinTheta * std::cos(phi)) + n * std::cos(theta) + f2 * (sinTheta * std::sin(phi));
    bounce = bounces;
    evaluate(u, n, v, colour, scalar, lane);
}

// The pyramid picks cell (r, c) of the incident bin's table with
// probability T(r, c) / (res^2 mean) and a point uniformly inside it; with
// cos(theta) = 1 - y and phi = 2 pi x, d(omega) = 2 pi dx dy, so
// pdf(v) = T(r, c) / (2 pi mean) above the surface, in sample's frame. A
// table of no positive mean always gives v = n: a delta, 0. (Cells below 0,
// which the pyramid walks around, are taken as 0.)
void SRF_WaveletBSDF::evaluatePdf(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &value,
                                  float &pdf, int lane, int mask) const
{
    value = BX_Vector3(0.0f, 0.0f, 0.0f);
    pdf = 0.0f;
    const float cosTheta = v.dot(n);
    if (!hasBounce(mask) || myTableCount < 1 || !(cosTheta > 0.0f))
        return;
    const int idx = getIdx(u, n);
    const float mean = myScalings[idx];
    if (!(mean > 0.0f))
        return;
    BX_Vector3 f1, f2;
    if (u == n)
        n.getFrameOfReference(f1, f2);
    else
        frame(u, n, f1, f2);
    float x = std::atan2(v.dot(f2), v.dot(f1)) * SRF_INV_TWO_PI;
    x = x < 0.0f ? x + 1.0f : x;
    const int last = myResolution - 1;
    const int row = std::min(int((1.0f - cosTheta) * float(myResolution)), last);
    const int column = std::min(int(x * float(myResolution)), last);
    pdf = std::max(myData[(idx * myResolution + row) * myResolution + column], 0.0f) / mean * SRF_INV_TWO_PI;
    BX_Vector3 colour;
    float scalar = 0.0f;
    evaluate(u, n, v, colour, scalar, lane);
    value = colour * pdf;
}

SRF_BSDF *SRF_WaveletBSDF::duplicate(int) const { return nullptr; }

void SRF_WaveletBSDF::flatten(BX_PtrArray<SRF_BSDF *> &, BX_PtrArray<BX_Vector3 *> &, BX_PtrArray<float *> &) {}

void SRF_WaveletBSDF::dump(int indent) const
{
    const std::size_t count =
        static_cast<std::size_t>(myTableCount) * static_cast<std::size_t>(myResolution) * myResolution;
    for (std::size_t i = 0; i < count; ++i)
        fprintf(stderr, "%*c%f\n", indent, ' ', myData[i]);
}

void SRF_WaveletBSDF::construct(float *tables)
{
    if (!tables || myTableCount < 1)
        return;
    const std::size_t count =
        static_cast<std::size_t>(myTableCount) * static_cast<std::size_t>(myResolution) * myResolution;
    std::memcpy(myData, tables, sizeof(float) * count);
    convert(true);
}

void SRF_WaveletBSDF::construct(SRF_BSDF *) {}

void SRF_WaveletBSDF::convert(bool toWavelets)
{
    for (int j = 0; j < myTableCount; ++j)
    {
        if (toWavelets)
        {
            myWavelets[j].compress(getData(j));
            myScalings[j] = myWavelets[j].getScaling();
        }
        else
        {
            myWavelets[j].decompress(getData(j));
        }
    }
}

float *SRF_WaveletBSDF::getData(int j)
{
    if (j < 0 || j >= myTableCount)
        return nullptr;
    return myData + static_cast<std::size_t>(j) * myResolution * myResolution;
}

float SRF_WaveletBSDF::getScaling(int j) const { return (j >= 0 && j < myTableCount) ? myScalings[j] : 0.0f; }

// idx = trunc(sqrt(1 - (u.n)^2) m), limited to [0, m - 1]; a cosine whose
// square passes 1 (rounding, or a NaN) gives 0.
int SRF_WaveletBSDF::getIdx(const BX_Vector3 &u, const BX_Vector3 &n) const
{
    const float c = u.dot(n);
    const float sine2 = 1.0f - c * c;
    if (!(sine2 > 0.0f))
        return 0;
    const float bin = std::sqrt(sine2) * static_cast<float>(myTableCount);
    if (!(bin < static_cast<float>(myTableCount)))
        return myTableCount > 0 ? myTableCount - 1 : 0;
    const int idx = static_cast<int>(bin);
    return idx < 0 ? 0 : idx;
}

void SRF_WaveletBSDF::dumpWavelet() const
{
    for (int j = 0; j < myTableCount; ++j)
        myWavelets[j].dump();
}

void SRF_WaveletBSDF::frame(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &f1, BX_Vector3 &f2) const
{
    f2 = n.cross(u);
    f2.normalize();
    f1 = f2.cross(n);
    f1.normalize();
}
