#ifndef KAL_INSTANCE_H
#define KAL_INSTANCE_H

#include "KAL_API.h"
#include "KAL_Variable.h"

#include <cstdint>
#include <memory>

class BX_Vector3;
class KAL_Program;
class KAL_ProcArray;
class KAL_RefType;

// A running shader: a compiled program (KAL_Program) and its variable table,
// made by KAL_Shader::createInstance. One instance runs on one thread at a
// time; give each thread its own instance of a shader.
//
// What an op handler reads, inline:
//   getInstructionIndex()     the current instruction (a 16-bit index);
//                             a handler returns it + 1
//   getArgCount()             the number of arguments of the instruction
//   getArgSlot(k)             the variable-table slot bound to argument k
//   getArgVariable(k)         that slot's KAL_Variable: myData, myVarying,
//                             myStride, myType
//   getArg<T>(k)              the storage of argument k as T* (element 0;
//                             element i is lane i when the argument is
//                             varying)
//   isArgVarying(k)
// A handler that walks lanes uses KAL_ProcIterator; a BSDF argument is
// *getArg<KAL_RefType *>(k), one reference for all lanes.
//
// Example, an op "scaled@VVF" that writes argument 1 times argument 2 into
// argument 0:
//     int opScaled(KAL_Instance &instance, KAL_ProcArray &lanes)
//     {
//         KAL_ProcIterator it(instance, lanes);
//         for (it.rewind(); !it.isDone(); it.advance())
//             *it.getVector(0) = *it.getVector(1) * *it.getFloat(2);
//         return instance.getInstructionIndex() + 1;
//     }
// A uniform output written this way ends with the last running lane's
// value; an op that updates its argument 0 in place must update a uniform
// one once, not once per lane.
//
// The instance holds one reference to every BSDF stored in its B variables
// and drops them all when it is reset or destroyed.
class KAL_API KAL_Instance
{
public:
    explicit KAL_Instance(std::shared_ptr<const KAL_Program> program);
    ~KAL_Instance();

    // --- The current instruction (op handlers) ---
    int getInstructionIndex() const { return myIndex; }
    int getArgCount() const { return myArgCount; }
    int getArgSlot(int k) const { return myArgs[k]; }
    const KAL_Variable &getArgVariable(int k) const { return myVars[myArgs[k]]; }
    void *getArgData(int k) const { return myVars[myArgs[k]].myData; }
    bool isArgVarying(int k) const { return myVars[myArgs[k]].myVarying != 0; }
    char getArgType(int k) const { return myVars[myArgs[k]].myType; }
    template <class T> T *getArg(int k) const { return static_cast<T *>(myVars[myArgs[k]].myData); }

    // --- The variable table ---
    int getVariableCount() const { return myVarCount; }
    const KAL_Variable &getVariable(int slot) const { return myVars[slot]; }
    const KAL_Program &getProgram() const { return *myProgram; }
    // The slot of a named variable (a global, a declared variable), or -1.
    int findVariable(const char *name) const;

    // --- Host access by name; false when the name or its type does not fit.
    // On a uniform variable the lane is ignored. Lanes outside
    // [0, KAL_MAX_LANES) are refused. ---
    bool setVector(const char *name, int lane, const BX_Vector3 &value);
    bool getVector(const char *name, int lane, BX_Vector3 &value) const;
    bool setFloat(const char *name, int lane, float value);
    bool getFloat(const char *name, int lane, float &value) const;
    bool setInt(const char *name, int lane, int value);
    bool getInt(const char *name, int lane, int &value) const;
    // Sets every lane of a vector variable.
    bool fillVector(const char *name, const BX_Vector3 &value);
    // The BSDF held by a B variable (borrowed: add a reference to keep it),
    // or null.
    KAL_RefType *getRef(const char *name) const;
    // Stores a BSDF in a B variable, adding one reference to it and dropping
    // the reference to the old value.
    bool setRef(const char *name, KAL_RefType *value);

    // --- Running ---
    // Runs the program from instruction 0 over the lanes, each instruction
    // continuing at the index its handler returns, until that index leaves
    // the program. Returns the number of instructions run, or -1 when the
    // lane array has more than KAL_MAX_LANES lanes.
    int run(KAL_ProcArray &lanes);
    // Runs one instruction and returns what its handler returned (-1 for an
    // index outside the program).
    int runInstruction(int index, KAL_ProcArray &lanes);
    // Drops every BSDF reference and restores every variable to its initial
    // value (declared values and constants; zero otherwise).
    void reset();

    // Public so that handlers read them inline; set by the executor.
    uint16_t myIndex = 0;
    uint16_t myArgCount = 0;
    const int *myArgs = nullptr;
    KAL_Variable *myVars = nullptr;
    int myVarCount = 0;

private:
    KAL_Instance(const KAL_Instance &) = delete;
    KAL_Instance &operator=(const KAL_Instance &) = delete;

    void dropReferences();
    void *laneValue(const char *name, char type, int lane) const;
    void setCurrent(int index);

    std::shared_ptr<const KAL_Program> myProgram;
    unsigned char *myStorage = nullptr;
};

#endif
