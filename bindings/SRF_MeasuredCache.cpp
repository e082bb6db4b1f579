#include "SRF_MeasuredCache.h"

#include "SRF_MeasuredPhong.h"

#include <new>

namespace
{
// Builds the cache while the library loads, not at the first op.
SRF_MeasuredCache &theLoadTimeCache = SRF_MeasuredCache::instance();
} // namespace

SRF_MeasuredCache &SRF_MeasuredCache::instance()
{
    static SRF_MeasuredCache cache;
    return cache;
}

SRF_MeasuredCache::SRF_MeasuredCache() : myTable(), myLock(false, true) {}

SRF_MeasuredCache::~SRF_MeasuredCache()
{
    // The library unloads: no lobe is left to use a data set.
    myTable.traverse([](const char *, const BX_Thing &thing)
                     { delete static_cast<SRF_MeasuredData *>(thing.getPointer()); });
}

SRF_MeasuredData *SRF_MeasuredCache::find(const char *fileName)
{
    if (!fileName)
        fileName = "";
    BX_Thing thing;
    SRF_MeasuredData *data = nullptr;
    myLock.lockLW();
    if (myTable.findSymbol(fileName, &thing))
    {
        data = static_cast<SRF_MeasuredData *>(thing.getPointer());
    }
    else
    {
        data = new (std::nothrow) SRF_MeasuredPhong(fileName);
        if (data && !myTable.addSymbol(fileName, BX_Thing(data)))
        {
            delete data;
            data = nullptr;
        }
    }
    myLock.unlock();
    return data;
}

int SRF_MeasuredCache::entries()
{
    myLock.lockLW();
    const int count = myTable.entries();
    myLock.unlock();
    return count;
}
