#include "BX_IFStream.h"

#include <sys/stat.h>

BX_IFStream::BX_IFStream() : myFile(nullptr) {}

BX_IFStream::~BX_IFStream() { close(); }

bool BX_IFStream::open(const char *path, int)
{
    close();
    // Only regular files: a device that never ends (/dev/zero) or a pipe
    // with no writer would hang a reader that reads to the end.
    struct stat info;
    if (!path || stat(path, &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    myFile = std::fopen(path, "rb");
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
