#ifndef BX_POLARSAMPLE_H
#define BX_POLARSAMPLE_H

#include "BX_Vector3.h"

#include <algorithm>
#include <cmath>

// The trigonometry of the warps: the standard functions. Lane loops that
// must vectorise pass a class of their own with the same two members.
struct BX_StdTrig
{
    static float sin(float a) { return std::sin(a); }
    static float cos(float a) { return std::cos(a); }
    // The same for an angle within a few turns (an azimuth), which a
    // vectorised set may reduce more cheaply than any angle.
    static float sinSmall(float a) { return std::sin(a); }
    static float cosSmall(float a) { return std::cos(a); }
};

// Maps points of the unit square to directions about an axis: s gives the
// azimuth 2*pi*s, t the cosine 2t - 1 with the axis, so uniform (s, t) gives
// directions uniform over the sphere. The direction is of unit length
// whatever the length of the axis: the sampler works on the axis's
// normalised direction.
class BX_PolarSample
{
public:
    // A frame built from the axis alone.
    explicit BX_PolarSample(const BX_Vector3 &axis) : myAxis(axis.x, axis.y, axis.z)
    {
        myAxis.normalize();
        myAxis.getFrameOfUnit(myT1, myT2);
    }
    // A frame given whole: the azimuth starts at tangent1 and turns toward
    // tangent2 about axis. The tangents are taken as given (unit and
    // perpendicular to the axis); the axis is normalised.
    BX_PolarSample(const BX_Vector3 &axis, const BX_Vector3 &tangent1, const BX_Vector3 &tangent2)
        : myAxis(axis.x, axis.y, axis.z), myT1(tangent1.x, tangent1.y, tangent1.z),
          myT2(tangent2.x, tangent2.y, tangent2.z)
    {
        myAxis.normalize();
    }

    // cos(theta) = 2t - 1, phi = 2 pi s,
    // dir = sin(theta) (cos(phi) t1 + sin(phi) t2) + cos(theta) axis.
    template <class Trig = BX_StdTrig> void compute(BX_Vector3 &dir, float s, float t) const
    {
        dir = onFrame<Trig>(myAxis, myT1, myT2, s, t);
    }

    // What BX_PolarSample(axis).compute and BX_PolarSample(axis, tangent1,
    // tangent2).compute write, without an object: lane loops vectorise over
    // values, not over an object whose members they address.
    template <class Trig = BX_StdTrig> static BX_Vector3 about(const BX_Vector3 &axis, float s, float t)
    {
        BX_Vector3 unitAxis = axis, t1, t2;
        unitAxis.normalize();
        unitAxis.getFrameOfUnit(t1, t2);
        return onFrame<Trig>(unitAxis, t1, t2, s, t);
    }
    template <class Trig = BX_StdTrig>
    static BX_Vector3 about(const BX_Vector3 &axis, const BX_Vector3 &tangent1, const BX_Vector3 &tangent2, float s,
                            float t)
    {
        BX_Vector3 unitAxis = axis;
        unitAxis.normalize();
        return onFrame<Trig>(unitAxis, tangent1, tangent2, s, t);
    }

    // Area-preserving map of the unit square onto the unit disk (the
    // concentric map of Shirley and Chiu 1997): the square [-1,1]^2 is cut
    // into four triangles, each mapped to a quarter of the disk with r = |a|
    // and phi = (pi/4)(b/a) for the larger coordinate a, which keeps area
    // ratios.
    template <class Trig = BX_StdTrig> static void computeDisk2(float s, float t, float &x, float &y)
    {
        const float a = 2.0f * s - 1.0f;
        const float b = 2.0f * t - 1.0f;
        const bool wide = std::fabs(a) > std::fabs(b);
        const float r = wide ? a : b;
        const float numerator = wide ? b : a;
        // The centre (a = b = 0) divides nothing: its ratio is 0, its radius 0.
        const float denominator = r == 0.0f ? 1.0f : r;
        const float ratio = numerator / denominator;
        const float phi = wide ? QUARTER_PI * ratio : 2.0f * QUARTER_PI - QUARTER_PI * ratio;
        x = r * Trig::cosSmall(phi);
        y = r * Trig::sinSmall(phi);
    }

    // Lambert's azimuthal equal-area projection of a hemisphere about +z
    // onto the unit disk, as plots of a lobe draw it seen from above: the
    // direction at angle t from the pole lands at radius sqrt(1 - |cos t|),
    // so equal areas of the disk hold equal solid angles. fromEqualAreaDisk
    // gives the direction of disk point (x, y) (x^2 + y^2 <= 1) in the upper
    // or lower hemisphere; toEqualAreaDisk takes the hemisphere from the sign
    // of v.z. With r^2 = x^2 + y^2: v = (x k, y k, +-(1 - r^2)), k =
    // sqrt(2 - r^2).
    static BX_Vector3 fromEqualAreaDisk(float x, float y, bool upper)
    {
        const float r2 = x * x + y * y;
        const float k = std::sqrt(std::fmax(2.0f - r2, 0.0f));
        const float z = 1.0f - r2;
        return BX_Vector3(x * k, y * k, upper ? z : -z);
    }
    static void toEqualAreaDisk(const BX_Vector3 &v, float &x, float &y)
    {
        const float k = std::sqrt(1.0f + std::fabs(v.z));
        x = v.x / k;
        y = v.y / k;
    }

    const BX_Vector3 &axis() const { return myAxis; }
    const BX_Vector3 &tangent1() const { return myT1; }
    const BX_Vector3 &tangent2() const { return myT2; }

    static constexpr float TWO_PI = 6.2831855f;
    static constexpr float QUARTER_PI = 0.78539819f;

private:
    template <class Trig>
    static BX_Vector3 onFrame(const BX_Vector3 &unitAxis, const BX_Vector3 &t1, const BX_Vector3 &t2, float s, float t)
    {
        const float cosTheta = std::clamp(2.0f * t - 1.0f, -1.0f, 1.0f);
        const float sinTheta = std::sqrt(std::max(0.0f, 1.0f - cosTheta * cosTheta));
        const float phi = TWO_PI * s;
        const float a = sinTheta * Trig::cosSmall(phi);
        const float b = sinTheta * Trig::sinSmall(phi);
        return t1 * a + t2 * b + unitAxis * cosTheta;
    }

    BX_Vector3 myAxis, myT1, myT2;
};

#endif
