#include "BX_PolarSample.h"

#include <algorithm>

namespace
{
constexpr float TWO_PI = 6.2831855f;
constexpr float QUARTER_PI = 0.78539819f;
} // namespace

BX_PolarSample::BX_PolarSample(const BX_Vector3 &axis) : myAxis(axis) { axis.getFrameOfReference(myT1, myT2); }

BX_PolarSample::BX_PolarSample(const BX_Vector3 &axis, const BX_Vector3 &tangent1, const BX_Vector3 &tangent2)
    : myAxis(axis), myT1(tangent1), myT2(tangent2)
{
}

// cos(theta) = 2t - 1, phi = 2 pi s,
// dir = sin(theta) (cos(phi) t1 + sin(phi) t2) + cos(theta) axis.
void BX_PolarSample::compute(BX_Vector3 &dir, float s, float t) const
{
    const float cosTheta = std::clamp(2.0f * t - 1.0f, -1.0f, 1.0f);
    const float sinTheta = std::sqrt(std::max(0.0f, 1.0f - cosTheta * cosTheta));
    const float phi = TWO_PI * s;
    const float a = sinTheta * std::cos(phi);
    const float b = sinTheta * std::sin(phi);
    dir = myT1 * a + myT2 * b + myAxis * cosTheta;
}

// Concentric map: the square [-1,1]^2 is cut into four triangles, each
// mapped to a quarter of the disk with r = |a| and phi = (pi/4)(b/a) for
// the larger coordinate a, which keeps area ratios.
void BX_PolarSample::computeDisk2(float s, float t, float &x, float &y)
{
    const float a = 2.0f * s - 1.0f;
    const float b = 2.0f * t - 1.0f;
    if (a == 0.0f && b == 0.0f)
    {
        x = 0.0f;
        y = 0.0f;
        return;
    }
    float r, phi;
    if (std::fabs(a) > std::fabs(b))
    {
        r = a;
        phi = QUARTER_PI * (b / a);
    }
    else
    {
        r = b;
        phi = 2.0f * QUARTER_PI - QUARTER_PI * (a / b);
    }
    x = r * std::cos(phi);
    y = r * std::sin(phi);
}
