#include "KAL_Context.h"

#include "KAL_Builtins.h"
#include "KAL_OpCode.h"

#include <algorithm>
#include <exception>

KAL_Context::KAL_Context() { KAL_Builtins::install(*this); }

KAL_Context::~KAL_Context()
{
    for (KAL_OpCode *op : myOwned)
        delete op;
}

void KAL_Context::registerOp(KAL_OpCode *op)
{
    if (!op)
        return;
    // Room is made first, so that running out of memory leaves the context
    // as it was (the op is then simply not registered).
    try
    {
        myOwned.reserve(myOwned.size() + 1);
        myOrder.reserve(myOrder.size() + 1);
        KAL_OpCode *&entry = myOps[op->getSignature()];
        myOwned.push_back(op);
        if (entry)
            myOrder.erase(std::find(myOrder.begin(), myOrder.end(), entry));
        entry = op;
        myOrder.push_back(op);
    }
    catch (const std::exception &)
    {
    }
}

const KAL_OpCode *KAL_Context::findOp(const char *signature) const
{
    return signature ? findOp(std::string(signature)) : nullptr;
}

const KAL_OpCode *KAL_Context::findOp(const std::string &signature) const
{
    const auto it = myOps.find(signature);
    return it == myOps.end() ? nullptr : it->second;
}

int KAL_Context::getBuiltinCount() const
{
    return int(std::count_if(myOrder.begin(), myOrder.end(), [](const KAL_OpCode *op) { return op->isBuiltin(); }));
}
