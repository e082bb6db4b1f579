#include "BX_IStream.h"

#include "BX_WorkBuffer.h"

#include <cstring>
#include <new>

BX_IStream::BX_IStream() : myBuffer(new (std::nothrow) char[BUFFER_BYTES]), myStart(0), myEnd(0) {}

BX_IStream::~BX_IStream() { delete[] myBuffer; }

void BX_IStream::resetBuffer() { myStart = myEnd = 0; }

bool BX_IStream::fill()
{
    if (myStart < myEnd)
        return true;
    if (!myBuffer)
        return false;
    myStart = 0;
    myEnd = readBytes(myBuffer, BUFFER_BYTES);
    if (myEnd < 0)
        myEnd = 0;
    return myEnd > 0;
}

bool BX_IStream::isEof() { return !fill(); }

bool BX_IStream::getLine(BX_WorkBuffer &line, int delimiter)
{
    line.clear();
    if (!fill())
        return false;
    bool keep = true;
    while (fill())
    {
        const char *begin = myBuffer + myStart;
        const char *found = static_cast<const char *>(std::memchr(begin, delimiter, myEnd - myStart));
        const int count = static_cast<int>((found ? found : myBuffer + myEnd) - begin);
        if (keep && !line.append(begin, count))
            keep = false;
        myStart += count;
        if (found)
        {
            ++myStart;
            break;
        }
    }
    return true;
}
