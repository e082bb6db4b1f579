#ifndef KAL_PROCARRAY_H
#define KAL_PROCARRAY_H

#include "KAL_API.h"

// The lanes of one shader run: a lane count and one state per lane. State 0
// marks a running lane; any other value a lane that ops must leave alone
// (a background pixel, a lane that has finished). Ops read it inline.
class KAL_API KAL_ProcArray
{
public:
    // count lanes, all running. The count is clamped to [0, KAL_MAX_LANES].
    explicit KAL_ProcArray(int count = 0) { setCount(count); }

    int getCount() const { return myCount; }
    // Sets the lane count (clamped to [0, KAL_MAX_LANES]) and marks every
    // lane running.
    void setCount(int count)
    {
        myCount = count < 0 ? 0 : (count > KAL_MAX_LANES ? KAL_MAX_LANES : count);
        for (int i = 0; i < KAL_MAX_LANES; ++i)
            myState[i] = 0;
    }

    int getState(int lane) const { return myState[lane]; }
    void setState(int lane, int state) { myState[lane] = state; }
    bool isRunning(int lane) const { return myState[lane] == 0; }
    const int *getStates() const { return myState; }
    int *getStates() { return myState; }

    // Number of running lanes among the first getCount().
    int runningCount() const
    {
        int n = 0;
        for (int i = 0; i < myCount; ++i)
            n += myState[i] == 0;
        return n;
    }

    // Public so that ops may read them inline.
    int myCount;
    int myState[KAL_MAX_LANES];
};

#endif
