#include "SRF_Isotropic.h"

#include "BX_PolarSample.h"

SRF_Isotropic::SRF_Isotropic() { bounces = SRF_BOUNCE_DIFFUSE; }

SRF_Isotropic::~SRF_Isotropic() {}

const char *SRF_Isotropic::className() const { return "SRF_Isotropic"; }

// A = 1: unit value over the whole sphere.
float SRF_Isotropic::albedo(const BX_Vector3 &, const BX_Vector3 &, int) const { return 1.0f; }

float SRF_Isotropic::specularRatio(int) const { return 0.0f; }

// f(u, v) = 1 for every v, on either side of the surface.
void SRF_Isotropic::evaluate(const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &colour,
                             float &scalar, int) const
{
    colour = BX_Vector3(1.0f, 1.0f, 1.0f);
    scalar = 1.0f;
}

// v uniform over the sphere: azimuth 2*pi*sx about u, cos(v, u) = 2 sy - 1.
void SRF_Isotropic::sample(const BX_Vector3 &u, const BX_Vector3 &, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                           int &bounce, float sx, float sy, int) const
{
    BX_PolarSample polar(u);
    polar.compute(v, sx, sy);
    colour = BX_Vector3(1.0f, 1.0f, 1.0f);
    scalar = 1.0f;
    bounce = bounces;
}

SRF_BSDF *SRF_Isotropic::duplicate(int) const { return new SRF_Isotropic(); }

void SRF_Isotropic::flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &, BX_PtrArray<float *> &)
{
    bsdfs.append(this);
}

void SRF_Isotropic::dump(int indent) const { dumpName(indent); }
