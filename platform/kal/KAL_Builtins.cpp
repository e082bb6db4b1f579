#include "KAL_Builtins.h"

#include "BX_Vector3.h"
#include "KAL_Context.h"
#include "KAL_Instance.h"
#include "KAL_OpCode.h"
#include "KAL_ProcArray.h"

#include <cmath>

namespace
{
struct Entry
{
    const char *signature;
    KAL_EvaluateFunc evaluate;
    int opFlag;
};

// The builtin ops, in registration order.
const Entry theBuiltins[] = {
    {"normalize@VV", KAL_Builtins::normalizeVV, 0},
    {"set@FF", KAL_Builtins::setFF, 0},
    {"set@VV", KAL_Builtins::setVV, 0},
    {"set@II", KAL_Builtins::setII, 0},
    {"mul@FF", KAL_Builtins::mulFF, KAL_OPFLAG_READS_ARG0},
    {"mul@VV", KAL_Builtins::mulVV, KAL_OPFLAG_READS_ARG0},
    {"mul@VF", KAL_Builtins::mulVF, KAL_OPFLAG_READS_ARG0},
    {"add@FF", KAL_Builtins::addFF, KAL_OPFLAG_READS_ARG0},
    {"add@VV", KAL_Builtins::addVV, KAL_OPFLAG_READS_ARG0},
};

// Applies f(out, in) to arguments 0 and 1 of every running lane. A uniform
// argument 0 is updated once, from the last running lane, so that an
// in-place op does not compound over the lanes. The lane loop is written out
// (rather than through KAL_ProcIterator) so that the compiler keeps bases
// and strides in registers.
template <class Out, class In, class F> int perLane(KAL_Instance &instance, KAL_ProcArray &lanes, F f)
{
    const KAL_Variable &out = instance.getArgVariable(0);
    const KAL_Variable &in = instance.getArgVariable(1);
    char *const outBase = static_cast<char *>(out.myData);
    const char *const inBase = static_cast<const char *>(in.myData);
    const int outStride = out.myStride, inStride = in.myStride;
    const int *const states = lanes.myState;
    const int count = lanes.myCount;
    if (outStride != 0)
    {
        for (int lane = 0; lane < count; ++lane)
            if (states[lane] == 0)
                f(*reinterpret_cast<Out *>(outBase + lane * outStride),
                  *reinterpret_cast<const In *>(inBase + lane * inStride));
    }
    else
    {
        int last = count - 1;
        while (last >= 0 && states[last] != 0)
            --last;
        if (last >= 0)
            f(*reinterpret_cast<Out *>(outBase), *reinterpret_cast<const In *>(inBase + last * inStride));
    }
    return instance.getInstructionIndex() + 1;
}
} // namespace

void KAL_Builtins::install(KAL_Context &context)
{
    for (const Entry &e : theBuiltins)
    {
        KAL_OpCode *op = new KAL_OpCode(context, 2, e.signature, e.evaluate, nullptr, nullptr, nullptr, nullptr,
                                        e.opFlag, 0, nullptr);
        op->myBuiltin = true;
    }
}

// a0 = a1 / |a1|
int KAL_Builtins::normalizeVV(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return perLane<BX_Vector3, BX_Vector3>(instance, lanes,
                                           [](BX_Vector3 &out, const BX_Vector3 &in)
                                           {
                                               BX_Vector3 v = in;
                                               v.normalize();
                                               out = v;
                                           });
}

int KAL_Builtins::setFF(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return perLane<float, float>(instance, lanes, [](float &out, const float &in) { out = in; });
}

int KAL_Builtins::setVV(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return perLane<BX_Vector3, BX_Vector3>(instance, lanes, [](BX_Vector3 &out, const BX_Vector3 &in) { out = in; });
}

int KAL_Builtins::setII(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return perLane<int, int>(instance, lanes, [](int &out, const int &in) { out = in; });
}

int KAL_Builtins::mulFF(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return perLane<float, float>(instance, lanes, [](float &out, const float &in) { out *= in; });
}

int KAL_Builtins::mulVV(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return perLane<BX_Vector3, BX_Vector3>(instance, lanes,
                                           [](BX_Vector3 &out, const BX_Vector3 &in)
                                           { out = BX_Vector3(out.x * in.x, out.y * in.y, out.z * in.z); });
}

int KAL_Builtins::mulVF(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return perLane<BX_Vector3, float>(instance, lanes, [](BX_Vector3 &out, const float &in) { out *= in; });
}

int KAL_Builtins::addFF(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return perLane<float, float>(instance, lanes, [](float &out, const float &in) { out += in; });
}

int KAL_Builtins::addVV(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return perLane<BX_Vector3, BX_Vector3>(instance, lanes, [](BX_Vector3 &out, const BX_Vector3 &in) { out += in; });
}
