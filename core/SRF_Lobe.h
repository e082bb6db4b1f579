#ifndef SRF_LOBE_H
#define SRF_LOBE_H

#include "SRF_BSDF.h"

// The kind of a lobe's parameter block: one vector or one float per lane.
enum SRF_BlockKind
{
    SRF_BLOCK_VECTOR,
    SRF_BLOCK_FLOAT
};

// One parameter block of a lobe, as its schema names it for the constructor
// ops, the Python constructors and the tests: its name, its kind, what it
// means, its place among the constructor's arguments (the constructor op's
// argument position + 1), and whether it is a cosine-power exponent, whose
// meaningful values are 0 and up (the Python constructors refuse others;
// the ops pass any value on).
struct SRF_BlockField
{
    const char *name;
    SRF_BlockKind kind;
    const char *meaning;
    int position;
    bool exponent = false;
};

// The most parameter blocks an analytic lobe has.
constexpr int SRF_MAX_LOBE_BLOCKS = 5;

// The parameter blocks of one analytic lobe, in field order (its vector
// blocks, then its float blocks).
struct SRF_LobeBlocks
{
    void *block[SRF_MAX_LOBE_BLOCKS] = {};

    const BX_Vector3 *vectors(int field) const { return static_cast<const BX_Vector3 *>(block[field]); }
    const float *floats(int field) const { return static_cast<const float *>(block[field]); }
};

// What a lobe kernel answers: evaluate's colour and output scalar; a drawn
// direction and its colour weight; the value that sample's weight
// estimates and the density of its draws (SRF_BSDF.h).
struct SRF_LobeValue
{
    BX_Vector3 colour;
    float scalar;
};
struct SRF_LobeDraw
{
    BX_Vector3 v;
    BX_Vector3 weight;
};
struct SRF_LobeDensity
{
    BX_Vector3 value;
    float pdf;
};

// An analytic lobe: a kernel (lobes/SRF_<Name>Kernel.h) holds its schema and
// its formulas, written once over the maths; this driver makes it an
// SRF_BSDF. It owns the lobe's blocks, answers every per-lane query with the
// C library's maths and every batch query with lane loops over the
// vectorisable maths, and duplicates, flattens and dumps the lobe. A host's
// subclass of a lobe, which may override any per-lane query, is answered
// lane by lane in the batch queries.
template <class Kernel> class SRF_API SRF_Lobe : public SRF_BSDF
{
public:
    // Takes ownership of the blocks; the bounce set is the kernel's for
    // these blocks, or the one given.
    explicit SRF_Lobe(const SRF_LobeBlocks &blocks);
    SRF_Lobe(const SRF_LobeBlocks &blocks, int bounceSet);
    ~SRF_Lobe() override;

    const char *className() const override;

    using SRF_BSDF::albedo;
    using SRF_BSDF::evaluate;
    using SRF_BSDF::sample;
    using SRF_BSDF::specularRatio;

    float albedo(const BX_Vector3 &u, const BX_Vector3 &n, int lane) const override;
    float specularRatio(int lane) const override;
    void evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                  int lane) const override;
    void sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar, int &bounce,
                float sx, float sy, int lane) const override;
    void emission(BX_Vector3 &colour, int lane) const override;
    float pdf(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, int lane, int mask) const override;
    void evaluatePdf(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &value, float &pdf,
                     int lane, int mask) const override;

    void sampleBatch(const SRF_LaneBatch &batch) const override;
    void evaluateBatch(const SRF_LaneBatch &batch) const override;
    void albedoBatch(const SRF_LaneBatch &batch) const override;
    void specularRatioBatch(const SRF_LaneBatch &batch) const override;
    void emissionBatch(const SRF_LaneBatch &batch) const override;
    void pdfBatch(const SRF_LaneBatch &batch) const override;
    void evaluatePdfBatch(const SRF_LaneBatch &batch) const override;

    SRF_BSDF *duplicate(int count) const override;
    void flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &vectors,
                 BX_PtrArray<float *> &floats) override;
    void dump(int indent) const override;

    // The lobe's blocks, in field order.
    const SRF_LobeBlocks &blocks() const { return myBlocks; }

private:
    // Whether this object is the lobe's own class, whose batch queries may
    // run the kernel inline.
    bool isOwnClass() const;
    // Runs body(batch, lane's parameters, bounce set, lane) over the batch's
    // running lanes in the vector variant of the batch mode, or perLane()
    // for a host's subclass; `sampling` says whether v is an output (debug
    // builds check that no output aliases an input).
    template <class PerLane, class Body>
    void overLanes(const SRF_LaneBatch &batch, bool sampling, PerLane perLane, Body body) const;

    SRF_LobeBlocks myBlocks;
};

#endif
