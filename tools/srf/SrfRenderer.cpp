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
BX_Vector3 combined(const SrfBatch::Variables &q, const TileLanes &t, int lane)
{
    BX_Vector3 total(0.0f, 0.0f, 0.0f);
    for (int k = FIRST; k < DIRECTIONS; ++k)
    {
        const BX_Vector3 v1 = q.densityValue[2 * k][lane], v6 = q.densityValue[2 * k + 1][lane];
        const float p1 = q.density[2 * k][lane], p6 = q.density[2 * k + 1][lane], ql = t.q[k][lane];
        const float own = k == FIRST ? p1 : (k == SECOND ? p6 : ql);
        const BX_Vector3 d = k == FIRST ? q.dir[lane] : (k == SECOND ? q.dir2[lane] : q.v[lane]);
        const bool drawn = (d.x != 0.0f) | (d.y != 0.0f) | (d.z != 0.0f);
        const int bounce = k == FIRST ? q.bounce[lane] : q.bounce2[lane];
        const bool whole = (k != LIT) & ((bounce == SRF_BOUNCE_SPECULAR) | (own <= 0.0f));
        const float weight = drawn & (own > 0.0f) ? own / (p1 * p1 + p6 * p6 + ql * ql) : 0.0f;
        const BX_Vector3 c = k == FIRST ? q.colour[lane] : q.colour2[lane];
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

// Adds one sample's estimate to the running lanes' sums, on the BSDF the
// batch's last shade built (with mis: three directions under the power
// heuristic; else one BSDF draw), plus the emission EMISSION left.
void addSample(const SrfRenderer::Settings &settings, const SrfStudio &studio, SrfBatch &batch, uint32_t sample,
               TileLanes &t)
{
    const int count = batch.lanes().getCount();
    const bool mis = settings.mis;
    // The lane loops read and write through copies: the query variables'
    // arrays and the tile's.
    const SrfBatch::Variables q = batch.variables();
    TileLanes *const tile = &t;
    const SrfCamera::Lanes &ray = t.rays;
    SrfRandom::sobolPairs(settings.seed, t.pixel, count, sample, BSDF, q.sx, q.sy);
    if (mis)
    {
        SrfRandom::sobolPairs(settings.seed, t.pixel, count, sample, BSDF_GLOSSY, q.sx2, q.sy2);
        batch.run(SrfShader::SAMPLE_DIFFUSE);
        batch.run(SrfShader::SAMPLE_GLOSSY);
    }
    else
        batch.run(SrfShader::SAMPLE);
    // The drawn directions made unit, and the studio's radiance along them.
    for (int k = FIRST; k <= (mis ? SECOND : FIRST); ++k)
    {
        const BX_Vector3 *drawn = k == FIRST ? q.dir : q.dir2;
        float *dx = t.dx[k], *dy = t.dy[k], *dz = t.dz[k];
        SrfLaneLoop::run(count,
                         [=](int lane)
                         {
                             const BX_Vector3 d = drawn[lane];
                             const float length2 = d.x * d.x + d.y * d.y + d.z * d.z;
                             const float inverse = length2 > 0.0f ? 1.0f / std::sqrt(length2) : 0.0f;
                             dx[lane] = d.x * inverse, dy[lane] = d.y * inverse, dz[lane] = d.z * inverse;
                         });
        studio.radiance(dx, dy, dz, count, t.r[k], t.g[k], t.b[k]);
    }
    if (mis)
    {
        SrfRandom::sobolPairs(settings.seed, t.pixel, count, sample, LIGHT, t.lx, t.ly);
        studio.sampleLights(ray.nx, ray.ny, ray.nz, t.lx, t.ly, count, t.dx[LIT], t.dy[LIT], t.dz[LIT], t.q[LIT]);
        studio.radiance(t.dx[LIT], t.dy[LIT], t.dz[LIT], count, t.r[LIT], t.g[LIT], t.b[LIT]);
        const float *lx = t.dx[LIT], *ly = t.dy[LIT], *lz = t.dz[LIT];
        SrfLaneLoop::run(count, [=](int lane) { q.v[lane] = BX_Vector3(lx[lane], ly[lane], lz[lane]); });
        for (int k = FIRST; k <= SECOND; ++k)
            studio.lightPdf(ray.nx, ray.ny, ray.nz, t.dx[k], t.dy[k], t.dz[k], count, t.q[k]);
        for (int query = SrfShader::DENSITY; query < SrfShader::NQUERIES; ++query)
            batch.run(SrfShader::Query(query));
    }
    // A sample that came out infinite or NaN is dropped rather than
    // spoiling the pixel; lanes off the sphere add nothing here.
    auto add = [tile](int lane, const BX_Vector3 &sum)
    {
        const bool keep = (tile->rays.hit[lane] != 0) & isFinite(sum.x, sum.y, sum.z);
        tile->sumR[lane] += keep ? sum.x : 0.0f;
        tile->sumG[lane] += keep ? sum.y : 0.0f;
        tile->sumB[lane] += keep ? sum.z : 0.0f;
    };
    if (mis)
        SrfLaneLoop::run(count, [=](int lane) { add(lane, q.emitted[lane] + combined(q, *tile, lane)); });
    else
        // BSDF sampling: colour L along the drawn direction.
        SrfLaneLoop::run(count,
                         [=](int lane)
                         {
                             const BX_Vector3 d = q.dir[lane], c = q.colour[lane];
                             const bool drawn = (d.x != 0.0f) | (d.y != 0.0f) | (d.z != 0.0f);
                             const float *r = tile->r[FIRST], *g = tile->g[FIRST], *b = tile->b[FIRST];
                             add(lane,
                                 q.emitted[lane] + (drawn ? BX_Vector3(c.x * r[lane], c.y * g[lane], c.z * b[lane])
                                                          : BX_Vector3(0.0f, 0.0f, 0.0f)));
                         });
}

} // namespace

SrfRenderer::SrfRenderer(const SrfShader &shader, const Settings &settings)
    : myShader(shader), mySettings(settings), myCamera(settings.size)
{
    if (settings.fibres)
        myFibres.reset(new SrfFibres(myCamera, settings.size, settings.seed));
}

int SrfRenderer::samplesPerRay(int samples)
{
    const int share = samples / MIN_RAYS;
    return share < 1 ? 1 : (share > MAX_SAMPLES_PER_RAY ? MAX_SAMPLES_PER_RAY : share);
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
    const int samples = mySettings.samples;

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
    const int carries = samplesPerRay(samples);
    for (int first = 0; first < samples; first += carries)
    {
        // One camera ray per pixel carries the next `carries` samples:
        // they share its hit, so the shader runs once for them, with the
        // hit's own geometry.
        const int last = first + carries < samples ? first + carries : samples;
        const float carried = float(last - first);
        SrfRandom::sobolPairs(mySettings.seed, t.pixel, count, uint32_t(first / carries), JITTER, t.jx, t.jy);
        SrfLaneLoop::run(count,
                         [&](int lane)
                         {
                             t.px[lane] = t.column[lane] + t.jx[lane];
                             t.py[lane] = t.row[lane] + t.jy[lane];
                         });
        myCamera.trace(t.px, t.py, count, t.rays);
        if (myFibres)
            myFibres->trace(t.px, t.py, count, t.rays);
        // Off the sphere: the studio itself, for every sample the ray
        // carries. The shader still runs on those lanes, with the ray's
        // reverse as normal.
        myStudio.radiance(ray.dx, ray.dy, ray.dz, count, t.r[FIRST], t.g[FIRST], t.b[FIRST]);
        SrfLaneLoop::run(count,
                         [&](int lane)
                         {
                             const bool miss = !ray.hit[lane];
                             t.sumR[lane] += miss ? carried * t.r[FIRST][lane] : 0.0f;
                             t.sumG[lane] += miss ? carried * t.g[FIRST][lane] : 0.0f;
                             t.sumB[lane] += miss ? carried * t.b[FIRST][lane] : 0.0f;
                         });
        int running = 0;
        for (int lane = 0; lane < count; ++lane)
            running += ray.hit[lane];
        if (running == 0)
            continue;
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
            lanes.setState(lane, ray.hit[lane] ? 0 : IDLE);
        }
        batch.shade(count);
        // Emission does not depend on the sample's numbers.
        batch.run(SrfShader::EMISSION);
        for (int s = first; s < last; ++s)
            addSample(mySettings, myStudio, batch, uint32_t(s), t);
    }
    const float scale = 1.0f / float(samples);
    for (int lane = 0; lane < count; ++lane)
        image.at(x0 + lane % width, y0 + lane / width) = BX_Vector3(t.sumR[lane], t.sumG[lane], t.sumB[lane]) * scale;
}
