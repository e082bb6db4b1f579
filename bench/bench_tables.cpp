// Benchmarks of the tabulated data: the pyramid's sampling cost per level
// (one constant-cost step per level), the growth of compress and decompress
// with the table's area, and the wavelet BSDF's queries.

#include "bench_pair.h"

#include "SRF_Cdf2D.h"
#include "SRF_Wavelet2D.h"
#include "SRF_WaveletBSDF.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

namespace
{
const int RANDOM_COUNT = 4096; // random pairs cycled through by the samplers

using bench::randomValues;

// One draw of a table's sampler: the pyramid answers the cell's value too.
void draw(const SRF_Wavelet2D &w, float sx, float sy)
{
    float x, y, value;
    w.sample(sx, sy, x, y, value);
    benchmark::DoNotOptimize(x);
    benchmark::DoNotOptimize(y);
    benchmark::DoNotOptimize(value);
}
void draw(const SRF_Cdf2D &cdf, float sx, float sy)
{
    float x, y;
    cdf.sample(sx, sy, x, y);
    benchmark::DoNotOptimize(x);
    benchmark::DoNotOptimize(y);
}

// Draws from a random table of 2^level x 2^level cells (the range).
template <class Table> void BM_TableSample(benchmark::State &state)
{
    const int level = static_cast<int>(state.range(0));
    const std::size_t n = std::size_t(1) << level;
    const std::vector<float> values = randomValues(n * n, 1);
    std::vector<float> storage(n * n);
    Table table;
    table.init(storage.data(), level);
    table.compress(values.data());
    const std::vector<float> randoms = randomValues(2 * RANDOM_COUNT, 2);
    int i = 0;
    for (auto _ : state)
    {
        draw(table, randoms[2 * i], randoms[2 * i + 1]);
        i = (i + 1) & (RANDOM_COUNT - 1);
    }
    state.SetComplexityN(level);
}
BENCHMARK_TEMPLATE(BM_TableSample, SRF_Wavelet2D)->DenseRange(1, 10)->Complexity(benchmark::oN);
BENCHMARK_TEMPLATE(BM_TableSample, SRF_Cdf2D)->Arg(4)->Arg(7)->Arg(10);

void BM_Wavelet2DCompress(benchmark::State &state)
{
    const int level = static_cast<int>(state.range(0));
    const std::size_t n = std::size_t(1) << level;
    const std::vector<float> table = randomValues(n * n, 1);
    std::vector<float> coefficients(n * n);
    SRF_Wavelet2D w;
    w.init(coefficients.data(), level);
    for (auto _ : state)
    {
        w.compress(table.data());
        benchmark::ClobberMemory();
    }
    state.SetComplexityN(static_cast<int64_t>(n * n));
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n * n));
}
BENCHMARK(BM_Wavelet2DCompress)->DenseRange(4, 11)->Complexity(benchmark::oN);

void BM_Wavelet2DDecompress(benchmark::State &state)
{
    const int level = static_cast<int>(state.range(0));
    const std::size_t n = std::size_t(1) << level;
    const std::vector<float> table = randomValues(n * n, 1);
    std::vector<float> coefficients(n * n), back(n * n);
    SRF_Wavelet2D w;
    w.init(coefficients.data(), level);
    w.compress(table.data());
    for (auto _ : state)
    {
        w.decompress(back.data());
        benchmark::ClobberMemory();
    }
    state.SetComplexityN(static_cast<int64_t>(n * n));
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n * n));
}
BENCHMARK(BM_Wavelet2DDecompress)->DenseRange(4, 11)->Complexity(benchmark::oN);

// The wavelet BSDF's sample (pyramid walk, direction, then an evaluate) and
// evaluate, 8 tables of 64 x 64.
void BM_WaveletBSDFQueries(benchmark::State &state)
{
    const bool sampling = state.range(0) != 0;
    const int count = 8, level = 6;
    std::vector<float> tables = randomValues(std::size_t(count) << (2 * level), 3);
    SRF_WaveletBSDF *b = new SRF_WaveletBSDF(count, level);
    b->construct(tables.data());
    const BX_Vector3 n(0.0f, 0.0f, 1.0f), u(0.6f, 0.0f, 0.8f);
    const std::vector<float> randoms = randomValues(2 * RANDOM_COUNT, 2);
    int i = 0;
    for (auto _ : state)
    {
        BX_Vector3 v(randoms[2 * i] - 0.5f, randoms[2 * i + 1] - 0.5f, 0.5f), colour;
        float scalar;
        int bounce;
        if (sampling)
            b->sample(u, n, v, colour, scalar, bounce, randoms[2 * i], randoms[2 * i + 1], 0);
        else
            b->evaluate(u, n, v, colour, scalar, 0);
        benchmark::DoNotOptimize(colour);
        i = (i + 1) & (RANDOM_COUNT - 1);
    }
    b->decRefCount();
}
BENCHMARK(BM_WaveletBSDFQueries)->ArgName("sample")->Arg(0)->Arg(1);
} // namespace
