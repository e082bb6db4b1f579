#include "BX_IFStream.h"

BX_IFStream::BX_IFStream() : myFile(nullptr) {}

BX_IFStream::~BX_IFStream() { close(); }

bool BX_IFStream::open(const char *path, int)
{
    close();
    myFile = path ? std::fopen(path, "rb") : nullptr;
    return myFile != nullptr;
}

void BX_IFStream::close()
{
    if (myFile)
        std::fclose(myFile);
    myFile = nullptr;
    resetBuffer();
}

int BX_IFStream::readBytes(char *data, int capacity)
{
    if (!myFile)
        return 0;
    return static_cast<int>(std::fread(data, 1, static_cast<size_t>(capacity), myFile));
}
