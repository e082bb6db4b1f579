// The host tool srf, run as a subprocess on the bundled examples and on
// shaders written here: what its pictures show (read back with libpng),
// what it prints, and how it refuses bad input.
#include <gtest/gtest.h>

#include <png.h>

#include "ChiSquare.h"
#include "SRF_Fitter.h"
#include "SrfRandom.h"
#include "SrfStudio.h"
#ifdef SRF_TOOL_EXR
#include <ImfRgbaFile.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifdef SRF_TOOL

namespace
{
const std::string EXAMPLES = std::string(SRF_SOURCE_DIR) + "/examples/";

// Every file the tests make lives here, in the build tree.
std::string workDir()
{
    const std::string dir = std::string(SRF_BINARY_TEST_DIR) + "/tool";
    mkdir(dir.c_str(), 0755);
    return dir;
}

std::string path(const std::string &name) { return workDir() + "/" + name; }

std::string readFile(const std::string &name)
{
    std::ostringstream text;
    text << std::ifstream(name, std::ios::binary).rdbuf();
    return text.str();
}

void writeFile(const std::string &name, const std::string &text) { std::ofstream(name, std::ios::binary) << text; }

struct Result
{
    int status;
    std::string out, err;
};

// Runs srf with the arguments (already quoted for the shell) from `dir`;
// each test keeps its own output files, as CTest may run them at once.
Result run(const std::string &arguments, const std::string &dir = workDir(), const std::string &program = SRF_TOOL)
{
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::string out = path(test + ".stdout"), err = path(test + ".stderr");
    const int raw = std::system(
        ("cd '" + dir + "' && '" + program + "' " + arguments + " > '" + out + "' 2> '" + err + "'").c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(out), readFile(err)};
}

int lineCount(const std::string &text) { return int(std::count(text.begin(), text.end(), '\n')); }

struct Picture
{
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
    const unsigned char *at(int x, int y) const { return &rgb[(size_t(y) * width + x) * 3]; }
};

Picture readPng(const std::string &name)
{
    Picture picture;
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, name.c_str()))
    {
        ADD_FAILURE() << "cannot read " << name;
        return picture;
    }
    image.format = PNG_FORMAT_RGB;
    picture.width = int(image.width);
    picture.height = int(image.height);
    picture.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr))
        ADD_FAILURE() << "cannot decode " << name;
    return picture;
}

// The 8-bit sRGB code of a linear value.
int srgb(float linear)
{
    const float c = linear <= 0.0031308f ? 12.92f * linear : 1.055f * std::pow(linear, 1.0f / 2.4f) - 0.055f;
    return int(std::lround(c * 255.0f));
}

// The linear value of an 8-bit sRGB code.
double linear(int code)
{
    const double c = code / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(const unsigned char *p)
{
    return 0.2126 * linear(p[0]) + 0.7152 * linear(p[1]) + 0.0722 * linear(p[2]);
}

// The first number that follows `key` in the text, or NaN.
double numberAfter(const std::string &text, const std::string &key)
{
    const size_t at = text.find(key);
    if (at == std::string::npos)
        return std::nan("");
    return std::strtod(text.c_str() + at + key.size(), nullptr);
}
} // namespace

// Bad input: one line on standard error starting "srf", naming what was
// wrong, a non-zero status, nothing on standard output and no file made.
// Every subcommand has help.
TEST(Tool, RejectsBadInputWithOneLineAndHasHelp)
{
    writeFile(path("malformed.kal"), "vector tint = 0.5 0.5 0.5\ndiffuse@B F\nnosuchop@BV F tint\n");
    writeFile(path("empty.txt"), "VARS theta_i phi_i theta_s phi_s I\n");
    writeFile(path("garbage.kal"), "\xFF\xFE\x1B[31m\xC3\xA9\xE2\x80\n");
    const std::pair<std::string, std::string> cases[] = {
        // Bytes that are not text, and control characters, come out by
        // value; UTF-8 text as it is.
        {"render garbage.kal", "garbage.kal:1: expected a declaration or a call (name@LETTERS), found "
                               "\"\\xFF\\xFE\\x1B[31m\xC3\xA9\\xE2\\x80\""},
        {"render no-such-shader.kal", "no-such-shader.kal"},
        {"render malformed.kal", "malformed.kal:3"},
        {"render --frobnicate", "--frobnicate"},
        {"render --size 0", "--size"},
        {"render --spp -1", "--spp"},
        {"render --size 12x", "12x"},
        {"render '" + EXAMPLES + "diffuse.kal' -o no-such-folder/out.png", "no-such-folder/out.png"},
        {"render -o x.jpg", "x.jpg"},
        {"render -o out", "without an extension"},
        {"plot", "SHADER.kal"},
        {"plot '" + EXAMPLES + "diffuse.kal' -o lobe.tiff", ".tiff"},
        {"plot '" + EXAMPLES + "diffuse.kal' --theta 200", "--theta"},
        {"info malformed.kal", "malformed.kal:3"},
        {"fit no-such-file.txt", "no-such-file.txt"},
        {"fit empty.txt", "empty.txt"},
        {"fit x.txt --model lambert", "lambert"},
        {"teleport", "teleport"},
    };
    for (const auto &[arguments, says] : cases)
    {
        const Result result = run(arguments);
        EXPECT_NE(result.status, 0) << arguments;
        EXPECT_EQ(lineCount(result.err), 1) << arguments << "\n" << result.err;
        EXPECT_EQ(result.err.compare(0, 3, "srf"), 0) << result.err;
        EXPECT_NE(result.err.find(says), std::string::npos) << arguments << "\n" << result.err;
        EXPECT_EQ(result.out, "") << arguments;
    }
    EXPECT_NE(access(path("no-such-folder").c_str(), F_OK), 0);
    const Result bare = run("");
    EXPECT_EQ(bare.status, 2);
    EXPECT_EQ(bare.err.rfind("usage: srf COMMAND", 0), 0u) << bare.err;
    EXPECT_NE(run("--help").out.find("Without a command, srf prints this text"), std::string::npos);
    for (const char *command : {"render", "plot", "fit", "info"})
    {
        const Result result = run(std::string(command) + " --help");
        EXPECT_EQ(result.status, 0) << command;
        EXPECT_EQ(result.out.rfind(std::string("usage: srf ") + command, 0), 0u) << result.out;
        EXPECT_NE(run("--help").out.find(command), std::string::npos);
    }
}

// A measured lobe on a file that cannot be read renders (on an empty data
// set, as the op builds it) after one warning naming the file, however
// often the shader names it.
TEST(Tool, WarnsOnceOfAnUnreadableMeasurementFile)
{
    writeFile(path("lost.kal"), "bsdf b\nmeasured@BS F \"lost.astm\"\nmeasured@BS b \"lost.astm\"\nadd@BB F b\n");
    const Result result = run("info lost.kal");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "srf: warning: lost.kal: cannot read the measurement file \"lost.astm\" (No such file or "
                          "directory): its measured lobe has no measurements to fit\n");
    EXPECT_NE(result.out.find("SRF_Measured"), std::string::npos) << result.out;
}

// An emitter of colour c renders as c wherever the sphere covers the whole
// pixel and as the studio (a bright sky over a darker floor) wherever it
// covers none, at 25 samples a pixel (eight camera rays carry three
// samples each, a ninth the last one); a shader that scatters nothing
// renders a black sphere. The
// isotropic lobe scatters every incoming direction alike, so every pixel of
// its sphere estimates the studio's mean radiance: its quarters agree,
// unlike those of a diffuse sphere lit from the upper left.
TEST(Tool, SpheresInTheStudio)
{
    writeFile(path("emit.kal"), "# a dim orange lamp\nset@BV F (0.5, 0.25, 0.125)\n");
    writeFile(path("black.kal"), "vector none = 0 0 0\ndiffuse@B F\nmul@BV F none\n");
    writeFile(path("isotropic.kal"), "isotropic@B F\n");
    for (const char *name : {"emit", "black"})
        ASSERT_EQ(run(std::string("render ") + name + ".kal -o " + name + ".png --size 48 --spp 25").status, 0);
    const Result result = run("render isotropic.kal -o isotropic.png --size 48 --spp 256 --seed 11");
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.err, ""); // not a terminal: no progress bar
    ASSERT_EQ(run("render '" + EXAMPLES + "diffuse.kal' -o clay.png --size 48 --spp 256").status, 0);
    const Picture emit = readPng(path("emit.png")), black = readPng(path("black.png"));
    const Picture flat = readPng(path("isotropic.png")), clay = readPng(path("clay.png"));
    ASSERT_TRUE(emit.width == 48 && emit.height == 48 && black.width == 48 && flat.width == 48);
    const int orange[3] = {srgb(0.5f), srgb(0.25f), srgb(0.125f)};
    int inside = 0, outside = 0;
    double quarters[2][4] = {};
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x)
        {
            const double dx = (x + 0.5) / 48 - 0.5, dy = (y + 0.5) / 48 - 0.5, r = std::sqrt(dx * dx + dy * dy);
            for (int c = 0; c < 3 && r < 0.3; ++c)
                EXPECT_TRUE(emit.at(x, y)[c] == orange[c] && black.at(x, y)[c] == 0) << x << "," << y;
            for (int c = 0; c < 3 && r > 0.47; ++c)
                EXPECT_EQ(emit.at(x, y)[c], black.at(x, y)[c]) << x << "," << y;
            inside += r<0.3, outside += r> 0.47;
            if (r < 0.3)
                for (int k = 0; k < 2; ++k)
                    quarters[k][(dx < 0.0 ? 0 : 1) + (dy < 0.0 ? 0 : 2)] += luminance((k ? clay : flat).at(x, y));
        }
    EXPECT_TRUE(inside > 500 && outside > 250);
    EXPECT_GT(luminance(black.at(24, 0)), 0.3);
    EXPECT_GT(luminance(black.at(24, 0)), luminance(black.at(24, 47)));
    for (int q = 1; q < 4; ++q)
        EXPECT_NEAR(quarters[0][q] / quarters[0][0], 1.0, 0.03) << "quarter " << q;
    EXPECT_GT(quarters[1][0], 1.5 * quarters[1][3]); // upper left against lower right
}

// The files in a folder whose names start with `prefix`.
std::vector<std::string> filesStarting(const std::string &dir, const std::string &prefix)
{
    std::vector<std::string> names;
    if (DIR *folder = opendir(dir.c_str()))
    {
        while (const dirent *entry = readdir(folder))
            if (std::string(entry->d_name).rfind(prefix, 0) == 0)
                names.push_back(entry->d_name);
        closedir(folder);
    }
    return names;
}

// Every file srf writes goes through a temporary beside it. A file size
// limit of 512 bytes (what a full disk does to a write, with EFBIG for ENOSPC)
// makes each writer fail part way: the command says so in one line, the
// good file that was there is untouched and no temporary is left behind.
// Without the limit the same commands replace the files whole.
TEST(Tool, OutputIsReplacedWholeOrNotAtAll)
{
    const std::string dir = path("atomic");
    mkdir(dir.c_str(), 0755);
    const std::string shader = "'" + EXAMPLES + "plastic.kal'";
    const std::string commands[] = {
        "render " + shader + " -o image.png --size 40 --spp 2",
        "render " + shader + " -o image.exr --size 40 --spp 2",
        "plot " + shader + " -o lobe.png --size 16 --samples 1000",
        "fit '" + EXAMPLES + "red_plastic.astm' --starts 1 --kal fitted.kal",
    };
    const char *files[] = {"image.png", "image.exr", "lobe.png", "fitted.kal"};
    for (int i = 0; i < 4; ++i)
    {
#ifndef SRF_TOOL_EXR
        if (i == 1)
            continue;
#endif
        const std::string target = dir + "/" + files[i];
        // A good old file, larger than the limit.
        const std::string old(4096, 'x');
        writeFile(target, old);
        const Result limited =
            run("-c \"trap '' XFSZ; ulimit -f 1; exec '" + std::string(SRF_TOOL) + "' " + commands[i] + "\"", dir,
                "/bin/sh");
        EXPECT_NE(limited.status, 0) << commands[i];
        EXPECT_EQ(lineCount(limited.err), 1) << limited.err;
        EXPECT_NE(limited.err.find("cannot write '" + std::string(files[i]) + "'"), std::string::npos) << limited.err;
        EXPECT_TRUE(readFile(target) == old) << files[i];
        EXPECT_EQ(filesStarting(dir, "." + std::string(files[i])).size(), 0u) << files[i];

        const Result whole = run(commands[i], dir);
        EXPECT_EQ(whole.status, 0) << whole.err;
        const std::string written = readFile(target);
        EXPECT_GT(written.size(), 100u);
        EXPECT_NE(written, old);
        EXPECT_EQ(filesStarting(dir, ".").size(), 2u); // "." and ".." alone
        struct stat status;
        ASSERT_EQ(stat(target.c_str(), &status), 0);
        EXPECT_NE(status.st_mode & S_IROTH, 0u) << "a temporary's owner-only mode leaked into " << files[i];
    }
}

#ifdef SRF_TOOL_EXR
// -o FILE.exr writes linear half floats, nothing clamped: an emitter of
// colour (2.5, 0.25, 0.125) reads back exactly (each is a half), where the
// PNG of the same render clamps red to 255; elsewhere the two files agree
// to the PNG's rounding.
TEST(Tool, ExrHoldsLinearRadianceBeyondOne)
{
    writeFile(path("bright.kal"), "set@BV F (2.5, 0.25, 0.125)\n");
    const std::string common = "render bright.kal --size 32 --spp 2 --seed 5";
    ASSERT_EQ(run(common + " -o bright.exr").status, 0);
    ASSERT_EQ(run(common + " -o bright.png").status, 0);
    Imf::RgbaInputFile file(path("bright.exr").c_str());
    const Imath::Box2i window = file.dataWindow();
    const int width = window.max.x - window.min.x + 1, height = window.max.y - window.min.y + 1;
    ASSERT_TRUE(width == 32 && height == 32);
    EXPECT_EQ(file.channels(), Imf::WRITE_RGB);
    std::vector<Imf::Rgba> pixels(size_t(width) * height);
    file.setFrameBuffer(pixels.data() - window.min.x - window.min.y * width, 1, size_t(width));
    file.readPixels(window.min.y, window.max.y);
    const Imf::Rgba centre = pixels[16 * width + 16];
    EXPECT_EQ(float(centre.r), 2.5f);
    EXPECT_EQ(float(centre.g), 0.25f);
    EXPECT_EQ(float(centre.b), 0.125f);
    const Picture png = readPng(path("bright.png"));
    ASSERT_EQ(png.width, 32);
    EXPECT_EQ(png.at(16, 16)[0], 255);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
        {
            const Imf::Rgba &p = pixels[size_t(y) * width + x];
            const float linear[3] = {float(p.r), float(p.g), float(p.b)};
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(srgb(std::min(linear[c], 1.0f)), png.at(x, y)[c], 1) << x << "," << y;
        }
}
#endif

// Each pixel's first 2^m pairs of a dimension pair are a (0, m, 2)-net:
// every elementary interval [a/2^i, (a+1)/2^i) x [b/2^(m-i), (b+1)/2^(m-i))
// holds exactly one point, as Owen-scrambled and shuffled Sobol' points do.
// Pixels and pairs are scrambled apart: their points differ.
TEST(Tool, SobolPairsAreNetsPerPixel)
{
    const int M = 6, N = 1 << M, PIXELS = 40;
    uint32_t pixels[PIXELS];
    for (int i = 0; i < PIXELS; ++i)
        pixels[i] = uint32_t(i * 977);
    std::vector<float> xs(size_t(N) * PIXELS), ys(size_t(N) * PIXELS);
    for (uint32_t pair : {0u, 2u})
    {
        for (int s = 0; s < N; ++s)
            SrfRandom::sobolPairs(7, pixels, PIXELS, uint32_t(s), pair, &xs[size_t(s) * PIXELS],
                                  &ys[size_t(s) * PIXELS]);
        for (int p = 0; p < PIXELS; ++p)
            for (int m = 1; m <= M; ++m) // the prefix of 2^m samples
                for (int i = 0; i <= m; ++i)
                {
                    std::vector<int> cells(size_t(1) << m, 0);
                    for (int s = 0; s < (1 << m); ++s)
                    {
                        const float x = xs[size_t(s) * PIXELS + p], y = ys[size_t(s) * PIXELS + p];
                        ASSERT_TRUE(x >= 0.0f && x < 1.0f && y >= 0.0f && y < 1.0f);
                        const int a = int(x * float(1 << i)), b = int(y * float(1 << (m - i)));
                        ++cells[size_t(a) * (size_t(1) << (m - i)) + b];
                    }
                    EXPECT_EQ(*std::max_element(cells.begin(), cells.end()), 1)
                        << "pixel " << p << ", " << (1 << m) << " samples, " << (1 << i) << " columns";
                }
        EXPECT_NE(xs[0], xs[1]); // pixels 0 and 1, sample 0
    }
    float x2, y2;
    SrfRandom::sobolPairs(7, pixels, 1, 0, 1, &x2, &y2);
    EXPECT_NE(x2, xs[0]);
}

// The studio's light draw for a surface's normal (a light chosen by power,
// a tenth of it for a light below the surface's plane, then a direction in
// its soft cone, the band inverted by bisection and Newton's steps) has the
// density lightPdf gives, which the mis weights count on: above a flat
// surface and for a normal that puts two lights below its plane.
TEST(Tool, StudioLightsDrawTheDensityTheyClaim)
{
    const SrfStudio studio;
    for (const BX_Vector3 &normal : {BX_Vector3(0.0f, 0.0f, 1.0f), BX_Vector3(0.6f, -0.64f, -0.48f)})
    {
        const float nx = normal.x, ny = normal.y, nz = normal.z;
        EXPECT_TRUE(ChiSquare::fits({"studio lights", ChiSquare::frameAbout(normal),
                                     [&](float s, float t, BX_Vector3 &d)
                                     {
                                         float pdf;
                                         studio.sampleLights(&nx, &ny, &nz, &s, &t, 1, &d.x, &d.y, &d.z, &pdf);
                                     },
                                     [&](const BX_Vector3 &d)
                                     {
                                         float pdf;
                                         studio.lightPdf(&nx, &ny, &nz, &d.x, &d.y, &d.z, 1, &pdf);
                                         return double(pdf);
                                     }}));
    }
}

#ifdef SRF_TOOL_EXR
// The linear RGB of an EXR file, row by row, three floats a pixel.
std::vector<float> readExr(const std::string &name, int &width)
{
    Imf::RgbaInputFile file(name.c_str());
    const Imath::Box2i window = file.dataWindow();
    width = window.max.x - window.min.x + 1;
    const int height = window.max.y - window.min.y + 1;
    std::vector<Imf::Rgba> pixels(size_t(width) * height);
    file.setFrameBuffer(pixels.data() - window.min.x - window.min.y * width, 1, size_t(width));
    file.readPixels(window.min.y, window.max.y);
    std::vector<float> rgb;
    for (const Imf::Rgba &p : pixels)
        rgb.insert(rgb.end(), {float(p.r), float(p.g), float(p.b)});
    return rgb;
}

// The hair example renders on fibres. Shaders that emit their dPds and their
// N show, one sample a pixel, what each hit hands the shader: where a fibre
// is hit, a unit tangent and a unit normal perpendicular to it that faces
// the camera; a fair share of the ball is covered, with gaps between
// fibres; elsewhere the studio. The sphere shows no such tangent field.
TEST(Tool, FibresHandTheShaderTheirTangent)
{
    writeFile(path("tangent.kal"), "set@BV F dPds\n");
    writeFile(path("normal.kal"), "set@BV F N\n");
    const std::string common = " --size 64 --spp 1 --seed 9";
    for (const char *name : {"tangent", "normal"})
        ASSERT_EQ(run(std::string("render ") + name + ".kal --geometry fibres -o " + name + ".exr" + common).status, 0);
    int width = 0;
    const std::vector<float> tangent = readExr(path("tangent.exr"), width), normal = readExr(path("normal.exr"), width);
    ASSERT_EQ(width, 64);
    const float eye[3] = {0.0f, 0.7f / std::sqrt(0.49f + 4.4f * 4.4f), 4.4f / std::sqrt(0.49f + 4.4f * 4.4f)};
    int hits = 0, central = 0, gaps = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
        {
            const float *t = &tangent[size_t(3 * (y * 64 + x))], *n = &normal[size_t(3 * (y * 64 + x))];
            const double dx = (x + 0.5) / 64 - 0.5, dy = (y + 0.5) / 64 - 0.5;
            const bool inside = dx * dx + dy * dy < 0.3 * 0.3;
            central += inside;
            // The studio, seen between fibres or around the ball, is the
            // same in both renders.
            if (t[0] == n[0] && t[1] == n[1] && t[2] == n[2])
            {
                gaps += inside;
                continue;
            }
            ++hits;
            EXPECT_NEAR(std::sqrt(t[0] * t[0] + t[1] * t[1] + t[2] * t[2]), 1.0f, 0.01f) << x << "," << y;
            const float nLength = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
            EXPECT_NEAR(nLength, 1.0f, 0.01f) << x << "," << y;
            EXPECT_NEAR(t[0] * n[0] + t[1] * n[1] + t[2] * n[2], 0.0f, 0.01f) << x << "," << y;
            EXPECT_GT(n[0] * eye[0] + n[1] * eye[1] + n[2] * eye[2], -0.2f) << x << "," << y;
        }
    EXPECT_GT(hits, central * 7 / 10);
    EXPECT_GT(gaps, 0);
    // Auto picks the fibres for the hair example and the sphere for plastic.
    const Result hair = run("render '" + EXAMPLES + "hair.kal' -o hair.png" + common);
    ASSERT_EQ(hair.status, 0) << hair.err;
    ASSERT_EQ(run("render '" + EXAMPLES + "hair.kal' --geometry sphere -o smooth.png" + common).status, 0);
    EXPECT_FALSE(readFile(path("hair.png")) == readFile(path("smooth.png")));
    ASSERT_EQ(run("render tangent.kal -o sphere.exr" + common).status, 0);
    const std::vector<float> sphere = readExr(path("sphere.exr"), width);
    const float *centre = &sphere[size_t(3 * (32 * 64 + 32))];
    EXPECT_GT(std::sqrt(centre[0] * centre[0] + centre[2] * centre[2]), 2.0f); // dP/ds = 2 pi (P.z, 0, -P.x)
}
#endif

#ifdef SRF_TOOL_EXR
// Light and BSDF sampling combined estimate what BSDF sampling alone does:
// the plastic example (a diffuse base under a glossy coat, lit by the
// studio's soft lights), the brushed metal (an anisotropic glossy lobe) and a
// delta lobe beside a glossy one (specular bounces, never weighed) at
// many samples in both modes, with different seeds, agree in the linear
// image mean, in 6 x 6 block means and pixel by pixel within noise. A
// light sample counted with the wrong weight, or a specular bounce weighed,
// shows as a difference of 10 % or more.
TEST(Tool, MisAgreesWithBsdfSampling)
{
    // A delta lobe (weight 1e6 toward its direction, here straight up) and
    // a broad glossy lobe, each at 1e-3, so that the sum draws each about
    // half the time under the glossy mask: the delta's draws are specular
    // bounces, and carry the image.
    writeFile(path("mirror.kal"), "bsdf delta\nphong@BF F 2\nmul@BF F 0.001\nspecular@BV delta (0, 1, 0)\n"
                                  "mul@BF delta 0.001\nadd@BB F delta\n");
    for (const std::string &shader :
         {"'" + EXAMPLES + "plastic.kal'", "'" + EXAMPLES + "metal.kal'", std::string("mirror.kal")})
    {
        const std::string common = "render " + shader + " --size 24 --spp 2048 --threads 2";
        ASSERT_EQ(run(common + " --sampling mis --seed 21 -o mis.exr").status, 0);
        ASSERT_EQ(run(common + " --sampling bsdf --seed 22 -o bsdf.exr").status, 0);
        int width = 0;
        const std::vector<float> mis = readExr(path("mis.exr"), width), bsdf = readExr(path("bsdf.exr"), width);
        ASSERT_EQ(mis.size(), bsdf.size());
        double misSum = 0.0, bsdfSum = 0.0;
        for (size_t i = 0; i < mis.size(); ++i)
        {
            misSum += mis[i];
            bsdfSum += bsdf[i];
            // The delta's weight of 1e3 leaves pixels it half covers too
            // noisy to compare one by one: its blocks and mean are.
            if (shader != "mirror.kal")
            {
                EXPECT_NEAR(mis[i], bsdf[i], 0.02 + 0.08 * bsdf[i]) << shader << " value " << i;
            }
        }
        EXPECT_NEAR(misSum / bsdfSum, 1.0, 0.005) << shader;
        for (int by = 0; by < 24; by += 6)
            for (int bx = 0; bx < 24; bx += 6)
            {
                double a = 0.0, b = 0.0;
                for (int y = by; y < by + 6; ++y)
                    for (int x = bx; x < bx + 6; ++x)
                        for (int c = 0; c < 3; ++c)
                        {
                            a += mis[size_t(3 * (y * 24 + x) + c)];
                            b += bsdf[size_t(3 * (y * 24 + x) + c)];
                        }
                EXPECT_NEAR(a / b, 1.0, 0.02) << shader << " block " << bx << "," << by;
            }
    }
}
#endif

// The same seed gives the same bytes whatever the thread count; another
// seed gives another image. Without a shader, render shows the bundled
// plastic example and writes srf-render.png in the current folder.
TEST(Tool, RenderIsDeterministicAcrossThreadCountsAndDefaultsToTheExample)
{
    const std::string dir = path("default"), common = " --size 48 --spp 8 --seed 3";
    mkdir(dir.c_str(), 0755);
    remove((dir + "/srf-render.png").c_str());
    const Result result = run("render --threads 1" + common, dir);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("plastic.kal"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("wrote " + dir + "/srf-render.png"), std::string::npos) << result.out;
    const std::string shader = "'" + EXAMPLES + "plastic.kal'";
    ASSERT_EQ(run("render " + shader + " -o two.png --threads 2" + common).status, 0);
    ASSERT_EQ(run("render " + shader + " -o five.png --threads 5" + common).status, 0);
    ASSERT_EQ(run("render " + shader + " -o other.png --threads 2 --size 48 --spp 8 --seed 4").status, 0);
    const std::string one = readFile(dir + "/srf-render.png");
    ASSERT_GT(one.size(), 100u);
    EXPECT_TRUE(one == readFile(path("two.png")) && one == readFile(path("five.png")));
    EXPECT_FALSE(one == readFile(path("other.png")));
    // The plastic is red: its lit side has much more red than blue.
    const Picture two = readPng(path("two.png"));
    EXPECT_GT(two.at(20, 30)[0], two.at(20, 30)[2] + 40);
}

// Compares the evaluate column of a plot (panels of `size` pixels) with its
// histogram column, block by block over the whole blocks inside the upper
// disk, and checks that nothing shows in the lower hemisphere. Returns the
// mean luminance of the evaluate panel's blocks, per block, row by row.
std::vector<double> expectColumnsAgree(const Picture &picture, int size)
{
    const int gap = 8, block = 8;
    EXPECT_EQ(picture.width, 2 * size + 3 * gap);
    // Mean luminance of a block of a panel (column 0 evaluate, 1 histogram;
    // row 0 upper hemisphere, 1 lower).
    auto mean = [&](int column, int row, int bx, int by)
    {
        double sum = 0.0;
        for (int y = by; y < by + block; ++y)
            for (int x = bx; x < bx + block; ++x)
                sum += luminance(picture.at(gap + column * (size + gap) + x, gap + row * (size + gap) + y));
        return sum / (block * block);
    };
    std::vector<double> values;
    int compared = 0;
    for (int by = 0; by < size; by += block)
        for (int bx = 0; bx < size; bx += block)
        {
            values.push_back(mean(0, 0, bx, by));
            bool whole = true;
            for (int corner = 0; corner < 4; ++corner)
            {
                const double x = 2.0 * (bx + (corner & 1) * block) / size - 1.0;
                const double y = 2.0 * (by + (corner >> 1) * block) / size - 1.0;
                whole = whole && x * x + y * y < 1.0;
            }
            if (!whole)
                continue;
            const double value = values.back(), histogram = mean(1, 0, bx, by);
            EXPECT_NEAR(histogram, value, 0.03 + 0.06 * value) << "block " << bx << "," << by;
            ++compared;
            // Nothing below the surface: these lobes reflect only.
            EXPECT_LT(mean(0, 1, bx, by), 0.002);
            EXPECT_LT(mean(1, 1, bx, by), 0.002);
        }
    EXPECT_GE(compared, 30);
    return values;
}

// The diffuse example's sampler draws directions in proportion to the
// evaluated value, so the histogram column matches the evaluate column,
// block by block, within noise.
TEST(Tool, PlotHistogramMatchesEvaluate)
{
    const int size = 64, blocks = size / 8;
    const Result diffuse =
        run("plot '" + EXAMPLES + "diffuse.kal' --theta 30 --size 64 --samples 2000000 --seed 5 -o diffuse-lobe.png");
    ASSERT_EQ(diffuse.status, 0) << diffuse.err;
    EXPECT_NE(diffuse.out.find("bounce types: diffuse (1)"), std::string::npos) << diffuse.out;
    EXPECT_NE(diffuse.out.find("u: theta 30.0 degrees, (0.5000, 0.0000, 0.8660)"), std::string::npos) << diffuse.out;
    EXPECT_NEAR(numberAfter(diffuse.out, "below, "), 0.0, 1e-9) << diffuse.out;
    const std::vector<double> flat = expectColumnsAgree(readPng(path("diffuse-lobe.png")), size);
    // The value falls off from the pole toward the rim (cosine), so the
    // agreement is not that of two uniform pictures.
    const int middle = blocks / 2;
    EXPECT_GT(flat[middle * blocks + middle], 2.0 * flat[middle * blocks] + 0.05);
}

// A measurement file made from known model parameters fits back to them.
TEST(Tool, FitRecoversGeneratingParameters)
{
    if (!SRF_Fitter::HAS_ROBUST_SOLVER)
        GTEST_SKIP() << "this build has no robust solver (Ceres Solver was not found)";
    const float ks[3] = {0.4f, 0.35f, 0.3f}, kd[3] = {0.5f, 0.3f, 0.2f}, exponent = 0.8f;
    std::ostringstream file;
    const int points = 1500;
    file << "NUM_POINTS " << points << "\nVARS theta_i phi_i theta_s phi_s R G B\nDATA\n";
    unsigned state = 12345;
    auto next = [&]()
    {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / 16777216.0;
    };
    for (int i = 0; i < points; ++i)
    {
        const double ti = 1.4 * next(), pi = 6.283 * next(), ts = 1.4 * next(), ps = 6.283 * next();
        const double u[3] = {std::sin(ti) * std::sin(pi), std::sin(ti) * std::cos(pi), std::cos(ti)};
        const double v[3] = {std::sin(ts) * std::sin(ps), std::sin(ts) * std::cos(ps), std::cos(ts)};
        const double h[3] = {u[0] + v[0], u[1] + v[1], u[2] + v[2]};
        const double ch = h[2] / std::sqrt(h[0] * h[0] + h[1] * h[1] + h[2] * h[2]);
        char row[256];
        snprintf(row, sizeof row, "%.7f %.7f %.7f %.7f %.7f %.7f %.7f\n", ti, pi, ts, ps,
                 kd[0] * v[2] + ks[0] * std::pow(ch, exponent), kd[1] * v[2] + ks[1] * std::pow(ch, exponent),
                 kd[2] * v[2] + ks[2] * std::pow(ch, exponent));
        file << row;
    }
    writeFile(path("measured.txt"), file.str());

    const Result result = run("fit measured.txt --model phong");
    ASSERT_EQ(result.status, 0) << result.err;
    const char *names[] = {"Ks.r", "Ks.g", "Ks.b", "Kd.r", "Kd.g", "Kd.b", "exponent"};
    const float expected[] = {ks[0], ks[1], ks[2], kd[0], kd[1], kd[2], exponent};
    for (int i = 0; i < 7; ++i)
        EXPECT_NEAR(numberAfter(result.out, std::string("  ") + names[i]), expected[i], 0.01) << result.out;
    EXPECT_EQ(numberAfter(result.out, "points: "), points);
    EXPECT_LT(numberAfter(result.out, "rms per channel: "), 1e-3);
    EXPECT_NEAR(numberAfter(result.out, "rms rgb: "), std::sqrt(3.0) * numberAfter(result.out, "rms per channel: "),
                1e-6);
    EXPECT_GE(numberAfter(result.out, "time: "), 0.0);
    // The defined fit says that it depends on what drew before it; the
    // export prints how its albedo compares with the model's.
    const Result defined = run("fit measured.txt --model phong --solver defined --kal fit.kal");
    ASSERT_EQ(defined.status, 0) << defined.err;
    EXPECT_NE(defined.out.find("depends on every fit that drew before it"), std::string::npos) << defined.out;
    EXPECT_NE(defined.out.find("shader albedo against the model's"), std::string::npos) << defined.out;
    const Result isotropic = run("fit measured.txt --model phong --isotropic");
    EXPECT_EQ(isotropic.status, 2);
    EXPECT_NE(isotropic.err.find("isotropic is for --model ashikhmin"), std::string::npos) << isotropic.err;
}

// info lists the program with every rewrite expanded ("diffuse@B" and
// "phong@BF" became normalised-N Lafortune lobes) and the BSDF tree.
TEST(Tool, InfoShowsExpandedProgramAndTree)
{
    const Result result = run("info '" + EXAMPLES + "plastic.kal'");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.substr(result.out.find("plastic.kal:")),
              "plastic.kal: 7 instructions after rewrites\nnormalize@VV($t0, N)\n"
              "lafortune@BVVF(F, $t0, (0, 0, 1), 0)\nmul@BV(F, tint)\nnormalize@VV($t1, N)\n"
              "lafortune@BVVF(coat, $t1, (-1, -1, 1), shine)\nmul@BF(coat, coatWeight)\nadd@BB(F, coat)\n"
              "# F for one lane (N = (0, 0, 1)):\n SRF_SumBSDF\n  SRF_ScaleBSDF\n   SRF_Lafortune\n"
              "  SRF_ScaleBSDF\n   SRF_Lafortune\n");
}

#else

// Built without the tool (SRF_BUILD_TOOLS off): nothing to run.
TEST(Tool, NotBuilt) { GTEST_SKIP() << "srf is not built in this configuration"; }

#endif
