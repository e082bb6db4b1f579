#ifndef SRF_TOOL_CAMERA_H
#define SRF_TOOL_CAMERA_H

#include "BX_Vector3.h"
#include "KAL_API.h"

// The fixed preview camera and the unit sphere at the origin that it looks
// at, slightly from above (y up). The sphere fills about four fifths of the
// square image.
class SrfCamera
{
public:
    // The rays of up to KAL_MAX_LANES image points and what a shader needs
    // where they meet the sphere, one array element per lane (structure of
    // arrays, so that the loops over lanes vectorise).
    struct Lanes
    {
        float dx[KAL_MAX_LANES], dy[KAL_MAX_LANES], dz[KAL_MAX_LANES]; // the ray's unit direction; u = -ray
        int hit[KAL_MAX_LANES];                                        // 1 where the ray meets the sphere
        // Where it does: N, the outward unit normal, and the derivatives
        // along longitude (s in [0, 1] around y) and latitude (t in [0, 1],
        // south to north).
        float nx[KAL_MAX_LANES], ny[KAL_MAX_LANES], nz[KAL_MAX_LANES];
        float sx[KAL_MAX_LANES], sy[KAL_MAX_LANES], sz[KAL_MAX_LANES];
        float tx[KAL_MAX_LANES], ty[KAL_MAX_LANES], tz[KAL_MAX_LANES];
    };

    explicit SrfCamera(int size);

    // Traces the rays through the image points (x[i], y[i]), in pixels from
    // the top-left corner (pixel centres at half-integers), for i < count.
    void trace(const float *x, const float *y, int count, Lanes &lanes) const;

    // The eye, where every ray starts.
    const BX_Vector3 &eye() const { return myEye; }
    // The image point (x, y), in pixels, where the point p appears, and its
    // distance along the view axis; false for a point behind the eye.
    bool project(const BX_Vector3 &p, float &x, float &y, float &depth) const;
    // How many pixels one unit of length spans at that depth.
    float pixelsPerUnit(float depth) const { return float(mySize) * 0.5f / (myHalfWidth * depth); }

private:
    int mySize;
    BX_Vector3 myEye, myForward, myRight, myUp;
    float myHalfWidth; // tangent of half the field of view
};

#endif
