#include "SRF_FitShader.h"

#include "SRF_Constants.h"
#include "SRF_FitTree.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace
{
const char *const DIRECTIONS = "theta_i,phi_i,theta_s,phi_s";
// The highlights are matched to the model's albedo from normal incidence to
// this many degrees, in steps of MATCHED_STEP, with couplings from these
// lists. At the highlight's peak (h = N, v.n = u.n = h.u) the model's
// f cos over the lobe's value goes as (u.n v.n)^1.5 for Phong (its cos
// over the Blinn lobe's 1 / (h.u)^2) and as (u.n v.n)^0.5 for Ashikhmin
// (h.u v.n / max(u.n, v.n) over 1 / (h.u)^2): those couplings, and some
// about them for the light a broad lobe loses below the horizon.
const int MATCHED_DEGREES = 60;
const int MATCHED_STEP = 10;
const std::vector<double> BLINN_COUPLINGS = {0.0, 1.0, 1.5, 2.0, 3.0};
const std::vector<double> ASHIKHMIN_COUPLINGS = {0.0, 0.5, 1.0, 3.0};
// Errors relative to the target plus this fraction of the largest target:
// a part that vanishes at some angle (the Fresnel rise at normal
// incidence) need not match there in relative terms.
const double FLOOR = 0.1;
// The error a highlight's part may keep, as rowWeights weighs it, when
// terms are pruned.
const double PRUNED_ERROR = 0.025;

std::string vector3(const double *v)
{
    char text[96];
    snprintf(text, sizeof text, "%.7g %.7g %.7g", v[0], v[1], v[2]);
    return text;
}

std::string scalar(double x)
{
    char text[32];
    snprintf(text, sizeof text, "%.7g", x);
    return text;
}

// The shader's numbers are 32-bit floats: a value that is not finite or
// beyond their range would render as nothing or as infinity.
void checkFloat(const std::string &what, double x)
{
    if (!std::isfinite(x) || std::fabs(x) > FLT_MAX)
        throw std::runtime_error("cannot export the fit: " + what + " = " + scalar(x) +
                                 " is not a finite 32-bit float");
}

// The matched incident directions: azimuth 0 along dPds (y), 90 along dPdt (x).
std::vector<std::vector<double>> matchedDirections()
{
    std::vector<std::vector<double>> directions;
    for (int degrees = 0; degrees <= MATCHED_DEGREES; degrees += MATCHED_STEP)
        for (int azimuth = 0; azimuth < (degrees ? 2 : 1); ++azimuth)
        {
            const double t = degrees * SRF_PI_DOUBLE / 180.0;
            directions.push_back({azimuth ? std::sin(t) : 0.0, azimuth ? 0.0 : std::sin(t), std::cos(t)});
        }
    return directions;
}

// The model's albedo (first channel) at every direction, for parameters
// whose colours are grey.
std::vector<double> modelAlbedos(const SRF_FitParameters &p, const std::vector<std::vector<double>> &directions)
{
    std::vector<double> out;
    for (const auto &u : directions)
    {
        double albedo[3];
        SRF_FitShader::modelAlbedo(p, u.data(), albedo);
        out.push_back(albedo[0]);
    }
    return out;
}

// A term's albedo (first channel, its colour grey 1) at every direction:
// the compiled term's, through the library.
std::vector<double> termAlbedos(SRF_FitShader::Term term, SRF_FitModel::Kind model,
                                const std::vector<std::vector<double>> &directions)
{
    std::fill(term.colour, term.colour + 3, 1.0);
    SRF_Fitter::Result result;
    result.parameters = SRF_FitParameters(model);
    const SRF_FitTree tree(SRF_FitShader::text(result, "", {term}));
    std::vector<double> out;
    for (const auto &u : directions)
    {
        double albedo[3];
        tree.albedo(u.data(), albedo);
        out.push_back(albedo[0]);
    }
    return out;
}

// The row weights of a target: 1 / (its value + FLOOR x its largest).
std::vector<double> rowWeights(const std::vector<double> &target)
{
    const double largest = *std::max_element(target.begin(), target.end());
    std::vector<double> weights;
    for (double t : target)
        weights.push_back(t + FLOOR * largest > 0.0 ? 1.0 / (t + FLOOR * largest) : 0.0);
    return weights;
}

// The non-negative weights x of the basis columns whose sum best matches
// the target, errors relative as rowWeights says: Lawson and Hanson's
// active set, each step a least-squares solve on the columns in the set.
std::vector<double> nonNegativeFit(const std::vector<std::vector<double>> &basis, const std::vector<double> &target)
{
    const std::vector<double> weights = rowWeights(target);
    const int rows = int(target.size()), columns = int(basis.size());
    Eigen::MatrixXd a(rows, columns);
    Eigen::VectorXd b(rows);
    for (int i = 0; i < rows; ++i)
    {
        b[i] = target[i] * weights[i];
        for (int j = 0; j < columns; ++j)
            a(i, j) = basis[j][i] * weights[i];
    }
    const double TOLERANCE = 1e-12 * std::max(1.0, b.norm());
    Eigen::VectorXd x = Eigen::VectorXd::Zero(columns);
    std::vector<bool> active(columns, false);
    // The least-squares weights of the active columns, zero elsewhere.
    auto solveActive = [&]()
    {
        std::vector<int> set;
        for (int j = 0; j < columns; ++j)
            if (active[j])
                set.push_back(j);
        Eigen::MatrixXd sub(rows, int(set.size()));
        for (size_t k = 0; k < set.size(); ++k)
            sub.col(int(k)) = a.col(set[k]);
        const Eigen::VectorXd solved = sub.colPivHouseholderQr().solve(b);
        Eigen::VectorXd z = Eigen::VectorXd::Zero(columns);
        for (size_t k = 0; k < set.size(); ++k)
            z[set[k]] = solved[int(k)];
        return z;
    };
    for (int round = 0; round < 3 * columns; ++round)
    {
        const Eigen::VectorXd gradient = a.transpose() * (b - a * x);
        int best = -1;
        for (int j = 0; j < columns; ++j)
            if (!active[j] && gradient[j] > TOLERANCE && (best < 0 || gradient[j] > gradient[best]))
                best = j;
        if (best < 0)
            break;
        active[best] = true;
        for (int inner = 0; inner < columns; ++inner)
        {
            const Eigen::VectorXd z = solveActive();
            double step = 1.0;
            for (int j = 0; j < columns; ++j)
                if (active[j] && z[j] <= 0.0)
                    step = std::min(step, x[j] / (x[j] - z[j]));
            x += step * (z - x);
            if (step >= 1.0)
                break;
            for (int j = 0; j < columns; ++j)
                if (active[j] && x[j] <= TOLERANCE)
                    active[j] = false, x[j] = 0.0;
        }
    }
    return std::vector<double>(x.data(), x.data() + columns);
}

// The largest error of the sum of weighted basis columns against the
// target, relative as rowWeights says.
double largestError(const std::vector<std::vector<double>> &basis, const std::vector<double> &x,
                    const std::vector<double> &target)
{
    const std::vector<double> weights = rowWeights(target);
    double largest = 0.0;
    for (size_t i = 0; i < target.size(); ++i)
    {
        double sum = 0.0;
        for (size_t j = 0; j < basis.size(); ++j)
            sum += basis[j][i] * x[j];
        largest = std::max(largest, std::fabs(sum - target[i]) * weights[i]);
    }
    return largest;
}

// The non-negative weights of the basis columns for each target, over as
// few columns as keep every target within PRUNED_ERROR (or, when the
// full basis cannot, as the full basis does): a shader of fewer terms
// renders faster. Columns leave one at a time, the one whose loss costs
// least first.
std::vector<std::vector<double>> prunedFit(const std::vector<std::vector<double>> &basis,
                                           const std::vector<std::vector<double>> &targets)
{
    auto fitOn = [&](const std::vector<size_t> &kept, double &error)
    {
        std::vector<std::vector<double>> columns;
        for (size_t j : kept)
            columns.push_back(basis[j]);
        std::vector<std::vector<double>> out;
        error = 0.0;
        for (const std::vector<double> &target : targets)
        {
            const std::vector<double> x = nonNegativeFit(columns, target);
            error = std::max(error, largestError(columns, x, target));
            std::vector<double> all(basis.size(), 0.0);
            for (size_t k = 0; k < kept.size(); ++k)
                all[kept[k]] = x[k];
            out.push_back(all);
        }
        return out;
    };
    std::vector<size_t> kept;
    for (size_t j = 0; j < basis.size(); ++j)
        kept.push_back(j);
    double error;
    std::vector<std::vector<double>> best = fitOn(kept, error);
    const double allowed = std::max(PRUNED_ERROR, error);
    kept.clear();
    for (size_t j = 0; j < basis.size(); ++j)
        if (std::any_of(best.begin(), best.end(), [&](const std::vector<double> &x) { return x[j] > 0.0; }))
            kept.push_back(j);
    while (kept.size() > 1)
    {
        double leastError = HUGE_VAL;
        size_t leaving = 0;
        std::vector<std::vector<double>> leastFit;
        for (size_t k = 0; k < kept.size(); ++k)
        {
            std::vector<size_t> trial = kept;
            trial.erase(trial.begin() + long(k));
            double trialError;
            std::vector<std::vector<double>> fit = fitOn(trial, trialError);
            if (trialError < leastError)
                leastError = trialError, leaving = k, leastFit = fit;
        }
        if (leastError > allowed)
            break;
        kept.erase(kept.begin() + long(leaving));
        best = leastFit;
    }
    return best;
}

// The scale s that best matches s x basis to the target, errors relative.
double scaleFit(const std::vector<double> &basis, const std::vector<double> &target)
{
    const std::vector<double> weights = rowWeights(target);
    double s1 = 0.0, s2 = 0.0;
    for (size_t i = 0; i < target.size(); ++i)
    {
        s1 += basis[i] * target[i] * weights[i] * weights[i];
        s2 += basis[i] * basis[i] * weights[i] * weights[i];
    }
    return s2 > 0.0 ? s1 / s2 : 0.0;
}

// The candidate highlight terms: the lobe times each coupling (up to the
// largest weight exponent) and, for Ashikhmin, with and without the Fresnel
// rise and each tangent weight.
std::vector<SRF_FitShader::Term> highlightCandidates(SRF_FitShader::Lobe lobe, const double exponents[2])
{
    const double largest = SRF_FitShader::largestWeightExponent(lobe, exponents);
    const bool tangents = lobe == SRF_FitShader::ASHIKHMIN && SRF_FitShader::TANGENT_EXPONENT < largest;
    std::vector<SRF_FitShader::Term> candidates;
    for (double coupling : lobe == SRF_FitShader::BLINN ? BLINN_COUPLINGS : ASHIKHMIN_COUPLINGS)
    {
        if (coupling > largest)
            continue;
        for (int rise = 0; rise < (lobe == SRF_FitShader::ASHIKHMIN ? 2 : 1); ++rise)
            for (int tangent = 0; tangent < (tangents ? 3 : 1); ++tangent)
            {
                SRF_FitShader::Term term;
                term.lobe = lobe;
                term.exponents[0] = exponents[0];
                term.exponents[1] = exponents[1];
                term.coupling = coupling;
                term.fresnelPower = rise ? std::min(SRF_FitShader::FRESNEL_POWER, largest) : 0.0;
                term.tangent = SRF_FitShader::Tangent(tangent);
                candidates.push_back(term);
            }
    }
    return candidates;
}

const char *lobeName(SRF_FitShader::Lobe lobe)
{
    return lobe == SRF_FitShader::PHONG_ABOUT_N ? "phonglobe" : lobe == SRF_FitShader::BLINN ? "blinn" : "ashikhmin";
}

// One line that says what a term is in the library's lobes.
std::string describe(const SRF_FitShader::Term &term)
{
    std::string text = std::string(term.diffuse ? "diffuse" : "highlight") + ": library lobe " + lobeName(term.lobe);
    text += term.lobe == SRF_FitShader::ASHIKHMIN
                ? " of exponents " + scalar(term.exponents[0]) + ", " + scalar(term.exponents[1])
                : (term.lobe == SRF_FitShader::PHONG_ABOUT_N ? " about N" : "") + std::string(" of exponent ") +
                      scalar(term.exponents[0]);
    if (term.coupling > 0.0)
        text += " x lafortune (u.n v.n)^" + scalar(term.coupling);
    if (term.fresnelPower > 0.0)
        text += " x lafortune (-u_t.v_t)^" + scalar(term.fresnelPower);
    if (term.tangent != SRF_FitShader::NO_TANGENT)
        text += std::string(" x phonglobes 1 - (T.v)^2 for T = ") +
                (term.tangent == SRF_FitShader::ACROSS_S ? "dPds" : "dPdt");
    return text;
}

// The shader line that builds a term's lobe into the BSDF variable `into`.
std::string lobe(const SRF_FitShader::Term &term, const std::string &into)
{
    if (term.lobe == SRF_FitShader::PHONG_ABOUT_N)
        return "phonglobe@BVF " + into + " normal " + scalar(term.exponents[0]) + "\n";
    if (term.lobe == SRF_FitShader::BLINN)
        return "blinn@BVF     " + into + " normal " + scalar(term.exponents[0]) + "\n";
    return "ashikhmin@BVFFVV " + into + " normal " + scalar(term.exponents[0]) + " " + scalar(term.exponents[1]) +
           " tangentU tangentV\n";
}

// The shader lines that build the product of a term's weights times its
// colour into `into` (an isotropic lobe, whose value is 1, when it has
// none), with `factor` and `other` for the parts.
std::string weight(const SRF_FitShader::Term &term, const std::string &into, const std::string &colour)
{
    std::string text;
    // The parts, each built into TARGET: `into` for the first, `factor`
    // (multiplied in) for the others.
    std::vector<std::string> parts;
    if (term.coupling > 0.0)
        parts.push_back("lafortune@BVVF TARGET normal up " + scalar(term.coupling) + "\n");
    if (term.fresnelPower > 0.0)
        parts.push_back("lafortune@BVVF TARGET normal across " + scalar(term.fresnelPower) + "\n");
    if (term.tangent != SRF_FitShader::NO_TANGENT)
    {
        // 1 - (T.v)^2 = (S.v)^2 + (N.v)^2, S the other tangent.
        const bool s = term.tangent == SRF_FitShader::ACROSS_S;
        const std::string exponent = " " + scalar(SRF_FitShader::TANGENT_EXPONENT) + "\n";
        parts.push_back(std::string("phonglobe@BVF TARGET ") + (s ? "tangentV" : "tangentU") + exponent +
                        "phonglobe@BVF other " + (s ? "minusV" : "minusU") + exponent +
                        "add@BB        TARGET other\nphonglobe@BVF other normal" + exponent +
                        "add@BB        TARGET other\n");
    }
    if (parts.empty())
        parts.push_back("isotropic@B   TARGET\n");
    for (size_t k = 0; k < parts.size(); ++k)
    {
        std::string build = parts[k];
        const std::string target = k ? "factor" : into;
        for (size_t at = build.find("TARGET"); at != std::string::npos; at = build.find("TARGET"))
            build.replace(at, 6, target);
        text += build;
        if (k)
            text += "mul@BB        " + into + " factor\n";
    }
    return text + "mul@BV        " + into + " " + colour + "\n";
}
} // namespace

void SRF_FitShader::modelAlbedo(const SRF_FitParameters &p, const double u[3], double albedo[3])
{
    double sum[3] = {0.0, 0.0, 0.0};
    SRF_FitTree::overHalfVectors(
        [&](const double *h, double area)
        {
            const double k = h[0] * u[0] + h[1] * u[1] + h[2] * u[2];
            const double v[3] = {2.0 * k * h[0] - u[0], 2.0 * k * h[1] - u[1], 2.0 * k * h[2] - u[2]};
            if (!(k > 0.0) || !(v[2] > 0.0))
                return;
            double f[3];
            SRF_FitModel::evaluate(p.model(), p.data(), u, v, f);
            for (int c = 0; c < 3; ++c)
                sum[c] += f[c] * v[2] * 4.0 * k * area;
        });
    std::copy(sum, sum + 3, albedo);
}

double SRF_FitShader::largestWeightExponent(Lobe lobe, const double exponents[2])
{
    // Blinn e / (e + 1) > a / (a + 1) for a < e; Ashikhmin (e1 + e2) /
    // (2 + e1 + e2) > a / (a + 1) for a < (e1 + e2) / 2; a margin of 5 %.
    return 0.95 * (lobe == ASHIKHMIN ? 0.5 * (exponents[0] + exponents[1]) : exponents[0]);
}

std::vector<SRF_FitShader::Term> SRF_FitShader::terms(const SRF_FitParameters &p)
{
    for (int i = 0; i < p.count(); ++i)
        checkFloat(p.name(i), p.value(i));
    const SRF_FitModel::Kind model = p.model();
    const bool phong = model == SRF_FitModel::PHONG;
    const std::vector<std::vector<double>> directions = matchedDirections();

    // The model's albedo in parts that are linear in its colours, each for
    // grey colours of 1: Phong's highlight and diffuse term; Ashikhmin's
    // highlight with F = 1 (Rs = 1), with F = (1 - k)^5 (Rs = 0), and its
    // diffuse term for Rd (1 - Rs) = 1.
    auto part = [&](double specular, double diffuse)
    {
        SRF_FitParameters unit = p;
        unit.setSpecular(specular, specular, specular);
        unit.setDiffuse(diffuse, diffuse, diffuse);
        return modelAlbedos(unit, directions);
    };
    const std::vector<double> full = part(1.0, 0.0), rise = phong ? full : part(0.0, 0.0);
    std::vector<double> diffuse = part(0.0, 1.0);
    if (!phong)
        for (size_t i = 0; i < diffuse.size(); ++i)
            diffuse[i] -= rise[i];

    std::vector<Term> terms;
    Term diffuseTerm;
    diffuseTerm.diffuse = true;
    diffuseTerm.lobe = PHONG_ABOUT_N;
    diffuseTerm.exponents[0] = phong ? 0.5 : DIFFUSE_EXPONENT;
    diffuseTerm.coupling = phong ? 0.0 : DIFFUSE_COUPLING;
    const double diffuseScale = scaleFit(termAlbedos(diffuseTerm, model, directions), diffuse);
    for (int c = 0; c < 3; ++c)
    {
        const double rs = phong ? 0.0 : p.specular(c);
        diffuseTerm.colour[c] = p.diffuse(c) * (1.0 - rs) * diffuseScale;
    }
    terms.push_back(diffuseTerm);

    // The highlights: a half-exponent lobe times weights, their colours by
    // non-negative least squares for each part of the model's highlight.
    const double exponents[2] = {0.5 * p.exponentU(), 0.5 * p.exponentV()};
    const std::vector<Term> candidates = highlightCandidates(phong ? BLINN : ASHIKHMIN, exponents);
    std::vector<std::vector<double>> basis;
    for (const Term &candidate : candidates)
        basis.push_back(termAlbedos(candidate, model, directions));
    std::vector<std::vector<double>> targets = {full};
    if (!phong)
        targets.push_back(rise);
    const std::vector<std::vector<double>> weights = prunedFit(basis, targets);
    for (size_t j = 0; j < candidates.size(); ++j)
    {
        Term term = candidates[j];
        for (int c = 0; c < 3; ++c)
        {
            const double rs = p.specular(c);
            term.colour[c] = phong ? rs * weights[0][j] : rs * weights[0][j] + (1.0 - rs) * weights[1][j];
        }
        if (term.colour[0] > 0.0 || term.colour[1] > 0.0 || term.colour[2] > 0.0)
            terms.push_back(term);
    }
    // A diffuse term of no colour renders nothing (unless nothing else
    // does: the shader keeps one term).
    if (terms.size() > 1 && std::all_of(terms[0].colour, terms[0].colour + 3, [](double c) { return c == 0.0; }))
        terms.erase(terms.begin());
    for (const Term &term : terms)
        for (int c = 0; c < 3; ++c)
            checkFloat("a lobe's colour", term.colour[c]);
    return terms;
}

std::string SRF_FitShader::text(const SRF_Fitter::Result &result, const std::string &source)
{
    return text(result, source, terms(result.parameters));
}

std::string SRF_FitShader::text(const SRF_Fitter::Result &result, const std::string &source,
                                const std::vector<Term> &terms)
{
    const bool phong = result.parameters.model() == SRF_FitModel::PHONG;
    std::string text;
    text += std::string("# the ") + SRF_Fitter::modelName(result.parameters.model()) + " model fitted to " + source +
            " (" + SRF_Fitter::solverName(result.solver) + " solver, " + SRF_Fitter::metricName(result.metric) +
            " metric" +
            (result.points > 0
                 ? "; rms per channel " + scalar(result.rms) + " over " + std::to_string(result.points) + " points"
                 : std::string()) +
            ")\n";
    text += std::string("# measurement frame: ") + DIRECTIONS + " about the normal N" +
            (phong ? "" : ", its y axis (exponent.u) along dPds and x (exponent.v) along dPdt") + "\n";
    for (int i = 0; i < result.parameters.count(); ++i)
        text += "#   " + std::string(result.parameters.name(i)) + " " + scalar(result.parameters.value(i)) + "\n";
    text += "# a sum of library lobes times weights, whose sampled colour weight reflects what the model\n"
            "# reflects (its directional albedo, matched from 0 to 60 degrees) and whose values follow\n"
            "# the model's f cos(theta_s) about its highlight:\n";
    for (size_t i = 0; i < terms.size(); ++i)
        text += "#   term " + std::to_string(i + 1) + ", " + describe(terms[i]) + "\n";
    for (size_t i = 0; i < terms.size(); ++i)
        text += "vector colour" + std::to_string(i + 1) + " = " + vector3(terms[i].colour) + "\n";
    text += "vector up = 0 0 1\nvector across = 0 -1 0\n";
    const bool tangents =
        std::any_of(terms.begin(), terms.end(),
                    [](const Term &term) { return term.lobe == ASHIKHMIN || term.tangent != NO_TANGENT; });
    text += "varying vector normal\nbsdf   term\nbsdf   factor\nbsdf   other\nbsdf   weight\nbsdf   weights\n"
            "normalize@VV normal N\n";
    if (tangents)
        text += "varying vector tangentU\nvarying vector tangentV\nvarying vector minusU\nvarying vector minusV\n"
                "normalize@VV tangentU dPds\nnormalize@VV tangentV dPdt\n"
                "set@VV        minusU tangentU\nmul@VF        minusU -1\n"
                "set@VV        minusV tangentV\nmul@VF        minusV -1\n";
    // Each run of terms on the same lobe is that lobe times the sum of the
    // terms' weights and colours: one lobe to sample and evaluate, the
    // same light as the terms apart (a product's value is linear in its
    // second operand's).
    for (size_t i = 0; i < terms.size();)
    {
        size_t end = i + 1;
        while (end < terms.size() && terms[end].diffuse == terms[i].diffuse && terms[end].lobe == terms[i].lobe &&
               terms[end].exponents[0] == terms[i].exponents[0] && terms[end].exponents[1] == terms[i].exponents[1])
            ++end;
        const std::string into = i ? "term" : "F";
        text += lobe(terms[i], into);
        for (size_t k = i; k < end; ++k)
        {
            text += weight(terms[k], k == i ? "weights" : "weight", "colour" + std::to_string(k + 1));
            if (k > i)
                text += "add@BB        weights weight\n";
        }
        text += "mul@BB        " + into + " weights\n";
        if (i)
            text += "add@BB        F term\n";
        i = end;
    }
    return text;
}

// All the shader's file writing is here, in one place.
void SRF_FitShader::write(const std::string &path, const std::string &content)
{
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        throw std::runtime_error("cannot write '" + path + "': " + std::strerror(errno));
    const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    if (std::fclose(file) != 0 || !written)
        throw std::runtime_error("cannot write '" + path + "': " + std::strerror(errno));
}
