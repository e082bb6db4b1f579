#include "SrfRenderer.h"

#include "SrfBatch.h"
#include "SrfProgress.h"
#include "SrfRandom.h"
#include "SrfShader.h"

#include "SRF_LaneBatch.h"

#include <atomic>
#include <cmath>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace
{
// Lane state of a pixel whose ray misses the sphere.
const int IDLE = 1;
// Random dimensions of the pixel jitter.
const uint32_t JITTER_X = 0, JITTER_Y = 1;

bool isFinite(const BX_Vector3 &v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }
bool isZero(const BX_Vector3 &v) { return v.x == 0.0f && v.y == 0.0f && v.z == 0.0f; }
BX_Vector3 times(const BX_Vector3 &a, const BX_Vector3 &b) { return BX_Vector3(a.x * b.x, a.y * b.y, a.z * b.z); }
} // namespace

SrfRenderer::SrfRenderer(const SrfShader &shader, const Settings &settings)
    : myShader(shader), mySettings(settings), myCamera(settings.size)
{
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

    BX_Vector3 sum[TILE * TILE];
    KAL_ProcArray &lanes = batch.lanes();
    lanes.setCount(count);
    for (int s = 0; s < mySettings.samples; ++s)
    {
        int running = 0;
        for (int lane = 0; lane < count; ++lane)
        {
            const int x = x0 + lane % width, y = y0 + lane / width;
            const SrfRandom random(mySettings.seed, uint32_t(y * size + x));
            const float px = float(x) + random.uniform(s, JITTER_X);
            const float py = float(y) + random.uniform(s, JITTER_Y);
            SrfCamera::Hit hit;
            if (!myCamera.trace(px, py, hit))
            {
                // Off the sphere: the studio itself; the shader still runs on
                // this lane with the ray's reverse as its normal.
                const BX_Vector3 ray = myCamera.ray(px, py);
                sum[lane] += myStudio.radiance(ray);
                batch.setGeometry(lane, -ray, BX_Vector3(1.0f, 0.0f, 0.0f), BX_Vector3(0.0f, 1.0f, 0.0f));
                lanes.setState(lane, IDLE);
                continue;
            }
            batch.setGeometry(lane, hit.normal, hit.dPds, hit.dPdt);
            batch.u(lane) = hit.toEye;
            random.pair(s, batch.sx(lane), batch.sy(lane));
            lanes.setState(lane, 0);
            ++running;
        }
        if (running == 0)
            continue;
        batch.shade(count);
        batch.run(SrfShader::SAMPLE);
        batch.run(SrfShader::EMISSION);
        for (int lane = 0; lane < count; ++lane)
        {
            if (!lanes.isRunning(lane))
                continue;
            BX_Vector3 radiance = batch.emitted(lane);
            const BX_Vector3 &colour = batch.colour(lane);
            const BX_Vector3 &direction = batch.direction(lane);
            if (!isZero(colour) && !isZero(direction))
            {
                BX_Vector3 unit = direction;
                unit.normalize();
                radiance += times(colour, myStudio.radiance(unit));
            }
            // A sample that came out infinite or NaN is dropped rather than
            // spoiling the pixel.
            if (isFinite(radiance))
                sum[lane] += radiance;
        }
    }
    const float scale = 1.0f / float(mySettings.samples);
    for (int lane = 0; lane < count; ++lane)
        image.at(x0 + lane % width, y0 + lane / width) = sum[lane] * scale;
}
