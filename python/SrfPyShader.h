#ifndef SRF_PY_SHADER_H
#define SRF_PY_SHADER_H

#include <pybind11/pybind11.h>

#include <memory>
#include <string>

class SrfShader;

// A text shader compiled against a context with the BSDF ops and rewrites
// installed (the host tool's SrfShader), run over any number of lanes.
//
// run(lanes, inputs) runs the shader once per chunk of KAL_MAX_LANES lanes,
// every lane of the chunk running; lanes past the last one repeat it (see
// SrfPyBSDF). It returns every named variable: BSDFs as SrfPyBSDF over the
// lanes (None when the shader leaves none), varying values as arrays of one
// row per lane, uniform ones as single values. Inputs set variables before
// each chunk: a BSDF variable takes a BSDF of one lane or of `lanes` lanes,
// which the instance references for the run. Unless the inputs set them,
// the globals describe a flat shading point: N = (0, 0, 1),
// dPds = (1, 0, 0), dPdt = (0, 1, 0).
class SrfPyShader
{
public:
    // Raises SrfError with the loader's "FILE:LINE: message".
    explicit SrfPyShader(const std::string &path);
    // A shader from its text; messages name it `name`.
    SrfPyShader(const std::string &text, const std::string &name);
    ~SrfPyShader();

    const std::string &name() const { return myName; }
    std::string listing() const;

    pybind11::dict run(long lanes, const pybind11::kwargs &inputs) const;

private:
    SrfPyShader(const SrfPyShader &) = delete;
    SrfPyShader &operator=(const SrfPyShader &) = delete;

    std::unique_ptr<SrfShader> myShader;
    std::string myName;
};

#endif
