#include "KAL_Shader.h"

#include "BX_Vector3.h"
#include "KAL_Context.h"
#include "KAL_IReWrite.h"
#include "KAL_Instance.h"
#include "KAL_OpCode.h"
#include "KAL_ProcIterator.h"
#include "KAL_StringSet.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <new>

namespace
{
// The globals every shader has, in slot order.
struct Global
{
    const char *name;
    char type;
    bool varying;
};
const Global theGlobals[] = {{"N", 'V', true}, {"dPds", 'V', true}, {"dPdt", 'V', true}, {"F", 'B', false}};

// Value storage of each variable starts on this boundary.
constexpr size_t SLOT_ALIGN = 16;

const char *typeName(char type)
{
    switch (type)
    {
    case 'B':
        return "bsdf";
    case 'V':
        return "vector";
    case 'F':
        return "float";
    case 'I':
        return "int";
    case 'S':
        return "string";
    default:
        return "unknown type";
    }
}

// "a float", "an int": for messages.
std::string aType(char type) { return (type == 'I' ? "an " : "a ") + std::string(typeName(type)); }

// The type letter of a rewrite's type code, or 0.
char letterOfCode(int code)
{
    switch (code)
    {
    case KAL_IReWrite::VECTOR:
        return 'V';
    case KAL_IReWrite::FLOAT:
        return 'F';
    case KAL_IReWrite::INT:
        return 'I';
    default:
        return 0;
    }
}

bool isIdentifier(const std::string &s)
{
    if (s.empty() || !(isalpha((unsigned char)s[0]) || s[0] == '_'))
        return false;
    for (char c : s)
        if (!(isalnum((unsigned char)c) || c == '_'))
            return false;
    return true;
}

std::string trim(const std::string &s)
{
    size_t b = 0, e = s.size();
    while (b < e && isspace((unsigned char)s[b]))
        ++b;
    while (e > b && isspace((unsigned char)s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

std::string quote(const std::string &s) { return KAL_Shader::quoted(s); }

std::string hexWord(uint32_t w)
{
    char text[16];
    snprintf(text, sizeof text, "0x%08X", w);
    return text;
}

// A finite float written out in full, nothing else. Empty message on
// success, else what is wrong with the text (quoted).
std::string floatProblem(const std::string &text, float &value)
{
    std::string s = trim(text);
    if (!s.empty() && s[0] == '+')
        s.erase(0, 1);
    const char *end = s.data() + s.size();
    const auto r = std::from_chars(s.data(), end, value, std::chars_format::general);
    if (s.empty() || r.ptr != end)
        return quote(trim(text)) + " is not a number";
    if (r.ec == std::errc::result_out_of_range)
        return quote(trim(text)) + " is out of range for a float (nonzero magnitudes from 1.4e-45 to 3.4e+38)";
    if (r.ec != std::errc() || !std::isfinite(value))
        return quote(trim(text)) + " is not a finite number";
    return "";
}

bool parseInt(const std::string &text, int &value)
{
    std::string s = trim(text);
    if (!s.empty() && s[0] == '+')
        s.erase(0, 1);
    if (s.empty())
        return false;
    const char *end = s.data() + s.size();
    const auto r = std::from_chars(s.data(), end, value, 10);
    return r.ec == std::errc() && r.ptr == end;
}

// "(x, y, z)", "x, y, z" or "x y z". A component that is a number outside
// the float range leaves its message in `range`.
bool parseVector(const std::string &text, BX_Vector3 &value, std::string &range)
{
    std::string s = trim(text);
    if (!s.empty() && s.front() == '(')
    {
        if (s.size() < 2 || s.back() != ')')
            return false;
        s = s.substr(1, s.size() - 2);
    }
    std::vector<std::string> parts;
    if (s.find(',') != std::string::npos)
    {
        size_t start = 0;
        for (;;)
        {
            const size_t comma = s.find(',', start);
            parts.push_back(s.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
    }
    else
    {
        size_t i = 0;
        while (i < s.size())
        {
            while (i < s.size() && isspace((unsigned char)s[i]))
                ++i;
            const size_t start = i;
            while (i < s.size() && !isspace((unsigned char)s[i]))
                ++i;
            if (i > start)
                parts.push_back(s.substr(start, i - start));
        }
    }
    if (parts.size() != 3)
        return false;
    float *component[3] = {&value.x, &value.y, &value.z};
    for (int k = 0; k < 3; ++k)
    {
        const std::string problem = floatProblem(parts[k], *component[k]);
        if (!problem.empty())
        {
            if (problem.find("out of range") != std::string::npos)
                range = problem;
            return false;
        }
    }
    return true;
}

// A double-quoted text; \" \\ \n \t escape. Empty message on success.
std::string parseString(const std::string &text, std::string &value)
{
    const std::string s = trim(text);
    if (s.empty() || s[0] != '"')
        return "a string must be written in double quotes";
    value.clear();
    for (size_t i = 1; i < s.size(); ++i)
    {
        const char c = s[i];
        if (c == '"')
            return i + 1 == s.size() ? std::string() : "text follows the closing quote of a string";
        if (c == '\\')
        {
            if (++i == s.size())
                break;
            const char e = s[i];
            value += e == 'n' ? '\n' : e == 't' ? '\t' : e;
        }
        else
            value += c;
    }
    return "unterminated string";
}
} // namespace

// Compiles one shader into a program. Keeps the first error.
class KAL_ShaderCompiler
{
public:
    KAL_ShaderCompiler(const KAL_Context &context, KAL_Program &program) : myContext(context), myProgram(program) {}

    std::string myError;

    bool run(const KAL_Shader &shader)
    {
        for (const Global &g : theGlobals)
            addVariable(g.name, g.type, g.varying, KAL_Program::GLOBAL, 0);
        for (const KAL_Shader::Item &item : shader.myItems)
            if (!(item.isCall ? call(item) : declare(item)))
                return false;
        return layout();
    }

private:
    const KAL_Context &myContext;
    KAL_Program &myProgram;
    std::string myWhere; // "FILE:LINE: call \"SIG\": " of the call being compiled
    std::map<std::string, int> myConstants;
    int myTempCount = 0;

    bool fail(const std::string &message)
    {
        if (myError.empty())
            myError = myWhere + message;
        return false;
    }

    int addVariable(const std::string &name, char type, bool varying, int kind, int line)
    {
        KAL_Program::Variable v;
        v.name = name;
        v.type = type;
        v.varying = varying;
        v.kind = kind;
        v.line = line;
        v.tempNumber = kind == KAL_Program::TEMPORARY ? myTempCount++ : -1;
        v.hasInitial = false;
        memset(v.initial, 0, sizeof v.initial);
        v.offset = 0;
        v.bytes = KAL_Program::elementBytes(type) * (varying ? KAL_MAX_LANES : 1);
        myProgram.myVars.push_back(v);
        const int slot = int(myProgram.myVars.size()) - 1;
        if (kind == KAL_Program::GLOBAL || kind == KAL_Program::DECLARED)
            myProgram.myNames[name] = slot;
        return slot;
    }

    // A literal of a type into one element's bytes; empty message on success.
    std::string parseLiteral(const std::string &text, char type, unsigned char *out)
    {
        switch (type)
        {
        case 'F':
        {
            float f;
            const std::string problem = floatProblem(text, f);
            if (!problem.empty())
                return problem;
            memcpy(out, &f, sizeof f);
            return "";
        }
        case 'I':
        {
            int i;
            if (!parseInt(text, i))
                return quote(trim(text)) + " is not an integer";
            memcpy(out, &i, sizeof i);
            return "";
        }
        case 'V':
        {
            BX_Vector3 v;
            std::string range;
            if (!parseVector(text, v, range))
                return range.empty() ? quote(trim(text)) + " is not a vector (x, y, z)" : range;
            memcpy(out, &v, sizeof v);
            return "";
        }
        case 'S':
        {
            std::string s;
            const std::string message = parseString(text, s);
            if (!message.empty())
                return message + " " + quote(trim(text));
            myProgram.myStrings.push_back(s);
            const KAL_StringSet set(myProgram.myStrings.back().c_str());
            memcpy(out, &set, sizeof set);
            return "";
        }
        default:
            return std::string("a ") + typeName(type) + " cannot be written as a literal";
        }
    }

    // The slot of a constant, shared by equal constants of one type.
    int constantSlot(char type, const unsigned char *bytes)
    {
        const size_t n = KAL_Program::elementBytes(type);
        const std::string key = std::string(1, type) + std::string(reinterpret_cast<const char *>(bytes), n);
        const auto it = myConstants.find(key);
        if (it != myConstants.end())
            return it->second;
        const int slot = addVariable("", type, false, KAL_Program::CONSTANT, 0);
        myProgram.myVars[slot].hasInitial = true;
        memcpy(myProgram.myVars[slot].initial, bytes, n);
        myConstants[key] = slot;
        return slot;
    }

    bool declare(const KAL_Shader::Item &d)
    {
        myWhere = myProgram.mySourceName + ":" + std::to_string(d.line) + ": declaration of " + quote(d.name) + ": ";
        if (!isIdentifier(d.name))
            return fail("not a valid variable name");
        if (myProgram.findVariable(d.name) >= 0)
            return fail("the name is already taken");
        if (!strchr("BVFIS", d.type) || d.type == 0)
            return fail(std::string("unknown type letter '") + d.type + "'");
        if (d.varying && (d.type == 'B' || d.type == 'S'))
            return fail(std::string("a ") + typeName(d.type) + " variable cannot be varying");
        const int slot = addVariable(d.name, d.type, d.varying, KAL_Program::DECLARED, d.line);
        if (!d.hasInitial)
            return true;
        if (d.type == 'B')
            return fail("a bsdf variable cannot have an initial value");
        const std::string message = parseLiteral(d.initial, d.type, myProgram.myVars[slot].initial);
        if (!message.empty())
            return fail(message);
        myProgram.myVars[slot].hasInitial = true;
        return true;
    }

    // Why a registered op cannot be called, or "".
    static std::string invalidReason(const KAL_OpCode *op)
    {
        if (op->isValid())
            return "";
        const std::string sig = op->getSignature();
        const size_t at = sig.find('@');
        if (at == std::string::npos || at == 0)
            return "op " + quote(sig) + " has a malformed signature (name@LETTERS)";
        for (size_t i = at + 1; i < sig.size(); ++i)
            if (!strchr("BVFIS", sig[i]))
                return "op " + quote(sig) + " has an unknown type letter '" + sig[i] + "'";
        if (!op->isReWrite() && !op->getEvaluate())
            return "op " + quote(sig) + " has no handler";
        return "op " + quote(sig) + " is registered with argument count " + std::to_string(op->getArgCount()) +
               " but its signature has " + std::to_string(op->getArity()) + " type letters";
    }

    bool call(const KAL_Shader::Item &c)
    {
        myWhere = myProgram.mySourceName + ":" + std::to_string(c.line) + ": call " + quote(c.name) + ": ";
        const KAL_OpCode *op = myContext.findOp(c.name);
        if (!op)
            return fail("unknown signature");
        const std::string reason = invalidReason(op);
        if (!reason.empty())
            return fail(reason);
        const char *types = op->getTypes();
        const int arity = op->getArity();
        if (int(c.operands.size()) != arity)
            return fail("takes " + std::to_string(arity) + " operand" + (arity == 1 ? "" : "s") + ", given " +
                        std::to_string(c.operands.size()));
        std::vector<int> slots(arity);
        for (int k = 0; k < arity; ++k)
        {
            const std::string text = trim(c.operands[k]);
            const std::string which = "operand " + std::to_string(k + 1) + " " + quote(text) + ": ";
            if (isIdentifier(text))
            {
                const int slot = myProgram.findVariable(text);
                if (slot < 0)
                    return fail(which + "undeclared variable");
                const char type = myProgram.myVars[slot].type;
                if (type != types[k])
                    return fail(which + "is " + aType(type) + ", the op wants " + aType(types[k]));
                slots[k] = slot;
                continue;
            }
            if (types[k] == 'B')
                return fail(which + "a bsdf operand must be a variable");
            if (op->writesArg(k))
                return fail(which + "the op writes this operand, so it must be a variable");
            alignas(8) unsigned char bytes[16] = {};
            const std::string message = parseLiteral(text, types[k], bytes);
            if (!message.empty())
                return fail("operand " + std::to_string(k + 1) + ": " + message);
            slots[k] = constantSlot(types[k], bytes);
        }
        return emit(op, slots, 0, c.line, "");
    }

    // Appends the instructions of a call: one for a native op, the decoded
    // program for a rewrite (recursively).
    bool emit(const KAL_OpCode *op, const std::vector<int> &slots, int depth, int line, const std::string &chain)
    {
        if (depth > KAL_Shader::MAX_DEPTH)
            return fail("rewrites nest deeper than " + std::to_string(KAL_Shader::MAX_DEPTH) +
                        " levels (a rewrite that expands into itself?): " + chain);
        const std::string reason = invalidReason(op);
        if (!reason.empty())
            return fail((chain.empty() ? "" : "in rewrite " + chain + ": ") + reason);
        if (op->getArity() > KAL_ProcIterator::MAX_ARGS)
            return fail("op " + quote(op->getSignature()) + " has more than " +
                        std::to_string(KAL_ProcIterator::MAX_ARGS) + " arguments");
        return op->isReWrite() ? expand(op, slots, depth, line, chain) : emitNative(op, slots, line);
    }

    // One instruction of a native op over the given variable slots.
    bool emitNative(const KAL_OpCode *op, const std::vector<int> &slots, int line)
    {
        if (int(myProgram.myInstrs.size()) >= KAL_Shader::MAX_INSTRUCTIONS)
            return fail("the program exceeds " + std::to_string(KAL_Shader::MAX_INSTRUCTIONS) + " instructions");
        KAL_Program::Instruction in;
        in.op = op;
        in.evaluate = op->getEvaluate();
        in.signature = op->getSignature();
        in.firstArg = int(myProgram.myArgSlots.size());
        in.argCount = int(slots.size());
        in.line = line;
        myProgram.myInstrs.push_back(in);
        myProgram.myArgSlots.insert(myProgram.myArgSlots.end(), slots.begin(), slots.end());
        return true;
    }

    // Decodes a rewrite's program: each instruction is a name word, its
    // operand words and a word 0; every instruction is emitted in turn.
    bool expand(const KAL_OpCode *op, const std::vector<int> &slots, int depth, int line, const std::string &chain)
    {
        const KAL_IReWrite *rw = op->getReWrite();
        const std::string here = chain.empty() ? quote(op->getSignature()) : chain + " > " + quote(op->getSignature());
        const uint32_t *words = rw->getWords();
        const int count = rw->getWordCount();
        std::vector<int> temps(rw->getTempCount() > 0 ? rw->getTempCount() : 0, -1);
        int pos = 0;
        for (int number = 1; pos < count; ++number)
        {
            const std::string where = "in rewrite " + here + ", instruction " + std::to_string(number) + ": ";
            const uint32_t head = words[pos++];
            if (KAL_IReWrite::wordKind(head) != KAL_IReWrite::KIND_NAME)
                return fail(where + "starts with " + hexWord(head) + ", not an op name (kind 1)");
            const char *name = rw->getName(KAL_IReWrite::wordIndex(head));
            if (!name)
                return fail(where + "name index " + std::to_string(KAL_IReWrite::wordIndex(head)) +
                            " is outside the name table of " + std::to_string(rw->getNameCount()) + " entries");
            const KAL_OpCode *inner = myContext.findOp(name);
            if (!inner)
                return fail(where + "unknown op " + quote(name));
            const std::string innerReason = invalidReason(inner);
            if (!innerReason.empty())
                return fail(where + innerReason);
            const int first = pos;
            while (pos < count && words[pos] != 0)
                ++pos;
            if (pos >= count)
                return fail(where + "not ended by a word 0");
            const int given = pos - first;
            ++pos;
            const int arity = inner->getArity();
            if (given != arity)
                return fail(where + quote(name) + " takes " + std::to_string(arity) + " operands, the program gives " +
                            std::to_string(given));
            std::vector<int> innerSlots(arity);
            for (int k = 0; k < arity; ++k)
            {
                const uint32_t w = words[first + k];
                const std::string which = where + "operand " + std::to_string(k + 1) + " (" + hexWord(w) + ") ";
                const int slot = operandSlot(rw, w, slots, temps, line, which);
                if (slot < 0)
                    return false;
                const char have = myProgram.myVars[slot].type;
                const char want = inner->getTypes()[k];
                if (have != want)
                    return fail(which + "is " + aType(have) + ", " + quote(name) + " wants " + aType(want));
                if (myProgram.myVars[slot].kind == KAL_Program::CONSTANT && inner->writesArg(k))
                    return fail(which + "is a constant, but " + quote(name) + " writes it");
                innerSlots[k] = slot;
            }
            if (!emit(inner, innerSlots, depth + 1, line, here))
                return false;
        }
        return true;
    }

    // The variable slot an operand word of a rewrite names: a shader global
    // by name, an argument of the call, a temporary (made on first use) or a
    // constant from the rewrite's tables. -1 after a failure (reported).
    int operandSlot(const KAL_IReWrite *rw, uint32_t w, const std::vector<int> &slots, std::vector<int> &temps,
                    int line, const std::string &which)
    {
        const int index = KAL_IReWrite::wordIndex(w);
        switch (KAL_IReWrite::wordKind(w))
        {
        case KAL_IReWrite::KIND_NAME:
        {
            const char *global = rw->getName(index);
            if (!global)
                return failSlot(which + "is outside the name table of " + std::to_string(rw->getNameCount()) +
                                " entries");
            const int slot = myProgram.findVariable(global);
            if (slot < 0)
                return failSlot(which + "names " + quote(global) + ", which is not a variable of the shader");
            return slot;
        }
        case KAL_IReWrite::KIND_ARG:
            if (index >= int(slots.size()))
                return failSlot(which + "is argument " + std::to_string(index) + " of a call with " +
                                std::to_string(slots.size()) + " arguments");
            return slots[index];
        case KAL_IReWrite::KIND_TEMP:
        {
            if (index >= int(temps.size()))
                return failSlot(which + "is temporary " + std::to_string(index) + " of a rewrite with " +
                                std::to_string(temps.size()));
            const char type = letterOfCode(rw->getTempTypes()[index]);
            if (!type)
                return failSlot(which + "is a temporary of unknown type code " +
                                std::to_string(rw->getTempTypes()[index]));
            if (temps[index] < 0)
                temps[index] = addVariable("", type, true, KAL_Program::TEMPORARY, line);
            return temps[index];
        }
        case KAL_IReWrite::KIND_CONST:
            return constantOperandSlot(rw, index, which);
        default:
            return failSlot(which + "has the unknown kind " + std::to_string(KAL_IReWrite::wordKind(w)));
        }
    }

    // The slot of constant `index` of a rewrite, read from its float or int
    // table; -1 after a failure (reported).
    int constantOperandSlot(const KAL_IReWrite *rw, int index, const std::string &which)
    {
        if (index >= rw->getConstCount())
            return failSlot(which + "is constant " + std::to_string(index) + " of a rewrite with " +
                            std::to_string(rw->getConstCount()));
        const int code = rw->getConstTypes()[index];
        const int at = rw->getConstIndices()[index];
        alignas(8) unsigned char bytes[16] = {};
        const char type = letterOfCode(code);
        if (type == 'V' || type == 'F')
        {
            const int n = type == 'V' ? 3 : 1;
            if (at < 0 || at > rw->getFloatCount() - n)
                return failSlot(which + "reads the float table at " + std::to_string(at) + ", outside its " +
                                std::to_string(rw->getFloatCount()) + " entries");
            memcpy(bytes, rw->getFloats() + at, n * sizeof(float));
        }
        else if (type == 'I')
        {
            if (at < 0 || at >= rw->getIntCount())
                return failSlot(which + "reads the int table at " + std::to_string(at) + ", outside its " +
                                std::to_string(rw->getIntCount()) + " entries");
            memcpy(bytes, rw->getInts() + at, sizeof(int32_t));
        }
        else
            return failSlot(which + "is a constant of unknown type code " + std::to_string(code));
        return constantSlot(type, bytes);
    }

    int failSlot(const std::string &message)
    {
        fail(message);
        return -1;
    }

    // Places every variable's storage in one block.
    bool layout()
    {
        size_t offset = 0;
        for (KAL_Program::Variable &v : myProgram.myVars)
        {
            v.offset = offset;
            offset += (v.bytes + SLOT_ALIGN - 1) / SLOT_ALIGN * SLOT_ALIGN;
        }
        myProgram.myStorageBytes = offset;
        myWhere = myProgram.mySourceName + ": ";
        if (offset > KAL_Shader::MAX_STORAGE_BYTES)
            return fail("the program's variables need " + std::to_string(offset >> 20) + " MB, more than the " +
                        std::to_string(KAL_Shader::MAX_STORAGE_BYTES >> 20) + " MB an instance may hold");
        return true;
    }
};

namespace
{
// The length of the well-formed UTF-8 sequence that starts text[i], or 0
// when the bytes there are not one (a stray continuation byte, an overlong
// form, a surrogate, a code point past U+10FFFF, a sequence cut short).
size_t utf8Length(const std::string &text, size_t i)
{
    const unsigned char c = (unsigned char)text[i];
    size_t length;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (c >= 0xC2 && c <= 0xDF)
        length = 2;
    else if (c >= 0xE0 && c <= 0xEF)
    {
        length = 3;
        low = c == 0xE0 ? 0xA0 : 0x80;
        high = c == 0xED ? 0x9F : 0xBF;
    }
    else if (c >= 0xF0 && c <= 0xF4)
    {
        length = 4;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF;
    }
    else
        return 0;
    if (i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k)
    {
        const unsigned char b = (unsigned char)text[i + k];
        if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF))
            return 0;
    }
    // U+0080 to U+009F are control characters too.
    if (length == 2 && c == 0xC2 && (unsigned char)text[i + 1] <= 0x9F)
        return 0;
    return length;
}
} // namespace

std::string KAL_Shader::printable(const std::string &text, size_t maxCharacters, bool *cut)
{
    std::string out;
    size_t i = 0, shown = 0;
    for (; i < text.size() && shown < maxCharacters; ++shown)
    {
        const unsigned char c = (unsigned char)text[i];
        const size_t length = c < 0x80 ? 1 : utf8Length(text, i);
        if (c < 0x20 || c == 0x7F || length == 0)
        {
            // Control characters and bytes that are not text would reach
            // the user's terminal as they are: show their value instead.
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
            ++i;
        }
        else
        {
            out.append(text, i, length);
            i += length;
        }
    }
    if (cut)
        *cut = i < text.size();
    return out;
}

std::string KAL_Shader::quoted(const std::string &text)
{
    bool cut = false;
    const std::string shown = printable(text, 40, &cut);
    return "\"" + shown + (cut ? "...\"" : "\"");
}

KAL_Shader::KAL_Shader(const KAL_Context &context, const char *sourceName)
    : myContext(context), mySourceName(sourceName ? sourceName : "<shader>")
{
}

KAL_Shader::~KAL_Shader() = default;

bool KAL_Shader::addVariable(const char *name, char type, bool varying, const char *initial, int line)
{
    if (hasError())
        return false;
    myProgram.reset();
    Item d;
    d.isCall = false;
    d.type = type;
    d.varying = varying;
    d.hasInitial = initial != nullptr;
    try
    {
        d.name = name ? name : "";
        d.initial = initial ? initial : "";
    }
    catch (const std::exception &)
    {
        setError(line, "out of memory");
        return false;
    }
    d.line = line;
    try
    {
        myItems.push_back(std::move(d));
    }
    catch (const std::exception &)
    {
        setError(line, "out of memory");
        return false;
    }
    return true;
}

bool KAL_Shader::addCall(const char *signature, const std::vector<std::string> &operands, int line)
{
    if (hasError())
        return false;
    myProgram.reset();
    Item c;
    c.isCall = true;
    c.type = 0;
    c.varying = false;
    c.hasInitial = false;
    c.line = line;
    try
    {
        c.name = signature ? signature : "";
        c.operands = operands;
    }
    catch (const std::exception &)
    {
        setError(line, "out of memory");
        return false;
    }
    c.line = line;
    try
    {
        myItems.push_back(std::move(c));
    }
    catch (const std::exception &)
    {
        setError(line, "out of memory");
        return false;
    }
    return true;
}

void KAL_Shader::setError(int line, const std::string &message)
{
    if (hasError())
        return;
    myError = mySourceName + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + message;
    myProgram.reset();
}

bool KAL_Shader::compile()
{
    if (hasError())
        return false;
    std::shared_ptr<KAL_Program> program(new (std::nothrow) KAL_Program());
    if (!program)
    {
        myError = mySourceName + ": out of memory";
        return false;
    }
    // Every container the compiler grows may run out of memory: that, too,
    // becomes the shader's error rather than an exception for the host.
    try
    {
        program->mySourceName = mySourceName;
        KAL_ShaderCompiler compiler(myContext, *program);
        if (!compiler.run(*this))
        {
            myError = compiler.myError;
            myProgram.reset();
            return false;
        }
    }
    catch (const std::exception &)
    {
        myError = mySourceName + ": out of memory while compiling";
        myProgram.reset();
        return false;
    }
    myProgram = program;
    return true;
}

KAL_Instance *KAL_Shader::createInstance() const
{
    if (!myProgram || hasError())
        return nullptr;
    KAL_Instance *instance = new (std::nothrow) KAL_Instance(myProgram);
    if (instance && !instance->myVars)
    {
        delete instance;
        return nullptr;
    }
    return instance;
}
