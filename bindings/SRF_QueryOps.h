#ifndef SRF_QUERYOPS_H
#define SRF_QUERYOPS_H

#include "SRF_API.h"

class KAL_Instance;
class KAL_ProcArray;

// Handlers of the ops that ask a BSDF value about its lanes. Each reads the
// inputs of the running lanes, asks the BSDF one batch query for all of
// them (SRF_BSDF.h), and writes each running lane's outputs: what the
// masked per-lane query with the lane's index gives. A null BSDF scatters
// and emits nothing: its outputs are zero. Lanes that are not running keep
// their old values. No reference changes. In the per-lane mode
// (SRFsetBatchMode(SRF_BATCH_PER_LANE), for comparison and debugging) each
// running lane calls the per-lane query instead.

SRF_API int opAlbedo(KAL_Instance &instance, KAL_ProcArray &lanes);            // "albedo@VBVVI"
SRF_API int opEvalBsdf(KAL_Instance &instance, KAL_ProcArray &lanes);          // "eval_bsdf@VBVVVI"
SRF_API int opSampleBsdf(KAL_Instance &instance, KAL_ProcArray &lanes);        // "sample_bsdf@BVVVVIFFI"
SRF_API int opEmissionBsdf(KAL_Instance &instance, KAL_ProcArray &lanes);      // "emission_bsdf@VB"
SRF_API int opSpecularRatioBsdf(KAL_Instance &instance, KAL_ProcArray &lanes); // "specularratio_bsdf@FBI"
SRF_API int opGetBounces(KAL_Instance &instance, KAL_ProcArray &lanes);        // "getbounces@IB"
SRF_API int opNBounceTypes(KAL_Instance &instance, KAL_ProcArray &lanes);      // "nbouncetypes@I"
// Beyond the 23: the density of sample's draws, and the value its weight
// estimates (installed by SRF_Functions::installPdfFunctions).
SRF_API int opPdfBsdf(KAL_Instance &instance, KAL_ProcArray &lanes);     // "pdf_bsdf@FBVVVI"
SRF_API int opEvalPdfBsdf(KAL_Instance &instance, KAL_ProcArray &lanes); // "eval_pdf_bsdf@VFBVVVI"

// The arguments "sample_bsdf@BVVVVIFFI" writes: direction, colour and
// bounce type (3, 4, 5), ended by the runtime's end mark.
SRF_API const int *sampleBsdfWrittenArgs();
SRF_API const int *evalPdfBsdfWrittenArgs();

#endif
