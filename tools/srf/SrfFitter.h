#ifndef SRF_TOOL_FITTER_H
#define SRF_TOOL_FITTER_H

#include <string>
#include <utility>
#include <vector>

// Fits a reflectance model to a measurement file and says how well it fits:
// the parameters by name, the number of measurements, the RMS difference
// between the model and the measurements (the quantity the fit minimises)
// and the time the fit took.
class SrfFitter
{
public:
    enum Model
    {
        PHONG,    // diffuse term plus a half-vector lobe
        ASHIKHMIN // anisotropic half-vector lobe with Fresnel and a matching diffuse term
    };

    struct Result
    {
        std::vector<std::pair<std::string, float>> parameters;
        int points = 0;
        double rms = 0.0;
        double seconds = 0.0;
    };

    // Raises an SrfError when the file cannot be read or holds no
    // measurement.
    static Result fit(const std::string &path, Model model);
};

#endif
