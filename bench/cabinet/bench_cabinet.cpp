// bench_cabinet: ravelin-cab n beside gcab -c -z on the same ~20 MB of real
// files from /usr (binaries and text): wall and CPU time (medians) and cabinet
// size; then the peak memory (max RSS) of ravelin-cab n on a 1 GB input.
//
// usage: bench_cabinet [--mb N] [--big-mb N] [--no-big]
// Needs gcab and cabextract on PATH; works in $TMPDIR (or /tmp).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "common/benchrun.h"

namespace fs = std::filesystem;
using bench::run;
using bench::RunResult;
using bench::sizeOf;

int main(int argc, char** argv)
{
    uint64_t megabytes = 20, bigMegabytes = 1024;
    bool big = true;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--mb") && i + 1 < argc)
            megabytes = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--big-mb") && i + 1 < argc)
            bigMegabytes = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--no-big"))
            big = false;
        else {
            std::fprintf(stderr, "usage: bench_cabinet [--mb N] [--big-mb N] [--no-big]\n");
            return 2;
        }
    }
    const char* tmp = std::getenv("TMPDIR");
    const fs::path work =
        fs::path(tmp && *tmp ? tmp : "/tmp") / ("bench_cabinet." + std::to_string(getpid()));
    fs::create_directories(work / "in");

    const std::vector<std::string> names = bench::copyCorpus(megabytes, work / "in");

    std::vector<std::string> ours{RAVELIN_CAB, "n", (work / "ours.cab").string()};
    std::vector<std::string> gcab{"gcab", "-c", "-z", (work / "gcab.cab").string()};
    for (const std::string& n : names) {
        ours.push_back(n);
        gcab.push_back(n);
    }
    // Medians of kRounds runs, the two tools taking turns.
    constexpr int kRounds = 7;
    std::vector<double> wallOurs, wallGcab, cpuOursRuns, cpuGcabRuns;
    long rssOurs = 0, rssGcab = 0;
    for (int round = 0; round < kRounds; ++round) {
        const RunResult o = run(ours, work / "in");
        const RunResult g = run(gcab, work / "in");
        if (o.status != 0 || g.status != 0) {
            std::fprintf(stderr, "a build failed (ravelin-cab %d, gcab %d)\n", o.status, g.status);
            return 1;
        }
        wallOurs.push_back(o.seconds);
        wallGcab.push_back(g.seconds);
        cpuOursRuns.push_back(o.cpuSeconds);
        cpuGcabRuns.push_back(g.cpuSeconds);
        rssOurs = std::max(rssOurs, o.maxRssKb);
        rssGcab = std::max(rssGcab, g.maxRssKb);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double bestOurs = median(wallOurs), bestGcab = median(wallGcab);
    const double cpuOurs = median(cpuOursRuns), cpuGcab = median(cpuGcabRuns);
    const RunResult check = run({"cabextract", "-q", "-t", (work / "ours.cab").string()}, work, true);
    const long sizeOurs = sizeOf(work / "ours.cab"), sizeGcab = sizeOf(work / "gcab.cab");
    double load[1] = {0};
    getloadavg(load, 1);
    std::printf("\nmedians of %d rounds; %ld processors, load average %.1f\n", kRounds,
                sysconf(_SC_NPROCESSORS_ONLN), load[0]);
    std::printf("%-22s %10s %10s %14s %10s\n", "", "wall s", "cpu s", "cabinet bytes", "max RSS MB");
    std::printf("%-22s %10.3f %10.3f %14ld %10.1f\n", "ravelin-cab n", bestOurs, cpuOurs, sizeOurs,
                rssOurs / 1024.0);
    std::printf("%-22s %10.3f %10.3f %14ld %10.1f\n", "gcab -c -z", bestGcab, cpuGcab, sizeGcab,
                rssGcab / 1024.0);
    std::printf("%-22s %10.2fx %9.2fx %13.3fx   (goals: wall <= 0.40x, cpu <= 0.60x, size <= 0.95x)\n",
                "ravelin / gcab", bestOurs / bestGcab, cpuOurs / cpuGcab,
                double(sizeOurs) / double(sizeGcab));
    std::printf("cabextract -t on ravelin's cabinet: %s\n", check.status == 0 ? "OK" : "FAILED");

    int rc = check.status == 0 ? 0 : 1;
    if (big) {
        const fs::path bigFile = work / "big.bin";
        bench::writeMixedInput(bigFile, bigMegabytes, work / "in", names);
        const RunResult b = run({RAVELIN_CAB, "n", (work / "big.cab").string(), bigFile.string()}, work);
        std::printf("\n1 GB input (%llu MB): ravelin-cab n %s in %.1f s, cabinet %ld bytes, max RSS %.1f MB "
                    "(goal < 64 MB)\n",
                    static_cast<unsigned long long>(bigMegabytes), b.status == 0 ? "ok" : "FAILED", b.seconds,
                    sizeOf(work / "big.cab"), b.maxRssKb / 1024.0);
        if (b.status != 0 || b.maxRssKb >= 64 * 1024)
            rc = 1;
    }
    fs::remove_all(work);
    return rc;
}
