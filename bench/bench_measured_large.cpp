// Measured data: the reader's throughput on a large generated measurement
// file (a million rows, about 60 MB), beside a plain fread of the same file.
// The file is generated into the build tree and removed afterwards.
#include "bench_pair.h"
#include "bench_reader.h"

#include "SRF_Constants.h"
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
                     SRF_TWO_PI * SRFfastRandom(state) - SRF_PI, 1.4f * SRFfastRandom(state),
                     SRF_TWO_PI * SRFfastRandom(state) - SRF_PI, SRFfastRandom(state), SRFfastRandom(state),
                     SRFfastRandom(state));
    std::fclose(f);
    return path;
}

void MeasuredReaderLarge(benchmark::State &state)
{
    const std::string path = generateLarge();
    std::error_code error;
    const double bytes = double(std::filesystem::file_size(path, error));
    std::vector<char> buffer(error ? 1 : std::size_t(bytes) + 1);
    bench::ReaderProbe reader;
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
