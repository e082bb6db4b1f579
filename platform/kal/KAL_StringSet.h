#ifndef KAL_STRINGSET_H
#define KAL_STRINGSET_H

#include "KAL_API.h"
#include "KAL_Instance.h"

class KAL_ProcArray;

// The value of a string (type letter S) variable. Strings are uniform: one
// string serves every lane. The text is owned by the compiled program (a
// literal or a declared initial value) and lives as long as any instance of
// it, so the pointer stays valid for the whole run.
//
// An op reads its string argument k like this:
//     const char *file = KAL_StringSet::getU(instance, k, lanes);
// or, with the value in hand:
//     const char *file = instance.getArg<KAL_StringSet>(k)->getU(lanes);
// Neither form ever returns null: a missing string reads as "".
class KAL_API KAL_StringSet
{
public:
    KAL_StringSet() : myString("") {}
    explicit KAL_StringSet(const char *text) : myString(text ? text : "") {}

    // The one string of this uniform value, whatever the lanes.
    const char *getU(const KAL_ProcArray &) const { return myString ? myString : ""; }

    // The one string of argument k of the instance's current instruction.
    static const char *getU(const KAL_Instance &instance, int k, const KAL_ProcArray &lanes)
    {
        const KAL_StringSet *set = instance.getArg<KAL_StringSet>(k);
        return set ? set->getU(lanes) : "";
    }

    const char *myString;
};

#endif
