#include "SRF_ConstructorOps.h"

#include "SRF_Ashikhmin.h"
#include "SRF_Blinn.h"
#include "SRF_Cone.h"
#include "SRF_Emission.h"
#include "SRF_Isotropic.h"
#include "SRF_Lafortune.h"
#include "SRF_OpFrame.h"
#include "SRF_Phong.h"
#include "SRF_ScaleBSDF.h"
#include "SRF_Specular.h"
#include "SRF_WireBlinn.h"
#include "SRF_WireDiffuse.h"

namespace
{
using Frame = SRF_OpFrame;

inline void releaseBlock(BX_Vector3 *block)
{
    if (block)
        SRF_BSDF::release(block);
}
inline void releaseBlock(float *block)
{
    if (block)
        SRF_BSDF::release(block);
}

// Constructs a T on the given blocks, which it then owns. When a block is
// missing or the object cannot be allocated, every block goes back to the
// pool and the result is null: a failed allocation loses nothing.
template <class T, class... Blocks> SRF_BSDF *build(Blocks *...blocks)
{
    if ((... && (blocks != nullptr)))
        if (SRF_BSDF *bsdf = new T(blocks...))
            return bsdf;
    (releaseBlock(blocks), ...);
    return nullptr;
}

// The steps every constructor op shares: the old value of argument 0 loses
// its reference before anything is built, and the new one (or null) is
// stored there.
template <class Make> int construct(KAL_Instance &instance, Make make)
{
    Frame::dropBsdf(instance, 0);
    Frame::setBsdf(instance, 0, make());
    return Frame::next(instance);
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
} // namespace

int opIsotropic(KAL_Instance &instance, KAL_ProcArray &)
{
    return construct(instance, [] { return build<SRF_Isotropic>(); });
}

int opSpecular(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return construct(instance, [&] { return build<SRF_Specular>(Frame::vectorBlockFromArg(1, instance, lanes)); });
}

int opPhongLobe(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return construct(instance,
                     [&]
                     {
                         return build<SRF_Phong>(Frame::vectorBlockFromArg(1, instance, lanes),
                                                 Frame::floatBlockFromArg(2, instance, lanes));
                     });
}

int opBlinn(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return construct(instance,
                     [&]
                     {
                         return build<SRF_Blinn>(Frame::vectorBlockFromArg(1, instance, lanes),
                                                 Frame::floatBlockFromArg(2, instance, lanes));
                     });
}

int opCone(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return construct(instance,
                     [&]
                     {
                         return build<SRF_Cone>(Frame::vectorBlockFromArg(1, instance, lanes),
                                                Frame::floatBlockFromArg(2, instance, lanes));
                     });
}

int opWireDiffuse(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return construct(instance, [&] { return build<SRF_WireDiffuse>(Frame::vectorBlockFromArg(1, instance, lanes)); });
}

int opWireBlinn(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return construct(instance,
                     [&]
                     {
                         return build<SRF_WireBlinn>(Frame::vectorBlockFromArg(1, instance, lanes),
                                                     Frame::floatBlockFromArg(2, instance, lanes));
                     });
}

int opLafortune(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return construct(instance,
                     [&]
                     {
                         return build<SRF_Lafortune>(Frame::vectorBlockFromArg(1, instance, lanes),
                                                     Frame::vectorBlockFromArg(2, instance, lanes),
                                                     Frame::floatBlockFromArg(3, instance, lanes));
                     });
}

int opAshikhmin(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return construct(instance,
                     [&]
                     {
                         return build<SRF_Ashikhmin>(Frame::vectorBlockFromArg(1, instance, lanes),
                                                     Frame::floatBlockFromArg(2, instance, lanes),
                                                     Frame::floatBlockFromArg(3, instance, lanes),
                                                     Frame::vectorBlockFromArg(4, instance, lanes),
                                                     Frame::vectorBlockFromArg(5, instance, lanes));
                     });
}

int opSetBF(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return construct(instance, [&] { return emitter(Frame::greyBlockFromArg(1, instance, lanes)); });
}

int opSetBV(KAL_Instance &instance, KAL_ProcArray &lanes)
{
    return construct(instance, [&] { return emitter(Frame::vectorBlockFromArg(1, instance, lanes)); });
}
