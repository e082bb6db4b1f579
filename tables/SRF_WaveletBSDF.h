#ifndef SRF_WAVELETBSDF_H
#define SRF_WAVELETBSDF_H

#include "SRF_BSDF.h"
#include "SRF_Wavelet2D.h"

// An isotropic BSDF given as tables: for each of m bins of the incident
// angle one res x res table (res = 2^k) of reflected intensity over the
// outgoing hemisphere. Bins are uniform in the sine of the angle between u
// and n. In a table, rows run with 1 - cos theta of the outgoing direction
// about n (row 0 along n, the last row at grazing) and columns with the
// azimuth phi / 2 pi, phi = 0 on the side of u. Evaluation interpolates the
// plain table bilinearly; sampling walks down the table's Haar pyramid.
// Bounce set: the three scattering types.
//
// The host builds it, fills it with construct (or writes through getData
// and calls convert(true)) and then queries it like any lobe. Until then
// the coefficient stores are zero, so sample prints the library's error
// line and returns v = n, and the scalings are -1.
//
// Directions below the surface (v.n < 0) read the last row. With u parallel
// to n the frame's cross products vanish, normalising leaves them zero, and
// evaluation reads azimuth 0. A table count below 1 (or storage that cannot
// be had) gives an object without tables: albedo 0, zero colour and scalar,
// and sample returns v = n. A level below 0 counts as 0 and one above
// SRF_Wavelet2D::MAX_LEVEL as that level.
class SRF_API SRF_WaveletBSDF : public SRF_BSDF
{
public:
    SRF_WaveletBSDF(int tableCount, int level);
    ~SRF_WaveletBSDF() override;

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

    // Cannot be duplicated: returns null.
    void evaluatePdf(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &value, float &pdf,
                     int lane, int mask) const override;
    SRF_BSDF *duplicate(int count) const override;
    // No pooled parameters: appends nothing.
    void flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &vectors,
                 BX_PtrArray<float *> &floats) override;
    // Every plain table value, "%*c%f" a line, on the standard error stream.
    void dump(int indent) const override;

    // Copies m res^2 floats (the tables one after another) and converts.
    void construct(float *tables);
    // Nothing to take from another BSDF.
    void construct(SRF_BSDF *source);
    // true: every table into its pyramid and its mean into its scaling;
    // false: every pyramid back into its table.
    void convert(bool toWavelets);

    // Table j (row by row), or null for a j out of range.
    float *getData(int j);
    // The mean of table j; 0 for a j out of range.
    float getScaling(int j) const;
    // The table index for u and n: trunc(sqrt(1 - (u.n)^2) m), within [0, m - 1].
    int getIdx(const BX_Vector3 &u, const BX_Vector3 &n) const;
    // Every pyramid's coefficients, in table order.
    void dumpWavelet() const;

    int getTableCount() const { return myTableCount; }
    int getResolution() const { return myResolution; }
    int getLevel() const { return myLevel; }

private:
    // F2 = normalize(n x u), F1 = normalize(F2 x n).
    void frame(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &f1, BX_Vector3 &f2) const;

    float *myData;
    SRF_Wavelet2D *myWavelets;
    float *myScalings;
    float mySpecularity;
    int myTableCount;
    int myResolution;
    int myLevel;
};

#endif
