#ifndef SRF_SCRATCHFLOATS_H
#define SRF_SCRATCHFLOATS_H

#include <cstddef>
#include <new>

// Scratch floats for one pass over a table, released on return. A pass of
// up to STACK_FLOATS floats (1 KiB) uses a buffer inside the object, on the
// caller's stack; a larger one takes the heap. Hosts build tables on worker
// threads whose stacks may be 128 KiB or less, so a pass never asks more of
// the stack than this small buffer; a pass over a larger table does work in
// proportion to its size, beside which one allocation costs little. data()
// is null when a heap buffer cannot be had.
//
// Internal to the table classes: not installed and not part of SRF/SRF.h.
class SRF_ScratchFloats
{
public:
    static constexpr std::size_t STACK_FLOATS = 256;

    explicit SRF_ScratchFloats(std::size_t count)
        : myHeap(count > STACK_FLOATS ? new (std::nothrow) float[count] : nullptr),
          myData(count > STACK_FLOATS ? myHeap : myLocal)
    {
    }
    ~SRF_ScratchFloats() { delete[] myHeap; }
    SRF_ScratchFloats(const SRF_ScratchFloats &) = delete;
    SRF_ScratchFloats &operator=(const SRF_ScratchFloats &) = delete;

    float *data() { return myData; }

private:
    float myLocal[STACK_FLOATS];
    float *myHeap;
    float *myData;
};

#endif
