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
const uint32_t JITTER = 0, BSDF = 1, LIGHT = 2, BSDF_GLOSSY = 3;
// The directions of a sample: the BSDF's draw (with mis its draw of the
// diffuse bounce type), with mis its draw of the glossy and specular types,
// and the light's draw.
const int FIRST = 0, SECOND = 1, LIT = 2, DIRECTIONS = 3;

// One tile's lane arrays for a sample (structure of arrays).
struct TileLanes
{
    uint32_t pixel[KAL_MAX_LANES];
    float column[KAL_MAX_LANES], row[KAL_MAX_LANES]; // the pixel's corner in the image
    float px[KAL_MAX_LANES], py[KAL_MAX_LANES];
    float jx[KAL_MAX_LANES], jy[KAL_MAX_LANES];
    SrfCamera::Lanes rays;
    float lx[KAL_MAX_LANES], ly[KAL_MAX_LANES];
    // Per direction: the unit vector, the studio's radiance along it and
    // the lights' density there.
    float dx[DIRECTIONS][KAL_MAX_LANES], dy[DIRECTIONS][KAL_MAX_LANES], dz[DIRECTIONS][KAL_MAX_LANES];
    float r[DIRECTIONS][KAL_MAX_LANES], g[DIRECTIONS][KAL_MAX_LANES], b[DIRECTIONS][KAL_MAX_LANES];
    float q[DIRECTIONS][KAL_MAX_LANES];
    // The running sums of the pixels.
    float sumR[KAL_MAX_LANES], sumG[KAL_MAX_LANES], sumB[KAL_MAX_LANES];
};

// Multiple importance sampling over three strategies, the BSDF's draws of
// its diffuse type (mask 1) and of its glossy and specular types (mask 6)
// and the lights' draw, with the power heuristic: a direction v drawn by
// the strategy of density p_s counts
//     f(v) L(v) p_s / (p_1^2 + p_6^2 + q^2),
// f = value_1 + value_6 the BSDF's value, p_1, p_6 the BSDF's densities
// under the two masks and q the lights'. A BSDF draw that is a specular
// bounce, or whose own density is 0 (a delta, or a class that does not
// know its density), counts colour L in full. Lanes without a draw count 0.
BX_Vector3 combined(const SrfBatch &batch, const TileLanes &t, int lane)
{
    BX_Vector3 total(0.0f, 0.0f, 0.0f);
    for (int k = FIRST; k < DIRECTIONS; ++k)
    {
        const BX_Vector3 &v1 = batch.densityValue(k, 0, lane), &v6 = batch.densityValue(k, 1, lane);
        const float p1 = batch.density(k, 0, lane), p6 = batch.density(k, 1, lane), q = t.q[k][lane];
        const float own = k == FIRST ? p1 : (k == SECOND ? p6 : q);
        const BX_Vector3 d =
            k == FIRST ? batch.direction(lane) : (k == SECOND ? batch.direction2(lane) : batch.v(lane));
        const bool drawn = (d.x != 0.0f) | (d.y != 0.0f) | (d.z != 0.0f);
        const int bounce = k == FIRST ? batch.bounce(lane) : batch.bounce2(lane);
        const bool whole = (k != LIT) & ((bounce == SRF_BOUNCE_SPECULAR) | (own <= 0.0f));
        const float weight = drawn & (own > 0.0f) ? own / (p1 * p1 + p6 * p6 + q * q) : 0.0f;
        const BX_Vector3 c = k == FIRST ? batch.colour(lane) : batch.colour2(lane);
        const float fr = whole ? c.x : (v1.x + v6.x) * weight;
        const float fg = whole ? c.y : (v1.y + v6.y) * weight;
        const float fb = whole ? c.z : (v1.z + v6.z) * weight;
        total +=
            drawn ? BX_Vector3(fr * t.r[k][lane], fg * t.g[k][lane], fb * t.b[k][lane]) : BX_Vector3(0.0f, 0.0f, 0.0f);
    }
    return total;
}

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
        myStudio.radiance(ray.dx, ray.dy, ray.dz, count, t.r[FIRST], t.g[FIRST], t.b[FIRST]);
        SrfLaneLoop::run(count,
                         [&](int lane)
                         {
                             const bool miss = !ray.hit[lane];
                             t.sumR[lane] += miss ? t.r[FIRST][lane] : 0.0f;
                             t.sumG[lane] += miss ? t.g[FIRST][lane] : 0.0f;
                             t.sumB[lane] += miss ? t.b[FIRST][lane] : 0.0f;
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
        if (mis)
        {
            SrfRandom::sobolPairs(mySettings.seed, t.pixel, count, sample, BSDF_GLOSSY, t.lx, t.ly);
            for (int lane = 0; lane < count; ++lane)
                batch.sx2(lane) = t.lx[lane], batch.sy2(lane) = t.ly[lane];
            batch.run(SrfShader::SAMPLE_DIFFUSE);
            batch.run(SrfShader::SAMPLE_GLOSSY);
        }
        else
            batch.run(SrfShader::SAMPLE);
        batch.run(SrfShader::EMISSION);
        // The drawn directions made unit, and the studio's radiance along them.
        for (int k = FIRST; k <= (mis ? SECOND : FIRST); ++k)
        {
            float *dx = t.dx[k], *dy = t.dy[k], *dz = t.dz[k];
            SrfLaneLoop::run(count,
                             [&](int lane)
                             {
                                 const BX_Vector3 &d = k == FIRST ? batch.direction(lane) : batch.direction2(lane);
                                 const float length2 = d.x * d.x + d.y * d.y + d.z * d.z;
                                 const float inverse = length2 > 0.0f ? 1.0f / std::sqrt(length2) : 0.0f;
                                 dx[lane] = d.x * inverse, dy[lane] = d.y * inverse, dz[lane] = d.z * inverse;
                             });
            myStudio.radiance(dx, dy, dz, count, t.r[k], t.g[k], t.b[k]);
        }
        if (mis)
        {
            SrfRandom::sobolPairs(mySettings.seed, t.pixel, count, sample, LIGHT, t.lx, t.ly);
            myStudio.sampleLights(ray.nx, ray.ny, ray.nz, t.lx, t.ly, count, t.dx[LIT], t.dy[LIT], t.dz[LIT], t.q[LIT]);
            myStudio.radiance(t.dx[LIT], t.dy[LIT], t.dz[LIT], count, t.r[LIT], t.g[LIT], t.b[LIT]);
            for (int lane = 0; lane < count; ++lane)
                batch.v(lane) = BX_Vector3(t.dx[LIT][lane], t.dy[LIT][lane], t.dz[LIT][lane]);
            for (int k = FIRST; k <= SECOND; ++k)
                myStudio.lightPdf(ray.nx, ray.ny, ray.nz, t.dx[k], t.dy[k], t.dz[k], count, t.q[k]);
            for (int query = SrfShader::DENSITY; query < SrfShader::NQUERIES; ++query)
                batch.run(SrfShader::Query(query));
        }
        SrfLaneLoop::run(count,
                         [&](int lane)
                         {
                             BX_Vector3 sum = batch.emitted(lane);
                             if (!mis)
                             {
                                 // BSDF sampling: colour L along the drawn direction.
                                 const BX_Vector3 &d = batch.direction(lane), &c = batch.colour(lane);
                                 const bool drawn = (d.x != 0.0f) | (d.y != 0.0f) | (d.z != 0.0f);
                                 sum += drawn ? BX_Vector3(c.x * t.r[FIRST][lane], c.y * t.g[FIRST][lane],
                                                           c.z * t.b[FIRST][lane])
                                              : BX_Vector3(0.0f, 0.0f, 0.0f);
                             }
                             else
                                 sum += combined(batch, t, lane);
                             // A sample that came out infinite or NaN is dropped rather than
                             // spoiling the pixel.
                             const bool keep = lanes.isRunning(lane) & isFinite(sum.x, sum.y, sum.z);
                             t.sumR[lane] += keep ? sum.x : 0.0f;
                             t.sumG[lane] += keep ? sum.y : 0.0f;
                             t.sumB[lane] += keep ? sum.z : 0.0f;
                         });
    }
    const float scale = 1.0f / float(mySettings.samples);
    for (int lane = 0; lane < count; ++lane)
        image.at(x0 + lane % width, y0 + lane / width) = BX_Vector3(t.sumR[lane], t.sumG[lane], t.sumB[lane]) * scale;
}
