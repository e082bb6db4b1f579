#ifndef KAL_PROGRAM_H
#define KAL_PROGRAM_H

#include "KAL_API.h"
#include "KAL_OpCode.h"

#include <cstddef>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

// A compiled shader: a flat list of native-op instructions (every rewrite
// expanded) and the table of variables their arguments are bound to. Made by
// KAL_Shader::compile; immutable afterwards and shared by its instances.
class KAL_API KAL_Program
{
public:
    // Where a variable comes from.
    enum Kind
    {
        GLOBAL,    // N, dPds, dPdt (varying vectors), F (the BSDF result)
        DECLARED,  // declared by the shader or the host
        TEMPORARY, // a temporary of an expanded rewrite
        CONSTANT   // a literal operand or a rewrite's constant
    };

    int getInstructionCount() const { return int(myInstrs.size()); }
    // The op of instruction i (valid while its context lives).
    const KAL_OpCode *getOp(int i) const { return myInstrs[i].op; }
    // The signature of instruction i's op (a copy, valid as long as this).
    const std::string &getSignature(int i) const { return myInstrs[i].signature; }
    int getArgCount(int i) const { return myInstrs[i].argCount; }
    int getArgSlot(int i, int k) const { return myArgSlots[myInstrs[i].firstArg + k]; }
    const int *getArgSlots(int i) const { return myArgSlots.data() + myInstrs[i].firstArg; }
    KAL_EvaluateFunc getEvaluate(int i) const { return myInstrs[i].evaluate; }
    // The source line of the call that produced instruction i.
    int getLine(int i) const { return myInstrs[i].line; }

    int getVariableCount() const { return int(myVars.size()); }
    const std::string &getVariableName(int slot) const { return myVars[slot].name; }
    char getVariableType(int slot) const { return myVars[slot].type; }
    bool isVariableVarying(int slot) const { return myVars[slot].varying; }
    int getVariableKind(int slot) const { return myVars[slot].kind; }
    // The slot of a named variable (a global or a declared one), or -1.
    int findVariable(const std::string &name) const;

    // How an operand reads in a listing: a variable's name, "$tN" for a
    // temporary, the value of a constant ("0.5", "15", "(-1, -1, 1)",
    // "\"text\"").
    std::string describeOperand(int slot) const;
    // "signature(operand, operand, ...)".
    std::string describeInstruction(int i) const;
    // Every instruction, one a line.
    std::string listing() const;

    const std::string &getSourceName() const { return mySourceName; }

    // Bytes of value storage one instance needs.
    size_t getStorageBytes() const { return myStorageBytes; }

private:
    friend class KAL_Shader;
    friend class KAL_Instance;
    friend class KAL_ShaderCompiler;

    struct Instruction
    {
        const KAL_OpCode *op;
        KAL_EvaluateFunc evaluate;
        std::string signature;
        int firstArg;
        int argCount;
        int line;
    };
    struct Variable
    {
        std::string name;
        char type;
        bool varying;
        int kind;
        int line;
        int tempNumber;
        bool hasInitial;
        // The initial value of one element (a BX_Vector3 at most; a string
        // is a pointer into myStrings).
        alignas(8) unsigned char initial[16];
        size_t offset;
        size_t bytes;
    };

    static size_t elementBytes(char type);

    std::vector<Instruction> myInstrs;
    std::vector<int> myArgSlots;
    std::vector<Variable> myVars;
    // Slots of the named variables (globals and declared ones).
    std::unordered_map<std::string, int> myNames;
    std::deque<std::string> myStrings;
    size_t myStorageBytes = 0;
    std::string mySourceName;
};

#endif
