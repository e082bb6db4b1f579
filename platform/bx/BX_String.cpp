#include "BX_String.h"

#include <cstring>
#include <new>

BX_String::BX_String() : myText(nullptr), myOwned(false) {}

BX_String::BX_String(const char *text) : myText(text), myOwned(false) {}

BX_String::BX_String(const BX_String &other) : myText(nullptr), myOwned(false) { harden(other.myText); }

BX_String &BX_String::operator=(const BX_String &other)
{
    if (this != &other)
        harden(other.myText);
    return *this;
}

BX_String::~BX_String() { release(); }

void BX_String::harden(const char *text, int length)
{
    if (!text)
    {
        release();
        return;
    }
    const size_t n = length < 0 ? std::strlen(text) : static_cast<size_t>(length);
    char *copy = new (std::nothrow) char[n + 1];
    if (copy)
    {
        std::memcpy(copy, text, n);
        copy[n] = '\0';
    }
    release();
    myText = copy;
    myOwned = copy != nullptr;
}

int BX_String::length() const { return myText ? static_cast<int>(std::strlen(myText)) : 0; }

void BX_String::release()
{
    if (myOwned)
        delete[] myText;
    myText = nullptr;
    myOwned = false;
}
