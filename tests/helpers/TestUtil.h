#ifndef SRF_TEST_TESTUTIL_H
#define SRF_TEST_TESTUTIL_H

// Small utilities the unit tests share: pooled blocks filled from a list,
// a BSDF's flattened lists, captured dump text, one-call sample and
// evaluate with every output preset, and vector comparisons.

#include "BX_Vector3.h"
#include "SRF_BSDF.h"
#include "SRF_Constants.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>

namespace TestUtil
{
const float NaN = std::numeric_limits<float>::quiet_NaN();
const float INF = std::numeric_limits<float>::infinity();

inline BX_Vector3 unit(float x, float y, float z)
{
    BX_Vector3 v(x, y, z);
    v.normalize();
    return v;
}

// A pooled block whose first lanes hold the given values.
template <class T> T *fillBlock(T *block, std::initializer_list<T> lanes)
{
    int i = 0;
    for (const T &value : lanes)
        block[i++] = value;
    return block;
}
inline BX_Vector3 *vectors(std::initializer_list<BX_Vector3> lanes)
{
    return fillBlock(SRF_BSDF::allocVector(), lanes);
}
inline float *floats(std::initializer_list<float> lanes) { return fillBlock(SRF_BSDF::allocFloat(), lanes); }
inline int *ints(std::initializer_list<int> lanes) { return fillBlock(SRF_BSDF::allocInteger(), lanes); }

// What flatten lists for a BSDF (nothing for a null one).
struct Flat
{
    explicit Flat(SRF_BSDF *b)
    {
        if (b)
            b->flatten(bsdfs, vectors, floats);
    }
    BX_PtrArray<SRF_BSDF *> bsdfs;
    BX_PtrArray<BX_Vector3 *> vectors;
    BX_PtrArray<float *> floats;
};

// What dump writes to the standard error stream.
inline std::string dumpText(const SRF_BSDF &b, int indent)
{
    ::testing::internal::CaptureStderr();
    b.dump(indent);
    return ::testing::internal::GetCapturedStderr();
}

// One sample or evaluation with every output preset, so that what is not
// written shows.
struct Sampled
{
    BX_Vector3 v{-7.0f, -7.0f, -7.0f};
    BX_Vector3 colour{-7.0f, -7.0f, -7.0f};
    float scalar = -7.0f;
    int bounce = -7;
};
// (Also for the measured data sets, whose queries take the same arguments.)
template <class B>
inline Sampled sampleOf(const B &b, const BX_Vector3 &u, const BX_Vector3 &n, float sx, float sy, int lane = 0)
{
    Sampled s;
    b.sample(u, n, s.v, s.colour, s.scalar, s.bounce, sx, sy, lane);
    return s;
}
struct Evaluated
{
    BX_Vector3 colour{-7.0f, -7.0f, -7.0f};
    float scalar = -7.0f;
};
template <class B>
inline Evaluated evaluateOf(const B &b, const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, int lane = 0)
{
    Evaluated e;
    b.evaluate(u, n, v, e.colour, e.scalar, lane);
    return e;
}

// A whole file's text.
inline std::string readFile(const std::string &path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// A random unit vector, uniform on the sphere: a normalised Gaussian triple.
inline BX_Vector3 randomUnit(std::mt19937 &rng)
{
    std::normal_distribution<float> g;
    BX_Vector3 v(g(rng), g(rng), g(rng));
    v.normalize();
    return v;
}

// Drops one reference when it goes: a BSDF held for the length of a test.
struct DropRef
{
    void operator()(const SRF_BSDF *b) const
    {
        if (b)
            b->decRefCount();
    }
};
template <class T = SRF_BSDF> using Held = std::unique_ptr<T, DropRef>;
inline Held<> hold(SRF_BSDF *b) { return Held<>(b); }

inline bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof(float)) == 0; }
} // namespace TestUtil

#define EXPECT_VEC_NEAR(a, bx, by, bz, tol)                                                                            \
    do                                                                                                                 \
    {                                                                                                                  \
        const BX_Vector3 va_ = (a);                                                                                    \
        EXPECT_NEAR(va_.x, (bx), (tol));                                                                               \
        EXPECT_NEAR(va_.y, (by), (tol));                                                                               \
        EXPECT_NEAR(va_.z, (bz), (tol));                                                                               \
    } while (0)

#endif
