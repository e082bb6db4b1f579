#ifndef SRF_TOOL_STUDIO_H
#define SRF_TOOL_STUDIO_H

#include "BX_Vector3.h"

// The soft studio that lights the preview sphere: radiance arriving from
// every direction, with y up. A bright sky gradient over a darker floor,
// and three broad lights (a warm key upper left, a cool fill to the right,
// a rim light behind) whose soft edges give glossy lobes visible,
// well-shaped highlights without making diffuse renders noisy.
//
// Directions are given as lane arrays (x, y and z of lane i at index i), and
// each query is a loop over lanes that the compiler vectorises.
class SrfStudio
{
public:
    SrfStudio();

    // Radiance arriving along -d, that is seen looking toward d (a unit
    // vector), into r, g, b.
    void radiance(const float *x, const float *y, const float *z, int count, float *r, float *g, float *b) const;

    // Light sampling for a surface of normal n: a light chosen in
    // proportion to its power (a tenth of it for a light whose cone lies
    // wholly below the surface's plane), then a direction about it with density in
    // proportion to its profile (full inside the inner cone, falling as the
    // smoothstep to nothing at the outer one), from the numbers (s, t) in
    // [0, 1)^2. Writes the unit
    // direction and its density per steradian under the whole mixture,
    // lightPdf's value.
    void sampleLights(const float *nx, const float *ny, const float *nz, const float *s, const float *t, int count,
                      float *x, float *y, float *z, float *pdf) const;
    // The density with which sampleLights draws the unit direction d for
    // normal n: the sum over lights of choice * profile(d) / the integral of
    // the profile.
    void lightPdf(const float *nx, const float *ny, const float *nz, const float *x, const float *y, const float *z,
                  int count, float *pdf) const;

    // One direction's radiance, for callers outside lane loops.
    BX_Vector3 radiance(const BX_Vector3 &direction) const;

private:
    struct Light
    {
        BX_Vector3 direction;          // unit, toward the light
        BX_Vector3 colour;             // radiance at the centre
        float innerCos;                // full radiance inside this cone
        float outerCos;                // nothing outside this one
        BX_Vector3 tangent, bitangent; // with direction, a frame for sampling
        float power;                   // its share of the lights' power
        float sinOuter;                // sine of the outer cone's half-angle
        float mass;                    // the integral of the profile over the sphere, over 2 pi
    };
    // A light toward `direction` (unit) of radiance `colour` at its centre,
    // full within innerDegrees of it, nothing beyond outerDegrees.
    static Light light(const BX_Vector3 &direction, const BX_Vector3 &colour, float innerDegrees, float outerDegrees);

    static constexpr int NLIGHTS = 3;
    Light myLights[NLIGHTS];
};

#endif
