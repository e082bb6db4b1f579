#ifndef SRF_HOSTKIT_SHADER_H
#define SRF_HOSTKIT_SHADER_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

class KAL_Context;
class KAL_Instance;
class KAL_Shader;

// A text shader (.kal) compiled against a context into which the BSDF ops
// are installed, together with the host's own query program: the calls a
// renderer makes on the shader's result F, each one instruction that the
// host runs by index.
//
// One SrfShader serves every thread; each thread makes its own instances
// (SrfBatch does). Loading raises an SrfError with one line that names the
// file (and the line, for a malformed shader).
//
// A shader that builds a measured lobe on a file that cannot be read still
// loads and runs (the lobe has an empty data set, as the op makes it), but
// loading warns, once per file name in the process, through the warning
// handler: by default one line "srf: warning: ..." on the standard error
// stream.
class SrfShader
{
public:
    // The host's query instructions, in program order.
    enum Query
    {
        SAMPLE,         // sample_bsdf: dir, colour, bounce from u, N, sx, sy; mask 15
        EMISSION,       // emission_bsdf: emitted
        EVALUATE,       // eval_bsdf: value of F for u, N, v; mask 15
        ALBEDO,         // albedo: albedo for u, N; mask 15
        SPECULAR_RATIO, // specularratio_bsdf: ratio; mask 15
        BOUNCES,        // getbounces: bounces
        SAMPLE_DIFFUSE, // sample_bsdf as SAMPLE, mask 1
        SAMPLE_GLOSSY,  // sample_bsdf: dir2, colour2, bounce2 from u, N, sx2, sy2; mask 6
        DENSITY,        // six eval_pdf_bsdf: value and pdf of F for u, N and one direction (dir,
                        // dir2, v) under one mask (1, 6), DENSITY + 2 direction + class
        NQUERIES = DENSITY + 6
    };

    explicit SrfShader(const std::string &path);
    // A shader given as text, named `name` in its messages.
    SrfShader(const std::string &text, const std::string &name);
    ~SrfShader();

    const std::string &path() const { return myPath; }

    // The file names that the shader's measured ops read, in program order,
    // each once.
    std::vector<std::string> measurementFiles() const;

    // Replaces the handler that loading calls with each warning (one line,
    // without a newline); it may throw, which fails the load. Returns the
    // handler it replaces.
    using WarningHandler = std::function<void(const std::string &)>;
    static WarningHandler setWarningHandler(WarningHandler handler);

    // The compiled shader, every rewrite expanded: one instruction a line,
    // operands named.
    std::string listing() const;
    int instructionCount() const;

    // New instances of the shader and of the query program; the caller
    // deletes them.
    KAL_Instance *createShaderInstance() const;
    KAL_Instance *createQueryInstance() const;

private:
    SrfShader(const SrfShader &) = delete;
    SrfShader &operator=(const SrfShader &) = delete;

    // Compiles what `parse` filled in, then the query program.
    template <class Parse> void compile(Parse parse);
    void compileQueries();
    void warnOfUnreadableFiles() const;

    std::string myPath;
    std::unique_ptr<KAL_Context> myContext;
    std::unique_ptr<KAL_Shader> myShader;
    std::unique_ptr<KAL_Shader> myQueries;
};

#endif
