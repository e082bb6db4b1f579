#ifndef KAL_OPCODE_H
#define KAL_OPCODE_H

#include "KAL_API.h"

#include <string>

class KAL_Context;
class KAL_Instance;
class KAL_IReWrite;
class KAL_ProcArray;

// End mark of a written-argument list (hexadecimal FFFF0000).
#define KAL_ARGS_END (-65536)

// Op flag of an op with effects beyond its written arguments (it reads files
// or caches data): the compiler never drops or merges its calls.
#define KAL_OPFLAG_SIDE_EFFECTS 0x2000000
// Op flag of an op that also reads its argument 0 (it updates it in place).
#define KAL_OPFLAG_READS_ARG0 0x1

// Runs the instance's current instruction for every running lane of the
// lane array and returns the index of the next instruction to run: the
// current index + 1 for every ordinary op.
typedef int (*KAL_EvaluateFunc)(KAL_Instance &, KAL_ProcArray &);
// Returns the indices (from 0, in signature order) of the arguments the op
// writes, ended by KAL_ARGS_END. Null means argument 0 alone.
typedef const int *(*KAL_WrittenArgsFunc)();

// An op of a context: a native op with a handler, or a rewrite that the
// compiler expands. Build it with new; the constructor registers it into
// the context, which owns it from then on (the caller never deletes it).
// Registering a signature that the context already knows replaces the older
// op for every later compilation.
//
// Signatures are "name@LETTERS", one type letter per argument (B, V, F, I,
// S; see KAL_Variable.h). The signature and lists are copied; the rewrite
// object is borrowed and must outlive every compilation that uses it.
class KAL_API KAL_OpCode
{
public:
    // A native op: context, argument count, signature, handler, two unused
    // callbacks (null), the written-arguments function (null: argument 0
    // alone), an unused callback (null), op flag, fold type, an unused
    // function (null). The argument count is the number of type letters, or
    // minus (letters + 1) for an op with side effects.
    KAL_OpCode(KAL_Context &context, int argCount, const char *signature, KAL_EvaluateFunc evaluate, void *init,
               void *cleanup, KAL_WrittenArgsFunc writtenArgs, void *fold, int opFlag, int foldType, void *reserved);
    KAL_OpCode(KAL_Context *context, int argCount, const char *signature, KAL_EvaluateFunc evaluate, void *init,
               void *cleanup, KAL_WrittenArgsFunc writtenArgs, void *fold, int opFlag, int foldType, void *reserved);
    // A rewrite: context, the rewrite (its signature and argument count are
    // the op's), the written-argument list ended by KAL_ARGS_END (null:
    // argument 0 alone; a list holding only the end mark: none), op flag.
    KAL_OpCode(KAL_Context &context, const KAL_IReWrite *rewrite, const int *writtenArgs, int opFlag);
    KAL_OpCode(KAL_Context *context, const KAL_IReWrite *rewrite, const int *writtenArgs, int opFlag);
    ~KAL_OpCode();

    KAL_Context *getContext() const { return myContext; }
    const char *getSignature() const { return mySignature.c_str(); }
    // The part before '@'.
    std::string getName() const;
    // The type letters after '@' ("" when the signature has no '@').
    const char *getTypes() const { return mySignature.c_str() + myTypesOffset; }
    // The number of type letters.
    int getArity() const { return int(mySignature.size()) - myTypesOffset; }
    // The argument count as registered (may be negative, see above).
    int getArgCount() const { return myArgCount; }
    // True when the signature has the form name@LETTERS with known letters
    // and the argument count matches it.
    bool isValid() const { return myValid; }

    bool isReWrite() const { return myReWrite != nullptr; }
    const KAL_IReWrite *getReWrite() const { return myReWrite; }
    KAL_EvaluateFunc getEvaluate() const { return myEvaluate; }
    KAL_WrittenArgsFunc getWrittenArgsFunc() const { return myWrittenArgsFunc; }
    // The written arguments as a list ended by KAL_ARGS_END.
    const int *getWrittenArgs() const { return myWritten; }
    bool writesArg(int k) const;
    int getOpFlag() const { return myOpFlag; }
    // How a host could fold calls of the op; kept for the host, as this
    // compiler folds nothing.
    int getFoldType() const { return myFoldType; }
    // True for the runtime's own ops ("normalize@VV", "set@FF", ...).
    bool isBuiltin() const { return myBuiltin; }

private:
    friend class KAL_Context;
    friend class KAL_Builtins;
    KAL_OpCode(const KAL_OpCode &) = delete;
    KAL_OpCode &operator=(const KAL_OpCode &) = delete;

    void init(KAL_Context *context, int argCount, const char *signature, const int *written);

    KAL_Context *myContext = nullptr;
    std::string mySignature;
    int myTypesOffset = 0;
    int myArgCount = 0;
    bool myValid = false;
    bool myBuiltin = false;
    const KAL_IReWrite *myReWrite = nullptr;
    KAL_EvaluateFunc myEvaluate = nullptr;
    KAL_WrittenArgsFunc myWrittenArgsFunc = nullptr;
    int myOpFlag = 0;
    int myFoldType = 0;
    // At most 64 written indices and the end mark.
    static constexpr int MAX_WRITTEN = 64;
    int myWritten[MAX_WRITTEN + 1];
};

#endif
