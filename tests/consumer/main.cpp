#include <KAL_Context.h>
#include <SRF/SRF.h>
int main()
{
    KAL_Context context;
    SRF_Functions::installFunctions(context);
    SRF_BSDF *b = new SRF_Isotropic();
    const bool ok =
        b->getBounces() == SRF_BOUNCE_DIFFUSE && b->albedo(BX_Vector3(0, 0, 1), BX_Vector3(0, 0, 1), 0) == 1.0f;
    b->decRefCount();
    return ok ? 0 : 1;
}
