#ifndef SRF_TEST_COUNTINGALLOCATOR_H
#define SRF_TEST_COUNTINGALLOCATOR_H

// Counts the allocations and mutex locks a stretch of code makes, to prove
// that queries do neither. Including this header replaces the global
// allocation functions and interposes pthread_mutex_lock and trylock (the
// libraries reach both through the dynamic linker), so include it in one
// source file of a test binary only.
#include <atomic>
#include <cstdlib>
#include <dlfcn.h>
#include <new>
#include <pthread.h>

namespace
{
std::atomic<bool> theCounting{false};
std::atomic<long> theAllocations{0};
std::atomic<long> theLocks{0};

// Out of line, so that the compiler does not pair an inlined operator new
// with the free of an inlined operator delete and warn of a mismatch: both
// sides are malloc's.
__attribute__((noinline)) void *countedAlloc(std::size_t size)
{
    if (theCounting.load(std::memory_order_relaxed))
        theAllocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size ? size : 1);
}

__attribute__((noinline)) void countedFree(void *p) { std::free(p); }

using LockFn = int (*)(pthread_mutex_t *);
LockFn theRealLock = nullptr;
LockFn theRealTryLock = nullptr;

// Counts allocations and locks between construction and stop().
struct Counting
{
    Counting()
    {
        theAllocations = 0;
        theLocks = 0;
        theCounting = true;
    }
    ~Counting() { theCounting = false; }
    void stop() { theCounting = false; }
};
} // namespace

void *operator new(std::size_t size)
{
    void *p = countedAlloc(size);
    if (!p)
        throw std::bad_alloc();
    return p;
}
void *operator new[](std::size_t size) { return operator new(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept { return countedAlloc(size); }
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept { return countedAlloc(size); }
void operator delete(void *p) noexcept { countedFree(p); }
void operator delete[](void *p) noexcept { countedFree(p); }
void operator delete(void *p, std::size_t) noexcept { countedFree(p); }
void operator delete[](void *p, std::size_t) noexcept { countedFree(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { countedFree(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { countedFree(p); }

extern "C" int pthread_mutex_lock(pthread_mutex_t *m)
{
    if (!theRealLock)
        theRealLock = reinterpret_cast<LockFn>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    if (theCounting.load(std::memory_order_relaxed))
        theLocks.fetch_add(1, std::memory_order_relaxed);
    return theRealLock(m);
}

extern "C" int pthread_mutex_trylock(pthread_mutex_t *m)
{
    if (!theRealTryLock)
        theRealTryLock = reinterpret_cast<LockFn>(dlsym(RTLD_NEXT, "pthread_mutex_trylock"));
    if (theCounting.load(std::memory_order_relaxed))
        theLocks.fetch_add(1, std::memory_order_relaxed);
    return theRealTryLock(m);
}

#endif
