#ifndef SRF_TEST_PROGRAM_H
#define SRF_TEST_PROGRAM_H

// A text shader compiled against a context holding every op and rewrite of
// the library, with one instance of it and typed access to its variables.

#include "KAL_Context.h"
#include "KAL_Instance.h"
#include "KAL_ProcArray.h"
#include "KAL_Shader.h"
#include "KAL_ShaderLoader.h"
#include "SRF_BSDF.h"
#include "SRF_Functions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

class Program
{
public:
    // The context every program of a test binary compiles against.
    static const KAL_Context &library()
    {
        static KAL_Context *context = []
        {
            KAL_Context *c = new KAL_Context;
            SRF_Functions::installFunctions(*c);
            SRF_Functions::installPhotonFunctions(*c);
            SRF_Functions::installPdfFunctions(*c);
            return c;
        }();
        return *context;
    }

    explicit Program(const std::string &text, const KAL_Context &context = library())
    {
        shader = KAL_ShaderLoader::compileText(context, text, "test.kal", error);
        if (shader)
            instance.reset(shader->createInstance());
    }
    bool ok() const { return instance != nullptr; }
    KAL_Instance &operator*() { return *instance; }
    KAL_Instance *operator->() { return instance.get(); }
    int run(int count) // all lanes running
    {
        KAL_ProcArray lanes(count);
        return instance->run(lanes);
    }

    SRF_BSDF *bsdf(const char *name) const { return static_cast<SRF_BSDF *>(instance->getRef(name)); }
    BX_Vector3 vec(const char *name, int lane) const
    {
        BX_Vector3 v(NAN, NAN, NAN);
        EXPECT_TRUE(instance->getVector(name, lane, v)) << name;
        return v;
    }
    float flt(const char *name, int lane) const
    {
        float f = NAN;
        EXPECT_TRUE(instance->getFloat(name, lane, f)) << name;
        return f;
    }
    int integer(const char *name, int lane) const
    {
        int i = -1;
        EXPECT_TRUE(instance->getInt(name, lane, i)) << name;
        return i;
    }

    std::string error;
    std::unique_ptr<KAL_Shader> shader;
    std::unique_ptr<KAL_Instance> instance;
};

#endif
