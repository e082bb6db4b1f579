#include "SrfShader.h"

#include "SrfError.h"

#include "KAL_Context.h"
#include "KAL_Instance.h"
#include "KAL_Program.h"
#include "KAL_Shader.h"
#include "KAL_ShaderLoader.h"
#include "SRF_Functions.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

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
