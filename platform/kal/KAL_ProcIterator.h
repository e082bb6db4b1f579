#ifndef KAL_PROCITERATOR_H
#define KAL_PROCITERATOR_H

#include "KAL_API.h"
#include "KAL_Instance.h"
#include "KAL_ProcArray.h"

class BX_Vector3;
class KAL_RefType;

// Walks the running lanes (state 0) of a lane array for the current
// instruction of an instance, and gives for each argument a pointer to the
// current lane's value, or to the single value of a uniform argument:
//
//     KAL_ProcIterator it(instance, lanes);
//     for (it.rewind(); !it.isDone(); it.advance())
//     {
//         const BX_Vector3 u = *it.getVector(2);
//         ... use it.getLane() as the lane index ...
//         *it.getVector(0) = result;
//     }
//
// Lean: it is built on the stack without allocation, and each pointer is a
// base plus the lane times a stride fixed at construction.
class KAL_API KAL_ProcIterator
{
public:
    // Arguments beyond this count are not reachable through the iterator.
    static constexpr int MAX_ARGS = 32;

    // Starts at the first running lane (as after rewind()).
    KAL_ProcIterator(const KAL_Instance &instance, const KAL_ProcArray &lanes)
        : myStates(lanes.myState), myCount(lanes.myCount), myLane(0)
    {
        myArgCount = instance.myArgCount < MAX_ARGS ? instance.myArgCount : MAX_ARGS;
        for (int k = 0; k < myArgCount; ++k)
        {
            const KAL_Variable &var = instance.myVars[instance.myArgs[k]];
            myBase[k] = static_cast<char *>(var.myData);
            myStride[k] = var.myStride;
        }
        rewind();
    }

    // Goes to the first running lane.
    void rewind()
    {
        myLane = 0;
        while (myLane < myCount && myStates[myLane] != 0)
            ++myLane;
    }
    // Goes to the next running lane.
    void advance()
    {
        ++myLane;
        while (myLane < myCount && myStates[myLane] != 0)
            ++myLane;
    }
    bool isDone() const { return myLane >= myCount; }
    // The current lane's index: the lane argument of BSDF queries.
    int getLane() const { return myLane; }

    // Argument k's value for the current lane (or its single value).
    template <class T> T *get(int k) const { return reinterpret_cast<T *>(myBase[k] + myLane * myStride[k]); }
    BX_Vector3 *getVector(int k) const { return get<BX_Vector3>(k); }
    float *getFloat(int k) const { return get<float>(k); }
    int *getInt(int k) const { return get<int>(k); }
    // A BSDF argument: one reference for all lanes.
    KAL_RefType **getRef(int k) const { return reinterpret_cast<KAL_RefType **>(myBase[k]); }
    bool isVarying(int k) const { return myStride[k] != 0; }

private:
    const int *myStates;
    int myCount;
    int myLane;
    int myArgCount;
    char *myBase[MAX_ARGS];
    int myStride[MAX_ARGS];
};

#endif
