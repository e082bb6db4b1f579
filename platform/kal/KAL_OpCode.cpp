#include "KAL_OpCode.h"

#include "KAL_Context.h"
#include "KAL_IReWrite.h"

#include <cstring>

namespace
{
bool isTypeLetter(char c) { return c == 'B' || c == 'V' || c == 'F' || c == 'I' || c == 'S'; }
} // namespace

KAL_OpCode::KAL_OpCode(KAL_Context &context, int argCount, const char *signature, KAL_EvaluateFunc evaluate, void *,
                       void *, KAL_WrittenArgsFunc writtenArgs, void *, int opFlag, int foldType, void *)
    : myEvaluate(evaluate), myWrittenArgsFunc(writtenArgs), myOpFlag(opFlag), myFoldType(foldType)
{
    init(&context, argCount, signature, writtenArgs ? writtenArgs() : nullptr);
}

KAL_OpCode::KAL_OpCode(KAL_Context *context, int argCount, const char *signature, KAL_EvaluateFunc evaluate, void *,
                       void *, KAL_WrittenArgsFunc writtenArgs, void *, int opFlag, int foldType, void *)
    : myEvaluate(evaluate), myWrittenArgsFunc(writtenArgs), myOpFlag(opFlag), myFoldType(foldType)
{
    init(context, argCount, signature, writtenArgs ? writtenArgs() : nullptr);
}

KAL_OpCode::KAL_OpCode(KAL_Context &context, const KAL_IReWrite *rewrite, const int *writtenArgs, int opFlag)
    : myReWrite(rewrite), myOpFlag(opFlag)
{
    init(&context, rewrite ? rewrite->getArgCount() : 0, rewrite ? rewrite->getSignature() : "", writtenArgs);
}

KAL_OpCode::KAL_OpCode(KAL_Context *context, const KAL_IReWrite *rewrite, const int *writtenArgs, int opFlag)
    : myReWrite(rewrite), myOpFlag(opFlag)
{
    init(context, rewrite ? rewrite->getArgCount() : 0, rewrite ? rewrite->getSignature() : "", writtenArgs);
}

KAL_OpCode::~KAL_OpCode() = default;

void KAL_OpCode::init(KAL_Context *context, int argCount, const char *signature, const int *written)
{
    myContext = context;
    myArgCount = argCount;
    mySignature = signature ? signature : "";
    const size_t at = mySignature.find('@');
    myValid = at != std::string::npos && at > 0;
    myTypesOffset = int(at == std::string::npos ? mySignature.size() : at + 1);
    for (size_t i = myTypesOffset; i < mySignature.size(); ++i)
        myValid = myValid && isTypeLetter(mySignature[i]);
    const int letters = getArity();
    myValid = myValid && (argCount >= 0 ? argCount == letters : -argCount - 1 == letters);
    myValid = myValid && (myReWrite != nullptr || myEvaluate != nullptr);

    // The written list: argument 0 alone unless a list is given.
    int n = 0;
    if (!written)
        myWritten[n++] = 0;
    else
        for (; n < MAX_WRITTEN && written[n] != KAL_ARGS_END; ++n)
            myWritten[n] = written[n];
    myWritten[n] = KAL_ARGS_END;

    if (myContext)
        myContext->registerOp(this);
}

std::string KAL_OpCode::getName() const
{
    const size_t at = mySignature.find('@');
    return at == std::string::npos ? mySignature : mySignature.substr(0, at);
}

bool KAL_OpCode::writesArg(int k) const
{
    for (const int *w = myWritten; *w != KAL_ARGS_END; ++w)
        if (*w == k)
            return true;
    return false;
}
