#ifndef SRF_MEASUREDDATA_H
#define SRF_MEASUREDDATA_H

#include "SRF_API.h"

#include "BX_String.h"
#include "BX_Vector3.h"
#include "BX_Vector3Array.h"

// SRF_MeasuredData: a reflectance model fitted to one measurement file.
//
// A derived class supplies the model (its parameters, evaluate, sample,
// albedo and the constraint hook); this base reads the file and fits the
// parameters by random sample consensus around a Levenberg-Marquardt
// least-squares solver, minimising the RMS difference between the model's
// colour and the measured values. Fitting evaluates the model about the
// normal (0, 0, 1): the measured directions are taken in a frame whose z
// axis is the surface normal. After fitting only the file name, the point
// count and the parameters are kept; the object is then read-only, except
// that the models' sample advances a shared random state.
//
// Not a BSDF: no reference count, made with plain new and delete. The query
// operations have the argument roles of SRF_BSDF's (u fixed direction, n
// normal, v evaluated or sampled direction).
class SRF_API SRF_MeasuredData
{
public:
    // The reader sizes its arrays for at most this many points beyond the
    // rows that the file actually holds, so that a header announcing an
    // absurd point count can neither exhaust memory nor make the fit (whose
    // cost grows with the point count, under the cache lock) run for hours
    // on rows that are not there. Rows present in the file are all kept,
    // however many.
    static constexpr int MAX_UNFILLED_POINTS = 1 << 12;

    explicit SRF_MeasuredData(const char *fileName);
    SRF_MeasuredData(const SRF_MeasuredData &other);
    SRF_MeasuredData &operator=(const SRF_MeasuredData &other);
    virtual ~SRF_MeasuredData();

    virtual const char *className() const;
    virtual float specularRatio(int lane) const;
    virtual void sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                        int &bounce, float sx, float sy, int lane) const = 0;
    virtual float albedo(const BX_Vector3 &u, const BX_Vector3 &n, int lane) const = 0;
    virtual void evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                          float &scalar, int lane) const = 0;

    int getParameterCount() const { return myParameterCount; }
    const float *getParameters() const { return myParameters; }
    int getPointCount() const { return myPointCount; }
    const char *getFileName() const { return myFileName.buffer(); }

protected:
    // Sets starting values (iteration 0) and keeps the parameters in range
    // after iteration k of the solver. The base does nothing.
    virtual void constraint(int iteration);
    // Reads the file and fits the parameters.
    virtual void fit();

    // Reads the measurement file into three parallel arrays (incoming and
    // scattered unit directions, measured colours) and sets the point count.
    void read(const char *fileName, BX_Vector3Array &incoming, BX_Vector3Array &scattered, BX_Vector3Array &values);

    int myParameterCount;
    float *myParameters; // the derived object's own array
    int myPointCount;
    BX_String myFileName;

private:
    // Tests reach the solver's steps through this class.
    friend class SRF_MeasuredDataTest;

    float errorL2(const BX_Vector3Array &incoming, const BX_Vector3Array &scattered, const BX_Vector3Array &values);
    void levenbergMarquardt(const BX_Vector3Array &incoming, const BX_Vector3Array &scattered,
                            const BX_Vector3Array &values);
    void ransac(const BX_Vector3Array &incoming, const BX_Vector3Array &scattered, const BX_Vector3Array &values,
                int iterations, float inlierTolerance, float sampleProbability, float minInlierFraction);
};

#endif
