#ifndef SRF_FITREADER_H
#define SRF_FITREADER_H

#include "SRF_FitData.h"

#include <string>

// SRF_FitReader: reads a measurement file for fitting, understanding more
// of the files that instruments write than the shading op's reader does.
//
// - Every VARS name takes its place in a row. Besides the angles and R, G,
//   B or I, a name such as "550nm" is a wavelength column; any other name
//   is a column that is skipped.
// - Wavelength columns make the colour: four or more (or two) are a
//   spectrum, turned into linear sRGB under D65 (SRF_ColourMatching);
//   three bands whose nearest sRGB primaries (by dominant wavelength) are
//   all different go each to that primary; a single band is a grey value.
//   R, G, B or I columns, when present, are used instead.
// - A file whose VARS line omits phi_s while its rows carry one value more
//   is read with phi_s in its usual fourth place. A row with as many values
//   as there are angle, colour and wavelength names is read with the other
//   names taking no place, as the shading op reads every file.
// - A wavelength's unit may be written nm, NM or Nm. Spectra are
//   integrated at 1 nm, so that samples finer than 10 nm all count.
// - Angles are radians; a file whose angles exceed 2 pi is refused as
//   written in degrees.
// - Rows with theta_s from 76 to 90 degrees that hold a linear ramp from
//   the 75-degree row down to 0 are instrument fill, not measurements: they
//   are dropped, and the account says how many.
// - Blank lines are skipped, and so are rows holding a value that is not a
//   finite number (counted in the account); at most NUM_POINTS rows are
//   read.
//
// Failures (no file, no NUM_POINTS, no angle or colour column, no row)
// raise std::runtime_error with a one-line message naming the file.
class SRF_FitReader
{
public:
    static SRF_FitData read(const std::string &path);

    // Dominant wavelengths (nm) of the sRGB red, green and blue primaries,
    // rounded: a band goes to the channel whose wavelength is nearest.
    static constexpr double PRIMARY_WAVELENGTHS[3] = {611.0, 549.0, 464.0};
    // The visible range (nm): a file whose wavelength columns all lie
    // outside it is refused, one with some outside is warned of.
    static constexpr double VISIBLE_FIRST = 380.0;
    static constexpr double VISIBLE_LAST = 780.0;
};

#endif
