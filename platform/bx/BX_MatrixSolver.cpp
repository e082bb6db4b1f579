#include "BX_MatrixSolver.h"

#include <cmath>

int BX_MatrixSolver::LUDecompRect(BX_Matrix &a, BX_PermutationT<int> &perm, float &sign, double tolerance) const
{
    const int n = a.rows();
    if (n == 0 || a.columns() != n)
        return 0;
    const int r0 = a.getRL();
    const int c0 = a.getCL();
    if (!perm.init(r0, r0 + n - 1))
        return 0;
    sign = 1.0f;
    for (int k = 0; k < n; ++k)
    {
        // Partial pivoting: the largest magnitude in column k at or below row k.
        int pivot = k;
        double best = std::fabs(static_cast<double>(a(r0 + k, c0 + k)));
        for (int r = k + 1; r < n; ++r)
        {
            const double m = std::fabs(static_cast<double>(a(r0 + r, c0 + k)));
            if (m > best)
            {
                best = m;
                pivot = r;
            }
        }
        if (!(best >= tolerance))
            return 0;
        if (pivot != k)
        {
            for (int c = 0; c < n; ++c)
            {
                const float t = a(r0 + k, c0 + c);
                a(r0 + k, c0 + c) = a(r0 + pivot, c0 + c);
                a(r0 + pivot, c0 + c) = t;
            }
            const int t = perm(r0 + k);
            perm(r0 + k) = perm(r0 + pivot);
            perm(r0 + pivot) = t;
            sign = -sign;
        }
        const double diagonal = a(r0 + k, c0 + k);
        for (int r = k + 1; r < n; ++r)
        {
            const double factor = a(r0 + r, c0 + k) / diagonal;
            a(r0 + r, c0 + k) = static_cast<float>(factor);
            for (int c = k + 1; c < n; ++c)
                a(r0 + r, c0 + c) = static_cast<float>(a(r0 + r, c0 + c) - factor * a(r0 + k, c0 + c));
        }
    }
    return 1;
}

void BX_MatrixSolver::LUDecompBackSub(const BX_Matrix &lu, const BX_PermutationT<int> &perm,
                                      BX_VectorT<double> &b) const
{
    const int n = lu.rows();
    if (n == 0 || lu.columns() != n || perm.length() != n || b.length() != n)
        return;
    const int r0 = lu.getRL();
    const int c0 = lu.getCL();
    const int b0 = b.getNL();
    const int p0 = perm.getNL();
    // Apply the row order, then forward substitution with unit L.
    BX_VectorT<double> y(0, n - 1);
    if (y.length() != n)
        return;
    for (int i = 0; i < n; ++i)
        y(i) = b(b0 + (perm(p0 + i) - r0));
    for (int i = 0; i < n; ++i)
    {
        double sum = y(i);
        for (int k = 0; k < i; ++k)
            sum -= lu(r0 + i, c0 + k) * y(k);
        y(i) = sum;
    }
    // Back substitution with U.
    for (int i = n - 1; i >= 0; --i)
    {
        double sum = y(i);
        for (int k = i + 1; k < n; ++k)
            sum -= lu(r0 + i, c0 + k) * y(k);
        y(i) = sum / lu(r0 + i, c0 + i);
    }
    for (int i = 0; i < n; ++i)
        b(b0 + i) = y(i);
}
