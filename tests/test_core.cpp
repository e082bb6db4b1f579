#include "SRF_Emission.h"
#include "SRF_Isotropic.h"

#include <gtest/gtest.h>

TEST(Core, Smoke)
{
    SRF_BSDF *b = new SRF_Isotropic();
    EXPECT_EQ(b->getBounces(), 1);
    b->decRefCount();
}
