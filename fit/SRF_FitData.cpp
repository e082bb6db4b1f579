#include "SRF_FitData.h"

#include <cmath>

namespace
{
// (sin theta sin phi, sin theta cos phi, cos theta)
void direction(double theta, double phi, double v[3])
{
    v[0] = std::sin(theta) * std::sin(phi);
    v[1] = std::sin(theta) * std::cos(phi);
    v[2] = std::cos(theta);
}
} // namespace

void SRF_FitData::add(double thetaIn, double phiIn, double thetaOut, double phiOut, const double value[3])
{
    Point point;
    direction(thetaIn, phiIn, point.incoming);
    direction(thetaOut, phiOut, point.scattered);
    for (int c = 0; c < 3; ++c)
        point.value[c] = value[c];
    points.push_back(point);
}
