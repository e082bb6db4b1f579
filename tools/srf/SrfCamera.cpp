#include "SrfCamera.h"

#include <cmath>

namespace
{
const float PI = 3.14159265358979f;
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

BX_Vector3 SrfCamera::ray(float x, float y) const
{
    const float sx = (2.0f * x / float(mySize) - 1.0f) * myHalfWidth;
    const float sy = (1.0f - 2.0f * y / float(mySize)) * myHalfWidth;
    BX_Vector3 d = myForward + myRight * sx + myUp * sy;
    d.normalize();
    return d;
}

// |e + t d|^2 = r^2 with |d| = 1: t = -b - sqrt(b^2 - c), b = e.d, c = e.e - r^2.
// The sphere is parametrised P = r (cos(lat) sin(lon), sin(lat), cos(lat) cos(lon)),
// lon = 2 pi s - pi, lat = pi t - pi / 2.
bool SrfCamera::trace(float x, float y, Hit &hit) const
{
    const BX_Vector3 d = ray(x, y);
    const float b = myEye.dot(d);
    const float c = myEye.length2() - SPHERE_RADIUS * SPHERE_RADIUS;
    const float discriminant = b * b - c;
    if (discriminant < 0.0f)
        return false;
    const float t = -b - std::sqrt(discriminant);
    if (t <= 0.0f)
        return false;
    hit.position = myEye + d * t;
    hit.normal = hit.position * (1.0f / SPHERE_RADIUS);
    hit.normal.normalize();
    const BX_Vector3 &p = hit.position;
    const float ring = std::sqrt(p.x * p.x + p.z * p.z); // r cos(lat)
    // dP/ds = 2 pi (P.z, 0, -P.x): along the parallel, toward increasing lon.
    hit.dPds = BX_Vector3(p.z, 0.0f, -p.x) * (2.0f * PI);
    // dP/dt = pi (-sin(lat) sin(lon), cos(lat), -sin(lat) cos(lon)) r.
    if (ring > 0.0f)
        hit.dPdt = BX_Vector3(-p.y * p.x / ring, ring, -p.y * p.z / ring) * PI;
    else
        hit.dPdt = BX_Vector3(0.0f, 0.0f, -PI * SPHERE_RADIUS);
    hit.toEye = -d;
    return true;
}
