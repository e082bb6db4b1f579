#include "SRF_ConstructorOps.h"

#include "SRF_AshikhminKernel.h"
#include "SRF_BlinnKernel.h"
#include "SRF_ConeKernel.h"
#include "SRF_Emission.h"
#include "SRF_IsotropicKernel.h"
#include "SRF_LafortuneKernel.h"
#include "SRF_OpArgs.h"
#include "SRF_PhongKernel.h"
#include "SRF_ScaleBSDF.h"
#include "SRF_SpecularKernel.h"
#include "SRF_WireBlinnKernel.h"
#include "SRF_WireDiffuseKernel.h"

namespace
{
using Args = SRF_OpArgs;

inline void releaseBlock(BX_Vector3 *block)
{
    if (block)
        SRF_BSDF::release(block);
}

// The steps every constructor op shares: the old value of argument 0 loses
// its reference before anything is built, and the new one (or null) is
// stored there.
template <class Make> int construct(KAL_Instance &instance, Make make)
{
    Args::dropBsdf(instance, 0);
    Args::setBsdf(instance, 0, make());
    return Args::next(instance);
}

// An SRF_Emission lobe tinted by the colour block: the scale adopts the
// lobe's one reference and owns the block.
SRF_BSDF *emitter(BX_Vector3 *colours)
{
    SRF_BSDF *emission = new SRF_Emission();
    if (!emission)
    {
        releaseBlock(colours);
        return nullptr;
    }
    if (colours)
        if (SRF_BSDF *scale = new SRF_ScaleBSDF(emission, colours))
            return scale;
    releaseBlock(colours);
    emission->decRefCount();
    return nullptr;
}

// A lobe whose block of field f comes from argument 1 + its position.
template <class K> int constructLobe(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return construct(instance,
                     [&]
                     {
                         SRF_LobeBlocks blocks;
                         for (int field = 0; field < K::BLOCKS; ++field)
                         {
                             const int arg = 1 + K::FIELDS[field].position;
                             blocks.block[field] =
                                 K::FIELDS[field].kind == SRF_BLOCK_VECTOR
                                     ? static_cast<void *>(Args::vectorBlockFromArg(arg, instance, lanes))
                                     : static_cast<void *>(Args::floatBlockFromArg(arg, instance, lanes));
                         }
                         return SRFbuildLobe<K>(blocks);
                     });
}
} // namespace

int opIsotropic(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return constructLobe<SRF_IsotropicKernel>(instance, lanes);
}
int opSpecular(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return constructLobe<SRF_SpecularKernel>(instance, lanes);
}
int opPhongLobe(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return constructLobe<SRF_PhongKernel>(instance, lanes);
}
int opBlinn(KAL_Instance &instance, KAL_ProcArray &lanes) { return constructLobe<SRF_BlinnKernel>(instance, lanes); }
int opCone(KAL_Instance &instance, KAL_ProcArray &lanes) { return constructLobe<SRF_ConeKernel>(instance, lanes); }
int opWireDiffuse(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return constructLobe<SRF_WireDiffuseKernel>(instance, lanes);
}
int opWireBlinn(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return constructLobe<SRF_WireBlinnKernel>(instance, lanes);
}
int opLafortune(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return constructLobe<SRF_LafortuneKernel>(instance, lanes);
}
int opAshikhmin(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return constructLobe<SRF_AshikhminKernel>(instance, lanes);
}

int opSetBF(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return construct(instance, [&] { return emitter(Args::greyBlockFromArg(1, instance, lanes)); });
}

int opSetBV(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return construct(instance, [&] { return emitter(Args::vectorBlockFromArg(1, instance, lanes)); });
}
