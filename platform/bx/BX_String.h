#ifndef BX_STRING_H
#define BX_STRING_H

// A text string. It either refers to text it does not own (as constructed
// from a pointer) or owns a copy (after harden, copy or assignment). A failed
// allocation leaves it empty, never throws.
class BX_String
{
public:
    BX_String();
    explicit BX_String(const char *text);
    BX_String(const BX_String &other);
    BX_String &operator=(const BX_String &other);
    ~BX_String();

    // Makes the string own a copy of `text`; with length -1 the text runs to
    // its terminating zero, else `length` bytes are taken.
    void harden(const char *text, int length = -1);

    const char *buffer() const { return myText ? myText : ""; }
    int length() const;
    bool isHard() const { return myOwned; }

private:
    void release();

    const char *myText;
    bool myOwned;
};

#endif
