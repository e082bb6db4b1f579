#include "SrfFitter.h"

#include "SrfError.h"

#include "BX_Vector3Array.h"
#include "SRF_MeasuredAshikhmin.h"
#include "SRF_MeasuredPhong.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace
{
const char *const PHONG_NAMES[] = {"Ks.r", "Ks.g", "Ks.b", "Kd.r", "Kd.g", "Kd.b", "exponent"};
const char *const ASHIKHMIN_NAMES[] = {"exponent.u", "exponent.v", "Rs.r", "Rs.g", "Rs.b", "Rd.r", "Rd.g", "Rd.b"};

// A fitted model that can read its file again, to measure the fit on the
// measurements it was fitted to.
template <class Model> class Fitted : public Model
{
public:
    explicit Fitted(const char *path) : Model(path) {}

    // sqrt(sum |measured - model|^2 / n), the model evaluated about the
    // normal (0, 0, 1) of the measurement frame.
    double rms(int &points)
    {
        BX_Vector3Array incoming, scattered, values;
        this->read(this->getFileName(), incoming, scattered, values);
        points = this->getPointCount();
        const BX_Vector3 normal(0.0f, 0.0f, 1.0f);
        double sum = 0.0;
        for (int i = 0; i < points; ++i)
        {
            BX_Vector3 colour;
            float scalar = 0.0f;
            this->evaluate(incoming[i], normal, scattered[i], colour, scalar, 0);
            sum += double((values[i] - colour).length2());
        }
        return points > 0 ? std::sqrt(sum / points) : 0.0;
    }
};

template <class Model> SrfFitter::Result fitWith(const std::string &path, const char *const *names, int count)
{
    SrfFitter::Result result;
    const auto start = std::chrono::steady_clock::now();
    Fitted<Model> model(path.c_str());
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.rms = model.rms(result.points);
    for (int i = 0; i < count && i < model.getParameterCount(); ++i)
        result.parameters.emplace_back(names[i], model.getParameters()[i]);
    return result;
}
} // namespace

SrfFitter::Result SrfFitter::fit(const std::string &path, Model model)
{
    FILE *probe = fopen(path.c_str(), "r");
    if (!probe)
        throw SrfError("cannot read '" + path + "': " + strerror(errno));
    fclose(probe);
    const Result result = model == PHONG ? fitWith<SRF_MeasuredPhong>(path, PHONG_NAMES, 7)
                                         : fitWith<SRF_MeasuredAshikhmin>(path, ASHIKHMIN_NAMES, 8);
    if (result.points <= 0)
        throw SrfError("no measurements in '" + path + "' (a NUM_POINTS line, a VARS line and data rows are needed)");
    return result;
}
