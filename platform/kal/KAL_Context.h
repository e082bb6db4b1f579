#ifndef KAL_CONTEXT_H
#define KAL_CONTEXT_H

#include "KAL_API.h"

#include <string>
#include <unordered_map>
#include <vector>

class KAL_OpCode;

// A shading-language context: the ops that shaders compiled against it may
// call, by signature ("name@LETTERS"). A new context already holds the
// runtime's builtin ops (see KAL_Builtins.h); a library installs its own by
// constructing KAL_OpCodes on it. The context owns every op registered into
// it and deletes them when it is destroyed, so it must outlive the shaders
// compiled against it (instances keep only handler addresses and may outlive
// it as long as the library holding the handlers stays loaded).
//
// Registration is not safe concurrently with itself or with compilation;
// looking ops up from several threads at once is.
class KAL_API KAL_Context
{
public:
    KAL_Context();
    ~KAL_Context();

    // Called by the KAL_OpCode constructors. A signature registered twice
    // keeps the later op; the earlier one stays owned but is no longer
    // found nor listed.
    void registerOp(KAL_OpCode *op);

    // The op registered under the signature, or null.
    const KAL_OpCode *findOp(const char *signature) const;
    const KAL_OpCode *findOp(const std::string &signature) const;

    // The ops in the order of registration (the builtins first). An op that
    // replaced another takes its place at the end of the list.
    int getOpCount() const { return int(myOrder.size()); }
    const KAL_OpCode *getOp(int i) const { return (i >= 0 && i < getOpCount()) ? myOrder[i] : nullptr; }
    // How many of the listed ops are the runtime's builtins.
    int getBuiltinCount() const;

private:
    KAL_Context(const KAL_Context &) = delete;
    KAL_Context &operator=(const KAL_Context &) = delete;

    std::unordered_map<std::string, KAL_OpCode *> myOps;
    std::vector<KAL_OpCode *> myOrder;
    std::vector<KAL_OpCode *> myOwned;
};

#endif
