#ifndef BX_BITARRAY_H
#define BX_BITARRAY_H

#include <vector>

// A resizable array of bits, all clear when added.
class BX_BitArray
{
public:
    void resize(int count) { myBits.resize(count > 0 ? count : 0, false); }
    int size() const { return int(myBits.size()); }
    void setBit(int i, bool value) { myBits[i] = value; }
    bool getBit(int i) const { return myBits[i]; }

private:
    std::vector<bool> myBits;
};

#endif
