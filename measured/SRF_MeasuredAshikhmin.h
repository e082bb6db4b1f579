#ifndef SRF_MEASUREDASHIKHMIN_H
#define SRF_MEASUREDASHIKHMIN_H

#include "SRF_Constants.h"
#include "SRF_MeasuredData.h"

// The anisotropic model of Ashikhmin and Shirley (2000), fitted to a
// measurement file: a half-vector lobe with a Schlick-style Fresnel term and
// the matching diffuse term. Parameters: exponents along the two tangents
// (0, 1), specular reflectance Rs (2, 3, 4), diffuse reflectance Rd (5, 6, 7).
class SRF_API SRF_MeasuredAshikhmin : public SRF_MeasuredData
{
public:
    static constexpr int PARAMETER_COUNT = 8;
    // The diffuse term's normalisation 28 / (23 pi), which makes a white
    // diffuse term with Rs = 0 reflect all light at normal incidence; the
    // model uses it as a float, the fitter in double precision.
    static constexpr double DIFFUSE_NORMALISATION = 28.0 / (23.0 * SRF_PI_DOUBLE);

    // Reads and fits the file: the object is fitted when constructed.
    explicit SRF_MeasuredAshikhmin(const char *fileName);
    SRF_MeasuredAshikhmin(const SRF_MeasuredAshikhmin &other);
    SRF_MeasuredAshikhmin &operator=(const SRF_MeasuredAshikhmin &other);
    ~SRF_MeasuredAshikhmin() override;

    float albedo(const BX_Vector3 &u, const BX_Vector3 &n, int lane) const override;
    void evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                  int lane) const override;
    void sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar, int &bounce,
                float sx, float sy, int lane) const override;

protected:
    void constraint(int iteration) override;

private:
    float myValues[PARAMETER_COUNT];
};

#endif
