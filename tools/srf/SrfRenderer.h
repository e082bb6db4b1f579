#ifndef SRF_TOOL_RENDERER_H
#define SRF_TOOL_RENDERER_H

#include "SrfCamera.h"
#include "SrfImage.h"
#include "SrfStudio.h"

#include <cstdint>

class SrfBatch;
class SrfShader;

// Renders the material preview: the shader's BSDF on a sphere in the
// studio, seen by the fixed camera.
//
// The image is cut into square tiles of TILE x TILE pixels, one lane array
// each (lane = row * tile width + column). For every sample index the
// renderer jitters each pixel's ray, marks the lanes whose ray misses the
// sphere idle (they see the studio directly), runs the shader once for the
// tile, then for the running lanes draws one direction through
// "sample_bsdf@BVVVVIFFI" (mask 15) and adds
//     colour * L(direction) + "emission_bsdf@VB"
// to the pixel. A pixel is the mean over its samples. Threads take tiles in
// turn; every random number depends on (seed, pixel, sample) alone, so the
// image is byte-identical whatever the thread count. (The fitted models of
// measured data ignore sx and sy and draw from a process-wide generator, so
// shaders using them are repeatable on one thread only.)
class SrfRenderer
{
public:
    // 16 x 16 = 256 lanes: one full lane array per tile.
    static const int TILE = 16;

    struct Settings
    {
        int size = 256;       // width and height in pixels
        int samples = 64;     // per pixel
        int threads = 0;      // 0: every core
        uint32_t seed = 1;    // random sequence
        bool progress = true; // a bar on standard error when it is a terminal
        bool perLane = false; // query lane by lane (SRF_BATCH_PER_LANE), for comparison
    };

    SrfRenderer(const SrfShader &shader, const Settings &settings);

    // Renders and returns the image.
    SrfImage render();

    // The thread count that render() uses.
    int threadCount() const;

private:
    void renderTile(SrfBatch &batch, int tile, SrfImage &image) const;

    const SrfShader &myShader;
    Settings mySettings;
    SrfCamera myCamera;
    SrfStudio myStudio;
};

#endif
