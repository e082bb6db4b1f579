// The analytic lobes' evaluate and sample, ns per call, each beside the same
// formula written inline here: no virtual call, no mask test, no pooled
// block, parameters read from plain arrays. Both sides run over the same 256
// lanes of directions and random numbers. The lobe is called as a renderer
// calls it: through an SRF_BSDF pointer, masked form, mask 7.
#include "bench_pair.h"
#include "bench_plastic.h"

#include "SRF_AshikhminKernel.h"
#include "SRF_BlinnKernel.h"
#include "SRF_ConeKernel.h"
#include "SRF_EmissionKernel.h"
#include "SRF_IsotropicKernel.h"
#include "SRF_LafortuneKernel.h"
#include "SRF_PhongKernel.h"
#include "SRF_SpecularKernel.h"
#include "SRF_WireBlinnKernel.h"
#include "SRF_WireDiffuseKernel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace
{
const int LANES = KAL_MAX_LANES;
const int MASK = SRF_BOUNCE_SCATTER;
const double LOBE_AIM = 1.3;
const int BATCHES = 3000;

// Directions, random numbers and lobe parameters for every lane.
struct Lanes
{
    BX_Vector3 u[LANES], n[LANES], v[LANES];
    float sx[LANES], sy[LANES];
    BX_Vector3 axis[LANES], tangent1[LANES], tangent2[LANES], coefficients[LANES];
    float exponent[LANES], exponent2[LANES], angle[LANES];

    Lanes()
    {
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> r01(0.0f, 1.0f);
        for (int i = 0; i < LANES; ++i)
        {
            n[i] = BX_Vector3(0.2f * r01(rng) - 0.1f, 0.2f * r01(rng) - 0.1f, 1.0f);
            n[i].normalize();
            u[i] = BX_Vector3(2.0f * r01(rng) - 1.0f, 2.0f * r01(rng) - 1.0f, r01(rng) + 0.05f);
            u[i].normalize();
            v[i] = BX_Vector3(2.0f * r01(rng) - 1.0f, 2.0f * r01(rng) - 1.0f, 1.2f * r01(rng) - 0.2f);
            v[i].normalize();
            sx[i] = r01(rng);
            sy[i] = r01(rng);
            axis[i] = n[i] * (2.0f * u[i].dot(n[i])) - u[i];
            n[i].getFrameOfReference(tangent1[i], tangent2[i]);
            coefficients[i] = BX_Vector3(-0.9f, -0.9f, 0.95f);
            exponent[i] = 5.0f + 95.0f * r01(rng);
            exponent2[i] = 2.0f + 30.0f * r01(rng);
            angle[i] = 0.1f + 0.5f * r01(rng);
        }
    }
};

const Lanes &lanes()
{
    static const Lanes all;
    return all;
}

BX_Vector3 *vectorBlock(const BX_Vector3 *from)
{
    BX_Vector3 *block = SRF_BSDF::allocVector();
    std::memcpy(block, from, sizeof(BX_Vector3) * LANES);
    return block;
}

float *floatBlock(const float *from)
{
    float *block = SRF_BSDF::allocFloat();
    std::memcpy(block, from, sizeof(float) * LANES);
    return block;
}

// ---------------------------------------------------------------------------
// The lobes, one Row each: the kernel, and the lane arrays its blocks are
// made of, in field order. make() builds the library's object on pooled
// copies of them; the inline reference runs the kernel with the C library's
// maths straight on the arrays.

template <class K> struct Row
{
    using Kernel = K;
    static const char *name() { return K::NAME + 4; } // without "SRF_"
    static SRF_LobeBlocks plain(const Lanes &l);
    static SRF_BSDF *make(const Lanes &l)
    {
        const SRF_LobeBlocks from = plain(l);
        SRF_LobeBlocks blocks;
        for (int field = 0; field < K::BLOCKS; ++field)
            blocks.block[field] = K::FIELDS[field].kind == SRF_BLOCK_VECTOR
                                      ? static_cast<void *>(vectorBlock(from.vectors(field)))
                                      : static_cast<void *>(floatBlock(from.floats(field)));
        return SRFbuildLobe<K>(blocks);
    }
    // What the masked per-lane queries compute, without the call, the mask
    // test or the pool.
    static void evaluate(const SRF_LobeBlocks &p, int i, const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v,
                         BX_Vector3 &colour, float &scalar)
    {
        const SRF_LobeValue value = K::template evaluate<SRF_StdMath>(K::at(p, i), u, n, v);
        colour = value.colour;
        scalar = value.scalar;
    }
    static void sample(const SRF_LobeBlocks &p, int i, const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v,
                       BX_Vector3 &colour, float &scalar, int &bounce, float sx, float sy)
    {
        const typename K::Lane q = K::at(p, i);
        if (!K::DRAWS)
        {
            colour = BX_Vector3(0.0f, 0.0f, 0.0f);
            scalar = 0.0f;
            return;
        }
        const SRF_LobeDraw draw = K::template sample<SRF_StdMath>(q, u, n, sx, sy);
        v = draw.v;
        bounce = K::BOUNCES;
        if (K::WEIGHT_IS_VALUE)
            evaluate(p, i, u, n, v, colour, scalar);
        else
        {
            colour = draw.weight;
            scalar = K::template albedo<SRF_StdMath>(q);
        }
    }
    static void evaluatePdf(const SRF_LobeBlocks &p, int i, const BX_Vector3 &u, const BX_Vector3 &n,
                            const BX_Vector3 &v, BX_Vector3 &value, float &pdf)
    {
        const SRF_LobeDensity density = K::template evaluatePdf<SRF_StdMath>(K::at(p, i), u, n, v);
        value = density.value;
        pdf = density.pdf;
    }
};

SRF_LobeBlocks blocksOf(std::initializer_list<const void *> arrays)
{
    SRF_LobeBlocks blocks;
    int field = 0;
    for (const void *array : arrays)
        blocks.block[field++] = const_cast<void *>(array);
    return blocks;
}

using Isotropic = Row<SRF_IsotropicKernel>;
using Emission = Row<SRF_EmissionKernel>;
using Specular = Row<SRF_SpecularKernel>;
using Phong = Row<SRF_PhongKernel>;
using Blinn = Row<SRF_BlinnKernel>;
using Cone = Row<SRF_ConeKernel>;
using Ashikhmin = Row<SRF_AshikhminKernel>;
using Lafortune = Row<SRF_LafortuneKernel>;
using WireBlinn = Row<SRF_WireBlinnKernel>;
using WireDiffuse = Row<SRF_WireDiffuseKernel>;
template <> SRF_LobeBlocks Isotropic::plain(const Lanes &) { return {}; }
template <> SRF_LobeBlocks Emission::plain(const Lanes &) { return {}; }
template <> SRF_LobeBlocks Specular::plain(const Lanes &l) { return blocksOf({l.axis}); }
template <> SRF_LobeBlocks Phong::plain(const Lanes &l) { return blocksOf({l.axis, l.exponent}); }
template <> SRF_LobeBlocks Blinn::plain(const Lanes &l) { return blocksOf({l.n, l.exponent}); }
template <> SRF_LobeBlocks Cone::plain(const Lanes &l) { return blocksOf({l.axis, l.angle}); }
template <> SRF_LobeBlocks Ashikhmin::plain(const Lanes &l)
{
    return blocksOf({l.n, l.tangent1, l.tangent2, l.exponent, l.exponent2});
}
template <> SRF_LobeBlocks Lafortune::plain(const Lanes &l) { return blocksOf({l.n, l.coefficients, l.exponent}); }
template <> SRF_LobeBlocks WireBlinn::plain(const Lanes &l) { return blocksOf({l.tangent1, l.exponent}); }
template <> SRF_LobeBlocks WireDiffuse::plain(const Lanes &l) { return blocksOf({l.tangent1}); }

// ---------------------------------------------------------------------------

// The lobe is reached through a pointer the compiler cannot see through, as
// a renderer holding a BSDF of unknown class does.
const SRF_BSDF *opaque(const SRF_BSDF *bsdf)
{
    const SRF_BSDF *volatile hidden = bsdf;
    return hidden;
}

// The per-lane queries: each lane's query through the library (masked,
// mask 7) and with the kernel inline, each folded into a number the
// benchmark keeps; and the batch form.
struct Evaluate
{
    static constexpr const char *NAME = "evaluate";
    static float library(const SRF_BSDF &b, const Lanes &l, int i)
    {
        BX_Vector3 colour;
        float scalar;
        b.evaluate(l.u[i], l.n[i], l.v[i], colour, scalar, i, MASK);
        return colour.x + scalar;
    }
    template <class Lobe> static float inlined(const SRF_LobeBlocks &p, const Lanes &l, int i)
    {
        BX_Vector3 colour;
        float scalar;
        Lobe::evaluate(p, i, l.u[i], l.n[i], l.v[i], colour, scalar);
        return colour.x + scalar;
    }
    static void batch(const SRF_BSDF &b, const SRF_LaneBatch &lanes) { b.evaluateBatch(lanes); }
};

struct Sample
{
    static constexpr const char *NAME = "sample";
    static float library(const SRF_BSDF &b, const Lanes &l, int i)
    {
        BX_Vector3 v, colour;
        float scalar;
        int bounce = 0;
        b.sample(l.u[i], l.n[i], v, colour, scalar, bounce, l.sx[i], l.sy[i], i, MASK);
        return v.x + colour.x + scalar + float(bounce);
    }
    template <class Lobe> static float inlined(const SRF_LobeBlocks &p, const Lanes &l, int i)
    {
        BX_Vector3 v, colour;
        float scalar;
        int bounce = 0;
        Lobe::sample(p, i, l.u[i], l.n[i], v, colour, scalar, bounce, l.sx[i], l.sy[i]);
        return v.x + colour.x + scalar + float(bounce);
    }
    static void batch(const SRF_BSDF &b, const SRF_LaneBatch &lanes) { b.sampleBatch(lanes); }
};

struct EvaluatePdf
{
    static constexpr const char *NAME = "evaluatePdf";
    static float library(const SRF_BSDF &b, const Lanes &l, int i)
    {
        BX_Vector3 value;
        float pdf;
        b.evaluatePdf(l.u[i], l.n[i], l.v[i], value, pdf, i, MASK);
        return value.x + pdf;
    }
    template <class Lobe> static float inlined(const SRF_LobeBlocks &p, const Lanes &l, int i)
    {
        BX_Vector3 value;
        float pdf;
        Lobe::evaluatePdf(p, i, l.u[i], l.n[i], l.v[i], value, pdf);
        return value.x + pdf;
    }
    static void batch(const SRF_BSDF &b, const SRF_LaneBatch &lanes) { b.evaluatePdfBatch(lanes); }
};

// The query of every lane through the library beside the kernel inline.
template <class Lobe, class Query> void perLane(benchmark::State &state, const char *group, double aim)
{
    const Lanes &l = lanes();
    SRF_BSDF *made = Lobe::make(l);
    const SRF_BSDF *bsdf = opaque(made);
    const SRF_LobeBlocks p = Lobe::plain(l);
    float sink = 0.0f;
    bench::comparePair(
        state, group, std::string(Lobe::name()) + " " + Query::NAME, "formula inline", LANES, aim,
        [&]
        {
            for (int i = 0; i < LANES; ++i)
                sink += Query::library(*bsdf, l, i);
            benchmark::DoNotOptimize(sink);
        },
        [&]
        {
            for (int i = 0; i < LANES; ++i)
                sink += Query::template inlined<Lobe>(p, l, i);
            benchmark::DoNotOptimize(sink);
        });
    made->decRefCount();
}

// The batch queries against the per-lane masked calls, over the same lanes:
// the lobe's evaluateBatch or sampleBatch for all 256 lanes (all running,
// mask 7) beside the loop of its masked per-lane calls.
struct BatchLanes : SRF_LaneBatchStorage
{
    explicit BatchLanes(const Lanes &l) { bench::fillBatch(*this, l); }
};

// Isotropic, emission and specular evaluate are aimed at 8 times, the
// others at 4.
template <class Lobe> double batchAim(bool evaluate)
{
    const std::string name = Lobe::name();
    return evaluate && (name == "isotropic" || name == "emission" || name == "specular") ? 0.125 : 0.25;
}

// The batch query of all 256 lanes beside the loop of per-lane calls.
template <class Lobe, class Query> void batch(benchmark::State &state, const char *group, double aim)
{
    const Lanes &l = lanes();
    SRF_BSDF *made = Lobe::make(l);
    const SRF_BSDF *bsdf = opaque(made);
    BatchLanes in(l);
    float sink = 0.0f;
    bench::comparePair(
        state, group, std::string(Lobe::name()) + " " + Query::NAME + ", batch", "per-lane masked call", LANES, aim,
        [&]
        {
            Query::batch(*bsdf, in.batch);
            benchmark::DoNotOptimize(in.scalar);
            benchmark::ClobberMemory();
        },
        [&]
        {
            for (int i = 0; i < LANES; ++i)
                sink += Query::library(*bsdf, l, i);
            benchmark::DoNotOptimize(sink);
        });
    made->decRefCount();
}

template <class Lobe> void LobeEvaluate(benchmark::State &state)
{
    perLane<Lobe, Evaluate>(state, "1 lobes", LOBE_AIM);
}
template <class Lobe> void LobeSample(benchmark::State &state) { perLane<Lobe, Sample>(state, "1 lobes", LOBE_AIM); }
template <class Lobe> void LobeBatchEvaluate(benchmark::State &state)
{
    batch<Lobe, Evaluate>(state, "7 batch", batchAim<Lobe>(true));
}
template <class Lobe> void LobeBatchSample(benchmark::State &state)
{
    batch<Lobe, Sample>(state, "7 batch", batchAim<Lobe>(false));
}
// No aim: what a light sample costs against evaluate.
template <class Lobe> void LobeEvaluatePdf(benchmark::State &state) { perLane<Lobe, EvaluatePdf>(state, "8 pdf", 0.0); }
template <class Lobe> void LobeBatchEvaluatePdf(benchmark::State &state)
{
    batch<Lobe, EvaluatePdf>(state, "8 pdf", 0.0);
}

BENCHMARK_TEMPLATE(LobeEvaluatePdf, Phong)->Iterations(BATCHES);
BENCHMARK_TEMPLATE(LobeBatchEvaluatePdf, Phong)->Iterations(BATCHES);
// The other lobes with a power: their batch densities against lane by lane.
BENCHMARK_TEMPLATE(LobeBatchEvaluatePdf, Blinn)->Iterations(BATCHES);
BENCHMARK_TEMPLATE(LobeBatchEvaluatePdf, Ashikhmin)->Iterations(BATCHES);
BENCHMARK_TEMPLATE(LobeBatchEvaluatePdf, Lafortune)->Iterations(BATCHES);
BENCHMARK_TEMPLATE(LobeBatchEvaluatePdf, WireBlinn)->Iterations(BATCHES);

#define SRF_LOBE_BENCH(Lobe)                                                                                           \
    BENCHMARK_TEMPLATE(LobeEvaluate, Lobe)->Iterations(BATCHES);                                                       \
    BENCHMARK_TEMPLATE(LobeSample, Lobe)->Iterations(BATCHES);                                                         \
    BENCHMARK_TEMPLATE(LobeBatchEvaluate, Lobe)->Iterations(BATCHES);                                                  \
    BENCHMARK_TEMPLATE(LobeBatchSample, Lobe)->Iterations(BATCHES)

SRF_LOBE_BENCH(Isotropic);
SRF_LOBE_BENCH(Emission);
SRF_LOBE_BENCH(Specular);
SRF_LOBE_BENCH(Phong);
SRF_LOBE_BENCH(Blinn);
SRF_LOBE_BENCH(Cone);
SRF_LOBE_BENCH(Ashikhmin);
SRF_LOBE_BENCH(Lafortune);
SRF_LOBE_BENCH(WireBlinn);
SRF_LOBE_BENCH(WireDiffuse);
} // namespace
