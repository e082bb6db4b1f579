// The extension module srf._srf: BSDFs, shaders and measurements, and the
// counts that show every pooled block and reference-counted value given
// back.

#include "SrfPyBind.h"

#include "SrfError.h"

#include "KAL_DataPool.h"
#include "KAL_RefType.h"
#include "SRF_LaneBatch.h"

#include <string>

namespace py = pybind11;

namespace
{
// The batch modes by name, in the order of SRF_BatchMode.
const char *const BATCH_MODES[] = {"auto", "per_lane", "scalar", "sse2", "avx2", "avx512"};
const int BATCH_MODE_COUNT = int(sizeof BATCH_MODES / sizeof BATCH_MODES[0]);

std::string setBatchMode(const std::string &name)
{
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
                error(e.what());
            }
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
          "variant), 'per_lane' (each lane its own virtual query, for comparison), 'scalar', 'sse2', 'avx2' or "
          "'avx512' (falling back to what the processor has). Returns the mode in effect.");
    m.def(
        "batch_mode", [] { return std::string(BATCH_MODES[SRFbatchMode()]); }, "The batch mode in effect.");
}
