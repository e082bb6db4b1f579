#include "SrfShader.h"

#include "SrfError.h"

#include "KAL_Context.h"
#include "KAL_Instance.h"
#include "KAL_Program.h"
#include "KAL_Shader.h"
#include "KAL_ShaderLoader.h"
#include "KAL_StringSet.h"
#include "SRF_Functions.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

namespace
{
// The host's query program: variables (all varying, one value per lane) and
// calls, one instruction each, in the order of SrfShader::Query.
struct QueryVariable
{
    const char *name;
    char type;
};
const QueryVariable QUERY_VARIABLES[] = {
    {"u", 'V'},       {"sx", 'F'},      {"sy", 'F'},    {"dir", 'V'},     {"colour", 'V'},  {"bounce", 'I'},
    {"emitted", 'V'}, {"v", 'V'},       {"value", 'V'}, {"albedo", 'V'},  {"ratio", 'F'},   {"bounces", 'I'},
    {"sx2", 'F'},     {"sy2", 'F'},     {"dir2", 'V'},  {"colour2", 'V'}, {"bounce2", 'I'}, {"value01", 'V'},
    {"pdf01", 'F'},   {"value06", 'V'}, {"pdf06", 'F'}, {"value11", 'V'}, {"pdf11", 'F'},   {"value16", 'V'},
    {"pdf16", 'F'},   {"value21", 'V'}, {"pdf21", 'F'}, {"value26", 'V'}, {"pdf26", 'F'}};
struct QueryCall
{
    const char *signature;
    std::vector<std::string> operands;
};
const QueryCall QUERY_CALLS[SrfShader::NQUERIES] = {
    {"sample_bsdf@BVVVVIFFI", {"F", "u", "N", "dir", "colour", "bounce", "sx", "sy", "15"}},
    {"emission_bsdf@VB", {"emitted", "F"}},
    {"eval_bsdf@VBVVVI", {"value", "F", "u", "N", "v", "15"}},
    {"albedo@VBVVI", {"albedo", "F", "u", "N", "15"}},
    {"specularratio_bsdf@FBI", {"ratio", "F", "15"}},
    {"getbounces@IB", {"bounces", "F"}},
    {"sample_bsdf@BVVVVIFFI", {"F", "u", "N", "dir", "colour", "bounce", "sx", "sy", "1"}},
    {"sample_bsdf@BVVVVIFFI", {"F", "u", "N", "dir2", "colour2", "bounce2", "sx2", "sy2", "6"}},
    {"eval_pdf_bsdf@VFBVVVI", {"value01", "pdf01", "F", "u", "N", "dir", "1"}},
    {"eval_pdf_bsdf@VFBVVVI", {"value06", "pdf06", "F", "u", "N", "dir", "6"}},
    {"eval_pdf_bsdf@VFBVVVI", {"value11", "pdf11", "F", "u", "N", "dir2", "1"}},
    {"eval_pdf_bsdf@VFBVVVI", {"value16", "pdf16", "F", "u", "N", "dir2", "6"}},
    {"eval_pdf_bsdf@VFBVVVI", {"value21", "pdf21", "F", "u", "N", "v", "1"}},
    {"eval_pdf_bsdf@VFBVVVI", {"value26", "pdf26", "F", "u", "N", "v", "6"}},
};

// The op that reads a measurement file, and the argument holding its name.
const char MEASURED_OP[] = "measured@BSVVV";
const int MEASURED_NAME_ARG = 1;

void printWarning(const std::string &message) { fprintf(stderr, "srf: warning: %s\n", message.c_str()); }

// The warning handler, and the names already warned of: a file is named
// once per process, however many shaders use it.
std::mutex theWarningLock;
SrfShader::WarningHandler theWarningHandler = printWarning;
std::set<std::string> theWarnedFiles;
} // namespace

SrfShader::SrfShader(const std::string &path) : myPath(path)
{
    FILE *probe = fopen(path.c_str(), "r");
    if (!probe)
        throw SrfError("cannot read '" + path + "': " + strerror(errno));
    fclose(probe);
    compile([&] { return KAL_ShaderLoader::parseFile(path.c_str(), *myShader); });
}

SrfShader::SrfShader(const std::string &text, const std::string &name) : myPath(name)
{
    compile([&] { return KAL_ShaderLoader::parseText(text, *myShader); });
}

template <class Parse> void SrfShader::compile(Parse parse)
{
    myContext.reset(new KAL_Context());
    SRF_Functions::installFunctions(*myContext);
    SRF_Functions::installPhotonFunctions(*myContext);
    SRF_Functions::installPdfFunctions(*myContext);

    myShader.reset(new KAL_Shader(*myContext, myPath.c_str()));
    if (!parse() || !myShader->compile())
        throw SrfError(myShader->getError());
    compileQueries();
    warnOfUnreadableFiles();
}

std::vector<std::string> SrfShader::measurementFiles() const
{
    std::vector<std::string> files;
    // Strings are uniform and set only by the program (literals and
    // declared values): a fresh instance holds the names every run uses.
    std::unique_ptr<KAL_Instance> instance(createShaderInstance());
    if (!instance)
        return files;
    const KAL_Program &program = instance->getProgram();
    for (int i = 0; i < program.getInstructionCount(); ++i)
    {
        if (program.getSignature(i) != MEASURED_OP || program.getArgCount(i) <= MEASURED_NAME_ARG)
            continue;
        const KAL_Variable &variable = instance->getVariable(program.getArgSlot(i, MEASURED_NAME_ARG));
        const KAL_StringSet *name = static_cast<const KAL_StringSet *>(variable.myData);
        const std::string file = name && name->myString ? name->myString : "";
        bool seen = false;
        for (const std::string &known : files)
            seen |= known == file;
        if (!seen)
            files.push_back(file);
    }
    return files;
}

SrfShader::WarningHandler SrfShader::setWarningHandler(WarningHandler handler)
{
    std::lock_guard<std::mutex> lock(theWarningLock);
    WarningHandler old = theWarningHandler;
    theWarningHandler = handler ? std::move(handler) : WarningHandler(printWarning);
    return old;
}

void SrfShader::warnOfUnreadableFiles() const
{
    for (const std::string &file : measurementFiles())
    {
        FILE *probe = fopen(file.c_str(), "r");
        const int error = errno;
        if (probe)
        {
            fclose(probe);
            continue;
        }
        WarningHandler handler;
        {
            std::lock_guard<std::mutex> lock(theWarningLock);
            if (!theWarnedFiles.insert(file).second)
                continue;
            handler = theWarningHandler;
        }
        handler(myPath + ": cannot read the measurement file \"" + KAL_Shader::printable(file) + "\" (" +
                strerror(error) + "): its measured lobe has no measurements to fit");
    }
}

SrfShader::~SrfShader()
{
    // Programs keep op pointers into the context: drop them first.
    myQueries.reset();
    myShader.reset();
}

void SrfShader::compileQueries()
{
    myQueries.reset(new KAL_Shader(*myContext, "<srf queries>"));
    for (const QueryVariable &variable : QUERY_VARIABLES)
        myQueries->addVariable(variable.name, variable.type, true);
    for (const QueryCall &call : QUERY_CALLS)
        myQueries->addCall(call.signature, call.operands);
    // Each query must be a single native instruction at its own index.
    if (!myQueries->compile() || myQueries->getProgram()->getInstructionCount() != NQUERIES)
        throw SrfError("the BSDF query ops are missing from the runtime: " + myQueries->getError());
}

std::string SrfShader::listing() const { return myShader->getProgram()->listing(); }

int SrfShader::instructionCount() const { return myShader->getProgram()->getInstructionCount(); }

KAL_Instance *SrfShader::createShaderInstance() const { return myShader->createInstance(); }

KAL_Instance *SrfShader::createQueryInstance() const { return myQueries->createInstance(); }
