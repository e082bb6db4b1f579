#ifndef BX_POLARSAMPLE_H
#define BX_POLARSAMPLE_H

#include "BX_Vector3.h"

// Maps points of the unit square to directions about an axis: s gives the
// azimuth 2*pi*s, t the cosine 2t - 1 with the axis, so uniform (s, t) gives
// directions uniform over the sphere.
class BX_PolarSample
{
public:
    // A frame built from the axis alone.
    explicit BX_PolarSample(const BX_Vector3 &axis);
    // A frame given whole: the azimuth starts at tangent1 and turns toward
    // tangent2 about axis.
    BX_PolarSample(const BX_Vector3 &axis, const BX_Vector3 &tangent1, const BX_Vector3 &tangent2);

    void compute(BX_Vector3 &dir, float s, float t) const;

    // Area-preserving map of the unit square onto the unit disk (the
    // concentric map of Shirley and Chiu 1997).
    static void computeDisk2(float s, float t, float &x, float &y);

    const BX_Vector3 &axis() const { return myAxis; }
    const BX_Vector3 &tangent1() const { return myT1; }
    const BX_Vector3 &tangent2() const { return myT2; }

private:
    BX_Vector3 myAxis, myT1, myT2;
};

#endif
