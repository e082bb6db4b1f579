#ifndef SRF_TOOL_CAMERA_H
#define SRF_TOOL_CAMERA_H

#include "BX_Vector3.h"

// The fixed preview camera and the unit sphere at the origin that it looks
// at, slightly from above (y up). The sphere fills about four fifths of the
// square image.
class SrfCamera
{
public:
    // What a shader needs at a point of the sphere.
    struct Hit
    {
        BX_Vector3 position;
        BX_Vector3 normal; // N: the outward unit normal
        BX_Vector3 dPds;   // derivative along longitude (s in [0, 1] around y)
        BX_Vector3 dPdt;   // derivative along latitude (t in [0, 1], south to north)
        BX_Vector3 toEye;  // u: unit direction from the point toward the camera
    };

    explicit SrfCamera(int size);

    // The unit direction of the ray through the image point (x, y), in
    // pixels from the top-left corner (pixel centres at half-integers).
    BX_Vector3 ray(float x, float y) const;
    // Whether the ray through (x, y) meets the sphere; fills hit if so.
    bool trace(float x, float y, Hit &hit) const;

private:
    int mySize;
    BX_Vector3 myEye, myForward, myRight, myUp;
    float myHalfWidth; // tangent of half the field of view
};

#endif
