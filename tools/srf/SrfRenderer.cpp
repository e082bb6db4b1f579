#include "SrfRenderer.h"

#include "SrfBatch.h"
#include "SrfLaneLoop.h"
#include "SrfProgress.h"
#include "SrfRandom.h"
#include "SrfShader.h"

#include "SRF_BSDF.h"
#include "SRF_LaneBatch.h"

#include <atomic>
#include <cmath>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace
{
// Lane state of a pixel whose ray misses the sphere.
const int IDLE = 1;
// Pairs of random dimensions.
const uint32_t JITTER = 0, BSDF = 1, LIGHT = 2;

// One tile's lane arrays for a sample (structure of arrays).
struct TileLanes
{
    uint32_t pixel[KAL_MAX_LANES];
    float column[KAL_MAX_LANES], row[KAL_MAX_LANES]; // the pixel's corner in the image
    float px[KAL_MAX_LANES], py[KAL_MAX_LANES];
    float jx[KAL_MAX_LANES], jy[KAL_MAX_LANES];
    float lx[KAL_MAX_LANES], ly[KAL_MAX_LANES];
    SrfCamera::Lanes rays;
    // Directions whose radiance is needed, and that radiance.
    float dx[KAL_MAX_LANES], dy[KAL_MAX_LANES], dz[KAL_MAX_LANES];
    float r[KAL_MAX_LANES], g[KAL_MAX_LANES], b[KAL_MAX_LANES];
    float lightDx[KAL_MAX_LANES], lightDy[KAL_MAX_LANES], lightDz[KAL_MAX_LANES], lightP[KAL_MAX_LANES];
    float lightR[KAL_MAX_LANES], lightG[KAL_MAX_LANES], lightB[KAL_MAX_LANES];
    float bsdfP[KAL_MAX_LANES];
    // The running sums of the pixels.
    float sumR[KAL_MAX_LANES], sumG[KAL_MAX_LANES], sumB[KAL_MAX_LANES];
};

// x - x is 0 for a finite x and NaN for an infinite or NaN one.
bool isFinite(float r, float g, float b) { return (r - r == 0.0f) & (g - g == 0.0f) & (b - b == 0.0f); }
} // namespace

SrfRenderer::SrfRenderer(const SrfShader &shader, const Settings &settings)
    : myShader(shader), mySettings(settings), myCamera(settings.size)
{
    if (settings.fibres)
        myFibres.reset(new SrfFibres(myCamera, settings.size, settings.seed));
}

int SrfRenderer::threadCount() const
{
    if (mySettings.threads > 0)
        return mySettings.threads;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? int(cores) : 1;
}

SrfImage SrfRenderer::render()
{
    // The library's batch mode is the process's: the render sets it.
    SRFsetBatchMode(mySettings.perLane ? SRF_BATCH_PER_LANE : SRF_BATCH_AUTO);
    SrfImage image(mySettings.size, mySettings.size);
    const int tilesPerRow = (mySettings.size + TILE - 1) / TILE;
    const int tiles = tilesPerRow * tilesPerRow;
    const int threads = threadCount() < tiles ? threadCount() : tiles;

    SrfProgress progress("rendering", tiles, mySettings.progress);
    std::atomic<int> next{0};
    std::exception_ptr failure;
    std::mutex failureLock;
    auto work = [&]()
    {
        try
        {
            SrfBatch batch(myShader);
            for (int tile = next++; tile < tiles; tile = next++)
            {
                renderTile(batch, tile, image);
                progress.advance();
            }
        }
        catch (...)
        {
            std::lock_guard<std::mutex> hold(failureLock);
            if (!failure)
                failure = std::current_exception();
            next = tiles;
        }
    };
    std::vector<std::thread> pool;
    for (int i = 1; i < threads; ++i)
        pool.emplace_back(work);
    work();
    for (std::thread &thread : pool)
        thread.join();
    progress.finish();
    if (failure)
        std::rethrow_exception(failure);
    return image;
}

void SrfRenderer::renderTile(SrfBatch &batch, int tile, SrfImage &image) const
{
    const int size = mySettings.size;
    const int tilesPerRow = (size + TILE - 1) / TILE;
    const int x0 = (tile % tilesPerRow) * TILE, y0 = (tile / tilesPerRow) * TILE;
    const int width = (x0 + TILE <= size ? TILE : size - x0);
    const int height = (y0 + TILE <= size ? TILE : size - y0);
    const int count = width * height;
    const bool mis = mySettings.mis;

    std::unique_ptr<TileLanes> storage(new TileLanes());
    TileLanes &t = *storage;
    for (int lane = 0; lane < count; ++lane)
    {
        t.pixel[lane] = uint32_t((y0 + lane / width) * size + x0 + lane % width);
        t.column[lane] = float(x0 + lane % width);
        t.row[lane] = float(y0 + lane / width);
        t.sumR[lane] = t.sumG[lane] = t.sumB[lane] = 0.0f;
    }
    KAL_ProcArray &lanes = batch.lanes();
    lanes.setCount(count);
    const SrfCamera::Lanes &ray = t.rays;
    for (int s = 0; s < mySettings.samples; ++s)
    {
        const uint32_t sample = uint32_t(s);
        SrfRandom::sobolPairs(mySettings.seed, t.pixel, count, sample, JITTER, t.jx, t.jy);
        SrfLaneLoop::run(count,
                         [&](int lane)
                         {
                             t.px[lane] = t.column[lane] + t.jx[lane];
                             t.py[lane] = t.row[lane] + t.jy[lane];
                         });
        myCamera.trace(t.px, t.py, count, t.rays);
        if (myFibres)
            myFibres->trace(t.px, t.py, count, t.rays);
        // Off the sphere: the studio itself. The shader still runs on those
        // lanes, with the ray's reverse as normal.
        myStudio.radiance(ray.dx, ray.dy, ray.dz, count, t.r, t.g, t.b);
        SrfLaneLoop::run(count,
                         [&](int lane)
                         {
                             const bool miss = !ray.hit[lane];
                             t.sumR[lane] += miss ? t.r[lane] : 0.0f;
                             t.sumG[lane] += miss ? t.g[lane] : 0.0f;
                             t.sumB[lane] += miss ? t.b[lane] : 0.0f;
                         });
        int running = 0;
        for (int lane = 0; lane < count; ++lane)
            running += ray.hit[lane];
        if (running == 0)
            continue;
        SrfRandom::sobolPairs(mySettings.seed, t.pixel, count, sample, BSDF, t.jx, t.jy);
        for (int lane = 0; lane < count; ++lane)
        {
            const BX_Vector3 toEye(-ray.dx[lane], -ray.dy[lane], -ray.dz[lane]);
            if (ray.hit[lane])
                batch.setGeometry(lane, BX_Vector3(ray.nx[lane], ray.ny[lane], ray.nz[lane]),
                                  BX_Vector3(ray.sx[lane], ray.sy[lane], ray.sz[lane]),
                                  BX_Vector3(ray.tx[lane], ray.ty[lane], ray.tz[lane]));
            else
                batch.setGeometry(lane, toEye, BX_Vector3(1.0f, 0.0f, 0.0f), BX_Vector3(0.0f, 1.0f, 0.0f));
            batch.u(lane) = toEye;
            batch.sx(lane) = t.jx[lane];
            batch.sy(lane) = t.jy[lane];
            lanes.setState(lane, ray.hit[lane] ? 0 : IDLE);
        }
        batch.shade(count);
        batch.run(SrfShader::SAMPLE);
        batch.run(SrfShader::EMISSION);
        // The studio's radiance along each drawn direction (made unit).
        SrfLaneLoop::run(count,
                         [&](int lane)
                         {
                             const BX_Vector3 &d = batch.direction(lane);
                             const float length2 = d.x * d.x + d.y * d.y + d.z * d.z;
                             const float inverse = length2 > 0.0f ? 1.0f / std::sqrt(length2) : 0.0f;
                             t.dx[lane] = d.x * inverse, t.dy[lane] = d.y * inverse, t.dz[lane] = d.z * inverse;
                         });
        myStudio.radiance(t.dx, t.dy, t.dz, count, t.r, t.g, t.b);
        if (mis)
        {
            batch.run(SrfShader::EVALUATE_PDF_SAMPLED);
            myStudio.lightPdf(ray.nx, ray.ny, ray.nz, t.dx, t.dy, t.dz, count, t.bsdfP);
            SrfRandom::sobolPairs(mySettings.seed, t.pixel, count, sample, LIGHT, t.lx, t.ly);
            myStudio.sampleLights(ray.nx, ray.ny, ray.nz, t.lx, t.ly, count, t.lightDx, t.lightDy, t.lightDz, t.lightP);
            myStudio.radiance(t.lightDx, t.lightDy, t.lightDz, count, t.lightR, t.lightG, t.lightB);
            for (int lane = 0; lane < count; ++lane)
                batch.v(lane) = BX_Vector3(t.lightDx[lane], t.lightDy[lane], t.lightDz[lane]);
            batch.run(SrfShader::EVALUATE_PDF);
        }
        SrfLaneLoop::run(
            count,
            [&](int lane)
            {
                const BX_Vector3 &emitted = batch.emitted(lane), &colour = batch.colour(lane);
                // The BSDF sample's weight: the power heuristic against the
                // lights' density at its direction, unless it is specular or
                // the BSDF knows no density there.
                // Without mis the density outputs are stale: selected away.
                const BX_Vector3 &d = batch.direction(lane);
                const bool drawn = (d.x != 0.0f) | (d.y != 0.0f) | (d.z != 0.0f);
                const float pdf = batch.pdf(lane), p = t.bsdfP[lane];
                const bool weighed = drawn & mis & (pdf > 0.0f) & (batch.bounce(lane) != SRF_BOUNCE_SPECULAR);
                const float misWeight = pdf * pdf / (pdf * pdf + p * p);
                const float weight = drawn ? 1.0f : 0.0f;
                // The light sample: value L / q times q^2 / (q^2 + pdf^2).
                const float q = t.lightP[lane], density = batch.lightPdf(lane);
                const bool lit = mis & (q > 0.0f) & (density > 0.0f);
                const float lightWeight = lit ? q / (q * q + density * density) : 0.0f;
                const BX_Vector3 &value = batch.lightValue(lane);
                const BX_Vector3 light(lit ? value.x * t.lightR[lane] * lightWeight : 0.0f,
                                       lit ? value.y * t.lightG[lane] * lightWeight : 0.0f,
                                       lit ? value.z * t.lightB[lane] * lightWeight : 0.0f);
                // A weighed BSDF sample counts value / pdf, the
                // mean of sample's colour over every way it could
                // have drawn the direction, rather than the colour
                // of the one operand it drew from: the same in
                // expectation, without the noise of the choice.
                const BX_Vector3 &sampled = batch.sampledValue(lane);
                const float perPdf = weighed ? misWeight / pdf : 0.0f;
                const float colourWeight = weighed ? 0.0f : weight;
                const float r = emitted.x + (colour.x * colourWeight + sampled.x * perPdf) * t.r[lane] + light.x;
                const float g = emitted.y + (colour.y * colourWeight + sampled.y * perPdf) * t.g[lane] + light.y;
                const float b = emitted.z + (colour.z * colourWeight + sampled.z * perPdf) * t.b[lane] + light.z;
                // A sample that came out infinite or NaN is dropped rather than
                // spoiling the pixel.
                const bool keep = lanes.isRunning(lane) & isFinite(r, g, b);
                t.sumR[lane] += keep ? r : 0.0f;
                t.sumG[lane] += keep ? g : 0.0f;
                t.sumB[lane] += keep ? b : 0.0f;
            });
    }
    const float scale = 1.0f / float(mySettings.samples);
    for (int lane = 0; lane < count; ++lane)
        image.at(x0 + lane % width, y0 + lane / width) = BX_Vector3(t.sumR[lane], t.sumG[lane], t.sumB[lane]) * scale;
}
