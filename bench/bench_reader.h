// A measured-data object that only reads: it reaches the protected reader of
// the measured-data base without fitting anything, so the reader's own cost
// can be timed.
#ifndef SRF_BENCH_READER_H
#define SRF_BENCH_READER_H

#include "BX_Vector3Array.h"
#include "SRF_MeasuredData.h"

namespace bench
{
class ReaderProbe : public SRF_MeasuredData
{
public:
    ReaderProbe() : SRF_MeasuredData("") {}
    // Reads the file and answers the number of points kept.
    int readFile(const char *path)
    {
        BX_Vector3Array incoming, scattered, values;
        read(path, incoming, scattered, values);
        return getPointCount();
    }
    void sample(const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &, BX_Vector3 &, float &, int &, float, float,
                int) const override
    {
    }
    float albedo(const BX_Vector3 &, const BX_Vector3 &, int) const override { return 0.0f; }
    void evaluate(const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &, float &, int) const override
    {
    }
};
} // namespace bench

#endif
