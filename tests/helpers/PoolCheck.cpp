#include "PoolCheck.h"

#include "KAL_DataPool.h"
#include "KAL_RefType.h"

#include <gtest/gtest.h>

namespace
{
long theBlocks = 0;
long theObjects = 0;

class PoolCheckListener : public ::testing::EmptyTestEventListener
{
    void OnTestStart(const ::testing::TestInfo &) override { PoolCheck::rebaseline(); }
    void OnTestEnd(const ::testing::TestInfo &info) override
    {
        const long blocks = PoolCheck::blocksOut() - theBlocks;
        const long objects = PoolCheck::liveObjects() - theObjects;
        if (blocks != 0 || objects != 0)
        {
            fprintf(stderr, "%s.%s: %ld pool blocks and %ld values not given back\n", info.test_suite_name(),
                    info.name(), blocks, objects);
            // Fail the run: a leak is a fault of the test's subject.
            ADD_FAILURE() << "leak: " << blocks << " pool blocks and " << objects << " reference-counted values";
        }
    }
};

struct Registrar
{
    Registrar() { ::testing::UnitTest::GetInstance()->listeners().Append(new PoolCheckListener); }
} theRegistrar;
} // namespace

long PoolCheck::blocksOut() { return KAL_DataPool::getDataPool().blocksOut(); }

long PoolCheck::liveObjects() { return KAL_RefType::liveObjects(); }

void PoolCheck::rebaseline()
{
    theBlocks = blocksOut();
    theObjects = liveObjects();
}
