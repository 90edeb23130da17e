// Walks a tree (default /usr) with TFileIterator, all options on (full
// paths, details, recursion), and prints entries per second beside
// `find ROOT -xdev -printf '%s %T@\n'` timed in the same run.
//
// Usage: bench_search [ROOT] [ROUNDS]
// Both walkers are run once untimed to warm the caches, then alternately
// ROUNDS times (default 3); the best round of each is reported.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QCoreApplication>
#include <QFile>
#include <QString>

#include "tools/fileiterator/fileiterator.h"

using Clock = std::chrono::steady_clock;
using ravelin::tools::TFileInfo;
using ravelin::tools::TFileIterator;

namespace {

std::string shellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

// Runs a shell command and counts the lines it prints.
long long countLines(const std::string& command)
{
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        std::perror("popen");
        std::exit(1);
    }
    static char buffer[1 << 16];
    long long lines = 0;
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        for (size_t i = 0; i < got; ++i)
            lines += buffer[i] == '\n';
    ::pclose(pipe);
    return lines;
}

struct Round {
    long long entries = 0;
    double seconds = 0;
};

Round timeFind(const std::string& root)
{
    const auto start = Clock::now();
    Round r;
    r.entries = countLines("find " + shellQuote(root) + " -xdev -printf '%s %T@\\n' 2>/dev/null");
    r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return r;
}

Round timeIterator(const QString& root, long long* files, long long* bytes)
{
    TFileIterator iterator;
    iterator.SetRootFolder(QFile::encodeName(root));
    long long count = 0;
    long long total = 0;
    iterator.OnAddFile = [&](TFileIterator*, const QByteArray& name, const TFileInfo& info) {
        count += !name.isEmpty();
        total += info.Size + (info.Time & 1);
    };
    const auto start = Clock::now();
    iterator.Execute();
    Round r;
    r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    r.entries = count;
    *files = count;
    *bytes = total;
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::string root = argc > 1 ? argv[1] : "/usr";
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const QString qroot = QString::fromLocal8Bit(root.c_str());

    // find prints folders too; the iterator reports files and enters folders
    // without reporting them. Count the folders once (untimed) so both rates
    // are per directory entry visited.
    const long long folders =
        countLines("find " + shellQuote(root) + " -xdev -type d 2>/dev/null") - 1; // not the root

    long long files = 0, bytes = 0;
    timeFind(root);
    timeIterator(qroot, &files, &bytes);

    Round bestFind, bestOurs;
    for (int i = 0; i < rounds; ++i) {
        const Round f = timeFind(root);
        if (i == 0 || f.seconds < bestFind.seconds)
            bestFind = f;
        const Round o = timeIterator(qroot, &files, &bytes);
        if (i == 0 || o.seconds < bestOurs.seconds)
            bestOurs = o;
    }
    const long long ourEntries = bestOurs.entries + folders;
    const double findRate = bestFind.entries / bestFind.seconds;
    const double ourRate = ourEntries / bestOurs.seconds;
    std::printf("root %s, best of %d rounds (warm cache)\n", root.c_str(), rounds);
    std::printf("find -xdev -printf '%%s %%T@\\n': %lld entries in %.3f s = %.0f entries/s\n",
                bestFind.entries, bestFind.seconds, findRate);
    std::printf("TFileIterator (fiPath|fiDetails|fiRecurseFolders): %lld files + %lld folders in "
                "%.3f s = %.0f entries/s (%lld bytes)\n",
                bestOurs.entries, folders, bestOurs.seconds, ourRate, bytes);
    std::printf("ratio TFileIterator / find: %.2f\n", ourRate / findRate);
    return 0;
}
