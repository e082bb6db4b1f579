#include "SrfStudio.h"

#include "SRF_Constants.h"
#include "SRF_LaneMath.h"
#include "SrfLaneLoop.h"

#include <algorithm>
#include <cmath>

namespace
{
const float DEGREES = SRF_PI / 180.0f;

// Sky: from the horizon colour up to the zenith colour; floor: from the
// horizon colour down to the nadir colour, through a narrow soft band.
const BX_Vector3 ZENITH(0.32f, 0.42f, 0.62f);
const BX_Vector3 HORIZON(0.75f, 0.74f, 0.72f);
const BX_Vector3 FLOOR(0.20f, 0.19f, 0.18f);
const BX_Vector3 NADIR(0.06f, 0.055f, 0.05f);
const float HORIZON_BAND = 0.08f; // half-width of the horizon blend, in y
const float BELOW_HORIZON = 0.1f; // the weight of a light below a surface's plane, against its power

float smoothstep(float edge0, float edge1, float x)
{
    const float t = (x - edge0) / (edge1 - edge0);
    const float c = t < 0.0f ? 0.0f : (t > 1.0f ? 1.0f : t);
    return c * c * (3.0f - 2.0f * c);
}

BX_Vector3 unit(float x, float y, float z)
{
    BX_Vector3 v(x, y, z);
    v.normalize();
    return v;
}
} // namespace

SrfStudio::Light SrfStudio::light(const BX_Vector3 &direction, const BX_Vector3 &colour, float innerDegrees,
                                  float outerDegrees)
{
    Light light = {};
    light.direction = direction;
    light.colour = colour;
    light.innerCos = std::cos(innerDegrees * DEGREES);
    light.outerCos = std::cos(outerDegrees * DEGREES);
    return light;
}

SrfStudio::SrfStudio()
{
    // Key: warm, large, high on the left in front of the sphere.
    myLights[0] = light(unit(-0.55f, 0.65f, 0.55f), BX_Vector3(3.2f, 2.9f, 2.5f), 18.0f, 45.0f);
    // Fill: cool, broad and dim, low on the right.
    myLights[1] = light(unit(0.85f, 0.20f, 0.45f), BX_Vector3(0.9f, 1.0f, 1.25f), 18.0f, 45.0f);
    // Rim: behind and above, to outline the silhouette.
    myLights[2] = light(unit(0.25f, 0.55f, -0.80f), BX_Vector3(1.8f, 1.8f, 1.8f), 14.0f, 35.0f);
    // Each light is picked in proportion to its power: the sum of its
    // colour times its mass, the integral of its profile over the sphere
    // divided by 2 pi: (1 - inner) + (inner - outer) / 2, smoothstep
    // averaging one half over the soft band.
    float total = 0.0f;
    for (Light &light : myLights)
    {
        light.mass = (1.0f - light.innerCos) + 0.5f * (light.innerCos - light.outerCos);
        light.power = (light.colour.x + light.colour.y + light.colour.z) * light.mass;
        light.sinOuter = std::sqrt(1.0f - light.outerCos * light.outerCos);
        total += light.power;
        light.tangent = light.direction.cross(std::fabs(light.direction.y) < 0.9f ? BX_Vector3(0.0f, 1.0f, 0.0f)
                                                                                  : BX_Vector3(1.0f, 0.0f, 0.0f));
        light.tangent.normalize();
        light.bitangent = light.direction.cross(light.tangent);
    }
    for (Light &light : myLights)
        light.power /= total;
}

namespace
{
// The first value where `first`, else the second where `second`, else the
// third: selects, for the lane loops.
inline float pick3(bool first, bool second, float a, float b, float c) { return first ? a : (second ? b : c); }
inline BX_Vector3 pick3(bool first, bool second, const BX_Vector3 &a, const BX_Vector3 &b, const BX_Vector3 &c)
{
    return BX_Vector3(pick3(first, second, a.x, b.x, c.x), pick3(first, second, a.y, b.y, c.y),
                      pick3(first, second, a.z, b.z, c.z));
}

template <class Light> inline void addLight(const Light &light, float x, float y, float z, float &r, float &g, float &b)
{
    const float c = x * light.direction.x + y * light.direction.y + z * light.direction.z;
    const float weight = smoothstep(light.outerCos, light.innerCos, c);
    r += light.colour.x * weight;
    g += light.colour.y * weight;
    b += light.colour.z * weight;
}

// The light's weight in the choice for normal n: its power, or a tenth of
// it when its whole cone lies below the plane of n (the angle from n to its
// axis exceeds 90 degrees plus its half-angle), where it can light only
// what the surface transmits.
template <class Light> inline float lightWeight(const Light &light, float nx, float ny, float nz)
{
    const float c = nx * light.direction.x + ny * light.direction.y + nz * light.direction.z;
    return c > -light.sinOuter ? light.power : BELOW_HORIZON * light.power;
}

// The probabilities of choosing each light for normal n.
template <class Lights> inline void lightChoices(const Lights &lights, float nx, float ny, float nz, float (&p)[3])
{
    const float w0 = lightWeight(lights[0], nx, ny, nz), w1 = lightWeight(lights[1], nx, ny, nz);
    const float w2 = lightWeight(lights[2], nx, ny, nz), inverse = 1.0f / (w0 + w1 + w2);
    p[0] = w0 * inverse, p[1] = w1 * inverse, p[2] = w2 * inverse;
}

// choice * profile(d) / (2 pi mass): the light's share of sampleLights'
// density at the unit direction d.
template <class Light> inline float lightDensity(const Light &light, float choice, float x, float y, float z)
{
    const float c = x * light.direction.x + y * light.direction.y + z * light.direction.z;
    return choice / (2.0f * SRF_PI * light.mass) * smoothstep(light.outerCos, light.innerCos, c);
}

// L(d) = gradient(d.y) + sum over lights of colour * smoothstep(outer, inner, d.light),
// written without branches so that a loop over lanes vectorises.
template <class Lights>
inline void studioRadiance(const Lights &lights, float x, float y, float z, float &r, float &g, float &b)
{
    const float up = y;
    const float skyT = std::sqrt(up > 0.0f ? up : 0.0f), floorT = std::sqrt(up < 0.0f ? -up : 0.0f);
    const float blend = smoothstep(-HORIZON_BAND, HORIZON_BAND, up);
    r = (FLOOR.x + (NADIR.x - FLOOR.x) * floorT) * (1.0f - blend) + (HORIZON.x + (ZENITH.x - HORIZON.x) * skyT) * blend;
    g = (FLOOR.y + (NADIR.y - FLOOR.y) * floorT) * (1.0f - blend) + (HORIZON.y + (ZENITH.y - HORIZON.y) * skyT) * blend;
    b = (FLOOR.z + (NADIR.z - FLOOR.z) * floorT) * (1.0f - blend) + (HORIZON.z + (ZENITH.z - HORIZON.z) * skyT) * blend;
    // The three lights written out: a loop over them would keep the lane
    // loop from vectorising.
    addLight(lights[0], x, y, z, r, g, b);
    addLight(lights[1], x, y, z, r, g, b);
    addLight(lights[2], x, y, z, r, g, b);
}
} // namespace

void SrfStudio::radiance(const float *x, const float *y, const float *z, int count, float *r, float *g, float *b) const
{
    const Light(&lights)[NLIGHTS] = myLights;
    SrfLaneLoop::run(count,
                     [&](int lane) { studioRadiance(lights, x[lane], y[lane], z[lane], r[lane], g[lane], b[lane]); });
}

BX_Vector3 SrfStudio::radiance(const BX_Vector3 &d) const
{
    BX_Vector3 result;
    studioRadiance(myLights, d.x, d.y, d.z, result.x, result.y, result.z);
    return result;
}

// Light i is picked when s falls in [c_i, c_i + choice_i); s is then
// rescaled to [0, 1) so that it keeps its stratification. In the cone of
// half-angle a about the light: cos(theta) = 1 - s' (1 - cos a),
// phi = 2 pi t.
void SrfStudio::sampleLights(const float *nx, const float *ny, const float *nz, const float *s, const float *t,
                             int count, float *x, float *y, float *z, float *pdf) const
{
    // The lights' parameters as plain values, so that the lane loop keeps
    // them in registers.
    const Light l0 = myLights[0], l1 = myLights[1], l2 = myLights[2];
    const Light(&lights)[NLIGHTS] = myLights;
    SrfLaneLoop::run(count,
                     [=](int lane)
                     {
                         float p[3];
                         lightChoices(lights, nx[lane], ny[lane], nz[lane], p);
                         const float u = s[lane];
                         const bool first = u < p[0], second = u < p[0] + p[1];
                         const float start = pick3(first, second, 0.0f, p[0], p[0] + p[1]);
                         const float width = pick3(first, second, p[0], p[1], p[2]);
                         const float scaled = (u - start) / width;
                         const float within = scaled < 0.99999994f ? scaled : 0.99999994f;
                         const float inner = pick3(first, second, l0.innerCos, l1.innerCos, l2.innerCos);
                         const float outer = pick3(first, second, l0.outerCos, l1.outerCos, l2.outerCos);
                         const float mass = pick3(first, second, l0.mass, l1.mass, l2.mass);
                         // The share `within` of the mass, counted from the
                         // centre: the full core first, then the band, where
                         // the mass between c = outer + t (inner - outer) and
                         // the inner edge is (inner - outer) (1/2 - S(t)),
                         // S(t) = t^3 - t^4 / 2, inverted by bisection and Newton.
                         const float target = within * mass, core = 1.0f - inner, band = inner - outer;
                         const float goal = 0.5f - (target - core) / band;
                         float low = 0.0f, high = 1.0f;
                         for (int step = 0; step < 8; ++step)
                         {
                             const float middle = 0.5f * (low + high);
                             const bool below = middle * middle * middle * (1.0f - 0.5f * middle) < goal;
                             low = below ? middle : low;
                             high = below ? high : middle;
                         }
                         // Then Newton's steps, S'(t) = t^2 (3 - 2t), kept
                         // inside the bracket: from 2^-8 to float precision.
                         float root = 0.5f * (low + high);
                         for (int step = 0; step < 2; ++step)
                         {
                             const float slope = root * root * (3.0f - 2.0f * root);
                             const float next =
                                 root - (root * root * root * (1.0f - 0.5f * root) - goal) / std::max(slope, 1e-6f);
                             root = std::min(high, std::max(low, next));
                         }
                         const float cosTheta = target < core ? 1.0f - target : outer + root * band;
                         const float sin2 = 1.0f - cosTheta * cosTheta;
                         const float sinTheta = std::sqrt(sin2 > 0.0f ? sin2 : 0.0f);
                         const float phi = 2.0f * SRF_PI * t[lane];
                         const float a = sinTheta * SRF_LaneMath::cos(phi), b = sinTheta * SRF_LaneMath::sin(phi);
                         const BX_Vector3 w = pick3(first, second, l0.direction, l1.direction, l2.direction);
                         const BX_Vector3 e1 = pick3(first, second, l0.tangent, l1.tangent, l2.tangent);
                         const BX_Vector3 e2 = pick3(first, second, l0.bitangent, l1.bitangent, l2.bitangent);
                         x[lane] = e1.x * a + e2.x * b + w.x * cosTheta;
                         y[lane] = e1.y * a + e2.y * b + w.y * cosTheta;
                         z[lane] = e1.z * a + e2.z * b + w.z * cosTheta;
                     });
    lightPdf(nx, ny, nz, x, y, z, count, pdf);
}

void SrfStudio::lightPdf(const float *nx, const float *ny, const float *nz, const float *x, const float *y,
                         const float *z, int count, float *pdf) const
{
    const Light(&lights)[NLIGHTS] = myLights;
    SrfLaneLoop::run(count,
                     [&](int lane)
                     {
                         float p[3];
                         lightChoices(lights, nx[lane], ny[lane], nz[lane], p);
                         pdf[lane] = lightDensity(lights[0], p[0], x[lane], y[lane], z[lane]) +
                                     lightDensity(lights[1], p[1], x[lane], y[lane], z[lane]) +
                                     lightDensity(lights[2], p[2], x[lane], y[lane], z[lane]);
                     });
}
