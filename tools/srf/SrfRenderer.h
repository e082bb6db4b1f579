#ifndef SRF_TOOL_RENDERER_H
#define SRF_TOOL_RENDERER_H

#include "SrfCamera.h"
#include "SrfFibres.h"
#include "SrfImage.h"
#include "SrfStudio.h"

#include <cstdint>
#include <memory>

class SrfBatch;
class SrfShader;

// Renders the material preview: the shader's BSDF on a sphere in the
// studio, seen by the fixed camera.
//
// The image is cut into square tiles of TILE x TILE pixels, one lane array
// each (lane = row * tile width + column). Each pixel's samples go out in
// groups of samplesPerRay(samples), a group along one jittered camera ray:
// the renderer traces the tile's rays, marks the lanes whose ray misses the
// sphere idle (they see the studio directly), runs the shader once for the
// tile with the hits' geometry and queries "emission_bsdf@VB", then for
// each sample of the group estimates, on the running lanes, the light the
// BSDF sends to the camera:
//  - bsdf sampling: one direction drawn by "sample_bsdf@BVVVVIFFI"
//    (mask 15), colour * L(direction);
//  - multiple importance sampling (the default): three directions, the
//    BSDF's draws of its diffuse type (mask 1) and of its glossy and
//    specular types (mask 6), and one drawn from the studio's lights; each
//    counts value * L weighed by the power heuristic over the three
//    densities (the BSDF's under each mask from "eval_pdf_bsdf@VFBVVVI",
//    the lights'). A specular bounce, and a draw whose density is 0, count
//    colour * L in full.
// A pixel is the mean over its samples, emission included. The tool's own
// per-sample work (random numbers, camera rays and hits, the studio's
// radiance and light sampling, the weights) runs in loops over the tile's
// lanes that the compiler vectorises. Threads take tiles in turn; every
// random number depends on (seed, pixel, ray or sample) alone, so the image
// is byte-identical whatever the thread count. (The fitted models of
// measured data ignore sx and sy and draw from a process-wide generator, so
// shaders using them are repeatable on one thread only.)
class SrfRenderer
{
public:
    // 16 x 16 = 256 lanes: one full lane array per tile.
    static const int TILE = 16;
    // The samples that one camera ray carries: they share its hit and the
    // shader's run there, and differ in the BSDF's and the lights' numbers.
    // A pixel gets at least MIN_RAYS jittered rays (all its samples, when it
    // has fewer), and a ray carries at most MAX_SAMPLES_PER_RAY samples.
    static const int MIN_RAYS = 8;
    static const int MAX_SAMPLES_PER_RAY = 8;
    static int samplesPerRay(int samples);

    struct Settings
    {
        int size = 256;       // width and height in pixels
        int samples = 64;     // per pixel
        int threads = 0;      // 0: every core
        uint32_t seed = 1;    // random sequence
        bool progress = true; // a bar on standard error when it is a terminal
        bool perLane = false; // query lane by lane (SRF_BATCH_PER_LANE), for comparison
        bool mis = true;      // light and BSDF sampling combined; false: BSDF sampling alone
        bool fibres = false;  // a ball of hair fibres (SrfFibres) in place of the sphere
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
    std::unique_ptr<SrfFibres> myFibres;
    SrfStudio myStudio;
};

#endif
