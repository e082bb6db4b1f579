#ifndef SRF_CONSTRUCTOROPS_H
#define SRF_CONSTRUCTOROPS_H

#include "SRF_API.h"

class KAL_Instance;
class KAL_ProcArray;

// Handlers of the ops that build a BSDF value from shader values: one lobe,
// or a coloured emitter, for the whole lane array. Each drops the reference
// that argument 0 held, turns its other arguments into per-lane parameter
// blocks (SRF_OpArgs), and stores the new BSDF, with its one reference, in
// argument 0; null when storage for the object or a block cannot be had.
// Arguments pass unchanged: no clamping, no defaults; lanes that are not
// running get zeros.

SRF_API int opIsotropic(KAL_Instance &instance, KAL_ProcArray &lanes);   // "isotropic@B"
SRF_API int opSpecular(KAL_Instance &instance, KAL_ProcArray &lanes);    // "specular@BV"
SRF_API int opPhongLobe(KAL_Instance &instance, KAL_ProcArray &lanes);   // "phonglobe@BVF"
SRF_API int opBlinn(KAL_Instance &instance, KAL_ProcArray &lanes);       // "blinn@BVF"
SRF_API int opCone(KAL_Instance &instance, KAL_ProcArray &lanes);        // "cone@BVF"
SRF_API int opWireDiffuse(KAL_Instance &instance, KAL_ProcArray &lanes); // "wirediffuse@BV"
SRF_API int opWireBlinn(KAL_Instance &instance, KAL_ProcArray &lanes);   // "wireblinn@BVF"
SRF_API int opLafortune(KAL_Instance &instance, KAL_ProcArray &lanes);   // "lafortune@BVVF"
SRF_API int opAshikhmin(KAL_Instance &instance, KAL_ProcArray &lanes);   // "ashikhmin@BVFFVV"
// An emission lobe tinted by a grey (float) or coloured (vector) block.
SRF_API int opSetBF(KAL_Instance &instance, KAL_ProcArray &lanes); // "set@BF"
SRF_API int opSetBV(KAL_Instance &instance, KAL_ProcArray &lanes); // "set@BV"

#endif
