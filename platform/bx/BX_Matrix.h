#ifndef BX_MATRIX_H
#define BX_MATRIX_H

#include "BX_VectorT.h"

// A dense matrix of 32-bit floats, stored by rows, with row and column
// index ranges chosen at init (the solver uses 1..rows, 1..columns).
// Products are summed in double precision and stored as floats. Operations
// on mismatched shapes, or that cannot get memory, return false and leave
// their output unchanged; nothing throws.
class BX_Matrix
{
public:
    BX_Matrix() = default;
    ~BX_Matrix();
    BX_Matrix(const BX_Matrix &) = delete;
    BX_Matrix &operator=(const BX_Matrix &) = delete;

    // Rows rl..rh and columns cl..ch, all zero.
    bool init(int rl, int rh, int cl, int ch);

    float &operator()(int r, int c) { return myData[static_cast<long>(r - myRowLow) * myColumns + (c - myColLow)]; }
    float operator()(int r, int c) const
    {
        return myData[static_cast<long>(r - myRowLow) * myColumns + (c - myColLow)];
    }

    int rows() const { return myRows; }
    int columns() const { return myColumns; }
    int getRL() const { return myRowLow; }
    int getCL() const { return myColLow; }

    // 1 on the diagonal, 0 elsewhere.
    void makeIdentity();
    // this <- m^T (this takes m's shape transposed, index origins swapped).
    bool transpose(const BX_Matrix &m);
    // result <- this * m; result is re-initialised to the product's shape
    // with this matrix's row origin and m's column origin.
    bool postMult(const BX_Matrix &m, BX_Matrix &result) const;
    // result <- this * v; v is indexed like the columns, result like the rows
    // (it is re-initialised).
    bool multVec(const BX_VectorT<double> &v, BX_VectorT<double> &result) const;
    // this <- this + scale * m, for a matrix of the same shape.
    bool addScaledMatrix(const BX_Matrix &m, float scale);

private:
    float *myData = nullptr;
    int myRows = 0;
    int myColumns = 0;
    int myRowLow = 1;
    int myColLow = 1;
};

#endif
