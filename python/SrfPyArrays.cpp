#include "SrfPyArrays.h"

#include "KAL_API.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace py = pybind11;

namespace
{
std::string shapeText(const py::array &array)
{
    std::string text = "(";
    for (py::ssize_t i = 0; i < array.ndim(); ++i)
        text += (i ? ", " : "") + std::to_string(array.shape(i));
    return text + (array.ndim() == 1 ? ",)" : ")");
}

// The value as a numpy array of the target kind (float32 or int32), copied
// into C order when it is not.
py::array convert(py::handle value, const char *name, bool integer)
{
    py::module_ numpy = py::module_::import("numpy");
    py::array array;
    try
    {
        array = numpy.attr("asarray")(value);
    }
    catch (py::error_already_set &error)
    {
        throw py::value_error(std::string(name) + ": not an array of numbers (" + error.what() + ")");
    }
    const char kind = array.dtype().kind();
    const std::string accepted = integer ? "biu" : "biuf";
    if (accepted.find(kind) == std::string::npos)
        throw py::value_error(std::string(name) + ": values of dtype " + std::string(py::str(array.dtype())) +
                              " cannot be read as " + (integer ? "int32" : "float32"));
    if (integer && array.dtype().itemsize() > 4 && array.size() > 0)
    {
        const long long low = numpy.attr("min")(array).cast<long long>();
        const long long high = numpy.attr("max")(array).cast<long long>();
        if (low < INT_MIN || high > INT_MAX)
            throw py::value_error(std::string(name) + ": values beyond the 32-bit int range");
    }
    return numpy.attr("ascontiguousarray")(array, integer ? py::dtype::of<int>() : py::dtype::of<float>());
}

void refuseShape(const py::array &array, const char *name, const char *wanted)
{
    throw py::value_error(std::string(name) + " must have shape " + wanted + ", not " + shapeText(array));
}

// One-dimensional rows: a number is one row.
template <class Array> Array scalarRows(py::handle value, const char *name, bool integer)
{
    py::array array = convert(value, name, integer);
    if (array.ndim() == 0)
        array = array.reshape({py::ssize_t(1)});
    else if (array.ndim() != 1)
        refuseShape(array, name, "() or (N,)");
    return Array(array);
}
} // namespace

SrfPyArrays::Floats SrfPyArrays::vectors(py::handle value, const char *name)
{
    py::array array = convert(value, name, false);
    if (array.ndim() == 1 && array.shape(0) == 3)
        array = array.reshape({py::ssize_t(1), py::ssize_t(3)});
    else if (array.ndim() != 2 || array.shape(1) != 3)
        refuseShape(array, name, "(3,) or (N, 3)");
    return Floats(array);
}

SrfPyArrays::Floats SrfPyArrays::floats(py::handle value, const char *name)
{
    return scalarRows<Floats>(value, name, false);
}

SrfPyArrays::Ints SrfPyArrays::ints(py::handle value, const char *name) { return scalarRows<Ints>(value, name, true); }

SrfPyArrays::Floats SrfPyArrays::colours(py::handle value, const char *name)
{
    py::array array = convert(value, name, false);
    if (array.ndim() <= 1 && !(array.ndim() == 1 && array.shape(0) == 3))
    {
        // Grey: the one value in all three components.
        Floats grey = floats(array, name);
        Floats result = newVectors(rows(grey));
        for (long i = 0; i < rows(grey); ++i)
            vectorData(result)[i] = BX_Vector3(grey.data()[i], grey.data()[i], grey.data()[i]);
        return result;
    }
    return vectors(array, name);
}

long SrfPyArrays::commonRows(long a, long b, const char *name)
{
    if (broadcast(a, b) >= 0)
        return broadcast(a, b);
    throw py::value_error(std::string(name) + " has " + std::to_string(b) + " rows where " + std::to_string(a) +
                          " are wanted (or one row for all)");
}

SrfPyArrays::Floats SrfPyArrays::expand(const Floats &array, long count)
{
    if (rows(array) == count)
        return array;
    const long width = array.ndim() == 2 ? long(array.shape(1)) : 1;
    Floats result = width == 1 ? newFloats(count) : newVectors(count);
    float *out = result.mutable_data();
    for (long i = 0; i < count; ++i)
        std::copy(array.data(), array.data() + width, out + i * width);
    return result;
}

SrfPyArrays::Floats SrfPyArrays::newVectors(long count) { return Floats({py::ssize_t(count), py::ssize_t(3)}); }

SrfPyArrays::Floats SrfPyArrays::newFloats(long count) { return Floats({py::ssize_t(count)}); }

SrfPyArrays::Ints SrfPyArrays::newInts(long count) { return Ints({py::ssize_t(count)}); }

SrfPyArrays::Floats SrfPyArrays::exponents(py::handle value, const char *name)
{
    Floats result = floats(value, name);
    for (long i = 0; i < rows(result); ++i)
    {
        const float e = result.data()[i];
        if (!(e >= 0.0f) || std::isinf(e))
            throw py::value_error(std::string(name) + " must be a finite number of at least 0; row " +
                                  std::to_string(i) + " holds " + py::repr(py::float_(e)).cast<std::string>());
    }
    return result;
}

py::str SrfPyArrays::text(const std::string &bytes)
{
    PyObject *decoded = PyUnicode_DecodeUTF8(bytes.data(), py::ssize_t(bytes.size()), "strict");
    if (!decoded)
    {
        PyErr_Clear();
        decoded = PyUnicode_DecodeLatin1(bytes.data(), py::ssize_t(bytes.size()), "strict");
    }
    if (!decoded)
        throw py::error_already_set();
    return py::reinterpret_steal<py::str>(decoded);
}

py::str SrfPyArrays::shown(const std::string &bytes)
{
    PyObject *decoded = PyUnicode_DecodeUTF8(bytes.data(), py::ssize_t(bytes.size()), "backslashreplace");
    if (!decoded)
        throw py::error_already_set();
    return py::reinterpret_steal<py::str>(decoded);
}

py::str SrfPyArrays::fileName(const std::string &bytes)
{
    PyObject *decoded = PyUnicode_DecodeFSDefaultAndSize(bytes.data(), py::ssize_t(bytes.size()));
    if (!decoded)
        throw py::error_already_set();
    return py::reinterpret_steal<py::str>(decoded);
}

void SrfPyArrays::checkLanes(long lanes, double bytesPerLane, const char *what)
{
    const long chunk = KAL_MAX_LANES;
    if (lanes > long(INT_MAX) * chunk)
        throw py::value_error(std::string(what) + ": " + std::to_string(lanes) + " lanes are more than " +
                              std::to_string(long(INT_MAX) * chunk) + " (the most that can be counted in chunks)");
    const double memory = double(sysconf(_SC_PHYS_PAGES)) * double(sysconf(_SC_PAGE_SIZE));
    const double needed = double(lanes) * bytesPerLane;
    if (memory > 0.0 && needed > memory)
    {
        char message[256];
        snprintf(message, sizeof message, "%s: %ld lanes need at least %.1f GB, more than the %.1f GB this machine has",
                 what, lanes, needed / 1e9, memory / 1e9);
        PyErr_SetString(PyExc_MemoryError, message);
        throw py::error_already_set();
    }
}
