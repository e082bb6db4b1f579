#ifndef BX_SMALLOBJECTALLOCATOR_H
#define BX_SMALLOBJECTALLOCATOR_H

#include <atomic>
#include <cstddef>
#include <mutex>
#include <vector>

// A pool for small objects: one free list per size class (multiples of the
// alignment up to the largest pooled size); larger requests go to the heap.
// allocate and deallocate take the object's exact size, so no header is
// stored in front of an object. Safe for concurrent use.
class BX_SmallObjectAllocator
{
public:
    // threaded: guard the free lists with a lock; chunkSize: bytes in one
    // refill of a size class, in units of the largest pooled size;
    // maxSize: largest size served from the pool; useHeapAbove: sizes above
    // maxSize go to operator new.
    BX_SmallObjectAllocator(bool singleThreaded, std::size_t chunkObjects, std::size_t maxSize, bool useHeapAbove);
    ~BX_SmallObjectAllocator();

    BX_SmallObjectAllocator(const BX_SmallObjectAllocator &) = delete;
    BX_SmallObjectAllocator &operator=(const BX_SmallObjectAllocator &) = delete;

    // Returns null when no storage can be had.
    void *allocate(std::size_t size);
    void deallocate(void *p, std::size_t size);

    // Objects handed out and not yet given back, all sizes together.
    long outstanding() const { return myOutstanding.load(std::memory_order_relaxed); }
    // Objects handed out and not yet given back, of one exact size.
    long outstanding(std::size_t size) const;

    std::size_t maxSize() const { return myMaxSize; }

private:
    static constexpr std::size_t ALIGN = 16;
    struct FreeNode
    {
        FreeNode *next;
    };
    struct SizeClass
    {
        std::mutex lock;
        FreeNode *free = nullptr;
    };

    std::size_t classOf(std::size_t size) const { return (size + ALIGN - 1) / ALIGN; }
    bool refill(SizeClass &sc, std::size_t bytes);

    std::size_t myChunkObjects;
    std::size_t myMaxSize;
    bool myUseHeapAbove;
    std::vector<SizeClass> myClasses;
    std::mutex myChunkLock;
    std::vector<void *> myChunks;
    std::atomic<long> myOutstanding{0};
    std::vector<std::atomic<long>> myPerSize;
};

#endif
