#include "SRF_MeasuredData.h"

#include "SRF_MeasurementFile.h"
#include "SRFfastRandom.h"

#include "BX_BitArray.h"
#include "BX_IntArray.h"
#include "BX_Matrix.h"
#include "BX_MatrixSolver.h"
#include "BX_PermutationT.h"
#include "BX_VectorT.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace
{
// Resizes the three arrays together. Without memory for all three they
// keep the size they had (shrinking back never allocates).
bool resizeAll(int count, BX_Vector3Array &a, BX_Vector3Array &b, BX_Vector3Array &c)
{
    const int before = a.entries();
    try
    {
        a.resize(count);
        b.resize(count);
        c.resize(count);
        return true;
    }
    catch (...)
    {
        a.resize(before);
        b.resize(before);
        c.resize(before);
        return false;
    }
}

bool appendAll(BX_Vector3Array &a, BX_Vector3Array &b, BX_Vector3Array &c, const BX_Vector3 &va, const BX_Vector3 &vb,
               const BX_Vector3 &vc)
{
    const int count = a.entries();
    try
    {
        a.append(va);
        b.append(vb);
        c.append(vc);
        return true;
    }
    catch (...)
    {
        resizeAll(count, a, b, c);
        return false;
    }
}

bool isZero(const BX_Vector3 &v) { return v.x == 0.0f && v.y == 0.0f && v.z == 0.0f; }

// A measurement of all-zero vectors: what the reader leaves for rows that a
// file announces but lacks.
bool isEmptyRow(const BX_Vector3 &in, const BX_Vector3 &out, const BX_Vector3 &value)
{
    return isZero(value) && isZero(in) && isZero(out);
}

float component(const BX_Vector3 &v, int c) { return c == 0 ? v.x : (c == 1 ? v.y : v.z); }

const BX_Vector3 FITTING_NORMAL(0.0f, 0.0f, 1.0f);

// Levenberg-Marquardt constants: forward-difference step, damping schedule
// (kept in single precision) and its bounds, acceptance margin, iterations.
const float DIFFERENCE_STEP = 1e-6f;
const float START_DAMPING = 1.0f;
const float START_ERROR = 1.0e6f;
const float DAMPING_UP = 10.0f;
const float DAMPING_DOWN = 0.1f;
const double DAMPING_MIN = 1e-6;
const double DAMPING_MAX = 1e6;
const float ACCEPT_MARGIN = 1e-6f;
const int MAX_ITERATIONS = 100;
const double SINGULAR_TOLERANCE = 1e-20;

// Consensus arguments of fit().
const int RANSAC_TRIALS = 10;
const float RANSAC_INLIER_TOLERANCE = 1.0f;
const float RANSAC_SAMPLE_PROBABILITY = 0.7f;
const float RANSAC_MIN_INLIER_FRACTION = 0.75f;
const float RANSAC_START_ERROR = 1.0e6f;

// The random state of the consensus sampling, shared by every fit of the
// process and never reset.
std::atomic<unsigned int> theRansacState(0u);
} // namespace

SRF_MeasuredData::SRF_MeasuredData(const char *fileName) : myParameterCount(0), myParameters(nullptr), myPointCount(0)
{
    myFileName.harden(fileName ? fileName : "", -1);
}

SRF_MeasuredData::SRF_MeasuredData(const SRF_MeasuredData &other)
    : myParameterCount(other.myParameterCount), myParameters(nullptr), myPointCount(other.myPointCount),
      myFileName(other.myFileName)
{
}

SRF_MeasuredData &SRF_MeasuredData::operator=(const SRF_MeasuredData &other)
{
    if (this != &other)
    {
        myParameterCount = other.myParameterCount;
        myPointCount = other.myPointCount;
        myFileName = other.myFileName;
    }
    return *this;
}

SRF_MeasuredData::~SRF_MeasuredData() {}

const char *SRF_MeasuredData::className() const { return "SRF_MeasuredData"; }

float SRF_MeasuredData::specularRatio(int) const { return 0.0f; }

void SRF_MeasuredData::constraint(int) {}

void SRF_MeasuredData::fit()
{
    BX_Vector3Array incoming, scattered, values;
    try
    {
        read(myFileName.buffer(), incoming, scattered, values);
        ransac(incoming, scattered, values, RANSAC_TRIALS, RANSAC_INLIER_TOLERANCE, RANSAC_SAMPLE_PROBABILITY,
               RANSAC_MIN_INLIER_FRACTION);
    }
    catch (...)
    {
        // Out of memory while reading: the data set keeps what it has.
    }
}

void SRF_MeasuredData::read(const char *fileName, BX_Vector3Array &incoming, BX_Vector3Array &scattered,
                            BX_Vector3Array &values)
{
    myPointCount = 0;
    SRF_MeasurementFile file(fileName);

    // Only the eight angle and colour names take a place in a row: the
    // values of a row go in order to the recognised columns.
    BX_IntArray columns;
    for (int k = 0; k < file.nameCount(); ++k)
    {
        const int code = SRF_MeasurementFile::columnCode(file.name(k));
        if (code >= 0)
            columns.append(code);
    }
    const int columnCount = columns.entries();
    std::vector<double> row(columnCount > 0 ? columnCount : 1);

    // Rows the file lacks keep the zero vectors of the resize, up to
    // MAX_UNFILLED_POINTS of them beyond the rows read; rows present are
    // appended past the first reservation, however many.
    const int requested = file.pointCount();
    const int reserved = requested < MAX_UNFILLED_POINTS ? requested : MAX_UNFILLED_POINTS;
    resizeAll(reserved, incoming, scattered, values);

    int rowsRead = 0;
    for (int i = 0; i < requested && !file.atEnd(); ++i)
    {
        if (i >= incoming.entries() &&
            !appendAll(incoming, scattered, values, BX_Vector3(), BX_Vector3(), BX_Vector3()))
            break;
        const int count = file.readRow(row.data(), columnCount);
        // During the row the directions hold (radius, polar angle, azimuth).
        BX_Vector3 &in = incoming[i];
        BX_Vector3 &out = scattered[i];
        BX_Vector3 &value = values[i];
        in.x = 1.0f;
        out.x = 1.0f;
        for (int k = 0; k < count; ++k)
        {
            const float x = static_cast<float>(row[k]);
            switch (columns[k])
            {
            case SRF_MeasurementFile::THETA_I:
                in.y = x;
                break;
            case SRF_MeasurementFile::PHI_I:
                in.z = x;
                break;
            case SRF_MeasurementFile::THETA_S:
                out.y = x;
                break;
            case SRF_MeasurementFile::PHI_S:
                out.z = x;
                break;
            case SRF_MeasurementFile::R:
                value.x = x;
                break;
            case SRF_MeasurementFile::G:
                value.y = x;
                break;
            case SRF_MeasurementFile::B:
                value.z = x;
                break;
            case SRF_MeasurementFile::I:
                value = BX_Vector3(x, x, x);
                break;
            }
        }
        SRF_MeasurementFile::sphericalToDirection(in);
        SRF_MeasurementFile::sphericalToDirection(out);
        rowsRead = i + 1;
    }
    const long unfilledEnd = static_cast<long>(rowsRead) + MAX_UNFILLED_POINTS;
    const int wanted = requested < unfilledEnd ? requested : static_cast<int>(unfilledEnd);
    if (incoming.entries() < wanted)
        resizeAll(wanted, incoming, scattered, values);
    myPointCount = incoming.entries();
}

// E = sqrt( sum_i |values_i - f(incoming_i, scattered_i)|^2 / n ), with f the
// model colour about the normal (0, 0, 1); the sum is kept in single
// precision. With no measurement it is 0/0, not a number.
float SRF_MeasuredData::errorL2(const BX_Vector3Array &incoming, const BX_Vector3Array &scattered,
                                const BX_Vector3Array &values)
{
    const int n = values.entries();
    float sum = 0.0f;
    BX_Vector3 colour;
    float scalar;
    // When the model answers exactly zero for zero directions, an empty row
    // adds exactly 0 to the sum and is skipped: the same sum, much faster
    // for a file that announces far more rows than it holds.
    const BX_Vector3 none;
    evaluate(none, FITTING_NORMAL, none, colour, scalar, 0);
    const bool emptyRowsVanish = isZero(colour);
    for (int i = 0; i < n; ++i)
    {
        if (emptyRowsVanish && isEmptyRow(incoming[i], scattered[i], values[i]))
            continue;
        evaluate(incoming[i], FITTING_NORMAL, scattered[i], colour, scalar, 0);
        sum += (values[i] - colour).length2();
    }
    return std::sqrt(sum / static_cast<float>(n));
}

// Damped Gauss-Newton steps (J^T J + lambda I) delta = J^T r, with J the
// forward-difference Jacobian of the 3n colour components with respect to
// the p parameters and r the residuals. A step is kept when it lowers the
// error by more than the margin (lambda / 10), else undone (lambda * 10).
// J^T J and J^T r are summed row by row in double precision as the rows of
// J are made, so J itself is never stored: memory stays independent of n.
void SRF_MeasuredData::levenbergMarquardt(const BX_Vector3Array &incoming, const BX_Vector3Array &scattered,
                                          const BX_Vector3Array &values)
{
    const int p = myParameterCount;
    const int n = incoming.entries();
    float lambda = START_DAMPING;
    float previous = START_ERROR;

    constraint(0);
    if (p <= 0)
        return;

    BX_Matrix normal, identity;
    BX_VectorT<double> gradient;
    BX_PermutationT<int> permutation;
    BX_MatrixSolver solver;
    double *sums = new (std::nothrow) double[p * p + p];
    float *rows = new (std::nothrow) float[3 * p];
    if (!sums || !rows || !identity.init(1, p, 1, p))
    {
        delete[] sums;
        delete[] rows;
        return;
    }
    identity.makeIdentity();
    double *jtj = sums;
    double *jtr = sums + p * p;

    BX_Vector3 f, perturbed;
    float scalar;
    int k = 0;
    do
    {
        ++k;
        for (int i = 0; i < p * p + p; ++i)
            sums[i] = 0.0;
        // Empty rows give zero rows of J and zero residuals when the model
        // and all its perturbations answer zero for zero directions: they
        // add exactly nothing to the sums and are skipped.
        const BX_Vector3 none;
        evaluate(none, FITTING_NORMAL, none, f, scalar, 0);
        bool emptyRowsVanish = isZero(f);
        for (int j = 0; j < p && emptyRowsVanish; ++j)
        {
            const float saved = myParameters[j];
            myParameters[j] = saved + DIFFERENCE_STEP;
            evaluate(none, FITTING_NORMAL, none, perturbed, scalar, 0);
            myParameters[j] = saved;
            emptyRowsVanish = isZero(perturbed);
        }
        for (int i = 0; i < n; ++i)
        {
            if (emptyRowsVanish && isEmptyRow(incoming[i], scattered[i], values[i]))
                continue;
            // One evaluation per perturbed parameter serves all three colour
            // components: the same differences as one per component.
            evaluate(incoming[i], FITTING_NORMAL, scattered[i], f, scalar, 0);
            for (int j = 0; j < p; ++j)
            {
                const float saved = myParameters[j];
                myParameters[j] = saved + DIFFERENCE_STEP;
                evaluate(incoming[i], FITTING_NORMAL, scattered[i], perturbed, scalar, 0);
                myParameters[j] = saved;
                for (int c = 0; c < 3; ++c)
                    rows[c * p + j] = (component(perturbed, c) - component(f, c)) / DIFFERENCE_STEP;
            }
            for (int c = 0; c < 3; ++c)
            {
                const float *row = rows + c * p;
                const double r = static_cast<double>(component(values[i], c)) - component(f, c);
                for (int j = 0; j < p; ++j)
                {
                    const double jj = row[j];
                    jtr[j] += jj * r;
                    for (int l = 0; l <= j; ++l)
                        jtj[j * p + l] += jj * row[l];
                }
            }
        }

        // With no measurement A = lambda I and g = 0: the step is zero and
        // the error 0/0 would reject it, so it is rejected at once.
        bool solved = false;
        if (n > 0 && normal.init(1, p, 1, p) && gradient.init(1, p))
        {
            for (int j = 0; j < p; ++j)
            {
                gradient(j + 1) = jtr[j];
                for (int l = 0; l <= j; ++l)
                    normal(j + 1, l + 1) = normal(l + 1, j + 1) = static_cast<float>(jtj[j * p + l]);
            }
            float sign;
            solved = normal.addScaledMatrix(identity, lambda) &&
                     solver.LUDecompRect(normal, permutation, sign, SINGULAR_TOLERANCE) != 0;
        }
        if (!solved)
        {
            lambda = lambda * DAMPING_UP;
        }
        else
        {
            solver.LUDecompBackSub(normal, permutation, gradient);
            for (int j = 0; j < p; ++j)
                myParameters[j] = myParameters[j] + static_cast<float>(gradient(j + 1));
            const float e = errorL2(incoming, scattered, values);
            if (e + ACCEPT_MARGIN < previous)
            {
                lambda = lambda * DAMPING_DOWN;
                previous = e;
            }
            else
            {
                lambda = lambda * DAMPING_UP;
                for (int j = 0; j < p; ++j)
                    myParameters[j] = myParameters[j] - static_cast<float>(gradient(j + 1));
            }
        }
        constraint(k);
    } while (DAMPING_MIN <= lambda && lambda <= DAMPING_MAX && k < MAX_ITERATIONS);
    delete[] sums;
    delete[] rows;
}

// Fits all measurements, then for each trial fits a random subset (each
// measurement drawn with sampleProbability), adds the unsampled measurements
// that the fit explains within inlierTolerance times their own length, and
// keeps the trial's parameters when this consensus set is large enough and
// its error is the lowest so far.
void SRF_MeasuredData::ransac(const BX_Vector3Array &incoming, const BX_Vector3Array &scattered,
                              const BX_Vector3Array &values, int iterations, float inlierTolerance,
                              float sampleProbability, float minInlierFraction)
{
    const int p = myParameterCount;
    const int n = values.entries();
    levenbergMarquardt(incoming, scattered, values);
    if (p <= 0 || iterations < 1)
        return;

    float *best = new (std::nothrow) float[p];
    if (!best)
        return;
    std::memcpy(best, myParameters, sizeof(float) * p);
    float bestError = RANSAC_START_ERROR;

    const int minimum = static_cast<int>(static_cast<float>(n) * minInlierFraction);
    BX_Vector3Array subIncoming, subScattered, subValues;
    BX_BitArray sampled;
    BX_Vector3 colour;
    float scalar;
    try
    {
        for (int trial = 0; trial < iterations; ++trial)
        {
            subIncoming.resize(0);
            subScattered.resize(0);
            subValues.resize(0);
            sampled.resize(0);
            sampled.resize(n);
            for (int i = 0; i < n; ++i)
            {
                const bool take = SRFfastRandom(theRansacState) <= sampleProbability;
                sampled.setBit(i, take);
                if (take)
                {
                    subIncoming.append(incoming[i]);
                    subScattered.append(scattered[i]);
                    subValues.append(values[i]);
                }
            }
            levenbergMarquardt(subIncoming, subScattered, subValues);
            for (int i = 0; i < n; ++i)
            {
                // A zero measured value has tolerance 0: it never agrees, so
                // the model is not evaluated for it.
                if (sampled.getBit(i) || isZero(values[i]))
                    continue;
                evaluate(incoming[i], FITTING_NORMAL, scattered[i], colour, scalar, 0);
                if ((colour - values[i]).length() < inlierTolerance * values[i].length())
                {
                    subIncoming.append(incoming[i]);
                    subScattered.append(scattered[i]);
                    subValues.append(values[i]);
                }
            }
            if (subValues.entries() >= minimum)
            {
                const float e = errorL2(subIncoming, subScattered, subValues);
                if (e < bestError)
                {
                    bestError = e;
                    std::memcpy(best, myParameters, sizeof(float) * p);
                }
            }
        }
    }
    catch (...)
    {
        // Out of memory for the subsets: keep the best parameters so far.
    }
    std::memcpy(myParameters, best, sizeof(float) * p);
    delete[] best;
}
