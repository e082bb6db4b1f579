#ifndef KAL_DATAPOOL_H
#define KAL_DATAPOOL_H

#include "KAL_API.h"

#include <atomic>
#include <mutex>

// The process-wide pool of per-lane value blocks. Every block has room for
// KAL_MAX_LANES values of its type; its content is undefined when handed out.
class KAL_API KAL_DataPool
{
public:
    enum Type
    {
        VECTOR = 2, // BX_Vector3
        FLOAT = 3,  // float
        INT = 4     // int
    };

    static KAL_DataPool &getDataPool();

    // A block of the given type, or null when the type is unknown or no
    // memory can be had.
    void *alloc(int type);
    // Gives back a block with the type of its allocation. Null is ignored.
    void release(void *block, int type);

    // Blocks of a type handed out and not yet given back.
    long blocksOut(int type) const;
    long blocksOut() const;

    static int blockBytes(int type);

private:
    KAL_DataPool() = default;
    static constexpr int NTYPES = 5;
    struct FreeNode
    {
        FreeNode *next;
    };
    struct FreeList
    {
        std::mutex lock;
        FreeNode *head = nullptr;
    };
    FreeList myFree[NTYPES];
    std::atomic<long> myOut[NTYPES] = {};
};

#endif
