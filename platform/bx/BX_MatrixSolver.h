#ifndef BX_MATRIXSOLVER_H
#define BX_MATRIXSOLVER_H

#include "BX_Matrix.h"
#include "BX_PermutationT.h"
#include "BX_VectorT.h"

// Solves square linear systems by LU decomposition with partial pivoting.
class BX_MatrixSolver
{
public:
    // Decomposes the square matrix a in place into L (unit lower, below the
    // diagonal) and U (on and above it) of its row-permuted form; perm is
    // re-initialised to the row order and `sign` receives +1 or -1, the
    // permutation's parity. Returns 0, with a left partly decomposed, when
    // the matrix is singular: a pivot's magnitude is below `tolerance` (or
    // not a number). Returns 0 too for a matrix that is not square or empty.
    int LUDecompRect(BX_Matrix &a, BX_PermutationT<int> &perm, float &sign, double tolerance) const;

    // Solves (L U) x = P b in place: b holds the right-hand side on entry
    // and x on return. lu and perm come from LUDecompRect; b is indexed like
    // the matrix's rows.
    void LUDecompBackSub(const BX_Matrix &lu, const BX_PermutationT<int> &perm, BX_VectorT<double> &b) const;
};

#endif
