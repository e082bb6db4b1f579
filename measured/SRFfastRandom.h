#ifndef SRFFASTRANDOM_H
#define SRFFASTRANDOM_H

#include "SRF_API.h"

#include <atomic>

// A fast generator of floats in [0, 1) with 23 random bits, used by the
// fitting code and the fitted models. The 32-bit state belongs to the
// caller; one draw advances it by one linear congruential step and hashes
// the new state into the mantissa of a float in [1, 2), minus 1.
SRF_API float SRFfastRandom(unsigned int &state);

// The same draw on a state shared between threads: the step is made with a
// compare-and-swap, so concurrent callers each get a distinct step of the
// sequence and never corrupt the state. A single thread sees exactly the
// sequence of the plain form.
SRF_API float SRFfastRandom(std::atomic<unsigned int> &state);

#endif
