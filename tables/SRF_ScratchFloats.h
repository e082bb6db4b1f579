#ifndef SRF_SCRATCHFLOATS_H
#define SRF_SCRATCHFLOATS_H

#include <cstddef>
#include <new>

// Scratch floats for one pass over a table, released on return: below
// 131072 bytes they live on the stack, larger ones on the heap. data() is
// null when a heap buffer cannot be had.
class SRF_ScratchFloats
{
public:
    static constexpr std::size_t STACK_BYTES = 131072;
    static constexpr std::size_t STACK_FLOATS = STACK_BYTES / sizeof(float) - 1;

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
