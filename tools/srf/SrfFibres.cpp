#include "SrfFibres.h"

#include "SRF_Constants.h"
#include "SrfRandom.h"

#include <algorithm>
#include <cmath>

namespace
{
const float FIBRE_RADIUS = 0.007f;
const float SHELL = 0.08f;       // the fibres lie between radii 1 - SHELL / 2 and 1 + SHELL / 2
const float FIBRE_LENGTH = 3.5f; // radians of arc
const float CURL = 0.35f;        // how far the winding axis may turn over a fibre, in radians
const int BANDS = 12;            // bands of fibres, each wound about one axis
const float BAND_SPREAD = 0.15f; // how far a fibre's axis strays from its band's

// The winding axis of a band: a uniform direction drawn from the seed.
BX_Vector3 bandAxis(uint32_t seed, int band)
{
    const SrfRandom random(seed, 0xbb67ae85U);
    const float z = 2.0f * random.uniform(uint32_t(band), 0) - 1.0f;
    const float phi = 2.0f * SRF_PI * random.uniform(uint32_t(band), 1);
    const float ring = std::sqrt(std::max(0.0f, 1.0f - z * z));
    return BX_Vector3(ring * std::cos(phi), z, ring * std::sin(phi));
}

BX_Vector3 unit(const BX_Vector3 &v)
{
    BX_Vector3 u = v;
    u.normalize();
    return u;
}

// v rotated by `angle` about the unit axis a (Rodrigues' formula).
BX_Vector3 rotate(const BX_Vector3 &v, const BX_Vector3 &a, float angle)
{
    const float c = std::cos(angle), s = std::sin(angle);
    return v * c + a.cross(v) * s + a * (a.dot(v) * (1.0f - c));
}
} // namespace

// Each fibre winds along a great circle about an axis through the centre,
// which drifts a little at every step, so that fibres curl; its radius
// drifts inside the shell.
SrfFibres::SrfFibres(const SrfCamera &camera, int size, uint32_t seed)
    : mySize(size), myCellsPerRow((size + CELL - 1) / CELL), myRadius(FIBRE_RADIUS), myEye(camera.eye())
{
    const SrfRandom random(seed, 0x6a09e667U);
    uint32_t dimension = 0;
    auto next = [&](uint32_t fibre) { return random.uniform(fibre, dimension++); };
    for (uint32_t fibre = 0; fibre < uint32_t(FIBRES); ++fibre)
    {
        dimension = 0;
        // Fibres come in bands, as wound on a ball of yarn: each band winds
        // about its own axis, and each fibre about that axis tilted a little.
        const int band = int(next(fibre) * BANDS) % BANDS;
        const BX_Vector3 axis0 = bandAxis(seed, band);
        BX_Vector3 axis =
            unit(axis0 + BX_Vector3(next(fibre) - 0.5f, next(fibre) - 0.5f, next(fibre) - 0.5f) * (2.0f * BAND_SPREAD));
        // A start point on the great circle about that axis.
        const BX_Vector3 helper =
            std::fabs(axis.y) < 0.9f ? BX_Vector3(0.0f, 1.0f, 0.0f) : BX_Vector3(1.0f, 0.0f, 0.0f);
        const BX_Vector3 e1 = unit(axis.cross(helper)), e2 = axis.cross(e1);
        const float turn = 2.0f * SRF_PI * next(fibre);
        BX_Vector3 point = e1 * std::cos(turn) + e2 * std::sin(turn);
        float radius = 1.0f + SHELL * (next(fibre) - 0.5f);
        BX_Vector3 previous = point * radius;
        const float step = FIBRE_LENGTH / SEGMENTS;
        for (int segment = 0; segment < SEGMENTS; ++segment)
        {
            point = unit(rotate(point, axis, step));
            // The axis drifts toward the point, which bends the path.
            axis = unit(axis + point * (CURL / SEGMENTS * (2.0f * next(fibre) - 1.0f)));
            axis = unit(axis - point * axis.dot(point));
            radius = std::min(1.0f + 0.5f * SHELL,
                              std::max(1.0f - 0.5f * SHELL, radius + SHELL * 0.15f * (next(fibre) - 0.5f)));
            const BX_Vector3 current = point * radius;
            addSegment(previous, current);
            previous = current;
        }
    }
    bin(camera);
}

void SrfFibres::addSegment(const BX_Vector3 &from, const BX_Vector3 &to)
{
    const BX_Vector3 edge = to - from;
    myStartX.push_back(from.x);
    myStartY.push_back(from.y);
    myStartZ.push_back(from.z);
    myEdgeX.push_back(edge.x);
    myEdgeY.push_back(edge.y);
    myEdgeZ.push_back(edge.z);
    myEdge2.push_back(edge.length2());
}

// Two passes over the segments: count per cell, then fill, so the cells'
// lists lie in one array.
void SrfFibres::bin(const SrfCamera &camera)
{
    const int cells = myCellsPerRow * myCellsPerRow;
    std::vector<int> bounds(myStartX.size() * 4, -1); // x0, y0, x1, y1 in cells, per segment
    std::vector<uint32_t> counts(size_t(cells) + 1, 0);
    for (size_t i = 0; i < myStartX.size(); ++i)
    {
        const BX_Vector3 a(myStartX[i], myStartY[i], myStartZ[i]);
        const BX_Vector3 b = a + BX_Vector3(myEdgeX[i], myEdgeY[i], myEdgeZ[i]);
        float ax, ay, ad, bx, by, bd;
        if (!camera.project(a, ax, ay, ad) || !camera.project(b, bx, by, bd))
            continue;
        // The fibre's half-width in pixels (a ray tests the cell its own
        // image point lies in, so the jitter needs no margin).
        const float margin = myRadius * camera.pixelsPerUnit(std::min(ad, bd)) * 1.01f + 0.01f;
        const int x0 = std::max(0, int(std::floor((std::min(ax, bx) - margin) / CELL)));
        const int y0 = std::max(0, int(std::floor((std::min(ay, by) - margin) / CELL)));
        const int x1 = std::min(myCellsPerRow - 1, int(std::floor((std::max(ax, bx) + margin) / CELL)));
        const int y1 = std::min(myCellsPerRow - 1, int(std::floor((std::max(ay, by) + margin) / CELL)));
        if (x0 > x1 || y0 > y1)
            continue;
        int *box = &bounds[i * 4];
        box[0] = x0, box[1] = y0, box[2] = x1, box[3] = y1;
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                ++counts[size_t(y * myCellsPerRow + x) + 1];
    }
    myCellStart.assign(size_t(cells) + 1, 0);
    for (int c = 0; c < cells; ++c)
        myCellStart[size_t(c) + 1] = myCellStart[size_t(c)] + counts[size_t(c) + 1];
    myCellSegments.resize(myCellStart.back());
    std::vector<uint32_t> fill(myCellStart.begin(), myCellStart.end() - 1);
    for (size_t i = 0; i < myStartX.size(); ++i)
    {
        const int *box = &bounds[i * 4];
        if (box[0] < 0)
            continue;
        for (int y = box[1]; y <= box[3]; ++y)
            for (int x = box[0]; x <= box[2]; ++x)
                myCellSegments[fill[size_t(y * myCellsPerRow + x)]++] = uint32_t(i);
    }
}

// Ray O + s d (|d| = 1) against the segment P + t e, t in [0, 1]: the
// closest approach of the two lines, w = O - P, b = d.e, t = (e.w - b d.w) /
// (e.e - b^2) clamped to [0, 1], then s = t b - d.w; a hit where the gap
// w + s d - t e is shorter than the radius, at s > 0, the nearest such s.
void SrfFibres::trace(const float *x, const float *y, int count, SrfCamera::Lanes &lanes) const
{
    const float radius2 = myRadius * myRadius;
    for (int lane = 0; lane < count; ++lane)
    {
        lanes.hit[lane] = 0;
        const int cx = int(x[lane]) / CELL, cy = int(y[lane]) / CELL;
        if (x[lane] < 0.0f || y[lane] < 0.0f || cx >= myCellsPerRow || cy >= myCellsPerRow)
            continue;
        const float dx = lanes.dx[lane], dy = lanes.dy[lane], dz = lanes.dz[lane];
        const size_t cell = size_t(cy * myCellsPerRow + cx);
        float best = 1e30f;
        uint32_t bestSegment = 0;
        float bestT = 0.0f;
        for (uint32_t k = myCellStart[cell]; k < myCellStart[cell + 1]; ++k)
        {
            const uint32_t i = myCellSegments[k];
            const float wx = myEye.x - myStartX[i], wy = myEye.y - myStartY[i], wz = myEye.z - myStartZ[i];
            const float ex = myEdgeX[i], ey = myEdgeY[i], ez = myEdgeZ[i];
            const float b = dx * ex + dy * ey + dz * ez;
            const float dw = dx * wx + dy * wy + dz * wz, ew = ex * wx + ey * wy + ez * wz;
            const float denominator = myEdge2[i] - b * b;
            float t = denominator > 1e-12f ? (ew - b * dw) / denominator : 0.0f;
            t = std::min(1.0f, std::max(0.0f, t));
            const float s = t * b - dw;
            const float gx = wx + s * dx - t * ex, gy = wy + s * dy - t * ey, gz = wz + s * dz - t * ez;
            if (gx * gx + gy * gy + gz * gz < radius2 && s > 0.0f && s < best)
            {
                best = s;
                bestSegment = i;
                bestT = t;
            }
        }
        if (best >= 1e30f)
            continue;
        // The frame at the hit: tangent T, the view direction V made
        // perpendicular to T, and B = T x V across the fibre; the normal
        // leans toward B by the offset h of the ray from the axis, as on a
        // cylinder's silhouette.
        const uint32_t i = bestSegment;
        const BX_Vector3 tangent = BX_Vector3(myEdgeX[i], myEdgeY[i], myEdgeZ[i]) * (1.0f / std::sqrt(myEdge2[i]));
        const BX_Vector3 toEye(-dx, -dy, -dz);
        BX_Vector3 facing = toEye - tangent * toEye.dot(tangent);
        if (facing.normalize() <= 0.0f)
            continue;
        const BX_Vector3 across = tangent.cross(facing);
        const BX_Vector3 point = myEye + BX_Vector3(dx, dy, dz) * best;
        const BX_Vector3 axis =
            BX_Vector3(myStartX[i], myStartY[i], myStartZ[i]) + BX_Vector3(myEdgeX[i], myEdgeY[i], myEdgeZ[i]) * bestT;
        const float h = std::min(1.0f, std::max(-1.0f, (point - axis).dot(across) / myRadius));
        const BX_Vector3 normal = facing * std::sqrt(1.0f - h * h) + across * h;
        lanes.hit[lane] = 1;
        lanes.nx[lane] = normal.x, lanes.ny[lane] = normal.y, lanes.nz[lane] = normal.z;
        lanes.sx[lane] = tangent.x, lanes.sy[lane] = tangent.y, lanes.sz[lane] = tangent.z;
        lanes.tx[lane] = across.x, lanes.ty[lane] = across.y, lanes.tz[lane] = across.z;
    }
}
