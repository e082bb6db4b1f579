#ifndef BX_LOCK_H
#define BX_LOCK_H

#include <mutex>

// A mutual-exclusion lock. The two flags of the constructor (recursive,
// lightweight) are accepted for the interface; this lock is always a plain,
// non-recursive mutex.
class BX_Lock
{
public:
    BX_Lock(bool recursive = false, bool lightweight = true);
    BX_Lock(const BX_Lock &) = delete;
    BX_Lock &operator=(const BX_Lock &) = delete;

    void lockLW() { myMutex.lock(); }
    void unlock() { myMutex.unlock(); }

private:
    std::mutex myMutex;
};

#endif
