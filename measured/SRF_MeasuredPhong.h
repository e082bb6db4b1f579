#ifndef SRF_MEASUREDPHONG_H
#define SRF_MEASUREDPHONG_H

#include "SRF_MeasuredData.h"

// A diffuse term plus a Blinn-style half-vector lobe, fitted to a
// measurement file. Parameters: specular colour Ks (0, 1, 2), diffuse colour
// Kd (3, 4, 5), exponent e (6).
class SRF_API SRF_MeasuredPhong : public SRF_MeasuredData
{
public:
    static constexpr int PARAMETER_COUNT = 7;

    // Reads and fits the file: the object is fitted when constructed.
    explicit SRF_MeasuredPhong(const char *fileName);
    SRF_MeasuredPhong(const SRF_MeasuredPhong &other);
    SRF_MeasuredPhong &operator=(const SRF_MeasuredPhong &other);
    ~SRF_MeasuredPhong() override;

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
