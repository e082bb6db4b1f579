// The runtime as the library uses it (its ops and rewrites are run by every
// op test): faulty rewrite programs and malformed text shaders give one
// error naming the file, the line and the call; instances hold one
// reference per BSDF variable; instances of one program run on threads.
#include "KAL_IReWrite.h"
#include "KAL_OpCode.h"
#include "KAL_Program.h"
#include "Program.h"
#include "SRF_Isotropic.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

namespace
{
uint32_t W(int kind, int index) { return KAL_IReWrite::makeWord(kind, index); }
uint32_t OP(int i) { return W(1, i); }
uint32_t ARG(int i) { return W(2, i); }
uint32_t TMP(int i) { return W(3, i); }
uint32_t CON(int i) { return W(4, i); }
const uint32_t END = 0;
const char *const NAMES[] = {"normalize@VV", "getbounces@IB", "nosuch@I", "Q", "N", "self@I", "unk@I"};
const int32_t INTS[] = {15};
const float FLOATS[] = {0.0f, 1.0f, 0.0f, 0.5f, 0.5f};
const int VEC[] = {2}, FLT[] = {3};

std::string errorOf(const KAL_Context &context, const std::string &text)
{
    std::string error;
    EXPECT_FALSE(KAL_ShaderLoader::compileText(context, text, "t.kal", error));
    return error;
}
} // namespace

// Each faulty program, installed as a rewrite, names its fault after the
// file, line and call it was expanded for; the chain of expansions is named.
TEST(Kal, FaultyRewritesGiveOneErrorNamingTheCall)
{
    static const int farVector[] = {3}, nearInt[] = {0};
    struct Case
    {
        const char *signature;
        std::vector<uint32_t> words;
        const int *tempTypes, *constTypes, *constIdx;
        const char *expected;
    };
    const Case cases[] = {
        {"k5@V", {OP(0), W(5, 0), ARG(0), END}, nullptr, nullptr, nullptr, "has the unknown kind 5"},
        {"name@V", {OP(99), ARG(0), END}, nullptr, nullptr, nullptr, "name index 99 is outside"},
        {"unk@I", {OP(2), ARG(0), END}, nullptr, nullptr, nullptr, "unknown op \"nosuch@I\""},
        {"few@V", {OP(0), ARG(0), END}, nullptr, nullptr, nullptr, "takes 2 operands, the program gives 1"},
        {"arg@V", {OP(0), ARG(0), ARG(1), END}, nullptr, nullptr, nullptr, "is argument 1 of a call with 1"},
        {"tkind@V", {OP(0), ARG(0), TMP(0), END}, FLT, nullptr, nullptr, "is a float, \"normalize@VV\" wants"},
        {"cfar@V", {OP(0), ARG(0), CON(0), END}, nullptr, VEC, farVector, "reads the float table at 3"},
        {"cwrite@V", {OP(0), CON(0), ARG(0), END}, nullptr, VEC, nearInt, "is a constant, but \"normalize@VV\""},
        {"glob@V", {OP(0), ARG(0), OP(3), END}, nullptr, nullptr, nullptr, "names \"Q\", which is not"},
        {"self@I", {OP(5), ARG(0), END}, nullptr, nullptr, nullptr, "nest deeper than 32"},
        {"outer@I",
         {OP(6), ARG(0), END},
         nullptr,
         nullptr,
         nullptr,
         "in rewrite \"outer@I\" > \"unk@I\", instruction 1: unknown op \"nosuch@I\""},
    };
    KAL_Context context;
    SRF_Functions::installFunctions(context);
    std::vector<std::unique_ptr<KAL_IReWrite>> rewrites;
    for (const Case &c : cases)
    {
        rewrites.emplace_back(new KAL_IReWrite(c.signature, 1, NAMES, 7, INTS, 1, FLOATS, 5, c.words.data(),
                                               int(c.words.size()), c.tempTypes, c.tempTypes ? 1 : 0, c.constTypes,
                                               c.constIdx, c.constTypes ? 1 : 0));
        new KAL_OpCode(context, rewrites.back().get(), nullptr, 0);
    }
    for (const Case &c : cases)
    {
        const std::string sig = c.signature;
        const std::string error = errorOf(context, "int i\nvector v\n\n" + sig + (sig.back() == 'I' ? " i\n" : " v\n"));
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        EXPECT_EQ(error.rfind("t.kal:4: call \"" + sig + "\": ", 0), 0u) << error;
    }
}

// A text shader: declarations (uniform and varying, with and without an
// initial value, a parenthesised vector), comments, CRLF line ends; every
// malformed line gives one message with file and line.
TEST(Kal, LoaderReadsShadersAndReportsFileAndLine)
{
    Program p("# a comment\r\nvector axis = (0, 0, 2)   # parenthesised\nfloat shine=4e1\nint count = -3\n"
              "varying float ramp\nuniform bsdf coat\n \t\nphong@BF coat shine\nlafortune@BVVF F axis (1, 2, 3) +.5\n");
    ASSERT_TRUE(p.ok()) << p.error;
    EXPECT_EQ(p.shader->getProgram()->listing(), "normalize@VV($t0, N)\n"
                                                 "lafortune@BVVF(coat, $t0, (-1, -1, 1), shine)\n"
                                                 "lafortune@BVVF(F, axis, (1, 2, 3), 0.5)\n");
    const KAL_Program &program = *p.shader->getProgram();
    EXPECT_TRUE(program.isVariableVarying(program.findVariable("ramp")));
    EXPECT_FALSE(program.isVariableVarying(program.findVariable("axis")));
    EXPECT_EQ(program.getLine(2), 9);
    EXPECT_EQ(p.integer("count", 0), -3);

    const std::string head = "float e = 2\nbsdf b\n";
    const std::pair<std::string, std::string> cases[] = {
        {head + "nosuch@BF b e\n", "t.kal:3: call \"nosuch@BF\": unknown signature"},
        {head + "phong@BF e e\n", "t.kal:3: call \"phong@BF\": operand 1 \"e\": is a float, the op wants a bsdf"},
        {"phong@BF F late\nfloat late = 1\n", "t.kal:1: call \"phong@BF\": operand 2 \"late\": undeclared variable"},
        {head + "phong@BF b 1e99\n", "t.kal:3: call \"phong@BF\": operand 2: \"1e99\" is out of range for a float "
                                     "(nonzero magnitudes from 1.4e-45 to 3.4e+38)"},
        {head + "phong@BF b -inf\n", "t.kal:3: call \"phong@BF\": operand 2: \"-inf\" is not a finite number"},
        {head + "phong@BF b 1x\n", "t.kal:3: call \"phong@BF\": operand 2: \"1x\" is not a number"},
        {"vector v = 1 -1e-50 0\nphong@BF F 1\n", "t.kal:1: declaration of \"v\": \"-1e-50\" is out of range for a "
                                                  "float (nonzero magnitudes from 1.4e-45 to 3.4e+38)"},
        // Quoted text is cut after 40 characters, never inside one, and
        // bytes that are not UTF-8 text are shown by their value.
        {"float x = a" + std::string(30, 'a') +
             "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9" + "\nphong@BF F 1\n",
         "t.kal:1: declaration of \"x\": \"a" + std::string(30, 'a') +
             "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9...\" is not a number"},
        {"\xFF\xFE\xC2\x85\xC3\n", "t.kal:1: expected a declaration or a call (name@LETTERS), found "
                                   "\"\\xFF\\xFE\\xC2\\x85\\xC3\""},
        {head + "getbounces@IB 2 b\n",
         "t.kal:3: call \"getbounces@IB\": operand 1 \"2\": the op writes this operand, so it must be a variable"},
        {head + "lafortune@BVVF b (1, 2) (1, 1, 1) e\n",
         "t.kal:3: call \"lafortune@BVVF\": operand 2: \"(1, 2)\" is not a vector (x, y, z)"},
        {"", "t.kal:1: the shader is empty"},
        {"hello world\n", "t.kal:1: expected a declaration or a call (name@LETTERS), found \"hello\""},
        {std::string("phong@BF F 1\nx\0y@B F\n", 22), "t.kal:2: the line holds a NUL byte: not a text shader"},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(errorOf(Program::library(), text), expected);
    const std::string error = errorOf(Program::library(), "phong@BF F 1\n" + std::string(1 << 20, 'a') + "@B F\n");
    EXPECT_TRUE(error.rfind("t.kal:2: call \"aaaa", 0) == 0 && error.size() < 200u) << error.substr(0, 200);
    std::string message;
    EXPECT_EQ(KAL_ShaderLoader::load(Program::library(), "/nonexistent/x.kal", message), nullptr);
    EXPECT_EQ(message, "/nonexistent/x.kal: cannot open the file: No such file or directory");
    EXPECT_EQ(KAL_ShaderLoader::load(Program::library(), SRF_BINARY_TEST_DIR, message), nullptr);
    EXPECT_EQ(message, std::string(SRF_BINARY_TEST_DIR) + ": cannot read the file");
}

// One reference per BSDF variable: overwriting, setRef, reset and
// destruction each drop what they replace; a second thread's instances of
// the same program hold their own.
TEST(Kal, InstancesHoldTheirReferencesOnSeveralThreads)
{
    const long before = KAL_RefType::liveObjects();
    {
        Program p("bsdf b\nisotropic@B F\nisotropic@B b\nisotropic@B b\n");
        p.run(1);
        EXPECT_EQ(KAL_RefType::liveObjects(), before + 2);
        SRF_BSDF *mine = new SRF_Isotropic();
        EXPECT_TRUE(p->setRef("b", mine) && mine->getRefCount() == 2);
        p.run(1);
        EXPECT_EQ(mine->getRefCount(), 1);
        EXPECT_FALSE(p->setRef("nosuch", mine));
        mine->decRefCount();
        p->reset();
        EXPECT_EQ(KAL_RefType::liveObjects(), before);
        p.run(1);
    }
    EXPECT_EQ(KAL_RefType::liveObjects(), before);

    Program shared("varying float e\nvarying float k\nset@FF k e\nmul@FF k e\nmatchkal_specular@BF F 3\n");
    std::vector<int> wrong(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back(
            [&, t]
            {
                std::unique_ptr<KAL_Instance> in(shared.shader->createInstance());
                in->fillVector("N", BX_Vector3(0, 0, 1));
                KAL_ProcArray lanes(64);
                for (int run = 0; run < 200; ++run)
                {
                    for (int l = 0; l < 64; ++l)
                        in->setFloat("e", l, float(t * 1000 + run + l));
                    in->run(lanes);
                    float k = 0.0f;
                    for (int l = 0; l < 64; ++l)
                        wrong[t] += !in->getFloat("k", l, k) || k != float(t * 1000 + run + l) * (t * 1000 + run + l);
                    wrong[t] += static_cast<SRF_BSDF *>(in->getRef("F"))->getRefCount() != 1;
                }
            });
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}
