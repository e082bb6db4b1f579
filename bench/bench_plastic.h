// The plastic example shader (examples/plastic.kal) made ready for the
// benchmarks: a context with the library's ops, the shader compiled and run
// once over 256 lanes, the BSDF tree it built, and per-lane directions and
// random numbers for querying it.
#ifndef SRF_BENCH_PLASTIC_H
#define SRF_BENCH_PLASTIC_H

#include "BX_Vector3.h"
#include "KAL_API.h"
#include "KAL_Context.h"
#include "KAL_Instance.h"
#include "KAL_Shader.h"
#include "SRF_LaneBatch.h"

#include <memory>
#include <string>

class SRF_BSDF;

namespace bench
{
const int LANES = KAL_MAX_LANES;

// Per-lane query inputs: fixed direction u, shading normal n, evaluated
// direction v and the two random numbers.
struct QueryLanes
{
    BX_Vector3 u[LANES], n[LANES], v[LANES];
    float sx[LANES], sy[LANES];
    QueryLanes();
};

class PlasticScene
{
public:
    // One of the examples (examples/NAME.kal).
    explicit PlasticScene(const char *example = "plastic");
    ~PlasticScene();

    // False (with the reason in error) when the shader did not compile.
    bool ok() const { return tree != nullptr; }

    // A new instance of a query shader (text) compiled against the same
    // context, holding the tree in F and the lanes' u, v, sx, sy, N; null on
    // error.
    std::unique_ptr<KAL_Instance> queryInstance(const char *text);

    KAL_Context context;
    std::unique_ptr<KAL_Shader> shader;
    std::unique_ptr<KAL_Instance> builder; // the plastic shader's instance
    std::unique_ptr<KAL_Shader> queryShader;
    const SRF_BSDF *tree = nullptr; // held by the builder's F
    QueryLanes in;
    std::string error;
};

// Fills a batch's inputs from per-lane arrays (any `in` with u, n, v, sx
// and sy): all 256 lanes running, mask 7.
template <class In> void fillBatch(SRF_LaneBatchStorage &storage, const In &in)
{
    storage.batch.end = LANES;
    for (int i = 0; i < LANES; ++i)
    {
        storage.batch.u.set(i, in.u[i]);
        storage.batch.n.set(i, in.n[i]);
        storage.batch.v.set(i, in.v[i]);
        storage.sx[i] = in.sx[i];
        storage.sy[i] = in.sy[i];
        storage.run[i] = 1;
        storage.mask[i] = 7;
    }
}

// The query shaders of the op benchmarks.
extern const char *const SAMPLE_QUERY;
extern const char *const EVAL_QUERY;
} // namespace bench

#endif
