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
        Variables &q = myVariables;
        q.u = storage<BX_Vector3>(*myQueryInstance, "u");
        q.sx = storage<float>(*myQueryInstance, "sx");
        q.sy = storage<float>(*myQueryInstance, "sy");
        q.dir = storage<BX_Vector3>(*myQueryInstance, "dir");
        q.colour = storage<BX_Vector3>(*myQueryInstance, "colour");
        q.bounce = storage<int>(*myQueryInstance, "bounce");
        q.emitted = storage<BX_Vector3>(*myQueryInstance, "emitted");
        q.v = storage<BX_Vector3>(*myQueryInstance, "v");
        q.value = storage<BX_Vector3>(*myQueryInstance, "value");
        q.albedo = storage<BX_Vector3>(*myQueryInstance, "albedo");
        q.ratio = storage<float>(*myQueryInstance, "ratio");
        q.bounces = storage<int>(*myQueryInstance, "bounces");
        q.sx2 = storage<float>(*myQueryInstance, "sx2");
        q.sy2 = storage<float>(*myQueryInstance, "sy2");
        q.dir2 = storage<BX_Vector3>(*myQueryInstance, "dir2");
        q.colour2 = storage<BX_Vector3>(*myQueryInstance, "colour2");
        q.bounce2 = storage<int>(*myQueryInstance, "bounce2");
        for (int d = 0; d < 3; ++d)
            for (int c = 0; c < 2; ++c)
            {
                const std::string suffix = std::to_string(d) + (c ? "6" : "1");
                q.densityValue[2 * d + c] = storage<BX_Vector3>(*myQueryInstance, ("value" + suffix).c_str());
                q.density[2 * d + c] = storage<float>(*myQueryInstance, ("pdf" + suffix).c_str());
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
