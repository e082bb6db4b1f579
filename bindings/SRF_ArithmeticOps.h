#ifndef SRF_ARITHMETICOPS_H
#define SRF_ARITHMETICOPS_H

#include "SRF_API.h"

class KAL_Instance;
class KAL_ProcArray;

// Handlers of the ops that combine BSDF values in place: argument 0 is a B
// variable, read and written; argument 1 is read. The result is one
// composite for the whole lane array, which adopts the reference that
// argument 0 held; a BSDF taken from argument 1 gains one reference, since
// it stays in its own variable too. A composite that cannot be allocated
// leaves argument 0 null, with every reference it would have taken dropped.
// An op whose result would make a query visit more than
// SRF_CompositeBSDF::MAX_TREE_NODES nodes leaves argument 0 as it was.

// a + b (SRF_SumBSDF); a null side leaves the other.
SRF_API int opAddBB(KAL_Instance &instance, KAL_ProcArray &lanes); // "add@BB"
// a tinted by a per-lane grey factor or colour (SRF_ScaleBSDF); a factor
// that is near zero in every lane (running or not) makes a null.
SRF_API int opMulBF(KAL_Instance &instance, KAL_ProcArray &lanes); // "mul@BF"
SRF_API int opMulBV(KAL_Instance &instance, KAL_ProcArray &lanes); // "mul@BV"
// a * b (SRF_MulBSDF); a product with a null is null.
SRF_API int opMulBB(KAL_Instance &instance, KAL_ProcArray &lanes); // "mul@BB"

#endif
