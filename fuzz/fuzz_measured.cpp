// Fuzzes the measurement file reader, and the fitting and the fitted models
// on the files that read to few points.
//
// Each input is written to one file beside the executable (removed at
// exit) and read through SRF_MeasuredData::read; a small data set is then
// fitted by both models, which are queried and wrapped in a measured lobe.
// Besides the sanitizers, it checks that the three arrays agree with the
// point count, that no pool block or BSDF outlives the input, and that a
// lobe's duplicate evaluates as the original.
#include "FuzzInputFile.h"
#include "SRF_Measured.h"
#include "SRF_MeasuredAshikhmin.h"
#include "SRF_MeasuredPhong.h"

#include "BX_Vector3Array.h"
#include "KAL_DataPool.h"
#include "KAL_RefType.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{
// Fitting costs time per point: larger data sets are only read. A fit costs
// far more than a read, so only one input in FIT_EVERY (by a hash of its
// bytes, so that a crash reproduces) is fitted.
const int MAX_FITTED_POINTS = 64;
const uint32_t FIT_EVERY = 8;

uint32_t hash(const uint8_t *data, size_t size)
{
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        h = (h ^ data[i]) * 16777619u;
    return h;
}

// Exposes the protected reader.
class Reader : public SRF_MeasuredData
{
public:
    Reader() : SRF_MeasuredData("") {}
    void readFile(const char *path, BX_Vector3Array &in, BX_Vector3Array &out, BX_Vector3Array &values)
    {
        read(path, in, out, values);
    }
    void sample(const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &, BX_Vector3 &, float &, int &, float, float,
                int) const override
    {
    }
    float albedo(const BX_Vector3 &, const BX_Vector3 &, int) const override { return 0.0f; }
    void evaluate(const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &, float &, int) const override
    {
    }
};

bool sameBits(const BX_Vector3 &a, const BX_Vector3 &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void fail(const char *what)
{
    fprintf(stderr, "fuzz_measured: %s\n", what);
    abort();
}

// Queries a fitted model and a measured lobe built on it.
void exercise(SRF_MeasuredData &data)
{
    const BX_Vector3 n(0.0f, 0.0f, 1.0f);
    const BX_Vector3 directions[] = {BX_Vector3(0.0f, 0.0f, 1.0f), BX_Vector3(0.6f, 0.0f, 0.8f),
                                     BX_Vector3(0.0f, -0.6f, 0.8f), BX_Vector3(1.0f, 0.0f, 0.0f),
                                     BX_Vector3(0.0f, 0.0f, -1.0f)};
    for (const BX_Vector3 &u : directions)
    {
        BX_Vector3 v, colour;
        float scalar = 0.0f;
        int bounce = 0;
        data.albedo(u, n, 0);
        data.specularRatio(0);
        data.sample(u, n, v, colour, scalar, bounce, 0.25f, 0.75f, 0);
        data.sample(u, n, v, colour, scalar, bounce, 0.0f, 1.0f, 0);
        for (const BX_Vector3 &w : directions)
            data.evaluate(u, n, w, colour, scalar, 0);
    }

    const int lanes = 4;
    BX_Vector3 *normals = SRF_BSDF::allocVector();
    BX_Vector3 *dPds = SRF_BSDF::allocVector();
    BX_Vector3 *dPdt = SRF_BSDF::allocVector();
    if (!normals || !dPds || !dPdt)
        fail("the pool gave no block");
    for (int i = 0; i < lanes; ++i)
    {
        normals[i] = directions[i];
        dPds[i] = BX_Vector3(1.0f, 0.0f, 0.0f);
        dPdt[i] = BX_Vector3(0.0f, 1.0f, 0.0f);
    }
    SRF_BSDF *lobe = new SRF_Measured(&data, normals, dPds, dPdt);
    if (!lobe)
        fail("no storage for a measured lobe");
    SRF_BSDF *copy = lobe->duplicate(lanes);
    if (!copy)
        fail("duplicate gave null");
    for (int lane = 0; lane < lanes; ++lane)
    {
        BX_Vector3 a, b;
        float sa = 0.0f, sb = 0.0f;
        lobe->evaluate(directions[1], n, directions[2], a, sa, lane, SRF_BOUNCE_ALL);
        copy->evaluate(directions[1], n, directions[2], b, sb, lane, SRF_BOUNCE_ALL);
        if (!sameBits(a, b) || std::memcmp(&sa, &sb, sizeof sa) != 0)
            fail("a duplicate evaluates differently from its original");
    }
    copy->decRefCount();
    lobe->decRefCount();
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzInputFile::setUp(*argc > 0 ? (*argv)[0] : nullptr, "fuzz_measured");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInputFile::write(data, size);

    const long blocks = KAL_DataPool::getDataPool().blocksOut();
    const long objects = KAL_RefType::liveObjects();

    Reader reader;
    BX_Vector3Array in, out, values;
    reader.readFile(FuzzInputFile::path().c_str(), in, out, values);
    const int points = reader.getPointCount();
    if (points < 0 || in.entries() != points || out.entries() != points || values.entries() != points)
        fail("the arrays disagree with the point count");
    // Read twice: the same file gives the same data.
    BX_Vector3Array in2, out2, values2;
    reader.readFile(FuzzInputFile::path().c_str(), in2, out2, values2);
    if (reader.getPointCount() != points)
        fail("a second read gives another point count");
    for (int i = 0; i < points; ++i)
        if (!sameBits(in[i], in2[i]) || !sameBits(out[i], out2[i]) || !sameBits(values[i], values2[i]))
            fail("a second read gives other values");

    if (points <= MAX_FITTED_POINTS && hash(data, size) % FIT_EVERY == 0)
    {
        SRF_MeasuredPhong phong(FuzzInputFile::path().c_str());
        if (phong.getPointCount() != points)
            fail("the Phong fit read another point count");
        exercise(phong);
        SRF_MeasuredAshikhmin ashikhmin(FuzzInputFile::path().c_str());
        exercise(ashikhmin);
    }

    if (KAL_DataPool::getDataPool().blocksOut() != blocks || KAL_RefType::liveObjects() != objects)
        fail("pool blocks or BSDFs were not given back");
    return 0;
}
