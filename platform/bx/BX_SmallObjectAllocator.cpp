#include "BX_SmallObjectAllocator.h"

#include <new>

BX_SmallObjectAllocator::BX_SmallObjectAllocator(bool, std::size_t chunkObjects, std::size_t maxSize, bool useHeapAbove)
    : myChunkObjects(chunkObjects > 0 ? chunkObjects : 1), myMaxSize(maxSize), myUseHeapAbove(useHeapAbove),
      myClasses(classOf(maxSize) + 1), myPerSize(maxSize + 1)
{
    // The free lists always take a lock, whatever the flag says: a renderer
    // shares BSDFs between threads.
}

BX_SmallObjectAllocator::~BX_SmallObjectAllocator()
{
    for (void *chunk : myChunks)
        ::operator delete(chunk);
}

bool BX_SmallObjectAllocator::refill(SizeClass &sc, std::size_t bytes)
{
    char *chunk = static_cast<char *>(::operator new(bytes *myChunkObjects, std::nothrow));
    if (!chunk)
        return false;
    {
        std::lock_guard<std::mutex> guard(myChunkLock);
        myChunks.push_back(chunk);
    }
    for (std::size_t i = 0; i < myChunkObjects; ++i)
    {
        FreeNode *node = reinterpret_cast<FreeNode *>(chunk + i * bytes);
        node->next = sc.free;
        sc.free = node;
    }
    return true;
}

void *BX_SmallObjectAllocator::allocate(std::size_t size)
{
    void *p = nullptr;
    if (size > myMaxSize || size == 0)
    {
        if (!myUseHeapAbove && size > myMaxSize)
            return nullptr;
        p = ::operator new(size > 0 ? size : 1, std::nothrow);
    }
    else
    {
        SizeClass &sc = myClasses[classOf(size)];
        std::lock_guard<std::mutex> guard(sc.lock);
        if (!sc.free && !refill(sc, classOf(size) * ALIGN))
            return nullptr;
        FreeNode *node = sc.free;
        sc.free = node->next;
        p = node;
    }
    if (p)
    {
        myOutstanding.fetch_add(1, std::memory_order_relaxed);
        if (size <= myMaxSize)
            myPerSize[size].fetch_add(1, std::memory_order_relaxed);
    }
    return p;
}

void BX_SmallObjectAllocator::deallocate(void *p, std::size_t size)
{
    if (!p)
        return;
    myOutstanding.fetch_sub(1, std::memory_order_relaxed);
    if (size <= myMaxSize)
        myPerSize[size].fetch_sub(1, std::memory_order_relaxed);
    if (size > myMaxSize || size == 0)
    {
        ::operator delete(p);
        return;
    }
    SizeClass &sc = myClasses[classOf(size)];
    std::lock_guard<std::mutex> guard(sc.lock);
    FreeNode *node = static_cast<FreeNode *>(p);
    node->next = sc.free;
    sc.free = node;
}

long BX_SmallObjectAllocator::outstanding(std::size_t size) const
{
    return size <= myMaxSize ? myPerSize[size].load(std::memory_order_relaxed) : 0;
}
