#ifndef KAL_BUILTINS_H
#define KAL_BUILTINS_H

#include "KAL_API.h"

class KAL_Context;
class KAL_Instance;
class KAL_ProcArray;

// The runtime's own ops, registered into every new context. Each writes its
// argument 0 for every running lane and reads the others:
//   "normalize@VV"  a0 = a1 / |a1|  (a zero vector stays zero)
//   "set@FF", "set@VV", "set@II"    a0 = a1
//   "mul@FF", "mul@VV" (per component), "mul@VF"   a0 = a0 * a1
//   "add@FF", "add@VV"              a0 = a0 + a1
// A uniform argument 0 written from varying inputs receives the value of
// the last running lane.
class KAL_API KAL_Builtins
{
public:
    static void install(KAL_Context &context);

    static int normalizeVV(KAL_Instance &instance, KAL_ProcArray &lanes);
    static int setFF(KAL_Instance &instance, KAL_ProcArray &lanes);
    static int setVV(KAL_Instance &instance, KAL_ProcArray &lanes);
    static int setII(KAL_Instance &instance, KAL_ProcArray &lanes);
    static int mulFF(KAL_Instance &instance, KAL_ProcArray &lanes);
    static int mulVV(KAL_Instance &instance, KAL_ProcArray &lanes);
    static int mulVF(KAL_Instance &instance, KAL_ProcArray &lanes);
    static int addFF(KAL_Instance &instance, KAL_ProcArray &lanes);
    static int addVV(KAL_Instance &instance, KAL_ProcArray &lanes);
};

#endif
