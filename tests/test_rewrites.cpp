// Tests of the rewrite tables: the programs decode to the instructions they
// stand for, compile to the expected native calls, and run to the same
// results as the native calls written out by hand; the example shaders
// compile and run.
#include "BX_Vector3.h"
#include "KAL_Context.h"
#include "KAL_IReWrite.h"
#include "KAL_Instance.h"
#include "KAL_OpCode.h"
#include "KAL_ProcArray.h"
#include "KAL_Program.h"
#include "KAL_Shader.h"
#include "KAL_ShaderLoader.h"
#include "PoolCheck.h"
#include "SRF_BSDF.h"
#include "SRF_Functions.h"
#include "SRF_ReWrite.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace
{
// ---------------------------------------------------------------------------
// Decoding the program words.

// A rewrite's program as "op(a0, t0, c1, N); op(...)", from the runtime's
// disassembly. (Whether each operand has the type the called op wants is
// checked by the compiler when the run tests below compile every rewrite.)
std::string decode(const KAL_IReWrite &rw)
{
    std::string out;
    for (char ch : rw.disassemble())
        if (ch == '\n')
            out += "; ";
        else if (ch != '"')
            out += ch;
    return out.size() >= 2 ? out.substr(0, out.size() - 2) : out;
}

// The constants as "vector 0: (-1, -1, 1); float 9: 0", values read from the
// tables at each constant's index.
std::string describeConstants(const KAL_IReWrite &rw)
{
    std::string out;
    char text[128];
    for (int c = 0; c < rw.getConstCount(); ++c)
    {
        const int at = rw.getConstIndices()[c];
        switch (rw.getConstTypes()[c])
        {
        case KAL_IReWrite::VECTOR:
            if (at + 3 > rw.getFloatCount())
                return "vector index out of range";
            snprintf(text, sizeof text, "vector %d: (%g, %g, %g)", at, double(rw.getFloats()[at]),
                     double(rw.getFloats()[at + 1]), double(rw.getFloats()[at + 2]));
            break;
        case KAL_IReWrite::FLOAT:
            if (at >= rw.getFloatCount())
                return "float index out of range";
            snprintf(text, sizeof text, "float %d: %g", at, double(rw.getFloats()[at]));
            break;
        case KAL_IReWrite::INT:
            if (at >= rw.getIntCount())
                return "integer index out of range";
            snprintf(text, sizeof text, "integer %d: %d", at, rw.getInts()[at]);
            break;
        default:
            return "unknown constant type";
        }
        out += (c ? "; " : "") + std::string(text);
    }
    return out;
}

std::string describeTemps(const KAL_IReWrite &rw)
{
    std::string out;
    for (int t = 0; t < rw.getTempCount(); ++t)
    {
        const int code = rw.getTempTypes()[t];
        out += std::string(t ? ", " : "") + (code == 2 ? "vector" : code == 3 ? "float" : "?");
    }
    return out;
}

std::vector<int> writtenList(const KAL_OpCode &op)
{
    std::vector<int> out;
    for (const int *w = op.getWrittenArgs(); *w != KAL_ARGS_END; ++w)
        out.push_back(*w);
    return out;
}

// One row of the rewrite tables as a reader sets it beside the code: the
// instructions written out with a0.. for arguments, t0.. for temporaries,
// c0.. for constants and global names as they are.
struct Expected
{
    const char *signature;
    int count;
    const char *temps;
    const char *constants;
    const char *program;
};

const Expected theGeneral[] = {
    {"phong@BF", 2, "", "vector 0: (-1, -1, 1)", "lafortune@BVF(a0, c0, a1)"},
    {"phong@BVF", 3, "", "vector 3: (-1, -1, 1)", "lafortune@BVVF(a0, a1, c0, a2)"},
    {"diffuse@B", 1, "", "vector 6: (0, 0, 1); float 9: 0", "lafortune@BVF(a0, c0, c1)"},
    {"diffuse@BV", 2, "", "vector 10: (0, 0, 1); float 13: 0", "lafortune@BVVF(a0, a1, c0, c1)"},
    {"matchkal_blinn@BF", 2, "float", "float 14: 2",
     "set@FF(t0, a1); mul@FF(t0, a1); blinn@BF(a0, t0); mul@BF(a0, c0)"},
    {"matchkal_blinn@BVF", 3, "float", "float 15: 2",
     "set@FF(t0, a2); mul@FF(t0, a2); blinn@BVF(a0, a1, t0); mul@BF(a0, c0)"},
    {"matchkal_specular@BF", 2, "", "", "matchkal_blinn@BF(a0, a1)"},
    {"matchkal_specular@BVF", 3, "", "", "matchkal_blinn@BVF(a0, a1, a2)"},
    {"lafortune@BVF", 3, "vector", "", "normalize@VV(t0, N); lafortune@BVVF(a0, t0, a1, a2)"},
    {"ashikhmin@BFFVV", 5, "vector", "", "normalize@VV(t0, N); ashikhmin@BVFFVV(a0, t0, a1, a2, a3, a4)"},
    {"blinn@BF", 2, "vector", "", "normalize@VV(t0, N); blinn@BVF(a0, t0, a1)"},
    {"measured@BSV", -4, "vector, vector", "",
     "normalize@VV(t0, dPds); normalize@VV(t1, dPdt); measured@BSVVV(a0, a1, a2, t0, t1)"},
    {"measured@BS", -3, "vector", "", "normalize@VV(t0, N); measured@BSV(a0, a1, t0)"},
    {"albedo@VBVV", 4, "", "integer 0: 15", "albedo@VBVVI(a0, a1, a2, a3, c0)"},
    {"albedo@VBI", 3, "", "vector 16: (0, 1, 0); vector 19: (0, 1, 0)", "albedo@VBVVI(a0, a1, c0, c1, a2)"},
    {"albedo@VB", 2, "", "integer 1: 15", "albedo@VBI(a0, a1, c0)"},
    {"eval_bsdf@VBVVV", 5, "", "integer 2: 15", "eval_bsdf@VBVVVI(a0, a1, a2, a3, a4, c0)"},
    {"sample_bsdf@BVVVVIFF", 8, "", "integer 3: 15", "sample_bsdf@BVVVVIFFI(a0, a1, a2, a3, a4, a5, a6, a7, c0)"},
    {"specularratio_bsdf@FB", 2, "", "integer 4: 15", "specularratio_bsdf@FBI(a0, a1, c0)"},
};

const Expected thePhoton[] = {
    {"photon_store@VVVV", 4, "", "", "diffuse@B(F); mul@BV(F, a2)"},
    {"photon_diffuse@VVV", 3, "", "", "diffuse@B(F); mul@BV(F, a2)"},
    {"photon_reflect@VVV", 3, "", "", "specular@BV(F, a1); mul@BV(F, a2)"},
    {"photon_transmit@VVV", 3, "", "", "specular@BV(F, a1); mul@BV(F, a2)"},
};

const int GENERAL_COUNT = sizeof(theGeneral) / sizeof(theGeneral[0]);
const int PHOTON_COUNT = sizeof(thePhoton) / sizeof(thePhoton[0]);

// Every rewrite registered, checked against its row: the decoded program,
// the operand types, the temporaries, the constants with their values, the
// argument count, the written arguments and the op flag.
void checkRows(const KAL_Context &context, const Expected *rows, int count, bool photon)
{
    for (int r = 0; r < count; ++r)
    {
        SCOPED_TRACE(rows[r].signature);
        const KAL_OpCode *op = context.findOp(rows[r].signature);
        ASSERT_NE(op, nullptr);
        ASSERT_TRUE(op->isReWrite());
        const KAL_IReWrite &rw = *op->getReWrite();
        EXPECT_EQ(rw.getArgCount(), rows[r].count);
        EXPECT_EQ(op->getArgCount(), rows[r].count);
        EXPECT_EQ(decode(rw), rows[r].program);
        EXPECT_EQ(describeTemps(rw), rows[r].temps);
        EXPECT_EQ(describeConstants(rw), rows[r].constants);

        const std::string sig = rows[r].signature;
        const bool measured = sig.rfind("measured@", 0) == 0;
        EXPECT_EQ(op->getOpFlag(), measured ? 0x2000000 : 0);
        std::vector<int> written = {0};
        if (photon)
            written.clear();
        else if (sig == "sample_bsdf@BVVVVIFF")
            written = {3, 4, 5};
        EXPECT_EQ(writtenList(*op), written);

        if (photon)
        {
            EXPECT_EQ(rw.getIntCount(), 0);
            EXPECT_EQ(rw.getFloatCount(), 0);
            EXPECT_EQ(rw.getNameCount(), 4);
        }
        else
        {
            EXPECT_EQ(rw.getNameCount(), 21);
            EXPECT_EQ(rw.getIntCount(), 5);
            EXPECT_EQ(rw.getFloatCount(), 22);
        }
    }
}

TEST(ReWriteTables, EveryProgramDecodesToItsInstructions)
{
    KAL_Context context;
    const int before = context.getOpCount();
    SRFinstallReWrite(context);
    ASSERT_EQ(context.getOpCount(), before + GENERAL_COUNT);
    SRFinstallPhotonReWrite(context);
    ASSERT_EQ(context.getOpCount(), before + GENERAL_COUNT + PHOTON_COUNT);
    // Registered in table order.
    for (int r = 0; r < GENERAL_COUNT; ++r)
        EXPECT_STREQ(context.getOp(before + r)->getSignature(), theGeneral[r].signature);
    for (int r = 0; r < PHOTON_COUNT; ++r)
        EXPECT_STREQ(context.getOp(before + GENERAL_COUNT + r)->getSignature(), thePhoton[r].signature);

    checkRows(context, theGeneral, GENERAL_COUNT, false);
    checkRows(context, thePhoton, PHOTON_COUNT, true);

    // The general rewrites share one name, integer and float table.
    const KAL_IReWrite *first = context.findOp("phong@BF")->getReWrite();
    for (int r = 1; r < GENERAL_COUNT; ++r)
    {
        const KAL_IReWrite *rw = context.findOp(theGeneral[r].signature)->getReWrite();
        EXPECT_EQ(rw->getNames(), first->getNames());
        EXPECT_EQ(rw->getInts(), first->getInts());
        EXPECT_EQ(rw->getFloats(), first->getFloats());
    }
    // Each table entry belongs to exactly one constant.
    std::vector<int> floatUse(22, 0), intUse(5, 0);
    for (int r = 0; r < GENERAL_COUNT; ++r)
    {
        const KAL_IReWrite *rw = context.findOp(theGeneral[r].signature)->getReWrite();
        for (int c = 0; c < rw->getConstCount(); ++c)
        {
            const int at = rw->getConstIndices()[c];
            if (rw->getConstTypes()[c] == KAL_IReWrite::INT)
                ++intUse[at];
            else
                for (int k = 0; k < (rw->getConstTypes()[c] == KAL_IReWrite::VECTOR ? 3 : 1); ++k)
                    ++floatUse[at + k];
        }
    }
    EXPECT_EQ(floatUse, std::vector<int>(22, 1));
    EXPECT_EQ(intUse, std::vector<int>(5, 1));
}

// Every install call registers new op objects over the same static rewrites.
TEST(ReWriteTables, InstallingTwiceRegistersAgainOnTheSameRewrites)
{
    KAL_Context a, b;
    SRFinstallReWrite(a);
    SRFinstallReWrite(b);
    SRFinstallReWrite(b);
    const KAL_OpCode *opA = a.findOp("albedo@VB");
    const KAL_OpCode *opB = b.findOp("albedo@VB");
    ASSERT_TRUE(opA && opB);
    EXPECT_NE(opA, opB);
    EXPECT_EQ(opA->getReWrite(), opB->getReWrite());
    EXPECT_EQ(b.getOpCount(), a.getOpCount()); // the later registration replaces the earlier
}

// ---------------------------------------------------------------------------
// Expansion: the compiled program of a shader that calls a rewrite.

// A context with every op and rewrite of the library.
struct Installed
{
    KAL_Context context;
    Installed()
    {
        SRF_Functions::installFunctions(context);
        SRF_Functions::installPhotonFunctions(context);
    }
};

std::unique_ptr<KAL_Shader> compile(const KAL_Context &context, const std::string &text, std::string &error)
{
    return KAL_ShaderLoader::compileText(context, text, "test.kal", error);
}

// The compiled program of a text, one instruction a line.
std::string listingOf(const std::string &text)
{
    Installed lib;
    std::string error;
    std::unique_ptr<KAL_Shader> shader = compile(lib.context, text, error);
    if (!shader)
        return "error: " + error;
    return shader->getProgram()->listing();
}

// The compiled program of a shader calling a rewrite: several stages down
// to native ops, the shading normal normalised into a temporary, the
// constants of the tables, and the mask of every bounce type for the
// maskless queries. (Every program's instructions are checked by the decode
// test, and every rewrite runs beside its native calls below.)
TEST(ReWriteExpansion, ShadersCompileToNativeOps)
{
    const char *const cases[][2] = {
        {"float e = 20\nphong@BF F e\n", "normalize@VV($t0, N)\nlafortune@BVVF(F, $t0, (-1, -1, 1), e)\n"},
        {"float e = 3\nmatchkal_specular@BF F e\n",
         "set@FF($t0, e)\nmul@FF($t0, e)\nnormalize@VV($t1, N)\nblinn@BVF(F, $t1, $t0)\nmul@BF(F, 2)\n"},
        {"vector a\nalbedo@VB a F\n", "albedo@VBVVI(a, F, (0, 1, 0), (0, 1, 0), 15)\n"},
        {"vector v\nvector c\nint b\nsample_bsdf@BVVVVIFF F N N v c b 0.5 0.25\n",
         "sample_bsdf@BVVVVIFFI(F, N, N, v, c, b, 0.5, 0.25, 15)\n"},
        {"photon_store@VVVV N dPds (0.5, 0.5, 0.5) dPdt\n",
         "normalize@VV($t0, N)\nlafortune@BVVF(F, $t0, (0, 0, 1), 0)\nmul@BV(F, (0.5, 0.5, 0.5))\n"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(listingOf(c[0]), c[1]) << c[0];
}

TEST(ReWriteExpansion, MeasuredFillsTheNormalisedFrameAndKeepsItsFlag)
{
    Installed lib;
    std::string error;
    std::unique_ptr<KAL_Shader> shader = compile(lib.context, "measured@BS F \"gold.dat\"\n", error);
    ASSERT_TRUE(shader) << error;
    const KAL_Program &program = *shader->getProgram();
    EXPECT_EQ(program.listing(), "normalize@VV($t0, N)\n"
                                 "normalize@VV($t1, dPds)\n"
                                 "normalize@VV($t2, dPdt)\n"
                                 "measured@BSVVV(F, \"gold.dat\", $t0, $t1, $t2)\n");
    // Registered with the side-effect flag at both stages and at the op.
    EXPECT_EQ(lib.context.findOp("measured@BS")->getOpFlag(), 0x2000000);
    EXPECT_EQ(lib.context.findOp("measured@BSV")->getOpFlag(), 0x2000000);
    EXPECT_EQ(program.getOp(3)->getOpFlag(), 0x2000000);
    EXPECT_EQ(program.getOp(3)->getArgCount(), -6);
}

TEST(ReWriteExpansion, PhotonFunctionsSetTheGlobalBsdf)
{
    EXPECT_EQ(listingOf("photon_store@VVVV N dPds (0.5, 0.5, 0.5) dPdt\n"), "normalize@VV($t0, N)\n"
                                                                            "lafortune@BVVF(F, $t0, (0, 0, 1), 0)\n"
                                                                            "mul@BV(F, (0.5, 0.5, 0.5))\n");
    EXPECT_EQ(listingOf("photon_diffuse@VVV N dPds (1, 2, 3)\n"), "normalize@VV($t0, N)\n"
                                                                  "lafortune@BVVF(F, $t0, (0, 0, 1), 0)\n"
                                                                  "mul@BV(F, (1, 2, 3))\n");
    EXPECT_EQ(listingOf("photon_reflect@VVV N dPds (1, 2, 3)\n"), "specular@BV(F, dPds)\n"
                                                                  "mul@BV(F, (1, 2, 3))\n");
    EXPECT_EQ(listingOf("photon_transmit@VVV N dPdt (1, 1, 1)\n"), "specular@BV(F, dPdt)\n"
                                                                   "mul@BV(F, (1, 1, 1))\n");
}

TEST(ReWriteExpansion, PhotonFunctionsNeedTheGeneralInstall)
{
    KAL_Context context;
    SRF_Functions::installPhotonFunctions(context);
    std::string error;
    EXPECT_FALSE(compile(context, "# old shader\nphoton_reflect@VVV N N (1, 1, 1)\n", error));
    EXPECT_NE(error.find("test.kal:2"), std::string::npos) << error;
    EXPECT_NE(error.find("specular@BV"), std::string::npos) << error;
}

TEST(ReWriteExpansion, WrittenArgumentsMustBeVariables)
{
    Installed lib;
    std::string error;
    // "sample_bsdf@BVVVVIFF" writes arguments 3, 4 and 5 and reads the rest.
    EXPECT_TRUE(
        compile(lib.context, "vector v\nvector c\nint b\nsample_bsdf@BVVVVIFF F (0, 0, 1) N v c b 0.5 0.5\n", error))
        << error;
    EXPECT_FALSE(compile(lib.context, "vector c\nint b\nsample_bsdf@BVVVVIFF F N N (0, 0, 1) c b 0.5 0.5\n", error));
    EXPECT_NE(error.find("test.kal:3"), std::string::npos) << error;
    EXPECT_FALSE(compile(lib.context, "vector v\nvector c\nsample_bsdf@BVVVVIFF F N N v c 3 0.5 0.5\n", error));
    // A query writes its result, argument 0.
    EXPECT_FALSE(compile(lib.context, "albedo@VB (0, 0, 0) F\n", error));
    // A photon function writes none of its arguments.
    EXPECT_TRUE(compile(lib.context, "photon_store@VVVV (1, 0, 0) (0, 1, 0) (0.5, 0.5, 0.5) (0, 0, 1)\n", error))
        << error;
}

// ---------------------------------------------------------------------------
// Running: a shader that calls a rewrite against the same shader with the
// native calls written out by hand, lane by lane.

const int LANES = 8;
const int IDLE_LANE = 5; // a lane that is not running

// Variables both shaders of a pair declare; the host sets every varying one
// per lane, and F and b are the BSDF results.
const char *const thePrelude = "varying float e\n"
                               "varying float e2\n"
                               "varying vector n\n"
                               "varying vector k\n"
                               "varying vector col\n"
                               "varying vector t1\n"
                               "varying vector t2\n"
                               "varying vector u\n"
                               "varying vector v\n"
                               "varying float sx\n"
                               "varying float sy\n"
                               "varying int mask\n"
                               "varying vector out\n"
                               "varying vector dir\n"
                               "varying int bounce\n"
                               "varying float ratio\n"
                               "varying vector nn\n"
                               "varying vector s\n"
                               "varying vector t\n"
                               "varying float ee\n"
                               "bsdf b\n";

// A glossy plastic for the query rewrites to ask, built with native ops
// only: a tinted diffuse lobe plus a Phong lobe, about n.
const char *const theScene = "lafortune@BVVF F n (0, 0, 1) 0\n"
                             "mul@BV F col\n"
                             "lafortune@BVVF b n (-1, -1, 1) e\n"
                             "add@BB F b\n";

struct Value
{
    const char *name;
    char type;
};
const Value theValues[] = {{"e", 'F'},     {"e2", 'F'},   {"n", 'V'},    {"k", 'V'},   {"col", 'V'},
                           {"t1", 'V'},    {"t2", 'V'},   {"u", 'V'},    {"v", 'V'},   {"sx", 'F'},
                           {"sy", 'F'},    {"mask", 'I'}, {"out", 'V'},  {"dir", 'V'}, {"bounce", 'I'},
                           {"ratio", 'F'}, {"N", 'V'},    {"dPds", 'V'}, {"dPdt", 'V'}};

using TestUtil::unit;

// The inputs of lane l. The globals are deliberately not of unit length, so
// that a missing normalisation shows.
void fillLane(KAL_Instance &instance, int l)
{
    const float f = float(l);
    instance.setVector("N", l, BX_Vector3(0.2f * std::sin(f), 0.15f * f - 0.4f, 1.3f + 0.1f * f));
    instance.setVector("dPds", l, BX_Vector3(1.5f, 0.1f * f, 0.2f));
    instance.setVector("dPdt", l, BX_Vector3(0.1f, 1.2f + 0.05f * f, -0.3f));
    instance.setFloat("e", l, 2.0f + 3.0f * f);
    instance.setFloat("e2", l, 40.0f - 4.0f * f);
    instance.setVector("n", l, unit(0.1f * f, -0.2f, 1.0f));
    instance.setVector("k", l, BX_Vector3(-0.9f + 0.02f * f, -0.8f, 1.0f));
    instance.setVector("col", l, BX_Vector3(0.2f + 0.1f * f, 0.5f, 0.9f - 0.1f * f));
    instance.setVector("t1", l, unit(1.0f, 0.1f * f, 0.0f));
    instance.setVector("t2", l, unit(-0.1f * f, 1.0f, 0.0f));
    instance.setVector("u", l, unit(0.3f, -0.2f + 0.05f * f, 1.0f));
    instance.setVector("v", l, unit(-0.4f + 0.03f * f, 0.25f, 0.9f));
    instance.setFloat("sx", l, 0.1f + 0.1f * f);
    instance.setFloat("sy", l, 0.9f - 0.1f * f);
    const int masks[LANES] = {15, 1, 2, 3, 15, 7, 8, 2};
    instance.setInt("mask", l, masks[l]);
}

// A compiled shader and an instance run once over the lanes.
struct ShaderRun
{
    std::unique_ptr<KAL_Shader> shader;
    KAL_Instance *instance = nullptr;
    std::string error;

    ShaderRun(const KAL_Context &context, const std::string &body)
    {
        shader = compile(context, std::string(thePrelude) + body, error);
        if (!shader)
            return;
        instance = shader->createInstance();
        for (int l = 0; l < LANES; ++l)
            fillLane(*instance, l);
        KAL_ProcArray lanes(LANES);
        lanes.setState(IDLE_LANE, 1);
        instance->run(lanes);
    }
    ~ShaderRun() { delete instance; }
    const SRF_BSDF *bsdf(const char *name) const { return static_cast<const SRF_BSDF *>(instance->getRef(name)); }
};

bool same(float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); }
bool same(const BX_Vector3 &a, const BX_Vector3 &b) { return same(a.x, b.x) && same(a.y, b.y) && same(a.z, b.z); }

std::string text(const BX_Vector3 &a)
{
    char buffer[96];
    snprintf(buffer, sizeof buffer, "(%.9g, %.9g, %.9g)", double(a.x), double(a.y), double(a.z));
    return buffer;
}

// The class names of a BSDF tree, depth first.
std::string treeOf(const SRF_BSDF *bsdf)
{
    if (!bsdf)
        return "null";
    const TestUtil::Flat flat(const_cast<SRF_BSDF *>(bsdf));
    std::string out;
    for (int i = 0; i < flat.bsdfs.entries(); ++i)
        out += std::string(i ? " " : "") + flat.bsdfs[i]->className();
    return out;
}

// u mirrored about the unit vector h.
BX_Vector3 mirror(const BX_Vector3 &u, const BX_Vector3 &h) { return h * (2.0f * u.dot(h)) - u; }

void expectNear(const BX_Vector3 &actual, const BX_Vector3 &expected, float tolerance)
{
    EXPECT_NEAR(actual.x, expected.x, tolerance) << text(actual) << " vs " << text(expected);
    EXPECT_NEAR(actual.y, expected.y, tolerance) << text(actual) << " vs " << text(expected);
    EXPECT_NEAR(actual.z, expected.z, tolerance) << text(actual) << " vs " << text(expected);
}

BX_Vector3 evaluateIn(const SRF_BSDF &bsdf, int lane, const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v)
{
    BX_Vector3 colour;
    float scalar = 0.0f;
    bsdf.evaluate(u, n, v, colour, scalar, lane, SRF_BOUNCE_ALL);
    return colour;
}

// Every query of two BSDFs gives the same answer, bit for bit, in one lane.
void expectSameBsdf(const SRF_BSDF *a, const SRF_BSDF *b, int lane, const BX_Vector3 &u, const BX_Vector3 &n,
                    const BX_Vector3 &v)
{
    ASSERT_EQ(a == nullptr, b == nullptr);
    if (!a)
        return;
    EXPECT_EQ(a->getBounces(lane), b->getBounces(lane));
    BX_Vector3 ca, cb;
    float sa = 0.0f, sb = 0.0f;
    a->evaluate(u, n, v, ca, sa, lane, SRF_BOUNCE_ALL);
    b->evaluate(u, n, v, cb, sb, lane, SRF_BOUNCE_ALL);
    EXPECT_TRUE(same(ca, cb) && same(sa, sb))
        << "evaluate " << text(ca) << " " << sa << " vs " << text(cb) << " " << sb;
    // A measured lobe samples with the process-wide generator of its data
    // set, so two draws never repeat each other; its values are compared.
    const bool repeatable = std::string(a->className()) != "SRF_Measured";
    const float randoms[][2] = {{0.1f, 0.7f}, {0.6f, 0.3f}, {0.95f, 0.5f}, {0.3f, 0.05f}};
    for (int i = 0; repeatable && i < 4; ++i)
    {
        BX_Vector3 va, vb;
        int ba = 0, bb = 0;
        a->sample(u, n, va, ca, sa, ba, randoms[i][0], randoms[i][1], lane, SRF_BOUNCE_ALL);
        b->sample(u, n, vb, cb, sb, bb, randoms[i][0], randoms[i][1], lane, SRF_BOUNCE_ALL);
        EXPECT_TRUE(same(va, vb) && same(ca, cb) && same(sa, sb) && ba == bb)
            << "sample " << text(va) << " " << text(ca) << " vs " << text(vb) << " " << text(cb);
    }
    EXPECT_TRUE(same(a->albedo(u, n, lane, SRF_BOUNCE_ALL), b->albedo(u, n, lane, SRF_BOUNCE_ALL)));
    EXPECT_TRUE(same(a->specularRatio(lane, SRF_BOUNCE_ALL), b->specularRatio(lane, SRF_BOUNCE_ALL)));
    a->emission(ca, lane);
    b->emission(cb, lane);
    EXPECT_TRUE(same(ca, cb));
}

// Both runs hold the same values in every lane that ran, and BSDFs that
// answer every query alike.
void expectSameRuns(const ShaderRun &x, const ShaderRun &y)
{
    for (int l = 0; l < LANES; ++l)
    {
        if (l == IDLE_LANE)
            continue;
        SCOPED_TRACE("lane " + std::to_string(l));
        for (const Value &value : theValues)
        {
            SCOPED_TRACE(value.name);
            if (value.type == 'V')
            {
                BX_Vector3 a, b;
                ASSERT_TRUE(x.instance->getVector(value.name, l, a) && y.instance->getVector(value.name, l, b));
                EXPECT_TRUE(same(a, b)) << text(a) << " vs " << text(b);
            }
            else if (value.type == 'F')
            {
                float a = 0.0f, b = 0.0f;
                ASSERT_TRUE(x.instance->getFloat(value.name, l, a) && y.instance->getFloat(value.name, l, b));
                EXPECT_TRUE(same(a, b)) << a << " vs " << b;
            }
            else
            {
                int a = 0, b = 0;
                ASSERT_TRUE(x.instance->getInt(value.name, l, a) && y.instance->getInt(value.name, l, b));
                EXPECT_EQ(a, b);
            }
        }
        BX_Vector3 u, n, v;
        x.instance->getVector("u", l, u);
        x.instance->getVector("n", l, n);
        x.instance->getVector("v", l, v);
        for (const char *name : {"F", "b"})
        {
            SCOPED_TRACE(name);
            EXPECT_EQ(treeOf(x.bsdf(name)), treeOf(y.bsdf(name)));
            expectSameBsdf(x.bsdf(name), y.bsdf(name), l, u, n, v);
        }
    }
}

// What a rewrite must produce for its run to say anything: a BSDF in the
// result, or an output that is not zero in some running lane.
enum Produces
{
    BSDF_F,
    BSDF_B,
    VECTOR_OUT,
    SAMPLE_OUT,
    FLOAT_RATIO
};

struct Pair
{
    const char *rewritten; // the call of the rewrite
    const char *native;    // the native calls it stands for
    const char *scene;     // what runs before both, or null
    Produces produces;
};

const Pair thePairs[] = {
    {"phong@BF F e", "normalize@VV nn N\nlafortune@BVVF F nn (-1, -1, 1) e", nullptr, BSDF_F},
    {"phong@BVF b n e", "lafortune@BVVF b n (-1, -1, 1) e", nullptr, BSDF_B},
    {"diffuse@B F", "normalize@VV nn N\nlafortune@BVVF F nn (0, 0, 1) 0", nullptr, BSDF_F},
    {"diffuse@BV F n", "lafortune@BVVF F n (0, 0, 1) 0", nullptr, BSDF_F},
    {"matchkal_blinn@BF F e", "set@FF ee e\nmul@FF ee e\nnormalize@VV nn N\nblinn@BVF F nn ee\nmul@BF F 2", nullptr,
     BSDF_F},
    {"matchkal_blinn@BVF F n e", "set@FF ee e\nmul@FF ee e\nblinn@BVF F n ee\nmul@BF F 2", nullptr, BSDF_F},
    {"matchkal_specular@BF F e", "set@FF ee e\nmul@FF ee e\nnormalize@VV nn N\nblinn@BVF F nn ee\nmul@BF F 2", nullptr,
     BSDF_F},
    {"matchkal_specular@BVF F n e", "set@FF ee e\nmul@FF ee e\nblinn@BVF F n ee\nmul@BF F 2", nullptr, BSDF_F},
    {"lafortune@BVF F k e", "normalize@VV nn N\nlafortune@BVVF F nn k e", nullptr, BSDF_F},
    {"ashikhmin@BFFVV F e e2 t1 t2", "normalize@VV nn N\nashikhmin@BVFFVV F nn e e2 t1 t2", nullptr, BSDF_F},
    {"blinn@BF F e", "normalize@VV nn N\nblinn@BVF F nn e", nullptr, BSDF_F},
    {"albedo@VBVV out F u n", "albedo@VBVVI out F u n 15", theScene, VECTOR_OUT},
    {"albedo@VBI out F mask", "albedo@VBVVI out F (0, 1, 0) (0, 1, 0) mask", theScene, VECTOR_OUT},
    {"albedo@VB out F", "albedo@VBVVI out F (0, 1, 0) (0, 1, 0) 15", theScene, VECTOR_OUT},
    {"eval_bsdf@VBVVV out F u n v", "eval_bsdf@VBVVVI out F u n v 15", theScene, VECTOR_OUT},
    {"sample_bsdf@BVVVVIFF F u n dir out bounce sx sy", "sample_bsdf@BVVVVIFFI F u n dir out bounce sx sy 15", theScene,
     SAMPLE_OUT},
    {"specularratio_bsdf@FB ratio F", "specularratio_bsdf@FBI ratio F 15", theScene, FLOAT_RATIO},
    {"photon_store@VVVV u n col v", "normalize@VV nn N\nlafortune@BVVF F nn (0, 0, 1) 0\nmul@BV F col", nullptr,
     BSDF_F},
    {"photon_diffuse@VVV u n col", "normalize@VV nn N\nlafortune@BVVF F nn (0, 0, 1) 0\nmul@BV F col", nullptr, BSDF_F},
    {"photon_reflect@VVV u n col", "specular@BV F n\nmul@BV F col", nullptr, BSDF_F},
    {"photon_transmit@VVV u t1 col", "specular@BV F t1\nmul@BV F col", nullptr, BSDF_F},
};

// True when the run produced what its rewrite is for.
bool produced(const ShaderRun &run, Produces what)
{
    switch (what)
    {
    case BSDF_F:
        return run.bsdf("F") != nullptr;
    case BSDF_B:
        return run.bsdf("b") != nullptr;
    default:
        break;
    }
    for (int l = 0; l < LANES; ++l)
    {
        BX_Vector3 out;
        float ratio = 0.0f;
        int bounce = 0;
        run.instance->getVector(what == SAMPLE_OUT ? "dir" : "out", l, out);
        run.instance->getFloat("ratio", l, ratio);
        run.instance->getInt("bounce", l, bounce);
        if ((what == FLOAT_RATIO && ratio != 0.0f) || (what == SAMPLE_OUT && bounce != 0 && out.length2() > 0.0f) ||
            (what == VECTOR_OUT && out.length2() > 0.0f))
            return true;
    }
    return false;
}

TEST(ReWriteRun, EachRewriteRunsLikeTheNativeCallsItStandsFor)
{
    Installed lib;
    for (const Pair &pair : thePairs)
    {
        SCOPED_TRACE(pair.rewritten);
        const std::string scene = pair.scene ? pair.scene : "";
        ShaderRun rewritten(lib.context, scene + pair.rewritten + "\n");
        ShaderRun native(lib.context, scene + pair.native + "\n");
        ASSERT_TRUE(rewritten.instance) << rewritten.error;
        ASSERT_TRUE(native.instance) << native.error;
        EXPECT_TRUE(produced(rewritten, pair.produces));
        expectSameRuns(rewritten, native);
    }
}

// The measured rewrites reach the measured op with the normalised frame.
// Both shaders name one file, so they share its cached data set.
TEST(ReWriteRun, MeasuredRewritesRunLikeTheMeasuredOp)
{
    const std::string path = std::string(SRF_BINARY_TEST_DIR) + "/rewrites_measured.astm";
    struct Remove
    {
        const std::string &path;
        ~Remove() { std::remove(path.c_str()); }
    } remove{path};
    FILE *file = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(file);
    // A glossy grey surface: a constant plus a lobe about the mirror
    // direction, at a grid of angle pairs.
    const int POINTS = 96;
    std::fprintf(file, "NUM_POINTS %d\nVARS theta_i phi_i theta_s phi_s I\n\n", POINTS);
    for (int i = 0; i < POINTS; ++i)
    {
        const float ti = 0.1f + 0.12f * float(i % 8), ts = 0.05f + 0.11f * float(i / 8 % 12);
        const float pi = 0.3f * float(i % 5), ps = pi + 3.14159265f + 0.2f * float(i % 3 - 1);
        const float c = std::cos(ti) * std::cos(ts) + std::sin(ti) * std::sin(ts) * std::cos(ps - pi - 3.14159265f);
        std::fprintf(file, "%.7g %.7g %.7g %.7g %.7g\n", ti, pi, ts, ps,
                     0.1f + 0.8f * std::pow(std::max(c, 0.0f), 20.0f));
    }
    std::fclose(file);

    Installed lib;
    const std::string name = "\"" + path + "\"";
    const std::string pairs[][2] = {
        {"measured@BSV F " + name + " n",
         "normalize@VV s dPds\nnormalize@VV t dPdt\nmeasured@BSVVV F " + name + " n s t"},
        {"measured@BS F " + name,
         "normalize@VV nn N\nnormalize@VV s dPds\nnormalize@VV t dPdt\nmeasured@BSVVV F " + name + " nn s t"},
    };
    for (const auto &pair : pairs)
    {
        SCOPED_TRACE(pair[0]);
        ShaderRun rewritten(lib.context, pair[0] + "\n");
        ShaderRun native(lib.context, pair[1] + "\n");
        ASSERT_TRUE(rewritten.instance) << rewritten.error;
        ASSERT_TRUE(native.instance) << native.error;
        ASSERT_TRUE(produced(rewritten, BSDF_F));
        EXPECT_EQ(treeOf(rewritten.bsdf("F")), "SRF_Measured");
        // The file was read and fitted: the lobe reflects light.
        BX_Vector3 u, n;
        rewritten.instance->getVector("u", 0, u);
        rewritten.instance->getVector("n", 0, n);
        EXPECT_GT(evaluateIn(*rewritten.bsdf("F"), 0, u, n, mirror(u, n)).x, 0.0f);
        expectSameRuns(rewritten, native);
    }
    // The data set stays in the process-wide cache until unload.
    PoolCheck::rebaseline();
}

// ---------------------------------------------------------------------------
// The example shaders: each compiles and runs, and builds the material its
// comment describes, checked against values worked out by hand.

// The shading frame of lane l: an orthonormal right-handed (t1, t2, n), tilted
// and turned differently in every lane. The globals the host passes are
// these directions at lengths other than 1, as a renderer's derivatives are.
struct Frame
{
    BX_Vector3 t1, t2, n;
};

Frame frameOf(int l)
{
    const float theta = 0.07f * float(l), phi = 0.4f * float(l);
    Frame f;
    f.n = BX_Vector3(std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi), std::cos(theta));
    f.t1 = BX_Vector3(std::cos(theta) * std::cos(phi), std::cos(theta) * std::sin(phi), -std::sin(theta));
    f.t2 = f.n.cross(f.t1);
    return f;
}

// Compiles examples/NAME and runs it over the lanes with each lane's frame.
struct Example
{
    std::unique_ptr<KAL_Shader> shader;
    KAL_Instance *instance = nullptr;
    std::string error;

    Example(const KAL_Context &context, const char *name)
    {
        const std::string path = std::string(SRF_SOURCE_DIR) + "/examples/" + name;
        shader = KAL_ShaderLoader::load(context, path.c_str(), error);
        if (!shader)
            return;
        instance = shader->createInstance();
        for (int l = 0; l < LANES; ++l)
        {
            const Frame f = frameOf(l);
            instance->setVector("N", l, f.n * (1.5f + 0.25f * float(l)));
            instance->setVector("dPds", l, f.t1 * (3.0f + float(l)));
            instance->setVector("dPdt", l, f.t2 * (0.5f + 0.125f * float(l)));
        }
        KAL_ProcArray lanes(LANES);
        lanes.setState(IDLE_LANE, 1);
        instance->run(lanes);
    }
    ~Example() { delete instance; }
    const SRF_BSDF *bsdf() const { return static_cast<const SRF_BSDF *>(instance->getRef("F")); }
};

// Runs an example, checks its tree and bounce set, and calls `check` for
// every running lane with the lane's frame.
void checkExample(const char *name, const char *tree, int bounces,
                  const std::function<void(const SRF_BSDF &, int, const Frame &)> &check)
{
    Installed lib;
    Example ex(lib.context, name);
    ASSERT_TRUE(ex.instance) << ex.error;
    ASSERT_EQ(treeOf(ex.bsdf()), tree);
    EXPECT_EQ(ex.bsdf()->getBounces(0), bounces);
    for (int l = 0; l < LANES; ++l)
        if (l != IDLE_LANE)
        {
            SCOPED_TRACE("lane " + std::to_string(l));
            check(*ex.bsdf(), l, frameOf(l));
        }
}

TEST(ExampleShaders, DiffuseIsATintedCosineAboutTheNormalisedNormal)
{
    const BX_Vector3 clay(0.72f, 0.52f, 0.38f);
    checkExample("diffuse.kal", "SRF_ScaleBSDF SRF_Lafortune", SRF_BOUNCE_DIFFUSE,
                 [&](const SRF_BSDF &bsdf, int l, const Frame &f)
                 {
                     const BX_Vector3 u = unit(f.n.x + 0.3f, f.n.y, f.n.z);
                     const BX_Vector3 v = (f.n * 0.6f + f.t2 * 0.8f);
                     // f = clay |N.v| on u's side of the lane's normal, 0 on the other.
                     expectNear(evaluateIn(bsdf, l, u, f.n, v), clay * 0.6f, 1e-5f);
                     expectNear(evaluateIn(bsdf, l, u, f.n, -v), BX_Vector3(), 0.0f);
                 });
}

TEST(ExampleShaders, PlasticAddsAPhongCoatToATintedDiffuseBase)
{
    const BX_Vector3 tint(0.8f, 0.2f, 0.1f);
    const float coat = 0.25f, shine = 40.0f;
    checkExample("plastic.kal", "SRF_SumBSDF SRF_ScaleBSDF SRF_Lafortune SRF_ScaleBSDF SRF_Lafortune",
                 SRF_BOUNCE_DIFFUSE | SRF_BOUNCE_GLOSSY,
                 [&](const SRF_BSDF &bsdf, int l, const Frame &f)
                 {
                     const BX_Vector3 u = f.n * 0.8f + f.t1 * 0.6f;
                     // In the mirror direction the Phong term q = uy vy + uz vz is 1:
                     // f = tint |N.v| + coat.
                     const BX_Vector3 r = mirror(u, f.n);
                     expectNear(evaluateIn(bsdf, l, u, f.n, r), tint * 0.8f + BX_Vector3(coat, coat, coat), 1e-4f);
                     // Off the mirror direction by 0.2 radian the coat falls to cos^40.
                     const BX_Vector3 off = f.n * std::cos(0.8f) + f.t1 * -std::sin(0.8f);
                     const float q = u.dot(f.n) * off.dot(f.n) - u.dot(f.t1) * off.dot(f.t1);
                     const float c = coat * std::pow(q, shine);
                     expectNear(evaluateIn(bsdf, l, u, f.n, off), tint * std::cos(0.8f) + BX_Vector3(c, c, c), 1e-4f);
                 });
}

TEST(ExampleShaders, BrushedMetalIsNarrowAlongTheBrushAndWideAcrossIt)
{
    const BX_Vector3 gold(1.0f, 0.78f, 0.34f);
    const float along = 400.0f, across = 12.0f, tilt = 0.1f;
    checkExample("metal.kal", "SRF_ScaleBSDF SRF_Ashikhmin", SRF_BOUNCE_GLOSSY,
                 [&](const SRF_BSDF &bsdf, int l, const Frame &f)
                 {
                     // Seen from the normal, a half vector tilted by 0.1 radian toward a
                     // tangent: f = cos(tilt)^e / (4 cos(tilt)), e that tangent's exponent.
                     const BX_Vector3 hAlong = f.n * std::cos(tilt) + f.t1 * std::sin(tilt);
                     const BX_Vector3 hAcross = f.n * std::cos(tilt) + f.t2 * std::sin(tilt);
                     const float fAlong = std::pow(std::cos(tilt), along) / (4.0f * std::cos(tilt));
                     const float fAcross = std::pow(std::cos(tilt), across) / (4.0f * std::cos(tilt));
                     expectNear(evaluateIn(bsdf, l, f.n, f.n, mirror(f.n, hAlong)), gold * fAlong, 1e-4f);
                     expectNear(evaluateIn(bsdf, l, f.n, f.n, mirror(f.n, hAcross)), gold * fAcross, 1e-4f);
                 });
}

TEST(ExampleShaders, HairScattersAboutTheCurveTangent)
{
    const BX_Vector3 base(0.30f, 0.18f, 0.10f);
    const float sheen = 0.4f;
    checkExample("hair.kal", "SRF_SumBSDF SRF_ScaleBSDF SRF_WireDiffuse SRF_ScaleBSDF SRF_WireBlinn",
                 SRF_BOUNCE_DIFFUSE | SRF_BOUNCE_GLOSSY,
                 [&](const SRF_BSDF &bsdf, int l, const Frame &f)
                 {
                     // Both directions across the tangent: the half vector is too, so
                     // f = base (1 - 0) + sheen sin(90 degrees)^60.
                     const BX_Vector3 u = unit(f.n.x + f.t2.x, f.n.y + f.t2.y, f.n.z + f.t2.z);
                     expectNear(evaluateIn(bsdf, l, u, f.n, f.n), base + BX_Vector3(sheen, sheen, sheen), 1e-5f);
                     // Along the tangent: no diffuse term (up to the rounding of 1 - (T.v)^2),
                     // and sin(45 degrees)^60 = 2^-30.
                     const float glint = sheen * std::pow(0.5f, 30.0f);
                     expectNear(evaluateIn(bsdf, l, f.n, f.n, f.t1), BX_Vector3(glint, glint, glint), 1e-6f);
                 });
}

TEST(ExampleShaders, EmitterGlowsAndScattersNothing)
{
    checkExample("emitter.kal", "SRF_ScaleBSDF SRF_Emission", SRF_BOUNCE_EMISSION,
                 [](const SRF_BSDF &bsdf, int l, const Frame &f)
                 {
                     BX_Vector3 glow;
                     bsdf.emission(glow, l);
                     expectNear(glow, BX_Vector3(4.0f, 3.4f, 2.6f), 0.0f);
                     expectNear(evaluateIn(bsdf, l, f.n, f.n, f.n), BX_Vector3(), 0.0f);
                     EXPECT_EQ(bsdf.albedo(f.n, f.n, l, SRF_BOUNCE_ALL), 0.0f);
                 });
}

bool finite(const BX_Vector3 &a) { return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z); }

// Whatever the folder holds: every shader compiles, runs twice on one
// instance, and builds a BSDF that answers every query with finite values.
TEST(ExampleShaders, EveryExampleCompilesAndRuns)
{
    Installed lib;
    int count = 0;
    for (const auto &entry : std::filesystem::directory_iterator(std::string(SRF_SOURCE_DIR) + "/examples"))
    {
        if (entry.path().extension() != ".kal")
            continue;
        ++count;
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        Example ex(lib.context, name.c_str());
        ASSERT_TRUE(ex.instance) << ex.error;
        ASSERT_NE(ex.bsdf(), nullptr);
        KAL_ProcArray lanes(LANES);
        EXPECT_GT(ex.instance->run(lanes), 0); // a second run replaces the first BSDFs
        const SRF_BSDF &bsdf = *ex.bsdf();
        EXPECT_NE(bsdf.getBounces(0), 0);
        for (int l = 0; l < LANES; ++l)
        {
            const Frame f = frameOf(l);
            const BX_Vector3 u = f.n * 0.6f + f.t1 * 0.8f;
            for (int i = 0; i < 16; ++i)
            {
                BX_Vector3 v, colour, glow;
                float scalar = 0.0f;
                int bounce = 0;
                bsdf.sample(u, f.n, v, colour, scalar, bounce, (float(i) + 0.5f) / 16.0f,
                            float((i * 7) % 16 + 0.5f) / 16.0f, l, SRF_BOUNCE_ALL);
                EXPECT_TRUE(finite(v) && finite(colour) && std::isfinite(scalar));
                EXPECT_EQ(bounce & ~bsdf.getBounces(l), 0);
                const BX_Vector3 w = unit(f.n.x + 0.1f * float(i - 8), f.n.y, f.n.z);
                EXPECT_TRUE(finite(evaluateIn(bsdf, l, u, f.n, w)));
                bsdf.emission(glow, l);
                EXPECT_TRUE(finite(glow));
            }
            EXPECT_TRUE(std::isfinite(bsdf.albedo(u, f.n, l, SRF_BOUNCE_ALL)));
            EXPECT_TRUE(std::isfinite(bsdf.specularRatio(l, SRF_BOUNCE_ALL)));
        }
    }
    EXPECT_GE(count, 5);
}
} // namespace
