// ravelin-cab n: build a cabinet.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cabinet/sfx/sfxjoin.h"
#include "cabinet/writer/cabwriter.h"
#include "cli/command.h"
#include "platform/io.h"

namespace ravelin::cli {

namespace {

// A progress bar on standard error, drawn only when it is a terminal.
struct Progress {
    bool enabled = false;
    uint64_t total = 0;
    uint64_t done = 0;
    int shown = -1;

    void draw()
    {
        if (!enabled || total == 0)
            return;
        const int percent = int(done * 100 / total);
        if (percent == shown)
            return;
        shown = percent;
        constexpr int kWidth = 40;
        char bar[kWidth + 1];
        const int filled = percent * kWidth / 100;
        for (int i = 0; i < kWidth; ++i)
            bar[i] = i < filled ? '#' : ' ';
        bar[kWidth] = 0;
        std::fprintf(stderr, "\r[%s] %3d%%", bar, percent);
        std::fflush(stderr);
    }
    void finish()
    {
        if (enabled && shown >= 0)
            std::fprintf(stderr, "\r%*s\r", 48, "");
    }
};

// What "n" was asked to do.
struct NewOptions {
    std::string cabinet;
    std::vector<std::string> inputs; // FILE operands and --files-from entries, in order
    std::string extractor;   // --sfx: join this extractor and the cabinet into CABINET's name + ".exe"
    bool recursive = false;  // -r
    bool fullPaths = false;  // -p (or -P)
    std::string stripPrefix; // -P
    bool quiet = false;      // -q
    bool verbose = false;    // -v
    cabwriter::Parameters parameters;
};

// One file to add: where it is and the name it is stored under.
struct Entry {
    std::string source;
    std::string stored;
};

// The compression type word for -m: "none", "mszip", "lzx" or "lzx:N"
// (N = 15..21 window bits; bare "lzx" is 21). False for anything else.
bool compressionType(const std::string& text, uint16_t* type)
{
    if (text == "none") {
        *type = fci::kCompressNone;
        return true;
    }
    if (text == "mszip") {
        *type = fci::kCompressMszip;
        return true;
    }
    int window = 21;
    if (text.rfind("lzx", 0) != 0)
        return false;
    if (text.size() > 3) {
        if (text[3] != ':' || text.size() != 6 || text[4] < '0' || text[4] > '9' || text[5] < '0' ||
            text[5] > '9')
            return false;
        window = (text[4] - '0') * 10 + (text[5] - '0');
    }
    if (window < 15 || window > 21)
        return false;
    *type = uint16_t(3 | (window << 8));
    return true;
}

// Reads --files-from: one path a line, or NUL-separated with --null. Empty
// entries are skipped; a line's "\n" is not part of the path.
bool readFileList(const std::string& from, bool nulSeparated, std::vector<std::string>* out)
{
    io::Fd owned;
    int fd = STDIN_FILENO;
    if (from != "-") {
        int err = 0;
        owned = io::openForReading(from, &err);
        if (!owned) {
            error("cannot read the file list " + io::describe(from, err));
            return false;
        }
        fd = owned.get();
    }
    std::string data;
    char buffer[65536];
    for (;;) {
        const ssize_t n = io::readAll(fd, buffer, sizeof buffer);
        if (n < 0) {
            error("cannot read the file list " + io::describe(from, errno));
            return false;
        }
        data.append(buffer, std::size_t(n));
        if (std::size_t(n) < sizeof buffer)
            break;
    }
    const char separator = nulSeparated ? '\0' : '\n';
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = data.find(separator, start);
        if (end == std::string::npos)
            end = data.size();
        if (end > start)
            out->push_back(data.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

int parseNew(const Args& args, NewOptions* options)
{
    Parsed parsed;
    if (const int rc = parseArguments("n", args, &parsed); rc >= 0)
        return rc;
    if (parsed.operands.size() < 1 || (parsed.operands.size() < 2 && !parsed.has("files-from")))
        return usage("n");
    options->cabinet = parsed.operands.front();
    options->inputs.assign(parsed.operands.begin() + 1, parsed.operands.end());
    options->extractor = parsed.value("sfx");
    if (parsed.has("sfx") && options->extractor.empty())
        return usage("n");
    options->recursive = parsed.has("recursive");
    options->stripPrefix = parsed.value("strip-prefix");
    options->fullPaths = parsed.has("full-path") || parsed.has("strip-prefix");
    options->quiet = parsed.has("quiet");
    options->verbose = parsed.has("verbose") && !options->quiet;
    if (parsed.has("compression") &&
        !compressionType(parsed.value("compression"), &options->parameters.compression)) {
        error("n: unknown compression " + parsed.value("compression") + " (none, mszip, lzx or lzx:15..21)");
        return usage("n");
    }
    if (parsed.has("set-id")) {
        const std::string id = parsed.value("set-id");
        char* end = nullptr;
        errno = 0;
        const long v = std::strtol(id.c_str(), &end, 10);
        if (id.empty() || *end || errno || v < 0 || v > 65535) {
            error("n: the set ID must be a number from 0 to 65535, not " + id);
            return usage("n");
        }
        options->parameters.setId = uint16_t(v);
    }
    for (const std::string& list : parsed.values("files-from"))
        if (!readFileList(list, parsed.has("null"), &options->inputs))
            return kExitFailure;
    if (options->inputs.empty())
        return usage("n");
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) {
        char* end = nullptr;
        errno = 0;
        const long long v = std::strtoll(epoch, &end, 10);
        if (*end || errno || v < 0) {
            error(std::string("SOURCE_DATE_EPOCH is not a number of seconds: ") + epoch);
            return kExitFailure;
        }
        options->parameters.sourceDateEpoch = std::time_t(v);
    }
    return -1;
}

// The name a path is stored under with -p: relative, "\" between folders,
// a leading "/" and "." components dropped. Empty when it has a ".."
// component or nothing is left.
std::string storedPath(std::string path, const std::string& stripPrefix)
{
    if (!stripPrefix.empty() && path.rfind(stripPrefix, 0) == 0)
        path.erase(0, stripPrefix.size());
    std::string stored;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            return {};
        if (!stored.empty())
            stored += '\\';
        stored += part;
    }
    return stored;
}

// Adds `path` (a file, or with -r a folder walked in name-byte order, hidden
// files included, links not followed, never leaving `device`) to `entries`.
// False after naming a path that cannot be taken.
bool collect(const std::string& path, const NewOptions& options, dev_t device, bool top,
             std::vector<Entry>* entries)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (top) {
            // A missing operand is reported when it is added, as before.
            entries->push_back(
                {path, options.fullPaths ? storedPath(path, options.stripPrefix) : io::namePart(path)});
            return true;
        }
        error("cannot read " + io::describe(path, errno));
        return false;
    }
    if (S_ISLNK(st.st_mode) && top && ::stat(path.c_str(), &st) != 0) {
        entries->push_back(
            {path, options.fullPaths ? storedPath(path, options.stripPrefix) : io::namePart(path)});
        return true;
    }
    if (S_ISDIR(st.st_mode)) {
        if (!options.recursive) {
            error("cannot add " + path + ": is a folder (use -r to add what it holds)");
            return false;
        }
        if (!top && st.st_dev != device)
            return true; // another volume: not entered
        DIR* dir = ::opendir(path.c_str());
        if (!dir) {
            error("cannot read the folder " + io::describe(path, errno));
            return false;
        }
        std::vector<std::string> names;
        while (const dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
        std::sort(names.begin(), names.end());
        bool ok = true;
        const std::string prefix = path.empty() || path.back() == '/' ? path : path + "/";
        for (const std::string& name : names)
            ok = collect(prefix + name, options, top ? st.st_dev : device, false, entries) && ok;
        return ok;
    }
    if (S_ISLNK(st.st_mode)) {
        if (options.verbose)
            std::fprintf(stderr, "ravelin-cab: %s: a link, not followed\n", escaped(path).c_str());
        return true;
    }
    if (options.fullPaths) {
        const std::string stored = storedPath(path, options.stripPrefix);
        if (stored.empty()) {
            error("cannot add " + path + ": a stored path may not climb out with \"..\" or be empty");
            return false;
        }
        entries->push_back({path, stored});
    } else {
        entries->push_back({path, io::namePart(path)});
    }
    return true;
}

int runNew(const Args& args)
{
    NewOptions options;
    if (const int rc = parseNew(args, &options); rc >= 0)
        return rc;

    const std::string name = io::namePart(options.cabinet);
    if (name.empty() || name == "." || name == "..") {
        error(options.cabinet + ": not a file name");
        return kExitFailure;
    }

    int status = kExitOk;
    std::vector<Entry> entries;
    for (const std::string& input : options.inputs)
        if (!collect(input, options, 0, true, &entries))
            status = kExitFailure;

    // No output may be one of the inputs: checked before anything is written.
    const std::string exe = io::changeExtension(options.cabinet, ".exe");
    const io::OutputSet outputs(options.extractor.empty() ? std::vector<std::string>{options.cabinet}
                                                          : std::vector<std::string>{options.cabinet, exe});
    const auto refuseIfOutput = [&](const std::string& input) {
        const int which = outputs.find(input);
        if (which == 0)
            error(input + ": is the cabinet being written; an input cannot be its output");
        else if (which == 1)
            error(input + ": is the self-extracting file being written; an input cannot be its output");
        return which >= 0;
    };
    for (const Entry& e : entries)
        if (refuseIfOutput(e.source))
            return kExitFailure;
    if (!options.extractor.empty() && refuseIfOutput(options.extractor))
        return kExitFailure;

    // A name stored twice still goes in twice (as the window does), but a
    // script should hear of it.
    {
        std::vector<std::string> names;
        for (const Entry& e : entries)
            names.push_back(e.stored);
        std::sort(names.begin(), names.end());
        for (std::size_t i = 1; i < names.size(); ++i)
            if (names[i] == names[i - 1] && (i < 2 || names[i - 2] != names[i]) && !options.quiet)
                std::fprintf(stderr, "ravelin-cab: warning: %s is stored more than once\n",
                             escaped(names[i]).c_str());
    }

    Progress progress;
    progress.enabled = !options.quiet && !options.verbose && ::isatty(STDERR_FILENO) == 1;
    for (const Entry& e : entries) {
        struct stat st {};
        if (::stat(e.source.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            progress.total += uint64_t(st.st_size);
    }

    // Written beside CABINET and renamed over it when complete, so a failed
    // or stopped build leaves an earlier cabinet as it was.
    cabwriter::CabinetWriter writer;
    writer.setProgress([&progress](const cabwriter::Progress& p) {
        if (p.kind == cabwriter::Progress::BlockWritten) {
            progress.done += p.bytes;
            progress.draw();
        }
    });
    const cabwriter::Result opened = writer.open(options.cabinet, options.parameters);
    if (!opened.ok()) {
        error("cannot create " + options.cabinet + ": " + opened.reason());
        return kExitFailure;
    }
    for (const Entry& e : entries) {
        const cabwriter::Result added = writer.add(e.source, e.stored);
        if (!added.ok()) {
            progress.finish();
            error("cannot add " + e.source + ": " + added.reason());
            status = kExitFailure;
        } else if (options.verbose) {
            struct stat st {};
            ::stat(e.source.c_str(), &st);
            std::printf("%10lld  %s\n", static_cast<long long>(st.st_size), escaped(e.stored).c_str());
        }
    }
    const cabwriter::Result closed = writer.close();
    progress.finish();
    if (!closed.ok()) {
        error("cannot write " + options.cabinet + ": " + closed.reason());
        return kExitFailure;
    }
    if (status == kExitOk && !options.extractor.empty()) {
        // Extractor bytes, then the cabinet's; the cabinet goes only after a good copy.
        const sfx::SfxResult joined = sfx::joinSelfExtracting(options.extractor, options.cabinet, exe);
        if (!joined.ok()) {
            const std::string& culprit =
                joined.failed == sfx::SfxStep::OpenExtractor || joined.failed == sfx::SfxStep::ReadExtractor
                    ? options.extractor
                : joined.failed == sfx::SfxStep::OpenCabinet || joined.failed == sfx::SfxStep::ReadCabinet
                    ? options.cabinet
                    : exe;
            error("cannot make " + exe + ": " + sfx::stepName(joined.failed) + " " + culprit + ": " +
                  io::reasonText(joined.error) + "; " + options.cabinet + " is kept");
            status = kExitFailure;
        }
    }
    return status;
}

const Registration newCommand({
    "n",
    "n [OPTIONS] CABINET FILE...",
    "write CABINET (MSZIP unless -m says otherwise) holding the FILEs in the order given, under their bare "
    "names (with -p, their paths); with --sfx, join EXTRACTOR and it into CABINET's name with .exe instead. "
    "With SOURCE_DATE_EPOCH set, later file dates are clamped to it and all dates are taken in UTC",
    runNew,
    {
        {"recursive", 'r', nullptr,
         "add what folders hold: sorted by name, hidden files included, links not "
         "followed, staying on the folder's volume"},
        {"full-path", 'p', nullptr,
         "store each path as given, relative, with \\ between folders (a leading / "
         "and . dropped; .. refused)"},
        {"strip-prefix", 'P', "PREFIX", "strip PREFIX from the stored paths (implies -p)"},
        {"files-from", 'T', "LIST", "also add the paths in LIST, one a line (- for standard input)"},
        {"null", '0', nullptr, "the paths in LIST are separated by NUL bytes instead"},
        {"compression", 'm', "METHOD", "none, mszip (the default), lzx or lzx:15..21 (window bits)"},
        {"set-id", 'i', "ID", "the cabinet set ID, 0 to 65535 (default 12345)"},
        {"sfx", 0, "EXTRACTOR", "make CABINET's name with .exe: EXTRACTOR's bytes, then the cabinet's"},
        {"quiet", 'q', nullptr, "print nothing but errors"},
        {"verbose", 'v', nullptr, "print each file as it goes in, with its size"},
    },
});

} // namespace

} // namespace ravelin::cli
