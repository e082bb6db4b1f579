#ifndef KAL_VARIABLE_H
#define KAL_VARIABLE_H

#include "KAL_API.h"

// One entry of an instance's variable table, read inline by the ops.
//
// Type letters and the value each element holds:
//   'B'  KAL_RefType*   (a BSDF value; always uniform: element 0 holds one
//                        reference for all lanes, or null)
//   'V'  BX_Vector3
//   'F'  float
//   'I'  int
//   'S'  KAL_StringSet  (always uniform)
// A varying variable has KAL_MAX_LANES elements, the value of lane i at
// element i; a uniform one has a single element that serves every lane.
struct KAL_API KAL_Variable
{
    void *myData;  // the value storage, never null in a live instance
    int myVarying; // non-zero: one value per lane
    int myStride;  // bytes from one lane's value to the next: 0 when uniform
    char myType;   // the type letter

    bool isVarying() const { return myVarying != 0; }
    // The value of a lane (the single value when uniform).
    void *laneData(int lane) const { return static_cast<char *>(myData) + lane * myStride; }
};

#endif
