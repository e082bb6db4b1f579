#ifndef BX_WORKBUFFER_H
#define BX_WORKBUFFER_H

// A growable text buffer (always zero-terminated) with a token cursor, used
// to hold one line of input and to split it into tokens.
class BX_WorkBuffer
{
public:
    BX_WorkBuffer();
    ~BX_WorkBuffer();
    BX_WorkBuffer(const BX_WorkBuffer &) = delete;
    BX_WorkBuffer &operator=(const BX_WorkBuffer &) = delete;

    const char *buffer() const { return myData ? myData : ""; }
    int length() const { return myLength; }

    // Empties the buffer and rewinds the token cursor.
    void clear();
    // Adds bytes at the end. Returns false, leaving the buffer unchanged,
    // when no memory could be had.
    bool append(const char *data, int count);
    bool append(const char *text);
    void rewindTokens() { myCursor = 0; }

    // Takes the next token after the cursor: runs of separator characters
    // divide tokens (so no token is empty), and a zero byte counts as a
    // separator too. Copies it into `token` and returns true; returns false
    // with `token` emptied when no token is left.
    bool getNextToken(BX_WorkBuffer &token, const char *separators);

private:
    bool reserve(int capacity);

    char *myData;
    int myLength;
    int myCapacity;
    int myCursor;
};

#endif
