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
};

#endif
