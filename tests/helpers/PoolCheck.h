#ifndef SRF_TEST_POOLCHECK_H
#define SRF_TEST_POOLCHECK_H

// Every test binary checks, after each test, that the test gave back every
// pooled block and destroyed every reference-counted value it made. A test
// that deliberately keeps something alive across tests (a process-wide
// cache) records it with keepAlive so that the count is not charged to the
// next test.
namespace PoolCheck
{
long blocksOut();
long liveObjects();
// Takes the current counts as the new baseline.
void rebaseline();
} // namespace PoolCheck

#endif
