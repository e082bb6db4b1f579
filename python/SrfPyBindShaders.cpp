// The Shader class of the module.

#include "SrfPyArrays.h"
#include "SrfPyBind.h"
#include "SrfPyShader.h"

#include <pybind11/stl.h>

#include <sys/stat.h>

namespace py = pybind11;

namespace
{
// A source names a file when a file of that name exists, or when it could
// not be shader text: text has a call ("name@LETTERS") or several lines.
bool isPath(const std::string &source)
{
    struct stat info;
    if (stat(source.c_str(), &info) == 0)
        return true;
    return source.find('\n') == std::string::npos && source.find('@') == std::string::npos;
}

SrfPyShader *load(py::handle source)
{
    if (py::isinstance(source, py::module_::import("os").attr("PathLike")))
        return new SrfPyShader(py::str(py::module_::import("os").attr("fspath")(source)).cast<std::string>());
    if (!py::isinstance<py::str>(source) && !py::isinstance<py::bytes>(source))
        throw py::type_error("Shader: source must be a path (str or os.PathLike) or the shader's text (str), not " +
                             py::type::of(source).attr("__name__").cast<std::string>());
    const std::string text = source.cast<std::string>();
    return isPath(text) ? new SrfPyShader(text) : new SrfPyShader(text, "<text>");
}
} // namespace

void srfBindShaders(py::module_ &m)
{
    py::class_<SrfPyShader>(m, "Shader", R"(A text shader compiled with the BSDF ops and rewrites installed.

Shader(path_or_text): a path (str or os.PathLike) names a .kal file; a
string with a call or several lines is the shader's text. Errors raise
srf.Error with the loader's "FILE:LINE: message" (FILE is <text> for text).)")
        .def(py::init(&load), py::arg("source"))
        .def_static(
            "from_text", [](const std::string &text, const std::string &name) { return new SrfPyShader(text, name); },
            py::arg("text"), py::arg("name") = "<text>", "A shader from its text; messages name it `name`.")
        .def_property_readonly(
            "name", [](const SrfPyShader &shader) { return SrfPyArrays::fileName(shader.name()); },
            "The file, or the name given to a text.")
        .def_property_readonly(
            "listing", [](const SrfPyShader &shader) { return SrfPyArrays::shown(shader.listing()); },
            "The compiled program, every rewrite expanded, one instruction a line.")
        .def("run", &SrfPyShader::run, py::arg("lanes") = 1,
             R"(Runs the shader over `lanes` lanes; keyword arguments set variables.

A varying variable takes one row per lane or one row for all, a uniform
one a single value: (3,) for vectors, a number for floats and ints; a bsdf
variable an srf.BSDF of one lane or of `lanes` lanes. Unless
given, N = (0, 0, 1), dPds = (1, 0, 0), dPdt = (0, 1, 0). Returns a dict of
every named variable: BSDFs (F first) as srf.BSDF over the lanes or None,
varying values as arrays of one row per lane, uniform ones as values.)")
        .def("__repr__", [](const SrfPyShader &shader)
             { return "<srf.Shader " + std::string(SrfPyArrays::shown(shader.name())) + ">"; });
}
