// Faults found by review: table passes on small thread stacks, a Switch
// without an index block duplicated, and the node bound of the arithmetic
// ops (a tree it caps, and shared trees whose counts have saturated).

#include "KAL_Context.h"
#include "KAL_Instance.h"
#include "KAL_ProcArray.h"
#include "KAL_Shader.h"
#include "KAL_ShaderLoader.h"
#include "SRF_ArithmeticOps.h"
#include "SRF_CompositeBSDF.h"
#include "SRF_Functions.h"
#include "SRF_Isotropic.h"
#include "SRF_SphericalHarmonics.h"
#include "SRF_SumBSDF.h"
#include "SRF_SwitchBSDF.h"
#include "SRF_Wavelet2D.h"
#include "TestUtil.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <cmath>
#include <memory>
#include <string>

namespace
{
using TestUtil::hold;

// What the table passes computed on the small stack.
struct SmallStackRun
{
    float wavelet[4] = {};
    float harmonic = 0.0f;
};

void *compressTables(void *arg)
{
    SmallStackRun &out = *static_cast<SmallStackRun *>(arg);
    const float table[4] = {1.0f, 3.0f, 0.0f, 4.0f};
    SRF_Wavelet2D pyramid;
    pyramid.init(out.wavelet, 1);
    pyramid.compress(table);
    float ones[16];
    for (float &one : ones)
        one = 1.0f;
    SRF_SphericalHarmonics harmonics;
    harmonics.init(&out.harmonic, 1);
    harmonics.compress(ones, 4, 4);
    return nullptr;
}

// Hosts build tables on worker threads with small stacks; a 2 x 2 pyramid
// and a 4 x 4 harmonics grid need only a few floats of scratch.
TEST(Fixes, TableCompressionRunsOnA64KiBStack)
{
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 64 * 1024), 0);
    SmallStackRun run;
    pthread_t worker;
    ASSERT_EQ(pthread_create(&worker, &attr, compressTables, &run), 0);
    ASSERT_EQ(pthread_join(worker, nullptr), 0);
    pthread_attr_destroy(&attr);
    // Mean 2, columns (1 + 0) - (3 + 4), rows (0 + 4) - (1 + 3), anti-diagonal
    // (3 + 0) - (1 + 4), each over 4.
    const float expected[4] = {2.0f, -1.5f, 0.0f, -0.5f};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(run.wavelet[i], expected[i]) << i;
    // A constant 1 projects onto Y(0, 0) = sqrt(1 / (4 pi)) as sqrt(4 pi).
    EXPECT_NEAR(run.harmonic, std::sqrt(4.0 * TestUtil::PI), 1e-4);
}

// A Switch without an index block answers as null on every lane; so must
// its copy, even when the pool hands the copy a block that once held
// indices.
TEST(Fixes, SwitchWithoutIndexBlockDuplicatesAsNull)
{
    int *stale = SRF_BSDF::allocInteger();
    for (int lane = 0; lane < 8; ++lane)
        stale[lane] = 0;
    SRF_BSDF::release(stale);
    BX_PtrArray<SRF_BSDF *> entries;
    entries.append(new SRF_Isotropic());
    auto original = hold(new SRF_SwitchBSDF(entries, nullptr));
    auto copy = hold(original->duplicate(8));
    ASSERT_NE(copy, nullptr);
    const BX_Vector3 u(0.0f, 0.6f, 0.8f), n(0.0f, 0.0f, 1.0f);
    for (int lane = 0; lane < 8; ++lane)
    {
        EXPECT_EQ(original->getBounces(lane), 0) << lane;
        EXPECT_EQ(copy->getBounces(lane), 0) << lane;
        EXPECT_EQ(copy->albedo(u, n, lane), 0.0f) << lane;
        EXPECT_EQ(TestUtil::evaluateOf(*copy, u, n, u, lane).colour.x, 0.0f) << lane;
    }
}

class FixesOps : public ::testing::Test
{
protected:
    void SetUp() override { SRF_Functions::installFunctions(context); }
    std::unique_ptr<KAL_Instance> compile(const std::string &text)
    {
        std::string error;
        shader = KAL_ShaderLoader::compileText(context, text, "fixes.kal", error);
        EXPECT_TRUE(shader) << error;
        return std::unique_ptr<KAL_Instance>(shader ? shader->createInstance() : nullptr);
    }
    KAL_Context context;
    std::unique_ptr<KAL_Shader> shader;
};

// "add@BB F F" doubles a tree: after k of them a query visits 2^(k+1) - 1
// nodes. Eleven make 4095; the twelfth would make 8191 and is dropped, the
// first tint makes 4096 and stays, every later op is dropped. So F is
// 2^11 isotropic lobes tinted by 0.5 once: 1024, not 512 or 4096 or less.
TEST_F(FixesOps, ACappedTreeKeepsWhatItHadBeforeTheBound)
{
    std::string text = "isotropic@B F\n";
    for (int i = 0; i < 12; ++i)
        text += "add@BB F F\n";
    text += "mul@BF F 0.5\nmul@BF F 0.5\nmul@BV F (0.5, 0.25, 0.5)\nmul@BB F F\n";
    auto instance = compile(text);
    ASSERT_TRUE(instance);
    KAL_ProcArray lanes(2);
    instance->run(lanes);
    const SRF_BSDF *f = static_cast<const SRF_BSDF *>(instance->getRef("F"));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(SRF_CompositeBSDF::queryNodes(f), SRF_MAX_TREE_NODES);
    const BX_Vector3 u(0.0f, 0.6f, 0.8f), n(0.0f, 0.0f, 1.0f), v(0.6f, 0.0f, 0.8f);
    const TestUtil::Evaluated e = TestUtil::evaluateOf(*f, u, n, v, 1);
    EXPECT_VEC_NEAR(e.colour, 1024.0f, 1024.0f, 1024.0f, 0.0f);
    // A near-zero factor still makes a null, capped or not.
    auto zero = compile(text + "mul@BF F 0\n");
    ASSERT_TRUE(zero);
    zero->run(lanes);
    EXPECT_EQ(zero->getRef("F"), nullptr);
}

// A host may build a shared tree whose count saturates (2^30). Adding or
// multiplying it with itself must still be refused: the sum of the two
// counts must not wrap around to a small number.
TEST_F(FixesOps, SaturatedSharedTreesStayOverTheBound)
{
    SRF_BSDF *tree = new SRF_Isotropic();
    for (int level = 0; level < 31; ++level)
    {
        tree->addRefCount();
        tree = new SRF_SumBSDF(tree, tree);
    }
    auto held = hold(tree);
    ASSERT_EQ(SRF_CompositeBSDF::queryNodes(tree), SRF_CompositeBSDF::MAX_QUERY_NODES);
    for (const char *op : {"add@BB F F\n", "mul@BF F 2\n"})
    {
        auto instance = compile(op);
        ASSERT_TRUE(instance);
        instance->setRef("F", tree);
        KAL_ProcArray lanes(1);
        instance->run(lanes);
        EXPECT_EQ(instance->getRef("F"), tree) << op;
    }
}
} // namespace
