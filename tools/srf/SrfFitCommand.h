#ifndef SRF_TOOL_FITCOMMAND_H
#define SRF_TOOL_FITCOMMAND_H

#include "SRF_Fitter.h"

#include <string>
#include <vector>

// The fit command's work: reads a measurement file once, fits a model to it
// with one solver or both, and prints what each fit gives (parameters by
// name, point count, absolute RMS, the chosen metric, time) after the
// reader's account of the file.
class SrfFitCommand
{
public:
    // Raises an SrfError with a one-line message for an unreadable file, a
    // file without measurements or a bad option.
    static std::vector<SRF_Fitter::Result> fit(const std::string &path, const SRF_Fitter::Options &options,
                                               const std::vector<SRF_Fitter::Solver> &solvers);
    // The printed form of the results of one file.
    static std::string report(const std::string &path, const std::vector<SRF_Fitter::Result> &results, int starts);
    // How the exported shader's directional albedo (the mean colour weight
    // of its samples, as the library integrates its tree) compares with the
    // model's (the result's) at incidence 0, 30 and 60 degrees in two azimuths.
    static std::string exportReport(const SRF_Fitter::Result &result, const std::string &shader);
};

#endif
