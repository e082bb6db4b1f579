#include "PoolCheck.h"
#include "SRF_Emission.h"
#include "SRF_Isotropic.h"
#include "SRF_MulBSDF.h"
#include "SRF_Phong.h"
#include "SRF_ScaleBSDF.h"
#include "SRF_Specular.h"
#include "SRF_SumBSDF.h"
#include "SRF_SwitchBSDF.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace
{
// A lobe with fixed answers that records how it was called, so that the
// composites' arithmetic can be checked against hand-worked values.
//   sample:   v = (sx, sy, lane), colour = c, scalar = a, bounce = bounces
//   evaluate: colour = c (1 + v.x), scalar = a
//   albedo a, specular ratio r, emission e.
// It owns one float block (so that pool blocks travel through the trees),
// compares its albedo within the caller's tolerance, and may refuse to be
// duplicated, as a tabulated BSDF does.
class TestLobe : public SRF_BSDF
{
public:
    struct Params
    {
        float albedo = 0.5f;
        BX_Vector3 colour = BX_Vector3(1.0f, 1.0f, 1.0f);
        int bounces = SRF_BOUNCE_DIFFUSE;
        float ratio = 0.0f;
        BX_Vector3 emitted = BX_Vector3(0.0f, 0.0f, 0.0f);
        bool copyable = true;
    };

    explicit TestLobe(const Params &p, float *block = nullptr) : myParams(p), myBlock(block ? block : allocFloat())
    {
        bounces = p.bounces;
        myId = theNextId++;
        if (!block)
            myBlock[0] = p.albedo;
    }
    ~TestLobe() override
    {
        ++theDestroyed[myId];
        release(myBlock);
    }

    const char *className() const override { return "SRF_TestLobe"; }
    bool isEqual(const KAL_RefType &other, float tolerance) const override
    {
        return SRF_BSDF::isEqual(other, tolerance) &&
               std::fabs(static_cast<const TestLobe &>(other).myParams.albedo - myParams.albedo) <= tolerance;
    }

    using SRF_BSDF::albedo;
    using SRF_BSDF::evaluate;
    using SRF_BSDF::sample;
    using SRF_BSDF::specularRatio;

    float albedo(const BX_Vector3 &, const BX_Vector3 &, int) const override { return myParams.albedo; }
    float specularRatio(int) const override { return myParams.ratio; }
    void evaluate(const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                  int) const override
    {
        ++evaluateCalls;
        colour = myParams.colour * (1.0f + v.x);
        scalar = myParams.albedo;
    }
    void sample(const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &v, BX_Vector3 &colour, float &scalar, int &bounce,
                float sx, float sy, int lane) const override
    {
        ++sampleCalls;
        lastSx = sx;
        v = BX_Vector3(sx, sy, float(lane));
        colour = myParams.colour;
        scalar = myParams.albedo;
        bounce = bounces;
    }
    void emission(BX_Vector3 &colour, int) const override { colour = myParams.emitted; }

    SRF_BSDF *duplicate(int count) const override
    {
        return myParams.copyable ? new TestLobe(myParams, copy(myBlock, count)) : nullptr;
    }
    void flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &, BX_PtrArray<float *> &floats) override
    {
        bsdfs.append(this);
        floats.append(myBlock);
    }
    void dump(int indent) const override { dumpName(indent); }

    float *block() const { return myBlock; }
    int id() const { return myId; }

    mutable int sampleCalls = 0;
    mutable int evaluateCalls = 0;
    mutable float lastSx = -1.0f;

    static std::map<int, int> theDestroyed;
    static int theNextId;

private:
    Params myParams;
    float *myBlock;
    int myId;
};

std::map<int, int> TestLobe::theDestroyed;
int TestLobe::theNextId = 0;

TestLobe *lobe(float albedo, BX_Vector3 colour, int bounces, float ratio = 0.0f,
               BX_Vector3 emitted = BX_Vector3(0.0f, 0.0f, 0.0f))
{
    TestLobe::Params p;
    p.albedo = albedo;
    p.colour = colour;
    p.bounces = bounces;
    p.ratio = ratio;
    p.emitted = emitted;
    return new TestLobe(p);
}

const BX_Vector3 U(0.0f, 0.0f, 1.0f);
const BX_Vector3 N(0.0f, 0.0f, 1.0f);
const BX_Vector3 PRESET(7.0f, 7.0f, 7.0f);
const int PRESET_BOUNCE = 99;

void expectVec(const BX_Vector3 &got, float x, float y, float z)
{
    EXPECT_FLOAT_EQ(got.x, x);
    EXPECT_FLOAT_EQ(got.y, y);
    EXPECT_FLOAT_EQ(got.z, z);
}
} // namespace

using TestUtil::Flat;
using TestUtil::hold;
using TestUtil::ints;
using TestUtil::vectors;

// Albedos 0.25 and 0.75: sx picks an operand, is rescaled for it, and the
// pick is weighted by A / a_i.
TEST(SumBSDF, SamplePicksByAlbedoAndReweights)
{
    TestLobe *first = lobe(0.25f, BX_Vector3(1.0f, 2.0f, 3.0f), SRF_BOUNCE_DIFFUSE);
    TestLobe *second = lobe(0.75f, BX_Vector3(4.0f, 5.0f, 6.0f), SRF_BOUNCE_GLOSSY);
    auto sum = hold(new SRF_SumBSDF(first, second));
    EXPECT_EQ(sum->getBounces(), 3);

    BX_Vector3 v, colour;
    float scalar = 0.0f;
    int bounce = 0;

    // t = 0.2 < 0.25: the first, sx' = 0.8, weight 4.
    sum->sample(U, N, v, colour, scalar, bounce, 0.2f, 0.3f, 2);
    EXPECT_EQ(first->sampleCalls, 1);
    EXPECT_EQ(second->sampleCalls, 0);
    EXPECT_FLOAT_EQ(first->lastSx, 0.8f);
    expectVec(colour, 4.0f, 8.0f, 12.0f);
    EXPECT_FLOAT_EQ(scalar, 1.0f);
    EXPECT_EQ(bounce, SRF_BOUNCE_DIFFUSE);
    expectVec(v, 0.8f, 0.3f, 2.0f);

    // t = 0.5: the second, sx' = 1/3, weight 4/3.
    sum->sample(U, N, v, colour, scalar, bounce, 0.5f, 0.3f, 0);
    EXPECT_EQ(second->sampleCalls, 1);
    EXPECT_FLOAT_EQ(second->lastSx, 1.0f / 3.0f);
    expectVec(colour, 16.0f / 3.0f, 20.0f / 3.0f, 8.0f);
    EXPECT_FLOAT_EQ(scalar, 1.0f);
    EXPECT_EQ(bounce, SRF_BOUNCE_GLOSSY);

    // t = a1 exactly: the second, with sx' = 0.
    sum->sample(U, N, v, colour, scalar, bounce, 0.25f, 0.3f, 0);
    EXPECT_EQ(first->sampleCalls, 1);
    EXPECT_EQ(second->sampleCalls, 2);
    EXPECT_EQ(second->lastSx, 0.0f);

    // The mask-free sample is the masked one over the scattering types.
    sum->sample(U, N, v, colour, scalar, bounce, 0.0f, 0.3f, 0);
    EXPECT_EQ(first->sampleCalls, 2);
    EXPECT_EQ(first->lastSx, 0.0f);
}

TEST(SumBSDF, SampleEdgeCases)
{
    BX_Vector3 v = PRESET, colour = PRESET;
    float scalar = 7.0f;
    int bounce = PRESET_BOUNCE;

    // Both albedos 0: nothing is picked and nothing is written.
    {
        TestLobe *first = lobe(0.0f, BX_Vector3(1.0f, 1.0f, 1.0f), SRF_BOUNCE_DIFFUSE);
        TestLobe *second = lobe(0.0f, BX_Vector3(1.0f, 1.0f, 1.0f), SRF_BOUNCE_GLOSSY);
        auto sum = hold(new SRF_SumBSDF(first, second));
        sum->sample(U, N, v, colour, scalar, bounce, 0.5f, 0.5f, 0, SRF_BOUNCE_ALL);
        EXPECT_EQ(first->sampleCalls + second->sampleCalls, 0);
        expectVec(v, 7.0f, 7.0f, 7.0f);
        expectVec(colour, 7.0f, 7.0f, 7.0f);
        EXPECT_EQ(scalar, 7.0f);
        EXPECT_EQ(bounce, PRESET_BOUNCE);
    }
    // sx = 1 with a second albedo of 0: the first, with a finite weight of 1.
    {
        TestLobe *first = lobe(0.5f, BX_Vector3(1.0f, 2.0f, 3.0f), SRF_BOUNCE_DIFFUSE);
        TestLobe *second = lobe(0.0f, BX_Vector3(9.0f, 9.0f, 9.0f), SRF_BOUNCE_GLOSSY);
        auto sum = hold(new SRF_SumBSDF(first, second));
        sum->sample(U, N, v, colour, scalar, bounce, 1.0f, 0.5f, 0);
        EXPECT_EQ(first->sampleCalls, 1);
        EXPECT_EQ(second->sampleCalls, 0);
        EXPECT_EQ(first->lastSx, 1.0f);
        expectVec(colour, 1.0f, 2.0f, 3.0f);
        EXPECT_EQ(scalar, 0.5f);
    }
    // A mask that admits only the second operand: exactly its answer, with
    // no albedo weighting, and the first is never called.
    {
        TestLobe *first = lobe(0.25f, BX_Vector3(1.0f, 2.0f, 3.0f), SRF_BOUNCE_DIFFUSE);
        TestLobe *second = lobe(0.75f, BX_Vector3(4.0f, 5.0f, 6.0f), SRF_BOUNCE_GLOSSY);
        auto sum = hold(new SRF_SumBSDF(first, second));
        sum->sample(U, N, v, colour, scalar, bounce, 0.1f, 0.5f, 0, SRF_BOUNCE_GLOSSY);
        EXPECT_EQ(first->sampleCalls, 0);
        EXPECT_EQ(second->lastSx, 0.1f);
        expectVec(colour, 4.0f, 5.0f, 6.0f);
        EXPECT_EQ(scalar, 0.75f);
        EXPECT_EQ(sum->albedo(U, N, 0, SRF_BOUNCE_GLOSSY), 0.75f);
        sum->evaluate(U, N, BX_Vector3(1.0f, 0.0f, 0.0f), colour, scalar, 0, SRF_BOUNCE_GLOSSY);
        EXPECT_EQ(first->evaluateCalls, 0);
        expectVec(colour, 8.0f, 10.0f, 12.0f);
        EXPECT_EQ(scalar, 0.75f);

        // A mask that admits neither: zeros, v and bounce untouched.
        v = PRESET;
        bounce = PRESET_BOUNCE;
        sum->sample(U, N, v, colour, scalar, bounce, 0.1f, 0.5f, 0, SRF_BOUNCE_SPECULAR);
        expectVec(v, 7.0f, 7.0f, 7.0f);
        expectVec(colour, 0.0f, 0.0f, 0.0f);
        EXPECT_EQ(scalar, 0.0f);
        EXPECT_EQ(bounce, PRESET_BOUNCE);
        EXPECT_EQ(first->sampleCalls + second->sampleCalls, 1);
    }
}

TEST(SumBSDF, EvaluateAlbedoRatioEmission)
{
    const BX_Vector3 emitted(0.5f, 0.25f, 0.0f), c(10.0f, 20.0f, 30.0f);
    TestLobe *mirror = lobe(0.5f, BX_Vector3(1.0f, 2.0f, 3.0f), SRF_BOUNCE_SPECULAR, 1.0f, emitted);
    TestLobe *diffuse = lobe(0.5f, c, SRF_BOUNCE_DIFFUSE, 0.0f, emitted);
    auto sum = hold(new SRF_SumBSDF(mirror, diffuse));

    BX_Vector3 colour;
    float scalar = 0.0f;
    sum->evaluate(U, N, BX_Vector3(1.0f, 0.0f, 0.0f), colour, scalar, 0);
    expectVec(colour, 22.0f, 44.0f, 66.0f);
    EXPECT_EQ(scalar, 1.0f);
    EXPECT_EQ(sum->albedo(U, N, 0), 1.0f);
    EXPECT_EQ(sum->albedo(U, N, 0, 0), 0.0f);

    // Albedo-weighted mean of the eligible operands' ratios.
    EXPECT_FLOAT_EQ(sum->specularRatio(0), 0.5f);
    EXPECT_EQ(sum->specularRatio(0, SRF_BOUNCE_SPECULAR), 1.0f);
    EXPECT_EQ(sum->specularRatio(0, SRF_BOUNCE_DIFFUSE), 0.0f);

    // Emission adds, whatever the masks.
    sum->emission(colour, 0);
    expectVec(colour, 1.0f, 0.5f, 0.0f);

    // A total albedo of 1e-6 or less has no ratio; just above it has one.
    {
        auto tiny =
            hold(new SRF_SumBSDF(lobe(5e-7f, c, SRF_BOUNCE_GLOSSY, 1.0f), lobe(5e-7f, c, SRF_BOUNCE_DIFFUSE, 1.0f)));
        EXPECT_EQ(tiny->specularRatio(0), 0.0f);
        auto small =
            hold(new SRF_SumBSDF(lobe(1e-6f, c, SRF_BOUNCE_GLOSSY, 1.0f), lobe(1e-6f, c, SRF_BOUNCE_DIFFUSE, 0.5f)));
        EXPECT_FLOAT_EQ(small->specularRatio(0), 0.75f);
    }

    // The mask-free queries admit the scattering types only: an operand
    // carrying just the emission bit does not take part.
    auto withEmitter = hold(new SRF_SumBSDF(lobe(0.25f, c, SRF_BOUNCE_DIFFUSE),
                                            lobe(0.5f, BX_Vector3(1.0f, 1.0f, 1.0f), SRF_BOUNCE_EMISSION)));
    EXPECT_EQ(withEmitter->albedo(U, N, 0), 0.25f);
    EXPECT_EQ(withEmitter->albedo(U, N, 0, SRF_BOUNCE_ALL), 0.75f);
    withEmitter->evaluate(U, N, BX_Vector3(), colour, scalar, 0);
    expectVec(colour, 10.0f, 20.0f, 30.0f);
    EXPECT_EQ(scalar, 0.25f);
}

TEST(SumBSDF, DumpFlattenEquality)
{
    SRF_Isotropic *iso = new SRF_Isotropic();
    SRF_Emission *emitter = new SRF_Emission();
    auto sum = hold(new SRF_SumBSDF(iso, emitter));
    // "%*c" prints one blank for a width of 0 or 1, so the first level below
    // a dump(0) shows no deeper than its root.
    EXPECT_EQ(TestUtil::dumpText(*sum, 0), " SRF_SumBSDF\n SRF_Isotropic\n SRF_Emission\n");
    EXPECT_EQ(TestUtil::dumpText(*sum, 1), " SRF_SumBSDF\n  SRF_Isotropic\n  SRF_Emission\n");
    EXPECT_EQ(TestUtil::dumpText(*sum, 3), "   SRF_SumBSDF\n    SRF_Isotropic\n    SRF_Emission\n");

    // Pre-order: outer, inner, the inner operands, then the outer second.
    TestLobe *a = lobe(0.1f, BX_Vector3(), SRF_BOUNCE_DIFFUSE);
    TestLobe *b = lobe(0.2f, BX_Vector3(), SRF_BOUNCE_DIFFUSE);
    TestLobe *c = lobe(0.3f, BX_Vector3(), SRF_BOUNCE_DIFFUSE);
    SRF_SumBSDF *inner = new SRF_SumBSDF(a, b);
    auto outer = hold(new SRF_SumBSDF(inner, c));
    Flat flat(outer.get());
    ASSERT_EQ(flat.bsdfs.entries(), 5);
    EXPECT_EQ(flat.bsdfs[0], outer.get());
    EXPECT_EQ(flat.bsdfs[1], inner);
    EXPECT_EQ(flat.bsdfs[2], a);
    EXPECT_EQ(flat.bsdfs[3], b);
    EXPECT_EQ(flat.bsdfs[4], c);
    ASSERT_EQ(flat.floats.entries(), 3);
    EXPECT_EQ(flat.floats[0], a->block());
    EXPECT_EQ(flat.floats[2], c->block());
    EXPECT_EQ(flat.vectors.entries(), 0);

    // Ordered equality, with the caller's tolerance passed to the operands.
    auto ab = hold(new SRF_SumBSDF(lobe(0.5f, BX_Vector3(), 1), new SRF_Isotropic()));
    auto ba = hold(new SRF_SumBSDF(new SRF_Isotropic(), lobe(0.5f, BX_Vector3(), 1)));
    auto ab2 = hold(new SRF_SumBSDF(lobe(0.5001f, BX_Vector3(), 1), new SRF_Isotropic()));
    EXPECT_FALSE(ab->isEqual(*ba, 0.1f));
    EXPECT_TRUE(ab->isEqual(*ab2, 0.1f));
    EXPECT_FALSE(ab->isEqual(*ab2, 1e-6f));
    EXPECT_FALSE(ab->isEqual(*iso, 0.1f));
}

// Lanes: 0 black, 1 red, 2 (1, -1, 0.5) whose luminance is -0.231.
TEST(ScaleBSDF, TintsByColourAndLuminance)
{
    TestLobe *operand =
        lobe(0.5f, BX_Vector3(2.0f, 3.0f, 4.0f), SRF_BOUNCE_GLOSSY, 0.25f, BX_Vector3(1.0f, 2.0f, 3.0f));
    BX_Vector3 *block =
        vectors({BX_Vector3(0.0f, 0.0f, 0.0f), BX_Vector3(1.0f, 0.0f, 0.0f), BX_Vector3(1.0f, -1.0f, 0.5f)});
    auto scale = hold(new SRF_ScaleBSDF(operand, block));
    EXPECT_EQ(scale->getBounces(), SRF_BOUNCE_GLOSSY);

    BX_Vector3 v = PRESET, colour = PRESET;
    float scalar = 7.0f;
    int bounce = PRESET_BOUNCE;

    // Black lane: v, colour and scalar zeroed, bounce untouched, the operand
    // never sampled or evaluated.
    scale->sample(U, N, v, colour, scalar, bounce, 0.5f, 0.5f, 0);
    expectVec(v, 0.0f, 0.0f, 0.0f);
    expectVec(colour, 0.0f, 0.0f, 0.0f);
    EXPECT_EQ(scalar, 0.0f);
    EXPECT_EQ(bounce, PRESET_BOUNCE);
    scale->evaluate(U, N, U, colour, scalar, 0);
    expectVec(colour, 0.0f, 0.0f, 0.0f);
    EXPECT_EQ(scalar, 0.0f);
    EXPECT_EQ(operand->sampleCalls + operand->evaluateCalls, 0);
    EXPECT_EQ(scale->albedo(U, N, 0), 0.0f);
    colour = PRESET;
    scale->emission(colour, 0);
    expectVec(colour, 0.0f, 0.0f, 0.0f);
    // The colour plays no part in the ratio.
    EXPECT_EQ(scale->specularRatio(0), 0.25f);
    EXPECT_EQ(scale->specularRatio(0, SRF_BOUNCE_DIFFUSE), 0.0f);

    // Red lane: only the first component survives; the scalar takes 0.299.
    EXPECT_FLOAT_EQ(scale->albedo(U, N, 1), 0.299f * 0.5f);
    scale->sample(U, N, v, colour, scalar, bounce, 0.5f, 0.25f, 1);
    expectVec(colour, 2.0f, 0.0f, 0.0f);
    EXPECT_FLOAT_EQ(scalar, 0.299f * 0.5f);
    EXPECT_EQ(bounce, SRF_BOUNCE_GLOSSY);
    expectVec(v, 0.5f, 0.25f, 1.0f);
    scale->emission(colour, 1);
    expectVec(colour, 1.0f, 0.0f, 0.0f);

    // A negative luminance is not 0: the operand is called and the scalar
    // changes sign.
    const float l = 0.299f - 0.587f + 0.057f;
    EXPECT_NEAR(SRF_ScaleBSDF::luminance(block[2]), -0.231f, 1e-6f);
    scale->evaluate(U, N, BX_Vector3(1.0f, 0.0f, 0.0f), colour, scalar, 2);
    expectVec(colour, 4.0f, -6.0f, 4.0f);
    EXPECT_NEAR(scalar, 0.5f * l, 1e-6f);
    EXPECT_LT(scalar, 0.0f);
    EXPECT_NEAR(scale->albedo(U, N, 2), 0.5f * l, 1e-6f);

    // The mask reaches the operand: nothing passes for a diffuse-only query.
    EXPECT_EQ(scale->albedo(U, N, 1, SRF_BOUNCE_DIFFUSE), 0.0f);
    scale->evaluate(U, N, U, colour, scalar, 1, SRF_BOUNCE_DIFFUSE);
    expectVec(colour, 0.0f, 0.0f, 0.0f);
    EXPECT_EQ(scalar, 0.0f);

    // A coloured emitter.
    auto emitter = hold(new SRF_ScaleBSDF(new SRF_Emission(), vectors({BX_Vector3(0.5f, 2.0f, 4.0f)})));
    emitter->emission(colour, 0);
    expectVec(colour, 0.5f, 2.0f, 4.0f);
    EXPECT_EQ(emitter->albedo(U, N, 0), 0.0f);
}

TEST(ScaleBSDF, EqualityIsByColourBlockAddress)
{
    BX_Vector3 grey(0.5f, 0.5f, 0.5f);
    auto a = hold(new SRF_ScaleBSDF(new SRF_Isotropic(), vectors({grey, grey})));
    auto b = hold(new SRF_ScaleBSDF(new SRF_Isotropic(), vectors({grey, grey})));
    EXPECT_TRUE(a->isEqual(*a, 0.0f));
    EXPECT_FALSE(a->isEqual(*b, 1.0f));

    auto copy = hold(a->duplicate(2));
    ASSERT_NE(copy.get(), nullptr);
    EXPECT_FALSE(a->isEqual(*copy, 1.0f));
    EXPECT_EQ(copy->getBounces(), SRF_BOUNCE_DIFFUSE);
    EXPECT_FLOAT_EQ(copy->albedo(U, N, 1), 0.5f);

    // The copy owns new blocks: flatten lists a colour block of its own
    // holding the copied lanes.
    Flat flatA(a.get()), flatCopy(copy.get());
    ASSERT_EQ(flatCopy.vectors.entries(), 1);
    EXPECT_NE(flatCopy.vectors[0], flatA.vectors[0]);
    expectVec(flatCopy.vectors[0][1], 0.5f, 0.5f, 0.5f);
    ASSERT_EQ(flatA.bsdfs.entries(), 2);
    EXPECT_EQ(flatA.bsdfs[0], a.get());
    EXPECT_STREQ(flatA.bsdfs[1]->className(), "SRF_Isotropic");

    EXPECT_EQ(TestUtil::dumpText(*a, 2), "  SRF_ScaleBSDF\n   SRF_Isotropic\n");
}

TEST(MulBSDF, OrdersBySpecularRatio)
{
    // A diffuse-like lobe and a mirror-like one, given in that order: the
    // mirror comes first and gives the bounce set.
    TestLobe *diffuse = lobe(0.3f, BX_Vector3(1.0f, 2.0f, 3.0f), SRF_BOUNCE_DIFFUSE, 0.2f);
    TestLobe *mirror = lobe(0.6f, BX_Vector3(2.0f, 2.0f, 2.0f), SRF_BOUNCE_SPECULAR, 0.9f);
    auto mul = hold(new SRF_MulBSDF(diffuse, mirror));
    EXPECT_EQ(mul->getBounces(), SRF_BOUNCE_SPECULAR);
    Flat flat(mul.get());
    ASSERT_EQ(flat.bsdfs.entries(), 3);
    EXPECT_EQ(flat.bsdfs[1], mirror);
    EXPECT_EQ(flat.bsdfs[2], diffuse);

    // The mirror draws v; the diffuse lobe is evaluated there: its colour is
    // c (1 + v.x) = (1, 2, 3) * 1.25 for v.x = sx = 0.25.
    BX_Vector3 v, colour;
    float scalar = 0.0f;
    int bounce = 0;
    mul->sample(U, N, v, colour, scalar, bounce, 0.25f, 0.75f, 0);
    EXPECT_EQ(mirror->sampleCalls, 1);
    EXPECT_EQ(mirror->lastSx, 0.25f);
    EXPECT_EQ(diffuse->sampleCalls, 0);
    EXPECT_EQ(diffuse->evaluateCalls, 1);
    expectVec(v, 0.25f, 0.75f, 0.0f);
    expectVec(colour, 2.5f, 5.0f, 7.5f);
    EXPECT_FLOAT_EQ(scalar, 0.18f);
    EXPECT_EQ(bounce, SRF_BOUNCE_SPECULAR);

    mul->evaluate(U, N, BX_Vector3(1.0f, 0.0f, 0.0f), colour, scalar, 0);
    expectVec(colour, 8.0f, 16.0f, 24.0f);
    EXPECT_FLOAT_EQ(scalar, 0.18f);

    EXPECT_EQ(mul->albedo(U, N, 0), 0.3f);
    EXPECT_EQ(mul->specularRatio(0), 0.9f);
    // Each operand answers through its own mask: a specular-only query sees
    // the diffuse lobe as zero.
    EXPECT_EQ(mul->albedo(U, N, 0, SRF_BOUNCE_SPECULAR), 0.0f);
    EXPECT_EQ(mul->specularRatio(0, SRF_BOUNCE_DIFFUSE), 0.2f);

    EXPECT_EQ(TestUtil::dumpText(*mul, 1), " SRF_MulBSDF\n  SRF_TestLobe\n  SRF_TestLobe\n");
}

TEST(MulBSDF, TiesKeepGivenOrderAndEmissionMultiplies)
{
    TestLobe *a = lobe(0.3f, BX_Vector3(), SRF_BOUNCE_DIFFUSE, 0.5f);
    TestLobe *b = lobe(0.3f, BX_Vector3(), SRF_BOUNCE_GLOSSY, 0.5f);
    auto tie = hold(new SRF_MulBSDF(a, b));
    Flat flat(tie.get());
    EXPECT_EQ(flat.bsdfs[1], a);
    EXPECT_EQ(flat.bsdfs[2], b);
    EXPECT_EQ(tie->getBounces(), SRF_BOUNCE_DIFFUSE);

    // A ratio that does not compare keeps the given order too.
    TestLobe *c = lobe(0.3f, BX_Vector3(), SRF_BOUNCE_DIFFUSE, NAN);
    TestLobe *d = lobe(0.3f, BX_Vector3(), SRF_BOUNCE_GLOSSY, 0.5f);
    auto nan = hold(new SRF_MulBSDF(c, d));
    EXPECT_EQ(Flat(nan.get()).bsdfs[1], c);

    // Emission: component by component; one dark operand makes it dark.
    const BX_Vector3 white(1.0f, 1.0f, 1.0f);
    TestLobe *bright = lobe(0.5f, white, SRF_BOUNCE_DIFFUSE, 0.0f, BX_Vector3(1.0f, 2.0f, 3.0f));
    auto both =
        hold(new SRF_MulBSDF(bright, lobe(0.5f, white, SRF_BOUNCE_DIFFUSE, 0.0f, BX_Vector3(2.0f, 2.0f, 0.5f))));
    BX_Vector3 colour;
    both->emission(colour, 0);
    expectVec(colour, 2.0f, 4.0f, 1.5f);
    bright->addRefCount();
    auto dark = hold(new SRF_MulBSDF(bright, new SRF_Isotropic()));
    dark->emission(colour, 0);
    expectVec(colour, 0.0f, 0.0f, 0.0f);

    // Equality is ordered by the stored operands.
    auto same = hold(new SRF_MulBSDF(lobe(0.3f, BX_Vector3(), 1, 0.5f), lobe(0.3f, BX_Vector3(), 2, 0.5f)));
    EXPECT_TRUE(tie->isEqual(*same, 0.0f));
    auto other = hold(new SRF_MulBSDF(lobe(0.3f, BX_Vector3(), 1, 0.5f), new SRF_Isotropic()));
    EXPECT_FALSE(tie->isEqual(*other, 0.0f));
}

// Entries (diffuse, mirror) and indices (1, 0, 2, -1): lane 0 is the mirror,
// lane 1 the diffuse lobe, lanes 2 and 3 lie outside the list.
TEST(SwitchBSDF, AnswersByLane)
{
    const BX_Vector3 glow(0.5f, 0.5f, 0.5f);
    TestLobe *diffuse = lobe(0.25f, BX_Vector3(1.0f, 1.0f, 1.0f), SRF_BOUNCE_DIFFUSE, 0.0f, glow);
    TestLobe *mirror = lobe(0.75f, BX_Vector3(2.0f, 2.0f, 2.0f), SRF_BOUNCE_SPECULAR, 1.0f, glow);
    BX_PtrArray<SRF_BSDF *> list;
    list.append(diffuse);
    list.append(mirror);
    auto sw = hold(new SRF_SwitchBSDF(list, ints({1, 0, 2, -1})));

    EXPECT_EQ(sw->getBounces(), 5);
    EXPECT_EQ(SRF_CompositeBSDF::queryNodes(sw.get()), 2); // the switch and the one entry a lane visits

    EXPECT_EQ(sw->getBounces(0), SRF_BOUNCE_SPECULAR);
    EXPECT_EQ(sw->getBounces(1), SRF_BOUNCE_DIFFUSE);

    BX_Vector3 v, colour;
    float scalar = 0.0f;
    int bounce = 0;
    sw->sample(U, N, v, colour, scalar, bounce, 0.5f, 0.5f, 0);
    EXPECT_EQ(mirror->sampleCalls, 1);
    EXPECT_EQ(diffuse->sampleCalls, 0);
    expectVec(colour, 2.0f, 2.0f, 2.0f);
    EXPECT_EQ(scalar, 0.75f);
    EXPECT_EQ(bounce, SRF_BOUNCE_SPECULAR);
    sw->evaluate(U, N, U, colour, scalar, 1);
    EXPECT_EQ(diffuse->evaluateCalls, 1);
    EXPECT_EQ(mirror->evaluateCalls, 0);
    EXPECT_EQ(scalar, 0.25f);
    EXPECT_EQ(sw->albedo(U, N, 0), 0.75f);
    EXPECT_EQ(sw->albedo(U, N, 1), 0.25f);
    EXPECT_EQ(sw->specularRatio(0), 1.0f);
    // The picked entry applies the mask itself.
    EXPECT_EQ(sw->albedo(U, N, 0, SRF_BOUNCE_DIFFUSE), 0.0f);

    // Lanes outside the list answer as a null BSDF.
    for (int lane : {2, 3})
    {
        v = PRESET;
        bounce = PRESET_BOUNCE;
        colour = PRESET;
        sw->sample(U, N, v, colour, scalar, bounce, 0.5f, 0.5f, lane);
        expectVec(v, 7.0f, 7.0f, 7.0f);
        EXPECT_EQ(bounce, PRESET_BOUNCE);
        expectVec(colour, 0.0f, 0.0f, 0.0f);
        EXPECT_EQ(scalar, 0.0f);
        sw->evaluate(U, N, U, colour, scalar, lane);
        EXPECT_EQ(scalar, 0.0f);
        EXPECT_EQ(sw->albedo(U, N, lane), 0.0f);
        EXPECT_EQ(sw->specularRatio(lane), 0.0f);
        EXPECT_EQ(sw->getBounces(lane), 0);
        colour = PRESET;
        sw->emission(colour, lane);
        expectVec(colour, 0.0f, 0.0f, 0.0f);
    }
    EXPECT_EQ(mirror->sampleCalls + diffuse->sampleCalls, 1);
    sw->emission(colour, 1);
    expectVec(colour, 0.5f, 0.5f, 0.5f);

    EXPECT_EQ(TestUtil::dumpText(*sw, 1), " SRF_SwitchBSDF\n  SRF_TestLobe\n  SRF_TestLobe\n");
    Flat flat(sw.get());
    ASSERT_EQ(flat.bsdfs.entries(), 3);
    EXPECT_EQ(flat.bsdfs[1], diffuse);
    EXPECT_EQ(flat.bsdfs[2], mirror);
    ASSERT_EQ(flat.floats.entries(), 2);
    EXPECT_EQ(flat.floats[0], diffuse->block());
    EXPECT_EQ(flat.floats[1], mirror->block());
}

TEST(SwitchBSDF, EqualityUsesEntriesWithFixedTolerance)
{
    auto make = [](std::vector<SRF_BSDF *> entries, std::initializer_list<int> index)
    {
        BX_PtrArray<SRF_BSDF *> list;
        for (SRF_BSDF *e : entries)
            list.append(e);
        return new SRF_SwitchBSDF(list, ints(index));
    };
    auto t = [](float a) { return lobe(a, BX_Vector3(), SRF_BOUNCE_DIFFUSE); };

    auto a = hold(make({t(0.5f), new SRF_Isotropic(), new SRF_Emission()}, {0, 1, 2}));
    auto differentIndex = hold(make({t(0.5f), new SRF_Isotropic(), new SRF_Emission()}, {2, 2, 2}));
    auto reordered = hold(make({new SRF_Isotropic(), t(0.5f), new SRF_Emission()}, {0, 1, 2}));
    auto shorter = hold(make({t(0.5f), new SRF_Isotropic()}, {0, 1}));
    auto nearby = hold(make({t(0.5001f), new SRF_Isotropic(), new SRF_Emission()}, {0, 1, 2}));
    EXPECT_TRUE(a->isEqual(*differentIndex, 0.0f));
    EXPECT_FALSE(a->isEqual(*reordered, 1.0f));
    EXPECT_FALSE(a->isEqual(*shorter, 1.0f));
    // The entries are compared with 1e-6 whatever the caller asks for.
    EXPECT_FALSE(a->isEqual(*nearby, 0.1f));

    auto emptyA = hold(make({}, {0}));
    auto emptyB = hold(make({}, {0}));
    EXPECT_TRUE(emptyA->isEqual(*emptyB, 0.0f));
    EXPECT_EQ(emptyA->getBounces(), 0);
    EXPECT_EQ(emptyA->albedo(U, N, 0), 0.0f);

    auto copy = hold(a->duplicate(3));
    ASSERT_NE(copy.get(), nullptr);
    EXPECT_TRUE(a->isEqual(*copy, 0.0f));
    EXPECT_EQ(copy->getBounces(), SRF_BOUNCE_DIFFUSE | SRF_BOUNCE_EMISSION);
    EXPECT_EQ(copy->getBounces(2), SRF_BOUNCE_EMISSION);
    EXPECT_EQ(TestUtil::dumpText(*a, 0), " SRF_SwitchBSDF\n SRF_TestLobe\n SRF_Isotropic\n SRF_Emission\n");
}

// With the library's own lobes: a Mul of a diffuse lobe and a mirror samples
// the mirror and weights it by the diffuse value there; a Switch of the two
// answers by lane.
TEST(Composites, OverDiffuseAndMirrorLobes)
{
    BX_Vector3 *mirrorDirections = vectors({BX_Vector3(0.0f, 3.0f, 4.0f), BX_Vector3(1.0f, 0.0f, 0.0f)});
    auto mul = hold(new SRF_MulBSDF(new SRF_Isotropic(), new SRF_Specular(mirrorDirections)));
    EXPECT_EQ(mul->getBounces(), SRF_BOUNCE_SPECULAR);
    EXPECT_STREQ(Flat(mul.get()).bsdfs[1]->className(), "SRF_Specular");
    BX_Vector3 v, colour;
    float scalar = 0.0f;
    int bounce = 0;
    mul->sample(U, N, v, colour, scalar, bounce, 0.3f, 0.7f, 0);
    expectVec(v, 0.0f, 0.6f, 0.8f);
    expectVec(colour, 1e6f, 1e6f, 1e6f);
    EXPECT_EQ(scalar, 1.0f);
    EXPECT_EQ(bounce, SRF_BOUNCE_SPECULAR);
    EXPECT_EQ(mul->specularRatio(0), 1.0f);

    BX_PtrArray<SRF_BSDF *> list;
    list.append(new SRF_Isotropic());
    list.append(new SRF_Specular(vectors({BX_Vector3(0.0f, 0.0f, 2.0f), BX_Vector3(0.0f, 0.0f, 2.0f)})));
    auto sw = hold(new SRF_SwitchBSDF(list, ints({1, 0})));
    EXPECT_EQ(sw->getBounces(), 5);
    EXPECT_EQ(sw->getBounces(0), SRF_BOUNCE_SPECULAR);
    EXPECT_EQ(sw->getBounces(1), SRF_BOUNCE_DIFFUSE);
    sw->sample(U, N, v, colour, scalar, bounce, 0.3f, 0.7f, 0);
    expectVec(v, 0.0f, 0.0f, 1.0f);
    EXPECT_EQ(bounce, SRF_BOUNCE_SPECULAR);
    // sy = 0 on the isotropic lane: the direction opposite u.
    sw->sample(U, N, v, colour, scalar, bounce, 0.3f, 0.0f, 1);
    EXPECT_NEAR(v.z, -1.0f, 1e-6f);
    expectVec(colour, 1.0f, 1.0f, 1.0f);
    EXPECT_EQ(bounce, SRF_BOUNCE_DIFFUSE);
    sw->evaluate(U, N, BX_Vector3(1.0f, 0.0f, 0.0f), colour, scalar, 0);
    expectVec(colour, 0.0f, 0.0f, 0.0f);
    EXPECT_EQ(sw->specularRatio(0), 1.0f);
    EXPECT_EQ(sw->specularRatio(1), 0.0f);

    auto copy = hold(sw->duplicate(2));
    ASSERT_NE(copy.get(), nullptr);
    EXPECT_TRUE(copy->isEqual(*sw, 0.0f));
    copy->sample(U, N, v, colour, scalar, bounce, 0.3f, 0.7f, 0);
    expectVec(v, 0.0f, 0.0f, 1.0f);
}

// A composite over an operand that cannot be copied (as a tabulated BSDF)
// gives no copy and keeps nothing of what it had copied on the way.
TEST(Composites, DuplicateFailsWholeWhenAnOperandCannotBeCopied)
{
    auto plain = [] { return lobe(0.5f, BX_Vector3(), SRF_BOUNCE_DIFFUSE); };
    auto fixed = []
    {
        TestLobe::Params p;
        p.copyable = false;
        return new TestLobe(p);
    };
    std::vector<SRF_BSDF *> trees;
    trees.push_back(new SRF_SumBSDF(plain(), fixed()));
    trees.push_back(new SRF_SumBSDF(fixed(), plain()));
    trees.push_back(new SRF_MulBSDF(plain(), fixed()));
    trees.push_back(new SRF_MulBSDF(fixed(), plain()));
    trees.push_back(new SRF_ScaleBSDF(fixed(), vectors({BX_Vector3(1.0f, 1.0f, 1.0f)})));
    trees.push_back(new SRF_SumBSDF(new SRF_ScaleBSDF(plain(), vectors({BX_Vector3(1.0f, 1.0f, 1.0f)})),
                                    new SRF_MulBSDF(plain(), fixed())));
    BX_PtrArray<SRF_BSDF *> list;
    list.append(plain());
    list.append(plain());
    list.append(fixed());
    list.append(plain());
    trees.push_back(new SRF_SwitchBSDF(list, ints({0, 1, 2, 3})));

    for (SRF_BSDF *tree : trees)
    {
        const long objects = PoolCheck::liveObjects();
        const long blocks = PoolCheck::blocksOut();
        EXPECT_EQ(tree->duplicate(4), nullptr) << tree->className();
        EXPECT_EQ(PoolCheck::liveObjects(), objects) << tree->className();
        EXPECT_EQ(PoolCheck::blocksOut(), blocks) << tree->className();
        tree->decRefCount();
    }
}

namespace
{
// Builds random trees of composites over lobes. Subtrees already built are
// reused (one more reference each), the same object may be both operands of
// a node, and every node made is counted.
class TreeMaker
{
public:
    explicit TreeMaker(unsigned seed) : myRandom(seed) {}

    SRF_BSDF *make(int depth)
    {
        if (!myMade.empty() && pick(5) == 0)
        {
            SRF_BSDF *shared = myMade[pick(int(myMade.size()))];
            shared->addRefCount();
            ++sharedCount;
            return shared;
        }
        // The root is always a composite.
        if (depth == 0 || (depth < DEPTH && pick(4) == 0))
            return made(leaf());
        switch (pick(5))
        {
        case 0:
        {
            SRF_BSDF *a = make(depth - 1);
            a->addRefCount();
            ++twinCount;
            return made(new SRF_SumBSDF(a, a));
        }
        case 1:
            return made(new SRF_SumBSDF(make(depth - 1), make(depth - 1)));
        case 2:
            return made(new SRF_MulBSDF(make(depth - 1), make(depth - 1)));
        case 3:
        {
            hasScale = true;
            BX_Vector3 *block = SRF_BSDF::allocVector();
            for (int i = 0; i < LANES; ++i)
                block[i] = BX_Vector3(unit(), unit(), pick(3) == 0 ? 0.0f : unit());
            return made(new SRF_ScaleBSDF(make(depth - 1), block));
        }
        default:
        {
            hasSwitch = true;
            BX_PtrArray<SRF_BSDF *> list;
            const int count = 1 + pick(3);
            for (int i = 0; i < count; ++i)
                list.append(make(depth - 1));
            int *index = SRF_BSDF::allocInteger();
            for (int i = 0; i < LANES; ++i)
                index[i] = pick(count);
            return made(new SRF_SwitchBSDF(list, index));
        }
        }
    }

    static constexpr int LANES = 4;
    static constexpr int DEPTH = 5;
    std::vector<SRF_BSDF *> myMade;
    std::vector<int> lobeIds;
    bool hasScale = false;
    bool hasSwitch = false;
    int sharedCount = 0; // subtrees used a second time elsewhere
    int twinCount = 0;   // Sums whose two operands are one object

private:
    SRF_BSDF *leaf()
    {
        switch (pick(5))
        {
        case 0:
            return new SRF_Isotropic();
        case 1:
            return new SRF_Emission();
        case 2:
            return new SRF_Specular(directions());
        case 3:
        {
            float *exponent = SRF_BSDF::allocFloat();
            for (int i = 0; i < LANES; ++i)
                exponent[i] = 1.0f + 50.0f * unit();
            return new SRF_Phong(directions(), exponent);
        }
        default:
        {
            TestLobe::Params p;
            p.albedo = unit();
            p.colour = BX_Vector3(unit(), unit(), unit());
            p.bounces = 1 << pick(4);
            p.ratio = unit();
            p.emitted = BX_Vector3(unit(), unit(), unit());
            TestLobe *t = new TestLobe(p);
            lobeIds.push_back(t->id());
            return t;
        }
        }
    }
    BX_Vector3 *directions()
    {
        BX_Vector3 *block = SRF_BSDF::allocVector();
        for (int i = 0; i < LANES; ++i)
            block[i] = BX_Vector3(unit() - 0.5f, unit() - 0.5f, unit() + 0.1f);
        return block;
    }
    SRF_BSDF *made(SRF_BSDF *b)
    {
        myMade.push_back(b);
        return b;
    }
    int pick(int n) { return int(myRandom() % unsigned(n)); }
    float unit() { return std::uniform_real_distribution<float>(0.0f, 1.0f)(myRandom); }

    std::mt19937 myRandom;
};
} // namespace

// Random trees (shared subtrees, the same object as both operands):
// building, querying, duplicating and destroying them destroys every object
// exactly once and gives every pool block back. A copy equals its source
// unless a Scale sits in the tree (Scales compare colour blocks by address).
TEST(Composites, RandomTreesReleaseEverythingOnce)
{
    int withScale = 0, withoutScale = 0, shared = 0, twins = 0;
    for (unsigned seed = 1; seed <= 300; ++seed)
    {
        const long objects = PoolCheck::liveObjects();
        const long blocks = PoolCheck::blocksOut();
        TreeMaker maker(seed);
        SRF_BSDF *root = maker.make(TreeMaker::DEPTH);
        shared += maker.sharedCount;
        twins += maker.twinCount;
        ASSERT_EQ(PoolCheck::liveObjects() - objects, long(maker.myMade.size())) << seed;

        Flat flat(root);
        EXPECT_EQ(flat.bsdfs[0], root);
        // Flatten lists a shared subtree once per path, as a query visits it
        // (a switch lists every entry, a query visits one).
        if (maker.hasSwitch)
            EXPECT_LE(SRF_CompositeBSDF::queryNodes(root), flat.bsdfs.entries()) << seed;
        else
            EXPECT_EQ(SRF_CompositeBSDF::queryNodes(root), flat.bsdfs.entries()) << seed;
        for (int lane = 0; lane < TreeMaker::LANES; ++lane)
        {
            BX_Vector3 v, colour;
            float scalar = 0.0f;
            int bounce = 0;
            root->sample(U, N, v, colour, scalar, bounce, 0.3f, 0.6f, lane);
            root->evaluate(U, N, v, colour, scalar, lane, SRF_BOUNCE_ALL);
            EXPECT_TRUE(std::isfinite(scalar)) << seed;
            root->emission(colour, lane);
        }

        SRF_BSDF *copy = root->duplicate(TreeMaker::LANES);
        ASSERT_NE(copy, nullptr) << seed;
        EXPECT_EQ(Flat(copy).bsdfs.entries(), flat.bsdfs.entries()) << seed;
        EXPECT_EQ(copy->getBounces(), root->getBounces()) << seed;
        EXPECT_EQ(copy->isEqual(*root, 1e-6f), !maker.hasScale) << seed;
        (maker.hasScale ? withScale : withoutScale)++;
        copy->decRefCount();

        const long before = PoolCheck::liveObjects();
        root->decRefCount();
        EXPECT_EQ(before - PoolCheck::liveObjects(), long(maker.myMade.size())) << seed;
        EXPECT_EQ(PoolCheck::liveObjects(), objects) << seed;
        EXPECT_EQ(PoolCheck::blocksOut(), blocks) << seed;
        for (int id : maker.lobeIds)
            EXPECT_EQ(TestLobe::theDestroyed[id], 1) << seed << " lobe " << id;
    }
    // Both kinds of tree, shared subtrees and twin operands were exercised.
    EXPECT_GT(withScale, 20);
    EXPECT_GT(withoutScale, 20);
    EXPECT_GT(shared, 100);
    EXPECT_GT(twins, 100);
}

// Sum sampling over two tinted isotropic lobes draws operand i with
// probability a_i / A, and its reweighted estimate of E[c g(v)] matches the
// sum of the operands' own estimates. The rescaled sx drives the azimuth of
// the drawn lobe, so passing sx through unscaled would bias g.
TEST(SumBSDF, SamplingStatistics)
{
    const BX_Vector3 red(0.5f, 0.0f, 0.0f), green(0.0f, 1.0f, 0.0f);
    SRF_ScaleBSDF *first = new SRF_ScaleBSDF(new SRF_Isotropic(), vectors({red}));
    SRF_ScaleBSDF *second = new SRF_ScaleBSDF(new SRF_Isotropic(), vectors({green}));
    first->addRefCount();
    second->addRefCount();
    auto hold1 = hold(first), hold2 = hold(second);
    auto sum = hold(new SRF_SumBSDF(first, second));
    const float a1 = first->albedo(U, N, 0), a2 = second->albedo(U, N, 0);
    const double p1 = double(a1) / (double(a1) + double(a2));

    // g(v) = 1 + v.x + 2 v.y + 3 v.z^2: 2 on average over the sphere.
    auto g = [](const BX_Vector3 &v) { return 1.0 + v.x + 2.0 * v.y + 3.0 * double(v.z) * v.z; };
    struct Mean
    {
        double sum[3] = {0, 0, 0}, sum2[3] = {0, 0, 0};
        void add(const BX_Vector3 &c, double w)
        {
            const double x[3] = {c.x * w, c.y * w, c.z * w};
            for (int k = 0; k < 3; ++k)
            {
                sum[k] += x[k];
                sum2[k] += x[k] * x[k];
            }
        }
        double mean(int k, int n) const { return sum[k] / n; }
        double var(int k, int n) const { return (sum2[k] / n - mean(k, n) * mean(k, n)) / n; }
    };

    const int SAMPLES = 200000;
    const double BOUND = 5.0; // standard deviations
    std::mt19937 random(12345);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    Mean sumMean, ownMean;
    int firstCount = 0;
    for (int i = 0; i < SAMPLES; ++i)
    {
        BX_Vector3 v, colour;
        float scalar = 0.0f;
        int bounce = 0;
        sum->sample(U, N, v, colour, scalar, bounce, unit(random), unit(random), 0);
        ASSERT_NEAR(scalar, a1 + a2, 1e-5f);
        if (colour.x > 0.0f)
            ++firstCount;
        sumMean.add(colour, g(v));
        // Each operand's own estimate, from its own sampler.
        for (const SRF_BSDF *op : {first, second})
        {
            op->sample(U, N, v, colour, scalar, bounce, unit(random), unit(random), 0);
            ownMean.add(colour, g(v));
        }
    }
    const double freq = double(firstCount) / SAMPLES;
    EXPECT_NEAR(freq, p1, BOUND * std::sqrt(p1 * (1.0 - p1) / SAMPLES));
    for (int k = 0; k < 3; ++k)
    {
        const double sigma = std::sqrt(sumMean.var(k, SAMPLES) + ownMean.var(k, SAMPLES));
        EXPECT_NEAR(sumMean.mean(k, SAMPLES), ownMean.mean(k, SAMPLES), BOUND * sigma + 1e-12) << "channel " << k;
    }
    // And both match the exact value: 2 (c1 + c2).
    EXPECT_NEAR(sumMean.mean(0, SAMPLES), 1.0, BOUND * std::sqrt(sumMean.var(0, SAMPLES)));
    EXPECT_NEAR(sumMean.mean(1, SAMPLES), 2.0, BOUND * std::sqrt(sumMean.var(1, SAMPLES)));
}
