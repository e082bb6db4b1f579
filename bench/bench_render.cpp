// The preview renderer of the host tool (srf render): its speed with the
// library's batch queries against the per-lane queries, and how fast its
// two estimators converge on the plastic example. The convergence figures
// are errors in 8-bit sRGB levels, not times; they stand beside the BSDF
// sampling's in the same run.
#include "bench_pair.h"

#include "SrfImage.h"
#include "SrfRenderer.h"
#include "SrfShader.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace
{
const std::string PLASTIC = std::string(SRF_SOURCE_DIR) + "/examples/plastic.kal";

SrfImage renderPlastic(const SrfShader &shader, int size, int samples, bool mis, bool perLane, int threads,
                       uint32_t seed)
{
    SrfRenderer::Settings settings;
    settings.size = size;
    settings.samples = samples;
    settings.threads = threads;
    settings.seed = seed;
    settings.progress = false;
    settings.perLane = perLane;
    settings.mis = mis;
    return SrfRenderer(shader, settings).render();
}

// 8-bit sRGB codes, three a pixel, as the PNG holds them.
std::vector<int> codes(const SrfImage &image)
{
    std::vector<int> out;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
        {
            const BX_Vector3 &p = image.at(x, y);
            out.push_back(SrfImage::encode(p.x));
            out.push_back(SrfImage::encode(p.y));
            out.push_back(SrfImage::encode(p.z));
        }
    return out;
}

double rmse(const std::vector<int> &a, const std::vector<int> &b)
{
    double sum = 0.0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += double(a[i] - b[i]) * double(a[i] - b[i]);
    return std::sqrt(sum / double(a.size()));
}

// The largest difference, over channels, of the image means; and over
// 8 x 8 blocks and channels, of the block means.
void meanDifferences(const std::vector<int> &a, const std::vector<int> &b, int size, double &image, double &block)
{
    image = block = 0.0;
    for (int c = 0; c < 3; ++c)
    {
        double sum = 0.0;
        for (int i = c; i < 3 * size * size; i += 3)
            sum += a[size_t(i)] - b[size_t(i)];
        image = std::max(image, std::fabs(sum / (size * size)));
        for (int by = 0; by < size; by += 8)
            for (int bx = 0; bx < size; bx += 8)
            {
                double blockSum = 0.0;
                for (int y = by; y < by + 8; ++y)
                    for (int x = bx; x < bx + 8; ++x)
                        blockSum += a[size_t(3 * (y * size + x) + c)] - b[size_t(3 * (y * size + x) + c)];
                block = std::max(block, std::fabs(blockSum / 64.0));
            }
    }
}

// srf render's time per sample, 256 x 256 at 64 spp on one thread, the
// default (batch) queries against --per-lane, for each estimator.
void RenderBatchVsPerLane(benchmark::State &state)
{
    const bool mis = state.range(0) != 0;
    const SrfShader shader(PLASTIC);
    const int size = 256, samples = 64;
    bench::comparePair(
        state, "9 render", std::string("srf render plastic, ") + (mis ? "mis" : "bsdf") + ", batch", "--per-lane",
        double(size) * size * samples, 1.0 / 3.0,
        [&] { benchmark::DoNotOptimize(renderPlastic(shader, size, samples, mis, false, 1, 1).at(0, 0)); },
        [&] { benchmark::DoNotOptimize(renderPlastic(shader, size, samples, mis, true, 1, 1).at(0, 0)); });
}
BENCHMARK(RenderBatchVsPerLane)->Arg(1)->Arg(0)->Iterations(4)->Unit(benchmark::kMillisecond);

// Plastic, 128 x 128: RMSE at 64 spp of each estimator against a 4096-spp
// render (another seed); the two estimators' 4096-spp renders against each
// other (means of the image and of 8 x 8 blocks); and mis at the sample
// count that takes the time bsdf takes at 64 spp.
void RenderConvergence(benchmark::State &state)
{
    const SrfShader shader(PLASTIC);
    const int size = 128, high = 4096, low = 64;
    for (auto _ : state)
    {
        const std::vector<int> misHigh = codes(renderPlastic(shader, size, high, true, false, 0, 1001));
        const std::vector<int> bsdfHigh = codes(renderPlastic(shader, size, high, false, false, 0, 1002));
        std::vector<int> misLow, bsdfLow;
        const double misTime =
            bench::timeOnce([&] { misLow = codes(renderPlastic(shader, size, low, true, false, 1, 1)); });
        const double bsdfTime =
            bench::timeOnce([&] { bsdfLow = codes(renderPlastic(shader, size, low, false, false, 1, 1)); });
        const int equalSamples = std::max(1, int(std::lround(low * bsdfTime / misTime)));
        const std::vector<int> misEqual = codes(renderPlastic(shader, size, equalSamples, true, false, 1, 1));

        const double misError = rmse(misLow, misHigh), bsdfError = rmse(bsdfLow, misHigh);
        const double equalError = rmse(misEqual, misHigh);
        double imageDifference, blockDifference;
        meanDifferences(misHigh, bsdfHigh, size, imageDifference, blockDifference);
        state.counters["rmse_mis"] = misError;
        state.counters["rmse_bsdf"] = bsdfError;
        state.counters["equal_spp"] = equalSamples;
        bench::record(bench::Row{"9 render", "plastic 128^2 64 spp: RMSE of mis (ratio column: levels)", misError,
                                 bsdfError, "levels", "bsdf at 64 spp", misError, 3.0, false});
        bench::record(
            bench::Row{"9 render", "plastic 128^2 equal time: RMSE of mis at " + std::to_string(equalSamples) + " spp",
                       equalError, bsdfError, "levels", "bsdf at 64 spp", equalError / bsdfError, 0.0, false});
        bench::record(bench::Row{"9 render", "4096 spp, mis - bsdf: image means, worst channel", imageDifference, 0.3,
                                 "levels", "aim", imageDifference, 0.3, false});
        bench::record(bench::Row{"9 render", "4096 spp, mis - bsdf: 8x8 block means, worst", blockDifference, 2.0,
                                 "levels", "aim", blockDifference, 2.0, false});
    }
}
BENCHMARK(RenderConvergence)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
} // namespace
