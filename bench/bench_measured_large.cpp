// Measured data: the reader's throughput on a large generated measurement
// file (a million rows, about 60 MB), beside a plain fread of the same file.
// The file is generated into the build tree and removed afterwards.
#include "bench_pair.h"

#include "BX_Vector3Array.h"
#include "SRF_MeasuredData.h"
#include "SRFfastRandom.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace
{
const int LARGE_POINTS = 1000000;
const int REPEATS = 3;

// Rows of seven comma-separated values, as laboratories write them.
std::string generateLarge()
{
    const std::string dir = SRF_BENCH_WORK_DIR;
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/measured_large.astm";
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return path;
    std::fprintf(f, "NUM_POINTS %d\nVARS theta_i,phi_i,theta_s,phi_s,R,G,B\n\n", LARGE_POINTS);
    unsigned state = 1u;
    for (int i = 0; i < LARGE_POINTS; ++i)
        std::fprintf(f, "%.6f,%.6f,%.6f,%.6f,%.6f,%.6f,%.6f\n", 1.4f * SRFfastRandom(state),
                     6.2831853f * SRFfastRandom(state) - 3.1415927f, 1.4f * SRFfastRandom(state),
                     6.2831853f * SRFfastRandom(state) - 3.1415927f, SRFfastRandom(state), SRFfastRandom(state),
                     SRFfastRandom(state));
    std::fclose(f);
    return path;
}

// Reaches the protected reader without fitting anything.
class LargeReader : public SRF_MeasuredData
{
public:
    LargeReader() : SRF_MeasuredData("") {}
    int readFile(const char *path)
    {
        BX_Vector3Array incoming, scattered, values;
        read(path, incoming, scattered, values);
        return getPointCount();
    }
    void sample(const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &, BX_Vector3 &, float &, int &, float, float,
                int) const override
    {
    }
    float albedo(const BX_Vector3 &, const BX_Vector3 &, int) const override { return 0.0f; }
    void evaluate(const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &, float &, int) const override
    {
    }
};

void MeasuredReaderLarge(benchmark::State &state)
{
    const std::string path = generateLarge();
    std::error_code error;
    const double bytes = double(std::filesystem::file_size(path, error));
    std::vector<char> buffer(error ? 1 : std::size_t(bytes) + 1);
    LargeReader reader;
    double readerBest = 1e300, freadBest = 1e300;
    int points = 0;
    for (auto _ : state)
        for (int r = 0; r < REPEATS; ++r)
        {
            readerBest = std::min(readerBest, bench::timeOnce([&] { points = reader.readFile(path.c_str()); }));
            freadBest =
                std::min(freadBest, bench::timeOnce(
                                        [&]
                                        {
                                            FILE *f = std::fopen(path.c_str(), "rb");
                                            if (!f)
                                                return;
                                            benchmark::DoNotOptimize(std::fread(buffer.data(), 1, buffer.size(), f));
                                            std::fclose(f);
                                        }));
        }
    std::remove(path.c_str());
    if (points != LARGE_POINTS || error)
    {
        state.SkipWithError("the reader did not read every point");
        return;
    }
    // bytes per nanosecond * 1000 = MB/s
    const double readerMBs = bytes / readerBest * 1000.0;
    const double freadMBs = bytes / freadBest * 1000.0;
    state.counters["file_MB"] = bytes * 1e-6;
    state.counters["reader_MB/s"] = readerMBs;
    state.counters["fread_MB/s"] = freadMBs;
    bench::record(bench::Row{"5 measured", "reader throughput, 1M-point file", readerMBs, freadMBs, "MB/s",
                             "fread of the file", freadMBs / readerMBs, 0.0, false});
}
BENCHMARK(MeasuredReaderLarge)->Iterations(1)->Unit(benchmark::kMillisecond);
} // namespace
