// Leak accounting over random op programs: constructors, every pairing of
// the arithmetic ops (null operands, a variable with itself, lobes and
// composites), overwrites and queries, run over random lane masks. After
// each program its instance is destroyed and the pool and the count of
// reference-counted values must be back where they started.
#include "KAL_Context.h"
#include "KAL_DataPool.h"
#include "KAL_Instance.h"
#include "KAL_ProcArray.h"
#include "KAL_RefType.h"
#include "KAL_Shader.h"
#include "SRF_BSDF.h"
#include "SRF_Functions.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace
{
const int PROGRAMS = 3000;
const int MAX_CALLS = 24;
// Most runs use a few lanes; some use the runtime's full width.
const int SMALL_LANES = 16;

// Variables every generated program declares. b0..b3 and F are BSDFs, some
// of which stay null; v and w are vectors, e and s floats, m an int mask.
const char *const BSDFS[] = {"F", "b0", "b1", "b2", "b3"};
const int BSDF_COUNT = 5;

struct Call
{
    const char *signature;
    // One character per operand: B a BSDF variable, V a vector variable or
    // global, F a float variable or literal, I the mask, S the file name,
    // O a written vector, P a written float, Q a written int.
    const char *operands;
};

// The ops the programs draw from: constructors (native and through
// rewrites), arithmetic and queries.
const Call CALLS[] = {
    {"isotropic@B", "B"},
    {"lafortune@BVVF", "BVVF"},
    {"ashikhmin@BVFFVV", "BVFFVV"},
    {"blinn@BVF", "BVF"},
    {"specular@BV", "BV"},
    {"phonglobe@BVF", "BVF"},
    {"cone@BVF", "BVF"},
    {"wirediffuse@BV", "BV"},
    {"wireblinn@BVF", "BVF"},
    {"set@BF", "BF"},
    {"set@BV", "BV"},
    {"measured@BSVVV", "BSVVV"},
    {"diffuse@B", "B"},
    {"phong@BF", "BF"},
    {"add@BB", "BB"},
    {"mul@BB", "BB"},
    {"mul@BF", "BF"},
    {"mul@BV", "BV"},
    {"add@BB", "BB"},
    {"mul@BB", "BB"},
    {"sample_bsdf@BVVVVIFFI", "BVVOOQFFI"},
    {"eval_bsdf@VBVVVI", "OBVVVI"},
    {"albedo@VBVVI", "OBVVI"},
    {"emission_bsdf@VB", "OB"},
    {"specularratio_bsdf@FBI", "PBI"},
    {"getbounces@IB", "QB"},
};
const int CALL_COUNT = sizeof(CALLS) / sizeof(CALLS[0]);

class Leaks : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SRF_Functions::installFunctions(context);
        SRF_Functions::installPhotonFunctions(context);
    }

    long blocks() const { return KAL_DataPool::getDataPool().blocksOut(); }

    // Builds, runs and destroys one program; the text of its calls goes to
    // `listing` for the failure message. True when everything came back.
    bool runProgram(std::mt19937 &random, std::string &listing)
    {
        const long blocksBefore = blocks();
        const long objectsBefore = KAL_RefType::liveObjects();
        {
            KAL_Shader shader(context, "random.kal");
            const bool varying = random() % 2 == 0;
            shader.addVariable("v", 'V', varying, "0.3 0.6 0.9");
            shader.addVariable("w", 'V', false, "(0, 0, 1)");
            shader.addVariable("e", 'F', varying, "12");
            shader.addVariable("s", 'F', false, "0.5");
            shader.addVariable("m", 'I', false, "15");
            shader.addVariable("name", 'S', false, "\"leaks_missing.astm\"");
            shader.addVariable("out", 'V', true);
            shader.addVariable("col", 'V', true);
            shader.addVariable("r", 'F', true);
            shader.addVariable("k", 'I', true);
            for (int b = 1; b < BSDF_COUNT; ++b)
                shader.addVariable(BSDFS[b], 'B', false);
            const int calls = 1 + int(random() % MAX_CALLS);
            listing.clear();
            for (int c = 0; c < calls; ++c)
            {
                const Call &call = CALLS[random() % CALL_COUNT];
                std::vector<std::string> operands;
                for (const char *o = call.operands; *o; ++o)
                    operands.push_back(operand(*o, random));
                listing += call.signature;
                for (const std::string &o : operands)
                    listing += " " + o;
                listing += "\n";
                shader.addCall(call.signature, operands);
            }
            if (!shader.compile())
            {
                ADD_FAILURE() << shader.getError() << "\n" << listing;
                return false;
            }
            std::unique_ptr<KAL_Instance> instance(shader.createInstance());
            if (!instance)
            {
                ADD_FAILURE() << "no instance\n" << listing;
                return false;
            }
            instance->fillVector("N", BX_Vector3(0.0f, 0.0f, 1.0f));
            instance->fillVector("dPds", BX_Vector3(1.0f, 0.0f, 0.0f));
            instance->fillVector("dPdt", BX_Vector3(0.0f, 1.0f, 0.0f));
            const int runs = 1 + int(random() % 3);
            for (int r = 0; r < runs; ++r)
            {
                KAL_ProcArray lanes(random() % 8 == 0 ? KAL_MAX_LANES : 1 + int(random() % SMALL_LANES));
                // Lane masks from all running to none running.
                const unsigned stopEvery = random() % 5;
                for (int lane = 0; lane < lanes.getCount(); ++lane)
                    if (stopEvery == 1 || (stopEvery > 1 && random() % stopEvery == 0))
                        lanes.setState(lane, 1);
                instance->run(lanes);
            }
            // A duplicate of the result must go as well.
            if (KAL_RefType *f = instance->getRef("F"))
                if (SRF_BSDF *copy = static_cast<SRF_BSDF *>(f)->duplicate(SMALL_LANES))
                    copy->decRefCount();
        }
        return blocks() == blocksBefore && KAL_RefType::liveObjects() == objectsBefore;
    }

    std::string operand(char kind, std::mt19937 &random)
    {
        switch (kind)
        {
        case 'B':
            return BSDFS[random() % BSDF_COUNT];
        case 'V':
        {
            const char *const vectors[] = {"v", "w", "N", "dPds", "dPdt", "(0.5, 0.5, 0.5)", "(0, 0, 0)"};
            return vectors[random() % 7];
        }
        case 'F':
        {
            const char *const floats[] = {"e", "s", "0", "-1", "2.5", "1e30"};
            return floats[random() % 6];
        }
        case 'I':
        {
            const char *const masks[] = {"m", "0", "1", "7", "15"};
            return masks[random() % 5];
        }
        case 'S':
            return "name";
        case 'O':
            return random() % 2 ? "out" : "col";
        case 'P':
            return "r";
        case 'Q':
            return "k";
        }
        return "";
    }

    KAL_Context context;
};

// Thousands of random programs: after each, nothing is left.
TEST_F(Leaks, RandomProgramsGiveEverythingBack)
{
    std::mt19937 random(20261206u);
    std::string listing;
    int failures = 0;
    for (int p = 0; p < PROGRAMS && failures < 3; ++p)
        if (!runProgram(random, listing))
        {
            ++failures;
            ADD_FAILURE() << "program " << p << " left pool blocks or values behind:\n" << listing;
        }
    EXPECT_EQ(failures, 0);
}

// Every pairing of the arithmetic ops' operands, by hand: each side null, a
// lobe or a composite, and a variable with itself. Each result is checked
// for the values still alive while the instance holds it, and everything is
// gone after it.
TEST_F(Leaks, ArithmeticOverEveryPairing)
{
    const char *const ops[] = {"add@BB", "mul@BB"};
    for (const char *op : ops)
        for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 4; ++b) // 3: the same variable twice
            {
                SCOPED_TRACE(std::string(op) + " " + std::to_string(a) + " " + std::to_string(b));
                const long blocksBefore = blocks();
                const long objectsBefore = KAL_RefType::liveObjects();
                {
                    KAL_Shader shader(context, "pairing.kal");
                    shader.addVariable("x", 'B', false);
                    shader.addVariable("y", 'B', false);
                    shader.addVariable("c", 'V', false, "0.5 0.5 0.5");
                    auto build = [&](const char *name, int state)
                    {
                        if (state == 1)
                            shader.addCall("isotropic@B", {name});
                        else if (state == 2)
                        {
                            shader.addCall("isotropic@B", {name});
                            shader.addCall("mul@BV", {name, "c"});
                        }
                    };
                    build("x", a);
                    build("y", b == 3 ? 0 : b);
                    shader.addCall(op, {"x", b == 3 ? "x" : "y"});
                    ASSERT_TRUE(shader.compile()) << shader.getError();
                    std::unique_ptr<KAL_Instance> instance(shader.createInstance());
                    ASSERT_TRUE(instance);
                    KAL_ProcArray lanes(5);
                    lanes.setState(2, 1);
                    instance->run(lanes);
                    // Values alive: a lobe is one, a composite two (lobe and
                    // scale); the op adds one when both operands are there.
                    // add@BB with a null left side shares the right one; mul@BB
                    // with a null side leaves null.
                    const bool isAdd = std::string(op) == "add@BB";
                    long alive;
                    if (b == 3)
                        alive = a > 0 ? a + 1 : 0;
                    else if (a > 0 && b > 0)
                        alive = a + b + 1;
                    else if (a == 0)
                        alive = b;
                    else
                        alive = isAdd ? a : 0;
                    EXPECT_EQ(KAL_RefType::liveObjects() - objectsBefore, alive);
                    const bool held = b == 3 ? a > 0 : (a > 0 && b > 0) || (isAdd && (a > 0 || b > 0));
                    EXPECT_EQ(instance->getRef("x") != nullptr, held);
                    instance->run(lanes); // overwrites the first run's values
                }
                EXPECT_EQ(blocks(), blocksBefore);
                EXPECT_EQ(KAL_RefType::liveObjects(), objectsBefore);
            }
}
} // namespace
