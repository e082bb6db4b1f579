#include "SRF_RobustFitter.h"

#include <ceres/ceres.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{
const double UNBOUNDED = std::numeric_limits<double>::infinity();
const double MAX_RS = 1.0;
const int MAX_ITERATIONS = 200;
const double FUNCTION_TOLERANCE = 1e-12;
const double GRADIENT_TOLERANCE = 1e-14;
const double PARAMETER_TOLERANCE = 1e-12;

// Solver parameters -> model parameters: the exponents are fitted as their
// logarithms.
template <class T> void toModel(SRF_FitModel::Kind model, const T *x, T *p)
{
    using std::exp;
    for (int i = 0; i < SRF_FitModel::parameterCount(model); ++i)
        p[i] = SRF_FitModel::isExponent(model, i) ? exp(x[i]) : x[i];
}

// The log-relative weight of a measurement: the cosine of its incoming
// direction, 0 below the surface.
double cosineWeight(const SRF_FitData::Point &point) { return std::max(point.incoming[2], 0.0); }

// The residuals of a run of measurements, three each. Grouping a few
// measurements into one residual block costs the solver less bookkeeping
// than a block per measurement.
template <SRF_FitModel::Kind MODEL> class GroupResidual
{
public:
    GroupResidual(const SRF_FitData::Point *points, int count, bool logRelative)
        : myPoints(points), myCount(count), myLogRelative(logRelative)
    {
        for (int i = 0; i < count; ++i)
        {
            myWeights[i] = cosineWeight(points[i]);
            for (int c = 0; c < 3; ++c)
                myTargets[i][c] =
                    logRelative ? std::log1p(myWeights[i] * std::max(points[i].value[c], 0.0)) : points[i].value[c];
        }
    }

    template <class T> bool operator()(const T *x, T *residual) const
    {
        using std::log;
        T p[SRF_FitModel::MAX_PARAMETERS];
        toModel(MODEL, x, p);
        for (int i = 0; i < myCount; ++i)
        {
            T f[3];
            SRF_FitModel::evaluate(MODEL, p, myPoints[i].incoming, myPoints[i].scattered, f);
            for (int c = 0; c < 3; ++c)
                residual[3 * i + c] =
                    myLogRelative ? log(1.0 + myWeights[i] * f[c]) - myTargets[i][c] : f[c] - myTargets[i][c];
        }
        return true;
    }

    static constexpr int SIZE = 16;

private:
    const SRF_FitData::Point *myPoints;
    int myCount;
    bool myLogRelative;
    double myWeights[SIZE];
    double myTargets[SIZE][3];
};

template <SRF_FitModel::Kind MODEL>
void addResiduals(ceres::Problem &problem, const SRF_FitData &data, bool logRelative, double *x)
{
    constexpr int COUNT =
        MODEL == SRF_FitModel::PHONG ? SRF_FitModel::PHONG_PARAMETERS : SRF_FitModel::ASHIKHMIN_PARAMETERS;
    using Group = GroupResidual<MODEL>;
    for (int first = 0; first < data.size(); first += Group::SIZE)
    {
        const int count = std::min(Group::SIZE, data.size() - first);
        problem.AddResidualBlock(new ceres::AutoDiffCostFunction<Group, ceres::DYNAMIC, COUNT>(
                                     new Group(&data.points[first], count, logRelative), 3 * count),
                                 nullptr, x);
    }
}

// Bounds of parameter i in the model's terms.
void bounds(SRF_FitModel::Kind model, int i, double &low, double &high)
{
    if (SRF_FitModel::isExponent(model, i))
    {
        low = SRF_RobustFitter::MIN_EXPONENT;
        high = SRF_RobustFitter::MAX_EXPONENT;
        return;
    }
    low = 0.0;
    high = model == SRF_FitModel::ASHIKHMIN && i >= 2 && i < 5 ? MAX_RS : UNBOUNDED;
}

// Minimises |z1 x1 + z2 x2 - t|^2 over the box lo <= z <= hi, given the
// sums a11 = x1.x1, a12 = x1.x2, a22 = x2.x2, b1 = x1.t, b2 = x2.t: the
// minimum of a convex quadratic on a box lies inside it or on an edge, and
// each edge's minimum is the one-dimensional one clamped.
void boxedLeastSquares(const double a[3], const double b[2], const double lo[2], const double hi[2], double z[2])
{
    const double a11 = a[0], a12 = a[1], a22 = a[2];
    auto cost = [&](double z1, double z2)
    { return a11 * z1 * z1 + 2.0 * a12 * z1 * z2 + a22 * z2 * z2 - 2.0 * (b[0] * z1 + b[1] * z2); };
    auto clamp = [&](double v, int i) { return std::min(std::max(v, lo[i]), hi[i]); };
    double best = UNBOUNDED;
    auto consider = [&](double z1, double z2)
    {
        const double c = cost(z1, z2);
        if (c < best)
        {
            best = c;
            z[0] = z1;
            z[1] = z2;
        }
    };
    const double det = a11 * a22 - a12 * a12;
    if (det > 0.0)
    {
        const double z1 = (b[0] * a22 - b[1] * a12) / det, z2 = (b[1] * a11 - b[0] * a12) / det;
        if (z1 >= lo[0] && z1 <= hi[0] && z2 >= lo[1] && z2 <= hi[1])
            consider(z1, z2);
    }
    for (int edge = 0; edge < 4; ++edge)
    {
        const int fixed = edge / 2;
        const double at = edge % 2 ? hi[fixed] : lo[fixed];
        if (!std::isfinite(at))
            continue;
        const int other = 1 - fixed;
        const double aa = other == 0 ? a11 : a22;
        const double bb = b[other] - a12 * at;
        const double free = clamp(aa > 0.0 ? bb / aa : lo[other], other);
        if (fixed == 0)
            consider(at, free);
        else
            consider(free, at);
    }
}
} // namespace

std::vector<double> SRF_RobustFitter::startingExponents(int count)
{
    std::vector<double> exponents;
    const double first = std::log(FIRST_START), last = std::log(LAST_START);
    for (int s = 0; s < count; ++s)
        exponents.push_back(std::exp(count == 1 ? 0.5 * (first + last) : first + (last - first) * s / (count - 1)));
    return exponents;
}

// Phong: f_c = Ks_c L + Kd_c C, with L and C the model's value for Ks = 1
// and for Kd = 1. Ashikhmin: f_c = S0 + Rs_c (S1 - S0) + Q_c (D1 - S0) with
// Q_c = Rd_c (1 - Rs_c), S0, S1 and D1 the model's value for (Rs, Rd) =
// (0, 0), (1, 0) and (0, 1). Either way two unknowns per channel, linear.
void SRF_RobustFitter::fitColours(const SRF_FitData &data, SRF_FitModel::Kind model, double *parameters)
{
    const bool phong = model == SRF_FitModel::PHONG;
    const int count = SRF_FitModel::parameterCount(model);
    const int first = phong ? 0 : 2, second = phong ? 3 : 5;
    double basis[3][SRF_FitModel::MAX_PARAMETERS];
    for (int k = 0; k < 3; ++k)
    {
        std::copy(parameters, parameters + count, basis[k]);
        for (int c = 0; c < 3; ++c)
        {
            basis[k][first + c] = k == 1 ? 1.0 : 0.0;
            basis[k][second + c] = k == 2 ? 1.0 : 0.0;
        }
    }
    double a[3] = {0.0, 0.0, 0.0}, b[3][2] = {};
    for (const SRF_FitData::Point &point : data.points)
    {
        double f[3][3];
        for (int k = 0; k < 3; ++k)
            SRF_FitModel::evaluate(model, basis[k], point.incoming, point.scattered, f[k]);
        // The unknowns' columns and the offset (one value, the same for the
        // three channels, as the bases are grey).
        const double offset = f[0][0], x1 = f[1][0] - offset, x2 = f[2][0] - offset;
        a[0] += x1 * x1;
        a[1] += x1 * x2;
        a[2] += x2 * x2;
        for (int c = 0; c < 3; ++c)
        {
            const double t = point.value[c] - offset;
            b[c][0] += x1 * t;
            b[c][1] += x2 * t;
        }
    }
    double lo[2], hi[2];
    bounds(model, first, lo[0], hi[0]);
    bounds(model, second, lo[1], hi[1]);
    for (int c = 0; c < 3; ++c)
    {
        double z[2] = {0.0, 0.0};
        boxedLeastSquares(a, b[c], lo, hi, z);
        parameters[first + c] = z[0];
        // Ashikhmin: Rd = Q / (1 - Rs); with Rs = 1 there is no diffuse term.
        parameters[second + c] = phong ? z[1] : (z[0] < MAX_RS ? z[1] / (MAX_RS - z[0]) : 0.0);
    }
}

SRF_RobustFitter::Result SRF_RobustFitter::fit(const SRF_FitData &data, SRF_FitModel::Kind model, bool logRelative,
                                               int starts)
{
    const int count = SRF_FitModel::parameterCount(model);
    Result result;
    result.parameters.assign(count, 0.0);
    result.metricValue = UNBOUNDED;
    if (data.points.empty())
        return result;

    std::vector<double> x(count, 0.0);
    ceres::Problem problem;
    if (model == SRF_FitModel::PHONG)
        addResiduals<SRF_FitModel::PHONG>(problem, data, logRelative, x.data());
    else
        addResiduals<SRF_FitModel::ASHIKHMIN>(problem, data, logRelative, x.data());
    for (int i = 0; i < count; ++i)
    {
        double low, high;
        bounds(model, i, low, high);
        if (SRF_FitModel::isExponent(model, i))
        {
            low = std::log(low);
            high = std::log(high);
        }
        problem.SetParameterLowerBound(x.data(), i, low);
        if (std::isfinite(high))
            problem.SetParameterUpperBound(x.data(), i, high);
    }

    ceres::Solver::Options options;
    options.linear_solver_type = ceres::DENSE_QR;
    options.max_num_iterations = MAX_ITERATIONS;
    options.function_tolerance = FUNCTION_TOLERANCE;
    options.gradient_tolerance = GRADIENT_TOLERANCE;
    options.parameter_tolerance = PARAMETER_TOLERANCE;
    options.num_threads = 1;
    options.logging_type = ceres::SILENT;
    options.minimizer_progress_to_stdout = false;

    for (double exponent : startingExponents(std::max(starts, 1)))
    {
        std::vector<double> p(count, 0.0);
        for (int i = 0; i < count; ++i)
            p[i] = SRF_FitModel::isExponent(model, i) ? exponent : 0.0;
        fitColours(data, model, p.data());
        for (int i = 0; i < count; ++i)
            x[i] = SRF_FitModel::isExponent(model, i) ? std::log(p[i]) : p[i];

        ceres::Solver::Summary summary;
        ceres::Solve(options, &problem, &summary);
        result.iterations += int(summary.iterations.size());
        const double metric = std::sqrt(2.0 * summary.final_cost / data.size());
        if (metric < result.metricValue)
        {
            result.metricValue = metric;
            toModel(model, x.data(), result.parameters.data());
        }
    }
    return result;
}
