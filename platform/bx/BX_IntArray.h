#ifndef BX_INTARRAY_H
#define BX_INTARRAY_H

#include <vector>

// A growable array of ints.
class BX_IntArray
{
public:
    int append(int value)
    {
        myData.push_back(value);
        return int(myData.size()) - 1;
    }
    int entries() const { return int(myData.size()); }
    int &operator[](int i) { return myData[i]; }
    int operator[](int i) const { return myData[i]; }

private:
    std::vector<int> myData;
};

#endif
