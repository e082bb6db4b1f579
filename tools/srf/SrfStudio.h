#ifndef SRF_TOOL_STUDIO_H
#define SRF_TOOL_STUDIO_H

#include "BX_Vector3.h"

// The soft studio that lights the preview sphere: radiance arriving from
// every direction, with y up. A bright sky gradient over a darker floor,
// and three broad lights (a warm key upper left, a cool fill to the right,
// a rim light behind) whose soft edges give glossy lobes visible,
// well-shaped highlights without making diffuse renders noisy.
class SrfStudio
{
public:
    SrfStudio();

    // Radiance arriving along -direction, that is seen looking toward
    // `direction` (a unit vector).
    BX_Vector3 radiance(const BX_Vector3 &direction) const;

private:
    struct Light
    {
        BX_Vector3 direction; // unit, toward the light
        BX_Vector3 colour;    // radiance at the centre
        float innerCos;       // full radiance inside this cone
        float outerCos;       // nothing outside this one
    };
    static constexpr int NLIGHTS = 3;
    Light myLights[NLIGHTS];
};

#endif
