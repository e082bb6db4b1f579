// The shading-language ops run through the executor over lane arrays of
// several sizes, with lanes that are not running and uniform and varying
// arguments: registration, the block builders' lane rules, every query's
// output lane by lane, the arithmetic ops' case tables with their
// reference counts, and the bound on shared trees.
#include "BX_PolarSample.h"
#include "KAL_DataPool.h"
#include "KAL_OpCode.h"
#include "KAL_Program.h"
#include "Program.h"
#include "SRF_ArithmeticOps.h"
#include "SRF_CompositeBSDF.h"
#include "SRF_Isotropic.h"
#include "SRF_LaneBatch.h"
#include "SRF_OpArgs.h"
#include "SRF_SumBSDF.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using TestUtil::Flat;

namespace
{
const int LANE_COUNTS[] = {1, 7, 64, KAL_MAX_LANES};
const BX_Vector3 ZERO(0, 0, 0), SENTINEL(7, -7, 7);

// Lanes 1, 4, 7, ... are not running; lane 0 too when asked.
KAL_ProcArray makeLanes(int count, bool lane0Stopped)
{
    KAL_ProcArray lanes(count);
    for (int i = 0; i < count; ++i)
        if (i % 3 == 1 || (lane0Stopped && i == 0))
            lanes.setState(i, 1);
    return lanes;
}

BX_Vector3 vectorValue(int lane, int k) { return BX_Vector3(0.5f + lane, k - 0.25f * lane, 1.0f + 0.125f * k); }
float floatValue(int lane, int k) { return 1.5f + lane + 0.5f * k; }
float clampUnit(float s) { return s <= 0.0f ? 0.0f : (s >= 1.0f ? 1.0f : s); }
// Equal, or within the batch queries' 1e-5 of each other.
bool near(float a, float b)
{
    return a == b || std::fabs(a - b) <= 1e-5f * std::max({1.0f, std::fabs(a), std::fabs(b)});
}
bool near(const BX_Vector3 &a, const BX_Vector3 &b) { return near(a.x, b.x) && near(a.y, b.y) && near(a.z, b.z); }
} // namespace

// The 23 ops in table order (signature, argument count, op flag, fold type),
// then the 19 rewrites; the photon install adds 4. Every handler returns
// the next instruction, with lanes and without.
TEST(Ops, InstallRegistersEveryOpAndEachHandlerReturnsTheNextInstruction)
{
    struct Row
    {
        const char *signature;
        int argCount, opFlag, foldType;
    };
    const Row table[] = {
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
    KAL_Context context;
    SRF_Functions::installFunctions(context);
    const int first = context.getBuiltinCount(), rows = sizeof(table) / sizeof(table[0]);
    ASSERT_EQ(SRF_Functions::opCount(), rows);
    ASSERT_EQ(context.getOpCount(), first + rows + 19);
    std::string program = "bsdf b\nvector v\nfloat f\nint i\n";
    for (int r = 0; r < rows; ++r)
    {
        const KAL_OpCode *op = context.getOp(first + r);
        SCOPED_TRACE(table[r].signature);
        EXPECT_STREQ(op->getSignature(), table[r].signature);
        EXPECT_TRUE(op->isValid() && !op->isReWrite() && op->getEvaluate());
        EXPECT_EQ(op->getArgCount(), table[r].argCount);
        EXPECT_EQ(op->getOpFlag(), table[r].opFlag);
        EXPECT_EQ(op->getFoldType(), table[r].foldType);
        const bool sample = r == 18;
        const std::vector<int> written = sample ? std::vector<int>{3, 4, 5, -65536} : std::vector<int>{0, -65536};
        EXPECT_EQ(std::vector<int>(op->getWrittenArgs(), op->getWrittenArgs() + written.size()), written);
        // A call of the op on variables of its argument types.
        program += table[r].signature;
        for (const char *l = std::strchr(table[r].signature, '@') + 1; *l; ++l)
            program += *l == 'B' ? " b" : *l == 'V' ? " v" : *l == 'F' ? " f" : *l == 'I' ? " i" : " \"no-such-file\"";
        program += "\n";
    }
    for (int i = first + rows; i < context.getOpCount(); ++i)
        EXPECT_TRUE(context.getOp(i)->isReWrite()) << context.getOp(i)->getSignature();
    const int before = context.getOpCount();
    SRF_Functions::installPhotonFunctions(context);
    EXPECT_EQ(context.getOpCount(), before + 4);

    Program p(program, context);
    ASSERT_TRUE(p.ok()) << p.error;
    ASSERT_EQ(p->getProgram().getInstructionCount(), rows);
    for (int count : {0, 5})
    {
        KAL_ProcArray lanes(count);
        for (int i = 0; i < rows; ++i)
            EXPECT_EQ(p->runInstruction(i, lanes), i + 1) << table[i].signature;
    }
}

TEST(Ops, NearZeroBoundsAndNaN)
{
    const float eps = 1e-5f, above = std::nextafter(eps, 1.0f);
    const float values[] = {eps, -eps, 0.0f, 1e-6f, -1e-6f, above, NAN, -above};
    // floatsNearZero over the first `count` values from `from`.
    const struct
    {
        int from, count;
        bool zero;
    } rows[] = {{0, 5, true}, {0, 6, false}, {6, 1, false}, {7, 1, false}, {5, 0, true}, {5, -3, true}};
    for (const auto &r : rows)
        EXPECT_EQ(SRF_OpArgs::floatsNearZero(values + r.from, r.count), r.zero) << r.from << " " << r.count;
    const BX_Vector3 vectors[] = {BX_Vector3(eps, -eps, 0), BX_Vector3(0, 0, 2e-5f), BX_Vector3(0, NAN, 0)};
    EXPECT_TRUE(SRF_OpArgs::vectorsNearZero(vectors, 1));
    EXPECT_FALSE(SRF_OpArgs::vectorsNearZero(vectors, 2));
    EXPECT_FALSE(SRF_OpArgs::vectorsNearZero(vectors + 2, 1));
    EXPECT_TRUE(SRF_OpArgs::vectorsNearZero(vectors + 1, 0));
}

// Each constructor builds its class on blocks holding one value per lane:
// a varying argument's own value in running lanes and zero elsewhere; a
// uniform vector everywhere; a uniform float everywhere only when lane 0
// runs. The Lafortune bounce set follows the exponent of lane 0.
TEST(Ops, ConstructorsBuildTheirClassOnPerLaneBlocks)
{
    struct Row
    {
        const char *signature, *className;
        int bounces;                            // 0: diffuse or glossy from the exponent of lane 0
        std::vector<int> vectorArgs, floatArgs; // the arguments behind each block, in flatten order
    };
    const Row rows[] = {
        {"isotropic@B", "SRF_Isotropic", 1, {}, {}},
        {"specular@BV", "SRF_Specular", 4, {1}, {}},
        {"phonglobe@BVF", "SRF_Phong", 2, {1}, {2}},
        {"blinn@BVF", "SRF_Blinn", 2, {1}, {2}},
        {"cone@BVF", "SRF_Cone", 2, {1}, {2}},
        {"wirediffuse@BV", "SRF_WireDiffuse", 1, {1}, {}},
        {"wireblinn@BVF", "SRF_WireBlinn", 2, {1}, {2}},
        {"lafortune@BVVF", "SRF_Lafortune", 0, {1, 2}, {3}},
        {"ashikhmin@BVFFVV", "SRF_Ashikhmin", 2, {1, 4, 5}, {2, 3}},
        // An emitter: a scale over an emission lobe, grey for a float.
        {"set@BF", "SRF_ScaleBSDF", 8, {1}, {}},
        {"set@BV", "SRF_ScaleBSDF", 8, {1}, {}},
    };
    for (const Row &c : rows)
        for (int count : LANE_COUNTS)
            for (int variant = 0; variant < 3; ++variant) // varying; uniform; uniform with lane 0 stopped
            {
                const bool varying = variant == 0, lane0Stopped = variant == 2 || (varying && count > 1);
                SCOPED_TRACE(std::string(c.signature) + " " + std::to_string(count) + " " + std::to_string(variant));
                const std::string letters = std::strchr(c.signature, '@') + 1;
                std::string text, call = std::string(c.signature) + " F";
                for (size_t k = 1; k < letters.size(); ++k)
                {
                    text += std::string(varying ? "varying " : "") + (letters[k] == 'V' ? "vector a" : "float a");
                    text += std::to_string(k) + "\n";
                    call += " a" + std::to_string(k);
                }
                Program p(text + call + "\n");
                ASSERT_TRUE(p.ok()) << p.error;
                for (size_t k = 1; k < letters.size(); ++k)
                    for (int lane = 0; lane < (varying ? KAL_MAX_LANES : 1); ++lane)
                    {
                        const std::string name = "a" + std::to_string(k);
                        if (letters[k] == 'V')
                            p->setVector(name.c_str(), lane, vectorValue(lane, int(k)));
                        else
                            p->setFloat(name.c_str(), lane, floatValue(lane, int(k)));
                    }
                KAL_ProcArray lanes = makeLanes(count, lane0Stopped);
                ASSERT_EQ(p->run(lanes), 1);
                SRF_BSDF *bsdf = p.bsdf("F");
                ASSERT_TRUE(bsdf);
                EXPECT_EQ(bsdf->getRefCount(), 1);
                EXPECT_STREQ(bsdf->className(), c.className);
                const Flat flat(bsdf);
                ASSERT_EQ(flat.vectors.entries(), int(c.vectorArgs.size()));
                ASSERT_EQ(flat.floats.entries(), int(c.floatArgs.size()));
                EXPECT_STREQ(flat.bsdfs[flat.bsdfs.entries() - 1]->className(),
                             c.bounces == 8 ? "SRF_Emission" : c.className);
                for (int lane = 0; lane < count; ++lane)
                {
                    const int source = varying ? lane : 0;
                    const bool zeroVector = varying && !lanes.isRunning(lane);
                    const bool zeroFloat = varying ? !lanes.isRunning(lane) : lane0Stopped;
                    for (size_t b = 0; b < c.vectorArgs.size(); ++b)
                    {
                        const int k = c.vectorArgs[b];
                        const float g = floatValue(source, k);
                        const BX_Vector3 want = zeroVector          ? ZERO
                                                : letters[k] == 'F' ? BX_Vector3(g, g, g)
                                                                    : vectorValue(source, k);
                        EXPECT_TRUE(flat.vectors[b][lane] == want) << "lane " << lane;
                    }
                    for (size_t b = 0; b < c.floatArgs.size(); ++b)
                        EXPECT_EQ(flat.floats[b][lane], zeroFloat ? 0.0f : floatValue(source, c.floatArgs[b]))
                            << "lane " << lane;
                }
                EXPECT_EQ(bsdf->getBounces(), c.bounces ? c.bounces : flat.floats[0][0] > 0.0f ? 2 : 1);
            }
}

namespace
{
const char *const QUERIES = "varying vector u\nvarying vector n\nvarying vector v\nvarying vector tint\n"
                            "varying float sx\nvarying float sy\nvarying int mask\nvarying vector alb\n"
                            "varying vector ev\nvarying vector dir\nvarying vector col\nvarying int bt\n"
                            "varying vector em\nvarying float sr\nvarying int gb\nvarying int nb\n"
                            "varying float pd\nvarying vector val\nvarying float pd2\n";
// The last call writes its direction over its own uniform input u2: each
// lane reads what the lane before it wrote, in every mode.
const char *const CALLS = "albedo@VBVVI alb F u n mask\neval_bsdf@VBVVVI ev F u n v mask\n"
                          "sample_bsdf@BVVVVIFFI F u n dir col bt sx sy mask\nemission_bsdf@VB em F\n"
                          "specularratio_bsdf@FBI sr F mask\ngetbounces@IB gb F\nnbouncetypes@I nb\n"
                          "pdf_bsdf@FBVVVI pd F u n v mask\neval_pdf_bsdf@VFBVVVI val pd2 F u n v mask\n"
                          "vector u2 = 0 0.6 0.8\nvector col2\nint bt2\n"
                          "sample_bsdf@BVVVVIFFI F u2 n u2 col2 bt2 sx sy 7\n";
const char *const VECTOR_OUTPUTS[] = {"alb", "ev", "dir", "col", "em", "val"};
const char *const FLOAT_OUTPUTS[] = {"sr", "pd", "pd2"};
const char *const INT_OUTPUTS[] = {"bt", "gb", "nb"};

// Directions about z, a tint, random numbers partly outside [0, 1], masks
// cycling through foreign and admitting ones, sentinels in every output.
void fillQueryInputs(Program &p)
{
    const int masks[] = {15, 7, 1, 2, 8, 0, 3};
    const float randoms[] = {-0.5f, 0.0f, 0.25f, 0.5f, 0.999f, 1.0f, 1.5f};
    for (int lane = 0; lane < KAL_MAX_LANES; ++lane)
    {
        p->setVector("u", lane, TestUtil::unit(0.3f, -0.2f + 0.001f * lane, 0.9f));
        p->setVector("n", lane, BX_Vector3(0, 0, 1));
        p->setVector("v", lane, TestUtil::unit(-0.4f, 0.1f, 0.8f - 0.002f * lane));
        p->setVector("tint", lane, BX_Vector3(0.25f + 0.001f * lane, 0.5f, 1.0f - 0.002f * lane));
        p->setFloat("sx", lane, randoms[lane % 7]);
        p->setFloat("sy", lane, randoms[(lane * 3 + 1) % 7]);
        p->setInt("mask", lane, masks[lane % 7]);
        for (const char *name : VECTOR_OUTPUTS)
            p->setVector(name, lane, SENTINEL);
        for (const char *name : INT_OUTPUTS)
            p->setInt(name, lane, 777);
        for (const char *name : FLOAT_OUTPUTS)
            p->setFloat(name, lane, 77.0f);
    }
}

// Every output of every running lane is the BSDF's own masked query with
// that lane's inputs and index (zeros for a null BSDF, the random numbers
// clamped to [0, 1]); lanes that are not running keep their sentinels.
void checkQueries(Program &p, const KAL_ProcArray &lanes)
{
    const SRF_BSDF *bsdf = p.bsdf("F");
    for (int lane = 0; lane < lanes.getCount(); ++lane)
    {
        SCOPED_TRACE("lane " + std::to_string(lane));
        if (!lanes.isRunning(lane))
        {
            for (const char *name : VECTOR_OUTPUTS)
                EXPECT_TRUE(p.vec(name, lane) == SENTINEL) << name;
            for (const char *name : INT_OUTPUTS)
                EXPECT_EQ(p.integer(name, lane), 777) << name;
            for (const char *name : FLOAT_OUTPUTS)
                EXPECT_EQ(p.flt(name, lane), 77.0f) << name;
            continue;
        }
        const BX_Vector3 u = p.vec("u", lane), n = p.vec("n", lane), v = p.vec("v", lane);
        const int mask = p.integer("mask", lane);
        float a = 0.0f, ratio = 0.0f, scalar = 0.0f, pdf = 0.0f, pdf2 = 0.0f;
        int bounces = 0, bounce = 0;
        BX_Vector3 ev = ZERO, dir = ZERO, col = ZERO, em = ZERO, value = ZERO;
        if (bsdf)
        {
            a = bsdf->albedo(u, n, lane, mask);
            bsdf->evaluate(u, n, v, ev, scalar, lane, mask);
            bsdf->sample(u, n, dir, col, scalar, bounce, clampUnit(p.flt("sx", lane)), clampUnit(p.flt("sy", lane)),
                         lane, mask);
            bsdf->emission(em, lane);
            ratio = bsdf->specularRatio(lane, mask);
            bounces = bsdf->getBounces(lane);
            pdf = bsdf->pdf(u, n, v, lane, mask);
            bsdf->evaluatePdf(u, n, v, value, pdf2, lane, mask);
        }
        EXPECT_TRUE(near(p.vec("alb", lane), BX_Vector3(a, a, a)));
        EXPECT_TRUE(near(p.vec("ev", lane), ev) && near(p.vec("dir", lane), dir) && near(p.vec("col", lane), col));
        EXPECT_TRUE(p.vec("em", lane) == em);
        EXPECT_EQ(p.integer("bt", lane), bounce);
        EXPECT_TRUE(near(p.flt("sr", lane), ratio));
        EXPECT_EQ(p.integer("gb", lane), bounces);
        EXPECT_EQ(p.integer("nb", lane), 3);
        EXPECT_TRUE(near(p.flt("pd", lane), pdf) && near(p.flt("pd2", lane), pdf2) && pdf == pdf2);
        EXPECT_TRUE(near(p.vec("val", lane), value));
    }
    // The uniform u2, read and written lane after lane.
    BX_Vector3 u2(0, 0.6f, 0.8f), col2 = ZERO;
    for (int lane = 0; lane < lanes.getCount(); ++lane)
        if (lanes.isRunning(lane))
        {
            BX_Vector3 v = ZERO;
            float scalar = 0.0f;
            int bounce = 0;
            col2 = ZERO;
            if (bsdf)
                bsdf->sample(u2, p.vec("n", lane), v, col2, scalar, bounce, clampUnit(p.flt("sx", lane)),
                             clampUnit(p.flt("sy", lane)), lane, 7);
            u2 = v;
        }
    EXPECT_TRUE(near(p.vec("u2", 0), u2) && near(p.vec("col2", 0), col2));
}
} // namespace

void queriesInEveryTree();

// Worked by hand for a diffuse lobe tinted per lane, then compared with the
// BSDF's own queries for a null BSDF and a tree of every kind of node, in
// the per-lane mode and every batch variant the processor runs.
TEST(Ops, QueriesAnswerPerLaneWithTheLaneIndex)
{
    for (SRF_BatchMode mode : {SRF_BATCH_PER_LANE, SRF_BATCH_SCALAR, SRF_BATCH_SSE2, SRF_BATCH_AVX2, SRF_BATCH_AVX512})
    {
        if (!SRFbatchModeSupported(mode))
            continue;
        SRFsetBatchMode(mode);
        SCOPED_TRACE("mode " + std::to_string(mode));
        queriesInEveryTree();
    }
    SRFsetBatchMode(SRF_BATCH_AUTO);
}

void queriesInEveryTree()
{
    const std::string trees[] = {
        "isotropic@B F\nmul@BV F tint\n",
        "isotropic@B F\nmul@BF F 0\n",
        "float e = 20\nbsdf coat\nbsdf glow\nbsdf mirror\nisotropic@B F\nmul@BV F tint\nphonglobe@BVF coat n e\n"
        "add@BB F coat\nset@BV glow tint\nadd@BB F glow\nspecular@BV mirror n\nmul@BF mirror 0.5\nadd@BB F mirror\n",
    };
    for (const std::string &tree : trees)
    {
        Program p(QUERIES + tree + CALLS);
        ASSERT_TRUE(p.ok()) << p.error;
        for (int count : LANE_COUNTS)
        {
            SCOPED_TRACE(tree + " lanes " + std::to_string(count));
            p->reset();
            fillQueryInputs(p);
            KAL_ProcArray lanes = makeLanes(count, count > 1);
            p->run(lanes);
            EXPECT_EQ(p.bsdf("F") == nullptr, &tree == &trees[1]);
            checkQueries(p, lanes);
            for (int lane = 0; &tree == &trees[0] && lane < count; ++lane)
            {
                if (!lanes.isRunning(lane))
                    continue;
                const BX_Vector3 tint = p.vec("tint", lane);
                const bool diffuse = p.integer("mask", lane) & 1;
                const float lum = 0.299f * tint.x + 0.587f * tint.y + 0.114f * tint.z;
                EXPECT_NEAR(p.vec("alb", lane).y, diffuse ? lum : 0.0f, 1e-6f);
                EXPECT_TRUE(p.vec("ev", lane) == (diffuse ? tint : ZERO) && p.vec("col", lane) == p.vec("ev", lane));
                EXPECT_EQ(p.integer("bt", lane), diffuse ? 1 : 0);
                BX_Vector3 want = ZERO;
                if (diffuse)
                    BX_PolarSample(p.vec("u", lane))
                        .compute(want, clampUnit(p.flt("sx", lane)), clampUnit(p.flt("sy", lane)));
                EXPECT_VEC_NEAR(p.vec("dir", lane), want.x, want.y, want.z, 1e-6f);
            }
        }
    }
}

// The case tables of "add@BB" and "mul@BB" over a and b, each null or a
// lobe, and a variable with itself: the new value of a (its class, or a
// keeps its value, takes b's, or becomes null), the reference counts of the
// old a and b afterwards, and the composite's operands in flatten order.
TEST(Ops, ArithmeticFollowsItsCaseTables)
{
    struct Row
    {
        const char *build, *op, *result;
        int aRefs, bRefs;
        const char *operands;
        int bounces;
    };
    const Row rows[] = {
        {"isotropic@B a\nspecular@BV b N", "add@BB a b", "SRF_SumBSDF", 1, 2, "ab", 5},
        {"isotropic@B a", "add@BB a b", "a", 1, 0, "", 0},
        {"isotropic@B b", "add@BB a b", "b", 0, 2, "", 0},
        {"", "add@BB a b", "null", 0, 0, "", 0},
        {"isotropic@B a", "add@BB a a", "SRF_SumBSDF", 2, 0, "aa", 1},
        {"isotropic@B a\nspecular@BV b N", "mul@BB a b", "SRF_MulBSDF", 1, 2, "ba", 4}, // the mirror first
        {"isotropic@B a", "mul@BB a b", "null", 0, 0, "", 0},
        {"isotropic@B b", "mul@BB a b", "null", 0, 1, "", 0},
        {"isotropic@B a", "mul@BB a a", "SRF_MulBSDF", 2, 0, "aa", 1},
        // Near-zero factors (|x| <= 1e-5) make null; anything else a scale.
        {"isotropic@B a", "mul@BF a 0.00001", "null", 0, 0, "", 0},
        {"isotropic@B a", "mul@BF a -0.00001", "null", 0, 0, "", 0},
        {"isotropic@B a", "mul@BF a 0.0000100001", "SRF_ScaleBSDF", 1, 0, "a", 1},
        {"isotropic@B a", "mul@BV a (0.00001, -0.00001, 0.000001)", "null", 0, 0, "", 0},
        {"isotropic@B a", "mul@BV a (0, 0, 0.00002)", "SRF_ScaleBSDF", 1, 0, "a", 1},
        {"", "mul@BF a 1", "null", 0, 0, "", 0},
        {"", "mul@BV a (1, 1, 1)", "null", 0, 0, "", 0},
    };
    for (const Row &c : rows)
    {
        SCOPED_TRACE(std::string(c.build) + " / " + c.op);
        Program p(std::string("bsdf a\nbsdf b\n") + c.build + "\n" + c.op + "\n");
        ASSERT_TRUE(p.ok()) << p.error;
        KAL_ProcArray lanes(7);
        const int last = p->getProgram().getInstructionCount() - 1;
        for (int i = 0; i < last; ++i)
            p->runInstruction(i, lanes);
        SRF_BSDF *a = p.bsdf("a"), *b = p.bsdf("b");
        for (SRF_BSDF *x : {a, b}) // the test's own references keep them countable
            if (x)
                x->addRefCount();
        p->runInstruction(last, lanes);
        SRF_BSDF *result = p.bsdf("a");
        const std::string want = c.result;
        if (want == "a" || want == "b" || want == "null")
            EXPECT_EQ(result, want == "a" ? a : want == "b" ? b : nullptr);
        else
        {
            ASSERT_TRUE(result);
            EXPECT_STREQ(result->className(), c.result);
            EXPECT_EQ(result->getBounces(), c.bounces);
            const Flat flat(result);
            for (size_t k = 0; k < std::strlen(c.operands); ++k)
                EXPECT_EQ(flat.bsdfs[1 + int(k)], c.operands[k] == 'a' ? a : b) << k;
        }
        EXPECT_EQ(p.bsdf("b"), b);
        for (auto [x, refs] : {std::pair{a, c.aRefs}, std::pair{b, c.bRefs}})
            if (x)
            {
                EXPECT_EQ(x->getRefCount() - 1, refs);
                x->decRefCount();
            }
    }

    // A varying factor zero in every running lane but not in a stopped one
    // builds a scale, whose block holds the running lanes' zeros only; values
    // beyond the lane count are not looked at.
    for (int count : LANE_COUNTS)
    {
        Program p("varying float f\nisotropic@B F\nmul@BF F f\n");
        KAL_ProcArray lanes = makeLanes(count, false);
        for (int lane = 0; lane < KAL_MAX_LANES; ++lane)
            p->setFloat("f", lane, lane >= count ? 5.0f : lanes.isRunning(lane) ? 0.0f : 3.0f);
        p->run(lanes);
        if (lanes.runningCount() == count)
        {
            EXPECT_FALSE(p.bsdf("F"));
            continue;
        }
        ASSERT_TRUE(p.bsdf("F"));
        const Flat flat(p.bsdf("F"));
        for (int lane = 0; lane < count; ++lane)
            EXPECT_TRUE(flat.vectors[0][lane] == ZERO) << lane;
    }
}

// A Lafortune lobe through the rewrite of "phong@BF", tinted and sampled
// per lane, then overwritten: everything goes back. Shared subtrees ("add@BB
// F F" forty times made a tree whose queries visit 2^40 nodes) and long
// chains of tints stop growing at SRF_CompositeBSDF::MAX_TREE_NODES visited nodes, and a
// capped tree answers what it had before the bound.
TEST(Ops, TypicalRoadReleasesEverythingAndTreesStayBounded)
{
    const long blocks = KAL_DataPool::getDataPool().blocksOut(), objects = KAL_RefType::liveObjects();
    Program p("vector tint = 0.8 0.2 0.1\nvarying float sx\nvarying vector dir\nvarying vector col\nvarying int bt\n"
              "phong@BF F 40\nmul@BV F tint\nsample_bsdf@BVVVVIFFI F N N dir col bt sx 0.5 7\n");
    p->fillVector("N", BX_Vector3(0, 0, 1));
    for (int lane = 0; lane < KAL_MAX_LANES; ++lane)
        p->setFloat("sx", lane, (lane + 0.5f) / KAL_MAX_LANES);
    p.run(KAL_MAX_LANES);
    const Flat flat(p.bsdf("F"));
    ASSERT_EQ(flat.bsdfs.entries(), 2);
    EXPECT_STREQ(flat.bsdfs[1]->className(), "SRF_Lafortune");
    EXPECT_EQ(KAL_DataPool::getDataPool().blocksOut() - blocks, 4);
    for (int lane = 0; lane < KAL_MAX_LANES; lane += 17)
    {
        const BX_Vector3 c = p.vec("col", lane);
        EXPECT_EQ(p.integer("bt", lane), 2);
        EXPECT_NEAR(c.y, 0.25f * c.x, 1e-5f); // the tint's proportions
        EXPECT_NEAR(c.z, 0.125f * c.x, 1e-5f);
    }
    p->setRef("F", nullptr);
    EXPECT_EQ(KAL_DataPool::getDataPool().blocksOut(), blocks);
    EXPECT_EQ(KAL_RefType::liveObjects(), objects);

    // "add@BB F F" doubles a tree: after k of them a query visits 2^(k+1) - 1
    // nodes. Eleven make 4095, the twelfth is dropped, the first tint makes
    // 4096 and stays, every later op is dropped (a zero factor still makes
    // null): F is 2^11 isotropic lobes tinted by 0.5 once, 1024, not 512.
    std::string capped = "isotropic@B F\n";
    for (int i = 0; i < 12; ++i)
        capped += "add@BB F F\n";
    capped += "mul@BF F 0.5\nmul@BF F 0.5\nmul@BV F (0.5, 0.25, 0.5)\nmul@BB F F\n";
    std::string chain = "isotropic@B F\n";
    for (int i = 0; i < 3 * SRF_CompositeBSDF::MAX_TREE_NODES; ++i)
        chain += "mul@BF F 0.999\n";
    const std::string texts[] = {capped, chain, capped + "mul@BF F 0\n"};
    for (int t = 0; t < 3; ++t)
    {
        Program q(texts[t]);
        q.run(3);
        SRF_BSDF *f = q.bsdf("F");
        ASSERT_EQ(f == nullptr, t == 2);
        if (!f)
            continue;
        EXPECT_EQ(SRF_CompositeBSDF::queryNodes(f), SRF_CompositeBSDF::MAX_TREE_NODES);
        const TestUtil::Evaluated e =
            TestUtil::evaluateOf(*f, BX_Vector3(0, 0.6f, 0.8f), BX_Vector3(0, 0, 1), BX_Vector3(0.6f, 0, 0.8f), 1);
        EXPECT_TRUE(t != 0 || e.colour == BX_Vector3(1024, 1024, 1024)) << e.colour.x;
        EXPECT_TRUE(std::isfinite(e.colour.x) && std::isfinite(e.scalar));
    }
    // A host-built shared tree whose count saturates (2^30): adding or
    // scaling it must still be refused, the sum of the counts must not wrap.
    SRF_BSDF *tree = new SRF_Isotropic();
    for (int level = 0; level < 31; ++level)
    {
        tree->addRefCount();
        tree = new SRF_SumBSDF(tree, tree);
    }
    ASSERT_EQ(SRF_CompositeBSDF::queryNodes(tree), SRF_CompositeBSDF::MAX_QUERY_NODES);
    for (const char *op : {"add@BB F F\n", "mul@BF F 2\n"})
    {
        Program q(op);
        q->setRef("F", tree);
        q.run(1);
        EXPECT_EQ(q.bsdf("F"), tree) << op;
    }
    tree->decRefCount();
}
