#include "SRF_Isotropic.h"
int main()
{
    SRF_BSDF *b = new SRF_Isotropic();
    const int ok = b->getBounces() == SRF_BOUNCE_DIFFUSE && b->albedo(BX_Vector3(0, 0, 1), BX_Vector3(0, 0, 1), 0) == 1.0f;
    b->decRefCount();
    return ok ? 0 : 1;
}
