#include "BX_WorkBuffer.h"

#include <climits>
#include <cstring>
#include <new>

BX_WorkBuffer::BX_WorkBuffer() : myData(nullptr), myLength(0), myCapacity(0), myCursor(0) {}

BX_WorkBuffer::~BX_WorkBuffer() { delete[] myData; }

void BX_WorkBuffer::clear()
{
    myLength = 0;
    myCursor = 0;
    if (myData)
        myData[0] = '\0';
}

bool BX_WorkBuffer::reserve(int capacity)
{
    if (capacity <= myCapacity)
        return true;
    long grown = myCapacity ? 2L * myCapacity : 64L;
    while (grown < capacity)
        grown *= 2;
    if (grown > INT_MAX)
        grown = INT_MAX;
    char *data = new (std::nothrow) char[grown];
    if (!data)
        return false;
    if (myLength)
        std::memcpy(data, myData, myLength);
    data[myLength] = '\0';
    delete[] myData;
    myData = data;
    myCapacity = static_cast<int>(grown);
    return true;
}

bool BX_WorkBuffer::append(const char *data, int count)
{
    if (count <= 0)
        return true;
    if (count > INT_MAX - 1 - myLength || !reserve(myLength + count + 1))
        return false;
    std::memcpy(myData + myLength, data, count);
    myLength += count;
    myData[myLength] = '\0';
    return true;
}

bool BX_WorkBuffer::append(const char *text) { return append(text, static_cast<int>(std::strlen(text))); }

bool BX_WorkBuffer::getNextToken(BX_WorkBuffer &token, const char *separators)
{
    token.clear();
    // One table lookup per character instead of a search of the separators.
    bool isSeparator[256] = {};
    isSeparator[0] = true;
    for (const char *s = separators; *s; ++s)
        isSeparator[static_cast<unsigned char>(*s)] = true;
    auto separates = [&isSeparator](char c) { return isSeparator[static_cast<unsigned char>(c)]; };
    while (myCursor < myLength && separates(myData[myCursor]))
        ++myCursor;
    if (myCursor >= myLength)
        return false;
    const int start = myCursor;
    while (myCursor < myLength && !separates(myData[myCursor]))
        ++myCursor;
    // A token too long to copy reads as empty rather than as garbage.
    token.append(myData + start, myCursor - start);
    return true;
}
