#ifndef KAL_SHADER_H
#define KAL_SHADER_H

#include "KAL_API.h"
#include "KAL_Program.h"

#include <memory>
#include <string>
#include <vector>

class KAL_Context;
class KAL_Instance;
class KAL_OpCode;

// Builds and compiles a shader against a context: the host's C++ API.
//
//     KAL_Shader shader(context, "plastic.kal");
//     shader.addVariable("shine", 'F', false, "40");
//     shader.addVariable("coat", 'B', false);
//     shader.addCall("diffuse@B", {"F"});
//     shader.addCall("phong@BF", {"coat", "shine"});
//     shader.addCall("add@BB", {"F", "coat"});
//     if (!shader.compile())
//         fprintf(stderr, "%s\n", shader.getError().c_str());
//     KAL_Instance *instance = shader.createInstance();   // null on error
//     instance->fillVector("N", BX_Vector3(0, 0, 1));     // and dPds, dPdt
//     KAL_ProcArray lanes(64);
//     instance->run(lanes);
//     KAL_RefType *bsdf = instance->getRef("F");
//     delete instance;                                    // drops F
//
// Every shader has the globals N, dPds, dPdt (varying vectors the host
// fills) and F (the BSDF result). An operand is a variable name or a literal
// of its type letter: a number for F and I, "(x, y, z)" or "x y z" for V,
// a double-quoted text for S (\" and \\ escape). B operands must be
// variables, and a written argument must not be a literal.
//
// Compiling resolves every call, expands rewrites by decoding their program
// words (recursively) and binds arguments to variables, temporaries and
// constants. The first error stops everything: the shader keeps that one
// message, "FILE:LINE: call \"SIG\": what went wrong", later calls to the
// builder are ignored, and no instance can be made. Nothing here throws.
class KAL_API KAL_Shader
{
public:
    KAL_Shader(const KAL_Context &context, const char *sourceName = "<shader>");
    ~KAL_Shader();

    // Declares a variable: a name (letters, digits, '_', not starting with a
    // digit), a type letter (B, V, F, I, S), varying (one value per lane;
    // only V, F and I) or uniform, and an optional initial value written as
    // a literal operand. line is for error messages.
    bool addVariable(const char *name, char type, bool varying, const char *initial = nullptr, int line = 0);
    // Appends a call: a signature and one operand per type letter.
    bool addCall(const char *signature, const std::vector<std::string> &operands, int line = 0);
    // Records an error found by a front end (a parse error), unless one is
    // already recorded. Message becomes "SOURCE:LINE: message", or
    // "SOURCE: message" for a line of 0 or less (the file as a whole).
    void setError(int line, const std::string &message);

    // Compiles the calls added so far; false on error.
    bool compile();
    bool isCompiled() const { return myProgram != nullptr; }
    bool hasError() const { return !myError.empty(); }
    const std::string &getError() const { return myError; }
    const std::string &getSourceName() const { return mySourceName; }

    // The compiled program, or null before compile() or after an error.
    const KAL_Program *getProgram() const { return myProgram.get(); }
    // A new instance of the compiled program (delete it when done), or null
    // when the shader is not compiled. The instance keeps the program alive.
    KAL_Instance *createInstance() const;

    // Text quoted for a message: cut after 40 characters ("..."), never
    // inside a UTF-8 sequence; control characters and bytes that are not
    // well-formed UTF-8 written as \xNN, so that the message is valid UTF-8
    // and puts nothing raw on a terminal.
    static std::string quoted(const std::string &text);
    // The same without the quotes, cut after `maxCharacters` characters
    // (cut says whether it was); for any text a host shows the user.
    static std::string printable(const std::string &text, size_t maxCharacters = std::string::npos,
                                 bool *cut = nullptr);

    // Instructions a program may hold (the instruction index is 16 bits).
    static constexpr int MAX_INSTRUCTIONS = 65535;
    // Bytes of variable storage one instance may need.
    static constexpr size_t MAX_STORAGE_BYTES = size_t(256) << 20;
    // Rewrites nested deeper than this are taken for a cycle.
    static constexpr int MAX_DEPTH = 32;

private:
    KAL_Shader(const KAL_Shader &) = delete;
    KAL_Shader &operator=(const KAL_Shader &) = delete;

    // A declaration or a call, kept in the order given: a call sees only
    // the variables declared before it.
    struct Item
    {
        bool isCall;
        std::string name; // the variable's name, or the call's signature
        char type;
        bool varying;
        bool hasInitial;
        std::string initial;
        std::vector<std::string> operands;
        int line;
    };
    friend class KAL_ShaderCompiler;

    const KAL_Context &myContext;
    std::string mySourceName;
    std::vector<Item> myItems;
    std::string myError;
    std::shared_ptr<KAL_Program> myProgram;
};

#endif
