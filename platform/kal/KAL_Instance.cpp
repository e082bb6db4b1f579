#include "KAL_Instance.h"

#include "BX_Vector3.h"
#include "KAL_ProcArray.h"
#include "KAL_Program.h"
#include "KAL_RefType.h"

#include <cstring>
#include <new>

namespace
{
// Value storage is aligned for every element type.
constexpr size_t STORAGE_ALIGN = 16;
} // namespace

KAL_Instance::KAL_Instance(std::shared_ptr<const KAL_Program> program) : myProgram(std::move(program))
{
    if (!myProgram)
        return;
    const int count = myProgram->getVariableCount();
    myStorage = static_cast<unsigned char *>(
        ::operator new(myProgram->getStorageBytes() + 1, std::align_val_t(STORAGE_ALIGN), std::nothrow));
    myVars = new (std::nothrow) KAL_Variable[count > 0 ? count : 1];
    if (!myStorage || !myVars)
    {
        ::operator delete(myStorage, std::align_val_t(STORAGE_ALIGN), std::nothrow);
        delete[] myVars;
        myStorage = nullptr;
        myVars = nullptr;
        return;
    }
    myVarCount = count;
    memset(myStorage, 0, myProgram->getStorageBytes());
    for (int i = 0; i < count; ++i)
    {
        const KAL_Program::Variable &v = myProgram->myVars[i];
        myVars[i].myData = myStorage + v.offset;
        myVars[i].myVarying = v.varying ? 1 : 0;
        myVars[i].myStride = v.varying ? int(KAL_Program::elementBytes(v.type)) : 0;
        myVars[i].myType = v.type;
    }
    reset();
}

KAL_Instance::~KAL_Instance()
{
    dropReferences();
    ::operator delete(myStorage, std::align_val_t(STORAGE_ALIGN), std::nothrow);
    delete[] myVars;
}

void KAL_Instance::dropReferences()
{
    for (int i = 0; i < myVarCount; ++i)
    {
        if (myVars[i].myType != 'B')
            continue;
        KAL_RefType **ref = static_cast<KAL_RefType **>(myVars[i].myData);
        if (*ref)
            (*ref)->decRefCount();
        *ref = nullptr;
    }
}

void KAL_Instance::reset()
{
    dropReferences();
    for (int i = 0; i < myVarCount; ++i)
    {
        const KAL_Program::Variable &v = myProgram->myVars[i];
        unsigned char *data = static_cast<unsigned char *>(myVars[i].myData);
        if (!v.hasInitial)
        {
            memset(data, 0, v.bytes);
            continue;
        }
        const size_t elem = KAL_Program::elementBytes(v.type);
        for (size_t at = 0; at + elem <= v.bytes; at += elem)
            memcpy(data + at, v.initial, elem);
    }
}

int KAL_Instance::findVariable(const char *name) const
{
    return (name && myProgram && myVars) ? myProgram->findVariable(name) : -1;
}

void *KAL_Instance::laneValue(const char *name, char type, int lane) const
{
    const int slot = findVariable(name);
    if (slot < 0 || myVars[slot].myType != type || lane < 0 || lane >= KAL_MAX_LANES)
        return nullptr;
    return myVars[slot].laneData(lane);
}

bool KAL_Instance::setVector(const char *name, int lane, const BX_Vector3 &value)
{
    void *p = laneValue(name, 'V', lane);
    if (p)
        *static_cast<BX_Vector3 *>(p) = value;
    return p != nullptr;
}

bool KAL_Instance::getVector(const char *name, int lane, BX_Vector3 &value) const
{
    const void *p = laneValue(name, 'V', lane);
    if (p)
        value = *static_cast<const BX_Vector3 *>(p);
    return p != nullptr;
}

bool KAL_Instance::setFloat(const char *name, int lane, float value)
{
    void *p = laneValue(name, 'F', lane);
    if (p)
        *static_cast<float *>(p) = value;
    return p != nullptr;
}

bool KAL_Instance::getFloat(const char *name, int lane, float &value) const
{
    const void *p = laneValue(name, 'F', lane);
    if (p)
        value = *static_cast<const float *>(p);
    return p != nullptr;
}

bool KAL_Instance::setInt(const char *name, int lane, int value)
{
    void *p = laneValue(name, 'I', lane);
    if (p)
        *static_cast<int *>(p) = value;
    return p != nullptr;
}

bool KAL_Instance::getInt(const char *name, int lane, int &value) const
{
    const void *p = laneValue(name, 'I', lane);
    if (p)
        value = *static_cast<const int *>(p);
    return p != nullptr;
}

bool KAL_Instance::fillVector(const char *name, const BX_Vector3 &value)
{
    const int slot = findVariable(name);
    if (slot < 0 || myVars[slot].myType != 'V')
        return false;
    const int n = myVars[slot].myVarying ? KAL_MAX_LANES : 1;
    BX_Vector3 *data = static_cast<BX_Vector3 *>(myVars[slot].myData);
    for (int i = 0; i < n; ++i)
        data[i] = value;
    return true;
}

KAL_RefType *KAL_Instance::getRef(const char *name) const
{
    const void *p = laneValue(name, 'B', 0);
    return p ? *static_cast<KAL_RefType *const *>(p) : nullptr;
}

bool KAL_Instance::setRef(const char *name, KAL_RefType *value)
{
    void *p = laneValue(name, 'B', 0);
    if (!p)
        return false;
    KAL_RefType **ref = static_cast<KAL_RefType **>(p);
    if (value)
        value->addRefCount();
    if (*ref)
        (*ref)->decRefCount();
    *ref = value;
    return true;
}

void KAL_Instance::setCurrent(int index)
{
    myIndex = uint16_t(index);
    myArgCount = uint16_t(myProgram->myInstrs[index].argCount);
    myArgs = myProgram->myArgSlots.data() + myProgram->myInstrs[index].firstArg;
}

int KAL_Instance::run(KAL_ProcArray &lanes)
{
    if (!myVars || lanes.myCount < 0 || lanes.myCount > KAL_MAX_LANES)
        return -1;
    const KAL_Program::Instruction *instrs = myProgram->myInstrs.data();
    const int *slots = myProgram->myArgSlots.data();
    const int count = myProgram->getInstructionCount();
    int executed = 0;
    for (int pc = 0; pc >= 0 && pc < count; ++executed)
    {
        const KAL_Program::Instruction &in = instrs[pc];
        myIndex = uint16_t(pc);
        myArgCount = uint16_t(in.argCount);
        myArgs = slots + in.firstArg;
        pc = in.evaluate(*this, lanes);
    }
    return executed;
}

int KAL_Instance::runInstruction(int index, KAL_ProcArray &lanes)
{
    if (!myVars || index < 0 || index >= myProgram->getInstructionCount() || lanes.myCount < 0 ||
        lanes.myCount > KAL_MAX_LANES)
        return -1;
    setCurrent(index);
    return myProgram->myInstrs[index].evaluate(*this, lanes);
}
