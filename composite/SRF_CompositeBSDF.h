#ifndef SRF_COMPOSITEBSDF_H
#define SRF_COMPOSITEBSDF_H

#include "SRF_BSDF.h"

#include <cstddef>
#include <new>

// SRF_CompositeBSDF: what the four composites (Sum, Scale, Mul, Switch) share.
//
// A composite answers every mask-free query through its own masked query
// over the three scattering types, so that emission never leaks into a
// sampled or evaluated value. It never tests its own bounce set against a
// mask: only its operands' bounce sets are tested (an operand is eligible
// when it shares a bounce type with the mask).
//
// The arithmetic that several composites use lives here once: eligibility,
// the albedo-proportional choice of an operand with the rescaled random
// number and its weight, reweighting and modulating an output, the pre-order
// flatten of two operands, and taking storage for a duplicate before its
// operands are duplicated.
class SRF_API SRF_CompositeBSDF : public SRF_BSDF
{
public:
    using SRF_BSDF::albedo;
    using SRF_BSDF::evaluate;
    using SRF_BSDF::sample;
    using SRF_BSDF::specularRatio;

    void sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar, int &bounce,
                float sx, float sy, int lane) const final;
    float albedo(const BX_Vector3 &u, const BX_Vector3 &n, int lane) const final;
    void evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                  int lane) const final;
    float specularRatio(int lane) const final;

    // The pdf of the composite's evaluatePdfBatch (its values into scratch).
    void pdfBatch(const SRF_LaneBatch &batch) const override;

    // The nodes a query of this tree may visit, a shared subtree once per
    // path to it; saturates at MAX_QUERY_NODES.
    int queryNodes() const { return myQueryNodes; }
    // The same for any BSDF: 0 for null, 1 for a leaf.
    static int queryNodes(const SRF_BSDF *bsdf);
    // The nodes a query of a composite over first and second (either may be
    // null) would visit: 1 + both counts, saturating at MAX_QUERY_NODES, so
    // that no sum of saturated counts wraps around to a small number.
    static int queryNodes(const SRF_BSDF *first, const SRF_BSDF *second);
    static constexpr int MAX_QUERY_NODES = 1 << 30;
    // A query visits every node of a tree once per path to it, so a tree
    // whose subtrees are shared ("add@BB F F" again and again) costs time
    // exponential in the shader's length, and a long chain of composites
    // recurses as deep as it is long. The ops and the Python module build no
    // tree that a query would visit more than this many nodes of.
    static constexpr int MAX_TREE_NODES = 4096;

protected:
    // Counts this node over its operands: 1 + the operands' query nodes.
    void countQueryNodes(const SRF_BSDF *first, const SRF_BSDF *second);

    // The pick of one of two operands made from a random number in [0, 1].
    struct OperandChoice
    {
        bool first;   // the first operand was picked
        float sx;     // the random number rescaled to [0, 1] for the pick
        float weight; // the inverse of the pick's probability
    };

    // An operand takes part in a masked query when its bounce set shares a
    // type with the mask.
    static bool isEligible(const SRF_BSDF &operand, int mask) { return operand.hasBounce(mask); }

    // Picks operand i with probability a_i / A, A = a1 + a2: with t = sx A,
    // the first when t < a1 (sx' = t / a1, weight A / a1), else the second
    // (sx' = (t - a1) / (A - a1), weight A / (A - a1)). When A - a1 is 0
    // (sx = 1 and a2 = 0, or a2 lost to rounding) the first is picked with
    // sx' = 1 and weight A / a1, which stays finite. False when A <= 0: there
    // is nothing to pick in proportion to.
    // Inline, for the batch queries' lane loops.
    static bool chooseByAlbedo(float sx, float a1, float a2, OperandChoice &choice)
    {
        const float total = a1 + a2;
        const float t = sx * total;
        const float rest = total - a1;
        const bool first = (t < a1) | !(rest > 0.0f);
        const float rescaled = t / a1;
        choice.first = first;
        choice.sx = first ? (rescaled < 1.0f ? rescaled : 1.0f) : (t - a1) / rest;
        choice.weight = first ? total / a1 : total / rest;
        return total > 0.0f;
    }

    // The batch an operand is asked: the same lanes, inputs and outputs, one
    // composite level deeper and masked (a composite's mask-free query is its
    // query over the three scattering types).
    static SRF_LaneBatch operandBatch(const SRF_LaneBatch &batch)
    {
        SRF_LaneBatch sub = batch;
        sub.mask = batch.maskFree ? SRF_LaneBatch::scatterMasks() : batch.mask;
        sub.maskFree = false;
        sub.depth = batch.depth + 1;
        return sub;
    }
    // Below MAX_BATCH_DEPTH levels a subtree is answered lane by lane, so
    // that the stack the temporaries take stays bounded; so is a query
    // whose running lanes are too few for the batch to pay (SRFbatchPays).
    static bool answerLaneByLane(const SRF_LaneBatch &batch);
    // Both operands' emissions joined lane by lane in the running lanes of
    // `batch`: their sum, or their product component by component.
    static void joinEmissions(const SRF_LaneBatch &batch, const SRF_BSDF &first, const SRF_BSDF &second, bool multiply);
    // At the top of a query (depth 0), rewrites every NaN among the running
    // lanes' outputs as SRF_LaneBatch::canonical's: an operand's NaN and
    // one the composite's arithmetic makes reach the caller with the same
    // bits in every vector variant.
    enum
    {
        OUT_SCALAR = 1,
        OUT_COLOUR = 2,
        OUT_DIRECTION = 4
    };
    static void canonicalAtTop(const SRF_LaneBatch &batch, int outputs);
    // eligible[lane]: the lane runs and the operand shares a bounce type with
    // the lane's mask.
    static void eligibleLanes(const SRF_LaneBatch &operandLanes, const SRF_BSDF &operand, int *eligible);
    // How many running lanes have a mask that shares a bounce type with the
    // operand: none, for the operands of the other types in a query under a
    // mask of one type.
    static int admittedLanes(const SRF_LaneBatch &operandLanes, const SRF_BSDF &operand);

    // colour *= w, scalar *= w.
    static void reweight(BX_Vector3 &colour, float &scalar, float weight);
    // colour *= c component by component, scalar *= s.
    static void modulate(BX_Vector3 &colour, float &scalar, const BX_Vector3 &byColour, float byScalar);
    // colour *= c component by component.
    static void modulate(BX_Vector3 &colour, const BX_Vector3 &byColour);

    // Pre-order flatten of a node with two operands: the node, then the first
    // subtree, then the second.
    static void flattenPair(SRF_BSDF *node, SRF_BSDF *first, SRF_BSDF *second, BX_PtrArray<SRF_BSDF *> &bsdfs,
                            BX_PtrArray<BX_Vector3 *> &vectors, BX_PtrArray<float *> &floats);

    // Storage for a composite of `size` bytes from the shared allocator, taken
    // before its operands are duplicated so that a failure duplicates nothing;
    // null when none can be had. giveBackStorage returns it unconstructed.
    static void *takeStorage(std::size_t size) { return SRF_BSDF::operator new(size); }
    static void giveBackStorage(void *storage, std::size_t size) { SRF_BSDF::operator delete(storage, size); }

    // A copy of a two-operand composite: storage first, then the second
    // operand's copy, then the first's, built as Pair(first, second). An
    // operand that cannot be copied (a tabulated BSDF) makes the whole copy
    // fail: what was taken is given back and the result is null.
    template <class Pair> static SRF_BSDF *duplicatePair(const SRF_BSDF &first, const SRF_BSDF &second, int count)
    {
        void *storage = takeStorage(sizeof(Pair));
        if (!storage)
            return nullptr;
        SRF_BSDF *secondCopy = second.duplicate(count);
        SRF_BSDF *firstCopy = secondCopy ? first.duplicate(count) : nullptr;
        if (!firstCopy)
        {
            releaseOperand(secondCopy);
            giveBackStorage(storage, sizeof(Pair));
            return nullptr;
        }
        return new (storage) Pair(firstCopy, secondCopy);
    }

    // Drops one reference to an operand (null is allowed).
    static void releaseOperand(const SRF_BSDF *operand)
    {
        if (operand)
            operand->decRefCount();
    }

private:
    int myQueryNodes = 1;
};

#endif
