#ifndef SRF_TOOL_PLOTTER_H
#define SRF_TOOL_PLOTTER_H

#include "SrfImage.h"

#include "BX_Vector3.h"

#include <cstdint>

class SrfShader;

// The lobe plot: for one incident direction u at `theta` degrees from the
// normal N = (0, 0, 1) (in the x-z plane), the BSDF's evaluate colour over
// the whole sphere of directions v, beside a histogram of the directions
// that sample draws for the same u.
//
// Each hemisphere is drawn as a disk in Lambert's azimuthal equal-area
// projection (BX_PolarSample::fromEqualAreaDisk), looking down the normal
// (+x right, +y up): a direction at angle t from the pole lands at radius
// sqrt(1 - cos t), so every pixel of a disk covers the same solid angle and
// pixel counts of the histogram are directly a density. Layout: evaluate on
// the left, histogram on the right;
// upper hemisphere (v.N > 0) on top, lower below.
//
// Scales: the evaluate panels are divided by their largest component and
// multiplied by HEADROOM; the histogram is scaled so that its total equals
// the total luminance of the evaluate panels. Where sample draws in
// proportion to evaluate's value, as the diffuse and cosine-power lobes
// do, the two columns then look alike pixel for pixel, up to noise.
class SrfPlotter
{
public:
    static constexpr float HEADROOM = 0.85f;
    static const int GAP = 8; // pixels between and around the panels

    struct Settings
    {
        float theta = 45.0f;     // degrees from the normal
        int panel = 200;         // disk diameter in pixels
        long samples = 1L << 22; // directions drawn for the histogram
        uint32_t seed = 1;
    };

    // What the plot found out about the BSDF for u, besides the picture.
    struct Report
    {
        BX_Vector3 u;
        float albedo = 0.0f;
        float specularRatio = 0.0f;
        int bounces = 0;
        long above = 0, below = 0, none = 0; // sampled directions by side; none: no direction
    };

    SrfPlotter(const SrfShader &shader, const Settings &settings);

    SrfImage plot(Report &report) const;

private:
    const SrfShader &myShader;
    Settings mySettings;
};

#endif
