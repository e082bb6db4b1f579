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

    // Scales to unit length in place and returns the old length. A zero
    // vector (or one too short to invert) stays as it is: never a NaN.
    float normalize();

    void negate()
    {
        x = -x;
        y = -y;
        z = -z;
    }

    // Writes into a and b two unit vectors perpendicular to this (unit)
    // vector and to each other, so that (a, b, this) is right-handed. Stable
    // for every direction, the poles included.
    void getFrameOfReference(BX_Vector3 &a, BX_Vector3 &b) const;

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
