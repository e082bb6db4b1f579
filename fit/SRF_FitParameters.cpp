#include "SRF_FitParameters.h"

#include <stdexcept>
#include <string>

SRF_FitParameters::SRF_FitParameters(SRF_FitModel::Kind model)
    : myModel(model), myValues(SRF_FitModel::parameterCount(model), 0.0)
{
}

SRF_FitParameters::SRF_FitParameters(SRF_FitModel::Kind model, const std::vector<double> &values)
    : myModel(model), myValues(values)
{
    if (count() != SRF_FitModel::parameterCount(model))
        throw std::invalid_argument(std::string(model == SRF_FitModel::PHONG ? "phong" : "ashikhmin") + " has " +
                                    std::to_string(SRF_FitModel::parameterCount(model)) + " parameters, not " +
                                    std::to_string(values.size()));
}

void SRF_FitParameters::setSpecular(double r, double g, double b)
{
    const int first = SRF_FitModel::specularColour(myModel);
    myValues[first] = r, myValues[first + 1] = g, myValues[first + 2] = b;
}

void SRF_FitParameters::setDiffuse(double r, double g, double b)
{
    const int first = SRF_FitModel::diffuseColour(myModel);
    myValues[first] = r, myValues[first + 1] = g, myValues[first + 2] = b;
}

double SRF_FitParameters::exponentU() const
{
    return myValues[myModel == SRF_FitModel::PHONG ? SRF_FitModel::PHONG_EXPONENT : SRF_FitModel::ASHIKHMIN_EXPONENT_U];
}

double SRF_FitParameters::exponentV() const
{
    return myValues[myModel == SRF_FitModel::PHONG ? SRF_FitModel::PHONG_EXPONENT : SRF_FitModel::ASHIKHMIN_EXPONENT_V];
}
