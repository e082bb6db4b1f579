#ifndef SRF_PY_QUERIES_H
#define SRF_PY_QUERIES_H

class BX_Vector3;
class SRF_BSDF;

// The rows of one input: row i is data[i * step], so that an input of one
// row serves every lane with step 0, read in place rather than repeated.
template <class T> struct SrfPyRows
{
    const T *data;
    long step;

    const T &operator[](long i) const { return data[i * step]; }
    // The rows from row i on.
    SrfPyRows from(long i) const { return {data + i * step, step}; }
};

// The queries that the module's array methods make, one function each, for
// lanes 0 to count - 1 of one chunk (see SrfPyBSDF). Inputs and outputs are
// arrays of rows indexed by lane. Each is one batch query of SRF_BSDF over
// the chunk, every lane running with the one mask: what the query ops ask
// for an op call, with the same presets (zero colour, direction and scalar,
// bounce type 0), so that a lane the mask leaves alone reads as zeros. In
// the per-lane batch mode (SRFsetBatchMode) each lane is asked its masked
// per-lane query instead, as the ops then do.
//
// Every array method of the module goes through these seven functions and
// nothing else.
class SrfPyQueries
{
public:
    static void evaluate(const SRF_BSDF &bsdf, int count, SrfPyRows<BX_Vector3> u, SrfPyRows<BX_Vector3> n,
                         SrfPyRows<BX_Vector3> v, int mask, BX_Vector3 *colour, float *scalar);
    // value (null: pdf alone) and pdf (SRF_BSDF::evaluatePdf).
    static void evaluatePdf(const SRF_BSDF &bsdf, int count, SrfPyRows<BX_Vector3> u, SrfPyRows<BX_Vector3> n,
                            SrfPyRows<BX_Vector3> v, int mask, BX_Vector3 *value, float *pdf);
    static void sample(const SRF_BSDF &bsdf, int count, SrfPyRows<BX_Vector3> u, SrfPyRows<BX_Vector3> n,
                       SrfPyRows<float> sx, SrfPyRows<float> sy, int mask, BX_Vector3 *v, BX_Vector3 *colour,
                       int *bounce);
    static void albedo(const SRF_BSDF &bsdf, int count, SrfPyRows<BX_Vector3> u, SrfPyRows<BX_Vector3> n, int mask,
                       float *albedo);
    static void specularRatio(const SRF_BSDF &bsdf, int count, int mask, float *ratio);
    static void emission(const SRF_BSDF &bsdf, int count, BX_Vector3 *colour);
    static void bounces(const SRF_BSDF &bsdf, int count, int *bounces);
};

#endif
