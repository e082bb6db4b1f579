#include "KAL_DataPool.h"

#include "BX_Vector3.h"

#include <new>

KAL_DataPool &KAL_DataPool::getDataPool()
{
    // Never destroyed: BSDFs held in static storage may release blocks
    // during static destruction.
    static KAL_DataPool *pool = new KAL_DataPool();
    return *pool;
}

int KAL_DataPool::blockBytes(int type)
{
    switch (type)
    {
    case VECTOR:
        return int(sizeof(BX_Vector3)) * KAL_MAX_LANES;
    case FLOAT:
        return int(sizeof(float)) * KAL_MAX_LANES;
    case INT:
        return int(sizeof(int)) * KAL_MAX_LANES;
    default:
        return 0;
    }
}

void *KAL_DataPool::alloc(int type)
{
    const int bytes = blockBytes(type);
    if (bytes == 0)
        return nullptr;
    void *block = nullptr;
    {
        FreeList &list = myFree[type];
        std::lock_guard<std::mutex> guard(list.lock);
        if (list.head)
        {
            block = list.head;
            list.head = list.head->next;
        }
    }
    if (!block)
        block = ::operator new(bytes, std::nothrow);
    if (block)
        myOut[type].fetch_add(1, std::memory_order_relaxed);
    return block;
}

void KAL_DataPool::release(void *block, int type)
{
    if (!block || blockBytes(type) == 0)
        return;
    myOut[type].fetch_sub(1, std::memory_order_relaxed);
    FreeList &list = myFree[type];
    std::lock_guard<std::mutex> guard(list.lock);
    FreeNode *node = static_cast<FreeNode *>(block);
    node->next = list.head;
    list.head = node;
}

long KAL_DataPool::blocksOut(int type) const
{
    return (type >= 0 && type < NTYPES) ? myOut[type].load(std::memory_order_relaxed) : 0;
}

long KAL_DataPool::blocksOut() const { return blocksOut(VECTOR) + blocksOut(FLOAT) + blocksOut(INT); }
