#ifndef BX_ISTREAM_H
#define BX_ISTREAM_H

class BX_WorkBuffer;

// A buffered byte input stream read line by line. Subclasses supply the
// bytes through readBytes.
class BX_IStream
{
public:
    BX_IStream();
    virtual ~BX_IStream();
    BX_IStream(const BX_IStream &) = delete;
    BX_IStream &operator=(const BX_IStream &) = delete;

    // Reads up to (and consumes) the next `delimiter` byte, or to the end of
    // the stream, into `line` (emptied first, delimiter not stored). Returns
    // false when the stream was already at its end. A line longer than the
    // memory available is cut; the rest of it is skipped.
    bool getLine(BX_WorkBuffer &line, int delimiter = 10);
    // True when no byte is left to read.
    bool isEof();

protected:
    // Fills up to `capacity` bytes; returns how many, 0 at the end.
    virtual int readBytes(char *data, int capacity) = 0;
    // Forgets buffered bytes (after the source changes).
    void resetBuffer();

private:
    bool fill();

    static constexpr int BUFFER_BYTES = 1 << 16;
    char *myBuffer;
    int myStart;
    int myEnd;
};

#endif
