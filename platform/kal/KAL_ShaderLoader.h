#ifndef KAL_SHADERLOADER_H
#define KAL_SHADERLOADER_H

#include "KAL_API.h"

#include <memory>
#include <string>

class KAL_Context;
class KAL_Shader;

// Reads text shaders (.kal), one statement a line:
//
//     # a red plastic: a diffuse base and a glossy coat
//     vector tint  = 0.8 0.2 0.1
//     float  shine = 40
//     bsdf   coat
//     diffuse@B   F
//     mul@BV      F tint
//     phong@BF    coat shine
//     add@BB      F coat
//
// Declarations: "bsdf NAME", "float NAME [= x]", "int NAME [= i]",
// "vector NAME [= x y z]" (or "= (x, y, z)"), "string NAME = \"text\"".
// Declared variables are uniform; "varying" before the type makes a float,
// int or vector variable hold one value per lane. A call is a signature
// followed by one operand per type letter: a variable, a global (N, dPds,
// dPdt, F) or a literal of the letter's type (a number for F and I,
// (x, y, z) for V, "text" for S). "#" outside a string starts a comment.
//
// Every problem becomes the shader's one error, "FILE:LINE: message" (see
// KAL_Shader); nothing throws, whatever the input.
class KAL_API KAL_ShaderLoader
{
public:
    // Adds the statements of a text to a shader (whose source name the
    // messages carry). False on error; the error is in shader.getError().
    static bool parseText(const std::string &text, KAL_Shader &shader);
    // The same for a file's content.
    static bool parseFile(const char *path, KAL_Shader &shader);

    // Reads and compiles a file in one step: a compiled shader named after
    // the path, or null with the message in error.
    static std::unique_ptr<KAL_Shader> load(const KAL_Context &context, const char *path, std::string &error);
    // The same for a text, with the name to use in messages.
    static std::unique_ptr<KAL_Shader> compileText(const KAL_Context &context, const std::string &text,
                                                   const char *sourceName, std::string &error);

    // Files larger than this (64 MB) are refused.
    static constexpr long MAX_FILE_BYTES = 64L * 1024 * 1024;

private:
    static bool parseLines(const std::string &text, KAL_Shader &shader);
};

#endif
