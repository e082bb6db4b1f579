// Ratios for the tabulated data (bench_tables.cpp has the bare figures):
// pyramid sampling at each level beside the flat 2D cumulative table's
// sampling at the same level; compress and decompress per table element
// beside a memcpy of the table; the wavelet BSDF's evaluate beside its
// bilinear lookup written inline, and its sample beside the pyramid walk
// alone (the direction and the evaluate are what it adds).
#include "bench_pair.h"

#include "SRF_Cdf2D.h"
#include "SRF_Wavelet2D.h"
#include "SRF_WaveletBSDF.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace
{
const int SAMPLES = 256;

using bench::randomValues;

void PyramidSample(benchmark::State &state)
{
    const int level = int(state.range(0));
    const std::size_t n = std::size_t(1) << level;
    const std::vector<float> values = randomValues(n * n, 1);
    std::vector<float> coefficients(n * n), cdfTable(n * n);
    SRF_Wavelet2D pyramid;
    pyramid.init(coefficients.data(), level);
    pyramid.compress(values.data());
    SRF_Cdf2D cdf;
    cdf.init(cdfTable.data(), level);
    cdf.compress(values.data());
    const std::vector<float> r = randomValues(2 * SAMPLES, 2);
    float sink = 0.0f;
    bench::comparePair(
        state, "6 tables", "Wavelet2D sample, level " + std::to_string(level), "Cdf2D sample, same table", SAMPLES, 0.0,
        [&]
        {
            for (int i = 0; i < SAMPLES; ++i)
            {
                float x, y, value;
                pyramid.sample(r[2 * i], r[2 * i + 1], x, y, value);
                sink += x + y;
            }
            benchmark::DoNotOptimize(sink);
        },
        [&]
        {
            for (int i = 0; i < SAMPLES; ++i)
            {
                float x, y;
                cdf.sample(r[2 * i], r[2 * i + 1], x, y);
                sink += x + y;
            }
            benchmark::DoNotOptimize(sink);
        });
    state.counters["ns_per_level"] = state.counters["ns"] / level;
}
BENCHMARK(PyramidSample)->DenseRange(2, 10, 2)->Iterations(2000);

void PyramidTransform(benchmark::State &state)
{
    const bool compress = state.range(0) != 0;
    const int level = int(state.range(1));
    const std::size_t n = std::size_t(1) << level;
    const std::vector<float> values = randomValues(n * n, 1);
    std::vector<float> coefficients(n * n), back(n * n);
    SRF_Wavelet2D pyramid;
    pyramid.init(coefficients.data(), level);
    pyramid.compress(values.data());
    const std::string figure = std::string(compress ? "compress" : "decompress") + " per n^2, n = " + std::to_string(n);
    bench::comparePair(
        state, "6 tables", figure, "memcpy of the table", double(n * n), 0.0,
        [&]
        {
            if (compress)
                pyramid.compress(values.data());
            else
                pyramid.decompress(back.data());
            benchmark::ClobberMemory();
        },
        [&]
        {
            std::memcpy(back.data(), values.data(), n * n * sizeof(float));
            benchmark::ClobberMemory();
        });
}
BENCHMARK(PyramidTransform)->ArgsProduct({{1, 0}, {6, 8, 10}})->Iterations(40)->Unit(benchmark::kMicrosecond);

// 8 tables of 64 x 64, as in bench_tables.cpp.
const int TABLES = 8, LEVEL = 6, RES = 1 << LEVEL;

struct Tabulated
{
    std::vector<float> tables = randomValues(std::size_t(TABLES) * RES * RES, 3);
    SRF_WaveletBSDF *bsdf = new SRF_WaveletBSDF(TABLES, LEVEL);
    std::vector<BX_Vector3> u, v;
    std::vector<float> r;
    std::vector<const float *> plain; // each table's values
    const BX_Vector3 n{0.0f, 0.0f, 1.0f};
    Tabulated()
    {
        bsdf->construct(tables.data());
        for (int j = 0; j < TABLES; ++j)
            plain.push_back(bsdf->getData(j));
        std::mt19937 rng(5);
        std::uniform_real_distribution<float> r01(0.0f, 1.0f);
        for (int i = 0; i < SAMPLES; ++i)
        {
            BX_Vector3 a(2.0f * r01(rng) - 1.0f, 2.0f * r01(rng) - 1.0f, r01(rng) + 0.05f);
            a.normalize();
            BX_Vector3 b(2.0f * r01(rng) - 1.0f, 2.0f * r01(rng) - 1.0f, r01(rng) + 0.05f);
            b.normalize();
            u.push_back(a);
            v.push_back(b);
            r.push_back(r01(rng));
            r.push_back(r01(rng));
        }
    }
    ~Tabulated() { bsdf->decRefCount(); }

    // The bilinear lookup of evaluate, inline: bin by the sine of u's angle,
    // row by 1 - v.n, column by v's azimuth about u, on the plain tables.
    float lookup(const BX_Vector3 &ui, const BX_Vector3 &vi) const
    {
        const float c = ui.dot(n);
        const float sine = std::sqrt(std::max(0.0f, 1.0f - c * c));
        const int idx = std::min(TABLES - 1, int(sine * TABLES));
        BX_Vector3 f2 = n.cross(ui);
        f2.normalize();
        BX_Vector3 f1 = f2.cross(n);
        f1.normalize();
        const float yv = std::min(1.0f, std::max(0.0f, 1.0f - vi.dot(n) - 0.0001f));
        float xv = std::atan2(vi.dot(f2), vi.dot(f1)) * 0.15915494f;
        if (xv < 0.0f)
            xv += 1.0f;
        xv = std::min(1.0f, std::max(0.0f, xv));
        const float tx = float(RES - 1) * xv, ty = float(RES - 1) * yv;
        const int ix = int(tx), iy = int(ty);
        const float fx = tx - float(ix), fy = ty - float(iy);
        const int ix1 = std::min(ix + 1, RES - 1), iy1 = std::min(iy + 1, RES - 1);
        const float *t = plain[idx];
        const float left = t[iy * RES + ix] + (t[iy1 * RES + ix] - t[iy * RES + ix]) * fy;
        const float right = t[iy * RES + ix1] + (t[iy1 * RES + ix1] - t[iy * RES + ix1]) * fy;
        return left + (right - left) * fx;
    }
};

void WaveletBsdfEvaluate(benchmark::State &state)
{
    Tabulated t;
    // Read back through a volatile: the compiler cannot see the class.
    const SRF_BSDF *volatile hidden = t.bsdf;
    const SRF_BSDF *bsdf = hidden;
    float sink = 0.0f;
    bench::comparePair(
        state, "6 tables", "WaveletBSDF evaluate, 8 x 64^2", "bilinear lookup inline", SAMPLES, 0.0,
        [&]
        {
            for (int i = 0; i < SAMPLES; ++i)
            {
                BX_Vector3 colour;
                float scalar;
                bsdf->evaluate(t.u[i], t.n, t.v[i], colour, scalar, 0, SRF_BOUNCE_SCATTER);
                sink += colour.x + scalar;
            }
            benchmark::DoNotOptimize(sink);
        },
        [&]
        {
            for (int i = 0; i < SAMPLES; ++i)
                sink += t.lookup(t.u[i], t.v[i]);
            benchmark::DoNotOptimize(sink);
        });
}
BENCHMARK(WaveletBsdfEvaluate)->Iterations(2000);

void WaveletBsdfSample(benchmark::State &state)
{
    Tabulated t;
    // Read back through a volatile: the compiler cannot see the class.
    const SRF_BSDF *volatile hidden = t.bsdf;
    const SRF_BSDF *bsdf = hidden;
    std::vector<float> coefficients(RES * RES);
    SRF_Wavelet2D pyramid;
    pyramid.init(coefficients.data(), LEVEL);
    pyramid.compress(t.tables.data());
    float sink = 0.0f;
    bench::comparePair(
        state, "6 tables", "WaveletBSDF sample, 8 x 64^2", "Wavelet2D sample alone", SAMPLES, 0.0,
        [&]
        {
            for (int i = 0; i < SAMPLES; ++i)
            {
                BX_Vector3 v, colour;
                float scalar;
                int bounce;
                bsdf->sample(t.u[i], t.n, v, colour, scalar, bounce, t.r[2 * i], t.r[2 * i + 1], 0, SRF_BOUNCE_SCATTER);
                sink += v.x + colour.x;
            }
            benchmark::DoNotOptimize(sink);
        },
        [&]
        {
            for (int i = 0; i < SAMPLES; ++i)
            {
                float x, y, value;
                pyramid.sample(t.r[2 * i], t.r[2 * i + 1], x, y, value);
                sink += x + y;
            }
            benchmark::DoNotOptimize(sink);
        });
}
BENCHMARK(WaveletBsdfSample)->Iterations(2000);
} // namespace
