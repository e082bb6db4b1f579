#include "bench_plastic.h"

#include "KAL_ProcArray.h"
#include "KAL_ShaderLoader.h"
#include "SRF_BSDF.h"
#include "SRF_Functions.h"

#include <cmath>
#include <random>

namespace bench
{
const char *const SAMPLE_QUERY = "varying vector u\nvarying float sx\nvarying float sy\n"
                                 "varying vector dir\nvarying vector col\nvarying int bt\n"
                                 "sample_bsdf@BVVVVIFFI F u N dir col bt sx sy 7\n";
const char *const EVAL_QUERY = "varying vector u\nvarying vector v\nvarying vector ev\n"
                               "eval_bsdf@VBVVVI ev F u N v 7\n";

QueryLanes::QueryLanes()
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> r01(0.0f, 1.0f);
    for (int i = 0; i < LANES; ++i)
    {
        n[i] = BX_Vector3(0.2f * r01(rng) - 0.1f, 0.2f * r01(rng) - 0.1f, 1.0f);
        n[i].normalize();
        u[i] = BX_Vector3(2.0f * r01(rng) - 1.0f, 2.0f * r01(rng) - 1.0f, r01(rng) + 0.05f);
        u[i].normalize();
        v[i] = BX_Vector3(2.0f * r01(rng) - 1.0f, 2.0f * r01(rng) - 1.0f, r01(rng) + 0.05f);
        v[i].normalize();
        sx[i] = r01(rng);
        sy[i] = r01(rng);
    }
}

PlasticScene::PlasticScene(const char *example)
{
    SRF_Functions::installFunctions(context);
    const std::string path = std::string(SRF_SOURCE_DIR) + "/examples/" + example + ".kal";
    shader = KAL_ShaderLoader::load(context, path.c_str(), error);
    if (!shader)
        return;
    builder.reset(shader->createInstance());
    for (int i = 0; i < LANES; ++i)
    {
        // The surface derivatives span the tangent plane (the metal's
        // brushing follows them).
        BX_Vector3 dPds, dPdt;
        in.n[i].getFrameOfReference(dPds, dPdt);
        builder->setVector("N", i, in.n[i]);
        builder->setVector("dPds", i, dPds);
        builder->setVector("dPdt", i, dPdt);
    }
    KAL_ProcArray all(LANES);
    builder->run(all);
    tree = static_cast<const SRF_BSDF *>(builder->getRef("F"));
    if (!tree)
        error = "the plastic shader built no BSDF";
}

PlasticScene::~PlasticScene() {}

std::unique_ptr<KAL_Instance> PlasticScene::queryInstance(const char *text)
{
    queryShader = KAL_ShaderLoader::compileText(context, text, "query", error);
    if (!queryShader || !tree)
        return nullptr;
    std::unique_ptr<KAL_Instance> instance(queryShader->createInstance());
    instance->setRef("F", const_cast<SRF_BSDF *>(tree));
    for (int i = 0; i < LANES; ++i)
    {
        instance->setVector("u", i, in.u[i]);
        instance->setVector("v", i, in.v[i]);
        instance->setVector("N", i, in.n[i]);
        instance->setFloat("sx", i, in.sx[i]);
        instance->setFloat("sy", i, in.sy[i]);
    }
    return instance;
}
} // namespace bench
