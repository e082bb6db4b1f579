#include "SRF_MeasuredPhong.h"

#include "SRFfastRandom.h"

#include <atomic>
#include <cmath>

namespace
{
enum
{
    KS = 0,
    KD = 3,
    EXPONENT = 6
};

const float HALF = 0.5f;

// Process-wide random states of sample and constraint, each starting at 0
// when the library is loaded.
std::atomic<unsigned int> theSampleState(0u);
std::atomic<unsigned int> theConstraintState(0u);

BX_Vector3 colourAt(const float *p) { return BX_Vector3(p[0], p[1], p[2]); }
} // namespace

SRF_MeasuredPhong::SRF_MeasuredPhong(const char *fileName) : SRF_MeasuredData(fileName), myValues()
{
    myParameters = myValues;
    myParameterCount = PARAMETER_COUNT;
    fit();
}

SRF_MeasuredPhong::SRF_MeasuredPhong(const SRF_MeasuredPhong &other) : SRF_MeasuredData(other)
{
    myParameters = myValues;
    for (int i = 0; i < PARAMETER_COUNT; ++i)
        myValues[i] = other.myValues[i];
}

SRF_MeasuredPhong &SRF_MeasuredPhong::operator=(const SRF_MeasuredPhong &other)
{
    SRF_MeasuredData::operator=(other);
    for (int i = 0; i < PARAMETER_COUNT; ++i)
        myValues[i] = other.myValues[i];
    return *this;
}

SRF_MeasuredPhong::~SRF_MeasuredPhong() {}

float SRF_MeasuredPhong::albedo(const BX_Vector3 &, const BX_Vector3 &, int) const { return 1.0f; }

// f(u, v) = Kd (v.n) + Ks (h.n)^e with h = normalise(u + v), zero unless
// v.n > 0 and h.n > 0; n is used as given.
void SRF_MeasuredPhong::evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                                 float &scalar, int lane) const
{
    scalar = albedo(u, n, lane);
    BX_Vector3 h = u + v;
    h.normalize();
    colour = BX_Vector3(0.0f, 0.0f, 0.0f);
    const float cv = v.dot(n);
    const float ch = h.dot(n);
    if (!(cv > 0.0f) || !(ch > 0.0f))
        return;
    colour = colourAt(myParameters + KD) * cv + colourAt(myParameters + KS) * std::pow(ch, myParameters[EXPONENT]);
}

// v = normalise(r1 - 1/2, r2 - 1/2, |r3 - 1/2|): a direction of the upper
// half-space of the fitting frame (not proportional to the model), then
// evaluated. The bounce output is not written.
void SRF_MeasuredPhong::sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour,
                               float &scalar, int &, float, float, int) const
{
    const float r1 = SRFfastRandom(theSampleState);
    const float r2 = SRFfastRandom(theSampleState);
    const float r3 = SRFfastRandom(theSampleState);
    v = BX_Vector3(r1 - HALF, r2 - HALF, std::fabs(r3 - HALF));
    v.normalize();
    evaluate(u, n, v, colour, scalar, 0);
}

// Iteration 0: every parameter drawn in [0, 1), the exponent included.
// Later: parameters not greater than 0 (NaN included) become 0.
void SRF_MeasuredPhong::constraint(int iteration)
{
    for (int i = 0; i < PARAMETER_COUNT; ++i)
    {
        if (iteration == 0)
            myParameters[i] = SRFfastRandom(theConstraintState);
        else if (!(myParameters[i] > 0.0f))
            myParameters[i] = 0.0f;
    }
}
