// Batch queries answer what the per-lane queries answer, for every class
// (one registry), every query, masked and mask-free, in every vector
// variant this processor runs, and the variants agree bit for bit. (The
// query ops are checked in every mode by test_ops.)
#include "SRF_Ashikhmin.h"
#include "SRF_Blinn.h"
#include "SRF_Cone.h"
#include "SRF_Emission.h"
#include "SRF_Isotropic.h"
#include "SRF_Lafortune.h"
#include "SRF_LaneLoops.h"
#include "SRF_LaneMath.h"
#include "SRF_MulBSDF.h"
#include "SRF_Phong.h"
#include "SRF_ScaleBSDF.h"
#include "SRF_Specular.h"
#include "SRF_SumBSDF.h"
#include "SRF_SwitchBSDF.h"
#include "SRF_WireBlinn.h"
#include "SRF_WireDiffuse.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace
{
const int N = KAL_MAX_LANES;
const float SENTINEL = -7.0f;
const int BOUNCE_SENTINEL = -3;
const SRF_BatchMode VARIANTS[] = {SRF_BATCH_SCALAR, SRF_BATCH_SSE2, SRF_BATCH_AVX2, SRF_BATCH_AVX512};

using Rng = std::mt19937;
float uniform(Rng &rng, float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); }

BX_Vector3 direction(Rng &rng)
{
    BX_Vector3 d(uniform(rng, -1, 1), uniform(rng, -1, 1), uniform(rng, -1, 1));
    d.normalize();
    return d;
}

// Blocks with a value per lane from a generator: lanes of different parameters.
BX_Vector3 *vectors(Rng &rng, std::function<BX_Vector3(Rng &)> make)
{
    BX_Vector3 *block = SRF_BSDF::allocVector();
    for (int i = 0; i < N; ++i)
        block[i] = make(rng);
    return block;
}
float *floats(Rng &rng, float lo, float hi, float special)
{
    float *block = SRF_BSDF::allocFloat();
    for (int i = 0; i < N; ++i)
        block[i] = i % 9 == 4 ? special : uniform(rng, lo, hi);
    return block;
}
BX_Vector3 *unitVectors(Rng &rng) { return vectors(rng, direction); }
// Axes, normals and tangents of lengths 0.5 to 3: used as stored.
BX_Vector3 *longVectors(Rng &rng)
{
    return vectors(rng, [](Rng &r) { return direction(r) * uniform(r, 0.5f, 3.0f); });
}

// A host's Phong with its own albedo: answered lane by lane by the base class.
struct HostPhong : SRF_Phong
{
    using SRF_Phong::albedo;
    using SRF_Phong::SRF_Phong;
    float albedo(const BX_Vector3 &u, const BX_Vector3 &, int lane) const override { return 0.25f + u.x * lane; }
};
struct ClassCase
{
    const char *name;
    std::function<SRF_BSDF *(Rng &)> make;
};

SRF_BSDF *phong(Rng &r) { return new SRF_Phong(longVectors(r), floats(r, 0, 200, 0)); }
SRF_BSDF *cone(Rng &r) { return new SRF_Cone(longVectors(r), floats(r, 0, 2, 0)); }
SRF_BSDF *blinn(Rng &r) { return new SRF_Blinn(longVectors(r), floats(r, 0, 200, -1)); }
SRF_BSDF *lafortune(Rng &r)
{
    return new SRF_Lafortune(longVectors(r), vectors(r, [](Rng &g) { return BX_Vector3(uniform(g, -1, 1), -1, 1); }),
                             floats(r, -1, 60, 0));
}
SRF_BSDF *tinted(SRF_BSDF *operand, Rng &r)
{
    // Every third lane black: those lanes never reach the operand.
    int k = 0;
    return new SRF_ScaleBSDF(
        operand,
        vectors(r, [&](Rng &g)
                { return k++ % 3 ? BX_Vector3(uniform(g, 0, 1), uniform(g, -1, 1), 0.5f) : BX_Vector3(0, 0, 0); }));
}

const std::vector<ClassCase> &registry()
{
    static const std::vector<ClassCase> all = {
        {"isotropic", [](Rng &) { return new SRF_Isotropic(); }},
        {"emission", [](Rng &) { return new SRF_Emission(); }},
        {"specular", [](Rng &r) { return new SRF_Specular(longVectors(r)); }},
        {"phong", phong},
        {"blinn", blinn},
        {"cone", cone},
        {"ashikhmin",
         [](Rng &r)
         {
             return new SRF_Ashikhmin(longVectors(r), floats(r, 0, 300, 0), floats(r, 0, 30, 5), unitVectors(r),
                                      unitVectors(r));
         }},
        {"lafortune", lafortune},
        {"wirediffuse", [](Rng &r) { return new SRF_WireDiffuse(longVectors(r)); }},
        {"wireblinn", [](Rng &r) { return new SRF_WireBlinn(unitVectors(r), floats(r, 0, 100, 0)); }},
        {"sum", [](Rng &r) { return new SRF_SumBSDF(tinted(phong(r), r), new SRF_Isotropic()); }},
        {"sum with emission", [](Rng &r) { return new SRF_SumBSDF(new SRF_Emission(), cone(r)); }},
        {"scale", [](Rng &r) { return tinted(new SRF_SumBSDF(new SRF_Emission(), blinn(r)), r); }},
        {"mul", [](Rng &r) { return new SRF_MulBSDF(lafortune(r), blinn(r)); }},
        {"switch",
         [](Rng &r)
         {
             BX_PtrArray<SRF_BSDF *> entries;
             entries.append(cone(r));
             entries.append(new SRF_MulBSDF(phong(r), new SRF_Specular(longVectors(r))));
             entries.append(new SRF_Emission());
             int *index = SRF_BSDF::allocInteger();
             for (int i = 0; i < N; ++i)
                 index[i] = i % 5 - 1; // -1 and 3 pick no entry
             return new SRF_SwitchBSDF(entries, index);
         }},
        {"deep sum",
         [](Rng &r)
         {
             SRF_BSDF *tree = blinn(r);
             for (int level = 0; level < SRF_BSDF::MAX_BATCH_DEPTH + 3; ++level)
                 tree = new SRF_SumBSDF(level % 2 ? tinted(tree, r) : tree, phong(r));
             return tree;
         }},
        {"host phong", [](Rng &r) { return new HostPhong(longVectors(r), floats(r, 0, 50, 0)); }},
    };
    return all;
}

// One set of per-lane inputs: grazing and below-horizon directions, a NaN
// in some lane's input, masks 0 to 15, lanes that do not run.
struct Inputs
{
    BX_Vector3 u[N], n[N], v[N];
    float sx[N], sy[N];
    int mask[N], run[N];
    explicit Inputs(Rng &rng)
    {
        for (int i = 0; i < N; ++i)
        {
            n[i] = direction(rng);
            u[i] = direction(rng);
            v[i] = i % 11 == 3 ? BX_Vector3(u[i].y, -u[i].x, 0) : direction(rng); // grazing
            sx[i] = i % 13 == 0 ? 1.0f : uniform(rng, 0, 1);
            sy[i] = i % 17 == 0 ? 0.0f : uniform(rng, 0, 1);
            mask[i] = int(rng() % 16);
            run[i] = rng() % 4 != 0;
        }
        // NaNs of other bits than the canonical one's: a negative one and
        // one with a payload, which every path must write as the one NaN.
        u[37].x = -NAN;
        v[41].z = -NAN;
        sy[43] = std::nanf("0x123");
        run[N - 1] = 0;
    }
};

// One query's lanes in structure-of-arrays storage, outputs preset to
// sentinels: what a lane that does not run must keep.
struct Batch : SRF_LaneBatchStorage
{
    Batch(const Inputs &in, bool maskFree, int begin = 0, int end = N)
    {
        b.begin = begin;
        b.end = end;
        b.run = in.run;
        b.mask = in.mask;
        b.maskFree = maskFree;
        for (int i = 0; i < N; ++i)
        {
            b.u.set(i, in.u[i]);
            b.n.set(i, in.n[i]);
            b.v.set(i, in.v[i]);
            b.colour.set(i, BX_Vector3(SENTINEL, SENTINEL, SENTINEL));
            sx[i] = in.sx[i], sy[i] = in.sy[i], scalar[i] = SENTINEL, bounce[i] = BOUNCE_SENTINEL;
        }
    }
    SRF_LaneBatch &b = batch;
    // The outputs as floats, a NaN of either sign as the one quiet NaN.
    std::vector<float> outputs() const
    {
        std::vector<float> all;
        for (int i = 0; i < N; ++i)
            all.insert(all.end(),
                       {v.x[i], v.y[i], v.z[i], colour.x[i], colour.y[i], colour.z[i], scalar[i], float(bounce[i])});
        for (float &f : all)
            f = std::isnan(f) ? NAN : f;
        return all;
    }
    // NaN outputs whose bits are not the canonical NaN's: colour, scalar,
    // and the direction where a sample drew one (elsewhere v is an input,
    // or kept).
    int strangeNaNs(bool sampling) const
    {
        int strange = 0;
        const std::uint32_t canonical = 0x7fc00000u;
        for (int i = 0; i < N; ++i)
        {
            const bool drawn = sampling && bounce[i] != BOUNCE_SENTINEL && bounce[i] != 0;
            const float none = 0.0f;
            for (float f : {drawn ? v.x[i] : none, drawn ? v.y[i] : none, drawn ? v.z[i] : none, colour.x[i],
                            colour.y[i], colour.z[i], scalar[i]})
            {
                std::uint32_t bits;
                std::memcpy(&bits, &f, sizeof bits);
                strange += std::isnan(f) && bits != canonical;
            }
        }
        return strange;
    }
};

const char *const QUERY_NAMES[] = {"evaluate", "sample",     "albedo", "specularRatio",
                                   "emission", "getBounces", "pdf",    "evaluatePdf"};
// The queries of the definition, whose per-lane answers are recorded below,
// come first.
const int DEFINED_QUERIES = 6, QUERIES = 8;
// Query q of a BSDF; `perLane` asks the base class's answer, which calls the
// per-lane virtual query of each running lane: the reference every class's
// own answer must match (and, through it, a fault in the base class's
// answer shows against every class that overrides it).
void ask(const SRF_BSDF &bsdf, int q, const SRF_LaneBatch &b, bool perLane)
{
    const SRF_BSDF &base = bsdf;
    switch (q)
    {
    case 0:
        return perLane ? base.SRF_BSDF::evaluateBatch(b) : bsdf.evaluateBatch(b);
    case 1:
        return perLane ? base.SRF_BSDF::sampleBatch(b) : bsdf.sampleBatch(b);
    case 2:
        return perLane ? base.SRF_BSDF::albedoBatch(b) : bsdf.albedoBatch(b);
    case 3:
        return perLane ? base.SRF_BSDF::specularRatioBatch(b) : bsdf.specularRatioBatch(b);
    case 4:
        return perLane ? base.SRF_BSDF::emissionBatch(b) : bsdf.emissionBatch(b);
    case 5:
        return perLane ? base.SRF_BSDF::getBouncesBatch(b) : bsdf.getBouncesBatch(b);
    case 6:
        return perLane ? base.SRF_BSDF::pdfBatch(b) : bsdf.pdfBatch(b);
    default:
        return perLane ? base.SRF_BSDF::evaluatePdfBatch(b) : bsdf.evaluatePdfBatch(b);
    }
}

// Equal, both NaN, or within 1e-5 relative (absolute for directions).
bool close(float a, float b, bool absolute)
{
    if (a == b || (std::isnan(a) && std::isnan(b)))
        return true;
    const float scale = absolute ? 1.0f : std::max(std::fabs(a), std::fabs(b));
    return std::fabs(a - b) <= 1e-5f * scale;
}

// Every class, query and mask form over the lanes [begin, end) of `in`, in
// every variant against the per-lane answers: values within the bound,
// the variants' bits equal, every NaN canonical, and every output outside
// the running lanes of [begin, end) still its sentinel.
void expectBatchesMatchPerLane(const Inputs &in, int begin, int end)
{
    Rng rng(2024);
    for (const ClassCase &c : registry())
    {
        SRF_BSDF *bsdf = c.make(rng);
        for (int q = 0; q < QUERIES; ++q)
            for (bool maskFree : {false, true})
            {
                Batch reference(in, maskFree, begin, end);
                ask(*bsdf, q, reference.b, true);
                const std::vector<float> expected = reference.outputs();
                // Lane by lane is a batch path too (a host's subclass, a
                // deep tree, few running lanes): its NaNs are canonical.
                EXPECT_EQ(reference.strangeNaNs(q == 1), 0) << c.name << " " << QUERY_NAMES[q] << " lane by lane";
                std::vector<float> first;
                for (SRF_BatchMode variant : VARIANTS)
                {
                    if (!SRFbatchModeSupported(variant))
                        continue;
                    SRFsetBatchMode(variant);
                    ASSERT_EQ(SRFbatchMode(), variant);
                    Batch got(in, maskFree, begin, end);
                    // A mask-free batch needs no mask array.
                    got.b.mask = maskFree ? nullptr : got.b.mask;
                    ask(*bsdf, q, got.b, false);
                    const std::vector<float> values = got.outputs();
                    SCOPED_TRACE(std::string(c.name) + " " + QUERY_NAMES[q] + (maskFree ? " mask-free" : " masked") +
                                 " variant " + std::to_string(variant) + " lanes " + std::to_string(begin) + ".." +
                                 std::to_string(end));
                    // Values within 1e-5, directions within 1e-5 absolute.
                    for (std::size_t k = 0; k < values.size(); ++k)
                        EXPECT_TRUE(close(values[k], expected[k], k % 8 < 3)) << "lane " << k / 8 << " value " << k % 8;
                    EXPECT_EQ(got.strangeNaNs(q == 1), 0);
                    // Scalar, SSE2, AVX2 and AVX-512 give the same bits.
                    if (first.empty())
                        first = values;
                    else
                        EXPECT_EQ(std::memcmp(first.data(), values.data(), values.size() * sizeof(float)), 0);
                }
                // The automatic mode answers by batch or lane by lane, as
                // the running lanes decide: within the bound either way.
                SRFsetBatchMode(SRF_BATCH_AUTO);
                Batch automatic(in, maskFree, begin, end);
                ask(*bsdf, q, automatic.b, false);
                const std::vector<float> values = automatic.outputs();
                for (std::size_t k = 0; k < values.size(); ++k)
                    EXPECT_TRUE(close(values[k], expected[k], k % 8 < 3))
                        << c.name << " " << QUERY_NAMES[q] << " auto, lane " << k / 8 << " value " << k % 8;
                EXPECT_EQ(automatic.strangeNaNs(q == 1), 0);
            }
        bsdf->decRefCount();
    }
    SRFsetBatchMode(SRF_BATCH_AUTO);
}

} // namespace

TEST(Batch, EveryClassAnswersAsPerLaneInEveryVariant)
{
    Rng rng(2024);
    const Inputs in(rng);
    expectBatchesMatchPerLane(in, 0, N);
    // The default runs the widest variant the processor has.
    SRFsetBatchMode(SRF_BATCH_AUTO);
    const SRF_BatchMode widest = SRFbatchModeSupported(SRF_BATCH_AVX512) ? SRF_BATCH_AVX512
                                 : SRFbatchModeSupported(SRF_BATCH_AVX2) ? SRF_BATCH_AVX2
                                                                         : SRF_BATCH_SSE2;
    EXPECT_EQ(SRFbatchMode(), widest);
}

// The per-lane answers of every class, every query, masked and mask-free, as
// one digest per class over the fixed inputs: recorded before the lobes
// became kernels over one driver, so any change to a defined answer, down to
// the last bit, shows here. (SRF_GOLDEN_PRINT=1 prints the table anew.)
TEST(Batch, PerLaneAnswersAreTheRecordedOnes)
{
    const std::vector<std::pair<const char *, std::uint64_t>> recorded = {
        {"isotropic", 0x3333d06180515f57ull},   {"emission", 0x1576e289508f6ca9ull},
        {"specular", 0x3124162bf16d9916ull},    {"phong", 0x0bdae069c7eefae6ull},
        {"blinn", 0x7f01b05efb990811ull},       {"cone", 0x82511ced8ea7435dull},
        {"ashikhmin", 0x328f9ae50198bf51ull},   {"lafortune", 0xfc666422310cd495ull},
        {"wirediffuse", 0x51a5d03c180e0e1cull}, {"wireblinn", 0x4e0b9f13538f4e2bull},
        {"sum", 0x1de126abe3f6ce48ull},         {"sum with emission", 0x81208f188127e400ull},
        {"scale", 0x8e738f42ca04d670ull},       {"mul", 0xfcc6208e683e14c2ull},
        {"switch", 0xeac5c53b4fd8671full},      {"deep sum", 0x1e88a83d01e8a218ull},
        {"host phong", 0xe82852bbc1b471b9ull},
    };
    Rng rng(77);
    const Inputs in(rng);
    std::size_t k = 0;
    for (const ClassCase &c : registry())
    {
        SRF_BSDF *bsdf = c.make(rng);
        std::uint64_t digest = 14695981039346656037ull; // FNV-1a
        for (int q = 0; q < DEFINED_QUERIES; ++q)
            for (bool maskFree : {false, true})
            {
                Batch reference(in, maskFree);
                ask(*bsdf, q, reference.b, true);
                const std::vector<float> values = reference.outputs();
                const unsigned char *bytes = reinterpret_cast<const unsigned char *>(values.data());
                for (std::size_t i = 0; i < values.size() * sizeof(float); ++i)
                    digest = (digest ^ bytes[i]) * 1099511628211ull;
            }
        bsdf->decRefCount();
        if (std::getenv("SRF_GOLDEN_PRINT"))
            std::printf("        {\"%s\", 0x%016llxull},\n", c.name, (unsigned long long)digest);
        else if (k < recorded.size())
        {
            EXPECT_STREQ(recorded[k].first, c.name);
            EXPECT_EQ(recorded[k].second, digest) << c.name;
        }
        ++k;
    }
    EXPECT_EQ(k, recorded.size());
}

// The contract's edges: ranges that start past 0 and end off a vector
// boundary, a single lane, a few running lanes, a mask-free batch without
// masks (every case above runs it too). A lobe whose range has few running
// lanes runs them packed side by side: fewer than a vector of them, more
// than one vector (a third of a range that starts and ends off a vector
// boundary), and none at all. Under a mask of one bounce type, a Sum's
// other operand admits no lane and the one answers alone.
TEST(Batch, SubRangesAndSparseLanesWriteOnlyTheirLanes)
{
    Rng rng(99);
    const Inputs in(rng);
    expectBatchesMatchPerLane(in, 5, 203);
    expectBatchesMatchPerLane(in, 77, 78);
    Inputs sparse = in;
    for (int i = 0; i < N; ++i)
        sparse.run[i] = i % 37 == 5;
    expectBatchesMatchPerLane(sparse, 0, N);
    for (int i = 0; i < N; ++i)
        sparse.run[i] = i % 3 == 1;
    expectBatchesMatchPerLane(sparse, 3, N - 5);
    for (int i = 0; i < N; ++i)
        sparse.run[i] = 0;
    expectBatchesMatchPerLane(sparse, 0, N);
    Inputs oneType = in;
    for (int i = 0; i < N; ++i)
        oneType.mask[i] = i % 5 == 0 ? 0 : (i < N / 2 ? 1 : 2);
    expectBatchesMatchPerLane(oneType, 0, N / 2);
    expectBatchesMatchPerLane(oneType, N / 2, N);
}

// Angles far beyond a turn reduce exactly: a cone of half-angle 1e20 answers
// as the C library's cos(1e20) says, in every variant.
TEST(Batch, HugeAnglesReduceAsTheCLibraryDoes)
{
    Rng rng(5);
    for (int i = 0; i < 20000; ++i)
    {
        // Magnitudes 2^-30 to 2^127, either sign.
        const float a = std::ldexp(uniform(rng, 1, 2), int(rng() % 158) - 30) * (rng() % 2 ? 1.0f : -1.0f);
        ASSERT_NEAR(SRF_LaneMath::cos(a), std::cos(double(a)), 2e-7) << a;
        ASSERT_NEAR(SRF_LaneMath::sin(a), std::sin(double(a)), 2e-7) << a;
    }
    EXPECT_TRUE(std::isnan(SRF_LaneMath::cos(INFINITY)));
    EXPECT_TRUE(std::isnan(SRF_LaneMath::sin(NAN)));
    // A sample's azimuth, 2 pi s, by the cheaper reduction: within a unit
    // of the float nearest the true value, also at the floats next to the
    // zeros k pi/2, where a reduction off by 2^-40 would miss by far more.
    const auto withinAUnit = [](float got, double exact)
    {
        const float nearest = float(exact);
        return std::fabs(double(got) - exact) <= std::nextafter(std::fabs(nearest), INFINITY) - std::fabs(nearest);
    };
    for (int i = 0; i < 40000; ++i)
    {
        float a = SRF_TWO_PI * uniform(rng, 0, 1);
        if (i % 4 == 0)
        {
            a = float(SRF_HALF_PI_DOUBLE * (i / 4 % 5));
            for (int step = 0; step < i / 20 % 8; ++step)
                a = std::nextafter(a, i % 8 == 0 ? 0.0f : 8.0f);
        }
        ASSERT_TRUE(withinAUnit(SRF_LaneMath::sinSmall(a), std::sin(double(a)))) << a;
        ASSERT_TRUE(withinAUnit(SRF_LaneMath::cosSmall(a), std::cos(double(a)))) << a;
    }

    const float angles[] = {1e20f, 1e11f, -3.4e38f, 12345.678f, 3.3e38f, 7.5e6f, 1.0f, INFINITY};
    float *alpha = SRF_BSDF::allocFloat();
    for (int i = 0; i < N; ++i)
        alpha[i] = angles[i % 8];
    BX_Vector3 *axis = SRF_BSDF::allocVector();
    for (int i = 0; i < N; ++i)
        axis[i] = BX_Vector3(0, 0, 1);
    SRF_Cone &cone = *new SRF_Cone(axis, alpha);
    const Inputs in(rng);
    for (int q : {0, 1, 2, 3, 7})
    {
        Batch reference(in, false);
        ask(cone, q, reference.b, true);
        const std::vector<float> expected = reference.outputs();
        for (SRF_BatchMode variant : VARIANTS)
        {
            if (!SRFbatchModeSupported(variant))
                continue;
            SRFsetBatchMode(variant);
            Batch got(in, false);
            ask(cone, q, got.b, false);
            const std::vector<float> values = got.outputs();
            for (std::size_t k = 0; k < values.size(); ++k)
                EXPECT_TRUE(close(values[k], expected[k], k % 8 < 3))
                    << QUERY_NAMES[q] << " lane " << k / 8 << " value " << k % 8 << ": " << values[k] << " against "
                    << expected[k];
        }
    }
    SRFsetBatchMode(SRF_BATCH_AUTO);
    cone.decRefCount();
}

// The batch's power is the C library's: its special cases bit for bit, and
// elsewhere the float nearest x^y but for rare last-unit differences (a
// sampler's weight can divide by a small cosine derived from a power, so a
// power a unit off shows as a weight 1e-4 off), within a unit of
// the exact value, over the bases and exponents the lobes use: cosines in
// (0, 1] to exponents up to 1e5, uniform numbers to 1 / (e + 1), and
// results below the normal range. The power of a base known not to be
// negative gives the same bits wherever its base is not negative.
TEST(Batch, PowerIsTheCLibrarysNearestFloat)
{
    const float cases[][2] = {
        {0.0f, 2.0f},      {0.0f, -1.0f},     {-0.0f, 3.0f},      {-0.0f, -3.0f},        {0.0f, 0.0f},
        {INFINITY, 2.0f},  {INFINITY, -2.0f}, {-INFINITY, 3.0f},  {-INFINITY, 2.0f},     {-INFINITY, -3.0f},
        {-2.0f, 3.0f},     {-2.0f, 2.0f},     {-2.0f, 0.5f},      {-8.0f, -1.0f},        {1.0f, NAN},
        {NAN, 0.0f},       {NAN, 1.0f},       {0.5f, NAN},        {0.5f, INFINITY},      {2.0f, INFINITY},
        {1.0f, INFINITY},  {-1.0f, INFINITY}, {0.5f, -INFINITY},  {-0.5f, -INFINITY},    {3.0f, 0.0f},
        {1.0f, -7.5f},     {1e-45f, 0.5f},    {1e-45f, 2.0f},     {3e38f, 2.0f},         {0.999f, 1e38f},
        {-1.0f, 1e9f},     {0.25f, -0.5f},    {2.0f, -149.0f},    {2.0f, 127.5f},        {0.0f, 1e-3f},
        {0.0f, -1e-3f},    {INFINITY, 1e-3f}, {INFINITY, -1e-3f}, {-0.0f, 0.5f},         {-INFINITY, 0.5f},
        {-2.0f, INFINITY}, {0.0f, INFINITY},  {0.0f, -INFINITY},  {INFINITY, -INFINITY}, {NAN, NAN},
        {-1.0f, -INFINITY}};
    for (const auto &c : cases)
    {
        const float expected = std::pow(c[0], c[1]);
        const bool nonNegative = !std::signbit(c[0]) || std::isnan(c[0]);
        for (const float got :
             {SRF_LaneMath::pow(c[0], c[1]), nonNegative ? SRF_LaneMath::powNonNegative(c[0], c[1]) : expected})
            EXPECT_TRUE((got == expected && std::signbit(got) == std::signbit(expected)) ||
                        (std::isnan(got) && std::isnan(expected)))
                << c[0] << "^" << c[1] << ": " << got << " against " << expected;
    }
    Rng rng(12);
    int differing = 0, count = 0;
    float worst = 0.0f;
    for (int i = 0; i < 200000; ++i)
    {
        float x = uniform(rng, 0, 1), y;
        if (i % 3 == 0)
            y = std::exp(uniform(rng, 0, 11.5f)); // up to 1e5
        else if (i % 3 == 1)
            y = 1.0f / (std::exp(uniform(rng, 0, 11.5f)) + 1.0f);
        else
            y = uniform(rng, -30, 30);
        if (i % 4 == 1)
            x = 1.0f - std::ldexp(uniform(rng, 0, 1), -int(rng() % 24)); // near 1
        const float got = SRF_LaneMath::pow(x, y), library = std::pow(x, y);
        ASSERT_EQ(SRF_LaneMath::powNonNegative(x, y), got) << x << "^" << y;
        const double exact = std::pow(double(x), double(y));
        if (exact >= 3.4e38 || exact < 1e-45)
            continue;
        ++count;
        differing += got != library;
        // Error in units of the last place, subnormal results' included.
        const double unit = std::ldexp(1.0, std::max(std::ilogb(exact), -126) - 23);
        worst = std::max(worst, float(std::fabs(got - exact) / unit));
    }
    EXPECT_GT(count, 150000);
    EXPECT_LE(worst, 1.0f);
    EXPECT_LE(differing, count / 500) << "of " << count;
}

// The lobes' queries in the AVX2 and AVX-512 loops and the scalar loop
// store masked: an idle lane's outputs are not written at all, which a
// thread writing them meanwhile may rely on. Here they lie in pages that may
// not be written; a store there, even of the old value, would fault (as it
// does in the SSE2 loop).
namespace
{
// Every query of every lobe, lanes HALF and up idle with their outputs in
// read-only pages; exits 0 when nothing faulted.
void queryWithReadOnlyIdleLanes(long page)
{
    const int ARRAYS = 8, HALF = N / 2;
    char *region = static_cast<char *>(
        mmap(nullptr, 2 * page * ARRAYS, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (region == MAP_FAILED)
        std::exit(2);
    // Array k: lanes below HALF in a writable page, the rest in the
    // read-only page after it.
    float *out[ARRAYS];
    for (int k = 0; k < ARRAYS; ++k)
    {
        out[k] = reinterpret_cast<float *>(region + (2 * k + 1) * page) - HALF;
        if (mprotect(region + (2 * k + 1) * page, page, PROT_READ) != 0)
            std::exit(3);
    }
    Rng rng(12);
    Inputs in(rng);
    for (int i = HALF; i < N; ++i)
        in.run[i] = 0;
    for (std::size_t c = 0; c < 10; ++c) // the lobes of the registry
    {
        SRF_BSDF *bsdf = registry()[c].make(rng);
        for (SRF_BatchMode variant : {SRF_BATCH_SCALAR, SRF_BATCH_AVX2, SRF_BATCH_AVX512})
        {
            if (!SRFbatchModeSupported(variant))
                continue;
            SRFsetBatchMode(variant);
            for (int q = 0; q < QUERIES; ++q)
                for (bool maskFree : {false, true})
                {
                    Batch guarded(in, maskFree);
                    guarded.b.colour = SRF_LaneVectors{out[0], out[1], out[2]};
                    guarded.b.scalar = out[3];
                    guarded.b.bounce = reinterpret_cast<int *>(out[7]);
                    if (q == 1)
                        guarded.b.v = SRF_LaneVectors{out[4], out[5], out[6]};
                    ask(*bsdf, q, guarded.b, false);
                }
        }
        bsdf->decRefCount();
    }
    std::exit(0);
}
} // namespace

TEST(Batch, LobesWriteNoIdleLaneInTheMaskedLoops)
{
    const long page = sysconf(_SC_PAGESIZE);
    ASSERT_LE(long(N / 2 * sizeof(float)), page);
    EXPECT_EXIT(queryWithReadOnlyIdleLanes(page), ::testing::ExitedWithCode(0), "");
}

// No output may share an element of the lanes with an input (an in-place
// evaluate of a Sum would read v after its first operand wrote colour).
TEST(Batch, OutputsMustNotAliasInputs)
{
    SRF_LaneBatchStorage storage;
    SRF_LaneBatch &b = storage.batch;
    b.end = N;
    EXPECT_FALSE(b.outputsAliasInputs(false));
    EXPECT_FALSE(b.outputsAliasInputs(true));
    // colour on v: in place for evaluate; for sample both are outputs.
    SRF_LaneBatch inPlace = b;
    inPlace.colour = inPlace.v;
    EXPECT_TRUE(inPlace.outputsAliasInputs(false));
    EXPECT_FALSE(inPlace.outputsAliasInputs(true));
    // One component is enough; so is the scalar on a random number.
    SRF_LaneBatch partly = b;
    partly.colour.y = storage.n.z;
    EXPECT_TRUE(partly.outputsAliasInputs(true));
    SRF_LaneBatch scalarOnSx = b;
    scalarOnSx.scalar = storage.sx;
    EXPECT_TRUE(scalarOnSx.outputsAliasInputs(false));
    // Arrays that overlap only outside [begin, end) do not alias (scalar i
    // is sx i + 100); the
    // mask of a mask-free batch is not read.
    SRF_LaneBatch shifted = b;
    shifted.scalar = storage.sx + 100;
    shifted.end = 100;
    EXPECT_FALSE(shifted.outputsAliasInputs(false));
    shifted.end = 101;
    EXPECT_TRUE(shifted.outputsAliasInputs(false));
    SRF_LaneBatch maskFree = b;
    maskFree.scalar = reinterpret_cast<float *>(storage.mask);
    EXPECT_TRUE(maskFree.outputsAliasInputs(false));
    maskFree.maskFree = true;
    EXPECT_FALSE(maskFree.outputsAliasInputs(false));
#ifndef NDEBUG
    // Debug builds stop on it.
    SRF_BSDF *sum = new SRF_SumBSDF(new SRF_Isotropic(), new SRF_Isotropic());
    for (int i = 0; i < N; ++i)
        storage.run[i] = 1, storage.mask[i] = 7;
    EXPECT_DEATH(sum->evaluateBatch(inPlace), "[Aa]lias");
    sum->decRefCount();
#endif
}

// A power lobe's sample weight carries its exponent's conditioning: the
// float rounding of the drawn direction and of the cosines the sampler
// derives from it grows e-fold in a power c^e, and the weight is a ratio of
// such powers. The batch's weights stay within the contract's 2e-5 + 1e-6 e
// of the per-lane ones (relative), at exponents 1 to 10^4, for lobes on an
// orthonormal frame seen from anywhere above (the worst measured: 3.6e-4,
// WireBlinn at e = 1000).
TEST(Batch, SampleWeightsAgreeWithinTheExponentBound)
{
    Rng rng(31);
    const auto up = [](Rng &g)
    {
        BX_Vector3 d = direction(g);
        d.z = std::fabs(d.z) + 0.05f;
        d.normalize();
        return d;
    };
    const auto normal = [](Rng &) { return BX_Vector3(0, 0, 1); };
    for (float e : {1.0f, 10.0f, 30.0f, 100.0f, 300.0f, 1000.0f, 3000.0f, 10000.0f})
    {
        const auto exponent = [&]
        {
            float *block = SRF_BSDF::allocFloat();
            for (int i = 0; i < N; ++i)
                block[i] = e;
            return block;
        };
        const std::pair<const char *, SRF_BSDF *> lobes[] = {
            {"phong", new SRF_Phong(vectors(rng, normal), exponent())},
            {"blinn", new SRF_Blinn(vectors(rng, normal), exponent())},
            {"ashikhmin", new SRF_Ashikhmin(vectors(rng, normal), exponent(), exponent(),
                                            vectors(rng, [](Rng &) { return BX_Vector3(1, 0, 0); }),
                                            vectors(rng, [](Rng &) { return BX_Vector3(0, 1, 0); }))},
            {"lafortune", new SRF_Lafortune(vectors(rng, normal),
                                            vectors(rng, [](Rng &) { return BX_Vector3(-1, -1, 1); }), exponent())},
            {"wireblinn", new SRF_WireBlinn(vectors(rng, [](Rng &) { return BX_Vector3(1, 0, 0); }), exponent())},
        };
        const float bound = 2e-5f + 1e-6f * e;
        for (const auto &lobe : lobes)
        {
            float worst = 0.0f, worstGot = 0.0f, worstExpected = 0.0f;
            for (int round = 0; round < 32; ++round)
            {
                Inputs in(rng);
                for (int i = 0; i < N; ++i)
                {
                    in.run[i] = 1, in.mask[i] = 15, in.n[i] = BX_Vector3(0, 0, 1), in.u[i] = up(rng);
                    in.sx[i] = uniform(rng, 0, 1), in.sy[i] = uniform(rng, 0, 1);
                }
                Batch reference(in, false);
                ask(*lobe.second, 1, reference.b, true);
                Batch got(in, false);
                ask(*lobe.second, 1, got.b, false);
                const float *gotColour[] = {got.colour.x, got.colour.y, got.colour.z};
                const float *expectedColour[] = {reference.colour.x, reference.colour.y, reference.colour.z};
                for (int i = 0; i < N; ++i)
                    for (int c = 0; c < 3; ++c)
                    {
                        const float a = gotColour[c][i], r = expectedColour[c][i];
                        const float scale = std::max(std::fabs(a), std::fabs(r));
                        if (scale > 0.0f && std::fabs(a - r) / scale > worst)
                            worst = std::fabs(a - r) / scale, worstGot = a, worstExpected = r;
                    }
            }
            EXPECT_LE(worst, bound) << lobe.first << " at exponent " << e << ": " << worstGot << " against "
                                    << worstExpected;
            lobe.second->decRefCount();
        }
    }
}

// The automatic mode takes the batch where enough lanes run and lane by lane
// elsewhere; a variant set by hand always runs the batch, the per-lane mode
// never.
TEST(Batch, AutomaticModeChoosesByRunningLanes)
{
    SRFsetBatchMode(SRF_BATCH_AUTO);
    ASSERT_TRUE(SRFbatchModeIsAuto()) << "SRF_BATCH is set in the environment";
    EXPECT_FALSE(SRFbatchPays(1, 1));
    EXPECT_FALSE(SRFbatchPays(3, 3));
    EXPECT_FALSE(SRFbatchPays(26, 256));
    // Where the widest loop is AVX2 or AVX-512 a full batch pays; the SSE2
    // loop never beats lane by lane.
    const bool wide = SRFbatchModeSupported(SRF_BATCH_AVX2);
    EXPECT_EQ(SRFbatchPays(256, 256), wide);
    EXPECT_EQ(SRFbatchPays(128, 256), wide);
    EXPECT_FALSE(SRFbatchPays(7, 15));
    // A query of fewer lanes than a vector at the top chooses without
    // counting them, an operand's batch follows its composite.
    SRF_LaneBatchStorage one;
    one.batch.end = 1;
    one.run[0] = 1;
    int running = -1;
    EXPECT_FALSE(SRFbatchPays(one.batch));
    EXPECT_FALSE(SRFlobeBatchPays(one.batch, running));
    one.batch.depth = 1;
    EXPECT_TRUE(SRFbatchPays(one.batch));
    one.batch.depth = 0;
    for (SRF_BatchMode variant : VARIANTS)
    {
        SRFsetBatchMode(variant);
        EXPECT_FALSE(SRFbatchModeIsAuto());
        EXPECT_TRUE(SRFbatchPays(1, 256));
        EXPECT_TRUE(SRFbatchPays(one.batch));
        EXPECT_TRUE(SRFlobeBatchPays(one.batch, running));
    }
    SRFsetBatchMode(SRF_BATCH_PER_LANE);
    EXPECT_EQ(SRFbatchMode(), SRF_BATCH_PER_LANE);
    EXPECT_FALSE(SRFbatchPays(256, 256));
    EXPECT_FALSE(SRFbatchPays(one.batch));
    EXPECT_FALSE(SRFlobeBatchPays(one.batch, running));
    SRFsetBatchMode(SRF_BATCH_AUTO);
}

// A diffuse draw's cosine to the normal is sqrt(1 - x^2 - y^2) of a disk
// point (x, y); at the rim the subtraction cancels, and the last-unit
// difference of the two paths' cos and sin in x and y grows into up to 15 %
// of a grazing weight. What both paths keep is the cancelled quantity: the
// weights' squares agree within 3e-7, however near the horizon.
TEST(Batch, DiffuseWeightsAgreeAtTheHorizonInTheirSquares)
{
    Rng rng(8);
    BX_Vector3 *normal = vectors(rng, [](Rng &) { return BX_Vector3(0, 0, 1); });
    BX_Vector3 *k = vectors(rng, [](Rng &) { return BX_Vector3(-1, -1, 1); });
    float *exponent = SRF_BSDF::allocFloat();
    for (int i = 0; i < N; ++i)
        exponent[i] = -1.0f;
    SRF_BSDF *diffuse = new SRF_Lafortune(normal, k, exponent);
    float worstSquare = 0.0f, worstRelative = 0.0f;
    for (int round = 0; round < 64; ++round)
    {
        Inputs in(rng);
        for (int i = 0; i < N; ++i)
        {
            in.run[i] = 1, in.mask[i] = 7, in.n[i] = BX_Vector3(0, 0, 1), in.u[i] = BX_Vector3(0.6f, 0, 0.8f);
            // sy near 1 puts the disk point at the rim.
            in.sx[i] = uniform(rng, 0, 1),
            in.sy[i] = i % 2 ? 1.0f - std::ldexp(uniform(rng, 0, 1), -int(rng() % 20)) : uniform(rng, 0, 1);
        }
        Batch reference(in, false);
        ask(*diffuse, 1, reference.b, true);
        Batch got(in, false);
        ask(*diffuse, 1, got.b, false);
        for (int i = 0; i < N; ++i)
        {
            const float a = got.colour.x[i], r = reference.colour.x[i];
            worstSquare = std::max(worstSquare, std::fabs(a * a - r * r));
            if (r > 0.1f)
                worstRelative = std::max(worstRelative, std::fabs(a - r) / r);
        }
    }
    EXPECT_LE(worstSquare, 3e-7f);
    EXPECT_LE(worstRelative, 1e-5f);
    diffuse->decRefCount();
}
