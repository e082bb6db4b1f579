#include "KAL_RefType.h"

namespace
{
std::atomic<long> theLiveObjects{0};
}

KAL_RefType::KAL_RefType() : myRefCount(1) { theLiveObjects.fetch_add(1, std::memory_order_relaxed); }

KAL_RefType::KAL_RefType(const KAL_RefType &) : myRefCount(1)
{
    theLiveObjects.fetch_add(1, std::memory_order_relaxed);
}

KAL_RefType::~KAL_RefType() { theLiveObjects.fetch_sub(1, std::memory_order_relaxed); }

long KAL_RefType::liveObjects() { return theLiveObjects.load(std::memory_order_relaxed); }
