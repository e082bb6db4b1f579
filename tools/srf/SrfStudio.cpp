#include "SrfStudio.h"

#include <cmath>

namespace
{
const float DEGREES = 3.14159265358979f / 180.0f;

// Sky: from the horizon colour up to the zenith colour; floor: from the
// horizon colour down to the nadir colour, through a narrow soft band.
const BX_Vector3 ZENITH(0.32f, 0.42f, 0.62f);
const BX_Vector3 HORIZON(0.75f, 0.74f, 0.72f);
const BX_Vector3 FLOOR(0.20f, 0.19f, 0.18f);
const BX_Vector3 NADIR(0.06f, 0.055f, 0.05f);
const float HORIZON_BAND = 0.08f; // half-width of the horizon blend, in y

float smoothstep(float edge0, float edge1, float x)
{
    const float t = (x - edge0) / (edge1 - edge0);
    const float c = t < 0.0f ? 0.0f : (t > 1.0f ? 1.0f : t);
    return c * c * (3.0f - 2.0f * c);
}

BX_Vector3 mix(const BX_Vector3 &a, const BX_Vector3 &b, float t) { return a * (1.0f - t) + b * t; }

BX_Vector3 unit(float x, float y, float z)
{
    BX_Vector3 v(x, y, z);
    v.normalize();
    return v;
}
} // namespace

SrfStudio::SrfStudio()
{
    // Key: warm, large, high on the left in front of the sphere.
    myLights[0] = {unit(-0.55f, 0.65f, 0.55f), BX_Vector3(3.2f, 2.9f, 2.5f), std::cos(18.0f * DEGREES),
                   std::cos(45.0f * DEGREES)};
    // Fill: cool, broad and dim, low on the right.
    myLights[1] = {unit(0.85f, 0.20f, 0.45f), BX_Vector3(0.9f, 1.0f, 1.25f), std::cos(18.0f * DEGREES),
                   std::cos(45.0f * DEGREES)};
    // Rim: behind and above, to outline the silhouette.
    myLights[2] = {unit(0.25f, 0.55f, -0.80f), BX_Vector3(1.8f, 1.8f, 1.8f), std::cos(14.0f * DEGREES),
                   std::cos(35.0f * DEGREES)};
}

// L(d) = gradient(d.y) + sum over lights of colour * smoothstep(outer, inner, d.light)
BX_Vector3 SrfStudio::radiance(const BX_Vector3 &d) const
{
    const float up = d.y;
    BX_Vector3 sky = mix(HORIZON, ZENITH, std::sqrt(up > 0.0f ? up : 0.0f));
    BX_Vector3 ground = mix(FLOOR, NADIR, std::sqrt(up < 0.0f ? -up : 0.0f));
    BX_Vector3 result = mix(ground, sky, smoothstep(-HORIZON_BAND, HORIZON_BAND, up));
    for (const Light &light : myLights)
    {
        const float c = d.dot(light.direction);
        if (c > light.outerCos)
            result += light.colour * smoothstep(light.outerCos, light.innerCos, c);
    }
    return result;
}
