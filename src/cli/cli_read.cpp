// ravelin-cab l / x / t: list, extract and test cabinets, whether a file is
// a cabinet, holds one after other bytes (a self-extracting executable) or
// begins a cabinet set. Paths and stored names stay the bytes they are;
// whatever reaches the terminal is escaped.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fnmatch.h>
#include <string>

#include "cabinet/reader/cabreader.h"
#include "cli/command.h"
#include "platform/fileinfo.h"
#include "platform/io.h"

namespace ravelin::cli {

namespace {

std::string attributeText(uint16_t a)
{
    std::string t;
    t += (a & 0x01) ? 'r' : '-';
    t += (a & 0x02) ? 'h' : '-';
    t += (a & 0x04) ? 's' : '-';
    t += (a & 0x20) ? 'a' : '-';
    t += (a & 0x40) ? 'x' : '-';
    return t;
}

// A stored name as l prints it and x -F matches it: "/" between folders.
std::string slashed(std::string name)
{
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

// "none", "MSZIP", "Quantum:N" or "LZX:N" (N: the window bits or level).
std::string methodText(uint16_t compression)
{
    const int level = (compression >> 8) & 0x1f;
    switch (compression & 0x0f) {
    case 0:
        return "none";
    case 1:
        return "MSZIP";
    case 2:
        return "Quantum:" + std::to_string(level);
    case 3:
        return "LZX:" + std::to_string(level);
    default:
        return "unknown method " + std::to_string(compression & 0x0f);
    }
}

std::string counted(unsigned long long n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// "4 files, 2 folders (none, MSZIP x3), 102508 bytes in 3 cabinets": the
// folders' methods in order, a run of one method as "METHOD xN".
std::string summary(const cabreader::Cabinet& cabinet)
{
    unsigned long long bytes = 0;
    for (const cabreader::Entry& e : cabinet.entries())
        bytes += e.size;
    std::string text = counted(cabinet.entries().size(), "file", "files") + ", " +
                       counted(cabinet.folders().size(), "folder", "folders");
    std::string methods;
    const auto& folders = cabinet.folders();
    for (std::size_t i = 0; i < folders.size();) {
        std::size_t run = 1;
        while (i + run < folders.size() && folders[i + run].compression == folders[i].compression)
            ++run;
        methods += (methods.empty() ? "" : ", ") + methodText(folders[i].compression);
        if (run > 1)
            methods += " x" + std::to_string(run);
        i += run;
    }
    if (!methods.empty())
        text += " (" + methods + ")";
    text += ", " + counted(bytes, "byte", "bytes");
    if (cabinet.cabinetPaths().size() > 1)
        text += " in " + std::to_string(cabinet.cabinetPaths().size()) + " cabinets";
    return text;
}

int runList(const Args& args)
{
    Parsed parsed;
    if (const int rc = parseArguments("l", args, &parsed); rc >= 0)
        return rc;
    if (parsed.operands.size() != 1)
        return usage("l");
    cabreader::Cabinet cabinet;
    std::string why;
    if (!cabinet.open(parsed.operands[0], &why)) {
        error(why);
        return kExitFailure;
    }
    for (const cabreader::Entry& e : cabinet.entries()) {
        const platform::CivilTime t = platform::fromDosDateTime({e.dosDate, e.dosTime});
        // One stored name is one line, whatever bytes it holds.
        std::printf("%10u  %04d-%02d-%02d %02d:%02d:%02d  %s  %s\n", e.size, t.year, t.month, t.day, t.hour,
                    t.minute, t.second, attributeText(e.attributes).c_str(),
                    escaped(slashed(e.name)).c_str());
    }
    std::printf("%s\n", summary(cabinet).c_str());
    if (std::fflush(stdout) != 0) {
        error("cannot write the list to standard output: " + io::reasonText(errno));
        return kExitFailure;
    }
    return kExitOk;
}

int runExtract(const Args& args)
{
    Parsed parsed;
    if (const int rc = parseArguments("x", args, &parsed); rc >= 0)
        return rc;
    if (parsed.operands.empty() || parsed.operands.size() > 2)
        return usage("x");
    const std::string& path = parsed.operands[0];
    const std::string dir = parsed.operands.size() == 2 ? parsed.operands[1] : std::string(".");
    const std::vector<std::string> patterns = parsed.values("filter");

    cabreader::Cabinet cabinet;
    std::string why;
    if (!cabinet.open(path, &why)) {
        error(why);
        return kExitFailure;
    }
    int status = kExitOk;
    std::vector<std::size_t> selection;
    std::vector<bool> matched(patterns.size(), false);
    for (std::size_t i = 0; i < cabinet.entries().size(); ++i) {
        const std::string name = slashed(cabinet.entries()[i].name);
        bool wanted = patterns.empty();
        for (std::size_t p = 0; p < patterns.size(); ++p) {
            if (::fnmatch(patterns[p].c_str(), name.c_str(), 0) == 0) {
                matched[p] = true;
                wanted = true;
            }
        }
        if (wanted)
            selection.push_back(i);
    }
    for (std::size_t p = 0; p < patterns.size(); ++p) {
        if (!matched[p]) {
            error("no file in " + path + " matches " + patterns[p]);
            status = kExitFailure;
        }
    }
    if (!patterns.empty() && selection.empty())
        return status;

    cabreader::ExtractOptions options;
    options.replace = parsed.has("overwrite");
    options.restoreDates = true;
    options.readOnly = true;
    cabreader::ExtractReport report;
    const bool ok = cabinet.extractBelow(dir, selection, options, &report, &why);
    for (const std::string& kept : report.kept) {
        error("not overwriting " + kept + " (--overwrite replaces it): " + io::reasonText(EEXIST));
        status = kExitFailure;
    }
    if (!ok) {
        error(why);
        return kExitFailure;
    }
    return status;
}

int runTest(const Args& args)
{
    Parsed parsed;
    if (const int rc = parseArguments("t", args, &parsed); rc >= 0)
        return rc;
    if (parsed.operands.size() != 1)
        return usage("t");
    const std::string& path = parsed.operands[0];
    std::string why;
    cabreader::Cabinet cabinet;
    if (!cabinet.open(path, &why) || !cabinet.test(&why)) {
        error(why);
        return kExitFailure;
    }
    std::printf("%s: %zu files OK\n", escaped(path).c_str(), cabinet.entries().size());
    return kExitOk;
}

const Registration listCommand({
    "l",
    "l CABINET",
    "list the files of CABINET, with the rest of its set, one a line: size, date, time, attributes (rhsax) "
    "and "
    "stored name with / between folders; then a line with the number of files and folders, each folder's "
    "compression method and the total size. CABINET may also be a file that holds a cabinet after other "
    "bytes, such as a self-extracting executable",
    runList,
});

const Registration extractCommand({
    "x",
    "x [-F PATTERN]... [--overwrite] CABINET [DIR]",
    "extract the files of CABINET, with the rest of its set, below DIR (default: the current directory), "
    "each with its stored date and, when stored as read-only, without write permission. A file that "
    "already exists is kept and named in an error (exit status 1) unless --overwrite is given",
    runExtract,
    {
        {"filter", 'F', "PATTERN",
         "extract only the files whose stored name, written with / between folders "
         "as l prints it, matches the shell PATTERN; may be given again (a file "
         "that matches any is extracted)"},
        {"overwrite", 0, nullptr, "replace files that already exist"},
    },
});

const Registration testCommand({
    "t",
    "t CABINET",
    "decompress every file of CABINET, with the rest of its set, and check every checksum and length",
    runTest,
});

} // namespace

} // namespace ravelin::cli
