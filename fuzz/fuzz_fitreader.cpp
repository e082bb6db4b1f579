// Fuzzes the robust fitter's reader, SRF_FitReader: the measurement files
// that instruments write, with spectral and band columns ("550nm"), R, G,
// B or I columns, skipped columns, rows with phi_s missing from VARS, blank
// lines and values that are not numbers.
//
// Each input is written to one file beside the executable (removed at
// exit) and read twice. Besides the sanitizers, it checks that a read
// either fails with one line naming the file or gives at least one point,
// every direction a finite unit vector, an account whose row count is the
// point count, and the same points the second time.
#include "FuzzInputFile.h"
#include "SRF_FitReader.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

namespace
{
void fail(const std::string &what)
{
    fprintf(stderr, "fuzz_fitreader: %s\n", what.c_str());
    abort();
}

bool unitVector(const double d[3])
{
    const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    return std::isfinite(length) && std::fabs(length - 1.0) < 1e-9;
}

// The data of one read, or the message of the error it raised.
struct Outcome
{
    bool ok = false;
    SRF_FitData data;
    std::string error;
};

Outcome readFile()
{
    Outcome outcome;
    try
    {
        outcome.data = SRF_FitReader::read(FuzzInputFile::path());
        outcome.ok = true;
    }
    catch (const std::runtime_error &error)
    {
        outcome.error = error.what();
    }
    return outcome;
}

void check(const Outcome &outcome)
{
    if (!outcome.ok)
    {
        if (outcome.error.empty() || outcome.error.find('\n') != std::string::npos)
            fail("an error is not one line: '" + outcome.error + "'");
        if (outcome.error.find(FuzzInputFile::path()) == std::string::npos)
            fail("an error does not name the file: '" + outcome.error + "'");
        return;
    }
    const SRF_FitData &data = outcome.data;
    if (data.size() < 1)
        fail("a read without an error gave no point");
    if (data.path != FuzzInputFile::path())
        fail("the data names another file");
    for (const SRF_FitData::Point &point : data.points)
        if (!unitVector(point.incoming) || !unitVector(point.scattered) || std::isnan(point.value[0]) ||
            std::isnan(point.value[1]) || std::isnan(point.value[2]))
            fail("a point with a direction that is not a unit vector, or a NaN value");
    const std::string rows = "rows: " + std::to_string(data.size()) + " read of ";
    bool counted = false;
    for (const std::string &line : data.account)
    {
        if (line.find('\n') != std::string::npos)
            fail("an account line holds a newline");
        counted |= line.compare(0, rows.size(), rows) == 0;
    }
    if (!counted)
        fail("the account does not give the point count");
}

bool samePoints(const SRF_FitData &a, const SRF_FitData &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i)
        if (std::memcmp(&a.points[i], &b.points[i], sizeof(SRF_FitData::Point)) != 0)
            return false;
    return a.account == b.account && a.sampleName == b.sampleName;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzInputFile::setUp(*argc > 0 ? (*argv)[0] : nullptr, "fuzz_fitreader");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInputFile::write(data, size);

    const Outcome first = readFile();
    check(first);
    const Outcome second = readFile();
    if (first.ok != second.ok || first.error != second.error || (first.ok && !samePoints(first.data, second.data)))
        fail("a second read of the same file gives another result");
    return 0;
}
