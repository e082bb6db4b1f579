#ifndef SRF_BSDF_H
#define SRF_BSDF_H

#include "SRF_API.h"

#include "BX_PtrArray.h"
#include "BX_SmallObject.h"
#include "BX_Vector3.h"
#include "KAL_RefType.h"
#include "SRF_LaneBatch.h"

// Bounce types: bits of SRF_BSDF::bounces and of every query mask.
enum
{
    SRF_BOUNCE_DIFFUSE = 1,
    SRF_BOUNCE_GLOSSY = 2,
    SRF_BOUNCE_SPECULAR = 4,
    SRF_BOUNCE_EMISSION = 8,
    SRF_BOUNCE_SCATTER = 7, // the three scattering types
    SRF_BOUNCE_ALL = 15
};

class SRF_BSDF;

// True when a and b lie on the same side of the plane of `normal`:
// (a.normal > 0) == (b.normal > 0); a direction in the plane counts as below
// it. Inline for the lobes' lane loops.
inline bool SRFsameHemisphere(const BX_Vector3 &a, const BX_Vector3 &normal, const BX_Vector3 &b)
{
    return (a.dot(normal) > 0.0f) == (b.dot(normal) > 0.0f);
}

using SRF_BSDFBase = BX_SmallObject<SRF_BSDF, 0, 32, 1, 128, KAL_RefType>;

// SRF_BSDF: the reference-counted base of every BSDF.
//
// One object serves every lane of a shader run. Its parameters are blocks
// from the runtime's data pool holding one value per lane; every query names
// the lane whose values it uses (element `lane` of each block). A BSDF never
// changes after construction: all queries are const, take no lock and write
// only their outputs, so any number of threads may query one object.
//
// Arguments of the queries:
//   u      the fixed direction (toward the viewer or previous path vertex),
//          pointing away from the surface;
//   n      the normal that decides on which side of the surface a direction
//          lies;
//   v      for evaluate, the direction evaluated (away from the surface);
//          for sample, the direction drawn (output);
//   colour the colour weight written by sample and evaluate: the bare shape
//          of the lobe, without normalising factors;
//   scalar the output scalar: for a lobe its albedo for u, n and lane;
//          composites scale and add it;
//   bounce the bounce type that produced the sampled v (output of sample);
//   sx, sy the two random numbers of sample, each in [0, 1];
//   lane   the lane index, assumed valid by the caller.
// Vectors are used exactly as passed: nothing is normalised unless a lobe
// says so.
//
// Masks: the public masked forms first test (bounces AND mask). When that is
// 0, sample writes colour = 0 and scalar = 0 and leaves v and bounce as the
// caller had them, evaluate writes colour = 0 and scalar = 0, and albedo and
// specularRatio return 0. Otherwise they call the mask-free form.
//
// Ownership: a new BSDF carries one reference, held by whoever receives it;
// storing another adds one (addRefCount), decRefCount drops one and destroys
// the object at the last. A BSDF owns the parameter blocks it was built on
// and releases each non-null one to the pool in its destructor; composites
// adopt the references of their operands and drop them when destroyed. All
// BSDF objects come from one shared small-object allocator.
//
// duplicate(count): a new object of the same class on new blocks holding the
// first `count` elements of each block (composites duplicate their operands),
// with one reference held by the caller; null when storage cannot be had.
// flatten(bsdfs, vectors, floats): appends this object, then its vector and
// float blocks in field order, then flattens its operands in order; it copies
// nothing and transfers no ownership.
//
// Nothing throws and nothing reports: failures show as null BSDFs or zero
// outputs.
//
// Directions, cosines and what the scalar means:
//   - u and v both point away from the surface (v is not the incoming
//     direction reversed); n only decides sides. The densities below hold
//     for unit u, n and v, and for the unit axes and normals that the lobes'
//     samplers assume (a lobe uses its vectors as stored).
//   - evaluate's colour is the lobe's bare shape, with no cosine and no
//     normalisation; the scalar is the albedo used to choose between
//     operands (a Sum samples each in proportion to it), not a reflectance.
//   - sample's colour is the weight to multiply the light from v by: the
//     reflectance a renderer integrates is the mean weight, not evaluate.
//
// pdf(u, n, v, lane, mask) is the density per steradian, over the whole
// sphere, with which the masked sample draws v; 0 where it never draws and
// for the delta (mirror) lobe. evaluatePdf adds value(v) = E[colour | v]
// pdf(v), the function that sample's weight estimates: for any light L,
// the mean of colour L(v) over sample's draws is the integral of value L,
// so a light sample of density p_L weighs value L / p_L, and both combine
// by multiple importance sampling. How the value relates to evaluate's
// colour f, class by class (c the cosine a lobe's sampler draws with):
//   Isotropic       value = f / (4 pi)              (f = 1, the whole sphere)
//   WireDiffuse     value = sqrt(f) / (4 pi)        (weight: the sine to T)
//   Phong           value = (e+1)/(2 pi) (D.w)^(2e+1), w = v and its fold
//   Cone            value = pdf = (D.w) / (pi sin^2 alpha) inside the cone
//   Blinn           value = (e+1)/(2 pi) c^(2e) / (16 (h.u)^2), per w
//   Ashikhmin, WireBlinn, Measured, WaveletBSDF
//                   value = f pdf                   (the weight is f)
//   Lafortune       diffuse lanes: value = |N'.v| pdf; glossy: the
//                   disk's r^2 times the stretched cosine-power density
//   Specular, Emission   value = pdf = 0
//   Sum   value = sum of the operands' values, pdf the albedo mixture;
//   Scale value = c value_operand; Mul value = value_first f_second;
//   Switch the picked entry's.
//
// Batch queries (sampleBatch, evaluateBatch, albedoBatch,
// specularRatioBatch, emissionBatch, getBouncesBatch) answer one query for
// many lanes at once, as the query ops ask it: lane by lane the per-lane
// query's values, within 1e-5 relative where the library's vectorisable
// maths stand in for the C library's, except for sample's colour weight of
// the lobes with an exponent e (Phong, Blinn, Ashikhmin, Lafortune,
// WireBlinn), whose power amplifies a float's rounding of the drawn
// direction and of the cosines derived from it: there the bound is
// 2e-5 + 1e-6 e, relative, on an orthonormal frame (3.6e-4 measured for
// WireBlinn at e = 1000); and for the diffuse draws of Lafortune's diffuse
// lanes, whose cosine to the normal, sqrt(1 - x^2 - y^2) of a disk point,
// cancels at the rim: there the weights' squares agree within 3e-7, which
// near the horizon is up to 15 % of a weight of 6e-4.
// The vector variants give the same bits. They take one SRF_LaneBatch:
//   lanes   the lanes of [begin, end) whose run flag is non-zero; every
//           output of every other lane holds, when the query returns, what
//           it held before, and the inputs of every lane of [begin, end)
//           must be readable;
//   owner   while it runs, a query owns the elements [begin, end) of its
//           output arrays, idle lanes' included: the composites' loops and
//           the SSE2 loop store an idle lane's old value back (the lobes'
//           queries in the scalar, AVX2 and AVX-512 loops and lane by lane
//           store masked and leave idle lanes unwritten). Two queries that
//           run at once must not share an element of [begin, end) of an
//           output array: split lanes between threads by range, not by run
//           flag;
//   aliases no output array may share an element of [begin, end) with an
//           input array (v is an input of evaluate, pdf and evaluatePdf and
//           an output of sample): a composite's first operand writes its
//           outputs before the second reads the inputs. Debug builds
//           assert on it (SRF_LaneBatch::outputsAliasInputs);
//   NaN     every NaN written has the bits of SRF_LaneBatch::CANONICAL_NAN,
//           whatever the variant;
//   layout  structure of arrays: every input and output array (the x, y and
//           z arrays of a vector, the scalars, masks, random numbers and
//           bounce types) has an element per lane, indexed by the lane,
//           like the parameter blocks;
//   masks   mask[lane] is the lane's mask, and each query acts as its masked
//           per-lane form; with maskFree set, as its mask-free form;
//   inputs  u, n, v (evaluate), sx and sy (sample);
//   outputs sample writes v, colour, scalar and bounce; evaluate colour and
//           scalar; albedo and specularRatio scalar; emission colour;
//           getBounces bounce.
// The base class answers each running lane with the per-lane virtual query,
// so every class works unchanged; the analytic lobes and the composites
// override them with loops the compiler vectorises, computing each formula
// with the same inline function as their per-lane query. A lobe's override
// serves its own class only: a host's subclass of a lobe, which may
// override any per-lane query, is answered lane by lane. A query op keeps
// its lanes' arrays on the stack (18 KiB) and composites their temporaries
// (up to 9 KiB a level); below MAX_BATCH_DEPTH composite levels a subtree is
// answered lane by lane, so a query takes at most about 75 KiB of stack.
class SRF_API SRF_BSDF : public SRF_BSDFBase
{
public:
    SRF_BSDF();
    ~SRF_BSDF() override;

    const char *className() const override;
    // True exactly when the other value has the same class name.
    bool isEqual(const KAL_RefType &other, float tolerance) const override;

    virtual int getBounces(int lane) const;

    virtual void sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                        int &bounce, float sx, float sy, int lane) const = 0;
    virtual void sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                        int &bounce, float sx, float sy, int lane, int mask) const;

    virtual float albedo(const BX_Vector3 &u, const BX_Vector3 &n, int lane) const = 0;
    virtual float albedo(const BX_Vector3 &u, const BX_Vector3 &n, int lane, int mask) const;

    virtual void evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                          float &scalar, int lane) const = 0;
    virtual void evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                          float &scalar, int lane, int mask) const;

    virtual float specularRatio(int lane) const = 0;
    virtual float specularRatio(int lane, int mask) const;

    // The emitted colour; (0, 0, 0) unless the class emits.
    virtual void emission(BX_Vector3 &colour, int lane) const;

    // One line per node on the standard error stream, indented by `indent`.
    virtual void dump(int indent) const;

    // The density per steradian, over the whole sphere, with which the
    // masked sample draws v for u, n and lane: 0 where sample never draws
    // (a mask that shares no bit with the bounces included), and 0 for a
    // delta lobe. The base class answers evaluatePdf's pdf.
    virtual float pdf(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, int lane, int mask) const;
    // pdf, and the value that sample's colour weight estimates: for every
    // light L, the mean of colour * L(v) over sample's draws equals the
    // integral of value(v) L(v) dv, so value(v) = E[colour | v] pdf(v). A
    // light-sampling estimator value * L / p_light then agrees with
    // sample's in expectation. The base class, which knows nothing of a
    // subclass's sampling, answers zero for both: such a BSDF is only ever
    // sampled.
    virtual void evaluatePdf(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &value,
                             float &pdf, int lane, int mask) const;

    virtual SRF_BSDF *duplicate(int count) const = 0;
    virtual void flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &vectors,
                         BX_PtrArray<float *> &floats) = 0;

    // Batch queries: the queries above for many lanes at once (see the
    // contract above the class).
    virtual void sampleBatch(const SRF_LaneBatch &batch) const;
    virtual void evaluateBatch(const SRF_LaneBatch &batch) const;
    virtual void albedoBatch(const SRF_LaneBatch &batch) const;
    virtual void specularRatioBatch(const SRF_LaneBatch &batch) const;
    virtual void emissionBatch(const SRF_LaneBatch &batch) const;
    virtual void getBouncesBatch(const SRF_LaneBatch &batch) const;
    // pdf into scalar; evaluatePdf's value into colour and pdf into scalar.
    virtual void pdfBatch(const SRF_LaneBatch &batch) const;
    virtual void evaluatePdfBatch(const SRF_LaneBatch &batch) const;

    // Composite levels whose batch queries keep temporaries on the stack.
    static constexpr int MAX_BATCH_DEPTH = 6;

    bool hasBounce(int mask) const { return (bounces & mask) != 0; }
    int getBounces() const { return bounces; }

    // Pooled per-lane blocks of vectors, floats and ints; release does not
    // test for null.
    static BX_Vector3 *allocVector();
    static float *allocFloat();
    static int *allocInteger();
    static void release(BX_Vector3 *block);
    static void release(float *block);
    static void release(int *block);

protected:
    // A new block whose first `count` elements are copied from `from`; null
    // when the pool has no block.
    BX_Vector3 *copy(const BX_Vector3 *from, int count) const;
    float *copy(const float *from, int count) const;
    int *copy(const int *from, int count) const;

    // True when a and b lie on the same side of the plane of `normal`:
    // (a.normal > 0) == (b.normal > 0); a direction in the plane counts as
    // below it.
    bool sameHemisphere(const BX_Vector3 &a, const BX_Vector3 &normal, const BX_Vector3 &b) const;
    // |a.b|, without normalising.
    float cosine(const BX_Vector3 &a, const BX_Vector3 &b) const;

    // Writes the "%*c<name>\n" line that every node of a dump starts with.
    void dumpName(int indent) const;

    int bounces;
};

#endif
