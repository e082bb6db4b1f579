#include "SrfBatch.h"

#include "SrfError.h"

#include "KAL_Instance.h"
#include "KAL_RefType.h"

template <class T> T *SrfBatch::storage(KAL_Instance &instance, const char *name)
{
    const int slot = instance.findVariable(name);
    if (slot < 0 || !instance.getVariable(slot).isVarying())
        throw SrfError(std::string("the runtime gave no per-lane variable '") + name + "'");
    return static_cast<T *>(instance.getVariable(slot).myData);
}

SrfBatch::SrfBatch(const SrfShader &shader)
    : myShaderInstance(shader.createShaderInstance()), myQueryInstance(shader.createQueryInstance())
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
        mySampledValue = storage<BX_Vector3>(*myQueryInstance, "sampledValue");
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
