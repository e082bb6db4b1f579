#include "SrfCamera.h"

#include "SRF_Constants.h"
#include "SrfLaneLoop.h"

#include <cmath>

namespace
{
const BX_Vector3 EYE(0.0f, 0.7f, 4.4f);
const float SPHERE_RADIUS = 1.0f;
// The sphere's silhouette spans this share of the image width.
const float FILL = 0.8f;
} // namespace

SrfCamera::SrfCamera(int size) : mySize(size), myEye(EYE)
{
    myForward = -myEye;
    const float distance = myForward.normalize();
    myRight = myForward.cross(BX_Vector3(0.0f, 1.0f, 0.0f));
    myRight.normalize();
    myUp = myRight.cross(myForward);
    // The silhouette's angular radius is asin(r / d); the field of view is
    // widened so that it covers FILL of the half-width.
    const float silhouette = std::asin(SPHERE_RADIUS / distance);
    myHalfWidth = std::tan(silhouette) / FILL;
}

// Ray d = normalise(forward + right sx + up sy). Sphere: |e + t d|^2 = r^2
// with |d| = 1 gives t = -b - sqrt(b^2 - c), b = e.d, c = e.e - r^2. The
// sphere is parametrised P = r (cos(lat) sin(lon), sin(lat), cos(lat)
// cos(lon)), lon = 2 pi s - pi, lat = pi t - pi / 2, so
//   dP/ds = 2 pi (P.z, 0, -P.x)                         (along the parallel)
//   dP/dt = pi (-P.y P.x / ring, ring, -P.y P.z / ring), ring = r cos(lat),
// and at a pole (ring = 0) dP/dt = (0, 0, -pi r).
void SrfCamera::trace(const float *x, const float *y, int count, Lanes &out) const
{
    const float scale = 2.0f / float(mySize) * myHalfWidth;
    const float c = myEye.length2() - SPHERE_RADIUS * SPHERE_RADIUS;
    const BX_Vector3 f = myForward, r = myRight, u = myUp, e = myEye;
    const float halfWidth = myHalfWidth;
    SrfLaneLoop::run(count,
                     [&](int lane)
                     {
                         const float sx = x[lane] * scale - halfWidth, sy = halfWidth - y[lane] * scale;
                         float dx = f.x + r.x * sx + u.x * sy, dy = f.y + r.y * sx + u.y * sy,
                               dz = f.z + r.z * sx + u.z * sy;
                         const float inverse = 1.0f / std::sqrt(dx * dx + dy * dy + dz * dz);
                         dx *= inverse, dy *= inverse, dz *= inverse;
                         const float b = e.x * dx + e.y * dy + e.z * dz;
                         const float discriminant = b * b - c;
                         const float t = -b - std::sqrt(discriminant > 0.0f ? discriminant : 0.0f);
                         const bool hit = discriminant >= 0.0f && t > 0.0f;
                         const float px = e.x + dx * t, py = e.y + dy * t, pz = e.z + dz * t;
                         const float normal = 1.0f / std::sqrt(px * px + py * py + pz * pz);
                         const float ring = std::sqrt(px * px + pz * pz);
                         const float toRing = ring > 0.0f ? SRF_PI / ring : 0.0f;
                         out.dx[lane] = dx, out.dy[lane] = dy, out.dz[lane] = dz;
                         out.hit[lane] = hit ? 1 : 0;
                         out.nx[lane] = px * normal, out.ny[lane] = py * normal, out.nz[lane] = pz * normal;
                         out.sx[lane] = 2.0f * SRF_PI * pz, out.sy[lane] = 0.0f, out.sz[lane] = -2.0f * SRF_PI * px;
                         out.tx[lane] = -py * px * toRing;
                         out.ty[lane] = ring > 0.0f ? SRF_PI * ring : 0.0f;
                         out.tz[lane] = ring > 0.0f ? -py * pz * toRing : -SRF_PI * SPHERE_RADIUS;
                     });
}

// The inverse of the ray through (x, y): p - eye in the camera's frame,
// divided by its depth, is (sx, sy, 1).
bool SrfCamera::project(const BX_Vector3 &p, float &x, float &y, float &depth) const
{
    const BX_Vector3 v = p - myEye;
    depth = v.dot(myForward);
    if (depth <= 0.0f)
        return false;
    const float sx = v.dot(myRight) / depth, sy = v.dot(myUp) / depth;
    x = (sx / myHalfWidth + 1.0f) * 0.5f * float(mySize);
    y = (1.0f - sy / myHalfWidth) * 0.5f * float(mySize);
    return true;
}
