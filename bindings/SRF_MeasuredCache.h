#ifndef SRF_MEASUREDCACHE_H
#define SRF_MEASUREDCACHE_H

#include "SRF_API.h"

#include "BX_Lock.h"
#include "BX_SymbolTable.h"

class SRF_MeasuredData;

// The process-wide cache of fitted measured data sets, keyed by file name,
// so that each file is read and fitted at most once while the library is
// loaded. Entries are added and never removed; the data sets live until the
// library is unloaded, so every SRF_Measured lobe is outlived by its data
// set.
//
// The one cache is built when the library loads, its symbol table first and
// then its lock, before the rewrite objects: a static initialiser that must
// come after it calls instance() first, which also makes the cache be
// destroyed after it at unload.
class SRF_API SRF_MeasuredCache
{
public:
    static SRF_MeasuredCache &instance();

    // The data set fitted to `fileName`: looked up under the lock and, when
    // absent, created (the file is read and fitted while the lock is held,
    // so concurrent callers naming one file share one data set) and entered.
    // A file that cannot be read gives a data set without measurements,
    // cached like any other. Null only when the data set cannot be allocated;
    // the name is then not entered.
    SRF_MeasuredData *find(const char *fileName);

    // The number of data sets entered so far.
    int entries();

    ~SRF_MeasuredCache();
    SRF_MeasuredCache(const SRF_MeasuredCache &) = delete;
    SRF_MeasuredCache &operator=(const SRF_MeasuredCache &) = delete;

private:
    SRF_MeasuredCache();

    BX_SymbolTable myTable;
    BX_Lock myLock;
};

#endif
