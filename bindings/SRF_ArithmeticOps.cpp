#include "SRF_ArithmeticOps.h"

#include "SRF_MulBSDF.h"
#include "SRF_OpArgs.h"
#include "SRF_ScaleBSDF.h"
#include "SRF_SumBSDF.h"

namespace
{
using Args = SRF_OpArgs;

// Builds Composite(a, b) on references already held for both; when no
// storage can be had both references are dropped and the result is null.
template <class Composite> SRF_BSDF *combine(SRF_BSDF *a, SRF_BSDF *b)
{
    if (SRF_BSDF *composite = new Composite(a, b))
        return composite;
    a->decRefCount();
    b->decRefCount();
    return nullptr;
}

// How many values of argument k a per-lane test must look at: every lane of
// the array when it is varying, else its one value.
int valueCount(const KAL_Instance &instance, int k, const KAL_ProcArray &lanes)
{
    return instance.isArgVarying(k) ? lanes.getCount() : 1;
}

// a tinted by `colours`, adopting the reference to a; null (with a's
// reference dropped) when the scale or its block cannot be had.
SRF_BSDF *scale(SRF_BSDF *a, BX_Vector3 *colours)
{
    if (colours)
        if (SRF_BSDF *scaled = new SRF_ScaleBSDF(a, colours))
            return scaled;
    if (colours)
        SRF_BSDF::release(colours);
    a->decRefCount();
    return nullptr;
}
// Whether a composite over a and b (b may be null) keeps the nodes a query
// visits within SRF_CompositeBSDF::MAX_TREE_NODES. The count saturates, so two shared trees
// of saturated counts stay over the bound instead of wrapping around.
bool withinBound(const SRF_BSDF *a, const SRF_BSDF *b)
{
    return SRF_CompositeBSDF::queryNodes(a, b) <= SRF_CompositeBSDF::MAX_TREE_NODES;
}
} // namespace

int opAddBB(KAL_Instance &instance, KAL_ProcArray &)
{
    SRF_BSDF *a = Args::getBsdf(instance, 0);
    SRF_BSDF *b = Args::getBsdf(instance, 1);
    if (b && (!a || withinBound(a, b)))
    {
        b->addRefCount();
        Args::setBsdf(instance, 0, a ? combine<SRF_SumBSDF>(a, b) : b);
    }
    return Args::next(instance);
}

int opMulBB(KAL_Instance &instance, KAL_ProcArray &)
{
    SRF_BSDF *a = Args::getBsdf(instance, 0);
    SRF_BSDF *b = Args::getBsdf(instance, 1);
    if (a && b)
    {
        if (!withinBound(a, b))
            return Args::next(instance);
        b->addRefCount();
        Args::setBsdf(instance, 0, combine<SRF_MulBSDF>(a, b));
    }
    else if (a)
        Args::dropBsdf(instance, 0);
    return Args::next(instance);
}

int opMulBF(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    SRF_BSDF *a = Args::getBsdf(instance, 0);
    if (!a)
        return Args::next(instance);
    if (Args::floatsNearZero(instance.getArg<float>(1), valueCount(instance, 1, lanes)))
        Args::dropBsdf(instance, 0);
    else if (withinBound(a, nullptr))
        Args::setBsdf(instance, 0, scale(a, Args::greyBlockFromArg(1, instance, lanes)));
    return Args::next(instance);
}

int opMulBV(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    SRF_BSDF *a = Args::getBsdf(instance, 0);
    if (!a)
        return Args::next(instance);
    if (Args::vectorsNearZero(instance.getArg<BX_Vector3>(1), valueCount(instance, 1, lanes)))
        Args::dropBsdf(instance, 0);
    else if (withinBound(a, nullptr))
        Args::setBsdf(instance, 0, scale(a, Args::vectorBlockFromArg(1, instance, lanes)));
    return Args::next(instance);
}
