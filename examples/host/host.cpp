// A small host: builds a BSDF, samples and evaluates it for one lane, and
// dumps it. The same steps a renderer takes through the exported classes.
#include "SRF_Emission.h"
#include "SRF_Isotropic.h"

#include <cstdio>

int main()
{
    SRF_BSDF *bsdf = new SRF_Isotropic();
    const BX_Vector3 n(0.0f, 0.0f, 1.0f);
    const BX_Vector3 u(0.0f, 0.0f, 1.0f);
    for (int i = 0; i < 4; ++i)
    {
        BX_Vector3 v, colour;
        float scalar = 0.0f;
        int bounce = 0;
        const float sx = 0.125f + 0.25f * float(i), sy = 0.2f * float(i + 1);
        bsdf->sample(u, n, v, colour, scalar, bounce, sx, sy, 0, SRF_BOUNCE_ALL);
        printf("sample %d: v = (%+.3f %+.3f %+.3f) colour = (%.2f %.2f %.2f) scalar %.2f bounce %d\n", i, v.x, v.y, v.z,
               colour.x, colour.y, colour.z, scalar, bounce);
    }
    printf("albedo %.3f, specular ratio %.3f\n", bsdf->albedo(u, n, 0, SRF_BOUNCE_ALL),
           bsdf->specularRatio(0, SRF_BOUNCE_ALL));
    bsdf->dump(0);
    bsdf->decRefCount();
    return 0;
}
