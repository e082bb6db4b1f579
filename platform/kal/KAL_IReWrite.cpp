#include "KAL_IReWrite.h"

KAL_IReWrite::KAL_IReWrite(const char *signature, int argCount, const char *const *names, int nameCount,
                           const int32_t *ints, int intCount, const float *floats, int floatCount,
                           const uint32_t *words, int wordCount, const int *tempTypes, int tempCount,
                           const int *constTypes, const int *constIndices, int constCount)
    : mySignature(signature ? signature : ""), myArgCount(argCount), myNames(names), myNameCount(names ? nameCount : 0),
      myInts(ints), myIntCount(ints ? intCount : 0), myFloats(floats), myFloatCount(floats ? floatCount : 0),
      myWords(words), myWordCount(words ? wordCount : 0), myTempTypes(tempTypes),
      myTempCount(tempTypes ? tempCount : 0), myConstTypes(constTypes), myConstIndices(constIndices),
      myConstCount((constTypes && constIndices) ? constCount : 0)
{
}

// int32_t and uint32_t have the same size and representation, so the signed
// program is read through the unsigned view.
KAL_IReWrite::KAL_IReWrite(const char *signature, int argCount, const char *const *names, int nameCount,
                           const int32_t *ints, int intCount, const float *floats, int floatCount, const int32_t *words,
                           int wordCount, const int *tempTypes, int tempCount, const int *constTypes,
                           const int *constIndices, int constCount)
    : KAL_IReWrite(signature, argCount, names, nameCount, ints, intCount, floats, floatCount,
                   reinterpret_cast<const uint32_t *>(words), wordCount, tempTypes, tempCount, constTypes, constIndices,
                   constCount)
{
}

KAL_IReWrite::~KAL_IReWrite() = default;

std::string KAL_IReWrite::disassemble() const
{
    std::string out;
    bool open = false;
    for (int i = 0; i < myWordCount; ++i)
    {
        const uint32_t w = myWords[i];
        const int kind = wordKind(w), index = wordIndex(w);
        if (w == 0)
        {
            out += open ? ")\n" : "()\n";
            open = false;
            continue;
        }
        std::string text;
        if (kind == KIND_NAME && getName(index))
            text = getName(index);
        else if (kind == KIND_ARG)
            text = "a" + std::to_string(index);
        else if (kind == KIND_TEMP)
            text = "t" + std::to_string(index);
        else if (kind == KIND_CONST)
            text = "c" + std::to_string(index);
        else
            text = "?" + std::to_string(kind) + ":" + std::to_string(index);
        if (!open)
        {
            out += "\"" + text + "\"(";
            open = true;
        }
        else
            out += (out.back() == '(' ? "" : ", ") + text;
    }
    if (open)
        out += "...\n";
    return out;
}
