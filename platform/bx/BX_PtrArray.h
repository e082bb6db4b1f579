#ifndef BX_PTRARRAY_H
#define BX_PTRARRAY_H

#include <cstring>
#include <new>

// A growable array of untyped pointers. The count and elements are public so
// that callers may read them inline.
class BX_PtrArrayRaw
{
public:
    BX_PtrArrayRaw() = default;
    BX_PtrArrayRaw(const BX_PtrArrayRaw &other) { assign(other); }
    BX_PtrArrayRaw &operator=(const BX_PtrArrayRaw &other)
    {
        if (this != &other)
        {
            myCount = 0;
            assign(other);
        }
        return *this;
    }
    ~BX_PtrArrayRaw() { delete[] myData; }

    // Adds at the end and returns the new element's index, or -1 when no
    // memory could be had.
    int append(void *p)
    {
        if (myCount == myCapacity && !grow(myCapacity ? 2 * myCapacity : 8))
            return -1;
        myData[myCount] = p;
        return myCount++;
    }
    void clear() { myCount = 0; }

    int myCount = 0;
    int myCapacity = 0;
    void **myData = nullptr;

private:
    bool grow(int capacity)
    {
        void **data = new (std::nothrow) void *[capacity];
        if (!data)
            return false;
        if (myCount)
            std::memcpy(data, myData, sizeof(void *) * myCount);
        delete[] myData;
        myData = data;
        myCapacity = capacity;
        return true;
    }
    void assign(const BX_PtrArrayRaw &other)
    {
        if (other.myCount > myCapacity && !grow(other.myCount))
            return;
        if (other.myCount)
            std::memcpy(myData, other.myData, sizeof(void *) * other.myCount);
        myCount = other.myCount;
    }
};

// A typed view of BX_PtrArrayRaw: T is a pointer type.
template <class T> class BX_PtrArray : public BX_PtrArrayRaw
{
public:
    int append(T p) { return BX_PtrArrayRaw::append((void *)p); }
    int entries() const { return myCount; }
    T operator[](int i) const { return (T)myData[i]; }
};

#endif
