// The composites' arithmetic, worked by hand over lobes with fixed answers:
// Sum picks by albedo and reweights, Scale tints by colour and luminance,
// Mul orders by specular ratio and multiplies, Switch answers by lane. Then
// a copy of a tree fails whole when an operand cannot be copied. (Sum's
// sampling is a chi-square test of test_lobes; random trees with shared
// subtrees are built, copied and released by test_leaks.)
#include "PoolCheck.h"
#include "SRF_Isotropic.h"
#include "SRF_MulBSDF.h"
#include "SRF_ScaleBSDF.h"
#include "SRF_Specular.h"
#include "SRF_SumBSDF.h"
#include "SRF_SwitchBSDF.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

using namespace TestUtil;

namespace
{
// A lobe with fixed answers that records its calls:
//   sample:   v = (sx, sy, lane), colour c, scalar a, bounce = its set
//   evaluate: colour c (1 + v.x), scalar a
//   albedo a, specular ratio r, emission e; isEqual compares a within the
//   caller's tolerance; it may refuse to be duplicated, as a table does.
class TestLobe : public SRF_BSDF
{
public:
    TestLobe(float albedo, BX_Vector3 colour, int set, float ratio = 0.0f, BX_Vector3 emission = BX_Vector3(),
             bool canCopy = true, float *given = nullptr)
        : a(albedo), c(colour), r(ratio), e(emission), copyable(canCopy), block(given ? given : allocFloat())
    {
        bounces = set;
    }
    ~TestLobe() override
    {
        ++theDestroyed;
        release(block);
    }
    const char *className() const override { return "SRF_TestLobe"; }
    bool isEqual(const KAL_RefType &other, float tolerance) const override
    {
        return SRF_BSDF::isEqual(other, tolerance) &&
               std::fabs(static_cast<const TestLobe &>(other).a - a) <= tolerance;
    }
    float albedo(const BX_Vector3 &, const BX_Vector3 &, int) const override { return a; }
    float specularRatio(int) const override { return r; }
    void evaluate(const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                  int) const override
    {
        ++evaluated;
        colour = c * (1.0f + v.x);
        scalar = a;
    }
    void sample(const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &v, BX_Vector3 &colour, float &scalar, int &bounce,
                float sx, float sy, int lane) const override
    {
        ++sampled;
        v = BX_Vector3(sx, sy, float(lane));
        colour = c;
        scalar = a;
        bounce = bounces;
    }
    void emission(BX_Vector3 &colour, int) const override { colour = e; }
    SRF_BSDF *duplicate(int count) const override
    {
        return copyable ? new TestLobe(a, c, bounces, r, e, true, copy(block, count)) : nullptr;
    }
    void flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &, BX_PtrArray<float *> &floats) override
    {
        bsdfs.append(this);
        floats.append(block);
    }
    void dump(int indent) const override { dumpName(indent); }

    float a;
    BX_Vector3 c;
    float r;
    BX_Vector3 e;
    bool copyable;
    float *block;
    mutable int sampled = 0, evaluated = 0;
    static int theDestroyed;
};
int TestLobe::theDestroyed = 0;

const BX_Vector3 N(0, 0, 1), RGB(1, 2, 3), ONE(1, 1, 1), ZERO(0, 0, 0);

TestLobe *lobe(float a, BX_Vector3 c, int set, float r = 0.0f, BX_Vector3 e = BX_Vector3())
{
    return new TestLobe(a, c, set, r, e);
}

BX_PtrArray<SRF_BSDF *> list(std::initializer_list<SRF_BSDF *> entries)
{
    BX_PtrArray<SRF_BSDF *> out;
    for (SRF_BSDF *e : entries)
        out.append(e);
    return out;
}
} // namespace

// Albedos a1 and a2 (a diffuse and a glossy operand, colours (1, 2, 3) and
// (4, 5, 6)): t = sx A picks the first when t < a1, with sx' = t / a1 and
// weight A / a1, else the second with sx' = (t - a1) / (A - a1) and weight
// A / (A - a1); a mask that admits one operand takes it unweighted.
TEST(SumBSDF, SamplePicksByAlbedoAndReweights)
{
    struct Row
    {
        float a1, a2;
        int mask;
        float sx;
        int pick; // 0 first, 1 second, -1 nothing written, -2 zeros written
        float sxOut, weight, scalar;
    };
    const Row rows[] = {
        {0.25f, 0.75f, 7, 0.2f, 0, 0.8f, 4.0f, 1.0f},
        {0.25f, 0.75f, 7, 0.5f, 1, 1.0f / 3.0f, 4.0f / 3.0f, 1.0f},
        {0.25f, 0.75f, 7, 0.25f, 1, 0.0f, 4.0f / 3.0f, 1.0f},
        {0.5f, 0.0f, 7, 1.0f, 0, 1.0f, 1.0f, 0.5f},
        {0.25f, 0.75f, SRF_BOUNCE_GLOSSY, 0.1f, 1, 0.1f, 1.0f, 0.75f},
        {0.25f, 0.75f, SRF_BOUNCE_DIFFUSE, 0.9f, 0, 0.9f, 1.0f, 0.25f},
        {0.0f, 0.0f, 15, 0.5f, -1, 0, 0, 0},
        {0.25f, 0.75f, SRF_BOUNCE_SPECULAR, 0.1f, -2, 0, 0, 0},
    };
    for (const Row &r : rows)
    {
        SCOPED_TRACE(&r - rows);
        TestLobe *ops[2] = {lobe(r.a1, RGB, SRF_BOUNCE_DIFFUSE), lobe(r.a2, BX_Vector3(4, 5, 6), SRF_BOUNCE_GLOSSY)};
        auto sum = hold(new SRF_SumBSDF(ops[0], ops[1]));
        EXPECT_EQ(sum->getBounces(), 3);
        Sampled s;
        sum->sample(N, N, s.v, s.colour, s.scalar, s.bounce, r.sx, 0.3f, 2, r.mask);
        if (r.pick < 0)
        {
            EXPECT_EQ(ops[0]->sampled + ops[1]->sampled, 0);
            EXPECT_TRUE(s.v == Sampled().v && s.bounce == -7);
            EXPECT_TRUE(r.pick == -1 ? s.colour == Sampled().colour && s.scalar == -7.0f
                                     : s.colour == ZERO && s.scalar == 0.0f);
            continue;
        }
        const TestLobe &picked = *ops[r.pick];
        EXPECT_EQ(picked.sampled, 1);
        EXPECT_EQ(ops[1 - r.pick]->sampled, 0);
        EXPECT_VEC_NEAR(s.v, r.sxOut, 0.3f, 2.0f, 1e-6f);
        EXPECT_VEC_NEAR(s.colour, picked.c.x * r.weight, picked.c.y * r.weight, picked.c.z * r.weight, 1e-5f);
        EXPECT_FLOAT_EQ(s.scalar, r.scalar);
        EXPECT_EQ(s.bounce, picked.getBounces());
    }
}

TEST(SumBSDF, EvaluateAlbedoRatioEmissionAndEquality)
{
    const BX_Vector3 glow(0.5f, 0.25f, 0.0f), c(10, 20, 30);
    TestLobe *mirror = lobe(0.5f, RGB, SRF_BOUNCE_SPECULAR, 1.0f, glow), *diffuse = lobe(0.5f, c, 1, 0.0f, glow);
    auto sum = hold(new SRF_SumBSDF(mirror, diffuse));
    Evaluated e = evaluateOf(*sum, N, N, BX_Vector3(1, 0, 0));
    EXPECT_VEC_NEAR(e.colour, 22.0f, 44.0f, 66.0f, 1e-5f);
    EXPECT_EQ(e.scalar, 1.0f);
    sum->evaluate(N, N, BX_Vector3(1, 0, 0), e.colour, e.scalar, 0, SRF_BOUNCE_DIFFUSE);
    EXPECT_VEC_NEAR(e.colour, 20.0f, 40.0f, 60.0f, 1e-5f);
    EXPECT_EQ(mirror->evaluated, 1);
    // The albedo-weighted mean of the eligible operands' ratios.
    EXPECT_FLOAT_EQ(sum->specularRatio(0), 0.5f);
    EXPECT_EQ(sum->specularRatio(0, SRF_BOUNCE_SPECULAR), 1.0f);
    EXPECT_EQ(sum->specularRatio(0, SRF_BOUNCE_DIFFUSE), 0.0f);
    EXPECT_EQ(sum->albedo(N, N, 0, SRF_BOUNCE_DIFFUSE), 0.5f);
    BX_Vector3 colour;
    sum->emission(colour, 0); // emission adds, whatever the masks
    EXPECT_VEC_NEAR(colour, 1.0f, 0.5f, 0.0f, 0.0f);
    // A total albedo of 1e-6 or less has no ratio; just above it has one.
    EXPECT_EQ(hold(new SRF_SumBSDF(lobe(5e-7f, c, 2, 1.0f), lobe(5e-7f, c, 1, 1.0f)))->specularRatio(0), 0.0f);
    EXPECT_FLOAT_EQ(hold(new SRF_SumBSDF(lobe(1e-6f, c, 2, 1.0f), lobe(1e-6f, c, 1, 0.5f)))->specularRatio(0), 0.75f);
    // The mask-free queries admit the scattering types only.
    auto withEmitter = hold(new SRF_SumBSDF(lobe(0.25f, c, 1), lobe(0.5f, ONE, SRF_BOUNCE_EMISSION)));
    EXPECT_EQ(withEmitter->albedo(N, N, 0), 0.25f);
    EXPECT_EQ(withEmitter->albedo(N, N, 0, SRF_BOUNCE_ALL), 0.75f);

    // Pre-order flatten and dump; ordered equality with the caller's
    // tolerance passed to the operands.
    TestLobe *a = lobe(0.1f, ONE, 1), *b = lobe(0.2f, ONE, 1), *d = lobe(0.3f, ONE, 1);
    SRF_SumBSDF *inner = new SRF_SumBSDF(a, b);
    auto outer = hold(new SRF_SumBSDF(inner, d));
    const Flat flat(outer.get());
    ASSERT_EQ(flat.bsdfs.entries(), 5);
    EXPECT_TRUE(flat.bsdfs[1] == inner && flat.bsdfs[2] == a && flat.bsdfs[3] == b && flat.bsdfs[4] == d);
    EXPECT_TRUE(flat.floats.entries() == 3 && flat.floats[2] == d->block);
    EXPECT_EQ(dumpText(*outer, 1), " SRF_SumBSDF\n  SRF_SumBSDF\n   SRF_TestLobe\n   SRF_TestLobe\n  SRF_TestLobe\n");
    auto ab = hold(new SRF_SumBSDF(lobe(0.5f, ONE, 1), new SRF_Isotropic()));
    auto ba = hold(new SRF_SumBSDF(new SRF_Isotropic(), lobe(0.5f, ONE, 1)));
    auto near = hold(new SRF_SumBSDF(lobe(0.5001f, ONE, 1), new SRF_Isotropic()));
    EXPECT_FALSE(ab->isEqual(*ba, 0.1f));
    EXPECT_TRUE(ab->isEqual(*near, 0.1f));
    EXPECT_FALSE(ab->isEqual(*near, 1e-6f));
}

// Lanes 0 black, 1 red, 2 (1, -1, 0.5) whose luminance is -0.231: the
// colour tints, the scalar takes the luminance, a black lane draws nothing.
TEST(ScaleBSDF, TintsByColourAndLuminance)
{
    TestLobe *operand = lobe(0.5f, BX_Vector3(2, 3, 4), SRF_BOUNCE_GLOSSY, 0.25f, RGB);
    BX_Vector3 *block = vectors({ZERO, BX_Vector3(1, 0, 0), BX_Vector3(1, -1, 0.5f)});
    auto scale = hold(new SRF_ScaleBSDF(operand, block));
    EXPECT_EQ(scale->getBounces(), SRF_BOUNCE_GLOSSY);
    const Sampled black = sampleOf(*scale, N, N, 0.5f, 0.5f, 0);
    EXPECT_TRUE(black.v == ZERO && black.colour == ZERO && black.scalar == 0.0f && black.bounce == -7);
    const Evaluated none = evaluateOf(*scale, N, N, N, 0);
    EXPECT_TRUE(none.colour == ZERO && none.scalar == 0.0f);
    EXPECT_EQ(operand->sampled + operand->evaluated, 0);
    EXPECT_EQ(scale->albedo(N, N, 0), 0.0f);
    EXPECT_EQ(scale->specularRatio(0), 0.25f); // the colour plays no part
    EXPECT_EQ(scale->specularRatio(0, SRF_BOUNCE_DIFFUSE), 0.0f);

    EXPECT_FLOAT_EQ(scale->albedo(N, N, 1), 0.299f * 0.5f);
    const Sampled red = sampleOf(*scale, N, N, 0.5f, 0.25f, 1);
    EXPECT_VEC_NEAR(red.colour, 2.0f, 0.0f, 0.0f, 0.0f);
    EXPECT_FLOAT_EQ(red.scalar, 0.299f * 0.5f);
    EXPECT_TRUE(red.v == BX_Vector3(0.5f, 0.25f, 1.0f) && red.bounce == SRF_BOUNCE_GLOSSY);
    EXPECT_EQ(scale->albedo(N, N, 1, SRF_BOUNCE_DIFFUSE), 0.0f);
    BX_Vector3 colour;
    scale->emission(colour, 1);
    EXPECT_VEC_NEAR(colour, 1.0f, 0.0f, 0.0f, 0.0f);
    scale->emission(colour, 0);
    EXPECT_TRUE(colour == ZERO);

    // A negative luminance is not 0: the operand answers, the scalar turns.
    EXPECT_NEAR(SRF_ScaleBSDF::luminance(block[2]), -0.231f, 1e-6f);
    const Evaluated negative = evaluateOf(*scale, N, N, BX_Vector3(1, 0, 0), 2);
    EXPECT_VEC_NEAR(negative.colour, 4.0f, -6.0f, 4.0f, 1e-6f);
    EXPECT_NEAR(negative.scalar, -0.1155f, 1e-6f);
    // A luminance of exactly 1 leaves the operand's scalar as it was.
    auto white = hold(new SRF_ScaleBSDF(lobe(0.5f, ONE, 1), vectors({ONE})));
    EXPECT_EQ(SRF_ScaleBSDF::luminance(ONE), 1.0f);
    EXPECT_EQ(white->albedo(N, N, 0), 0.5f);

    // Equality is by colour block address: a copy owns a new block.
    auto copy = hold(scale->duplicate(3));
    EXPECT_FALSE(scale->isEqual(*copy, 1.0f));
    EXPECT_TRUE(scale->isEqual(*scale, 0.0f));
    EXPECT_EQ(dumpText(*scale, 2), "  SRF_ScaleBSDF\n   SRF_TestLobe\n");
}

// The operand of the larger specular ratio goes first (the given order on a
// tie or a ratio that does not compare): it draws v, the other is evaluated
// there; colours, scalars and emissions multiply.
TEST(MulBSDF, OrdersBySpecularRatioAndMultiplies)
{
    TestLobe *diffuse = lobe(0.3f, RGB, SRF_BOUNCE_DIFFUSE, 0.2f, BX_Vector3(1, 2, 3));
    TestLobe *mirror = lobe(0.6f, BX_Vector3(2, 2, 2), SRF_BOUNCE_SPECULAR, 0.9f, BX_Vector3(2, 2, 0.5f));
    auto mul = hold(new SRF_MulBSDF(diffuse, mirror));
    EXPECT_EQ(mul->getBounces(), SRF_BOUNCE_SPECULAR);
    EXPECT_EQ(Flat(mul.get()).bsdfs[1], mirror);
    const Sampled s = sampleOf(*mul, N, N, 0.25f, 0.75f);
    EXPECT_TRUE(mirror->sampled == 1 && diffuse->sampled == 0 && diffuse->evaluated == 1);
    EXPECT_TRUE(s.v == BX_Vector3(0.25f, 0.75f, 0.0f) && s.bounce == SRF_BOUNCE_SPECULAR);
    EXPECT_VEC_NEAR(s.colour, 2.5f, 5.0f, 7.5f, 1e-6f); // (2, 2, 2) times (1, 2, 3)(1 + 0.25)
    EXPECT_FLOAT_EQ(s.scalar, 0.18f);
    const Evaluated e = evaluateOf(*mul, N, N, BX_Vector3(1, 0, 0));
    EXPECT_VEC_NEAR(e.colour, 8.0f, 16.0f, 24.0f, 1e-6f);
    EXPECT_FLOAT_EQ(e.scalar, 0.18f);
    EXPECT_EQ(mul->albedo(N, N, 0), 0.3f); // the smaller
    EXPECT_EQ(mul->specularRatio(0), 0.9f);
    EXPECT_EQ(mul->albedo(N, N, 0, SRF_BOUNCE_SPECULAR), 0.0f); // each operand through its own mask
    EXPECT_EQ(mul->specularRatio(0, SRF_BOUNCE_DIFFUSE), 0.2f);
    BX_Vector3 colour;
    mul->emission(colour, 0);
    EXPECT_VEC_NEAR(colour, 2.0f, 4.0f, 1.5f, 0.0f);
    EXPECT_EQ(dumpText(*mul, 1), " SRF_MulBSDF\n  SRF_TestLobe\n  SRF_TestLobe\n");

    TestLobe *a = lobe(0.3f, ONE, 1, 0.5f), *b = lobe(0.3f, ONE, 2, 0.5f), *c = lobe(0.3f, ONE, 1, NAN);
    auto tie = hold(new SRF_MulBSDF(a, b));
    EXPECT_TRUE(Flat(tie.get()).bsdfs[1] == a && tie->getBounces() == SRF_BOUNCE_DIFFUSE);
    EXPECT_EQ(Flat(hold(new SRF_MulBSDF(c, lobe(0.3f, ONE, 2, 0.5f))).get()).bsdfs[1], c);
    EXPECT_TRUE(tie->isEqual(*hold(new SRF_MulBSDF(lobe(0.3f, ONE, 1, 0.5f), lobe(0.3f, ONE, 2, 0.5f))), 0.0f));
    EXPECT_FALSE(tie->isEqual(*hold(new SRF_MulBSDF(lobe(0.3f, ONE, 1, 0.5f), new SRF_Isotropic())), 0.0f));
}

// Entries (diffuse, mirror), indices (1, 0, 2, -1): lane 0 is the mirror,
// lane 1 the diffuse lobe, lanes 2 and 3 answer as a null BSDF.
TEST(SwitchBSDF, AnswersByLane)
{
    const BX_Vector3 glow(0.5f, 0.5f, 0.5f);
    TestLobe *diffuse = lobe(0.25f, ONE, SRF_BOUNCE_DIFFUSE, 0.0f, glow);
    TestLobe *mirror = lobe(0.75f, BX_Vector3(2, 2, 2), SRF_BOUNCE_SPECULAR, 1.0f, glow);
    auto sw = hold(new SRF_SwitchBSDF(list({diffuse, mirror}), ints({1, 0, 2, -1})));
    EXPECT_EQ(sw->getBounces(), 5);
    EXPECT_EQ(SRF_CompositeBSDF::queryNodes(sw.get()), 2); // the switch and the one entry a lane visits
    EXPECT_TRUE(sw->getBounces(0) == SRF_BOUNCE_SPECULAR && sw->getBounces(1) == SRF_BOUNCE_DIFFUSE);
    const Sampled s = sampleOf(*sw, N, N, 0.5f, 0.5f, 0);
    EXPECT_TRUE(mirror->sampled == 1 && diffuse->sampled == 0 && s.bounce == SRF_BOUNCE_SPECULAR);
    EXPECT_VEC_NEAR(s.colour, 2.0f, 2.0f, 2.0f, 0.0f);
    EXPECT_EQ(evaluateOf(*sw, N, N, N, 1).scalar, 0.25f);
    EXPECT_TRUE(diffuse->evaluated == 1 && mirror->evaluated == 0);
    EXPECT_TRUE(sw->albedo(N, N, 0) == 0.75f && sw->albedo(N, N, 1) == 0.25f && sw->specularRatio(0) == 1.0f);
    EXPECT_EQ(sw->albedo(N, N, 0, SRF_BOUNCE_DIFFUSE), 0.0f); // the entry applies the mask
    BX_Vector3 colour;
    sw->emission(colour, 1);
    EXPECT_TRUE(colour == glow);
    for (int lane : {2, 3})
    {
        const Sampled null = sampleOf(*sw, N, N, 0.5f, 0.5f, lane);
        EXPECT_TRUE(null.v == Sampled().v && null.bounce == -7 && null.colour == ZERO && null.scalar == 0.0f);
        const Evaluated nothing = evaluateOf(*sw, N, N, N, lane);
        EXPECT_TRUE(nothing.colour == ZERO && nothing.scalar == 0.0f);
        EXPECT_TRUE(sw->albedo(N, N, lane) == 0.0f && sw->specularRatio(lane) == 0.0f && sw->getBounces(lane) == 0);
        colour = ONE;
        sw->emission(colour, lane);
        EXPECT_TRUE(colour == ZERO);
    }
    EXPECT_EQ(dumpText(*sw, 0), " SRF_SwitchBSDF\n SRF_TestLobe\n SRF_TestLobe\n");

    // Equality: the entries in order with a fixed tolerance of 1e-6, not the
    // indices; an empty switch answers zero.
    auto make = [](SRF_BSDF *first, SRF_BSDF *second) {
        return hold(new SRF_SwitchBSDF(list({first, second}), ints({0})));
    };
    auto a = make(lobe(0.5f, ONE, 1), new SRF_Isotropic());
    EXPECT_TRUE(a->isEqual(*hold(new SRF_SwitchBSDF(list({lobe(0.5f, ONE, 1), new SRF_Isotropic()}), ints({1}))), 0));
    EXPECT_FALSE(a->isEqual(*make(new SRF_Isotropic(), lobe(0.5f, ONE, 1)), 1.0f));
    EXPECT_FALSE(a->isEqual(*make(lobe(0.5001f, ONE, 1), new SRF_Isotropic()), 0.1f));
    EXPECT_FALSE(a->isEqual(*hold(new SRF_SwitchBSDF(list({lobe(0.5f, ONE, 1)}), ints({0}))), 1.0f));
    auto holed = make(nullptr, new SRF_Isotropic()); // a null entry equals only a null entry
    EXPECT_TRUE(holed->isEqual(*make(nullptr, new SRF_Isotropic()), 0.0f));
    EXPECT_FALSE(holed->isEqual(*a, 1.0f) || a->isEqual(*holed, 1.0f));
    auto empty = hold(new SRF_SwitchBSDF(list({}), ints({0})));
    EXPECT_TRUE(empty->getBounces() == 0 && empty->albedo(N, N, 0) == 0.0f);
    // Without an index block every lane is null, and so in its copy, even
    // when the pool hands the copy a block that once held indices.
    SRF_BSDF::release(ints({0, 0, 0, 0, 0, 0, 0, 0}));
    auto unindexed = hold(new SRF_SwitchBSDF(list({new SRF_Isotropic()}), nullptr));
    auto copy = hold(unindexed->duplicate(8));
    for (int lane = 0; lane < 8; ++lane)
        EXPECT_TRUE(unindexed->getBounces(lane) == 0 && copy->getBounces(lane) == 0 && copy->albedo(N, N, lane) == 0.0f)
            << lane;
}

// A composite over an operand that cannot be copied gives no copy and keeps
// nothing of what it had copied on the way.
TEST(Composites, DuplicateFailsWholeWhenAnOperandCannotBeCopied)
{
    auto plain = [] { return lobe(0.5f, ONE, 1); };
    auto fixed = [] { return new TestLobe(0.5f, ONE, 1, 0.0f, BX_Vector3(), false); };
    SRF_BSDF *trees[] = {
        new SRF_SumBSDF(plain(), fixed()),
        new SRF_SumBSDF(fixed(), plain()),
        new SRF_MulBSDF(plain(), fixed()),
        new SRF_ScaleBSDF(fixed(), vectors({ONE})),
        new SRF_SumBSDF(new SRF_ScaleBSDF(plain(), vectors({ONE})), new SRF_MulBSDF(plain(), fixed())),
        new SRF_SwitchBSDF(list({plain(), plain(), fixed(), plain()}), ints({0, 1, 2, 3})),
    };
    for (SRF_BSDF *tree : trees)
    {
        const long objects = PoolCheck::liveObjects(), blocks = PoolCheck::blocksOut();
        EXPECT_EQ(tree->duplicate(4), nullptr) << tree->className();
        EXPECT_EQ(PoolCheck::liveObjects(), objects) << tree->className();
        EXPECT_EQ(PoolCheck::blocksOut(), blocks) << tree->className();
        tree->decRefCount();
    }
}
