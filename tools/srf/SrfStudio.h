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

    // Light sampling: a light chosen with a fixed probability (in
    // proportion to its power), then a direction uniform over that light's
    // outer cone, from the numbers (s, t) in [0, 1)^2. Writes the unit
    // direction and its density per steradian under the whole mixture,
    // lightPdf's value.
    void sampleLights(const float *s, const float *t, int count, float *x, float *y, float *z, float *pdf) const;
    // The density with which sampleLights draws the unit direction d: the
    // sum over lights of choice * [d inside the outer cone] / cone solid angle.
    void lightPdf(const float *x, const float *y, const float *z, int count, float *pdf) const;

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
        float choice;                  // probability with which sampleLights picks it
        float start;                   // sum of the choices of the lights before it
        float density;                 // choice / solid angle of the outer cone
    };
    static constexpr int NLIGHTS = 3;
    Light myLights[NLIGHTS];
};

#endif
