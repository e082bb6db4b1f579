// srf_bench's entry point: the machine's load before and after, every
// benchmark, then the summary table of figures beside their references.
#include "bench_pair.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <vector>

namespace
{
std::mutex theRowsLock;
std::vector<bench::Row> &rows()
{
    static std::vector<bench::Row> all;
    return all;
}

void printLoad(const char *when)
{
    double one = 0.0, five = 0.0, fifteen = 0.0;
    if (FILE *f = std::fopen("/proc/loadavg", "r"))
    {
        if (std::fscanf(f, "%lf %lf %lf", &one, &five, &fifteen) != 3)
            one = five = fifteen = 0.0;
        std::fclose(f);
    }
    char date[64] = "";
    const std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S UTC", std::gmtime(&now));
    std::printf("%s: %s, load average %.2f %.2f %.2f\n", when, date, one, five, fifteen);
    std::fflush(stdout);
}

const char *verdict(const bench::Row &row)
{
    if (row.aim <= 0.0)
        return "";
    const bool within = row.aimIsMinimum ? row.ratio >= row.aim : row.ratio <= row.aim;
    return within ? "within aim" : "ABOVE AIM";
}
} // namespace

double bench::clockOverheadNs()
{
    static const double overhead = []
    {
        double best = 1e300;
        for (int i = 0; i < 1000; ++i)
        {
            const double start = threadCpuNs();
            const double stop = threadCpuNs();
            if (stop - start < best)
                best = stop - start;
        }
        return best;
    }();
    return overhead;
}

void bench::record(const Row &row)
{
    std::lock_guard<std::mutex> guard(theRowsLock);
    for (Row &r : rows())
        if (r.group == row.group && r.figure == row.figure)
        {
            r = row;
            return;
        }
    rows().push_back(row);
}

void bench::printSummary()
{
    std::lock_guard<std::mutex> guard(theRowsLock);
    // By group, each in the order its benchmarks ran.
    std::stable_sort(rows().begin(), rows().end(), [](const Row &a, const Row &b) { return a.group < b.group; });
    std::printf("\n%-10s %-44s %12s %12s %-10s %-28s %7s %7s %s\n", "group", "figure", "value", "reference", "unit",
                "reference is", "ratio", "aim", "");
    for (const Row &r : rows())
    {
        char aim[16] = "-";
        if (r.aim > 0.0)
            std::snprintf(aim, sizeof aim, "%s%.2f", r.aimIsMinimum ? ">=" : "<=", r.aim);
        std::printf("%-10s %-44s %12.4g %12.4g %-10s %-28s %7.3f %7s %s\n", r.group.c_str(), r.figure.c_str(), r.value,
                    r.reference, r.unit.c_str(), r.referenceName.c_str(), r.ratio, aim, verdict(r));
    }
}

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    printLoad("start");
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    bench::printSummary();
    printLoad("end");
    return 0;
}
