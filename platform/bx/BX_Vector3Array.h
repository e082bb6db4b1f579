#ifndef BX_VECTOR3ARRAY_H
#define BX_VECTOR3ARRAY_H

#include "BX_Vector3.h"

#include <vector>

// A growable array of vectors.
class BX_Vector3Array
{
public:
    virtual ~BX_Vector3Array() = default;

    void resize(int count) { myData.resize(count > 0 ? count : 0); }
    int append(const BX_Vector3 &v)
    {
        myData.push_back(v);
        return int(myData.size()) - 1;
    }
    int entries() const { return int(myData.size()); }
    BX_Vector3 &operator[](int i) { return myData[i]; }
    const BX_Vector3 &operator[](int i) const { return myData[i]; }

private:
    std::vector<BX_Vector3> myData;
};

#endif
