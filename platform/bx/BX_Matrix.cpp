#include "BX_Matrix.h"

#include <new>

BX_Matrix::~BX_Matrix() { delete[] myData; }

bool BX_Matrix::init(int rl, int rh, int cl, int ch)
{
    const long rows = static_cast<long>(rh) - rl + 1;
    const long columns = static_cast<long>(ch) - cl + 1;
    float *data = nullptr;
    if (rows > 0 && columns > 0)
    {
        data = new (std::nothrow) float[rows * columns]();
        if (!data)
            return false;
    }
    delete[] myData;
    myData = data;
    myRows = data ? static_cast<int>(rows) : 0;
    myColumns = data ? static_cast<int>(columns) : 0;
    myRowLow = rl;
    myColLow = cl;
    return true;
}

void BX_Matrix::makeIdentity()
{
    for (int r = 0; r < myRows; ++r)
        for (int c = 0; c < myColumns; ++c)
            myData[static_cast<long>(r) * myColumns + c] = r == c ? 1.0f : 0.0f;
}

bool BX_Matrix::transpose(const BX_Matrix &m)
{
    if (&m == this)
        return false;
    if (!init(m.myColLow, m.myColLow + m.myColumns - 1, m.myRowLow, m.myRowLow + m.myRows - 1))
        return false;
    for (int r = 0; r < m.myRows; ++r)
        for (int c = 0; c < m.myColumns; ++c)
            myData[static_cast<long>(c) * myColumns + r] = m.myData[static_cast<long>(r) * m.myColumns + c];
    return true;
}

bool BX_Matrix::postMult(const BX_Matrix &m, BX_Matrix &result) const
{
    if (myColumns != m.myRows || &result == this || &result == &m)
        return false;
    double *row = new (std::nothrow) double[m.myColumns > 0 ? m.myColumns : 1];
    if (!row || !result.init(myRowLow, myRowLow + myRows - 1, m.myColLow, m.myColLow + m.myColumns - 1))
    {
        delete[] row;
        return false;
    }
    for (int r = 0; r < myRows; ++r)
    {
        for (int c = 0; c < m.myColumns; ++c)
            row[c] = 0.0;
        const float *a = myData + static_cast<long>(r) * myColumns;
        for (int k = 0; k < myColumns; ++k)
        {
            const double ak = a[k];
            const float *b = m.myData + static_cast<long>(k) * m.myColumns;
            for (int c = 0; c < m.myColumns; ++c)
                row[c] += ak * b[c];
        }
        for (int c = 0; c < m.myColumns; ++c)
            result.myData[static_cast<long>(r) * m.myColumns + c] = static_cast<float>(row[c]);
    }
    delete[] row;
    return true;
}

bool BX_Matrix::multVec(const BX_VectorT<double> &v, BX_VectorT<double> &result) const
{
    if (v.length() != myColumns || &v == &result)
        return false;
    if (!result.init(myRowLow, myRowLow + myRows - 1))
        return false;
    const int vl = v.getNL();
    for (int r = 0; r < myRows; ++r)
    {
        double sum = 0.0;
        const float *a = myData + static_cast<long>(r) * myColumns;
        for (int c = 0; c < myColumns; ++c)
            sum += a[c] * v(vl + c);
        result(myRowLow + r) = sum;
    }
    return true;
}

bool BX_Matrix::addScaledMatrix(const BX_Matrix &m, float scale)
{
    if (m.myRows != myRows || m.myColumns != myColumns)
        return false;
    const long n = static_cast<long>(myRows) * myColumns;
    for (long i = 0; i < n; ++i)
        myData[i] += scale * m.myData[i];
    return true;
}
