#include "SRF_Emission.h"

SRF_Emission::SRF_Emission() { bounces = SRF_BOUNCE_EMISSION; }

SRF_Emission::~SRF_Emission() {}

const char *SRF_Emission::className() const { return "SRF_Emission"; }

// A = 0: nothing is scattered.
float SRF_Emission::albedo(const BX_Vector3 &, const BX_Vector3 &, int) const { return 0.0f; }

float SRF_Emission::specularRatio(int) const { return 0.0f; }

// f(u, v) = 0.
void SRF_Emission::evaluate(const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &colour,
                            float &scalar, int) const
{
    colour = BX_Vector3(0.0f, 0.0f, 0.0f);
    scalar = 0.0f;
}

// Zero weight; v and bounce keep what the caller put there.
void SRF_Emission::sample(const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &, BX_Vector3 &colour, float &scalar,
                          int &, float, float, int) const
{
    colour = BX_Vector3(0.0f, 0.0f, 0.0f);
    scalar = 0.0f;
}

// Le = (1, 1, 1) for every lane.
void SRF_Emission::emission(BX_Vector3 &colour, int) const { colour = BX_Vector3(1.0f, 1.0f, 1.0f); }

SRF_BSDF *SRF_Emission::duplicate(int) const { return new SRF_Emission(); }

void SRF_Emission::flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &, BX_PtrArray<float *> &)
{
    bsdfs.append(this);
}

void SRF_Emission::dump(int indent) const { dumpName(indent); }
