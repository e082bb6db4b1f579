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
        mySx2 = storage<float>(*myQueryInstance, "sx2");
        mySy2 = storage<float>(*myQueryInstance, "sy2");
        myDir2 = storage<BX_Vector3>(*myQueryInstance, "dir2");
        myColour2 = storage<BX_Vector3>(*myQueryInstance, "colour2");
        myBounce2 = storage<int>(*myQueryInstance, "bounce2");
        for (int d = 0; d < 3; ++d)
            for (int c = 0; c < 2; ++c)
            {
                const std::string suffix = std::to_string(d) + (c ? "6" : "1");
                myDensityValue[2 * d + c] = storage<BX_Vector3>(*myQueryInstance, ("value" + suffix).c_str());
                myDensity[2 * d + c] = storage<float>(*myQueryInstance, ("pdf" + suffix).c_str());
            }
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
