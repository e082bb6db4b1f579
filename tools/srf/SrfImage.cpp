#include "SrfImage.h"

#include "SrfError.h"
#include "SrfOutputFile.h"

#ifdef SRF_HAVE_OPENEXR
#include <ImfRgbaFile.h>
#endif

#include <png.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

SrfImage::SrfImage(int width, int height) : myWidth(width), myHeight(height), myPixels(size_t(width) * size_t(height))
{
}

void SrfImage::paste(const SrfImage &other, int x0, int y0)
{
    for (int y = 0; y < other.height(); ++y)
        for (int x = 0; x < other.width(); ++x)
            if (x0 + x >= 0 && x0 + x < myWidth && y0 + y >= 0 && y0 + y < myHeight)
                at(x0 + x, y0 + y) = other.at(x, y);
}

// c' = 12.92 c for c <= 0.0031308, else 1.055 c^(1/2.4) - 0.055; NaN counts
// as 0.
unsigned char SrfImage::encode(float linear)
{
    const float c = linear > 0.0f ? (linear < 1.0f ? linear : 1.0f) : 0.0f;
    const float curve = c <= 0.0031308f ? 12.92f * c : 1.055f * std::pow(c, 1.0f / 2.4f) - 0.055f;
    return static_cast<unsigned char>(std::lround(curve * 255.0f));
}

namespace
{
struct PngWriter
{
    FILE *file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngWriter()
    {
        if (png)
            png_destroy_write_struct(&png, info ? &info : nullptr);
        if (file)
            fclose(file);
    }
};

// Warnings (an unusual chunk, say) are not the user's business.
void pngWarning(png_structp, png_const_charp) {}

// The libpng calls, kept apart from every C++ object: libpng reports a
// failure by jumping back to the setjmp here, which returns false.
bool encodeRows(png_structp png, png_infop info, FILE *file, int width, int height, png_bytep *rows)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_sRGB_gAMA_and_cHRM(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, info);
    return true;
}
} // namespace

void SrfImage::writePng(const std::string &path) const
{
    PngWriter writer;
    writer.file = fopen(path.c_str(), "wb");
    if (!writer.file)
        throw SrfError("cannot write '" + path + "': " + strerror(errno));
    writer.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, pngWarning);
    if (writer.png)
        writer.info = png_create_info_struct(writer.png);
    if (!writer.png || !writer.info)
        throw SrfError("cannot write '" + path + "': out of memory");

    std::vector<unsigned char> rows(size_t(myWidth) * myHeight * 3);
    for (int y = 0; y < myHeight; ++y)
        for (int x = 0; x < myWidth; ++x)
        {
            const BX_Vector3 &p = at(x, y);
            unsigned char *out = &rows[(size_t(y) * myWidth + x) * 3];
            out[0] = encode(p.x);
            out[1] = encode(p.y);
            out[2] = encode(p.z);
        }
    std::vector<png_bytep> pointers(myHeight);
    for (int y = 0; y < myHeight; ++y)
        pointers[y] = &rows[size_t(y) * myWidth * 3];
    if (!encodeRows(writer.png, writer.info, writer.file, myWidth, myHeight, pointers.data()))
        throw SrfError("cannot write '" + path + "': the PNG encoder failed (disk full?)");
    if (fflush(writer.file) != 0 || ferror(writer.file))
        throw SrfError("cannot write '" + path + "': " + strerror(errno));
}

std::vector<std::string> SrfImage::formats()
{
#ifdef SRF_HAVE_OPENEXR
    return {"png", "exr"};
#else
    return {"png"};
#endif
}

void SrfImage::save(const std::string &path) const
{
    const bool exr = SrfOutputFile::extension(path) == "exr";
    SrfOutputFile::write(path, [&](const std::string &to) { exr ? writeExr(to) : writePng(to); });
}

void SrfImage::writeExr(const std::string &path) const
{
#ifdef SRF_HAVE_OPENEXR
    try
    {
        std::vector<Imf::Rgba> pixels(myPixels.size());
        for (size_t i = 0; i < myPixels.size(); ++i)
        {
            const BX_Vector3 &p = myPixels[i];
            pixels[i] = Imf::Rgba(std::isnan(p.x) ? 0.0f : p.x, std::isnan(p.y) ? 0.0f : p.y,
                                  std::isnan(p.z) ? 0.0f : p.z, 1.0f);
        }
        Imf::RgbaOutputFile file(path.c_str(), myWidth, myHeight, Imf::WRITE_RGB);
        file.setFrameBuffer(pixels.data(), 1, size_t(myWidth));
        file.writePixels(myHeight);
    }
    catch (const std::exception &error)
    {
        throw SrfError("cannot write '" + path + "': " + error.what());
    }
#else
    throw SrfError("cannot write '" + path + "': this build of srf has no OpenEXR library");
#endif
}
