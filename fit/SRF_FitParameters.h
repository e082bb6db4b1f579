#ifndef SRF_FITPARAMETERS_H
#define SRF_FITPARAMETERS_H

#include "SRF_FitModel.h"

#include <vector>

// SRF_FitParameters: the parameters of a fitted model, by name, from the
// solver to the result and the exported shader. The array that the solvers
// fit and the formulas read (data()) has SRF_FitModel's layout; everything
// else asks for a parameter by what it is.
class SRF_FitParameters
{
public:
    // All zero.
    explicit SRF_FitParameters(SRF_FitModel::Kind model = SRF_FitModel::PHONG);
    // From the array in the model's layout; raises std::invalid_argument
    // with a one-line message when the count is not the model's.
    SRF_FitParameters(SRF_FitModel::Kind model, const std::vector<double> &values);

    SRF_FitModel::Kind model() const { return myModel; }
    int count() const { return int(myValues.size()); }
    // "Ks.r", ..., "exponent"; "exponent.u", "exponent.v", "Rs.r", ...
    const char *name(int i) const { return SRF_FitModel::parameterName(myModel, i); }
    double value(int i) const { return myValues[i]; }
    void set(int i, double value) { myValues[i] = value; }
    const double *data() const { return myValues.data(); }
    const std::vector<double> &values() const { return myValues; }

    // The highlight's colour (Phong Ks, Ashikhmin Rs) and the diffuse
    // colour (Kd, Rd), channel 0 red.
    double specular(int channel) const { return myValues[SRF_FitModel::specularColour(myModel) + channel]; }
    double diffuse(int channel) const { return myValues[SRF_FitModel::diffuseColour(myModel) + channel]; }
    void setSpecular(double r, double g, double b);
    void setDiffuse(double r, double g, double b);
    // The highlight's exponents along dPds (exponent.u) and dPdt
    // (exponent.v): Phong's one exponent for both.
    double exponentU() const;
    double exponentV() const;

private:
    SRF_FitModel::Kind myModel;
    std::vector<double> myValues;
};

#endif
