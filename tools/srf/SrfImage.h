#ifndef SRF_TOOL_IMAGE_H
#define SRF_TOOL_IMAGE_H

#include "BX_Vector3.h"

#include <string>
#include <vector>

// A picture of linear RGB radiance values, row 0 at the top, and its
// encodings: PNG (each channel clamped to [0, 1], encoded with the sRGB
// transfer curve and rounded to 8 bits) and OpenEXR (linear half floats,
// nothing clamped), when the build has the OpenEXR library.
class SrfImage
{
public:
    SrfImage(int width, int height);

    int width() const { return myWidth; }
    int height() const { return myHeight; }

    BX_Vector3 &at(int x, int y) { return myPixels[size_t(y) * myWidth + x]; }
    const BX_Vector3 &at(int x, int y) const { return myPixels[size_t(y) * myWidth + x]; }

    // Copies another image into this one with its top-left corner at (x, y);
    // what falls outside is dropped.
    void paste(const SrfImage &other, int x, int y);

    // Writes the image in the format its extension names (see formats()),
    // through SrfOutputFile: a failure leaves no partial file and keeps an
    // existing one. Raises an SrfError naming the path.
    void save(const std::string &path) const;
    // The extensions save() can write: "png", and "exr" with OpenEXR.
    static std::vector<std::string> formats();

    // Writes an 8-bit sRGB PNG. Raises an SrfError naming the path when the
    // file cannot be created or written.
    void writePng(const std::string &path) const;

    // Writes a half-float RGB OpenEXR file of the linear values (a NaN
    // becomes 0). Raises an SrfError naming the path, as writePng.
    void writeExr(const std::string &path) const;

    // The sRGB transfer curve of a linear value clamped to [0, 1], as an
    // 8-bit code.
    static unsigned char encode(float linear);

private:
    int myWidth, myHeight;
    std::vector<BX_Vector3> myPixels;
};

#endif
