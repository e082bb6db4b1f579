#include "SRF_RobustFitter.h"

#ifdef SRF_HAVE_ROBUST_SOLVER
#include <ceres/ceres.h>
#endif

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

namespace
{
const double UNBOUNDED = std::numeric_limits<double>::infinity();
const double MAX_REFLECTANCE = 1.0;
const int MAX_ITERATIONS = 200;
const double FUNCTION_TOLERANCE = 1e-12;
const double GRADIENT_TOLERANCE = 1e-14;
const double PARAMETER_TOLERANCE = 1e-12;

// Solver parameters -> model parameters: the exponents are fitted as their
// logarithms; an isotropic Ashikhmin fit uses the first exponent for both.
template <class T> void toModel(SRF_FitModel::Kind model, const T *x, T *p, bool isotropic)
{
    using std::exp;
    for (int i = 0; i < SRF_FitModel::parameterCount(model); ++i)
        p[i] = SRF_FitModel::isExponent(model, i) ? exp(x[isotropic ? 0 : i]) : x[i];
}

// The log-relative weight of a measurement: the cosine of its incoming
// direction, 0 below the surface, over the scale of the data.
double logWeight(const SRF_FitData::Point &point, double scale) { return std::max(point.incoming[2], 0.0) / scale; }

#ifdef SRF_HAVE_ROBUST_SOLVER
// The three residuals of one measurement, one per channel: a residual block
// per measurement, so that a robust loss weighs each measurement on its own.
template <SRF_FitModel::Kind MODEL> class PointResidual
{
public:
    PointResidual(const SRF_FitData::Point &point, const SRF_RobustFitter::Settings &settings)
        : myPoint(point), myLogRelative(settings.logRelative), myIsotropic(settings.isotropic),
          myWeight(logWeight(point, settings.logScale)), myRoot(std::sqrt(std::max(point.weight, 0.0)))
    {
        for (int c = 0; c < 3; ++c)
            myTargets[c] = myLogRelative ? std::log1p(myWeight * std::max(point.value[c], 0.0)) : point.value[c];
    }

    template <class T> bool operator()(const T *x, T *residual) const
    {
        using std::log;
        T p[SRF_FitModel::MAX_PARAMETERS];
        toModel(MODEL, x, p, myIsotropic);
        T f[3];
        SRF_FitModel::evaluate(MODEL, p, myPoint.incoming, myPoint.scattered, f);
        for (int c = 0; c < 3; ++c)
            residual[c] = myRoot * (myLogRelative ? log(1.0 + myWeight * f[c]) - myTargets[c] : f[c] - myTargets[c]);
        return true;
    }

private:
    const SRF_FitData::Point &myPoint;
    bool myLogRelative, myIsotropic;
    double myWeight;
    double myRoot; // the square root of the measurement's weight
    double myTargets[3];
};

#endif

// The residual norm of every measurement for the model parameters p.
std::vector<double> residualNorms(const SRF_FitData &data, SRF_FitModel::Kind model, const double *p,
                                  const SRF_RobustFitter::Settings &settings)
{
    std::vector<double> norms;
    norms.reserve(data.points.size());
    for (const SRF_FitData::Point &point : data.points)
    {
        double f[3], sum = 0.0;
        SRF_FitModel::evaluate(model, p, point.incoming, point.scattered, f);
        const double w = logWeight(point, settings.logScale);
        for (int c = 0; c < 3; ++c)
        {
            const double r = settings.logRelative ? std::log1p(w * f[c]) - std::log1p(w * std::max(point.value[c], 0.0))
                                                  : f[c] - point.value[c];
            sum += r * r;
        }
        norms.push_back(std::sqrt(sum));
    }
    return norms;
}

#ifdef SRF_HAVE_ROBUST_SOLVER
ceres::LossFunction *newLoss(SRF_RobustFitter::Loss loss, double scale)
{
    switch (loss)
    {
    case SRF_RobustFitter::CAUCHY:
        return new ceres::CauchyLoss(scale);
    case SRF_RobustFitter::HUBER:
        return new ceres::HuberLoss(scale);
    case SRF_RobustFitter::SOFT_L1:
        return new ceres::SoftLOneLoss(scale);
    default:
        return nullptr;
    }
}
#endif

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
    high = SRF_FitModel::isReflectance(model, i) ? MAX_REFLECTANCE : UNBOUNDED;
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
    const int first = SRF_FitModel::specularColour(model), second = SRF_FitModel::diffuseColour(model);
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
        const double w = std::max(point.weight, 0.0);
        a[0] += w * x1 * x1;
        a[1] += w * x1 * x2;
        a[2] += w * x2 * x2;
        for (int c = 0; c < 3; ++c)
        {
            const double t = point.value[c] - offset;
            b[c][0] += w * x1 * t;
            b[c][1] += w * x2 * t;
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
        // Ashikhmin: Rd = Q / (1 - Rs), at most 1; with Rs = 1 there is no
        // diffuse term, and within a millionth of 1 the quotient is rounding
        // over rounding.
        const double RS_ROUNDING = 1e-6;
        parameters[second + c] =
            phong ? z[1]
                  : (z[0] < MAX_REFLECTANCE - RS_ROUNDING ? std::min(z[1] / (MAX_REFLECTANCE - z[0]), MAX_REFLECTANCE)
                                                          : 0.0);
    }
}

std::vector<double> SRF_RobustFitter::pointScales(const SRF_FitData &data, SRF_FitModel::Kind model,
                                                  const double *parameters, const Settings &settings, double scale)
{
    std::vector<double> scales(data.points.size(), scale);
    if (settings.logRelative)
        return scales;
    for (int i = 0; i < data.size(); ++i)
    {
        double f[3];
        SRF_FitModel::evaluate(model, parameters, data.points[i].incoming, data.points[i].scattered, f);
        scales[i] += RELATIVE_SCALE * std::sqrt(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]);
    }
    return scales;
}

// With b = scale^2: Cauchy b ln(1 + s / b); Huber s up to b, then
// 2 scale sqrt(s) - b; soft L1 2 b (sqrt(1 + s / b) - 1): the losses the
// solver minimises, evaluated in its order of operations.
double SRF_RobustFitter::rho(Loss loss, double scale, double s)
{
    const double b = scale * scale, c = 1.0 / b;
    switch (loss)
    {
    case CAUCHY:
        return b * std::log(1.0 + s * c);
    case HUBER:
        return s > b ? 2.0 * scale * std::sqrt(s) - b : s;
    case SOFT_L1:
        return 2.0 * b * (std::sqrt(1.0 + s * c) - 1.0);
    default:
        return s;
    }
}

double SRF_RobustFitter::lossScale(const SRF_FitData &data, SRF_FitModel::Kind model, const double *parameters,
                                   const Settings &settings)
{
    std::vector<double> norms = residualNorms(data, model, parameters, settings);
    if (norms.empty())
        return 1.0;
    std::nth_element(norms.begin(), norms.begin() + norms.size() / 2, norms.end());
    const double median = norms[norms.size() / 2];
    // A data set the model fits exactly still needs a scale above 0.
    return std::max(SCALE_OVER_MEDIAN * median, 1e-12);
}

#ifdef SRF_HAVE_ROBUST_SOLVER
SRF_RobustFitter::Result SRF_RobustFitter::fit(const SRF_FitData &data, SRF_FitModel::Kind model,
                                               const Settings &settings)
{
    const int count = SRF_FitModel::parameterCount(model);
    const bool isotropic = settings.isotropic && model == SRF_FitModel::ASHIKHMIN;
    Result result;
    result.parameters = SRF_FitParameters(model);
    result.metricValue = UNBOUNDED;
    if (data.points.empty())
        return result;

    std::vector<double> x(count, 0.0);
    // One problem per loss scale: the first without a loss (or the loss's
    // scale 1 when none is wanted), the next with the scale that the
    // residuals of the best fit so far give.
    auto solveFrom = [&](const std::vector<std::vector<double>> &starts,
                         const std::vector<std::unique_ptr<ceres::LossFunction>> &losses, std::vector<double> &best,
                         double &bestCost)
    {
        ceres::Problem::Options problemOptions;
        problemOptions.loss_function_ownership = ceres::DO_NOT_TAKE_OWNERSHIP;
        ceres::Problem problem(problemOptions);
        for (int i = 0; i < data.size(); ++i)
        {
            const SRF_FitData::Point &point = data.points[i];
            ceres::CostFunction *cost;
            Settings local = settings;
            local.isotropic = isotropic;
            if (model == SRF_FitModel::PHONG)
                cost = new ceres::AutoDiffCostFunction<PointResidual<SRF_FitModel::PHONG>, 3,
                                                       SRF_FitModel::PHONG_PARAMETERS>(
                    new PointResidual<SRF_FitModel::PHONG>(point, local));
            else
                cost = new ceres::AutoDiffCostFunction<PointResidual<SRF_FitModel::ASHIKHMIN>, 3,
                                                       SRF_FitModel::ASHIKHMIN_PARAMETERS>(
                    new PointResidual<SRF_FitModel::ASHIKHMIN>(point, local));
            problem.AddResidualBlock(cost, losses.empty() ? nullptr : losses[i].get(), x.data());
        }
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
        if (isotropic)
            problem.SetManifold(x.data(), new ceres::SubsetManifold(count, {1}));

        ceres::Solver::Options options;
        options.linear_solver_type = ceres::DENSE_QR;
        options.max_num_iterations = MAX_ITERATIONS;
        options.function_tolerance = FUNCTION_TOLERANCE;
        options.gradient_tolerance = GRADIENT_TOLERANCE;
        options.parameter_tolerance = PARAMETER_TOLERANCE;
        options.num_threads = 1;
        options.logging_type = ceres::SILENT;
        options.minimizer_progress_to_stdout = false;
        for (const std::vector<double> &start : starts)
        {
            x = start;
            ceres::Solver::Summary summary;
            ceres::Solve(options, &problem, &summary);
            result.iterations += int(summary.iterations.size());
            if (summary.final_cost < bestCost)
            {
                bestCost = summary.final_cost;
                best = x;
            }
        }
    };

    std::vector<std::vector<double>> starts;
    for (double exponent : startingExponents(std::max(settings.starts, 1)))
    {
        std::vector<double> p(count, 0.0);
        for (int i = 0; i < count; ++i)
            p[i] = SRF_FitModel::isExponent(model, i) ? exponent : 0.0;
        fitColours(data, model, p.data());
        for (int i = 0; i < count; ++i)
            x[i] = SRF_FitModel::isExponent(model, i) ? std::log(p[i]) : p[i];
        starts.push_back(x);
    }

    // Least squares from every start.
    std::vector<double> best;
    double bestCost = UNBOUNDED;
    solveFrom(starts, {}, best, bestCost);
    std::vector<double> p(count);
    toModel(model, best.data(), p.data(), isotropic);
    result.lossScale = 0.0;
    if (settings.loss != NONE)
    {
        // The robust loss, its scale from the residuals of the least-squares
        // fit, from every start and from that fit; then once more from the
        // best with the scales of its own residuals and values, which no
        // longer carry the outliers' pull. A measurement's value term is the
        // larger of the two fits' values there: a highlight that the
        // least-squares fit shows stays weighed as one even where a robust
        // start has lost it.
        const std::vector<double> squares(p);
        std::vector<std::unique_ptr<ceres::LossFunction>> losses;
        auto setLosses = [&]()
        {
            result.lossScale = lossScale(data, model, p.data(), settings);
            const std::vector<double> scales = pointScales(data, model, p.data(), settings, result.lossScale);
            const std::vector<double> first = pointScales(data, model, squares.data(), settings, result.lossScale);
            losses.clear();
            for (size_t i = 0; i < scales.size(); ++i)
                losses.emplace_back(newLoss(settings.loss, std::max(scales[i], first[i])));
        };
        setLosses();
        starts.push_back(best);
        bestCost = UNBOUNDED;
        solveFrom(starts, losses, best, bestCost);
        toModel(model, best.data(), p.data(), isotropic);
        setLosses();
        bestCost = UNBOUNDED;
        solveFrom({best}, losses, best, bestCost);
        toModel(model, best.data(), p.data(), isotropic);
    }
    result.parameters = SRF_FitParameters(model, p);
    result.metricValue = std::sqrt(2.0 * bestCost / data.size());
    return result;
}
#endif
