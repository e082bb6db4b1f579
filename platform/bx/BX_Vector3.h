#ifndef BX_VECTOR3_H
#define BX_VECTOR3_H

#include <cmath>

// A direction or colour of three 32-bit floats, stored contiguously so that
// arrays of them form vector blocks.
class BX_Vector3
{
public:
    float x, y, z;

    BX_Vector3() : x(0.0f), y(0.0f), z(0.0f) {}
    BX_Vector3(float ax, float ay, float az) : x(ax), y(ay), z(az) {}

    float length2() const { return x * x + y * y + z * z; }
    float length() const { return std::sqrt(length2()); }

    // Scales to unit length in place and returns the old length. A vector
    // whose squared length a float cannot hold (components beyond about
    // 1e19 or below about 1e-19) is first scaled by 2^-100 or 2^100, which
    // is exact, so (1e30, 0, 0) and (1e-25, 0, 0) both become (1, 0, 0). A
    // zero vector, or one with a NaN component, stays as it is; one with an
    // infinite component keeps its infinities and NaNs.
    // Straight-line code, so that lane loops over it vectorise.
    float normalize()
    {
        const float len2 = length2();
        const float scale = len2 > MAX_SQUARED ? 0x1p-100f : (len2 < MIN_SQUARED ? 0x1p100f : 1.0f);
        const float sx = x * scale, sy = y * scale, sz = z * scale;
        const float scaled2 = sx * sx + sy * sy + sz * sz;
        const float len = std::sqrt(scaled2);
        // A vector with no direction is scaled back as it was.
        const bool valid = (scaled2 > 0.0f) & (scaled2 <= 3.4028235e38f);
        const float inv = valid ? 1.0f / len : 1.0f / scale;
        x = sx * inv;
        y = sy * inv;
        z = sz * inv;
        return len / scale;
    }

    void negate()
    {
        x = -x;
        y = -y;
        z = -z;
    }

    // Writes into a and b two unit vectors perpendicular to this vector and
    // to each other, so that (a, b, this) is right-handed, for any non-zero
    // length: the frame is built on the normalised direction n with the
    // branchless basis of Duff et al. 2017,
    //   s = sign(n.z), k = -1/(s + n.z), m = n.x n.y k,
    //   a = (1 + s n.x^2 k, s m, -s n.x), b = (m, s + n.y^2 k, -n.y),
    // whose sign choice keeps s + n.z away from 0, so both poles are exact.
    // A zero vector gives (1, 0, 0) and (0, 1, 0).
    void getFrameOfReference(BX_Vector3 &a, BX_Vector3 &b) const
    {
        BX_Vector3 n = *this;
        n.normalize();
        const float s = std::copysign(1.0f, n.z);
        const float k = -1.0f / (s + n.z);
        const float m = n.x * n.y * k;
        a = BX_Vector3(1.0f + s * n.x * n.x * k, s * m, -s * n.x);
        b = BX_Vector3(m, s + n.y * n.y * k, -n.y);
    }

    BX_Vector3 operator-() const { return BX_Vector3(-x, -y, -z); }
    BX_Vector3 operator+(const BX_Vector3 &o) const { return BX_Vector3(x + o.x, y + o.y, z + o.z); }
    BX_Vector3 operator-(const BX_Vector3 &o) const { return BX_Vector3(x - o.x, y - o.y, z - o.z); }
    BX_Vector3 operator*(float s) const { return BX_Vector3(x * s, y * s, z * s); }
    BX_Vector3 operator/(float s) const { return BX_Vector3(x / s, y / s, z / s); }
    BX_Vector3 &operator+=(const BX_Vector3 &o)
    {
        x += o.x;
        y += o.y;
        z += o.z;
        return *this;
    }
    BX_Vector3 &operator-=(const BX_Vector3 &o)
    {
        x -= o.x;
        y -= o.y;
        z -= o.z;
        return *this;
    }
    BX_Vector3 &operator*=(float s)
    {
        x *= s;
        y *= s;
        z *= s;
        return *this;
    }
    // The squared lengths normalize takes as they are; outside them it
    // scales the vector first.
    static constexpr float MIN_SQUARED = 0x1p-100f;
    static constexpr float MAX_SQUARED = 0x1p100f;

    int operator==(const BX_Vector3 &o) const { return x == o.x && y == o.y && z == o.z; }
    int operator!=(const BX_Vector3 &o) const { return !(*this == o); }

    float dot(const BX_Vector3 &o) const { return x * o.x + y * o.y + z * o.z; }
    BX_Vector3 cross(const BX_Vector3 &o) const
    {
        return BX_Vector3(y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x);
    }
};

inline BX_Vector3 operator*(float s, const BX_Vector3 &v) { return v * s; }
inline float dot(const BX_Vector3 &a, const BX_Vector3 &b) { return a.dot(b); }
inline BX_Vector3 cross(const BX_Vector3 &a, const BX_Vector3 &b) { return a.cross(b); }

#endif
