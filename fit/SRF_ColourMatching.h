#ifndef SRF_COLOURMATCHING_H
#define SRF_COLOURMATCHING_H

#include <vector>

// SRF_ColourMatching: turns a reflectance sampled at a few wavelengths into
// a linear sRGB colour, as a surface of that reflectance looks under
// daylight.
//
// The spectrum is interpolated linearly between its samples and held at
// its first and last value beyond them, over 380 to 780 nm; it is weighted
// by the D65 illuminant and integrated against the CIE 1931 2-degree
// colour-matching functions in 1 nm steps (the 10 nm tables interpolated
// linearly), so that every sample of a spectrum finer than the tables
// weighs for the wavelengths around it; normalised so that a perfect white
// reflector
// has Y = 1, and the XYZ colour is converted to linear sRGB. Each channel is
// then divided by that of the unit flat spectrum, so that a flat spectrum of
// value c gives exactly (c, c, c) despite the rounding of the tables.
//
// The conversion is linear in the spectrum: the constructor folds all of
// it into one weight per sample and channel.
class SRF_ColourMatching
{
public:
    // Wavelengths of the samples in nanometres, in increasing order (at
    // least one).
    explicit SRF_ColourMatching(const std::vector<double> &wavelengths);

    // rgb = the linear sRGB colour of the spectrum given by one value per
    // wavelength of the constructor.
    void toRgb(const double *spectrum, double rgb[3]) const;

    // The tables, 10 nm apart from FIRST_WAVELENGTH.
    static constexpr int TABLE_SIZE = 41;
    static constexpr double FIRST_WAVELENGTH = 380.0;
    static constexpr double TABLE_STEP = 10.0;
    // CIE 1931 colour-matching functions x, y, z and the D65 illuminant at
    // entry i (wavelength FIRST_WAVELENGTH + i TABLE_STEP).
    static const double *matching(int i);
    static double daylight(int i);
    // XYZ -> linear sRGB, row by row.
    static const double *xyzToRgb(int row);

private:
    std::vector<double> myWeights; // 3 per sample: r, g, b
};

#endif
