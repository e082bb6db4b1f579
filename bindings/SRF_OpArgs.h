#ifndef SRF_OPARGS_H
#define SRF_OPARGS_H

#include "SRF_API.h"

#include "BX_Vector3.h"
#include "KAL_Instance.h"
#include "KAL_ProcArray.h"

class SRF_BSDF;

// What every op handler shares: reaching the BSDF held by a B argument,
// turning shader arguments into per-lane parameter blocks, and the
// near-zero tests that decide whether a product leaves anything.
//
// A B variable is uniform: element 0 of its storage holds one reference to
// a BSDF (or null) that serves every lane; the BSDF's blocks carry the
// per-lane values. Handlers that build BSDFs therefore work on the whole
// lane array at once, while the query handlers walk the running lanes.
class SRF_API SRF_OpArgs
{
public:
    // Element 0 of B argument k: the slot a handler reads or overwrites.
    static SRF_BSDF *getBsdf(const KAL_Instance &instance, int k);
    static void setBsdf(const KAL_Instance &instance, int k, SRF_BSDF *bsdf);
    // Drops the reference held by B argument k and leaves it null.
    static void dropBsdf(const KAL_Instance &instance, int k);

    // What every handler returns: the next instruction.
    static int next(const KAL_Instance &instance) { return instance.getInstructionIndex() + 1; }

    // New pooled blocks holding one value per lane of `lanes`, made from
    // argument k; null when the pool has no block. The first lane-count
    // elements start at zero. A varying argument fills the elements of the
    // running lanes only. A uniform vector fills every element whatever the
    // lane states; a uniform float fills every element only when lane 0 is
    // running, else the block stays zero.
    static float *floatBlockFromArg(int k, const KAL_Instance &instance, const KAL_ProcArray &lanes);
    static BX_Vector3 *vectorBlockFromArg(int k, const KAL_Instance &instance, const KAL_ProcArray &lanes);
    // A float argument as a grey colour: all three components equal the
    // float; lanes are treated as for a vector.
    static BX_Vector3 *greyBlockFromArg(int k, const KAL_Instance &instance, const KAL_ProcArray &lanes);

    // True when each of the first `count` values lies in [-1e-5, 1e-5]
    // (bounds included); a NaN makes it false; count <= 0 gives true.
    static bool floatsNearZero(const float *values, int count);
    // The same over the three components of the first `count` vectors.
    static bool vectorsNearZero(const BX_Vector3 *values, int count);

    // The largest magnitude still taken for zero.
    static constexpr float NEAR_ZERO = 1e-5f;
};

#endif
