#include "SRF_ColourMatching.h"

namespace
{
// CIE 1931 standard colorimetric observer (2 degrees), x, y and z at 10 nm
// from 380 to 780 nm, and the relative spectral power of CIE standard
// illuminant D65 at the same wavelengths. Source: CIE 15:2004
// "Colorimetry", 3rd edition, its tables of the CIE 1931 standard
// colorimetric observer and of illuminant D65 (every second row of the 5 nm
// tabulation).
const double MATCHING[SRF_ColourMatching::TABLE_SIZE][3] = {
    {0.001368, 0.000039, 0.006450}, {0.004243, 0.000120, 0.020050}, {0.014310, 0.000396, 0.067850},
    {0.043510, 0.001210, 0.207400}, {0.134380, 0.004000, 0.645600}, {0.283900, 0.011600, 1.385600},
    {0.348280, 0.023000, 1.747060}, {0.336200, 0.038000, 1.772110}, {0.290800, 0.060000, 1.669200},
    {0.195360, 0.090980, 1.287640}, {0.095640, 0.139020, 0.812950}, {0.032010, 0.208020, 0.465180},
    {0.004900, 0.323000, 0.272000}, {0.009300, 0.503000, 0.158200}, {0.063270, 0.710000, 0.078250},
    {0.165500, 0.862000, 0.042160}, {0.290400, 0.954000, 0.020300}, {0.433450, 0.994950, 0.008750},
    {0.594500, 0.995000, 0.003900}, {0.762100, 0.952000, 0.002100}, {0.916300, 0.870000, 0.001650},
    {1.026300, 0.757000, 0.001100}, {1.062200, 0.631000, 0.000800}, {1.002600, 0.503000, 0.000340},
    {0.854450, 0.381000, 0.000190}, {0.642400, 0.265000, 0.000050}, {0.447900, 0.175000, 0.000020},
    {0.283500, 0.107000, 0.000000}, {0.164900, 0.061000, 0.000000}, {0.087400, 0.032000, 0.000000},
    {0.046770, 0.017000, 0.000000}, {0.022700, 0.008210, 0.000000}, {0.011359, 0.004102, 0.000000},
    {0.005790, 0.002091, 0.000000}, {0.002899, 0.001047, 0.000000}, {0.001440, 0.000520, 0.000000},
    {0.000690, 0.000249, 0.000000}, {0.000332, 0.000120, 0.000000}, {0.000166, 0.000060, 0.000000},
    {0.000083, 0.000030, 0.000000}, {0.000042, 0.000015, 0.000000},
};

const double DAYLIGHT[SRF_ColourMatching::TABLE_SIZE] = {
    49.9755, 54.6482, 82.7549, 91.4860, 93.4318, 86.6823, 104.865, 117.008, 117.812, 114.861, 115.923,
    108.811, 109.354, 107.802, 104.790, 107.689, 104.405, 104.046, 100.000, 96.3342, 95.7880, 88.6856,
    90.0062, 89.5991, 87.6987, 83.2886, 83.6992, 80.0268, 80.2146, 82.2778, 78.2842, 69.7213, 71.6091,
    74.3490, 61.6040, 69.8856, 75.0870, 63.5927, 46.4182, 66.8054, 63.3828,
};

// XYZ (D65 white) to linear sRGB. Source: IEC 61966-2-1:1999 (sRGB), its
// XYZ-to-RGB matrix, with the further digits that its primaries and white
// point give.
const double XYZ_TO_RGB[3][3] = {
    {3.2406255, -1.5372080, -0.4986286},
    {-0.9689307, 1.8757561, 0.0415175},
    {0.0557101, -0.2040211, 1.0569959},
};
} // namespace

const double *SRF_ColourMatching::matching(int i) { return MATCHING[i]; }

double SRF_ColourMatching::daylight(int i) { return DAYLIGHT[i]; }

const double *SRF_ColourMatching::xyzToRgb(int row) { return XYZ_TO_RGB[row]; }

// rgb_c = sum_k w_{k,c} s_k with
//   w_{k,c} = sum_t a_k(t) D65(t) (M cmf(t))_c / sum_t D65(t) y(t) / white_c,
// the sums over 1 nm steps t from 380 to 780 nm, the tables interpolated
// linearly between their 10 nm entries; a_k(t) the weight of sample k in
// the linear interpolation of the spectrum at t, M the XYZ-to-sRGB matrix
// and white_c the channel c of the unit flat spectrum before that last
// division. Stepping finer than the tables gives every sample of a finer
// spectrum the weight of the wavelengths around it, not only the samples
// that fall on a table entry.
SRF_ColourMatching::SRF_ColourMatching(const std::vector<double> &wavelengths) : myWeights(3 * wavelengths.size(), 0.0)
{
    const int count = int(wavelengths.size());
    if (count == 0)
        return;
    const int STEPS_PER_ENTRY = 10;
    const int steps = (TABLE_SIZE - 1) * STEPS_PER_ENTRY;
    // The tables at step s, interpolated; the end entries weigh half, as in
    // the trapezoidal rule.
    auto table = [](int s, double out[4])
    {
        const int t = s / STEPS_PER_ENTRY;
        const double along = double(s % STEPS_PER_ENTRY) / STEPS_PER_ENTRY;
        const int next = t + 1 < TABLE_SIZE ? t + 1 : t;
        for (int i = 0; i < 3; ++i)
            out[i] = (1.0 - along) * MATCHING[t][i] + along * MATCHING[next][i];
        out[3] = (1.0 - along) * DAYLIGHT[t] + along * DAYLIGHT[next];
    };
    double luminance = 0.0;
    for (int s = 0; s <= steps; ++s)
    {
        double entry[4];
        table(s, entry);
        luminance += (s == 0 || s == steps ? 0.5 : 1.0) * entry[3] * entry[1];
    }
    double white[3] = {0.0, 0.0, 0.0};
    for (int s = 0; s <= steps; ++s)
    {
        const double lambda = FIRST_WAVELENGTH + s * (TABLE_STEP / STEPS_PER_ENTRY);
        double entry[4];
        table(s, entry);
        const double end = s == 0 || s == steps ? 0.5 : 1.0;
        double rgb[3];
        for (int c = 0; c < 3; ++c)
        {
            const double *row = XYZ_TO_RGB[c];
            rgb[c] = end * entry[3] / luminance * (row[0] * entry[0] + row[1] * entry[1] + row[2] * entry[2]);
            white[c] += rgb[c];
        }
        // The two samples around lambda and their interpolation weights;
        // beyond the ends the end sample alone.
        int k = 0;
        while (k + 1 < count && wavelengths[k + 1] <= lambda)
            ++k;
        double along = 0.0;
        if (k + 1 < count && lambda > wavelengths[k])
            along = (lambda - wavelengths[k]) / (wavelengths[k + 1] - wavelengths[k]);
        for (int c = 0; c < 3; ++c)
        {
            myWeights[3 * k + c] += (1.0 - along) * rgb[c];
            if (along > 0.0)
                myWeights[3 * (k + 1) + c] += along * rgb[c];
        }
    }
    for (int k = 0; k < count; ++k)
        for (int c = 0; c < 3; ++c)
            myWeights[3 * k + c] /= white[c];
}

void SRF_ColourMatching::toRgb(const double *spectrum, double rgb[3]) const
{
    rgb[0] = rgb[1] = rgb[2] = 0.0;
    const int count = int(myWeights.size() / 3);
    for (int k = 0; k < count; ++k)
        for (int c = 0; c < 3; ++c)
            rgb[c] += myWeights[3 * k + c] * spectrum[k];
}
