#ifndef SRF_MEASUREDOP_H
#define SRF_MEASUREDOP_H

#include "SRF_API.h"

class KAL_Instance;
class KAL_ProcArray;

// Handler of "measured@BSVVV": a lobe rendering the model fitted to a
// measurement file (argument 1), with per-lane normal and surface
// derivatives (arguments 2 to 4), stored in argument 0.
SRF_API int opMeasured(KAL_Instance &instance, KAL_ProcArray &lanes);

#endif
