#ifndef BX_IFSTREAM_H
#define BX_IFSTREAM_H

#include "BX_IStream.h"

#include <cstdio>

// An input stream on a regular file. A stream whose opening failed is at its
// end at once, so an unreadable file reads as an empty one; so do a folder, a
// device and a pipe, which are not opened.
class BX_IFStream : public BX_IStream
{
public:
    BX_IFStream();
    ~BX_IFStream() override;

    // Opens `path` for reading (the read type is accepted for the interface;
    // files are always read as bytes). Returns false when it cannot be opened.
    bool open(const char *path, int readType = 0);
    void close();
    bool isOpen() const { return myFile != nullptr; }

protected:
    int readBytes(char *data, int capacity) override;

private:
    FILE *myFile;
};

#endif
