#include "SrfPyBSDF.h"

#include "SrfPyArrays.h"

#include "SRF_BSDF.h"

#include <pybind11/pybind11.h>

#include <cstdio>
#include <new>
#include <stdexcept>
#include <unistd.h>

namespace py = pybind11;

SrfPyBSDF::Builder::Builder(long lanes) : myLanes(lanes)
{
    if (lanes < 1)
        throw py::value_error("a BSDF needs at least one lane, and an input has no rows");
}

SrfPyBSDF::Builder::~Builder()
{
    for (SRF_BSDF *chunk : myChunks)
        chunk->decRefCount();
}

void SrfPyBSDF::Builder::add(SRF_BSDF *chunk)
{
    if (!chunk)
        throw std::bad_alloc();
    myChunks.push_back(chunk);
}

SrfPyBSDF *SrfPyBSDF::Builder::finish()
{
    SrfPyBSDF *bsdf = new SrfPyBSDF(myLanes, std::move(myChunks));
    myChunks.clear();
    return bsdf;
}

SrfPyBSDF::~SrfPyBSDF()
{
    for (SRF_BSDF *chunk : myChunks)
        chunk->decRefCount();
}

long SrfPyBSDF::commonLanes(long a, long b, const char *what)
{
    if (SrfPyArrays::broadcast(a, b) >= 0)
        return SrfPyArrays::broadcast(a, b);
    throw py::value_error(std::string(what) + ": " + std::to_string(a) + " lanes against " + std::to_string(b) +
                          " (give both the same lane count, or one of them one lane)");
}

std::string SrfPyBSDF::dump() const
{
    // dump prints to the standard error stream: point that stream at a
    // temporary file for the call.
    FILE *capture = std::tmpfile();
    if (!capture)
        throw std::runtime_error("dump: no temporary file to capture the tree in");
    fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(fileno(capture), STDERR_FILENO);
    myChunks[0]->dump(0);
    fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    std::string text;
    rewind(capture);
    char buffer[4096];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, capture)) > 0;)
        text.append(buffer, got);
    fclose(capture);
    return text;
}

SrfPyBSDF *SrfPyBSDF::duplicate() const
{
    Builder copy(myLanes);
    for (const SRF_BSDF *chunk : myChunks)
        copy.add(chunk->duplicate(CHUNK));
    return copy.finish();
}
