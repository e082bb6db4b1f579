// Tests of the rewrite tables: the programs decode to the instructions they
// stand for, compile to the expected native calls, and run to the same
// results as the native calls written out by hand; the example shaders
// compile and run.
#include "KAL_Context.h"
#include "KAL_IReWrite.h"
#include "KAL_OpCode.h"
#include "SRF_ReWrite.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace
{
// ---------------------------------------------------------------------------
// Decoding the program words.

// The type letters of a signature ("" when it has no '@').
std::string lettersOf(const std::string &signature)
{
    const size_t at = signature.find('@');
    return at == std::string::npos ? std::string() : signature.substr(at + 1);
}

char letterOfCode(int code)
{
    return code == KAL_IReWrite::VECTOR  ? 'V'
           : code == KAL_IReWrite::FLOAT ? 'F'
           : code == KAL_IReWrite::INT   ? 'I'
                                         : '?';
}

// The letter of a shader global, or '?' for a name that is not one.
char letterOfGlobal(const std::string &name)
{
    if (name == "N" || name == "dPds" || name == "dPdt")
        return 'V';
    return name == "F" ? 'B' : '?';
}

// Writes a rewrite's program as "op(a0, t0, c1, N); op(...)" and checks, per
// operand, that its kind supplies a value of the type letter that the called
// op expects at that position. Every mismatch is added to `faults`.
std::string decode(const KAL_IReWrite &rw, std::vector<std::string> &faults)
{
    const std::string own = lettersOf(rw.getSignature());
    const uint32_t *words = rw.getWords();
    std::string out;
    int i = 0;
    while (i < rw.getWordCount())
    {
        const uint32_t head = words[i++];
        if (KAL_IReWrite::wordKind(head) != KAL_IReWrite::KIND_NAME || !rw.getName(KAL_IReWrite::wordIndex(head)))
        {
            faults.push_back("instruction does not start with an op name");
            return out;
        }
        const std::string op = rw.getName(KAL_IReWrite::wordIndex(head));
        const std::string letters = lettersOf(op);
        if (!out.empty())
            out += "; ";
        out += op + "(";
        int k = 0;
        for (; i < rw.getWordCount() && words[i] != 0; ++i, ++k)
        {
            const int kind = KAL_IReWrite::wordKind(words[i]);
            const int index = KAL_IReWrite::wordIndex(words[i]);
            std::string operand;
            char letter = '?';
            switch (kind)
            {
            case KAL_IReWrite::KIND_NAME:
                operand = rw.getName(index) ? rw.getName(index) : "?";
                letter = letterOfGlobal(operand);
                break;
            case KAL_IReWrite::KIND_ARG:
                operand = "a" + std::to_string(index);
                letter = index < int(own.size()) ? own[index] : '?';
                break;
            case KAL_IReWrite::KIND_TEMP:
                operand = "t" + std::to_string(index);
                letter = index < rw.getTempCount() ? letterOfCode(rw.getTempTypes()[index]) : '?';
                break;
            case KAL_IReWrite::KIND_CONST:
                operand = "c" + std::to_string(index);
                letter = index < rw.getConstCount() ? letterOfCode(rw.getConstTypes()[index]) : '?';
                break;
            default:
                operand = "?";
            }
            out += (k ? ", " : "") + operand;
            if (k >= int(letters.size()) || letter != letters[k])
                faults.push_back(op + " operand " + std::to_string(k) + " (" + operand + ") has type " + letter);
        }
        out += ")";
        if (k != int(letters.size()))
            faults.push_back(op + " has " + std::to_string(k) + " operands");
        if (i >= rw.getWordCount())
        {
            faults.push_back("program does not end with 0");
            return out;
        }
        ++i; // the 0 that ends the instruction
    }
    return out;
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
        EXPECT_STREQ(rw.getSignature(), rows[r].signature);
        EXPECT_EQ(rw.getArgCount(), rows[r].count);
        EXPECT_EQ(op->getArgCount(), rows[r].count);
        std::vector<std::string> faults;
        EXPECT_EQ(decode(rw, faults), rows[r].program);
        for (const std::string &fault : faults)
            ADD_FAILURE() << fault;
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
} // namespace
