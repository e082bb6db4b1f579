#include "SrfPyShader.h"

#include "SrfPyArrays.h"
#include "SrfPyBSDF.h"

#include "SrfError.h"
#include "SrfShader.h"

#include "KAL_Instance.h"
#include "KAL_ProcArray.h"
#include "KAL_Program.h"
#include "KAL_StringSet.h"
#include "SRF_SwitchBSDF.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace py = pybind11;

namespace
{
const int CHUNK = SrfPyBSDF::CHUNK;

// The flat shading point that the globals describe unless the inputs set
// them: the one the host tool plots and lists.
struct Default
{
    const char *name;
    float value[3];
};
const Default GEOMETRY[] = {{"N", {0.0f, 0.0f, 1.0f}}, {"dPds", {1.0f, 0.0f, 0.0f}}, {"dPdt", {0.0f, 1.0f, 0.0f}}};

// A value the host writes into a variable before each chunk: rows of floats
// (V, F) or ints (I).
struct Input
{
    int slot;
    char type;
    SrfPyArrays::Floats floats;
    SrfPyArrays::Ints ints;
    const SrfPyBSDF *bsdf; // type B
};

// A variable read back after each chunk.
struct Output
{
    std::string name;
    int slot;
    char type;
    bool varying;
    py::object value;
    std::unique_ptr<SrfPyBSDF::Builder> bsdf; // type B
    bool anyBsdf = false;
};

// A chunk that answers every lane as a null BSDF does: a switch over no
// entries. It stands for a chunk in which the shader left no BSDF while
// others have one.
SRF_BSDF *nullChunk()
{
    int *index = SRF_BSDF::allocInteger();
    if (!index)
        throw std::bad_alloc();
    for (int j = 0; j < CHUNK; ++j)
        index[j] = 0;
    SRF_BSDF *bsdf = new SRF_SwitchBSDF(BX_PtrArray<SRF_BSDF *>(), index);
    if (!bsdf)
        SRF_BSDF::release(index);
    return bsdf;
}

void write(const Input &input, KAL_Instance &instance, const std::string &name, int k)
{
    const KAL_Variable &variable = instance.getVariable(input.slot);
    if (input.type == 'B')
    {
        instance.setRef(name.c_str(), input.bsdf->chunkFor(k));
        return;
    }
    const int count = variable.isVarying() ? CHUNK : 1;
    if (input.type == 'V')
        SrfPyArrays::fillBlock(static_cast<BX_Vector3 *>(variable.myData), count, SrfPyArrays::vectorData(input.floats),
                               SrfPyArrays::rows(input.floats), k);
    else if (input.type == 'F')
        SrfPyArrays::fillBlock(static_cast<float *>(variable.myData), count, input.floats.data(),
                               SrfPyArrays::rows(input.floats), k);
    else
        SrfPyArrays::fillBlock(static_cast<int *>(variable.myData), count, input.ints.data(),
                               SrfPyArrays::rows(input.ints), k);
}

void read(Output &output, const KAL_Instance &instance, int k, long lanes)
{
    const KAL_Variable &variable = instance.getVariable(output.slot);
    const long first = long(k) * CHUNK;
    const long count = std::min<long>(CHUNK, lanes - first);
    switch (output.type)
    {
    case 'B':
    {
        SRF_BSDF *bsdf = static_cast<SRF_BSDF *>(*static_cast<KAL_RefType **>(variable.myData));
        if (bsdf)
            bsdf->addRefCount();
        output.anyBsdf |= bsdf != nullptr;
        output.bsdf->add(bsdf ? bsdf : nullChunk());
        return;
    }
    case 'S':
    {
        // A string declared without a value has none.
        const char *text = static_cast<const KAL_StringSet *>(variable.myData)->myString;
        output.value = text ? py::object(SrfPyArrays::text(text)) : py::none();
        return;
    }
    }
    const size_t bytes = output.type == 'V' ? sizeof(BX_Vector3) : 4;
    if (!output.varying)
    {
        const char *data = static_cast<const char *>(variable.myData);
        if (output.type == 'V')
            output.value = SrfPyArrays::Floats({py::ssize_t(3)}, reinterpret_cast<const float *>(data));
        else if (output.type == 'F')
            output.value = py::float_(*reinterpret_cast<const float *>(data));
        else
            output.value = py::int_(*reinterpret_cast<const int *>(data));
        return;
    }
    py::array array = output.value;
    memcpy(static_cast<char *>(array.mutable_data()) + first * bytes, variable.myData, count * bytes);
}
} // namespace

SrfPyShader::SrfPyShader(const std::string &path) : myShader(new SrfShader(path)), myName(path) {}

SrfPyShader::SrfPyShader(const std::string &text, const std::string &name)
    : myShader(new SrfShader(text, name)), myName(name)
{
}

SrfPyShader::~SrfPyShader() = default;

std::string SrfPyShader::listing() const { return myShader->listing(); }

py::dict SrfPyShader::run(long lanes, const py::kwargs &inputs) const
{
    if (lanes < 1)
        throw py::value_error("lanes must be at least 1, not " + std::to_string(lanes));
    std::unique_ptr<KAL_Instance> instance(myShader->createShaderInstance());
    if (!instance)
        throw std::bad_alloc();
    const KAL_Program &program = instance->getProgram();

    // The BSDFs given as inputs stay referenced by `inputs` for the run.
    std::vector<Input> given;
    auto addInput = [&](const std::string &name, py::handle value)
    {
        const int slot = program.findVariable(name);
        if (slot < 0)
            throw py::value_error("the shader has no variable '" + name + "'");
        const char type = program.getVariableType(slot);
        if (type == 'S')
            throw py::value_error("'" + name + "' holds a string, which the host cannot set");
        Input input{slot, type, {}, {}, nullptr};
        if (type == 'B')
        {
            if (!py::isinstance<SrfPyBSDF>(value))
                throw py::value_error("'" + name + "' holds a BSDF: give it an srf.BSDF");
            input.bsdf = &value.cast<const SrfPyBSDF &>();
            if (input.bsdf->lanes() != 1 && input.bsdf->lanes() != lanes)
                throw py::value_error("'" + name + "' has " + std::to_string(input.bsdf->lanes()) + " lanes for " +
                                      std::to_string(lanes) + " lanes (give a BSDF of as many lanes, or of one)");
            given.push_back(std::move(input));
            return;
        }
        if (type == 'V')
            input.floats = SrfPyArrays::vectors(value, name.c_str());
        else if (type == 'F')
            input.floats = SrfPyArrays::floats(value, name.c_str());
        else
            input.ints = SrfPyArrays::ints(value, name.c_str());
        const long rows = SrfPyArrays::rows(type == 'I' ? py::array(input.ints) : py::array(input.floats));
        if (!program.isVariableVarying(slot) && rows != 1)
            throw py::value_error("'" + name +
                                  "' is uniform (one value for all lanes): give one value, or declare it "
                                  "varying in the shader");
        if (rows != 1 && rows != lanes)
            throw py::value_error("'" + name + "' has " + std::to_string(rows) + " rows for " + std::to_string(lanes) +
                                  " lanes (give one row per lane, or one row for all)");
        given.push_back(std::move(input));
    };
    for (const Default &global : GEOMETRY)
        if (!inputs.contains(global.name))
            addInput(global.name, SrfPyArrays::Floats({py::ssize_t(3)}, global.value));
    for (const auto &item : inputs)
        addInput(py::cast<std::string>(item.first), item.second);

    std::vector<Output> outputs;
    // What each lane's results take: the arrays, and for a BSDF at least a
    // node and a parameter per lane.
    double bytesPerLane = 4.0;
    for (int slot = 0; slot < program.getVariableCount(); ++slot)
    {
        const int kind = program.getVariableKind(slot);
        const char type = program.getVariableType(slot);
        if (kind == KAL_Program::GLOBAL || kind == KAL_Program::DECLARED)
            bytesPerLane += type == 'B' ? 16.0 : !program.isVariableVarying(slot) ? 0.0 : type == 'V' ? 12.0 : 4.0;
    }
    SrfPyArrays::checkLanes(lanes, bytesPerLane, "Shader.run");
    for (int slot = 0; slot < program.getVariableCount(); ++slot)
    {
        const int kind = program.getVariableKind(slot);
        if (kind != KAL_Program::GLOBAL && kind != KAL_Program::DECLARED)
            continue;
        Output output{program.getVariableName(slot),   slot,       program.getVariableType(slot),
                      program.isVariableVarying(slot), py::none(), nullptr};
        if (output.type == 'B')
            output.bsdf.reset(new SrfPyBSDF::Builder(lanes));
        else if (output.varying && output.type == 'V')
            output.value = SrfPyArrays::newVectors(lanes);
        else if (output.varying && output.type == 'F')
            output.value = SrfPyArrays::newFloats(lanes);
        else if (output.varying)
            output.value = SrfPyArrays::newInts(lanes);
        outputs.push_back(std::move(output));
    }

    KAL_ProcArray all(CHUNK);
    for (int k = 0; k < SrfPyBSDF::chunksFor(lanes); ++k)
    {
        // Ctrl-C stops a long run between chunks.
        if (PyErr_CheckSignals() != 0)
            throw py::error_already_set();
        instance->reset();
        for (const Input &input : given)
            write(input, *instance, program.getVariableName(input.slot), k);
        {
            // Measured ops may read and fit a file here.
            py::gil_scoped_release unlocked;
            instance->run(all);
        }
        for (Output &output : outputs)
            read(output, *instance, k, lanes);
    }

    py::dict result;
    for (Output &output : outputs)
    {
        if (output.type == 'B')
            result[py::str(output.name)] =
                output.anyBsdf ? py::cast(output.bsdf->finish(), py::return_value_policy::take_ownership) : py::none();
        else
            result[py::str(output.name)] = output.value;
    }
    return result;
}
