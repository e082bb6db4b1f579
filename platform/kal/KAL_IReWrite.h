#ifndef KAL_IREWRITE_H
#define KAL_IREWRITE_H

#include "KAL_API.h"

#include <cstdint>
#include <string>

// A rewrite: tells the compiler how to replace a call of one op signature by
// a short program of calls of other ops. The object only stores what it is
// given; the compiler (KAL_Shader) decodes and checks it when a shader calls
// the signature. All arrays are borrowed: they must outlive the object
// (static constant tables do). An absent array is null with a count of 0.
//
// Program words: the kind in the high 8 bits, an index in the low 24 bits.
//   kind 1  an entry of the name table: as the first word of an instruction
//           the op to call; as an operand a shader global ("N", "dPds",
//           "dPdt", "F", or a variable the host declared)
//   kind 2  argument <index> of the rewritten call (0 = first type letter)
//   kind 3  temporary <index> of this rewrite; its type is tempTypes[index]
//   kind 4  constant <index> of this rewrite; its type is
//           constTypes[index] and its value starts at
//           constIndices[index] in the int table (type 4) or the float table
//           (type 3: one float; type 2: three consecutive floats)
// The word 0 ends an instruction: an op word, one operand word per type
// letter of that op, then 0. Type codes are the data pool's: 2 vector,
// 3 float, 4 int.
//
// Argument count: the number of type letters of the signature, or, for an
// op with side effects beyond its written arguments, minus (letters + 1)
// (-3 for "measured@BS"). The compiler checks it against the signature.
class KAL_API KAL_IReWrite
{
public:
    // Type codes of temporaries and constants.
    enum Type
    {
        VECTOR = 2,
        FLOAT = 3,
        INT = 4
    };
    // Kinds of program words.
    enum Kind
    {
        KIND_NAME = 1,
        KIND_ARG = 2,
        KIND_TEMP = 3,
        KIND_CONST = 4
    };
    static int wordKind(uint32_t word) { return int(word >> 24); }
    static int wordIndex(uint32_t word) { return int(word & 0xFFFFFFu); }
    static uint32_t makeWord(int kind, int index) { return (uint32_t(kind) << 24) | (uint32_t(index) & 0xFFFFFFu); }

    // signature, argument count, the name table and its entry count, the
    // int table and its count, the float table and its count, the program
    // and its word count (terminators included), the temporary types and
    // their count, the constant types and table indices and their common
    // count.
    KAL_IReWrite(const char *signature, int argCount, const char *const *names, int nameCount, const int32_t *ints,
                 int intCount, const float *floats, int floatCount, const int32_t *words, int wordCount,
                 const int *tempTypes, int tempCount, const int *constTypes, const int *constIndices, int constCount);
    // The same with the program as unsigned words.
    KAL_IReWrite(const char *signature, int argCount, const char *const *names, int nameCount, const int32_t *ints,
                 int intCount, const float *floats, int floatCount, const uint32_t *words, int wordCount,
                 const int *tempTypes, int tempCount, const int *constTypes, const int *constIndices, int constCount);
    ~KAL_IReWrite();

    const char *getSignature() const { return mySignature; }
    int getArgCount() const { return myArgCount; }
    const char *const *getNames() const { return myNames; }
    int getNameCount() const { return myNameCount; }
    // Entry i of the name table, or null when i is out of range.
    const char *getName(int i) const { return (myNames && i >= 0 && i < myNameCount) ? myNames[i] : nullptr; }
    const int32_t *getInts() const { return myInts; }
    int getIntCount() const { return myIntCount; }
    const float *getFloats() const { return myFloats; }
    int getFloatCount() const { return myFloatCount; }
    const uint32_t *getWords() const { return myWords; }
    int getWordCount() const { return myWordCount; }
    const int *getTempTypes() const { return myTempTypes; }
    int getTempCount() const { return myTempCount; }
    const int *getConstTypes() const { return myConstTypes; }
    const int *getConstIndices() const { return myConstIndices; }
    int getConstCount() const { return myConstCount; }

    // The program in words, one instruction a line, as
    //     "normalize@VV"(t0, N)
    //     "lafortune@BVVF"(a0, t0, c0, a1)
    // with a<i> for argument i, t<i> a temporary, c<i> a constant and a
    // global by its name. A word that does not decode shows as
    // ?<kind>:<index>; an unfinished last instruction ends in "...".
    std::string disassemble() const;

private:
    KAL_IReWrite(const KAL_IReWrite &) = delete;
    KAL_IReWrite &operator=(const KAL_IReWrite &) = delete;

    const char *mySignature;
    int myArgCount;
    const char *const *myNames;
    int myNameCount;
    const int32_t *myInts;
    int myIntCount;
    const float *myFloats;
    int myFloatCount;
    const uint32_t *myWords;
    int myWordCount;
    const int *myTempTypes;
    int myTempCount;
    const int *myConstTypes;
    const int *myConstIndices;
    int myConstCount;
};

#endif
