#ifndef SRF_PY_ARRAYS_H
#define SRF_PY_ARRAYS_H

#include "BX_Vector3.h"

#include <pybind11/numpy.h>

#include <algorithm>
#include <string>

// Turns what Python passes (numbers, sequences, numpy arrays of any layout)
// into C-contiguous arrays of rows that the C++ queries read in place, and
// says clearly what is wrong when it cannot.
//
// numpy converts what it can convert without changing the kind of value:
// integers, booleans and floats of any width become float32, a
// non-contiguous array is copied. Complex numbers, strings and objects are
// refused, and so are floats where ints are wanted. Shapes: a vector input
// is (3,) for one row or (M, 3); a float or int input is a number for one
// row or (M,). Every refusal is a ValueError naming the input.
class SrfPyArrays
{
public:
    using Floats = pybind11::array_t<float, pybind11::array::c_style>;
    using Ints = pybind11::array_t<int, pybind11::array::c_style>;

    // (M, 3) float32.
    static Floats vectors(pybind11::handle value, const char *name);
    // (M,) float32.
    static Floats floats(pybind11::handle value, const char *name);
    // (M,) int32.
    static Ints ints(pybind11::handle value, const char *name);
    // A colour: a number or (M,) for grey, (3,) or (M, 3) for colours; (M, 3).
    static Floats colours(pybind11::handle value, const char *name);
    // (M,) float32 of exponents: a negative, infinite or NaN value raises a
    // ValueError naming the row (a lobe's albedo would come out infinite or
    // negative).
    static Floats exponents(pybind11::handle value, const char *name);

    // A Python str of text read from a file: UTF-8, or Latin-1 when the
    // bytes are not UTF-8 (as older instruments write).
    static pybind11::str text(const std::string &bytes);
    // A Python str of text made for reading (a listing, a message): UTF-8,
    // with any byte that is not shown as \xNN.
    static pybind11::str shown(const std::string &bytes);
    // A Python str of a file name, as os.fsdecode makes it.
    static pybind11::str fileName(const std::string &bytes);

    // Refuses (MemoryError) `lanes` lanes that need `bytesPerLane` bytes
    // each when the machine has less memory than that, and lane counts
    // whose chunks cannot be counted.
    static void checkLanes(long lanes, double bytesPerLane, const char *what);

    static long rows(const pybind11::array &array) { return long(array.shape(0)); }
    // The count of rows (or lanes) of something made of parts of `a` and
    // `b`: equal counts, or one of them 1, which serves every row of the
    // other; -1 otherwise.
    static long broadcast(long a, long b) { return a == b || b == 1 ? a : (a == 1 ? b : -1); }
    // The row count of inputs of `a` and `b` rows used together; a
    // ValueError naming the input of `b` rows when they do not fit.
    static long commonRows(long a, long b, const char *name);
    // The array with exactly `count` rows: itself, or its one row repeated.
    static Floats expand(const Floats &array, long count);

    static const BX_Vector3 *vectorData(const Floats &array)
    {
        return reinterpret_cast<const BX_Vector3 *>(array.data());
    }
    static BX_Vector3 *vectorData(Floats &array) { return reinterpret_cast<BX_Vector3 *>(array.mutable_data()); }

    // New output arrays.
    static Floats newVectors(long count);
    static Floats newFloats(long count);
    static Ints newInts(long count);

    // Fills a pooled block of CHUNK elements for chunk k of a BSDF with rows
    // of one value per lane (or one value for all): element j takes the row
    // of lane k * chunk + j, the last row past the end.
    template <class T> static void fillBlock(T *block, int chunk, const T *rows, long count, int k)
    {
        for (int j = 0; j < chunk; ++j)
            block[j] = rows[std::min(long(k) * chunk + j, count - 1)];
    }
};

static_assert(sizeof(BX_Vector3) == 3 * sizeof(float), "numpy rows of three floats are read as BX_Vector3");

#endif
