#include "BX_Vector3.h"

float BX_Vector3::normalize()
{
    const float len = length();
    if (len > 0.0f && std::isfinite(1.0f / len))
    {
        const float inv = 1.0f / len;
        x *= inv;
        y *= inv;
        z *= inv;
    }
    return len;
}

// Branchless orthonormal basis (Duff et al. 2017): for a unit n,
//   s = sign(n.z), a = -1/(s + n.z), b = n.x n.y a,
//   t1 = (1 + s n.x^2 a, s b, -s n.x), t2 = (b, s + n.y^2 a, -n.y).
// The sign choice keeps s + n.z away from 0, so both poles are exact.
void BX_Vector3::getFrameOfReference(BX_Vector3 &a, BX_Vector3 &b) const
{
    const float s = std::copysign(1.0f, z);
    const float inv = -1.0f / (s + z);
    const float k = x * y * inv;
    a = BX_Vector3(1.0f + s * x * x * inv, s * k, -s * x);
    b = BX_Vector3(k, s + y * y * inv, -y);
}
