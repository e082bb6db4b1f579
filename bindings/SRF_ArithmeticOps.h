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

//
// A query visits every node of a tree once per path to it, so a tree whose
// subtrees are shared ("add@BB F F" again and again) costs time exponential
// in the shader's length, and a long chain of composites recurses as deep as
// it is long. An op whose result would make a query visit more than
// SRF_MAX_TREE_NODES nodes leaves argument 0 as it was.
const int SRF_MAX_TREE_NODES = 4096;

// a + b (SRF_SumBSDF); a null side leaves the other.
SRF_API int opAddBB(KAL_Instance &instance, KAL_ProcArray &lanes); // "add@BB"
// a tinted by a per-lane grey factor or colour (SRF_ScaleBSDF); a factor
// that is near zero in every lane (running or not) makes a null.
SRF_API int opMulBF(KAL_Instance &instance, KAL_ProcArray &lanes); // "mul@BF"
SRF_API int opMulBV(KAL_Instance &instance, KAL_ProcArray &lanes); // "mul@BV"
// a * b (SRF_MulBSDF); a product with a null is null.
SRF_API int opMulBB(KAL_Instance &instance, KAL_ProcArray &lanes); // "mul@BB"

#endif
