// Tests of the runtime stand-in: context, ops, executor, lanes, compiler,
// rewrites and text shaders.
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
#include "KAL_StringSet.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

TEST(KalSmoke, NormalizeRuns)
{
    KAL_Context context;
    KAL_Shader shader(context, "smoke");
    ASSERT_TRUE(shader.addVariable("n", 'V', true));
    shader.addCall("normalize@VV", {"n", "N"}, 1);
    ASSERT_TRUE(shader.compile()) << shader.getError();
    std::unique_ptr<KAL_Instance> inst(shader.createInstance());
    ASSERT_TRUE(inst);
    inst->setVector("N", 0, BX_Vector3(3, 0, 4));
    inst->setVector("N", 1, BX_Vector3(0, 2, 0));
    KAL_ProcArray lanes(2);
    EXPECT_EQ(inst->run(lanes), 1);
    BX_Vector3 v;
    inst->getVector("n", 0, v);
    EXPECT_FLOAT_EQ(v.x, 0.6f);
    EXPECT_FLOAT_EQ(v.z, 0.8f);
    inst->getVector("n", 1, v);
    EXPECT_FLOAT_EQ(v.y, 1.0f);
    EXPECT_EQ(shader.getProgram()->listing(), "normalize@VV(n, N)\n");
}
