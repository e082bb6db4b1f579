#ifndef FUZZ_INPUT_FILE_H
#define FUZZ_INPUT_FILE_H

// The file a reader fuzzer hands each input to: one per process, beside the
// executable in the build tree, removed at exit. A failure to write it stops
// the run.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace FuzzInputFile
{
inline std::string &path()
{
    static std::string thePath;
    return thePath;
}

inline void removeAtExit() { unlink(path().c_str()); }

// Names the file after the fuzzer (argv[0]) and the process.
inline void setUp(const char *argv0, const char *name)
{
    std::string folder = argv0 ? argv0 : "";
    const size_t slash = folder.rfind('/');
    folder = slash == std::string::npos ? "." : folder.substr(0, slash);
    path() = folder + "/" + name + "." + std::to_string(getpid()) + ".astm";
    atexit(removeAtExit);
}

inline void write(const uint8_t *data, size_t size)
{
    FILE *file = fopen(path().c_str(), "wb");
    const bool written = file && (!size || fwrite(data, 1, size, file) == size);
    if (file)
        fclose(file);
    if (!written)
    {
        fprintf(stderr, "%s: cannot write the input file\n", path().c_str());
        abort();
    }
}
} // namespace FuzzInputFile

#endif
