#pragma once
// What the benchmarks share: running a command as a whole process with its
// wall time, CPU time and peak memory, and choosing the input files.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace bench {

namespace fs = std::filesystem;

struct RunResult {
    int status = -1;
    double seconds = 0;
    long maxRssKb = 0;
    double cpuSeconds = 0; // user + system
};

inline RunResult run(const std::vector<std::string>& argv, const fs::path& cwd, bool quiet = false)
{
    RunResult r;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0)
            _exit(127);
        if (quiet && !freopen("/dev/null", "w", stdout))
            _exit(127);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.maxRssKb = ru.ru_maxrss;
    r.cpuSeconds = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                   double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    return r;
}

// Regular files (no links) below `root`, in name order, until `budget`
// bytes; files over `maxFile` bytes are passed over.
inline void collect(const fs::path& root, uint64_t budget, uint64_t maxFile, std::vector<fs::path>* out,
                    uint64_t* total)
{
    std::vector<fs::path> all;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        if (it->is_symlink(ec) || !it->is_regular_file(ec))
            continue;
        const uint64_t size = it->file_size(ec);
        if (!ec && size > 0 && size <= maxFile)
            all.push_back(it->path());
    }
    std::sort(all.begin(), all.end());
    uint64_t used = 0;
    for (const fs::path& p : all) {
        const uint64_t size = fs::file_size(p, ec);
        if (used + size > budget)
            continue;
        out->push_back(p);
        used += size;
    }
    *total += used;
}

inline long sizeOf(const fs::path& p)
{
    std::error_code ec;
    const auto s = fs::file_size(p, ec);
    return ec ? -1 : long(s);
}

// Copies about `megabytes` MB of real files into `folder`: half binaries from
// /usr/bin, half text from /usr/share/doc and /usr/include, flat under unique
// names ("00042_name") so every tool compared gets the very same files and
// names. Prints what it took; returns the names in order.
inline std::vector<std::string> copyCorpus(uint64_t megabytes, const fs::path& folder)
{
    std::vector<fs::path> sources;
    uint64_t total = 0;
    const uint64_t half = megabytes * 1024 * 1024 / 2;
    collect("/usr/bin", half, 4 * 1024 * 1024, &sources, &total);
    collect("/usr/share/doc", half / 2, 1024 * 1024, &sources, &total);
    collect("/usr/include", half / 2, 1024 * 1024, &sources, &total);
    std::vector<std::string> names;
    for (size_t i = 0; i < sources.size(); ++i) {
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "%05zu_", i);
        names.push_back(prefix + sources[i].filename().string());
        fs::copy_file(sources[i], folder / names.back(), fs::copy_options::overwrite_existing);
    }
    std::printf("input: %zu files, %.1f MB from /usr/bin, /usr/share/doc, /usr/include\n", names.size(),
                double(total) / 1e6);
    return names;
}

// Writes `megabytes` MB of mixed data to `path`: the files `names` below
// `folder` repeated, with every 8th MB random, so that it neither compresses
// to nothing nor stays stored throughout.
inline void writeMixedInput(const fs::path& path, uint64_t megabytes, const fs::path& folder,
                            const std::vector<std::string>& names)
{
    std::ofstream out(path, std::ios::binary);
    std::vector<char> chunk(1024 * 1024);
    std::mt19937 gen(42);
    size_t next = 0;
    std::ifstream in;
    for (uint64_t mb = 0; mb < megabytes; ++mb) {
        if (mb % 8 == 7) {
            for (char& c : chunk)
                c = char(gen());
        } else {
            size_t got = 0;
            while (got < chunk.size()) {
                if (!in.is_open() || in.eof()) {
                    in.close();
                    in.clear();
                    in.open(folder / names[next++ % names.size()], std::ios::binary);
                }
                in.read(chunk.data() + got, std::streamsize(chunk.size() - got));
                got += size_t(in.gcount());
            }
        }
        out.write(chunk.data(), std::streamsize(chunk.size()));
    }
}

} // namespace bench
