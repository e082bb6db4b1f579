#include "SrfBatch.h"

#include "SrfError.h"

#include "KAL_Instance.h"
#include "KAL_RefType.h"
#include "SRF_BSDF.h"
#include "SRF_LaneBatch.h"

#include <memory>

template <class T> T *SrfBatch::storage(KAL_Instance &instance, const char *name)
{
    const int slot = instance.findVariable(name);
    if (slot < 0 || !instance.getVariable(slot).isVarying())
        throw SrfError(std::string("the runtime gave no per-lane variable '") + name + "'");
    return static_cast<T *>(instance.getVariable(slot).myData);
}

SrfBatch::SrfBatch(const SrfShader &shader)
    : myShaderInstance(shader.createShaderInstance()), myQueryInstance(shader.createQueryInstance()),
      myHasDensityOps(shader.hasDensityOps())
{
    if (!myShaderInstance || !myQueryInstance)
    {
        delete myShaderInstance;
        delete myQueryInstance;
        throw SrfError("out of memory for a shader instance");
    }
    try
    {
        myN = storage<BX_Vector3>(*myShaderInstance, "N");
        myDPds = storage<BX_Vector3>(*myShaderInstance, "dPds");
        myDPdt = storage<BX_Vector3>(*myShaderInstance, "dPdt");
        myQueryN = storage<BX_Vector3>(*myQueryInstance, "N");
        myU = storage<BX_Vector3>(*myQueryInstance, "u");
        mySx = storage<float>(*myQueryInstance, "sx");
        mySy = storage<float>(*myQueryInstance, "sy");
        myDir = storage<BX_Vector3>(*myQueryInstance, "dir");
        myColour = storage<BX_Vector3>(*myQueryInstance, "colour");
        myBounce = storage<int>(*myQueryInstance, "bounce");
        myEmitted = storage<BX_Vector3>(*myQueryInstance, "emitted");
        myV = storage<BX_Vector3>(*myQueryInstance, "v");
        myValue = storage<BX_Vector3>(*myQueryInstance, "value");
        myAlbedo = storage<BX_Vector3>(*myQueryInstance, "albedo");
        myRatio = storage<float>(*myQueryInstance, "ratio");
        myBounces = storage<int>(*myQueryInstance, "bounces");
        myPdf = storage<float>(*myQueryInstance, "pdf");
        myLightValue = storage<BX_Vector3>(*myQueryInstance, "lightValue");
        myLightPdf = storage<float>(*myQueryInstance, "lightPdf");
    }
    catch (...)
    {
        delete myShaderInstance;
        delete myQueryInstance;
        throw;
    }
}

SrfBatch::~SrfBatch()
{
    myDensityBatch.reset();
    delete myQueryInstance;
    delete myShaderInstance;
}

void SrfBatch::setGeometry(int lane, const BX_Vector3 &normal, const BX_Vector3 &dPds, const BX_Vector3 &dPdt)
{
    myNormal[lane] = normal;
    myQueryN[lane] = normal;
    myTangentS[lane] = dPds;
    myTangentT[lane] = dPdt;
}

void SrfBatch::shade(int count)
{
    // Every run starts from the shader's initial values, so that what a lane
    // gets never depends on what this instance ran before (nor, therefore,
    // on which thread ran which tile).
    myShaderInstance->reset();
    myAllLanes.setCount(count);
    for (int lane = 0; lane < myAllLanes.getCount(); ++lane)
    {
        myN[lane] = myNormal[lane];
        myDPds[lane] = myTangentS[lane];
        myDPdt[lane] = myTangentT[lane];
    }
    myShaderInstance->run(myAllLanes);
    myQueryInstance->setRef("F", myShaderInstance->getRef("F"));
}

KAL_RefType *SrfBatch::bsdf() const { return myShaderInstance->getRef("F"); }

void SrfBatch::run(SrfShader::Query query) { myQueryInstance->runInstruction(int(query), myLanes); }

void SrfBatch::runDensity(SrfShader::Query query)
{
    if (myHasDensityOps)
    {
        run(query);
        return;
    }
    const bool evaluate = query == SrfShader::EVALUATE_PDF;
    const BX_Vector3 *v = evaluate ? myV : myDir;
    float *pdf = evaluate ? myLightPdf : myPdf;
    const int count = myLanes.getCount();
    const SRF_BSDF *bsdf = static_cast<const SRF_BSDF *>(this->bsdf());
    const int mask = SRF_BOUNCE_ALL;
    if (!bsdf || SRFbatchMode() == SRF_BATCH_PER_LANE)
    {
        for (int lane = 0; lane < count; ++lane)
        {
            if (!myLanes.isRunning(lane))
                continue;
            BX_Vector3 value(0.0f, 0.0f, 0.0f);
            float density = 0.0f;
            if (bsdf && evaluate)
                bsdf->evaluatePdf(myU[lane], myQueryN[lane], v[lane], value, density, lane, mask);
            else if (bsdf)
                density = bsdf->pdf(myU[lane], myQueryN[lane], v[lane], lane, mask);
            pdf[lane] = density;
            if (evaluate)
                myLightValue[lane] = value;
        }
        return;
    }
    if (!myDensityBatch)
        myDensityBatch.reset(new SRF_LaneBatchStorage());
    SRF_LaneBatchStorage *storage = myDensityBatch.get();
    SRF_LaneBatch &batch = storage->batch;
    batch.begin = 0;
    batch.end = count;
    for (int lane = 0; lane < count; ++lane)
    {
        storage->run[lane] = myLanes.isRunning(lane) ? 1 : 0;
        storage->mask[lane] = mask;
        batch.u.set(lane, myU[lane]);
        batch.n.set(lane, myQueryN[lane]);
        batch.v.set(lane, v[lane]);
    }
    if (evaluate)
        bsdf->evaluatePdfBatch(batch);
    else
        bsdf->pdfBatch(batch);
    for (int lane = 0; lane < count; ++lane)
    {
        if (!storage->run[lane])
            continue;
        pdf[lane] = storage->scalar[lane];
        if (evaluate)
            myLightValue[lane] = batch.colour.get(lane);
    }
}
