#include "SrfPlotter.h"

#include "SRF_Constants.h"
#include "SrfBatch.h"
#include "SrfRandom.h"
#include "SrfShader.h"

#include "BX_PolarSample.h"
#include "KAL_API.h"

#include <cmath>
#include <vector>

namespace
{
const float DEGREES = SRF_PI / 180.0f;
const BX_Vector3 NORMAL(0.0f, 0.0f, 1.0f);
const BX_Vector3 BACKGROUND(0.02f, 0.02f, 0.02f);
const BX_Vector3 RIM(0.25f, 0.25f, 0.25f);
const int IDLE = 1;

float luminance(const BX_Vector3 &c) { return 0.2126f * c.x + 0.7152f * c.y + 0.0722f * c.z; }
bool isFinite(const BX_Vector3 &v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// Panel pixel (i, j) as a disk point (x, y), y up.
void panelPoint(int i, int j, int size, float &x, float &y)
{
    x = 2.0f * (float(i) + 0.5f) / float(size) - 1.0f;
    y = 1.0f - 2.0f * (float(j) + 0.5f) / float(size);
}
} // namespace

SrfPlotter::SrfPlotter(const SrfShader &shader, const Settings &settings) : myShader(shader), mySettings(settings) {}

SrfImage SrfPlotter::plot(Report &report) const
{
    const int size = mySettings.panel;
    const float theta = mySettings.theta * DEGREES;
    const BX_Vector3 u(std::sin(theta), 0.0f, std::cos(theta));
    report = Report();
    report.u = u;

    // One flat shading point, the same in every lane.
    SrfBatch batch(myShader);
    for (int lane = 0; lane < KAL_MAX_LANES; ++lane)
    {
        batch.setGeometry(lane, NORMAL, BX_Vector3(1.0f, 0.0f, 0.0f), BX_Vector3(0.0f, 1.0f, 0.0f));
        batch.u(lane) = u;
    }
    batch.shade(KAL_MAX_LANES);
    KAL_ProcArray &lanes = batch.lanes();

    lanes.setCount(1);
    batch.run(SrfShader::ALBEDO);
    batch.run(SrfShader::SPECULAR_RATIO);
    batch.run(SrfShader::BOUNCES);
    report.albedo = batch.albedo(0);
    report.specularRatio = batch.specularRatio(0);
    report.bounces = batch.bounces(0);

    // Evaluate every disk pixel of both hemispheres, a lane array at a time.
    // values[h][j * size + i]; the pixels off the disk stay idle lanes.
    std::vector<BX_Vector3> values[2];
    std::vector<char> inside(size_t(size) * size);
    for (int j = 0; j < size; ++j)
        for (int i = 0; i < size; ++i)
        {
            float x, y;
            panelPoint(i, j, size, x, y);
            inside[size_t(j) * size + i] = x * x + y * y <= 1.0f;
        }
    float largest = 0.0f;
    for (int h = 0; h < 2; ++h)
    {
        values[h].assign(size_t(size) * size, BX_Vector3());
        const long pixels = long(size) * size;
        for (long first = 0; first < pixels; first += KAL_MAX_LANES)
        {
            const int count = int(pixels - first < KAL_MAX_LANES ? pixels - first : KAL_MAX_LANES);
            lanes.setCount(count);
            for (int lane = 0; lane < count; ++lane)
            {
                const long p = first + lane;
                float x, y;
                panelPoint(int(p % size), int(p / size), size, x, y);
                lanes.setState(lane, inside[p] ? 0 : IDLE);
                batch.v(lane) = BX_PolarSample::fromEqualAreaDisk(x, y, h == 0);
            }
            batch.run(SrfShader::EVALUATE);
            for (int lane = 0; lane < count; ++lane)
            {
                if (!lanes.isRunning(lane))
                    continue;
                BX_Vector3 c = batch.value(lane);
                if (!isFinite(c))
                    c = BX_Vector3();
                values[h][first + lane] = c;
                largest = std::fmax(largest, std::fmax(c.x, std::fmax(c.y, c.z)));
            }
        }
    }

    // Draw directions and count them per disk pixel.
    std::vector<long> counts[2] = {std::vector<long>(size_t(size) * size, 0),
                                   std::vector<long>(size_t(size) * size, 0)};
    const SrfRandom random(mySettings.seed, 0);
    lanes.setCount(KAL_MAX_LANES);
    for (long first = 0; first < mySettings.samples; first += KAL_MAX_LANES)
    {
        const int count = int(mySettings.samples - first < KAL_MAX_LANES ? mySettings.samples - first : KAL_MAX_LANES);
        lanes.setCount(count);
        for (int lane = 0; lane < count; ++lane)
        {
            batch.sx(lane) = random.uniform(uint32_t(first + lane), 0);
            batch.sy(lane) = random.uniform(uint32_t(first + lane), 1);
        }
        batch.run(SrfShader::SAMPLE);
        for (int lane = 0; lane < count; ++lane)
        {
            BX_Vector3 v = batch.direction(lane);
            if (!isFinite(v) || v.normalize() == 0.0f)
            {
                ++report.none;
                continue;
            }
            const bool upper = v.dot(NORMAL) > 0.0f;
            ++(upper ? report.above : report.below);
            float x, y;
            BX_PolarSample::toEqualAreaDisk(v, x, y);
            int i = int(std::floor((x + 1.0f) * 0.5f * float(size)));
            int j = int(std::floor((1.0f - y) * 0.5f * float(size)));
            i = i < 0 ? 0 : (i >= size ? size - 1 : i);
            j = j < 0 ? 0 : (j >= size ? size - 1 : j);
            ++counts[upper ? 0 : 1][size_t(j) * size + i];
        }
    }

    // Scales: evaluate to its largest component, the histogram to the same
    // total luminance.
    const float valueScale = largest > 0.0f ? HEADROOM / largest : 0.0f;
    double totalLuminance = 0.0, totalCount = 0.0;
    for (int h = 0; h < 2; ++h)
        for (size_t p = 0; p < values[h].size(); ++p)
        {
            totalLuminance += luminance(values[h][p] * valueScale);
            totalCount += double(counts[h][p]);
        }
    const float countScale = totalCount > 0.0 ? float(totalLuminance / totalCount) : 0.0f;

    const int side = 2 * size + 3 * GAP;
    SrfImage image(side, side);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            image.at(x, y) = BACKGROUND;
    for (int h = 0; h < 2; ++h)
        for (int column = 0; column < 2; ++column)
        {
            const int left = GAP + column * (size + GAP), top = GAP + h * (size + GAP);
            for (int j = -1; j <= size; ++j)
                for (int i = -1; i <= size; ++i)
                {
                    float x, y;
                    panelPoint(i, j, size, x, y);
                    const float r2 = x * x + y * y;
                    if (r2 > 1.0f)
                    {
                        // A thin rim just outside the disk shows its edge.
                        const float step = 2.0f / float(size);
                        if (r2 <= (1.0f + step) * (1.0f + step))
                            image.at(left + i, top + j) = RIM;
                        continue;
                    }
                    const size_t p = size_t(j) * size + i;
                    image.at(left + i, top + j) =
                        column == 0 ? values[h][p] * valueScale
                                    : BX_Vector3(1.0f, 1.0f, 1.0f) * (float(counts[h][p]) * countScale);
                }
        }
    return image;
}
