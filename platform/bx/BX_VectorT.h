#ifndef BX_VECTORT_H
#define BX_VECTORT_H

#include <new>

// A vector of numbers indexed from a chosen lower bound (1 for the solver),
// stored contiguously. Elements start at zero. A failed allocation leaves it
// empty (length 0); nothing throws.
template <class T> class BX_VectorT
{
public:
    BX_VectorT() = default;
    BX_VectorT(int nl, int nh) { init(nl, nh); }
    ~BX_VectorT() { delete[] myData; }
    BX_VectorT(const BX_VectorT &) = delete;
    BX_VectorT &operator=(const BX_VectorT &) = delete;

    // Indices nl..nh inclusive, all zero. False when no memory could be had.
    bool init(int nl, int nh)
    {
        delete[] myData;
        myData = nullptr;
        myLow = nl;
        myLength = 0;
        const long n = static_cast<long>(nh) - nl + 1;
        if (n <= 0)
            return true;
        myData = new (std::nothrow) T[n]();
        if (!myData)
            return false;
        myLength = static_cast<int>(n);
        return true;
    }
    void zero()
    {
        for (int i = 0; i < myLength; ++i)
            myData[i] = T(0);
    }

    T &operator()(int i) { return myData[i - myLow]; }
    const T &operator()(int i) const { return myData[i - myLow]; }

    int getNL() const { return myLow; }
    int getNH() const { return myLow + myLength - 1; }
    int length() const { return myLength; }

private:
    T *myData = nullptr;
    int myLow = 1;
    int myLength = 0;
};

#endif
