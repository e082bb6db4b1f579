#include "SRF_FitTree.h"

#include "BX_Vector3.h"
#include "KAL_Context.h"
#include "KAL_Instance.h"
#include "KAL_ProcArray.h"
#include "KAL_Shader.h"
#include "KAL_ShaderLoader.h"
#include "SRF_BSDF.h"
#include "SRF_Functions.h"

#include <cmath>
#include <stdexcept>

SRF_FitTree::SRF_FitTree(const std::string &text) : myContext(new KAL_Context)
{
    SRF_Functions::installFunctions(*myContext);
    std::string error;
    myShader = KAL_ShaderLoader::compileText(*myContext, text, "fit.kal", error);
    if (!myShader)
        throw std::runtime_error("the exported shader does not compile: " + error);
    myInstance.reset(myShader->createInstance());
    if (!myInstance)
        throw std::runtime_error("the exported shader cannot be instanced");
    myInstance->setVector("N", 0, BX_Vector3(0.0f, 0.0f, 1.0f));
    myInstance->setVector("dPds", 0, BX_Vector3(0.0f, 1.0f, 0.0f));
    myInstance->setVector("dPdt", 0, BX_Vector3(1.0f, 0.0f, 0.0f));
    KAL_ProcArray lanes(1);
    myInstance->run(lanes);
    myBsdf = static_cast<const SRF_BSDF *>(myInstance->getRef("F"));
    if (!myBsdf)
        throw std::runtime_error("the exported shader leaves F without a BSDF");
}

SRF_FitTree::~SRF_FitTree() = default;

void SRF_FitTree::albedo(const double u[3], double albedo[3]) const
{
    const BX_Vector3 in{float(u[0]), float(u[1]), float(u[2])}, n{0.0f, 0.0f, 1.0f};
    double sum[3] = {0.0, 0.0, 0.0};
    overHalfVectors(
        [&](const double *h, double area)
        {
            const double k = h[0] * u[0] + h[1] * u[1] + h[2] * u[2];
            const double v[3] = {2.0 * k * h[0] - u[0], 2.0 * k * h[1] - u[1], 2.0 * k * h[2] - u[2]};
            if (!(k > 0.0) || !(v[2] > 0.0))
                return;
            BX_Vector3 value;
            float pdf;
            const BX_Vector3 out{float(v[0]), float(v[1]), float(v[2])};
            myBsdf->evaluatePdf(in, n, out, value, pdf, 0, 7);
            // A half vector within float precision of the normal gives the
            // Ashikhmin lobe a blend exponent of 0 / 0: no light.
            if (!std::isfinite(value.x + value.y + value.z))
                return;
            const double weight = 4.0 * k * area;
            sum[0] += value.x * weight;
            sum[1] += value.y * weight;
            sum[2] += value.z * weight;
        });
    for (int c = 0; c < 3; ++c)
        albedo[c] = sum[c];
}
