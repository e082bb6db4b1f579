#ifndef SRF_PY_BIND_H
#define SRF_PY_BIND_H

#include <pybind11/pybind11.h>

// The module's three areas, each in its own source.
void srfBindBSDFs(pybind11::module_ &module);
void srfBindShaders(pybind11::module_ &module);
void srfBindMeasurements(pybind11::module_ &module);

#endif
