// Fuzzes the text shader loader, the compiler with its rewrite expansion,
// the executor and the BSDF ops.
//
// Every input is a shader text. When it compiles, it runs twice on one
// instance over a handful of lanes (some stopped) with varied globals, and
// the BSDF left in F is queried lane by lane, duplicated and flattened.
// Besides the sanitizers, it checks that destroying the instance gives back
// every pool block and destroys every BSDF, and that a duplicate evaluates
// as its original.
#include "SRF_BSDF.h"
#include "SRF_Functions.h"

#include "BX_PtrArray.h"
#include "KAL_Context.h"
#include "KAL_DataPool.h"
#include "KAL_Instance.h"
#include "KAL_ProcArray.h"
#include "KAL_RefType.h"
#include "KAL_Shader.h"
#include "KAL_ShaderLoader.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{
const int MAX_LANES = 9;

KAL_Context *theContext = nullptr;

void fail(const char *what)
{
    fprintf(stderr, "fuzz_shader: %s\n", what);
    abort();
}

// A small deterministic generator seeded by the input, so that a crash
// reproduces from its input alone.
struct Random
{
    uint64_t state;
    explicit Random(const uint8_t *data, size_t size) : state(1469598103934665603ull)
    {
        for (size_t i = 0; i < size; ++i)
            state = (state ^ data[i]) * 1099511628211ull;
    }
    uint32_t next()
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return uint32_t(state >> 33);
    }
    float unit() { return float(next() & 0xffffff) / float(0x1000000); }
    BX_Vector3 direction()
    {
        // Mostly unit vectors; now and then a zero or an unnormalised one.
        const uint32_t kind = next() % 8;
        if (kind == 0)
            return BX_Vector3(0.0f, 0.0f, 0.0f);
        BX_Vector3 v(unit() * 2.0f - 1.0f, unit() * 2.0f - 1.0f, unit() * 2.0f - 1.0f);
        if (kind == 1)
            return v * 3.0f;
        const float length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
        return length > 1e-6f ? v * (1.0f / length) : BX_Vector3(0.0f, 0.0f, 1.0f);
    }
};

bool sameBits(const void *a, const void *b, size_t bytes) { return std::memcmp(a, b, bytes) == 0; }

void query(const SRF_BSDF &bsdf, const SRF_BSDF *copy, int lanes, Random &random)
{
    for (int lane = 0; lane < lanes; ++lane)
    {
        const BX_Vector3 u = random.direction(), n = random.direction(), w = random.direction();
        const int mask = int(random.next() % 16);
        BX_Vector3 v, colour;
        float scalar = 0.0f;
        int bounce = 0;
        bsdf.sample(u, n, v, colour, scalar, bounce, random.unit(), random.unit(), lane, mask);
        bsdf.sample(u, n, v, colour, scalar, bounce, 0.0f, 1.0f, lane, SRF_BOUNCE_ALL);
        bsdf.albedo(u, n, lane, mask);
        bsdf.specularRatio(lane, mask);
        bsdf.emission(colour, lane);
        bsdf.getBounces(lane);
        bsdf.evaluate(u, n, w, colour, scalar, lane, mask);
        if (copy)
        {
            BX_Vector3 other;
            float otherScalar = 0.0f;
            copy->evaluate(u, n, w, other, otherScalar, lane, mask);
            if (!sameBits(&colour, &other, sizeof colour) || !sameBits(&scalar, &otherScalar, sizeof scalar))
                fail("a duplicate evaluates differently from its original");
        }
    }
}

void runOnce(KAL_Instance &instance, KAL_ProcArray &lanes, Random &random)
{
    for (int lane = 0; lane < lanes.getCount(); ++lane)
    {
        instance.setVector("N", lane, random.direction());
        instance.setVector("dPds", lane, random.direction());
        instance.setVector("dPdt", lane, random.direction());
        lanes.setState(lane, random.next() % 4 == 0 ? 1 : 0);
    }
    instance.run(lanes);
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    theContext = new KAL_Context;
    SRF_Functions::installFunctions(*theContext);
    SRF_Functions::installPhotonFunctions(*theContext);
    SRF_Functions::installPdfFunctions(*theContext);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    const long blocks = KAL_DataPool::getDataPool().blocksOut();
    const long objects = KAL_RefType::liveObjects();
    {
        std::string error;
        std::unique_ptr<KAL_Shader> shader = KAL_ShaderLoader::compileText(*theContext, text, "fuzz.kal", error);
        if (!shader)
        {
            if (error.empty())
                fail("a shader failed without a message");
            return 0;
        }
        KAL_Instance *instance = shader->createInstance();
        if (!instance)
            fail("a compiled shader gave no instance");
        Random random(data, size);
        const int count = 1 + int(random.next() % MAX_LANES);
        KAL_ProcArray lanes(count);
        runOnce(*instance, lanes, random);
        runOnce(*instance, lanes, random); // overwrites every result of the first run

        if (KAL_RefType *ref = instance->getRef("F"))
        {
            const SRF_BSDF *bsdf = static_cast<const SRF_BSDF *>(ref);
            SRF_BSDF *copy = bsdf->duplicate(count);
            query(*bsdf, copy, count, random);
            if (copy)
            {
                BX_PtrArray<SRF_BSDF *> bsdfs;
                BX_PtrArray<BX_Vector3 *> vectors;
                BX_PtrArray<float *> floats;
                copy->flatten(bsdfs, vectors, floats);
                if (bsdfs.entries() < 1 || bsdfs[0] != copy)
                    fail("flatten does not start with the BSDF itself");
                copy->decRefCount();
            }
        }
        instance->reset();
        runOnce(*instance, lanes, random);
        delete instance;
    }
    if (KAL_DataPool::getDataPool().blocksOut() != blocks || KAL_RefType::liveObjects() != objects)
        fail("pool blocks or BSDFs were not given back");
    return 0;
}
