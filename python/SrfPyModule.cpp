// The extension module srf._srf: BSDFs, shaders and measurements, and the
// counts that show every pooled block and reference-counted value given
// back.

#include "SrfPyBind.h"

#include "SrfError.h"
#include "SrfShader.h"

#include "KAL_DataPool.h"
#include "KAL_RefType.h"
#include "SRF_LaneBatch.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace py = pybind11;

namespace
{
// The batch modes by name, in the order of SRF_BatchMode.
const char *const BATCH_MODES[] = {"auto", "per_lane", "scalar", "sse2", "avx2", "avx512"};
const int BATCH_MODE_COUNT = int(sizeof BATCH_MODES / sizeof BATCH_MODES[0]);

// 'per-lane', as the SRF_BATCH environment variable and `srf render
// --per-lane` spell it, is taken for 'per_lane'.
std::string setBatchMode(std::string name)
{
    std::replace(name.begin(), name.end(), '-', '_');
    for (int mode = 0; mode < BATCH_MODE_COUNT; ++mode)
        if (name == BATCH_MODES[mode])
        {
            SRFsetBatchMode(SRF_BatchMode(mode));
            return BATCH_MODES[SRFbatchMode()];
        }
    std::string names;
    for (const char *mode : BATCH_MODES)
        names += std::string(names.empty() ? "" : ", ") + mode;
    throw py::value_error("batch mode must be one of " + names + ", not '" + name + "'");
}
} // namespace

PYBIND11_MODULE(_srf, m)
{
    m.doc() = "BSDFs, text shaders and measurement files of libSRF over numpy arrays.";
    static py::exception<SrfError> error(m, "Error", PyExc_ValueError);
    py::register_exception_translator(
        [](std::exception_ptr raised)
        {
            try
            {
                if (raised)
                    std::rethrow_exception(raised);
            }
            catch (const SrfError &e)
            {
                // A message quoting a file's bytes stays readable even
                // when they are not UTF-8.
                PyObject *message = PyUnicode_DecodeUTF8(e.what(), py::ssize_t(strlen(e.what())), "backslashreplace");
                PyErr_SetObject(error.ptr(), message);
                Py_XDECREF(message);
            }
        });

    // A shader naming a measurement file that cannot be read loads with a
    // warning (once per file), which Python's warning filters govern.
    // The class lives as long as the process (the handler may outlive
    // the module's dict).
    static PyObject *measurementWarning = PyErr_NewExceptionWithDoc(
        "srf.MeasurementWarning",
        "A shader's measured lobe names a file that cannot be read: the lobe renders without measurements.",
        PyExc_RuntimeWarning, nullptr);
    if (!measurementWarning)
        throw py::error_already_set();
    m.attr("MeasurementWarning") = py::handle(measurementWarning);
    SrfShader::setWarningHandler(
        [](const std::string &message)
        {
            py::gil_scoped_acquire locked;
            if (PyErr_WarnEx(measurementWarning, message.c_str(), 1) < 0)
                throw py::error_already_set();
        });

    srfBindBSDFs(m);
    srfBindShaders(m);
    srfBindMeasurements(m);

    m.def(
        "pool_blocks_out", [] { return KAL_DataPool::getDataPool().blocksOut(); },
        "Parameter blocks taken from the runtime's pool and not given back.");
    m.def("live_objects", &KAL_RefType::liveObjects, "Reference-counted values (BSDFs) alive in the process.");
    m.def("set_batch_mode", &setBatchMode, py::arg("mode"),
          "How queries run, process-wide, for the module and the query ops alike: 'auto' (the widest vector "
          "variant), 'per_lane' or 'per-lane' (each lane its own virtual query, for comparison), 'scalar', 'sse2', "
          "'avx2' or "
          "'avx512' (falling back to what the processor has). Returns the mode in effect.");
    m.def(
        "batch_mode", [] { return std::string(BATCH_MODES[SRFbatchMode()]); }, "The batch mode in effect.");
}
