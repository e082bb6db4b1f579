#ifndef SRF_LANEBATCH_H
#define SRF_LANEBATCH_H

#include "SRF_API.h"

#include "BX_Vector3.h"
#include "KAL_API.h"

// to = value where `write` is true. STORE_IF_WRITTEN stores nothing
// elsewhere (a masked store in a loop vectorised with AVX2 or AVX-512);
// otherwise the old value is stored back (a select, which every vector loop
// takes).
template <bool STORE_IF_WRITTEN, class T> inline void SRFstoreIf(T &to, bool write, T value)
{
    if (STORE_IF_WRITTEN)
    {
        if (write)
            to = value;
    }
    else
        to = write ? value : to;
}

// One vector per lane, as three arrays of KAL_MAX_LANES floats (structure of
// arrays): element `lane` of x, y and z.
struct SRF_LaneVectors
{
    float *x = nullptr;
    float *y = nullptr;
    float *z = nullptr;

    BX_Vector3 get(int lane) const { return BX_Vector3(x[lane], y[lane], z[lane]); }
    void set(int lane, const BX_Vector3 &value) const
    {
        x[lane] = value.x;
        y[lane] = value.y;
        z[lane] = value.z;
    }
    // Writes value where `write` is true and rewrites the old value
    // elsewhere: a select that a lane loop vectorises, where a conditional
    // store would not (see the ownership rule of the batch queries in
    // SRF_BSDF.h). A NaN is written as SRF_LaneBatch::canonical's.
    template <bool STORE_IF_WRITTEN = false> void blend(int lane, bool write, const BX_Vector3 &value) const;
    // Whether one of the x, y and z arrays overlaps the array of floats or
    // ints at `at` over the elements [begin, end).
    bool overlaps(const void *at, int begin, int end) const;
};

// Storage for one SRF_LaneVectors, on the stack of whoever runs a batch.
struct SRF_LaneVectorArrays
{
    float x[KAL_MAX_LANES];
    float y[KAL_MAX_LANES];
    float z[KAL_MAX_LANES];

    SRF_LaneVectors lanes()
    {
        SRF_LaneVectors all;
        all.x = x;
        all.y = y;
        all.z = z;
        return all;
    }
};

// One batch query: its lanes, inputs and outputs, each array indexed by
// lane (see SRF_BSDF.h for what each query reads and writes).
struct SRF_API SRF_LaneBatch
{
    // The lanes: those of [begin, end) whose run flag is non-zero.
    int begin = 0;
    int end = 0;
    const int *run = nullptr;
    // The bounce mask of each lane; ignored when maskFree is set, which asks
    // for the mask-free form of the query.
    const int *mask = nullptr;
    bool maskFree = false;
    // Inputs: u and n; v is evaluate's direction and sample's output.
    SRF_LaneVectors u, n, v;
    const float *sx = nullptr;
    const float *sy = nullptr;
    // Outputs.
    SRF_LaneVectors colour;
    float *scalar = nullptr;
    int *bounce = nullptr;
    // Composite levels above this query; see SRF_BSDF.h.
    int depth = 0;

    bool isRunning(int lane) const { return run[lane] != 0; }
    // The running lanes of [begin, end).
    int runningLanes() const;
    // The mask a lane's query is made with: a composite's mask-free query is
    // its masked query over the three scattering types.
    int maskOf(int lane) const { return maskFree ? int(SCATTER) : mask[lane]; }
    // Whether a lobe of bounce set `bounces` answers the lane rather than
    // writing zeros.
    bool admits(int lane, int bounces) const { return maskFree | ((bounces & mask[lane]) != 0); }

    // The outputs of a lobe's lane, as its masked per-lane query writes
    // them: a running lane the mask admits gets the values, one it does
    // not admit zero colour and scalar (and, for sample, keeps v and
    // bounce); a lane that is not running keeps everything.
    template <bool STORE_IF_WRITTEN = false>
    void putEvaluate(int lane, int bounces, const BX_Vector3 &c, float s) const;
    template <bool STORE_IF_WRITTEN = false>
    void putSample(int lane, int bounces, const BX_Vector3 &direction, const BX_Vector3 &c, float s,
                   int bounceType) const;
    template <bool STORE_IF_WRITTEN = false> void putScalar(int lane, int bounces, float s) const;

    // Mask 7 for every lane.
    static const int *scatterMasks();
    static constexpr int SCATTER = 7;

    // The one NaN the batch queries write, whatever the variant: the quiet
    // NaN of bits 0x7fc00000 in place of any other.
    static float canonical(float x) { return x == x ? x : CANONICAL_NAN; }
    static constexpr float CANONICAL_NAN = __builtin_nanf("");

    // Whether an output array of the query overlaps one of its input
    // arrays over the lanes [begin, end): the aliasing the batch queries
    // forbid. `sampling` says whether v is an output (sample) or an input
    // (evaluate, pdf, evaluatePdf); null arrays are not looked at.
    bool outputsAliasInputs(bool sampling) const;
};

// Every array of one batch query, with `batch` wired to them, on the stack
// of whoever runs the query (the query ops, a host, a binding): inputs and
// outputs as the batch names them, and the run flags and masks it reads.
struct SRF_LaneBatchStorage
{
    SRF_LaneVectorArrays u, n, v, colour;
    float sx[KAL_MAX_LANES], sy[KAL_MAX_LANES], scalar[KAL_MAX_LANES];
    int bounce[KAL_MAX_LANES], run[KAL_MAX_LANES], mask[KAL_MAX_LANES];
    SRF_LaneBatch batch;

    SRF_LaneBatchStorage()
    {
        batch.run = run;
        batch.mask = mask;
        batch.u = u.lanes();
        batch.n = n.lanes();
        batch.v = v.lanes();
        batch.colour = colour.lanes();
        batch.sx = sx;
        batch.sy = sy;
        batch.scalar = scalar;
        batch.bounce = bounce;
    }
    // batch points into this object: it is neither copied nor moved.
    SRF_LaneBatchStorage(const SRF_LaneBatchStorage &) = delete;
    SRF_LaneBatchStorage &operator=(const SRF_LaneBatchStorage &) = delete;
};

template <bool STORE_IF_WRITTEN> inline void SRF_LaneVectors::blend(int lane, bool write, const BX_Vector3 &value) const
{
    SRFstoreIf<STORE_IF_WRITTEN>(x[lane], write, SRF_LaneBatch::canonical(value.x));
    SRFstoreIf<STORE_IF_WRITTEN>(y[lane], write, SRF_LaneBatch::canonical(value.y));
    SRFstoreIf<STORE_IF_WRITTEN>(z[lane], write, SRF_LaneBatch::canonical(value.z));
}

template <bool STORE_IF_WRITTEN>
inline void SRF_LaneBatch::putEvaluate(int lane, int bounces, const BX_Vector3 &c, float s) const
{
    const bool running = isRunning(lane);
    const bool admitted = admits(lane, bounces);
    colour.blend<STORE_IF_WRITTEN>(lane, running, admitted ? c : BX_Vector3(0.0f, 0.0f, 0.0f));
    SRFstoreIf<STORE_IF_WRITTEN>(scalar[lane], running, admitted ? canonical(s) : 0.0f);
}

template <bool STORE_IF_WRITTEN>
inline void SRF_LaneBatch::putSample(int lane, int bounces, const BX_Vector3 &direction, const BX_Vector3 &c, float s,
                                     int bounceType) const
{
    const bool running = isRunning(lane);
    const bool admitted = admits(lane, bounces);
    v.blend<STORE_IF_WRITTEN>(lane, running & admitted, direction);
    SRFstoreIf<STORE_IF_WRITTEN>(bounce[lane], running & admitted, bounceType);
    colour.blend<STORE_IF_WRITTEN>(lane, running, admitted ? c : BX_Vector3(0.0f, 0.0f, 0.0f));
    SRFstoreIf<STORE_IF_WRITTEN>(scalar[lane], running, admitted ? canonical(s) : 0.0f);
}

template <bool STORE_IF_WRITTEN> inline void SRF_LaneBatch::putScalar(int lane, int bounces, float s) const
{
    SRFstoreIf<STORE_IF_WRITTEN>(scalar[lane], isRunning(lane), admits(lane, bounces) ? canonical(s) : 0.0f);
}

// How the query ops and the batch queries run. The default picks the widest
// vector variant the processor has; the others are for comparison and
// debugging, and every variant gives bit-identical results.
enum SRF_BatchMode
{
    SRF_BATCH_AUTO = 0,     // the widest variant this processor runs
    SRF_BATCH_PER_LANE = 1, // no batch: the query ops call the per-lane queries
    SRF_BATCH_SCALAR = 2,   // batch queries, loops not vectorised
    SRF_BATCH_SSE2 = 3,     // 4 floats a step, the x86-64 baseline
    SRF_BATCH_AVX2 = 4,     // 8 floats a step
    SRF_BATCH_AVX512 = 5    // 16 floats a step
};

// Sets the mode for the whole process; a variant the processor lacks falls
// back to the widest it has. AUTO, the default, takes the mode that the
// environment variable SRF_BATCH names (auto, per-lane, scalar, sse2, avx2,
// avx512), for debugging a host in the field; unset, it runs the widest
// variant and answers a query lane by lane where too few lanes run for the
// vector loop to pay. Safe to call from any thread, but a query
// running meanwhile may finish in either mode.
SRF_API void SRFsetBatchMode(SRF_BatchMode mode);
// The mode in effect: AUTO resolved to the variant it picks.
SRF_API SRF_BatchMode SRFbatchMode();
// Whether this processor runs the variant.
SRF_API bool SRFbatchModeSupported(SRF_BatchMode mode);

#endif
