#ifndef SRF_FITDATA_H
#define SRF_FITDATA_H

#include <string>
#include <vector>

// SRF_FitData: the measurements that a model is fitted to, in double
// precision, with the reader's account of how it got them.
//
// Directions are unit vectors in the frame of the measurement, whose z axis
// is the surface normal; values are linear RGB reflectances (1/sr).
class SRF_FitData
{
public:
    struct Point
    {
        double incoming[3];
        double scattered[3];
        double value[3];
        double weight = 1.0; // how much the measurement counts in a fit (0 or more)
    };

    std::string path;          // the file read ("" for data made in memory)
    std::string sampleName;    // the file's SAMPLE_NAME, if any
    std::vector<Point> points; // one per data row read
    // What the reader did, one line each: which columns became angles and
    // colour, how spectra or bands were turned into RGB, how many rows.
    std::vector<std::string> account;

    int size() const { return int(points.size()); }
    // Adds a point from the polar angle and azimuth of both directions
    // (radians; the polar angle from +z, the azimuth from +y towards +x).
    void add(double thetaIn, double phiIn, double thetaOut, double phiOut, const double value[3]);
};

#endif
