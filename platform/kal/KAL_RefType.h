#ifndef KAL_REFTYPE_H
#define KAL_REFTYPE_H

#include "KAL_API.h"

#include <atomic>
#include <cstdint>

// A reference-counted shading-language value. A new object counts as one
// reference held by whoever receives it; addRefCount stores another one,
// decRefCount drops one and destroys the object when none is left.
class KAL_API KAL_RefType
{
public:
    KAL_RefType();
    virtual ~KAL_RefType();

    virtual const char *className() const = 0;
    virtual bool isEqual(const KAL_RefType &other, float tolerance) const = 0;

    void addRefCount() const { myRefCount.fetch_add(1, std::memory_order_relaxed); }
    void decRefCount() const
    {
        if (myRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete this;
    }
    int32_t getRefCount() const { return myRefCount.load(std::memory_order_relaxed); }

    // How many reference-counted values exist right now, process-wide.
    static long liveObjects();

protected:
    KAL_RefType(const KAL_RefType &);
    KAL_RefType &operator=(const KAL_RefType &) { return *this; }

private:
    mutable std::atomic<int32_t> myRefCount;
};

#endif
