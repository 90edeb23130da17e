// bench_lzx: ravelin-cab n -m lzx beside gcab -c -z on the same ~20 MB of
// real files as bench_cabinet (binaries from /usr/bin, text from
// /usr/share/doc and /usr/include): median wall and CPU time of several runs
// and the cabinet sizes; every cabinet is checked with cabextract -t. Then
// the peak memory (max RSS) of ravelin-cab n -m lzx:21 on a 1 GB input.
//
// usage: bench_lzx [--mb N] [--runs N] [--method M] [--big-mb N] [--no-big]
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

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

} // namespace

int main(int argc, char** argv)
{
    uint64_t megabytes = 20, bigMegabytes = 1024;
    int runs = 5;
    bool big = true;
    std::string method = "lzx";
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--mb") && i + 1 < argc)
            megabytes = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--method") && i + 1 < argc)
            method = argv[++i];
        else if (!std::strcmp(argv[i], "--big-mb") && i + 1 < argc)
            bigMegabytes = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--no-big"))
            big = false;
        else {
            std::fprintf(stderr,
                         "usage: bench_lzx [--mb N] [--runs N] [--method M] [--big-mb N] [--no-big]\n");
            return 2;
        }
    }
    const char* tmp = std::getenv("TMPDIR");
    const fs::path work = fs::path(tmp && *tmp ? tmp : "/tmp") / ("bench_lzx." + std::to_string(getpid()));
    fs::create_directories(work / "in");

    const std::vector<std::string> names = bench::copyCorpus(megabytes, work / "in");

    std::vector<std::string> ours{RAVELIN_CAB, "n", "-m", method, (work / "ours.cab").string()};
    std::vector<std::string> gcab{"gcab", "-c", "-z", (work / "gcab.cab").string()};
    for (const std::string& n : names) {
        ours.push_back(n);
        gcab.push_back(n);
    }
    std::vector<double> wallOurs, wallGcab, cpuOurs, cpuGcab;
    long rssOurs = 0;
    for (int round = 0; round < runs; ++round) {
        const RunResult o = run(ours, work / "in");
        const RunResult g = run(gcab, work / "in");
        if (o.status != 0 || g.status != 0) {
            std::fprintf(stderr, "a build failed (ravelin-cab %d, gcab %d)\n", o.status, g.status);
            return 1;
        }
        wallOurs.push_back(o.seconds);
        wallGcab.push_back(g.seconds);
        cpuOurs.push_back(o.cpuSeconds);
        cpuGcab.push_back(g.cpuSeconds);
        rssOurs = std::max(rssOurs, o.maxRssKb);
    }
    const RunResult check = run({"cabextract", "-q", "-t", (work / "ours.cab").string()}, work, true);
    const long sizeOurs = sizeOf(work / "ours.cab"), sizeGcab = sizeOf(work / "gcab.cab");
    double load[1] = {0};
    getloadavg(load, 1);
    const double wo = median(wallOurs), wg = median(wallGcab), co = median(cpuOurs), cg = median(cpuGcab);
    std::printf("\nmedians of %d runs; %ld processors, load average %.1f at the end\n", runs,
                sysconf(_SC_NPROCESSORS_ONLN), load[0]);
    std::printf("%-26s %10s %10s %14s\n", "", "wall s", "cpu s", "cabinet bytes");
    std::printf("%-26s %10.3f %10.3f %14ld   (max RSS %.1f MB)\n", ("ravelin-cab n -m " + method).c_str(), wo,
                co, sizeOurs, rssOurs / 1024.0);
    std::printf("%-26s %10.3f %10.3f %14ld\n", "gcab -c -z", wg, cg, sizeGcab);
    std::printf("%-26s %9.2fx %9.2fx %13.3fx   (goals: wall <= 3x, size <= 0.72x)\n", "ravelin / gcab",
                wo / wg, co / cg, double(sizeOurs) / double(sizeGcab));
    std::printf("cabextract -t on ravelin's cabinet: %s\n", check.status == 0 ? "OK" : "FAILED");

    int rc = check.status == 0 ? 0 : 1;
    if (big) {
        const fs::path bigFile = work / "big.bin";
        bench::writeMixedInput(bigFile, bigMegabytes, work / "in", names);
        const RunResult b =
            run({RAVELIN_CAB, "n", "-m", "lzx:21", (work / "big.cab").string(), bigFile.string()}, work);
        std::printf("\n%llu MB input: ravelin-cab n -m lzx:21 %s in %.1f s (cpu %.1f s), cabinet %ld bytes, "
                    "max RSS %.1f MB (goal < 128 MB)\n",
                    static_cast<unsigned long long>(bigMegabytes), b.status == 0 ? "ok" : "FAILED", b.seconds,
                    b.cpuSeconds, sizeOf(work / "big.cab"), b.maxRssKb / 1024.0);
        if (b.status != 0 || b.maxRssKb >= 128 * 1024)
            rc = 1;
    }
    fs::remove_all(work);
    return rc;
}
