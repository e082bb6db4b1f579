#include "KAL_Program.h"

#include "BX_Vector3.h"
#include "KAL_RefType.h"
#include "KAL_StringSet.h"

#include <cstdio>
#include <cstring>

size_t KAL_Program::elementBytes(char type)
{
    switch (type)
    {
    case 'B':
        return sizeof(KAL_RefType *);
    case 'V':
        return sizeof(BX_Vector3);
    case 'F':
        return sizeof(float);
    case 'I':
        return sizeof(int);
    case 'S':
        return sizeof(KAL_StringSet);
    default:
        return 0;
    }
}

int KAL_Program::findVariable(const std::string &name) const
{
    const auto it = myNames.find(name);
    return it == myNames.end() ? -1 : it->second;
}

std::string KAL_Program::describeOperand(int slot) const
{
    if (slot < 0 || slot >= getVariableCount())
        return "?";
    const Variable &v = myVars[slot];
    if (v.kind == TEMPORARY)
        return "$t" + std::to_string(v.tempNumber);
    if (v.kind != CONSTANT)
        return v.name;
    char text[128];
    switch (v.type)
    {
    case 'F':
    {
        float f;
        memcpy(&f, v.initial, sizeof f);
        snprintf(text, sizeof text, "%g", double(f));
        return text;
    }
    case 'I':
    {
        int i;
        memcpy(&i, v.initial, sizeof i);
        return std::to_string(i);
    }
    case 'V':
    {
        BX_Vector3 c;
        memcpy(&c, v.initial, sizeof c);
        snprintf(text, sizeof text, "(%g, %g, %g)", double(c.x), double(c.y), double(c.z));
        return text;
    }
    case 'S':
    {
        KAL_StringSet s;
        memcpy(&s, v.initial, sizeof s);
        std::string out = "\"";
        for (const char *p = s.myString; *p; ++p)
        {
            if (*p == '"' || *p == '\\')
                out += '\\';
            out += *p;
        }
        return out + "\"";
    }
    default:
        return v.name;
    }
}

std::string KAL_Program::describeInstruction(int i) const
{
    if (i < 0 || i >= getInstructionCount())
        return "";
    std::string out = myInstrs[i].signature + "(";
    for (int k = 0; k < myInstrs[i].argCount; ++k)
    {
        if (k)
            out += ", ";
        out += describeOperand(getArgSlot(i, k));
    }
    return out + ")";
}

std::string KAL_Program::listing() const
{
    std::string out;
    for (int i = 0; i < getInstructionCount(); ++i)
        out += describeInstruction(i) + "\n";
    return out;
}
