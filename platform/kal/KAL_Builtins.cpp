#include "KAL_Builtins.h"

#include "BX_Vector3.h"
#include "KAL_Context.h"
#include "KAL_Instance.h"
#include "KAL_OpCode.h"
#include "KAL_ProcIterator.h"

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
// in-place op does not compound over the lanes.
template <class Out, class In, class F> int perLane(KAL_Instance &instance, KAL_ProcArray &lanes, F f)
{
    KAL_ProcIterator it(instance, lanes);
    if (it.isVarying(0))
    {
        for (; !it.isDone(); it.advance())
            f(*it.get<Out>(0), *it.get<In>(1));
    }
    else if (!it.isDone())
    {
        const In *in = it.get<In>(1);
        for (it.advance(); !it.isDone(); it.advance())
            in = it.get<In>(1);
        f(*it.get<Out>(0), *in);
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
