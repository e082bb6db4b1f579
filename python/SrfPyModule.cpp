// The extension module srf._srf: BSDFs, shaders and measurements, and the
// counts that show every pooled block and reference-counted value given
// back.

#include "SrfPyBind.h"

#include "SrfError.h"

#include "KAL_DataPool.h"
#include "KAL_RefType.h"

namespace py = pybind11;

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
}
