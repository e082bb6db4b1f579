// The runtime as the library uses it: rewrite programs expanded by the
// compiler (and their faults named), text shaders loaded with errors that
// give file and line, lanes walked by the iterator and the executor, and
// the one reference an instance holds per BSDF variable.
#include "BX_Vector3.h"
#include "KAL_Context.h"
#include "KAL_IReWrite.h"
#include "KAL_Instance.h"
#include "KAL_OpCode.h"
#include "KAL_ProcArray.h"
#include "KAL_ProcIterator.h"
#include "KAL_Program.h"
#include "KAL_RefType.h"
#include "KAL_Shader.h"
#include "KAL_ShaderLoader.h"
#include "KAL_StringSet.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace
{
// A reference-counted value standing in for a BSDF: it records how it was
// built.
struct TestValue : public KAL_RefType
{
    TestValue(const std::string &kind, const BX_Vector3 &normal, float exponent)
        : kind(kind), normal(normal), exponent(exponent)
    {
    }
    const char *className() const override { return "TestValue"; }
    bool isEqual(const KAL_RefType &other, float) const override { return &other == this; }
    std::string kind, text;
    BX_Vector3 normal;
    float exponent, scale = 1.0f;
};

void store(KAL_Instance &instance, TestValue *value)
{
    KAL_RefType **slot = instance.getArg<KAL_RefType *>(0);
    if (*slot)
        (*slot)->decRefCount();
    *slot = value;
}
template <class T> T first(const KAL_Instance &instance, int k) { return *instance.getArg<T>(k); }
int next(KAL_Instance &instance) { return instance.getInstructionIndex() + 1; }

// "lafortune@BVVF" and "blinn@BVF" keep lane 0's normal and exponent;
// "mul@BF" scales in place; "named@BS" keeps its string, read both ways;
// "lane@I" writes each running lane's index; "skip@I" and "stop@I" count and
// jump over the next instruction or end the run.
int opLafortune(KAL_Instance &in, KAL_ProcArray &)
{
    store(in, new TestValue("lafortune", first<BX_Vector3>(in, 1), first<float>(in, 3)));
    return next(in);
}
int opBlinn(KAL_Instance &in, KAL_ProcArray &)
{
    store(in, new TestValue("blinn", first<BX_Vector3>(in, 1), first<float>(in, 2)));
    return next(in);
}
int opMulBF(KAL_Instance &in, KAL_ProcArray &)
{
    if (KAL_RefType *value = *in.getArg<KAL_RefType *>(0))
        static_cast<TestValue *>(value)->scale *= first<float>(in, 1);
    return next(in);
}
int opNamed(KAL_Instance &in, KAL_ProcArray &lanes)
{
    TestValue *value = new TestValue("named", BX_Vector3(), 0.0f);
    value->text = std::string(KAL_StringSet::getU(in, 1, lanes)) + "|" + in.getArg<KAL_StringSet>(1)->getU(lanes);
    store(in, value);
    return next(in);
}
int opLane(KAL_Instance &in, KAL_ProcArray &lanes)
{
    for (KAL_ProcIterator it(in, lanes); !it.isDone(); it.advance())
        *it.getInt(0) = it.getLane();
    return next(in);
}
int opSkip(KAL_Instance &in, KAL_ProcArray &)
{
    ++*in.getArg<int>(0);
    return next(in) + 1;
}
int opStop(KAL_Instance &in, KAL_ProcArray &)
{
    ++*in.getArg<int>(0);
    return -1;
}

void addNative(KAL_Context &context, const char *signature, KAL_EvaluateFunc f)
{
    const int letters = int(std::string(signature).size() - std::string(signature).find('@') - 1);
    new KAL_OpCode(context, letters, signature, f, nullptr, nullptr, nullptr, nullptr, 0, 16, nullptr);
}

// Rewrite program words: kind in the high 8 bits, index in the low 24.
uint32_t W(int kind, int index) { return KAL_IReWrite::makeWord(kind, index); }
uint32_t OP(int i) { return W(1, i); }
uint32_t ARG(int i) { return W(2, i); }
uint32_t TMP(int i) { return W(3, i); }
uint32_t CON(int i) { return W(4, i); }
const uint32_t END = 0;

const char *const NAMES[] = {"lafortune@BVF", "lafortune@BVVF", "set@FF", "mul@FF", "blinn@BF", "mul@BF",
                             "blinn@BVF",     "matchkal_blinn@BF", "normalize@VV", "N", "dPds", "lane@I",
                             "nosuch@I",      "Q",                 "F",            "selfish@I", "set@II", "unk@I"};
const int NAME_COUNT = sizeof(NAMES) / sizeof(NAMES[0]);
const int32_t INTS[] = {15, 7};
const float FLOATS[] = {-1.0f, -1.0f, 1.0f, 2.0f, 0.0f, 1.0f, 0.0f};
const int VEC[] = {2}, FLT[] = {3}, INT[] = {4};

// A context with the natives above and hand-made rewrites; it owns their
// programs.
class Kal : public ::testing::Test
{
protected:
    Kal()
    {
        const std::pair<const char *, KAL_EvaluateFunc> natives[] = {
            {"lafortune@BVVF", opLafortune}, {"blinn@BVF", opBlinn}, {"mul@BF", opMulBF}, {"named@BS", opNamed},
            {"lane@I", opLane},              {"skip@I", opSkip},     {"stop@I", opStop}};
        for (const auto &[signature, handler] : natives)
            addNative(context, signature, handler);
        static const int zero[] = {0}, three[] = {3};
        // phong@BF(b, e) -> lafortune@BVF(b, (-1, -1, 1), e) -> normalize(t0, N); lafortune@BVVF(b, t0, c, e)
        install("phong@BF", 2, {OP(0), ARG(0), CON(0), ARG(1), END}, nullptr, 0, VEC, zero, 1);
        install("lafortune@BVF", 3, {OP(8), TMP(0), OP(9), END, OP(1), ARG(0), TMP(0), ARG(1), ARG(2), END}, VEC, 1);
        install("blinn@BF", 2, {OP(8), TMP(0), OP(9), END, OP(6), ARG(0), TMP(0), ARG(1), END}, VEC, 1);
        // matchkal_blinn@BF(b, e) -> t0 = e; t0 *= e; blinn@BF(b, t0); b *= 2
        install("matchkal_blinn@BF", 2,
                {OP(2), TMP(0), ARG(1), END, OP(3), TMP(0), ARG(1), END, OP(4), ARG(0), TMP(0), END, OP(5), ARG(0),
                 CON(0), END},
                FLT, 1, FLT, three, 1);
    }
    const KAL_OpCode *install(const char *signature, int count, std::vector<uint32_t> words,
                              const int *tempTypes = nullptr, int tempCount = 0, const int *constTypes = nullptr,
                              const int *constIndices = nullptr, int constCount = 0, const int *written = nullptr)
    {
        myPrograms.emplace_back(new std::vector<uint32_t>(std::move(words)));
        const std::vector<uint32_t> &p = *myPrograms.back();
        myReWrites.emplace_back(new KAL_IReWrite(signature, count, NAMES, NAME_COUNT, INTS, 2, FLOATS, 7, p.data(),
                                                 int(p.size()), tempTypes, tempCount, constTypes, constIndices,
                                                 constCount));
        return new KAL_OpCode(context, myReWrites.back().get(), written, 0);
    }
    std::unique_ptr<KAL_Shader> compile(const std::string &text, std::string *error = nullptr)
    {
        std::string message;
        std::unique_ptr<KAL_Shader> shader = KAL_ShaderLoader::compileText(context, text, "t.kal", message);
        EXPECT_EQ(shader == nullptr, !message.empty());
        if (error)
            *error = message;
        else
            EXPECT_TRUE(shader) << message;
        return shader;
    }
    std::string errorOf(const std::string &text)
    {
        std::string error;
        compile(text, &error);
        return error;
    }
    static const TestValue *value(const KAL_Instance &in, const char *name)
    {
        return static_cast<const TestValue *>(in.getRef(name));
    }

    KAL_Context context;
    std::vector<std::unique_ptr<std::vector<uint32_t>>> myPrograms;
    std::vector<std::unique_ptr<KAL_IReWrite>> myReWrites;
};
} // namespace

// Rewrites expand through several stages, each with its own temporaries,
// globals and constants, and the expanded program runs.
TEST_F(Kal, CompilerExpandsRewriteChainsAndRunsThem)
{
    auto shader = compile("bsdf a\nphong@BF a 2\nmatchkal_blinn@BF F 3\n");
    ASSERT_TRUE(shader);
    EXPECT_EQ(shader->getProgram()->listing(), "normalize@VV($t0, N)\n"
                                               "lafortune@BVVF(a, $t0, (-1, -1, 1), 2)\n"
                                               "set@FF($t1, 3)\n"
                                               "mul@FF($t1, 3)\n"
                                               "normalize@VV($t2, N)\n"
                                               "blinn@BVF(F, $t2, $t1)\n"
                                               "mul@BF(F, 2)\n");
    EXPECT_EQ(shader->getProgram()->getLine(6), 3);
    std::unique_ptr<KAL_Instance> in(shader->createInstance());
    in->setVector("N", 0, BX_Vector3(0.0f, 0.0f, 5.0f));
    KAL_ProcArray lanes(2);
    EXPECT_EQ(in->run(lanes), 7);
    const TestValue *f = value(*in, "F");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->kind, "blinn");
    EXPECT_EQ(f->exponent, 9.0f);
    EXPECT_EQ(f->scale, 2.0f);
    EXPECT_TRUE(f->normal == BX_Vector3(0.0f, 0.0f, 1.0f));

    // An int constant, a global written by a rewrite that lists no written
    // argument (as the photon rewrites do), and a later registration of a
    // signature replacing the earlier one.
    static const int none[] = {KAL_ARGS_END}, one[] = {1};
    install("seven@I", 1, {OP(16), ARG(0), CON(0), END}, nullptr, 0, INT, one, 1);
    install("glow@F", 1, {OP(12), OP(14), END}, nullptr, 0, nullptr, nullptr, 0, none);
    install("glow@F", 1, {OP(4), OP(14), ARG(0), END}, nullptr, 0, nullptr, nullptr, 0, none);
    EXPECT_EQ(compile("int k\nseven@I k\nfloat e = 4\nglow@F e\n")->getProgram()->listing(),
              "set@II(k, 7)\nnormalize@VV($t0, N)\nblinn@BVF(F, $t0, e)\n");
}

TEST_F(Kal, MalformedRewritesGiveOneErrorNamingTheCall)
{
    static const int badType[] = {7}, farVector[] = {5}, farInt[] = {2}, nearInt[] = {0};
    struct Case
    {
        const char *signature;
        std::vector<uint32_t> words;
        const int *tempTypes, *constTypes, *constIdx;
        const char *expected;
    };
    const Case cases[] = {
        {"k5@I", {OP(11), W(5, 0), END}, nullptr, nullptr, nullptr, "has the unknown kind 5"},
        {"open@I", {OP(11), ARG(0)}, nullptr, nullptr, nullptr, "not ended by a word 0"},
        {"name@I", {OP(99), ARG(0), END}, nullptr, nullptr, nullptr, "name index 99 is outside"},
        {"unk@I", {OP(12), ARG(0), END}, nullptr, nullptr, nullptr, "unknown op \"nosuch@I\""},
        {"start@I", {ARG(0), OP(11), END}, nullptr, nullptr, nullptr, "not an op name"},
        {"few@I", {OP(11), END}, nullptr, nullptr, nullptr, "takes 1 operands, the program gives 0"},
        {"arg@I", {OP(11), ARG(1), END}, nullptr, nullptr, nullptr, "is argument 1 of a call with 1"},
        {"tmp@I", {OP(11), TMP(0), END}, nullptr, nullptr, nullptr, "is temporary 0 of a rewrite with 0"},
        {"ttype@I", {OP(11), TMP(0), END}, badType, nullptr, nullptr, "unknown type code 7"},
        {"tkind@I", {OP(11), TMP(0), END}, FLT, nullptr, nullptr, "is a float, \"lane@I\" wants an int"},
        {"cfar@V", {OP(8), ARG(0), CON(0), END}, nullptr, VEC, farVector, "reads the float table at 5"},
        {"ifar@I", {OP(11), CON(0), END}, nullptr, INT, farInt, "reads the int table at 2"},
        {"cwrite@I", {OP(11), CON(0), END}, nullptr, INT, nearInt, "is a constant, but \"lane@I\""},
        {"glob@V", {OP(8), ARG(0), OP(13), END}, nullptr, nullptr, nullptr, "names \"Q\", which is not"},
        {"selfish@I", {OP(15), ARG(0), END}, nullptr, nullptr, nullptr, "nest deeper than 32"},
    };
    for (const Case &c : cases)
        install(c.signature, 1, c.words, c.tempTypes, c.tempTypes ? 1 : 0, c.constTypes, c.constIdx,
                c.constTypes ? 1 : 0);
    for (const Case &c : cases)
    {
        const std::string sig = c.signature;
        const std::string error = errorOf("int i\nvector v\n\n" + sig + (sig.back() == 'I' ? " i\n" : " v\n"));
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        EXPECT_EQ(error.rfind("t.kal:4: call \"" + sig + "\": ", 0), 0u) << error;
    }
    // The chain of expansions is named.
    install("outer@I", 1, {OP(17), ARG(0), END});
    EXPECT_EQ(errorOf("int i\nouter@I i\n"), "t.kal:2: call \"outer@I\": in rewrite \"outer@I\" > \"unk@I\", "
                                             "instruction 1: unknown op \"nosuch@I\"");
}

TEST_F(Kal, LoaderReadsShadersAndReportsFileAndLine)
{
    auto shader = compile("# a comment\r\nvector axis = (0, 0, 2)   # parenthesised\n"
                          "float  shine=4e1\nint count = -3\nvarying float ramp\nuniform bsdf coat\n \t\n"
                          "phong@BF coat shine\nlafortune@BVVF F axis (1, 2, 3) +.5\n"
                          "string file = \"a b#c\"\nbsdf x\nnamed@BS x file\n");
    ASSERT_TRUE(shader);
    EXPECT_EQ(shader->getProgram()->listing(), "normalize@VV($t0, N)\n"
                                               "lafortune@BVVF(coat, $t0, (-1, -1, 1), shine)\n"
                                               "lafortune@BVVF(F, axis, (1, 2, 3), 0.5)\n"
                                               "named@BS(x, file)\n");
    const KAL_Program &p = *shader->getProgram();
    EXPECT_TRUE(p.isVariableVarying(p.findVariable("ramp")));
    EXPECT_FALSE(p.isVariableVarying(p.findVariable("axis")));
    std::unique_ptr<KAL_Instance> in(shader->createInstance());
    KAL_ProcArray lanes(3);
    in->run(lanes);
    EXPECT_EQ(value(*in, "coat")->exponent, 40.0f);
    EXPECT_TRUE(value(*in, "F")->normal == BX_Vector3(0, 0, 2));
    EXPECT_EQ(value(*in, "x")->text, "a b#c|a b#c");

    const std::string head = "float e = 2\nbsdf b\n";
    const std::pair<std::string, std::string> cases[] = {
        {head + "nosuch@BF b e\n", "t.kal:3: call \"nosuch@BF\": unknown signature"},
        {head + "phong@BF b\n", "t.kal:3: call \"phong@BF\": takes 2 operands, given 1"},
        {head + "phong@BF e e\n", "t.kal:3: call \"phong@BF\": operand 1 \"e\": is a float, the op wants a bsdf"},
        {"phong@BF F late\nfloat late = 1\n", "t.kal:1: call \"phong@BF\": operand 2 \"late\": undeclared variable"},
        {head + "phong@BF b 1e99\n", "t.kal:3: call \"phong@BF\": operand 2: \"1e99\" is not a number"},
        {head + "lane@I 2\n",
         "t.kal:3: call \"lane@I\": operand 1 \"2\": the op writes this operand, so it must be a variable"},
        {head + "named@BS b \"open\n", "t.kal:3: unterminated string \"\"open\""},
        {head + "lafortune@BVVF b (1, 2) (1, 1, 1) e\n",
         "t.kal:3: call \"lafortune@BVVF\": operand 2: \"(1, 2)\" is not a vector (x, y, z)"},
        {"", "t.kal:1: the shader is empty"},
        {"float e\nfloat e\nphong@BF F e\n", "t.kal:2: declaration of \"e\": the name is already taken"},
        {"varying bsdf x\nphong@BF F 1\n", "t.kal:1: declaration of \"x\": a bsdf variable cannot be varying"},
        {"hello world\n", "t.kal:1: expected a declaration or a call (name@LETTERS), found \"hello\""},
        {std::string("phong@BF F 1\nx\0y@B F\n", 22), "t.kal:2: the line holds a NUL byte: not a text shader"},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(errorOf(text), expected);
    // A megabyte line is named, not quoted whole.
    const std::string error = errorOf("phong@BF F 1\n" + std::string(1 << 20, 'a') + "@B F\n");
    EXPECT_EQ(error.rfind("t.kal:2: call \"aaaa", 0), 0u);
    EXPECT_LT(error.size(), 200u);

    std::string message;
    EXPECT_EQ(KAL_ShaderLoader::load(context, "/nonexistent/x.kal", message), nullptr);
    EXPECT_EQ(message, "/nonexistent/x.kal: cannot open the file: No such file or directory");
    EXPECT_EQ(KAL_ShaderLoader::load(context, SRF_BINARY_TEST_DIR, message), nullptr);
    EXPECT_EQ(message, std::string(SRF_BINARY_TEST_DIR) + ": cannot read the file");

    // Random lines of shader-like pieces compile and run, or give one
    // message starting with the file name.
    const char *pieces[] = {"phong@BF", "F", "e", "1", "(1, 2, 3)", "\"s\"", "\"", "(", "#", "float", "=",
                            "b",        "-", "@", "\\", "named@BS", "lane@I", "\t", "\r", "varying", "N", ".5"};
    std::mt19937 random(7);
    int compiled = 0;
    for (int trial = 0; trial < 2000; ++trial)
    {
        std::string text = trial % 2 ? "phong@BF F 2\n" : "";
        for (int w = int(random() % 8); w > 0; --w)
            text += std::string(pieces[random() % (sizeof pieces / sizeof pieces[0])]) + (random() % 3 ? " " : "\n");
        std::unique_ptr<KAL_Shader> s = KAL_ShaderLoader::compileText(context, text, "r.kal", message);
        if (!s)
        {
            EXPECT_EQ(message.rfind("r.kal:", 0), 0u) << text << " -> " << message;
            continue;
        }
        ++compiled;
        std::unique_ptr<KAL_Instance> in(s->createInstance());
        in->run(lanes);
    }
    EXPECT_GT(compiled, 100);
}

// The iterator visits running lanes only, uniform pointers stay put, the
// executor follows the index each handler returns, and the builtin
// normalize leaves a zero vector zero.
TEST_F(Kal, LanesAndExecutor)
{
    auto shader = compile("varying int idx\nint a\nint b\nfloat u = 2.5\nvarying vector n\n"
                          "lane@I idx\nskip@I a\nlane@I idx\nstop@I b\nskip@I b\nnormalize@VV n N\n");
    ASSERT_TRUE(shader);
    std::unique_ptr<KAL_Instance> in(shader->createInstance());
    KAL_ProcArray lanes(10);
    for (int i : {0, 3, 4, 9})
        lanes.setState(i, 1);
    for (int i = 0; i < KAL_MAX_LANES; ++i)
        in->setInt("idx", i, -7);
    EXPECT_EQ(in->run(lanes), 3);
    int value = 0;
    for (int i = 0; i < 12; ++i)
    {
        ASSERT_TRUE(in->getInt("idx", i, value));
        EXPECT_EQ(value, i < 10 && lanes.isRunning(i) ? i : -7) << i;
    }
    in->getInt("a", 0, value);
    EXPECT_EQ(value, 1);
    in->getInt("b", 0, value);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(in->runInstruction(4, lanes), 6);
    in->setVector("N", 1, BX_Vector3(0.0f, 3.0f, 4.0f));
    in->setVector("N", 2, BX_Vector3(0.0f, 0.0f, 0.0f));
    EXPECT_EQ(in->runInstruction(5, lanes), 6);
    BX_Vector3 n;
    in->getVector("n", 1, n);
    EXPECT_FLOAT_EQ(n.y, 0.6f);
    EXPECT_FLOAT_EQ(n.z, 0.8f);
    in->getVector("n", 2, n);
    EXPECT_TRUE(n == BX_Vector3(0.0f, 0.0f, 0.0f));

    KAL_ProcIterator it(*in, lanes);
    std::vector<int> seen;
    for (it.rewind(); !it.isDone(); it.advance())
        seen.push_back(it.getLane());
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 5, 6, 7, 8}));
    KAL_ProcArray none(0);
    EXPECT_TRUE(KAL_ProcIterator(*in, none).isDone());
    EXPECT_EQ(KAL_ProcArray(KAL_MAX_LANES + 5).getCount(), KAL_MAX_LANES);
}

// The instance holds one reference per BSDF variable: overwriting, setRef,
// reset and destruction each drop what they replace.
TEST_F(Kal, InstanceHoldsOneReferencePerBsdfVariable)
{
    auto shader = compile("bsdf b\nlafortune@BVVF F N (1, 2, 3) 3\nlafortune@BVVF b N N 1\n"
                          "lafortune@BVVF b N N 2\n");
    ASSERT_TRUE(shader);
    const long before = KAL_RefType::liveObjects();
    {
        std::unique_ptr<KAL_Instance> in(shader->createInstance());
        KAL_ProcArray lanes(1);
        in->run(lanes);
        EXPECT_EQ(KAL_RefType::liveObjects(), before + 2);
        EXPECT_EQ(value(*in, "b")->exponent, 2.0f);
        TestValue *mine = new TestValue("mine", BX_Vector3(), 0.0f);
        EXPECT_TRUE(in->setRef("b", mine));
        EXPECT_EQ(mine->getRefCount(), 2);
        in->run(lanes);
        EXPECT_EQ(mine->getRefCount(), 1);
        EXPECT_FALSE(in->setRef("nosuch", mine));
        mine->decRefCount();
        in->reset();
        EXPECT_EQ(KAL_RefType::liveObjects(), before);
        in->run(lanes);
    }
    EXPECT_EQ(KAL_RefType::liveObjects(), before);
}

TEST_F(Kal, InstancesOfOneProgramRunOnSeveralThreads)
{
    auto shader = compile("varying float e\nvarying float k\nset@FF k e\nmul@FF k e\nmatchkal_blinn@BF F 3\n");
    ASSERT_TRUE(shader);
    std::vector<int> wrong(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back(
            [&, t]
            {
                std::unique_ptr<KAL_Instance> in(shader->createInstance());
                KAL_ProcArray lanes(64);
                for (int run = 0; run < 200; ++run)
                {
                    for (int l = 0; l < 64; ++l)
                        in->setFloat("e", l, float(t * 1000 + run + l));
                    in->run(lanes);
                    float k = 0.0f;
                    for (int l = 0; l < 64; ++l)
                        wrong[t] += !in->getFloat("k", l, k) || k != float(t * 1000 + run + l) * (t * 1000 + run + l);
                    wrong[t] += value(*in, "F")->exponent != 9.0f;
                }
            });
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}
