#include "SrfPyQueries.h"

#include "SRF_BSDF.h"

void SrfPyQueries::evaluate(const SRF_BSDF &bsdf, int count, const BX_Vector3 *u, const BX_Vector3 *n,
                            const BX_Vector3 *v, int mask, BX_Vector3 *colour, float *scalar)
{
    for (int lane = 0; lane < count; ++lane)
    {
        colour[lane] = BX_Vector3(0.0f, 0.0f, 0.0f);
        scalar[lane] = 0.0f;
        bsdf.evaluate(u[lane], n[lane], v[lane], colour[lane], scalar[lane], lane, mask);
    }
}

void SrfPyQueries::sample(const SRF_BSDF &bsdf, int count, const BX_Vector3 *u, const BX_Vector3 *n, const float *sx,
                          const float *sy, int mask, BX_Vector3 *v, BX_Vector3 *colour, int *bounce)
{
    for (int lane = 0; lane < count; ++lane)
    {
        v[lane] = BX_Vector3(0.0f, 0.0f, 0.0f);
        colour[lane] = BX_Vector3(0.0f, 0.0f, 0.0f);
        bounce[lane] = 0;
        float scalar = 0.0f;
        bsdf.sample(u[lane], n[lane], v[lane], colour[lane], scalar, bounce[lane], sx[lane], sy[lane], lane, mask);
    }
}

void SrfPyQueries::albedo(const SRF_BSDF &bsdf, int count, const BX_Vector3 *u, const BX_Vector3 *n, int mask,
                          float *albedo)
{
    for (int lane = 0; lane < count; ++lane)
        albedo[lane] = bsdf.albedo(u[lane], n[lane], lane, mask);
}

void SrfPyQueries::specularRatio(const SRF_BSDF &bsdf, int count, int mask, float *ratio)
{
    for (int lane = 0; lane < count; ++lane)
        ratio[lane] = bsdf.specularRatio(lane, mask);
}

void SrfPyQueries::emission(const SRF_BSDF &bsdf, int count, BX_Vector3 *colour)
{
    for (int lane = 0; lane < count; ++lane)
    {
        colour[lane] = BX_Vector3(0.0f, 0.0f, 0.0f);
        bsdf.emission(colour[lane], lane);
    }
}

void SrfPyQueries::bounces(const SRF_BSDF &bsdf, int count, int *bounces)
{
    for (int lane = 0; lane < count; ++lane)
        bounces[lane] = bsdf.getBounces(lane);
}
