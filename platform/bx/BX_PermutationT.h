#ifndef BX_PERMUTATIONT_H
#define BX_PERMUTATIONT_H

#include <new>

// The row permutation of an LU decomposition: entry i holds the row that
// was swapped into place i. Indexed from a chosen lower bound (1 for the
// solver). A failed allocation leaves it empty; nothing throws.
template <class T> class BX_PermutationT
{
public:
    BX_PermutationT() = default;
    BX_PermutationT(int nl, int nh) { init(nl, nh); }
    ~BX_PermutationT() { delete[] myData; }
    BX_PermutationT(const BX_PermutationT &) = delete;
    BX_PermutationT &operator=(const BX_PermutationT &) = delete;

    // Indices nl..nh inclusive, each holding its own index (the identity).
    bool init(int nl, int nh)
    {
        delete[] myData;
        myData = nullptr;
        myLow = nl;
        myLength = 0;
        const long n = static_cast<long>(nh) - nl + 1;
        if (n <= 0)
            return true;
        myData = new (std::nothrow) T[n];
        if (!myData)
            return false;
        myLength = static_cast<int>(n);
        for (int i = 0; i < myLength; ++i)
            myData[i] = static_cast<T>(nl + i);
        return true;
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
