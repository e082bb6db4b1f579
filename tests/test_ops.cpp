// Tests of the shading-language ops: real programs run through the
// executor over lane arrays of several sizes, with lanes that are not
// running, uniform and varying arguments, and every op's outputs checked
// lane by lane; the registration table; the block builders' lane rules; the
// case tables of the arithmetic ops with their reference counts; the
// typical road from a lobe to a sampled direction and back to an empty pool.
#include "BX_PolarSample.h"
#include "KAL_Context.h"
#include "KAL_DataPool.h"
#include "KAL_Instance.h"
#include "KAL_OpCode.h"
#include "KAL_ProcArray.h"
#include "KAL_Program.h"
#include "KAL_Shader.h"
#include "KAL_ShaderLoader.h"
#include "SRF_ArithmeticOps.h"
#include "SRF_BSDF.h"
#include "SRF_Emission.h"
#include "SRF_Functions.h"
#include "SRF_OpFrame.h"
#include "SRF_QueryOps.h"
#include "SRF_ScaleBSDF.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace
{
const int LANE_COUNTS[] = {1, 7, 64, KAL_MAX_LANES};
const BX_Vector3 ZERO(0.0f, 0.0f, 0.0f);
// Written into every output before a run: lanes that are not running must
// still hold it afterwards.
const BX_Vector3 SENTINEL_V(7.0f, -7.0f, 7.0f);
const float SENTINEL_F = 77.0f;
const int SENTINEL_I = 777;

// Lanes 1, 4, 7, ... are not running; lane 0 too when asked.
KAL_ProcArray makeLanes(int count, bool lane0Stopped)
{
    KAL_ProcArray lanes(count);
    for (int i = 0; i < count; ++i)
        if (i % 3 == 1 || (lane0Stopped && i == 0))
            lanes.setState(i, 1);
    return lanes;
}

// Distinct per-lane values for argument k.
BX_Vector3 vectorValue(int lane, int k) { return BX_Vector3(0.5f + lane, k - 0.25f * lane, 1.0f + 0.125f * k); }
float floatValue(int lane, int k) { return 1.5f + lane + 0.5f * k; }

::testing::AssertionResult sameVector(const BX_Vector3 &got, const BX_Vector3 &want, float tolerance = 0.0f)
{
    if (std::fabs(got.x - want.x) <= tolerance && std::fabs(got.y - want.y) <= tolerance &&
        std::fabs(got.z - want.z) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << got.x << ", " << got.y << ", " << got.z << ") instead of (" << want.x
                                         << ", " << want.y << ", " << want.z << ")";
}

// A shader compiled against a context with the library's ops, and one
// instance of it.
class Program
{
public:
    Program(const KAL_Context &context, const std::string &text)
    {
        std::string error;
        shader = KAL_ShaderLoader::compileText(context, text, "test.kal", error);
        EXPECT_TRUE(shader) << error;
        if (shader)
            instance.reset(shader->createInstance());
    }
    bool ok() const { return instance != nullptr; }
    KAL_Instance &operator*() { return *instance; }
    KAL_Instance *operator->() { return instance.get(); }
    SRF_BSDF *bsdf(const char *name) { return static_cast<SRF_BSDF *>(instance->getRef(name)); }

    BX_Vector3 vec(const char *name, int lane)
    {
        BX_Vector3 v(NAN, NAN, NAN);
        EXPECT_TRUE(instance->getVector(name, lane, v)) << name;
        return v;
    }
    float flt(const char *name, int lane)
    {
        float f = NAN;
        EXPECT_TRUE(instance->getFloat(name, lane, f)) << name;
        return f;
    }
    int integer(const char *name, int lane)
    {
        int i = -1;
        EXPECT_TRUE(instance->getInt(name, lane, i)) << name;
        return i;
    }

    std::unique_ptr<KAL_Shader> shader;
    std::unique_ptr<KAL_Instance> instance;
};

class Ops : public ::testing::Test
{
protected:
    void SetUp() override { SRF_Functions::installFunctions(context); }
    KAL_Context context;
};

using TestUtil::Flat;

// ---------------------------------------------------------------------------
// Registration.

struct Row
{
    const char *signature;
    int argCount, opFlag, foldType;
};
const Row TABLE[] = {
    {"add@BB", 2, 1, 4},
    {"mul@BF", 2, 1, 8},
    {"mul@BV", 2, 1, 8},
    {"mul@BB", 2, 1, 8},
    {"lafortune@BVVF", 4, 0, 16},
    {"ashikhmin@BVFFVV", 6, 0, 16},
    {"blinn@BVF", 3, 0, 16},
    {"specular@BV", 2, 0, 16},
    {"phonglobe@BVF", 3, 0, 16},
    {"cone@BVF", 3, 0, 16},
    {"wirediffuse@BV", 2, 0, 16},
    {"wireblinn@BVF", 3, 0, 16},
    {"measured@BSVVV", -6, 0x2000000, 16},
    {"isotropic@B", 1, 0, 16},
    {"set@BF", 2, 0, 16},
    {"set@BV", 2, 0, 16},
    {"albedo@VBVVI", 5, 0, 1},
    {"eval_bsdf@VBVVVI", 6, 0, 1},
    {"sample_bsdf@BVVVVIFFI", 9, 0, 1},
    {"emission_bsdf@VB", 2, 0, 1},
    {"specularratio_bsdf@FBI", 3, 0, 1},
    {"getbounces@IB", 2, 0, 1},
    {"nbouncetypes@I", 1, 0, 1},
};
const int TABLE_ROWS = sizeof(TABLE) / sizeof(TABLE[0]);

TEST_F(Ops, InstallListsTheOpsInTableOrderThenTheRewrites)
{
    ASSERT_EQ(SRF_Functions::opCount(), TABLE_ROWS);
    const int first = context.getBuiltinCount();
    ASSERT_GE(context.getOpCount(), first + TABLE_ROWS);
    for (int i = 0; i < TABLE_ROWS; ++i)
    {
        const KAL_OpCode *op = context.getOp(first + i);
        ASSERT_TRUE(op);
        SCOPED_TRACE(TABLE[i].signature);
        EXPECT_STREQ(op->getSignature(), TABLE[i].signature);
        EXPECT_TRUE(op->isValid());
        EXPECT_FALSE(op->isReWrite());
        EXPECT_TRUE(op->getEvaluate());
        EXPECT_EQ(op->getArgCount(), TABLE[i].argCount);
        EXPECT_EQ(op->getOpFlag(), TABLE[i].opFlag);
        EXPECT_EQ(op->getFoldType(), TABLE[i].foldType);
        EXPECT_EQ(context.findOp(TABLE[i].signature), op);
        const bool sample = std::strcmp(TABLE[i].signature, "sample_bsdf@BVVVVIFFI") == 0;
        EXPECT_EQ(op->getWrittenArgsFunc() != nullptr, sample);
        const std::vector<int> want = sample ? std::vector<int>{3, 4, 5, -65536} : std::vector<int>{0, -65536};
        for (size_t k = 0; k < want.size(); ++k)
            EXPECT_EQ(op->getWrittenArgs()[k], want[k]) << k;
    }
    // Everything after the native ops is a rewrite.
    int rewrites = 0;
    for (int i = first + TABLE_ROWS; i < context.getOpCount(); ++i)
    {
        EXPECT_TRUE(context.getOp(i)->isReWrite()) << context.getOp(i)->getSignature();
        ++rewrites;
    }
    EXPECT_EQ(rewrites, 19);

    KAL_Context photons;
    SRF_Functions::installFunctions(photons);
    const int before = photons.getOpCount();
    SRF_Functions::installPhotonFunctions(photons);
    EXPECT_EQ(photons.getOpCount(), before + 4);
}

// Every handler returns the instruction index + 1, with no lane running and
// with no lane at all.
TEST_F(Ops, EveryHandlerReturnsTheNextInstruction)
{
    Program p(context, "bsdf b\nvector v\nfloat f\nint i\n"
                       "isotropic@B b\n"
                       "add@BB F b\nmul@BF F 0.5\nmul@BV F (1, 1, 1)\nmul@BB F b\n"
                       "lafortune@BVVF b N v f\nashikhmin@BVFFVV b N f f dPds dPdt\nblinn@BVF b N f\n"
                       "specular@BV b N\nphonglobe@BVF b N f\ncone@BVF b N f\nwirediffuse@BV b dPds\n"
                       "wireblinn@BVF b dPds f\nmeasured@BSVVV b \"no-such-file.txt\" N dPds dPdt\n"
                       "isotropic@B b\nset@BF b f\nset@BV b v\n"
                       "albedo@VBVVI v b N N i\neval_bsdf@VBVVVI v b N N N i\n"
                       "sample_bsdf@BVVVVIFFI b N N v v i f f i\nemission_bsdf@VB v b\n"
                       "specularratio_bsdf@FBI f b i\ngetbounces@IB i b\nnbouncetypes@I i\n");
    ASSERT_TRUE(p.ok());
    const KAL_Program &program = p->getProgram();
    ASSERT_EQ(program.getInstructionCount(), 24);
    std::vector<bool> seen(TABLE_ROWS, false);
    for (int count : {0, 5})
    {
        KAL_ProcArray lanes(count);
        for (int lane = 0; lane < count; ++lane)
            lanes.setState(lane, 2);
        for (int i = 0; i < program.getInstructionCount(); ++i)
        {
            EXPECT_EQ(p->runInstruction(i, lanes), i + 1) << program.getSignature(i);
            for (int r = 0; r < TABLE_ROWS; ++r)
                if (program.getSignature(i) == TABLE[r].signature)
                    seen[r] = true;
        }
    }
    for (int r = 0; r < TABLE_ROWS; ++r)
        EXPECT_TRUE(seen[r]) << TABLE[r].signature;
}

// ---------------------------------------------------------------------------
// Near-zero tests.

TEST(OpFrame, NearZeroBoundsAndNaN)
{
    const float eps = 1e-5f;
    const float above = std::nextafter(eps, 1.0f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float one[] = {eps};
    const float minus[] = {-eps};
    const float justAbove[] = {above};
    const float justBelow[] = {-above};
    const float withNaN[] = {0.0f, nan};
    const float mixed[] = {0.0f, 1e-6f, -1e-6f, 2e-5f};
    EXPECT_TRUE(SRF_OpFrame::floatsNearZero(one, 1));
    EXPECT_TRUE(SRF_OpFrame::floatsNearZero(minus, 1));
    EXPECT_FALSE(SRF_OpFrame::floatsNearZero(justAbove, 1));
    EXPECT_FALSE(SRF_OpFrame::floatsNearZero(justBelow, 1));
    EXPECT_FALSE(SRF_OpFrame::floatsNearZero(withNaN, 2));
    EXPECT_TRUE(SRF_OpFrame::floatsNearZero(withNaN, 1));
    EXPECT_TRUE(SRF_OpFrame::floatsNearZero(mixed, 3));
    EXPECT_FALSE(SRF_OpFrame::floatsNearZero(mixed, 4));
    EXPECT_TRUE(SRF_OpFrame::floatsNearZero(justAbove, 0));
    EXPECT_TRUE(SRF_OpFrame::floatsNearZero(justAbove, -3));

    const BX_Vector3 vectors[] = {BX_Vector3(eps, -eps, 0.0f), BX_Vector3(0.0f, 0.0f, 2e-5f),
                                  BX_Vector3(0.0f, nan, 0.0f)};
    EXPECT_TRUE(SRF_OpFrame::vectorsNearZero(vectors, 1));
    EXPECT_FALSE(SRF_OpFrame::vectorsNearZero(vectors, 2));
    EXPECT_FALSE(SRF_OpFrame::vectorsNearZero(vectors + 2, 1));
    EXPECT_TRUE(SRF_OpFrame::vectorsNearZero(vectors + 1, 0));
}

// ---------------------------------------------------------------------------
// Constructor ops: the class, the bounce set and every block, lane by lane.

struct Constructor
{
    const char *signature;
    const char *className;
    int bounces; // 0: the Lafortune rule on the exponent of lane 0
    // Op arguments behind each vector block and each float block, in the
    // order flatten lists them.
    std::vector<int> vectorArgs;
    std::vector<int> floatArgs;
    bool emitter; // a scale over an emission lobe; its one vector block is
                  // made from argument 1 (grey when that is a float)
};

const Constructor CONSTRUCTORS[] = {
    {"isotropic@B", "SRF_Isotropic", 1, {}, {}, false},
    {"specular@BV", "SRF_Specular", 4, {1}, {}, false},
    {"phonglobe@BVF", "SRF_Phong", 2, {1}, {2}, false},
    {"blinn@BVF", "SRF_Blinn", 2, {1}, {2}, false},
    {"cone@BVF", "SRF_Cone", 2, {1}, {2}, false},
    {"wirediffuse@BV", "SRF_WireDiffuse", 1, {1}, {}, false},
    {"wireblinn@BVF", "SRF_WireBlinn", 2, {1}, {2}, false},
    {"lafortune@BVVF", "SRF_Lafortune", 0, {1, 2}, {3}, false},
    {"ashikhmin@BVFFVV", "SRF_Ashikhmin", 2, {1, 4, 5}, {2, 3}, false},
    {"set@BF", "SRF_ScaleBSDF", 8, {1}, {}, true},
    {"set@BV", "SRF_ScaleBSDF", 8, {1}, {}, true},
};

// The shader text "decl a1; decl a2; ...; SIG F a1 a2 ...".
std::string constructorText(const char *signature, bool varying)
{
    const std::string letters = std::strchr(signature, '@') + 2;
    std::string text, call = std::string(signature) + " F";
    for (size_t i = 0; i < letters.size(); ++i)
    {
        const std::string name = "a" + std::to_string(i + 1);
        text += std::string(varying ? "varying " : "") + (letters[i] == 'V' ? "vector " : "float ") + name + "\n";
        call += " " + name;
    }
    return text + call + "\n";
}

TEST_F(Ops, ConstructorsBuildTheirClassOnPerLaneBlocks)
{
    for (const Constructor &c : CONSTRUCTORS)
        for (int count : LANE_COUNTS)
            for (int variant = 0; variant < 3; ++variant)
            {
                // 0: varying arguments; 1: uniform, lane 0 running;
                // 2: uniform, lane 0 not running.
                const bool varying = variant == 0;
                const bool lane0Stopped = variant == 2 || (varying && count > 1);
                SCOPED_TRACE(std::string(c.signature) + " lanes " + std::to_string(count) + " variant " +
                             std::to_string(variant));
                Program p(context, constructorText(c.signature, varying));
                ASSERT_TRUE(p.ok());
                const std::string letters = std::strchr(c.signature, '@') + 1;
                for (size_t k = 1; k < letters.size(); ++k)
                {
                    const std::string name = "a" + std::to_string(k);
                    for (int lane = 0; lane < (varying ? KAL_MAX_LANES : 1); ++lane)
                    {
                        if (letters[k] == 'V')
                            p->setVector(name.c_str(), lane, vectorValue(lane, int(k)));
                        else
                            p->setFloat(name.c_str(), lane, floatValue(lane, int(k)));
                    }
                }
                KAL_ProcArray lanes = makeLanes(count, lane0Stopped);
                ASSERT_EQ(p->run(lanes), 1);

                SRF_BSDF *bsdf = p.bsdf("F");
                ASSERT_TRUE(bsdf);
                EXPECT_EQ(bsdf->getRefCount(), 1);
                EXPECT_STREQ(bsdf->className(), c.className);
                Flat flat(bsdf);
                ASSERT_EQ(flat.vectors.myCount, int(c.vectorArgs.size()));
                ASSERT_EQ(flat.floats.myCount, int(c.floatArgs.size()));
                if (c.emitter)
                {
                    ASSERT_EQ(flat.bsdfs.myCount, 2);
                    EXPECT_STREQ(flat.bsdfs[1] ? flat.bsdfs[1]->className() : "", "SRF_Emission");
                }
                for (int lane = 0; lane < count; ++lane)
                {
                    const bool running = lanes.isRunning(lane);
                    // Which lane's value a block holds: its own (varying),
                    // the one value (uniform); zero for a varying argument
                    // in a lane that is not running.
                    const int source = varying ? lane : 0;
                    const bool zeroVector = varying && !running;
                    const bool zeroFloat = varying ? !running : lane0Stopped;
                    for (size_t b = 0; b < c.vectorArgs.size(); ++b)
                    {
                        const int k = c.vectorArgs[b];
                        BX_Vector3 want = vectorValue(source, k);
                        if (letters[k] == 'F') // a grey colour
                            want = BX_Vector3(floatValue(source, k), floatValue(source, k), floatValue(source, k));
                        if (zeroVector)
                            want = ZERO;
                        EXPECT_TRUE(sameVector(flat.vectors[b][lane], want)) << "lane " << lane;
                    }
                    for (size_t b = 0; b < c.floatArgs.size(); ++b)
                        EXPECT_EQ(flat.floats[b][lane], zeroFloat ? 0.0f : floatValue(source, c.floatArgs[b]))
                            << "lane " << lane;
                }
                const int bounces = c.bounces ? c.bounces : (flat.floats.myCount && flat.floats[0][0] > 0.0f ? 2 : 1);
                EXPECT_EQ(bsdf->getBounces(), bounces);
            }
}

// The old value loses its reference; the Lafortune bounce set follows the
// exponent of lane 0; "set@BF" 0.5 emits (0.5, 0.5, 0.5) in running lanes.
TEST_F(Ops, ConstructorsReplaceTheirArgumentAndFollowLaneZero)
{
    Program p(context, "varying float e\n"
                       "lafortune@BVVF F N (1, 1, 1) e\n");
    ASSERT_TRUE(p.ok());
    SRF_BSDF *held = new SRF_Emission();
    p->setRef("F", held); // two references: ours and the variable's
    EXPECT_EQ(held->getRefCount(), 2);
    p->setFloat("e", 0, 0.0f);
    p->setFloat("e", 1, 5.0f);
    KAL_ProcArray lanes(2);
    p->run(lanes);
    EXPECT_EQ(held->getRefCount(), 1);
    held->decRefCount();
    ASSERT_TRUE(p.bsdf("F"));
    EXPECT_EQ(p.bsdf("F")->getBounces(), 1);

    // A uniform exponent of 5 with lane 0 not running gives a zero block,
    // hence a diffuse lobe.
    Program q(context, "float e = 5\nlafortune@BVVF F N (1, 1, 1) e\n");
    ASSERT_TRUE(q.ok());
    KAL_ProcArray stopped = makeLanes(4, true);
    q->run(stopped);
    ASSERT_TRUE(q.bsdf("F"));
    EXPECT_EQ(q.bsdf("F")->getBounces(), 1);
    KAL_ProcArray all(4);
    q->run(all);
    EXPECT_EQ(q.bsdf("F")->getBounces(), 2);

    Program s(context, "vector c = (9, 9, 9)\nset@BF F 0.5\nemission_bsdf@VB c F\n");
    ASSERT_TRUE(s.ok());
    for (int count : LANE_COUNTS)
    {
        s->reset();
        s->fillVector("c", SENTINEL_V);
        KAL_ProcArray some = makeLanes(count, false);
        s->run(some);
        EXPECT_TRUE(sameVector(s.vec("c", 0), BX_Vector3(0.5f, 0.5f, 0.5f)));
    }
    Program sv(context, "varying vector c\nset@BF F 0.5\nemission_bsdf@VB c F\n");
    ASSERT_TRUE(sv.ok());
    sv->fillVector("c", SENTINEL_V);
    KAL_ProcArray some = makeLanes(64, false);
    sv->run(some);
    for (int lane = 0; lane < 64; ++lane)
        EXPECT_TRUE(sameVector(sv.vec("c", lane), some.isRunning(lane) ? BX_Vector3(0.5f, 0.5f, 0.5f) : SENTINEL_V))
            << lane;
}

// NaN arguments pass into the blocks unchanged and the queries survive them.
TEST_F(Ops, NaNArgumentsPassThrough)
{
    Program p(context, "float e\nvarying vector r\nvarying float s\nvarying int i\n"
                       "phonglobe@BVF F N e\nmul@BF F e\n"
                       "sample_bsdf@BVVVVIFFI F N N r r i e e 7\nalbedo@VBVVI r F N N 7\n"
                       "specularratio_bsdf@FBI s F 7\n");
    ASSERT_TRUE(p.ok());
    p->setFloat("e", 0, std::numeric_limits<float>::quiet_NaN());
    p->fillVector("N", BX_Vector3(0.0f, 0.0f, 1.0f));
    KAL_ProcArray lanes(7);
    EXPECT_EQ(p->run(lanes), 5);
    Flat flat(p.bsdf("F"));
    // mul@BF with a NaN factor is not near zero: a scale is built.
    ASSERT_EQ(flat.bsdfs.myCount, 2);
    EXPECT_STREQ(flat.bsdfs[0] ? flat.bsdfs[0]->className() : "", "SRF_ScaleBSDF");
    ASSERT_EQ(flat.floats.myCount, 1);
    EXPECT_TRUE(std::isnan(flat.floats[0][3]));
    EXPECT_TRUE(std::isnan(flat.vectors[0][3].y));
}

// ---------------------------------------------------------------------------
// Query ops.

const char *QUERY_TEXT = "varying vector u\nvarying vector n\nvarying vector v\nvarying vector tint\n"
                         "varying float sx\nvarying float sy\nvarying int mask\n"
                         "varying vector alb\nvarying vector ev\nvarying vector dir\nvarying vector col\n"
                         "varying int bt\nvarying vector em\nvarying float sr\nvarying int gb\nvarying int nb\n"
                         "BUILD\n"
                         "albedo@VBVVI alb F u n mask\n"
                         "eval_bsdf@VBVVVI ev F u n v mask\n"
                         "sample_bsdf@BVVVVIFFI F u n dir col bt sx sy mask\n"
                         "emission_bsdf@VB em F\n"
                         "specularratio_bsdf@FBI sr F mask\n"
                         "getbounces@IB gb F\n"
                         "nbouncetypes@I nb\n";

std::string queryText(const std::string &build)
{
    std::string text = QUERY_TEXT;
    text.replace(text.find("BUILD"), 5, build);
    return text;
}

const char *const VECTOR_OUTPUTS[] = {"alb", "ev", "dir", "col", "em"};
const char *const INT_OUTPUTS[] = {"bt", "gb", "nb"};

// Inputs per lane: directions about z, a tint, random numbers partly
// outside [0, 1], and masks that cycle through foreign and admitting ones.
void fillQueryInputs(Program &p)
{
    const int masks[] = {15, 7, 1, 2, 8, 0, 3};
    const float randoms[] = {-0.5f, 0.0f, 0.25f, 0.5f, 0.999f, 1.0f, 1.5f};
    for (int lane = 0; lane < KAL_MAX_LANES; ++lane)
    {
        BX_Vector3 u(0.3f, -0.2f + 0.001f * lane, 0.9f);
        u.normalize();
        BX_Vector3 v(-0.4f, 0.1f, 0.8f - 0.002f * lane);
        v.normalize();
        p->setVector("u", lane, u);
        p->setVector("n", lane, BX_Vector3(0.0f, 0.0f, 1.0f));
        p->setVector("v", lane, v);
        p->setVector("tint", lane, BX_Vector3(0.25f + 0.001f * lane, 0.5f, 1.0f - 0.002f * lane));
        p->setFloat("sx", lane, randoms[lane % 7]);
        p->setFloat("sy", lane, randoms[(lane * 3 + 1) % 7]);
        p->setInt("mask", lane, masks[lane % 7]);
        for (const char *name : VECTOR_OUTPUTS)
            p->setVector(name, lane, SENTINEL_V);
        for (const char *name : INT_OUTPUTS)
            p->setInt(name, lane, SENTINEL_I);
        p->setFloat("sr", lane, SENTINEL_F);
    }
}

float clampUnit(float s) { return s <= 0.0f ? 0.0f : (s >= 1.0f ? 1.0f : s); }

// Checks every query output of every lane against the BSDF's own masked
// operations called with that lane's inputs and index (zeros for a null
// BSDF), and the sentinels in lanes that are not running.
void checkQueries(Program &p, const KAL_ProcArray &lanes)
{
    const SRF_BSDF *bsdf = p.bsdf("F");
    for (int lane = 0; lane < lanes.getCount(); ++lane)
    {
        SCOPED_TRACE("lane " + std::to_string(lane));
        if (!lanes.isRunning(lane))
        {
            for (const char *name : VECTOR_OUTPUTS)
                EXPECT_TRUE(sameVector(p.vec(name, lane), SENTINEL_V)) << name;
            for (const char *name : INT_OUTPUTS)
                EXPECT_EQ(p.integer(name, lane), SENTINEL_I) << name;
            EXPECT_EQ(p.flt("sr", lane), SENTINEL_F);
            continue;
        }
        const BX_Vector3 u = p.vec("u", lane), n = p.vec("n", lane), v = p.vec("v", lane);
        const int mask = p.integer("mask", lane);
        float a = 0.0f, ratio = 0.0f, scalar = 0.0f;
        int bounces = 0, bounce = 0;
        BX_Vector3 ev = ZERO, dir = ZERO, col = ZERO, em = ZERO;
        if (bsdf)
        {
            a = bsdf->albedo(u, n, lane, mask);
            bsdf->evaluate(u, n, v, ev, scalar, lane, mask);
            bsdf->sample(u, n, dir, col, scalar, bounce, clampUnit(p.flt("sx", lane)), clampUnit(p.flt("sy", lane)),
                         lane, mask);
            bsdf->emission(em, lane);
            ratio = bsdf->specularRatio(lane, mask);
            bounces = bsdf->getBounces(lane);
        }
        EXPECT_TRUE(sameVector(p.vec("alb", lane), BX_Vector3(a, a, a)));
        EXPECT_TRUE(sameVector(p.vec("ev", lane), ev));
        EXPECT_TRUE(sameVector(p.vec("dir", lane), dir));
        EXPECT_TRUE(sameVector(p.vec("col", lane), col));
        EXPECT_EQ(p.integer("bt", lane), bounce);
        EXPECT_TRUE(sameVector(p.vec("em", lane), em));
        EXPECT_EQ(p.flt("sr", lane), ratio);
        EXPECT_EQ(p.integer("gb", lane), bounces);
        EXPECT_EQ(p.integer("nb", lane), 3);
    }
}

// Worked by hand for a diffuse lobe tinted per lane, then compared with the
// BSDF's own queries for a tree of every kind of node.
TEST_F(Ops, QueriesAnswerPerLaneWithTheLaneIndex)
{
    Program p(context, queryText("isotropic@B F\nmul@BV F tint"));
    ASSERT_TRUE(p.ok());
    for (int count : LANE_COUNTS)
    {
        SCOPED_TRACE("lanes " + std::to_string(count));
        p->reset();
        fillQueryInputs(p);
        KAL_ProcArray lanes = makeLanes(count, count > 1);
        p->run(lanes);
        checkQueries(p, lanes);
        // By hand: colour = tint of the lane, albedo its luminance, the
        // sampled direction from the clamped numbers about u.
        for (int lane = 0; lane < count; ++lane)
        {
            if (!lanes.isRunning(lane))
                continue;
            const BX_Vector3 tint = p.vec("tint", lane);
            const bool diffuse = p.integer("mask", lane) & 1;
            const float lum = 0.299f * tint.x + 0.587f * tint.y + 0.114f * tint.z;
            EXPECT_NEAR(p.vec("alb", lane).y, diffuse ? lum : 0.0f, 1e-6f);
            EXPECT_TRUE(sameVector(p.vec("ev", lane), diffuse ? tint : ZERO));
            EXPECT_TRUE(sameVector(p.vec("col", lane), diffuse ? tint : ZERO));
            EXPECT_EQ(p.integer("bt", lane), diffuse ? 1 : 0);
            BX_Vector3 want = ZERO;
            if (diffuse)
                BX_PolarSample(p.vec("u", lane))
                    .compute(want, clampUnit(p.flt("sx", lane)), clampUnit(p.flt("sy", lane)));
            EXPECT_TRUE(sameVector(p.vec("dir", lane), want, 1e-6f));
            EXPECT_TRUE(sameVector(p.vec("em", lane), ZERO));
            EXPECT_EQ(p.integer("gb", lane), 1);
        }
    }

    Program tree(context, queryText("float e = 20\nbsdf coat\nbsdf glow\nbsdf mirror\n"
                                    "isotropic@B F\nmul@BV F tint\nphonglobe@BVF coat n e\nadd@BB F coat\n"
                                    "set@BV glow tint\nadd@BB F glow\nspecular@BV mirror n\nmul@BF mirror 0.5\n"
                                    "add@BB F mirror"));
    ASSERT_TRUE(tree.ok());
    for (int count : LANE_COUNTS)
    {
        SCOPED_TRACE("tree, lanes " + std::to_string(count));
        tree->reset();
        fillQueryInputs(tree);
        KAL_ProcArray lanes = makeLanes(count, false);
        tree->run(lanes);
        checkQueries(tree, lanes);
    }
}

TEST_F(Ops, QueriesOfANullBsdfAnswerZeros)
{
    Program p(context, queryText("isotropic@B F\nmul@BF F 0"));
    ASSERT_TRUE(p.ok());
    for (int count : LANE_COUNTS)
    {
        p->reset();
        fillQueryInputs(p);
        KAL_ProcArray lanes = makeLanes(count, false);
        p->run(lanes);
        ASSERT_FALSE(p.bsdf("F"));
        checkQueries(p, lanes); // every output zero: nothing is queried
    }
}

// The random numbers reach the BSDF clamped: a diffuse lobe about u = z
// gives v = -u for sy <= 0 and v = u for sy >= 1; a foreign mask leaves the
// presets; "emission_bsdf@VB" of a plain emitter is white.
TEST_F(Ops, SampleClampsItsRandomNumbersAndKeepsPresetsForForeignMasks)
{
    Program p(context, "varying float sy\nvarying int mask\nvarying vector d\nvarying vector c\nvarying int b\n"
                       "vector e\nbsdf glow\n"
                       "isotropic@B F\nsample_bsdf@BVVVVIFFI F (0, 0, 1) (0, 0, 1) d c b 0.25 sy mask\n"
                       "set@BV glow (1, 1, 1)\nemission_bsdf@VB e glow\n");
    ASSERT_TRUE(p.ok());
    const float sys[] = {-0.5f, 0.0f, 1.0f, 1.5f, 0.5f, 0.5f};
    const int masks[] = {1, 7, 15, 1, 8, 0};
    for (int lane = 0; lane < 6; ++lane)
    {
        p->setFloat("sy", lane, sys[lane]);
        p->setInt("mask", lane, masks[lane]);
        p->setVector("d", lane, SENTINEL_V);
        p->setVector("c", lane, SENTINEL_V);
        p->setInt("b", lane, SENTINEL_I);
    }
    KAL_ProcArray lanes(6);
    p->run(lanes);
    const BX_Vector3 one(1.0f, 1.0f, 1.0f);
    for (int lane = 0; lane < 6; ++lane)
    {
        const bool admitted = lane < 4;
        const BX_Vector3 d = !admitted ? ZERO : BX_Vector3(0.0f, 0.0f, lane < 2 ? -1.0f : 1.0f);
        EXPECT_TRUE(sameVector(p.vec("d", lane), d, admitted ? 1e-6f : 0.0f)) << lane;
        EXPECT_TRUE(sameVector(p.vec("c", lane), admitted ? one : ZERO)) << lane;
        EXPECT_EQ(p.integer("b", lane), admitted ? 1 : 0) << lane;
    }
    EXPECT_TRUE(sameVector(p.vec("e", 0), one));
}

// ---------------------------------------------------------------------------
// Arithmetic ops.

class Arithmetic : public Ops
{
protected:
    // Two BSDF variables a and b; `build` makes them, `op` combines them.
    std::unique_ptr<Program> make(const std::string &build, const std::string &op)
    {
        auto p = std::make_unique<Program>(context, "bsdf a\nbsdf b\n" + build + "\n" + op + "\n");
        EXPECT_TRUE(p->ok());
        return p;
    }
    // Runs the instructions that build the operands (all but the last).
    static void runBuild(Program &p, KAL_ProcArray &lanes)
    {
        const int last = p->getProgram().getInstructionCount() - 1;
        for (int i = 0; i < last; ++i)
            EXPECT_EQ(p->runInstruction(i, lanes), i + 1);
    }
    // Runs the op under test (the last instruction).
    static void runOp(Program &p, KAL_ProcArray &lanes)
    {
        const int last = p->getProgram().getInstructionCount() - 1;
        EXPECT_EQ(p->runInstruction(last, lanes), last + 1);
    }
    static void runAll(Program &p, KAL_ProcArray &lanes)
    {
        runBuild(p, lanes);
        runOp(p, lanes);
    }
    static const char *nameOf(SRF_BSDF *bsdf) { return bsdf ? bsdf->className() : "null"; }
};

// The case tables of "add@BB" and "mul@BB" over a and b, each null or a
// lobe, and a variable with itself. `result` names the class of the new
// value of a, or says that a keeps its value ("a"), takes b's ("b") or
// becomes null; the reference counts are those of the old a and b
// afterwards; `operands` lists the composite's operands in flatten order.
struct ArithmeticCase
{
    const char *build, *op, *result;
    int aRefs, bRefs;
    const char *operands;
    int bounces;
};
const ArithmeticCase ARITHMETIC[] = {
    {"isotropic@B a\nspecular@BV b N", "add@BB a b", "SRF_SumBSDF", 1, 2, "ab", 1 | 4},
    {"isotropic@B a", "add@BB a b", "a", 1, 0, "", 0},
    {"isotropic@B b", "add@BB a b", "b", 0, 2, "", 0}, // both variables share b
    {"", "add@BB a b", "null", 0, 0, "", 0},
    {"isotropic@B a", "add@BB a a", "SRF_SumBSDF", 2, 0, "aa", 1},
    // The mirror (ratio 1) goes first, so the product is specular.
    {"isotropic@B a\nspecular@BV b N", "mul@BB a b", "SRF_MulBSDF", 1, 2, "ba", 4},
    {"isotropic@B a", "mul@BB a b", "null", 0, 0, "", 0}, // a is released
    {"isotropic@B b", "mul@BB a b", "null", 0, 1, "", 0},
    {"", "mul@BB a b", "null", 0, 0, "", 0},
    {"isotropic@B a", "mul@BB a a", "SRF_MulBSDF", 2, 0, "aa", 1},
};

TEST_F(Arithmetic, AddAndMulBBFollowTheirCaseTables)
{
    for (const ArithmeticCase &c : ARITHMETIC)
    {
        SCOPED_TRACE(std::string(c.build) + " / " + c.op);
        auto p = make(c.build, c.op);
        KAL_ProcArray lanes(7);
        runBuild(*p, lanes);
        SRF_BSDF *a = p->bsdf("a"), *b = p->bsdf("b");
        // The test's own references keep the old values countable.
        for (SRF_BSDF *x : {a, b})
            if (x)
                x->addRefCount();
        runOp(*p, lanes);
        SRF_BSDF *result = p->bsdf("a");
        const std::string want = c.result;
        if (want == "a" || want == "b" || want == "null")
            EXPECT_EQ(result, want == "a" ? a : want == "b" ? b : nullptr);
        else
        {
            EXPECT_STREQ(nameOf(result), c.result);
            EXPECT_EQ(result->getBounces(), c.bounces);
            Flat flat(result);
            ASSERT_EQ(flat.bsdfs.myCount, 3);
            for (int k = 0; k < 2; ++k)
                EXPECT_EQ(flat.bsdfs[1 + k], c.operands[k] == 'a' ? a : b) << k;
        }
        EXPECT_EQ(p->bsdf("b"), b);
        if (a)
        {
            EXPECT_EQ(a->getRefCount() - 1, c.aRefs);
            a->decRefCount();
        }
        if (b)
        {
            EXPECT_EQ(b->getRefCount() - 1, c.bRefs);
            b->decRefCount();
        }
    }
}

// mul@BF and mul@BV: near-zero factors (tested over every lane's stored
// value, running or not) make null; anything else builds a scale.
TEST_F(Arithmetic, MulByFactorFollowsItsCaseTable)
{
    struct Case
    {
        const char *op;
        bool null;
    };
    const Case cases[] = {
        {"mul@BF a 0", true},
        {"mul@BF a 0.000001", true},
        {"mul@BF a 0.00001", true},
        {"mul@BF a -0.00001", true},
        {"mul@BF a 0.0000100001", false},
        {"mul@BF a 0.0001", false},
        {"mul@BF a 1", false},
        {"mul@BV a (0, 0, 0)", true},
        {"mul@BV a (0.00001, -0.00001, 0.000001)", true},
        {"mul@BV a (0, 0, 0.00002)", false},
        {"mul@BV a (1, 1, 1)", false},
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(c.op);
        auto p = make("isotropic@B a", c.op);
        KAL_ProcArray lanes(7);
        runBuild(*p, lanes);
        SRF_BSDF *a = p->bsdf("a");
        a->addRefCount();
        runOp(*p, lanes);
        if (c.null)
        {
            EXPECT_FALSE(p->bsdf("a"));
            EXPECT_EQ(a->getRefCount(), 1);
        }
        else
        {
            EXPECT_STREQ(nameOf(p->bsdf("a")), "SRF_ScaleBSDF");
            EXPECT_EQ(a->getRefCount(), 2);
            Flat flat(p->bsdf("a"));
            ASSERT_EQ(flat.bsdfs.myCount, 2);
            EXPECT_EQ(flat.bsdfs[1], a);
        }
        a->decRefCount();
        // A null a stays null.
        auto q = make("", c.op);
        runAll(*q, lanes);
        EXPECT_FALSE(q->bsdf("a"));
    }

    // A varying factor that is zero in every running lane but not in a lane
    // that is not running builds a scale whose running lanes are zero.
    for (int count : LANE_COUNTS)
    {
        for (const char *op : {"mul@BF a f", "mul@BV a c"})
        {
            SCOPED_TRACE(std::string(op) + " lanes " + std::to_string(count));
            auto p = std::make_unique<Program>(context, "bsdf a\nvarying float f\nvarying vector c\n"
                                                        "isotropic@B a\n" +
                                                            std::string(op) + "\n");
            ASSERT_TRUE(p->ok());
            KAL_ProcArray lanes = makeLanes(count, false);
            const bool anyStopped = lanes.runningCount() < count;
            for (int lane = 0; lane < count; ++lane)
            {
                const float value = lanes.isRunning(lane) ? 0.0f : 3.0f;
                (*p)->setFloat("f", lane, value);
                (*p)->setVector("c", lane, BX_Vector3(0.0f, value, 0.0f));
            }
            // Values beyond the lane count are not looked at.
            for (int lane = count; lane < KAL_MAX_LANES; ++lane)
            {
                (*p)->setFloat("f", lane, 5.0f);
                (*p)->setVector("c", lane, BX_Vector3(5.0f, 5.0f, 5.0f));
            }
            (*p)->run(lanes);
            if (!anyStopped)
            {
                EXPECT_FALSE(p->bsdf("a"));
                continue;
            }
            ASSERT_STREQ(nameOf(p->bsdf("a")), "SRF_ScaleBSDF");
            Flat flat(p->bsdf("a"));
            for (int lane = 0; lane < count; ++lane)
                EXPECT_TRUE(sameVector(flat.vectors[0][lane], ZERO)) << lane;
            // There the scale scatters nothing.
            BX_Vector3 colour(1.0f, 1.0f, 1.0f);
            float scalar = 1.0f;
            p->bsdf("a")->evaluate(BX_Vector3(0, 0, 1), BX_Vector3(0, 0, 1), BX_Vector3(0, 0, 1), colour, scalar, 0,
                                   15);
            EXPECT_TRUE(sameVector(colour, ZERO));
        }
    }
}

// ---------------------------------------------------------------------------
// The typical road: a Lafortune lobe through the rewrite of "phong@BF",
// tinted, sampled per lane, then overwritten: the lobe, the scale and all
// their blocks go back.

TEST_F(Ops, TypicalRoadReleasesEverything)
{
    const long blocksBefore = KAL_DataPool::getDataPool().blocksOut();
    const long objectsBefore = KAL_RefType::liveObjects();
    Program p(context, "vector tint = 0.8 0.2 0.1\nvarying float sx\nvarying float sy\n"
                       "varying vector dir\nvarying vector col\nvarying int bt\n"
                       "phong@BF F 40\nmul@BV F tint\n"
                       "sample_bsdf@BVVVVIFFI F N N dir col bt sx sy 7\n");
    ASSERT_TRUE(p.ok());
    p->fillVector("N", BX_Vector3(0.0f, 0.0f, 1.0f));
    for (int lane = 0; lane < KAL_MAX_LANES; ++lane)
    {
        p->setFloat("sx", lane, (lane + 0.5f) / KAL_MAX_LANES);
        p->setFloat("sy", lane, 0.5f + 0.4f * std::sin(float(lane)));
    }
    KAL_ProcArray lanes = makeLanes(KAL_MAX_LANES, false);
    p->run(lanes);
    Flat flat(p.bsdf("F"));
    ASSERT_EQ(flat.bsdfs.myCount, 2);
    EXPECT_STREQ(flat.bsdfs[0]->className(), "SRF_ScaleBSDF");
    EXPECT_STREQ(flat.bsdfs[1]->className(), "SRF_Lafortune");
    // Lafortune: normal, coefficients, exponent; then the scale's colours.
    EXPECT_EQ(KAL_DataPool::getDataPool().blocksOut() - blocksBefore, 4);
    for (int lane = 0; lane < KAL_MAX_LANES; ++lane)
    {
        if (!lanes.isRunning(lane))
            continue;
        const BX_Vector3 d = p.vec("dir", lane), c = p.vec("col", lane);
        EXPECT_EQ(p.integer("bt", lane), 2) << lane;
        EXPECT_GT(d.length(), 0.5f) << lane;
        // The tint survives in the colour's proportions.
        if (c.x > 0.0f)
        {
            EXPECT_NEAR(c.y / c.x, 0.25f, 1e-5f) << lane;
            EXPECT_NEAR(c.z / c.x, 0.125f, 1e-5f) << lane;
        }
    }
    // Overwrite the variable: everything goes back.
    p->setRef("F", nullptr);
    EXPECT_EQ(KAL_DataPool::getDataPool().blocksOut(), blocksBefore);
    EXPECT_EQ(KAL_RefType::liveObjects(), objectsBefore);
}

// Found by fuzzing: "add@BB F F" forty times made a tree whose queries visit
// 2^40 nodes, so the first query hung. The arithmetic ops stop growing a
// tree at SRF_MAX_TREE_NODES visited nodes (flatten lists each visit), and
// a long chain of tints stops there too; the capped trees answer queries.
TEST_F(Ops, SharedSubtreesAndLongChainsStayWithinTheNodeBound)
{
    const std::string shared = "isotropic@B F\n" + []
    {
        std::string s;
        for (int i = 0; i < 40; ++i)
            s += i % 2 ? "add@BB F F\n" : "mul@BB F F\n";
        return s;
    }();
    const std::string chain = "isotropic@B F\n" + []
    {
        std::string s;
        for (int i = 0; i < 3 * SRF_MAX_TREE_NODES; ++i)
            s += "mul@BF F 0.999\n";
        return s;
    }();
    for (const std::string &text : {shared, chain})
    {
        Program p(context, text);
        ASSERT_TRUE(p.ok());
        KAL_ProcArray lanes(3);
        p->fillVector("N", BX_Vector3(0.0f, 0.0f, 1.0f));
        p->run(lanes);
        SRF_BSDF *f = p.bsdf("F");
        ASSERT_NE(f, nullptr);
        Flat flat(f);
        EXPECT_LE(flat.bsdfs.entries(), SRF_MAX_TREE_NODES);
        EXPECT_GT(flat.bsdfs.entries(), SRF_MAX_TREE_NODES / 2);
        const BX_Vector3 u(0.0f, 0.6f, 0.8f), n(0.0f, 0.0f, 1.0f), v(0.6f, 0.0f, 0.8f);
        BX_Vector3 colour, sampled;
        float scalar = 0.0f;
        int bounce = 0;
        f->evaluate(u, n, v, colour, scalar, 1, SRF_BOUNCE_ALL);
        EXPECT_TRUE(std::isfinite(colour.x) && std::isfinite(scalar));
        f->sample(u, n, sampled, colour, scalar, bounce, 0.3f, 0.6f, 2, SRF_BOUNCE_ALL);
        EXPECT_TRUE(std::isfinite(f->specularRatio(0, SRF_BOUNCE_ALL)));
    }
}
} // namespace
