// Tests of the runtime stand-in: context and op registration, lanes and the
// lane iterator, the executor and builtin ops, reference ownership of the
// instance, the compiler's expansion of hand-made rewrites and its errors,
// and the text shader loader.
#include "BX_Vector3.h"
#include "KAL_Builtins.h"
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
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

namespace
{
// ---------------------------------------------------------------------------
// Test-only values and native ops.

// A reference-counted value that records how it was built, standing in for
// a BSDF.
class TestValue : public KAL_RefType
{
public:
    TestValue(const std::string &kind, const BX_Vector3 &normal, const BX_Vector3 &coeff, float exponent)
        : kind(kind), normal(normal), coeff(coeff), exponent(exponent)
    {
    }
    const char *className() const override { return "TestValue"; }
    bool isEqual(const KAL_RefType &other, float tolerance) const override
    {
        const TestValue *o = dynamic_cast<const TestValue *>(&other);
        return o && o->kind == kind && std::fabs(o->exponent - exponent) <= tolerance &&
               std::fabs(o->scale - scale) <= tolerance;
    }

    std::string kind;
    BX_Vector3 normal, coeff;
    float exponent;
    float scale = 1.0f;
    std::string text;
};

// Replaces the value of B argument 0, dropping the old reference.
void storeValue(KAL_Instance &instance, TestValue *value)
{
    KAL_RefType **slot = instance.getArg<KAL_RefType *>(0);
    if (*slot)
        (*slot)->decRefCount();
    *slot = value;
}

// Reads lane 0's value of argument k (or its uniform value).
template <class T> T laneZero(const KAL_Instance &instance, int k) { return *instance.getArg<T>(k); }

// "lafortune@BVVF"(result, normal, coefficients, exponent)
int opTestLafortune(KAL_Instance &instance, KAL_ProcArray &)
{
    storeValue(instance, new TestValue("lafortune", laneZero<BX_Vector3>(instance, 1),
                                       laneZero<BX_Vector3>(instance, 2), laneZero<float>(instance, 3)));
    return instance.getInstructionIndex() + 1;
}

// "blinn@BVF"(result, normal, exponent)
int opTestBlinn(KAL_Instance &instance, KAL_ProcArray &)
{
    storeValue(instance,
               new TestValue("blinn", laneZero<BX_Vector3>(instance, 1), BX_Vector3(), laneZero<float>(instance, 2)));
    return instance.getInstructionIndex() + 1;
}

// "mul@BF"(bsdf, factor): scales in place.
int opTestMulBF(KAL_Instance &instance, KAL_ProcArray &)
{
    KAL_RefType *value = *instance.getArg<KAL_RefType *>(0);
    if (value)
        static_cast<TestValue *>(value)->scale *= laneZero<float>(instance, 1);
    return instance.getInstructionIndex() + 1;
}

// "named@BS"(result, name): a value that keeps the string, read both ways.
int opTestNamed(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    TestValue *value = new TestValue("named", BX_Vector3(), BX_Vector3(), 0.0f);
    value->text = KAL_StringSet::getU(instance, 1, lanes);
    value->text += "|";
    value->text += instance.getArg<KAL_StringSet>(1)->getU(lanes);
    storeValue(instance, value);
    return instance.getInstructionIndex() + 1;
}

// "lane@I"(out): writes each running lane's index.
int opTestLane(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    KAL_ProcIterator it(instance, lanes);
    for (; !it.isDone(); it.advance())
        *it.getInt(0) = it.getLane();
    return instance.getInstructionIndex() + 1;
}

// "skip@I"(counter): adds one and jumps over the next instruction.
int opTestSkip(KAL_Instance &instance, KAL_ProcArray &)
{
    ++*instance.getArg<int>(0);
    return instance.getInstructionIndex() + 2;
}

// "stop@I"(counter): adds one and ends the run.
int opTestStop(KAL_Instance &instance, KAL_ProcArray &)
{
    ++*instance.getArg<int>(0);
    return -1;
}

// "count@I"(counter): adds one.
int opTestCount(KAL_Instance &instance, KAL_ProcArray &)
{
    ++*instance.getArg<int>(0);
    return instance.getInstructionIndex() + 1;
}

// "triple@VVVV" writes arguments 1, 2 and 3 (not 0), lane by lane.
const int *tripleWritten()
{
    static const int list[] = {1, 2, 3, KAL_ARGS_END};
    return list;
}
int opTestTriple(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    KAL_ProcIterator it(instance, lanes);
    for (; !it.isDone(); it.advance())
    {
        const BX_Vector3 a = *it.getVector(0);
        *it.getVector(1) = a * 1.0f;
        *it.getVector(2) = a * 2.0f;
        *it.getVector(3) = a * 3.0f;
    }
    return instance.getInstructionIndex() + 1;
}

KAL_OpCode *addNative(KAL_Context &context, const char *signature, KAL_EvaluateFunc f, int count = -1000,
                      KAL_WrittenArgsFunc written = nullptr, int flag = 0)
{
    std::string s(signature);
    const int letters = int(s.size() - s.find('@') - 1);
    return new KAL_OpCode(context, count == -1000 ? letters : count, signature, f, nullptr, nullptr, written, nullptr,
                          flag, 16, nullptr);
}

// A context with the builtins and the test natives above.
void addTestNatives(KAL_Context &context)
{
    addNative(context, "lafortune@BVVF", opTestLafortune);
    addNative(context, "blinn@BVF", opTestBlinn);
    addNative(context, "mul@BF", opTestMulBF, -1000, nullptr, 1);
    addNative(context, "named@BS", opTestNamed);
    addNative(context, "lane@I", opTestLane);
    addNative(context, "skip@I", opTestSkip);
    addNative(context, "stop@I", opTestStop);
    addNative(context, "count@I", opTestCount);
    addNative(context, "triple@VVVV", opTestTriple, -1000, tripleWritten);
}

// ---------------------------------------------------------------------------
// Hand-made rewrite tables, in the runtime's word format.

uint32_t W(int kind, int index) { return KAL_IReWrite::makeWord(kind, index); }
uint32_t OP(int i) { return W(1, i); }
uint32_t GL(int i) { return W(1, i); }
uint32_t ARG(int i) { return W(2, i); }
uint32_t TMP(int i) { return W(3, i); }
uint32_t CON(int i) { return W(4, i); }
const uint32_t END = 0;

const char *const theNames[] = {
    "lafortune@BVF",     // 0
    "lafortune@BVVF",    // 1
    "set@FF",            // 2
    "mul@FF",            // 3
    "blinn@BF",          // 4
    "mul@BF",            // 5
    "blinn@BVF",         // 6
    "matchkal_blinn@BF", // 7
    "normalize@VV",      // 8
    "N",                 // 9
    "dPds",              // 10
    "count@I",           // 11
    "nosuch@I",          // 12
    "Q",                 // 13
    "F",                 // 14
    "selfish@I",         // 15
    "triple@VVVV",       // 16
};
const int NAME_COUNT = sizeof(theNames) / sizeof(theNames[0]);
const int32_t theInts[] = {15, 7};
const float theFloats[] = {-1.0f, -1.0f, 1.0f, 2.0f, 0.0f, 1.0f, 0.0f};

const int VEC[] = {2, 2};
const int FLT[] = {3};
const int INT[] = {4};

// Owns hand-made rewrites and their programs for one test.
struct ReWrites
{
    std::vector<std::unique_ptr<std::vector<uint32_t>>> programs;
    std::vector<std::unique_ptr<KAL_IReWrite>> rewrites;

    const KAL_IReWrite *make(const char *signature, int count, std::vector<uint32_t> words,
                             const int *tempTypes = nullptr, int tempCount = 0, const int *constTypes = nullptr,
                             const int *constIndices = nullptr, int constCount = 0)
    {
        programs.emplace_back(new std::vector<uint32_t>(std::move(words)));
        const std::vector<uint32_t> &p = *programs.back();
        rewrites.emplace_back(new KAL_IReWrite(signature, count, theNames, NAME_COUNT, theInts, 2, theFloats, 7,
                                               p.data(), int(p.size()), tempTypes, tempCount, constTypes, constIndices,
                                               constCount));
        return rewrites.back().get();
    }
    // Makes and registers a rewrite op writing argument 0.
    const KAL_OpCode *install(KAL_Context &context, const char *signature, int count, std::vector<uint32_t> words,
                              const int *tempTypes = nullptr, int tempCount = 0, const int *constTypes = nullptr,
                              const int *constIndices = nullptr, int constCount = 0, const int *written = nullptr,
                              int flag = 0)
    {
        const KAL_IReWrite *rw =
            make(signature, count, std::move(words), tempTypes, tempCount, constTypes, constIndices, constCount);
        return new KAL_OpCode(context, rw, written, flag);
    }
};

// The chains of the library's Phong and matched-Blinn rewrites, rebuilt by
// hand over the test natives.
void installChains(KAL_Context &context, ReWrites &rw)
{
    static const int phongConstIdx[] = {0};
    static const int twoIdx[] = {3};
    // "phong@BF"(b, e) -> "lafortune@BVF"(b, (-1, -1, 1), e)
    rw.install(context, "phong@BF", 2, {OP(0), ARG(0), CON(0), ARG(1), END}, nullptr, 0, VEC, phongConstIdx, 1);
    // "lafortune@BVF"(b, c, e) -> normalize(t0, N); "lafortune@BVVF"(b, t0, c, e)
    rw.install(context, "lafortune@BVF", 3, {OP(8), TMP(0), GL(9), END, OP(1), ARG(0), TMP(0), ARG(1), ARG(2), END},
               VEC, 1);
    // "blinn@BF"(b, e) -> normalize(t0, N); "blinn@BVF"(b, t0, e)
    rw.install(context, "blinn@BF", 2, {OP(8), TMP(0), GL(9), END, OP(6), ARG(0), TMP(0), ARG(1), END}, VEC, 1);
    // "matchkal_blinn@BF"(b, e) -> t0 = e; t0 *= e; "blinn@BF"(b, t0); b *= 2
    rw.install(context, "matchkal_blinn@BF", 2,
               {OP(2), TMP(0), ARG(1), END, OP(3), TMP(0), ARG(1), END, OP(4), ARG(0), TMP(0), END, OP(5), ARG(0),
                CON(0), END},
               FLT, 1, FLT, twoIdx, 1);
    // "matchkal_specular@BF" -> "matchkal_blinn@BF"
    rw.install(context, "matchkal_specular@BF", 2, {OP(7), ARG(0), ARG(1), END});
}

// A context with the test natives and the hand-made chains.
class KalTest : public ::testing::Test
{
protected:
    KalTest()
    {
        addTestNatives(context);
        installChains(context, rw);
    }
    KAL_Context context;
    ReWrites rw;
};
using KalLanes = KalTest;
using KalExecutor = KalTest;
using KalInstance = KalTest;
using KalStrings = KalTest;
using KalCompiler = KalTest;
using KalLoader = KalTest;

// A variable's value in one lane, read through the host interface.
template <class T> T valueAt(const KAL_Instance &instance, const char *name, int lane)
{
    T value{};
    if constexpr (std::is_same_v<T, float>)
        instance.getFloat(name, lane, value);
    else if constexpr (std::is_same_v<T, int>)
        instance.getInt(name, lane, value);
    else
        instance.getVector(name, lane, value);
    return value;
}

// Compiles a text, failing the test on an error.
std::unique_ptr<KAL_Shader> compiled(const KAL_Context &context, const std::string &text, const char *name = "t.kal")
{
    std::string error;
    std::unique_ptr<KAL_Shader> shader = KAL_ShaderLoader::compileText(context, text, name, error);
    EXPECT_TRUE(shader) << error;
    return shader;
}

std::unique_ptr<KAL_Instance> instanceOf(const KAL_Shader &shader)
{
    return std::unique_ptr<KAL_Instance>(shader.createInstance());
}

const TestValue *valueOf(const KAL_Instance &instance, const char *name)
{
    return static_cast<const TestValue *>(instance.getRef(name));
}

// Compiles a text and returns the error ("" when it compiled).
std::string errorOf(const KAL_Context &context, const std::string &text, const char *name = "t.kal")
{
    std::string error;
    std::unique_ptr<KAL_Shader> shader = KAL_ShaderLoader::compileText(context, text, name, error);
    EXPECT_EQ(shader == nullptr, !error.empty());
    return error;
}

// Compiles a text to its listing, failing the test on an error.
std::string listingOf(const KAL_Context &context, const std::string &text)
{
    std::unique_ptr<KAL_Shader> shader = compiled(context, text);
    return shader ? shader->getProgram()->listing() : "";
}
} // namespace

// ---------------------------------------------------------------------------

TEST(KalContext, RegistrationOrderReplacementAndBuiltins)
{
    KAL_Context context;
    const int builtins = context.getOpCount();
    EXPECT_EQ(context.getBuiltinCount(), builtins);
    for (const char *sig : {"normalize@VV", "set@FF", "mul@FF", "set@VV", "set@II"})
    {
        const KAL_OpCode *op = context.findOp(sig);
        ASSERT_TRUE(op) << sig;
        EXPECT_TRUE(op->isBuiltin());
        EXPECT_TRUE(op->isValid());
    }
    EXPECT_EQ(context.findOp("nosuch@B"), nullptr);
    EXPECT_EQ(context.findOp(static_cast<const char *>(nullptr)), nullptr);

    KAL_OpCode *a = addNative(context, "a@I", opTestCount);
    KAL_OpCode *b = addNative(context, "b@I", opTestCount);
    KAL_OpCode *a2 = addNative(context, "a@I", opTestSkip);
    EXPECT_EQ(context.getOpCount(), builtins + 2);
    EXPECT_EQ(context.findOp("a@I"), a2);
    EXPECT_NE(context.findOp("a@I"), a);
    // The replacing op is listed after those registered before it.
    EXPECT_EQ(context.getOp(builtins), b);
    EXPECT_EQ(context.getOp(builtins + 1), a2);
    EXPECT_EQ(context.getOp(builtins + 2), nullptr);
    EXPECT_EQ(context.getBuiltinCount(), builtins);
    // A library may replace a builtin.
    addNative(context, "set@FF", opTestCount);
    EXPECT_FALSE(context.findOp("set@FF")->isBuiltin());
    EXPECT_EQ(context.getBuiltinCount(), builtins - 1);
}

TEST(KalOpCode, NativeAndReWriteFormsKeepWhatTheyAreGiven)
{
    KAL_Context context;
    KAL_OpCode *op = new KAL_OpCode(context, 9, "sample@BVVVVIFFI", opTestCount, nullptr, nullptr, tripleWritten,
                                    nullptr, 0, 1, nullptr);
    // The signature splits into name and argument letters.
    EXPECT_EQ(op->getName(), "sample");
    EXPECT_STREQ(op->getTypes(), "BVVVVIFFI");
    EXPECT_FALSE(op->writesArg(0));
    EXPECT_TRUE(op->writesArg(1) && op->writesArg(2) && op->writesArg(3));
    EXPECT_FALSE(op->isReWrite());

    // Without a written-arguments function the op writes argument 0 alone.
    KAL_OpCode *plain = addNative(context, "plain@BF", opTestCount);
    EXPECT_EQ(plain->getWrittenArgs()[0], 0);
    EXPECT_EQ(plain->getWrittenArgs()[1], KAL_ARGS_END);

    // A negative count is minus (letters + 1); any other mismatch is invalid.
    EXPECT_TRUE(addNative(context, "m@BSVVV", opTestCount, -6, nullptr, KAL_OPFLAG_SIDE_EFFECTS)->isValid());
    EXPECT_EQ(context.findOp("m@BSVVV")->getOpFlag(), 0x2000000);
    EXPECT_FALSE(addNative(context, "m5@BSVVV", opTestCount, -5)->isValid());
    EXPECT_FALSE(addNative(context, "m4@BSVVV", opTestCount, 4)->isValid());
    EXPECT_FALSE(addNative(context, "noat", opTestCount, 0)->isValid());
    EXPECT_FALSE(addNative(context, "bad@BX", opTestCount, 2)->isValid());
    EXPECT_FALSE(addNative(context, "nohandler@B", nullptr)->isValid());

    // The rewrite form takes signature and count from the rewrite.
    ReWrites rw;
    static const int nothing[] = {KAL_ARGS_END};
    const KAL_IReWrite *r = rw.make("photon@VVV", 3, {OP(11), ARG(0), END});
    KAL_OpCode *rop = new KAL_OpCode(context, r, nothing, 0);
    EXPECT_TRUE(rop->isReWrite());
    EXPECT_EQ(rop->getArgCount(), 3);
    EXPECT_TRUE(rop->isValid());
    for (int k = 0; k < 3; ++k)
        EXPECT_FALSE(rop->writesArg(k));
    EXPECT_EQ(context.findOp("photon@VVV"), rop);
    // A pointer to the context works as well as a reference.
    KAL_OpCode *viaPointer = new KAL_OpCode(&context, rw.make("p2@B", 1, {}), nullptr, 0);
    EXPECT_EQ(context.findOp("p2@B"), viaPointer);
    EXPECT_TRUE(viaPointer->writesArg(0));
}

TEST(KalReWrite, StoresTablesAndDecodesWords)
{
    const uint32_t words[] = {0x01000009, 0x03000000, 0x0100000A, 0x00000000};
    const int32_t signedWords[] = {0x01000009, 0x03000000, 0x0100000A, 0x00000000};
    const int temps[] = {2};
    const int ctypes[] = {4, 3};
    const int cidx[] = {1, 6};
    KAL_IReWrite a("x@BF", 2, theNames, NAME_COUNT, theInts, 2, theFloats, 7, words, 4, temps, 1, ctypes, cidx, 2);
    KAL_IReWrite b("x@BF", -3, theNames, NAME_COUNT, nullptr, 0, nullptr, 0, signedWords, 4, nullptr, 0, nullptr,
                   nullptr, 0);
    // Names outside the table are null; signed program words read as the
    // unsigned ones.
    EXPECT_STREQ(a.getName(8), "normalize@VV");
    EXPECT_EQ(a.getName(NAME_COUNT), nullptr);
    EXPECT_EQ(a.getName(-1), nullptr);
    EXPECT_EQ(b.getArgCount(), -3);
    EXPECT_EQ(b.getWords()[2], 0x0100000Au);
    EXPECT_EQ(KAL_IReWrite::wordKind(0x0400002Au), 4);
    EXPECT_EQ(KAL_IReWrite::wordIndex(0x0400002Au), 42);
    EXPECT_EQ(KAL_IReWrite::makeWord(3, 1), 0x03000001u);

    // The disassembly reads like the tables it was typed from.
    const std::vector<uint32_t> program = {OP(8),  TMP(0), GL(9), END, OP(1),  ARG(0), TMP(0),
                                           CON(0), ARG(1), END,   END, OP(99), W(7, 2)};
    KAL_IReWrite c("x@BF", 2, theNames, NAME_COUNT, nullptr, 0, nullptr, 0, program.data(), int(program.size()),
                   nullptr, 0, nullptr, nullptr, 0);
    EXPECT_EQ(c.disassemble(), "\"normalize@VV\"(t0, N)\n"
                               "\"lafortune@BVVF\"(a0, t0, c0, a1)\n"
                               "()\n"
                               "\"?1:99\"(?7:2...\n");
}

TEST_F(KalLanes, IteratorVisitsRunningLanesWithVaryingAndUniformPointers)
{
    KAL_Shader shader(context, "lanes");
    shader.addVariable("idx", 'I', true);
    shader.addVariable("u", 'F', false, "2.5");
    shader.addCall("lane@I", {"idx"});
    shader.addCall("set@FF", {"u", "u"});
    ASSERT_TRUE(shader.compile()) << shader.getError();
    auto inst = instanceOf(shader);
    ASSERT_TRUE(inst);

    KAL_ProcArray lanes(10);
    EXPECT_EQ(lanes.getCount(), 10);
    EXPECT_EQ(lanes.runningCount(), 10);
    for (int i : {0, 3, 4, 9})
        lanes.setState(i, 1);
    for (int i = 0; i < KAL_MAX_LANES; ++i)
        inst->setInt("idx", i, -7);
    EXPECT_EQ(inst->run(lanes), 2);
    for (int i = 0; i < 12; ++i)
    {
        int v = 0;
        ASSERT_TRUE(inst->getInt("idx", i, v));
        const bool running = i < 10 && lanes.isRunning(i);
        EXPECT_EQ(v, running ? i : -7) << "lane " << i;
    }

    // The iterator over the second instruction: uniform pointers do not move.
    inst->runInstruction(1, lanes);
    KAL_ProcIterator it(*inst, lanes);
    std::vector<int> seen;
    const float *first = it.getFloat(0);
    for (it.rewind(); !it.isDone(); it.advance())
    {
        seen.push_back(it.getLane());
        EXPECT_EQ(it.getFloat(0), first);
        EXPECT_FLOAT_EQ(*it.getFloat(1), 2.5f);
        EXPECT_FALSE(it.isVarying(0));
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 5, 6, 7, 8}));
    // A second walk after rewind sees the same lanes.
    int again = 0;
    for (it.rewind(); !it.isDone(); it.advance())
        ++again;
    EXPECT_EQ(again, 6);

    // No running lane, no lane at all: the iterator is done at once.
    KAL_ProcArray stopped(3);
    for (int i = 0; i < 3; ++i)
        stopped.setState(i, 2);
    EXPECT_TRUE(KAL_ProcIterator(*inst, stopped).isDone());
    KAL_ProcArray none(0);
    EXPECT_TRUE(KAL_ProcIterator(*inst, none).isDone());
    // Lane counts are clamped to the room of a lane array.
    EXPECT_EQ(KAL_ProcArray(KAL_MAX_LANES + 5).getCount(), KAL_MAX_LANES);
    EXPECT_EQ(KAL_ProcArray(-4).getCount(), 0);
}

TEST_F(KalExecutor, FollowsTheIndexEachHandlerReturns)
{
    KAL_Shader shader(context, "jumps");
    shader.addVariable("a", 'I', false);
    shader.addVariable("b", 'I', false);
    shader.addVariable("c", 'I', false);
    shader.addCall("count@I", {"a"}); // 0
    shader.addCall("skip@I", {"a"});  // 1 -> 3
    shader.addCall("count@I", {"b"}); // 2, skipped
    shader.addCall("count@I", {"c"}); // 3
    shader.addCall("stop@I", {"c"});  // 4 -> ends
    shader.addCall("count@I", {"b"}); // 5, never reached
    ASSERT_TRUE(shader.compile()) << shader.getError();
    auto inst = instanceOf(shader);
    KAL_ProcArray lanes(4);
    EXPECT_EQ(inst->run(lanes), 4);
    EXPECT_EQ(valueAt<int>(*inst, "a", 0), 2);
    EXPECT_EQ(valueAt<int>(*inst, "b", 0), 0);
    EXPECT_EQ(valueAt<int>(*inst, "c", 0), 2);
    // One instruction at a time returns the handler's answer.
    EXPECT_EQ(inst->runInstruction(1, lanes), 3);
    EXPECT_EQ(inst->runInstruction(4, lanes), -1);
    EXPECT_EQ(inst->runInstruction(6, lanes), -1);
    EXPECT_EQ(inst->runInstruction(-1, lanes), -1);
    // reset restores initial values.
    inst->reset();
    EXPECT_EQ(valueAt<int>(*inst, "a", 0), 0);
    // Even with no lane running every instruction runs (handlers decide).
    KAL_ProcArray none(0);
    EXPECT_EQ(inst->run(none), 4);
}

TEST(KalBuiltins, ComputeLaneByLaneAndLeaveStoppedLanes)
{
    KAL_Context context;
    KAL_Shader shader(context, "builtins");
    shader.addVariable("n", 'V', true);
    shader.addVariable("f", 'F', true);
    shader.addVariable("g", 'F', false, "3");
    shader.addVariable("v", 'V', true);
    shader.addVariable("k", 'I', true);
    shader.addCall("normalize@VV", {"n", "N"});
    shader.addCall("set@FF", {"f", "2"});
    shader.addCall("mul@FF", {"f", "f"});    // 4
    shader.addCall("add@FF", {"f", "0.5"});  // 4.5
    shader.addCall("mul@FF", {"g", "2"});    // uniform: once, 6
    shader.addCall("set@VV", {"v", "dPds"}); // (lane, 1, 0)
    shader.addCall("mul@VF", {"v", "f"});
    shader.addCall("add@VV", {"v", "(1, 1, 1)"});
    shader.addCall("mul@VV", {"v", "(1, 2, 3)"});
    shader.addCall("set@II", {"k", "-4"});
    ASSERT_TRUE(shader.compile()) << shader.getError();
    auto inst = instanceOf(shader);
    KAL_ProcArray lanes(5);
    lanes.setState(2, 1);
    inst->setVector("N", 0, BX_Vector3(0.0f, 3.0f, 4.0f));
    inst->setVector("N", 1, BX_Vector3(0.0f, 0.0f, 0.0f)); // stays zero
    for (int i = 0; i < 5; ++i)
        inst->setVector("dPds", i, BX_Vector3(float(i), 1.0f, 0.0f));
    inst->setVector("n", 2, BX_Vector3(9.0f, 9.0f, 9.0f));
    inst->setInt("k", 2, 77);
    inst->run(lanes);

    BX_Vector3 v = valueAt<BX_Vector3>(*inst, "n", 0);
    EXPECT_FLOAT_EQ(v.y, 0.6f);
    EXPECT_FLOAT_EQ(v.z, 0.8f);
    EXPECT_EQ(valueAt<BX_Vector3>(*inst, "n", 1), BX_Vector3(0.0f, 0.0f, 0.0f));
    EXPECT_EQ(valueAt<BX_Vector3>(*inst, "n", 2), BX_Vector3(9.0f, 9.0f, 9.0f)); // lane 2 is stopped
    EXPECT_FLOAT_EQ(valueAt<float>(*inst, "f", 3), 4.5f);
    EXPECT_FLOAT_EQ(valueAt<float>(*inst, "f", 2), 0.0f);
    EXPECT_FLOAT_EQ(valueAt<float>(*inst, "g", 0), 6.0f); // not 3 * 2^4
    v = valueAt<BX_Vector3>(*inst, "v", 4);
    EXPECT_FLOAT_EQ(v.x, (4.0f * 4.5f + 1.0f) * 1.0f);
    EXPECT_FLOAT_EQ(v.y, (4.5f + 1.0f) * 2.0f);
    EXPECT_FLOAT_EQ(v.z, 1.0f * 3.0f);
    EXPECT_EQ(valueAt<int>(*inst, "k", 4), -4);
    EXPECT_EQ(valueAt<int>(*inst, "k", 2), 77);
}

TEST_F(KalInstance, HoldsOneReferencePerBsdfAndDropsThemAll)
{
    KAL_Shader shader(context, "refs");
    shader.addVariable("b", 'B', false);
    shader.addVariable("e", 'F', false, "3");
    shader.addCall("lafortune@BVVF", {"F", "N", "(1, 2, 3)", "e"});
    shader.addCall("lafortune@BVVF", {"b", "N", "(0, 0, 1)", "1"});
    shader.addCall("lafortune@BVVF", {"b", "N", "(0, 0, 1)", "2"}); // replaces the first b
    ASSERT_TRUE(shader.compile()) << shader.getError();
    const long before = KAL_RefType::liveObjects();
    {
        auto inst = instanceOf(shader);
        KAL_ProcArray lanes(1);
        inst->run(lanes);
        EXPECT_EQ(KAL_RefType::liveObjects(), before + 2);
        const TestValue *f = valueOf(*inst, "F");
        ASSERT_TRUE(f);
        EXPECT_EQ(f->coeff, BX_Vector3(1.0f, 2.0f, 3.0f));
        EXPECT_FLOAT_EQ(f->exponent, 3.0f);
        EXPECT_FLOAT_EQ(valueOf(*inst, "b")->exponent, 2.0f);

        // A host-held value: setRef adds a reference, overwriting drops it.
        TestValue *mine = new TestValue("mine", BX_Vector3(), BX_Vector3(), 0.0f);
        EXPECT_TRUE(inst->setRef("b", mine));
        EXPECT_EQ(mine->getRefCount(), 2);
        EXPECT_EQ(KAL_RefType::liveObjects(), before + 2); // the old b died
        inst->run(lanes);
        EXPECT_EQ(mine->getRefCount(), 1);
        EXPECT_FALSE(inst->setRef("e", mine)); // not a B variable
        EXPECT_FALSE(inst->setRef("nosuch", mine));
        mine->decRefCount();

        inst->reset();
        EXPECT_EQ(inst->getRef("F"), nullptr);
        EXPECT_EQ(KAL_RefType::liveObjects(), before);
        inst->run(lanes);
        EXPECT_EQ(KAL_RefType::liveObjects(), before + 2);
    }
    EXPECT_EQ(KAL_RefType::liveObjects(), before);
}

TEST_F(KalInstance, HostAccessRefusesWrongNamesTypesAndLanes)
{
    KAL_Shader shader(context, "host");
    shader.addVariable("u", 'F', false, "1.5");
    shader.addVariable("w", 'I', true, "4");
    ASSERT_TRUE(shader.addCall("set@FF", {"u", "u"}));
    ASSERT_TRUE(shader.compile());
    auto inst = instanceOf(shader);
    float f = 0;
    EXPECT_TRUE(inst->getFloat("u", 200, f)); // uniform: lane ignored
    EXPECT_FLOAT_EQ(f, 1.5f);
    int w = 0;
    EXPECT_TRUE(inst->getInt("w", KAL_MAX_LANES - 1, w)); // varying initial fills every lane
    EXPECT_EQ(w, 4);
    EXPECT_FALSE(inst->getInt("w", KAL_MAX_LANES, w));
    EXPECT_FALSE(inst->getInt("w", -1, w));
    EXPECT_FALSE(inst->getFloat("w", 0, f));
    EXPECT_FALSE(inst->setVector("u", 0, BX_Vector3()));
    EXPECT_FALSE(inst->setFloat(nullptr, 0, 1.0f));
    EXPECT_EQ(inst->findVariable("N"), 0);
    EXPECT_EQ(inst->findVariable("F"), 3);
    EXPECT_TRUE(inst->getVariable(0).isVarying());
    EXPECT_EQ(inst->getVariable(3).myType, 'B');
    EXPECT_EQ(inst->getVariable(3).myStride, 0);
    EXPECT_TRUE(inst->fillVector("dPdt", BX_Vector3(1, 2, 3)));
    EXPECT_EQ(valueAt<BX_Vector3>(*inst, "dPdt", 100), BX_Vector3(1, 2, 3));
    KAL_ProcArray tooMany(0);
    tooMany.myCount = KAL_MAX_LANES + 1;
    EXPECT_EQ(inst->run(tooMany), -1);
    // The instance keeps the program alive after the shader is gone.
    std::unique_ptr<KAL_Instance> survivor;
    {
        KAL_Shader temp(context, "temp");
        temp.addVariable("x", 'F', false, "8");
        temp.addCall("mul@FF", {"x", "x"});
        ASSERT_TRUE(temp.compile());
        survivor.reset(temp.createInstance());
    }
    KAL_ProcArray lanes(1);
    survivor->run(lanes);
    EXPECT_FLOAT_EQ(valueAt<float>(*survivor, "x", 0), 64.0f);
    // No instance from a shader that did not compile.
    KAL_Shader broken(context, "broken");
    broken.addCall("nosuch@F", {"1"});
    EXPECT_FALSE(broken.compile());
    EXPECT_EQ(broken.createInstance(), nullptr);
    KAL_Shader uncompiled(context, "uncompiled");
    EXPECT_EQ(uncompiled.createInstance(), nullptr);
}

TEST_F(KalInstance, InstancesOfOneProgramRunOnSeveralThreads)
{
    auto shader = compiled(context,
                           "varying float e\n"
                           "varying float k\n"
                           "set@FF k e\n"
                           "mul@FF k e\n"
                           "matchkal_specular@BF F 3\n",
                           "threads.kal");
    ASSERT_TRUE(shader);
    const int THREADS = 4, RUNS = 200;
    std::vector<int> wrong(THREADS, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t)
        threads.emplace_back(
            [&, t]
            {
                std::unique_ptr<KAL_Instance> inst(shader->createInstance());
                KAL_ProcArray lanes(64);
                for (int run = 0; run < RUNS; ++run)
                {
                    const float e = float(t * RUNS + run);
                    for (int l = 0; l < 64; ++l)
                        inst->setFloat("e", l, e + float(l));
                    inst->run(lanes);
                    for (int l = 0; l < 64; ++l)
                        wrong[t] += valueAt<float>(*inst, "k", l) != (e + float(l)) * (e + float(l));
                    const TestValue *f = valueOf(*inst, "F");
                    wrong[t] += !f || f->exponent != 9.0f || f->scale != 2.0f;
                }
            });
    for (std::thread &thread : threads)
        thread.join();
    for (int t = 0; t < THREADS; ++t)
        EXPECT_EQ(wrong[t], 0) << "thread " << t;
}

TEST_F(KalStrings, UniformStringArgumentsReadBothWays)
{
    auto shader = compiled(context,
                           "string file = \"data/a b#c.txt\"  # the '#' is in the string\n"
                           "bsdf x\n"
                           "named@BS F file\n"
                           "named@BS x \"say \\\"hi\\\" \\\\ \"\n",
                           "s.kal");
    ASSERT_TRUE(shader);
    auto inst = instanceOf(*shader);
    KAL_ProcArray lanes(3);
    inst->run(lanes);
    EXPECT_EQ(valueOf(*inst, "F")->text, "data/a b#c.txt|data/a b#c.txt");
    EXPECT_EQ(valueOf(*inst, "x")->text, "say \"hi\" \\ |say \"hi\" \\ ");
    EXPECT_STREQ(KAL_StringSet().getU(lanes), "");
    EXPECT_STREQ(KAL_StringSet(nullptr).getU(lanes), "");
}

// ---------------------------------------------------------------------------
// The compiler and hand-made rewrites.

TEST_F(KalCompiler, ExpandsRewritesThroughSeveralStages)
{

    // "phong@BF"(e): two stages to a normalised-N Lafortune lobe.
    EXPECT_EQ(listingOf(context, "float e = 12\nphong@BF F e\n"), "normalize@VV($t0, N)\n"
                                                                  "lafortune@BVVF(F, $t0, (-1, -1, 1), e)\n");
    // "matchkal_specular@BF"(e): three stages to a doubled Blinn lobe of e*e.
    EXPECT_EQ(listingOf(context, "float e = 3\nmatchkal_specular@BF F e\n"), "set@FF($t0, e)\n"
                                                                             "mul@FF($t0, e)\n"
                                                                             "normalize@VV($t1, N)\n"
                                                                             "blinn@BVF(F, $t1, $t0)\n"
                                                                             "mul@BF(F, 2)\n");
    // Each expansion has its own temporaries; equal constants are shared.
    auto shader = compiled(context, "bsdf a\nphong@BF a 2\nphong@BF F 4\n", "t.kal");
    ASSERT_TRUE(shader);
    const KAL_Program &p = *shader->getProgram();
    ASSERT_EQ(p.getInstructionCount(), 4);
    EXPECT_NE(p.getArgSlot(0, 0), p.getArgSlot(2, 0));
    EXPECT_EQ(p.getArgSlot(1, 2), p.getArgSlot(3, 2));
    EXPECT_EQ(p.getVariableKind(p.getArgSlot(0, 0)), KAL_Program::TEMPORARY);
    EXPECT_TRUE(p.isVariableVarying(p.getArgSlot(0, 0)));
    EXPECT_EQ(p.getVariableKind(p.getArgSlot(1, 2)), KAL_Program::CONSTANT);
    EXPECT_EQ(p.getOp(1), context.findOp("lafortune@BVVF"));
    EXPECT_EQ(p.getLine(3), 3);

    // The expanded program runs: per-lane normals, e*e and the factor 2.
    shader = compiled(context, "matchkal_specular@BF F 3\n", "m.kal");
    ASSERT_TRUE(shader);
    auto inst = instanceOf(*shader);
    inst->setVector("N", 0, BX_Vector3(0.0f, 0.0f, 5.0f));
    KAL_ProcArray lanes(2);
    inst->run(lanes);
    const TestValue *f = valueOf(*inst, "F");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->kind, "blinn");
    EXPECT_FLOAT_EQ(f->exponent, 9.0f);
    EXPECT_FLOAT_EQ(f->scale, 2.0f);
    EXPECT_EQ(f->normal, BX_Vector3(0.0f, 0.0f, 1.0f));
}

TEST_F(KalCompiler, ConstantsGlobalsWrittenListsAndNegativeCounts)
{
    static const int intIdx[] = {1};
    static const int vecIdx[] = {4}; // floats 4..6: (0, 1, 0)
    // These rewrites use a name table of their own.
    const char *const names[] = {"set@II", "set@VV", "dPds", "triple@VVVV"};
    // "seven@I"(k) -> set@II(k, 7)
    const std::vector<uint32_t> seven = {OP(0), ARG(0), CON(0), END};
    KAL_IReWrite sevenRw("seven@I", 1, names, 4, theInts, 2, theFloats, 7, seven.data(), int(seven.size()), nullptr, 0,
                         INT, intIdx, 1);
    new KAL_OpCode(context, &sevenRw, nullptr, 0);
    // "up@V"(v) -> set@VV(v, (0, 1, 0))
    const std::vector<uint32_t> up = {OP(1), ARG(0), CON(0), END};
    KAL_IReWrite upRw("up@V", 1, names, 4, theInts, 2, theFloats, 7, up.data(), int(up.size()), nullptr, 0, VEC, vecIdx,
                      1);
    new KAL_OpCode(context, &upRw, nullptr, 0);
    // "tangent@V"(v), side effects, count -2: set@VV(v, dPds)
    const std::vector<uint32_t> tangent = {OP(1), ARG(0), GL(2), END};
    KAL_IReWrite tangentRw("tangent@V", -2, names, 4, nullptr, 0, nullptr, 0, tangent.data(), int(tangent.size()),
                           nullptr, 0, nullptr, nullptr, 0);
    new KAL_OpCode(context, &tangentRw, nullptr, KAL_OPFLAG_SIDE_EFFECTS);
    // "three@VVVV" writes 1, 2, 3 like the native it stands for.
    const int written[] = {1, 2, 3, KAL_ARGS_END};
    const std::vector<uint32_t> three = {OP(3), ARG(0), ARG(1), ARG(2), ARG(3), END};
    KAL_IReWrite threeRw("three@VVVV", 4, names, 4, nullptr, 0, nullptr, 0, three.data(), int(three.size()), nullptr, 0,
                         nullptr, nullptr, 0);
    new KAL_OpCode(context, &threeRw, written, 0);

    EXPECT_EQ(context.findOp("tangent@V")->getOpFlag(), 0x2000000);
    EXPECT_EQ(listingOf(context, "int k\nvector v\nseven@I k\nup@V v\ntangent@V v\n"),
              "set@II(k, 7)\nset@VV(v, (0, 1, 0))\nset@VV(v, dPds)\n");
    // A literal may go where the op only reads.
    EXPECT_EQ(listingOf(context, "vector a\nvector b\nvector c\nthree@VVVV (1, 2, 3) a b c\n"),
              "triple@VVVV((1, 2, 3), a, b, c)\n");
    EXPECT_NE(errorOf(context, "vector a\nvector b\nthree@VVVV a (1, 2, 3) a b\n")
                  .find("the op writes this operand, so it must be a variable"),
              std::string::npos);

    auto shader = compiled(context, "varying vector a\nvector b\nvector c\nthree@VVVV dPdt a b c\n");
    ASSERT_TRUE(shader);
    auto inst = instanceOf(*shader);
    KAL_ProcArray lanes(3);
    inst->setVector("dPdt", 1, BX_Vector3(1, 0, 0));
    inst->run(lanes);
    EXPECT_EQ(valueAt<BX_Vector3>(*inst, "a", 1), BX_Vector3(1, 0, 0));
    // Uniform c ends with the last lane's value.
    EXPECT_EQ(valueAt<BX_Vector3>(*inst, "c", 0), BX_Vector3(0, 0, 0));
}

TEST_F(KalCompiler, PhotonStyleRewriteWritesOnlyTheGlobal)
{
    static const int none[] = {KAL_ARGS_END};
    static const int vecIdx[] = {0};
    // "glow@VV"(a, b) -> "lafortune@BVVF"(F, b, (-1, -1, 1), 2): F is kind 1.
    static const int fIdx[] = {3};
    static const int types[] = {2, 3};
    static const int idx[] = {vecIdx[0], fIdx[0]};
    rw.install(context, "glow@VV", 2, {OP(1), GL(14), ARG(1), CON(0), CON(1), END}, nullptr, 0, types, idx, 2, none);
    auto shader = compiled(context, "glow@VV (1, 1, 1) (0, 0, 1)\n", "g.kal");
    ASSERT_TRUE(shader);
    EXPECT_EQ(shader->getProgram()->listing(), "lafortune@BVVF(F, (0, 0, 1), (-1, -1, 1), 2)\n");
    auto inst = instanceOf(*shader);
    KAL_ProcArray lanes(1);
    inst->run(lanes);
    ASSERT_TRUE(valueOf(*inst, "F"));
    EXPECT_FLOAT_EQ(valueOf(*inst, "F")->exponent, 2.0f);
}

TEST_F(KalCompiler, MalformedRewritesGiveOneClearErrorNamingTheCall)
{
    static const int badType[] = {7};
    static const int farIdx[] = {5}; // a vector needs floats 5, 6, 7: one too many
    static const int intFar[] = {2};
    static const int intNear[] = {0};
    struct Case
    {
        const char *signature;
        int count;
        std::vector<uint32_t> words;
        const int *tempTypes;
        int tempCount;
        const int *constTypes;
        const int *constIdx;
        int constCount;
        const char *expected;
    };
    const Case cases[] = {
        {"k5@I", 1, {OP(11), W(5, 0), END}, nullptr, 0, nullptr, nullptr, 0, "has the unknown kind 5"},
        {"k0@I", 1, {OP(11), W(0, 3), END}, nullptr, 0, nullptr, nullptr, 0, "has the unknown kind 0"},
        {"open@I", 1, {OP(11), ARG(0)}, nullptr, 0, nullptr, nullptr, 0, "not ended by a word 0"},
        {"name@I", 1, {OP(99), ARG(0), END}, nullptr, 0, nullptr, nullptr, 0, "name index 99 is outside"},
        {"unk@I", 1, {OP(12), ARG(0), END}, nullptr, 0, nullptr, nullptr, 0, "unknown op \"nosuch@I\""},
        {"start@I", 1, {ARG(0), OP(11), END}, nullptr, 0, nullptr, nullptr, 0, "not an op name"},
        {"empty@I", 1, {END}, nullptr, 0, nullptr, nullptr, 0, "starts with 0x00000000"},
        {"few@I", 1, {OP(11), END}, nullptr, 0, nullptr, nullptr, 0, "takes 1 operands, the program gives 0"},
        {"many@I", 1, {OP(11), ARG(0), ARG(0), END}, nullptr, 0, nullptr, nullptr, 0, "the program gives 2"},
        {"arg@I", 1, {OP(11), ARG(1), END}, nullptr, 0, nullptr, nullptr, 0, "is argument 1 of a call with 1"},
        {"tmp@I", 1, {OP(11), TMP(0), END}, nullptr, 0, nullptr, nullptr, 0, "is temporary 0 of a rewrite with 0"},
        {"ttype@I", 1, {OP(11), TMP(0), END}, badType, 1, nullptr, nullptr, 0, "unknown type code 7"},
        {"tkind@I", 1, {OP(11), TMP(0), END}, FLT, 1, nullptr, nullptr, 0, "is a float, \"count@I\" wants an int"},
        {"con@I", 1, {OP(11), CON(0), END}, nullptr, 0, nullptr, nullptr, 0, "is constant 0 of a rewrite with 0"},
        {"cfar@V", 1, {OP(8), ARG(0), CON(0), END}, nullptr, 0, VEC, farIdx, 1, "reads the float table at 5"},
        {"ifar@I", 1, {OP(11), CON(0), END}, nullptr, 0, INT, intFar, 1, "reads the int table at 2"},
        {"ctype@I", 1, {OP(11), CON(0), END}, nullptr, 0, badType, intFar, 1, "constant of unknown type code 7"},
        {"cwrite@I", 1, {OP(11), CON(0), END}, nullptr, 0, INT, intNear, 1, "is a constant, but \"count@I\""},
        {"glob@V", 1, {OP(8), ARG(0), GL(13), END}, nullptr, 0, nullptr, nullptr, 0, "names \"Q\", which is not"},
        {"gname@V", 1, {OP(8), ARG(0), GL(60), END}, nullptr, 0, nullptr, nullptr, 0, "is outside the name table"},
        {"count@BF", 3, {OP(11), ARG(0), END}, nullptr, 0, nullptr, nullptr, 0, "registered with argument count 3"},
        {"selfish@I", 1, {OP(15), ARG(0), END}, nullptr, 0, nullptr, nullptr, 0, "nest deeper than 32"},
    };
    for (const Case &c : cases)
        rw.install(context, c.signature, c.count, c.words, c.tempTypes, c.tempCount, c.constTypes, c.constIdx,
                   c.constCount);
    for (const Case &c : cases)
    {
        std::string letters = std::string(c.signature).substr(std::string(c.signature).find('@') + 1);
        std::string text = "int i\nvector v\nbsdf b\n\n";
        text += c.signature;
        for (char l : letters)
            text += l == 'I' ? " i" : l == 'V' ? " v" : l == 'B' ? " b" : " 1";
        const std::string error = errorOf(context, text + "\n");
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.signature << ": " << error;
        EXPECT_EQ(error.rfind(std::string("t.kal:5: call \"") + c.signature + "\": ", 0), 0u) << error;
    }
    // The chain of expansions is named.
    rw.install(context, "outer@I", 1, {OP(16), ARG(0), ARG(0), ARG(0), ARG(0), END});
    const char *const names[] = {"unk@I"};
    const std::vector<uint32_t> words = {OP(0), ARG(0), END};
    KAL_IReWrite outer2("outer2@I", 1, names, 1, nullptr, 0, nullptr, 0, words.data(), 3, nullptr, 0, nullptr, nullptr,
                        0);
    new KAL_OpCode(context, &outer2, nullptr, 0);
    EXPECT_EQ(errorOf(context, "int i\nouter2@I i\n"),
              "t.kal:2: call \"outer2@I\": in rewrite \"outer2@I\" > \"unk@I\", instruction 1: unknown op "
              "\"nosuch@I\"");
    EXPECT_NE(errorOf(context, "int i\nouter@I i\n").find("is an int, \"triple@VVVV\" wants a vector"),
              std::string::npos);
}

// ---------------------------------------------------------------------------
// Text shaders.

TEST_F(KalLoader, ReadsDeclarationsCallsCommentsAndLineEndings)
{
    const std::string text = "# a glossy test\r\n"
                             "vector tint  = 0.8 0.2 0.1\r\n"
                             "vector axis = (0, 0, 2)   # parenthesised\n"
                             "float  shine=4e1\n"
                             "int    count = -3\n"
                             "varying float ramp\n"
                             "uniform bsdf   coat\n"
                             "\n"
                             "   \t\n"
                             "phong@BF    coat shine\n"
                             "lafortune@BVVF F axis tint +.5   # a comment after a call\n";
    auto shader = compiled(context, text, "glossy.kal");
    ASSERT_TRUE(shader);
    EXPECT_EQ(shader->getProgram()->listing(), "normalize@VV($t0, N)\n"
                                               "lafortune@BVVF(coat, $t0, (-1, -1, 1), shine)\n"
                                               "lafortune@BVVF(F, axis, tint, 0.5)\n");
    EXPECT_EQ(shader->getProgram()->getLine(2), 11);
    const KAL_Program &p = *shader->getProgram();
    EXPECT_TRUE(p.isVariableVarying(p.findVariable("ramp")));
    EXPECT_FALSE(p.isVariableVarying(p.findVariable("tint")));
    auto inst = instanceOf(*shader);
    EXPECT_EQ(valueAt<int>(*inst, "count", 0), -3);
    inst->fillVector("N", BX_Vector3(0, 0, 1));
    KAL_ProcArray lanes(4);
    inst->run(lanes);
    EXPECT_FLOAT_EQ(valueOf(*inst, "coat")->exponent, 40.0f);
    EXPECT_EQ(valueOf(*inst, "F")->coeff, BX_Vector3(0.8f, 0.2f, 0.1f));
    EXPECT_EQ(valueOf(*inst, "F")->normal, BX_Vector3(0, 0, 2));
}

TEST_F(KalLoader, MalformedShadersGiveOneErrorWithFileAndLine)
{
    struct Case
    {
        std::string text;
        std::string expected;
    };
    const std::string head = "float e = 2\nbsdf b\n";
    const Case cases[] = {
        {head + "nosuch@BF b e\n", "t.kal:3: call \"nosuch@BF\": unknown signature"},
        {head + "phong@BF b\n", "t.kal:3: call \"phong@BF\": takes 2 operands, given 1"},
        {head + "phong@BF b e e\n", "t.kal:3: call \"phong@BF\": takes 2 operands, given 3"},
        {head + "phong@BF e e\n", "t.kal:3: call \"phong@BF\": operand 1 \"e\": is a float, the op wants a bsdf"},
        {head + "phong@BF b N\n", "t.kal:3: call \"phong@BF\": operand 2 \"N\": is a vector, the op wants a float"},
        {head + "phong@BF b shine\n", "t.kal:3: call \"phong@BF\": operand 2 \"shine\": undeclared variable"},
        {"phong@BF F late\nfloat late = 1\n", "t.kal:1: call \"phong@BF\": operand 2 \"late\": undeclared variable"},
        {head + "phong@BF b 1.2.3\n", "t.kal:3: call \"phong@BF\": operand 2: \"1.2.3\" is not a number"},
        {head + "phong@BF b 1e99\n", "t.kal:3: call \"phong@BF\": operand 2: \"1e99\" is not a number"},
        {head + "phong@BF b nan\n", "t.kal:3: call \"phong@BF\": operand 2 \"nan\": undeclared variable"},
        {head + "phong@BF 3 e\n", "t.kal:3: call \"phong@BF\": operand 1 \"3\": a bsdf operand must be a variable"},
        {head + "lafortune@BVVF b (1, 2) (1, 1, 1) e\n",
         "t.kal:3: call \"lafortune@BVVF\": operand 2: \"(1, 2)\" is not a vector (x, y, z)"},
        {head + "count@I 2.5\n", "t.kal:3: call \"count@I\": operand 1 \"2.5\": the op writes this operand, so it "
                                 "must be a variable"},
        {head + "named@BS b \"open\n", "t.kal:3: unterminated string \"\"open\""},
        {head + "named@BS b \"a\"b\n",
         "t.kal:3: call \"named@BS\": operand 2: text follows the closing quote of a string \"\"a\"b\""},
        {head + "named@BS b noquotes\n", "t.kal:3: call \"named@BS\": operand 2 \"noquotes\": undeclared variable"},
        {head + "lafortune@BVVF b (1, 2, 3 e\n", "t.kal:3: unclosed parenthesis \"(1, 2, 3 e\""},
        {"", "t.kal:1: the shader is empty"},
        {"# nothing but a comment\nfloat x = 1\n", "t.kal:2: the shader makes no call"},
        {"float x = 1x\nphong@BF F x\n", "t.kal:1: declaration of \"x\": \"1x\" is not a number"},
        {"int i = 3000000000\ncount@I i\n", "t.kal:1: declaration of \"i\": \"3000000000\" is not an integer"},
        {"float e\nfloat e\nphong@BF F e\n", "t.kal:2: declaration of \"e\": the name is already taken"},
        {"vector N\nphong@BF F 1\n", "t.kal:1: declaration of \"N\": the name is already taken"},
        {"float 9x\nphong@BF F 1\n", "t.kal:1: declaration of \"9x\": not a valid variable name"},
        {"float\nphong@BF F 1\n", "t.kal:1: declaration of a float without a name"},
        {"float x 3\nphong@BF F 1\n", "t.kal:1: declaration of \"x\": expected \"=\" before the value, found \"3\""},
        {"float x =\nphong@BF F 1\n", "t.kal:1: declaration of \"x\": no value after \"=\""},
        {"bsdf x = 1\nphong@BF F 1\n", "t.kal:1: declaration of \"x\": a bsdf variable cannot have an initial value"},
        {"varying bsdf x\nphong@BF F 1\n", "t.kal:1: declaration of \"x\": a bsdf variable cannot be varying"},
        {"varying x\n", "t.kal:1: expected a type (bsdf, float, int, vector, string) after \"varying\""},
        {"hello world\n", "t.kal:1: expected a declaration or a call (name@LETTERS), found \"hello\""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(errorOf(context, c.text), c.expected) << c.text;
    // Programs beyond the 16-bit instruction index, or whose variables would
    // not fit in an instance, are refused.
    std::string many = "float x\n";
    for (int i = 0; i < KAL_Shader::MAX_INSTRUCTIONS + 1; ++i)
        many += "set@FF x 1\n";
    EXPECT_EQ(errorOf(context, many), "t.kal:65537: call \"set@FF\": the program exceeds 65535 instructions");
    std::string huge;
    for (int i = 0; i < 90000; ++i)
        huge += "varying vector v" + std::to_string(i) + "\n";
    EXPECT_EQ(errorOf(context, huge + "set@VV v0 v1\n"),
              "t.kal: the program's variables need 263 MB, more than the 256 MB an instance may hold");
    // A control character is shown escaped; a byte-order mark is skipped.
    EXPECT_EQ(errorOf(context, "phong@BF F \x01\n"),
              "t.kal:1: call \"phong@BF\": operand 2: \"\\x01\" is not a number");
    EXPECT_EQ(errorOf(context, "\xEF\xBB\xBFphong@BF F 1\n"), "");
    // A NUL byte inside a line.
    const std::string withNul("phong@BF F 1\nx\0y@B F\n", 22);
    EXPECT_EQ(errorOf(context, withNul), "t.kal:2: the line holds a NUL byte: not a text shader");

    // A 1 MB line: one short message naming the line, not the megabyte.
    const std::string big = "phong@BF F 1\n" + std::string(1 << 20, 'a') + "@B F\n";
    const std::string error = errorOf(context, big);
    EXPECT_EQ(error.rfind("t.kal:2: call \"aaaa", 0), 0u);
    EXPECT_LT(error.size(), 200u);
    EXPECT_NE(error.find("unknown signature"), std::string::npos);
    const std::string bigNumber = "float e = " + std::string(1 << 20, '7') + "\nphong@BF F e\n";
    EXPECT_NE(errorOf(context, bigNumber).find("t.kal:1: declaration of \"e\": \"7777"), std::string::npos);

    // After an error the builder ignores everything and nothing compiles.
    KAL_Shader shader(context, "x.kal");
    EXPECT_FALSE(KAL_ShaderLoader::parseText("bogus\n", shader));
    EXPECT_FALSE(shader.addCall("phong@BF", {"F", "1"}));
    EXPECT_FALSE(shader.compile());
    EXPECT_EQ(shader.getError(), "x.kal:1: expected a declaration or a call (name@LETTERS), found \"bogus\"");
}

TEST_F(KalLoader, FilesAndRandomInputNeverCrash)
{
    std::string error;
    EXPECT_EQ(KAL_ShaderLoader::load(context, "/nonexistent/dir/x.kal", error), nullptr);
    EXPECT_EQ(error, "/nonexistent/dir/x.kal: cannot open the file: No such file or directory");
    EXPECT_EQ(KAL_ShaderLoader::load(context, nullptr, error), nullptr);
    EXPECT_FALSE(error.empty());
    // A folder opens but does not read.
    EXPECT_EQ(KAL_ShaderLoader::load(context, SRF_BINARY_TEST_DIR, error), nullptr);
    EXPECT_EQ(error, std::string(SRF_BINARY_TEST_DIR) + ": cannot read the file");

    // A real file in the build tree.
    const std::string path = std::string(SRF_BINARY_TEST_DIR) + "/kal_loader_test.kal";
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    fputs("float e = 5\nphong@BF F e\n", f);
    fclose(f);
    auto shader = KAL_ShaderLoader::load(context, path.c_str(), error);
    remove(path.c_str());
    ASSERT_TRUE(shader) << error;
    EXPECT_EQ(shader->getSourceName(), path);
    EXPECT_EQ(shader->getProgram()->getInstructionCount(), 2);

    // Random lines built from shader-like pieces: every one either compiles
    // or gives one message starting with the file name; none crashes.
    const char *pieces[] = {"phong@BF", "F",   "e",  "1",  "(1, 2, 3)", "\"s\"", "\"", "(",  ")",  "#",
                            "float",    "int", "=",  "b",  "bsdf",      "-",     "@",  "\\", "1e", "named@BS",
                            "count@I",  "i",   "\t", "\r", "varying",   "N",     ",",  ".5", "0x1"};
    const char *valid[] = {"phong@BF F 2", "# a comment", "matchkal_specular@BF F 1.5", "", "float x = 1"};
    std::mt19937 random(7);
    int compiled = 0;
    for (int trial = 0; trial < 2000; ++trial)
    {
        std::string text;
        const int lines = 1 + int(random() % 4);
        for (int l = 0; l < lines; ++l)
        {
            if (random() % 2)
            {
                text += std::string(valid[random() % (sizeof valid / sizeof valid[0])]) + "\n";
                continue;
            }
            const int words = int(random() % 6);
            for (int w = 0; w < words; ++w)
                text += std::string(pieces[random() % (sizeof pieces / sizeof pieces[0])]) + " ";
            text += "\n";
        }
        std::unique_ptr<KAL_Shader> s = KAL_ShaderLoader::compileText(context, text, "r.kal", error);
        if (s)
        {
            ++compiled;
            auto inst = instanceOf(*s);
            ASSERT_TRUE(inst);
            KAL_ProcArray lanes(3);
            inst->run(lanes);
        }
        else
            EXPECT_EQ(error.rfind("r.kal:", 0), 0u) << text << " -> " << error;
    }
    EXPECT_GT(compiled, 0);
}
