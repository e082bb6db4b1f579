#include "SRF_MeasuredAshikhmin.h"

#include "SRFfastRandom.h"

#include <atomic>
#include <cmath>

namespace
{
enum
{
    NU1 = 0,
    NU2 = 1,
    RS = 2,
    RD = 5
};

const float DIFFUSE_NORM = float(SRF_MeasuredAshikhmin::DIFFUSE_NORMALISATION);
const float START_EXPONENT_SCALE = 100.0f; // exponents start in [0, 100)
const float HALF = 0.5f;

// Process-wide random states of sample and constraint, each starting at 0
// when the library is loaded.
std::atomic<unsigned int> theSampleState(0u);
std::atomic<unsigned int> theConstraintState(0u);

BX_Vector3 colourAt(const float *p) { return BX_Vector3(p[0], p[1], p[2]); }

BX_Vector3 product(const BX_Vector3 &a, const BX_Vector3 &b) { return BX_Vector3(a.x * b.x, a.y * b.y, a.z * b.z); }

float pow5(float x) { return x * x * x * x * x; }
} // namespace

SRF_MeasuredAshikhmin::SRF_MeasuredAshikhmin(const char *fileName) : SRF_MeasuredData(fileName), myValues()
{
    myParameters = myValues;
    myParameterCount = PARAMETER_COUNT;
    fit();
}

SRF_MeasuredAshikhmin::SRF_MeasuredAshikhmin(const SRF_MeasuredAshikhmin &other) : SRF_MeasuredData(other)
{
    myParameters = myValues;
    for (int i = 0; i < PARAMETER_COUNT; ++i)
        myValues[i] = other.myValues[i];
}

SRF_MeasuredAshikhmin &SRF_MeasuredAshikhmin::operator=(const SRF_MeasuredAshikhmin &other)
{
    SRF_MeasuredData::operator=(other);
    for (int i = 0; i < PARAMETER_COUNT; ++i)
        myValues[i] = other.myValues[i];
    return *this;
}

SRF_MeasuredAshikhmin::~SRF_MeasuredAshikhmin() {}

float SRF_MeasuredAshikhmin::albedo(const BX_Vector3 &, const BX_Vector3 &, int) const { return 1.0f; }

// With N = normalise(n), T1 = normalise(x × N), T2 = normalise(N × y),
// h = normalise(u + v), a = h.T1, b = h.T2, c = h.N, k = h.u:
//   S = F(k) sqrt((nu1 + 1)(nu2 + 1)) / (8 pi) c^((nu1 a^2 + nu2 b^2) / (1 - c^2))
//       / (k max(N.u, N.v)),   F(k) = Rs + (1 - Rs)(1 - k)^5,   0 unless c > 0;
//   D = 28 / (23 pi) Rd (1 - Rs) (1 - (1 - N.u / 2)^5) (1 - (1 - N.v / 2)^5);
// colour = S + D, scalar = 1.
void SRF_MeasuredAshikhmin::evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                                     float &scalar, int) const
{
    BX_Vector3 N = n;
    N.normalize();
    BX_Vector3 t1 = BX_Vector3(1.0f, 0.0f, 0.0f).cross(N);
    t1.normalize();
    BX_Vector3 t2 = N.cross(BX_Vector3(0.0f, 1.0f, 0.0f));
    t2.normalize();
    BX_Vector3 h = u + v;
    h.normalize();

    const float a = h.dot(t1);
    const float b = h.dot(t2);
    const float c = h.dot(N);
    const float k = h.dot(u);
    const float cu = N.dot(u);
    const float cv = N.dot(v);

    const BX_Vector3 rs = colourAt(myParameters + RS);
    const BX_Vector3 one(1.0f, 1.0f, 1.0f);
    BX_Vector3 specular(0.0f, 0.0f, 0.0f);
    if (c > 0.0f)
    {
        const float nu1 = myParameters[NU1];
        const float nu2 = myParameters[NU2];
        const float normalisation = std::sqrt((nu1 + 1.0f) * (nu2 + 1.0f)) * SRF_INV_EIGHT_PI;
        const float lobe = std::pow(c, (nu1 * a * a + nu2 * b * b) / (1.0f - c * c));
        const BX_Vector3 fresnel = rs + (one - rs) * pow5(1.0f - k);
        const float m = cu > cv ? cu : cv;
        specular = fresnel * (normalisation * lobe / (m * k));
    }
    const BX_Vector3 diffuse = product(colourAt(myParameters + RD), one - rs) *
                               (DIFFUSE_NORM * (1.0f - pow5(1.0f - cu * HALF)) * (1.0f - pow5(1.0f - cv * HALF)));
    scalar = 1.0f;
    colour = specular + diffuse;
}

// v = normalise(r1 - 1/2, r2 - 1/2, |r3 - 1/2|): a direction of the upper
// half-space of the fitting frame (not proportional to the model), then
// evaluated. The bounce output is not written.
void SRF_MeasuredAshikhmin::sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour,
                                   float &scalar, int &, float, float, int) const
{
    const float r1 = SRFfastRandom(theSampleState);
    const float r2 = SRFfastRandom(theSampleState);
    const float r3 = SRFfastRandom(theSampleState);
    v = BX_Vector3(r1 - HALF, r2 - HALF, std::fabs(r3 - HALF));
    v.normalize();
    evaluate(u, n, v, colour, scalar, 0);
}

// Iteration 0: every parameter drawn in [0, 1), then the two exponents
// scaled to [0, 100). Later: parameters not greater than 0 (NaN included)
// become 0.
void SRF_MeasuredAshikhmin::constraint(int iteration)
{
    if (iteration == 0)
    {
        for (int i = 0; i < PARAMETER_COUNT; ++i)
            myParameters[i] = SRFfastRandom(theConstraintState);
        myParameters[NU1] *= START_EXPONENT_SCALE;
        myParameters[NU2] *= START_EXPONENT_SCALE;
        return;
    }
    for (int i = 0; i < PARAMETER_COUNT; ++i)
        if (!(myParameters[i] > 0.0f))
            myParameters[i] = 0.0f;
}
