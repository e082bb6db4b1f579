#ifndef SRF_CDF2D_H
#define SRF_CDF2D_H

#include "SRF_API.h"

// A square table of non-negative weights, n x n with n = 2^level, turned
// into cumulative sums so that a point of the unit square can be drawn with
// a density proportional to the table: sy picks a row from the row
// marginal, sx a column from that row's conditional distribution, and the
// point is placed linearly inside the cell.
//
// Cell (r, c) is at r * n + c; rows go with y, columns with x. The table
// storage belongs to the caller; after compress it holds each row's running
// sums. The row sums (entry r: the total of rows 0 to r) belong to the
// object, and every copy gets its own, so copies never share or free each
// other's.
//
// Bad input keeps a renderer running: a cell or row of zero or negative
// width (all-zero tables, negative values, NaN) is entered at its start, so
// that sample always returns x and y in [0, 1]. A level below 0 counts as 0
// and one above MAX_LEVEL as MAX_LEVEL.
class SRF_API SRF_Cdf2D
{
public:
    static const int MAX_LEVEL = 15;

    SRF_Cdf2D();
    SRF_Cdf2D(const SRF_Cdf2D &other);
    SRF_Cdf2D &operator=(const SRF_Cdf2D &other);
    virtual ~SRF_Cdf2D();

    // Binds the caller's n x n table and allocates the row sums (zeroed).
    void init(float *table, int level);
    // Running sums of n x n source values into the table and the row sums.
    void compress(const float *values);
    // The table is its own representation: nothing to rebuild.
    void decompress(float *values);
    // Draws (x, y) in [0, 1]^2 with density table(y, x) / mean.
    void sample(float sx, float sy, float &x, float &y) const;
    // The mean cell value: total / n^2.
    float getScaling() const;
    // The n x n table entries, one "%f" line each, on the standard error stream.
    void dump() const;

    int getSize() const { return mySize; }
    int getLevel() const { return myLevel; }

private:
    float *myTable;
    float *myRowSums;
    float myScale;
    int mySize;
    int myLevel;
};

#endif
