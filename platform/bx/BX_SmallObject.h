#ifndef BX_SMALLOBJECT_H
#define BX_SMALLOBJECT_H

#include "BX_SmallObjectAllocator.h"

#include <cstddef>
#include <new>

// Gives a class hierarchy class-specific allocation from one shared
// BX_SmallObjectAllocator per instantiation. The allocator is made on first
// use (thread-safe) and never destroyed, so objects may outlive static
// destruction. Default visibility keeps one allocator per process even when
// the instantiation is seen from several shared objects.
template <class Tag, int SingleThreaded, std::size_t ChunkObjects, int UseHeapAbove, std::size_t MaxSize, class Base>
class __attribute__((visibility("default"))) BX_SmallObject : public Base
{
public:
    // Non-throwing: a failed allocation makes the new-expression yield null
    // without running the constructor.
    static void *operator new(std::size_t size) noexcept { return allocator().allocate(size); }
    static void *operator new(std::size_t size, const std::nothrow_t &) noexcept { return allocator().allocate(size); }
    static void *operator new(std::size_t, void *where) noexcept { return where; }
    static void operator delete(void *p, std::size_t size) { allocator().deallocate(p, size); }
    static void operator delete(void *p, const std::nothrow_t &) noexcept
    {
        // Only reached when a nothrow construction throws, which ours never do.
        (void)p;
    }
    static void operator delete(void *, void *) noexcept {}

    static BX_SmallObjectAllocator &allocator()
    {
        static BX_SmallObjectAllocator *shared =
            new BX_SmallObjectAllocator(SingleThreaded != 0, ChunkObjects, MaxSize, UseHeapAbove != 0);
        return *shared;
    }

protected:
    using Base::Base;
};

#endif
