#ifndef SRF_TEST_REGISTRY_H
#define SRF_TEST_REGISTRY_H

// Every BSDF class of the library, built on pooled blocks filled lane by
// lane, for the tests that hold for all of them at once (the contract, bad
// input, no allocation).

#include "BX_Vector3.h"
#include "SRF_BSDF.h"

#include <functional>
#include <vector>

namespace Registry
{
// The parameters of one lane, in the order a class's constructor names its
// blocks: up to three vectors and two floats.
struct Lane
{
    BX_Vector3 v[3];
    float f[2];
};
using Fill = std::function<Lane(int lane)>;

// Hands out blocks filled from `fill` and records them in the order taken.
// A class's maker takes them in the order flatten lists them, so the record
// is what flatten must give back.
struct Maker
{
    explicit Maker(Fill filler) : fill(std::move(filler)) {}
    BX_Vector3 *v(int k);
    float *f(int k);
    Fill fill;
    std::vector<BX_Vector3 *> vectors;
    std::vector<float *> floats;
};

// Analytic lobes and the BSDFs on data (measured, tabulated) are equal to
// any BSDF of their class; composites compare their operands.
enum Kind
{
    ANALYTIC,
    COMPOSITE,
    DATA
};

struct Class
{
    const char *name;
    int bounces;
    Kind kind;
    bool duplicable; // duplicate gives a copy (a tabulated BSDF gives null)
    SRF_BSDF *(*make)(Maker &);
};

// The ten analytic lobes first, then the composites over lobes, the
// measured lobe (on the bundled example's fit) and the wavelet BSDF.
const std::vector<Class> &all();
const Class &named(const char *name);

// A BSDF of the named class whose every lane holds `lane`.
SRF_BSDF *make(const char *name, const Lane &lane);

// Lanes that differ from each other and from lane to lane of one block.
Lane varied(int lane);
} // namespace Registry

#endif
