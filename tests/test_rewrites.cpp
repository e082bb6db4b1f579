// The rewrite tables: every program decodes to the instructions that the
// table's source states beside it, and compiles against the ops. (The
// example shaders are compiled and run by test_stress and srf's tests.)
#include "KAL_IReWrite.h"
#include "KAL_OpCode.h"
#include "KAL_Program.h"
#include "Program.h"
#include "SRF_ReWrite.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <vector>

namespace
{
// A rewrite's program as "op(a0, t0, c0, N); ...", its temporaries and its
// constants with the values read from the tables at each constant's index.
std::string decode(const KAL_IReWrite &rw)
{
    std::string out;
    for (char ch : rw.disassemble())
        out += ch == '\n' ? std::string("; ") : ch == '"' ? std::string() : std::string(1, ch);
    out = out.size() >= 2 ? out.substr(0, out.size() - 2) : out;
    for (int t = 0; t < rw.getTempCount(); ++t)
        out += std::string(t ? ", " : " | ") + (rw.getTempTypes()[t] == 2 ? "vector" : "float");
    for (int c = 0; c < rw.getConstCount(); ++c)
    {
        const int at = rw.getConstIndices()[c], type = rw.getConstTypes()[c];
        const bool vector = type == KAL_IReWrite::VECTOR, integer = type == KAL_IReWrite::INT;
        if (at + (vector ? 3 : 1) > (integer ? rw.getIntCount() : rw.getFloatCount()))
            return out + " | constant out of range";
        char text[96];
        if (integer)
            snprintf(text, sizeof text, "int %d: %d", at, rw.getInts()[at]);
        else if (vector)
            snprintf(text, sizeof text, "vector %d: (%g, %g, %g)", at, double(rw.getFloats()[at]),
                     double(rw.getFloats()[at + 1]), double(rw.getFloats()[at + 2]));
        else
            snprintf(text, sizeof text, "float %d: %g", at, double(rw.getFloats()[at]));
        out += std::string(c ? "; " : " | ") + text;
    }
    return out;
}

// The expansions that the rewrite table's source states above each program
// ("// sig, sig -> text", the text running on over the comment lines that
// follow), by signature.
std::map<std::string, std::string> statedExpansions()
{
    std::map<std::string, std::string> stated;
    std::istringstream source(TestUtil::readFile(SRF_SOURCE_DIR "/bindings/SRF_ReWrite.cpp"));
    std::vector<std::string> signatures;
    std::string line, text;
    auto close = [&]
    {
        for (const std::string &sig : signatures)
            stated[sig] = text;
        signatures.clear();
    };
    while (std::getline(source, line))
    {
        const size_t arrow = line.find(" -> ");
        if (line.rfind("// ", 0) == 0 && arrow != std::string::npos && line.find('@') < arrow)
        {
            close();
            std::istringstream names(line.substr(3, arrow - 3));
            for (std::string sig; std::getline(names >> std::ws, sig, ',');)
                signatures.push_back(sig);
            text = line.substr(arrow + 4);
        }
        else if (line.rfind("// ", 0) == 0 && !signatures.empty())
            text += " " + line.substr(3);
        else
            close();
    }
    return stated;
}
} // namespace

TEST(ReWrites, EveryProgramDecodesToItsInstructions)
{
    // Signature, argument count, then the decoded program.
    const std::pair<const char *, int> rows[] = {
        {"phong@BF", 2},
        {"phong@BVF", 3},
        {"diffuse@B", 1},
        {"diffuse@BV", 2},
        {"matchkal_blinn@BF", 2},
        {"matchkal_blinn@BVF", 3},
        {"matchkal_specular@BF", 2},
        {"matchkal_specular@BVF", 3},
        {"lafortune@BVF", 3},
        {"ashikhmin@BFFVV", 5},
        {"blinn@BF", 2},
        {"measured@BSV", -4},
        {"measured@BS", -3},
        {"albedo@VBVV", 4},
        {"albedo@VBI", 3},
        {"albedo@VB", 2},
        {"eval_bsdf@VBVVV", 5},
        {"sample_bsdf@BVVVVIFF", 8},
        {"specularratio_bsdf@FB", 2},
        {"photon_store@VVVV", 4},
        {"photon_diffuse@VVV", 3},
        {"photon_reflect@VVV", 3},
        {"photon_transmit@VVV", 3},
    };
    const std::map<std::string, std::string> programs = statedExpansions();
    EXPECT_EQ(programs.size(), 23u);
    KAL_Context context;
    SRFinstallReWrite(context);
    SRFinstallPhotonReWrite(context);
    ASSERT_EQ(context.getOpCount(), context.getBuiltinCount() + 23);
    std::vector<int> floatUse(22, 0), intUse(5, 0);
    for (int r = 0; r < 23; ++r)
    {
        const auto &[signature, count] = rows[r];
        SCOPED_TRACE(signature);
        const KAL_OpCode *op = context.getOp(context.getBuiltinCount() + r); // registered in table order
        ASSERT_STREQ(op->getSignature(), signature);
        const KAL_IReWrite &rw = *op->getReWrite();
        ASSERT_TRUE(programs.count(signature));
        EXPECT_EQ(decode(rw), programs.at(signature));
        EXPECT_TRUE(rw.getArgCount() == count && op->getArgCount() == count);
        const std::string sig = signature;
        EXPECT_EQ(op->getOpFlag(), sig.rfind("measured@", 0) == 0 ? 0x2000000 : 0);
        // The photon rewrites write none of their arguments (they set F).
        std::vector<int> written;
        for (const int *w = op->getWrittenArgs(); *w != KAL_ARGS_END; ++w)
            written.push_back(*w);
        const std::vector<int> expected = r >= 19   ? std::vector<int>()
                                          : r == 17 ? std::vector<int>{3, 4, 5}
                                                    : std::vector<int>{0};
        EXPECT_EQ(written, expected);
        // The general rewrites share one name, int and float table, each
        // entry belonging to exactly one constant.
        EXPECT_EQ(rw.getNameCount(), r >= 19 ? 4 : 21);
        for (int c = 0; r < 19 && c < rw.getConstCount(); ++c)
            if (rw.getConstTypes()[c] == KAL_IReWrite::INT)
                ++intUse[rw.getConstIndices()[c]];
            else
                for (int k = 0; k < (rw.getConstTypes()[c] == KAL_IReWrite::VECTOR ? 3 : 1); ++k)
                    ++floatUse[rw.getConstIndices()[c] + k];
    }
    EXPECT_EQ(floatUse, std::vector<int>(22, 1));
    EXPECT_EQ(intUse, std::vector<int>(5, 1));

    // Every rewrite compiles against the ops: the compiler checks each
    // expanded operand's type.
    for (int r = 0; r < 23; ++r)
    {
        const std::string sig = rows[r].first;
        std::string call = "bsdf b\nvector v\nfloat f\nint i\nstring s = \"none.astm\"\n" + sig;
        for (char letter : sig.substr(sig.find('@') + 1))
            call += letter == 'B' ? " b" : letter == 'V' ? " v" : letter == 'F' ? " f" : letter == 'I' ? " i" : " s";
        EXPECT_TRUE(Program(call + "\n").ok()) << call;
    }
    // The photon rewrites call ops of the general install; written arguments
    // must be variables, read ones may be literals.
    KAL_Context photons;
    SRF_Functions::installPhotonFunctions(photons);
    EXPECT_FALSE(Program("# old shader\nphoton_reflect@VVV N N (1, 1, 1)\n", photons).ok());
    EXPECT_TRUE(Program("vector v\nvector c\nint b\nsample_bsdf@BVVVVIFF F (0, 0, 1) N v c b 0.5 0.5\n").ok());
    EXPECT_FALSE(Program("vector c\nint b\nsample_bsdf@BVVVVIFF F N N (0, 0, 1) c b 0.5 0.5\n").ok());
    EXPECT_FALSE(Program("albedo@VB (0, 0, 0) F\n").ok());
}
