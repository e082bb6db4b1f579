#include "SRF_MeasuredOp.h"

#include "SRF_Measured.h"
#include "SRF_MeasuredCache.h"
#include "SRF_OpArgs.h"

#include "KAL_StringSet.h"

#include <new>

// "measured@BSVVV": argument 0 the result, 1 the file name (one string for
// all lanes), 2 the normal, 3 and 4 the surface derivative directions. The
// file's fitted data set comes from the process-wide cache (read and fitted
// on the first call naming it); the lobe points to it and owns its three
// blocks. Arguments after the fifth are not read.
int opMeasured(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    const char *fileName = KAL_StringSet::getU(instance, 1, lanes);
    SRF_MeasuredData *data = SRF_MeasuredCache::instance().find(fileName);

    SRF_OpArgs::dropBsdf(instance, 0);
    // No lobe is ever built on a missing data set.
    if (!data)
        return SRF_OpArgs::next(instance);
    void *storage = SRF_BSDF::operator new(sizeof(SRF_Measured));
    if (!storage)
        return SRF_OpArgs::next(instance);
    BX_Vector3 *dPdt = SRF_OpArgs::vectorBlockFromArg(4, instance, lanes);
    BX_Vector3 *dPds = SRF_OpArgs::vectorBlockFromArg(3, instance, lanes);
    BX_Vector3 *normals = SRF_OpArgs::vectorBlockFromArg(2, instance, lanes);
    SRF_OpArgs::setBsdf(instance, 0, new (storage) SRF_Measured(data, normals, dPds, dPdt));
    return SRF_OpArgs::next(instance);
}
