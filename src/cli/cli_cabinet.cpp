// ravelin-cab n: build a cabinet.
#include <cerrno>
#include <cstdio>
#include <cstring>
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

// Options of "n" come before the cabinet name; more can be added here.
struct NewOptions {
    std::string cabinet;
    std::vector<std::string> files;
    std::string extractor;  // --sfx: join this extractor and the cabinet into CABINET's name + ".exe"
};

// Returns 0 when parsed, else the exit status to end with.
int parseNew(const Args& args, NewOptions* options)
{
    std::size_t i = 0;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (a.rfind("--", 0) != 0 || a.size() == 2)
            break;
        if (a == "--sfx" && i + 1 < args.size() && !args[i + 1].empty()) {
            options->extractor = args[++i];
            continue;
        }
        if (a.rfind("--sfx=", 0) == 0 && a.size() > 6) {
            options->extractor = a.substr(6);
            continue;
        }
        error("n: unknown option " + a);
        return usage("n");
    }
    if (i >= args.size())
        return usage("n");
    options->cabinet = args[i++];
    options->files.assign(args.begin() + std::ptrdiff_t(i), args.end());
    if (options->files.empty())
        return usage("n");
    return 0;
}

// The extension of a byte path changed to `extension` (from the last "."
// after the last "/"; appended when there is none).
std::string withExtension(const std::string& path, const std::string& extension)
{
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        return path.substr(0, dot) + extension;
    return path + extension;
}

int runNew(const Args& args)
{
    NewOptions options;
    if (const int rc = parseNew(args, &options))
        return rc;

    const std::string name = io::namePart(options.cabinet);
    if (name.empty() || name == "." || name == "..") {
        error(options.cabinet + ": not a file name");
        return kExitFailure;
    }

    // No output may be one of the inputs: checked before anything is written.
    const std::string exe = withExtension(options.cabinet, ".exe");
    const auto refuseIfOutput = [&](const std::string& input) {
        if (io::sameFile(input, options.cabinet)) {
            error(input + ": is the cabinet being written; an input cannot be its output");
            return true;
        }
        if (!options.extractor.empty() && io::sameFile(input, exe)) {
            error(input + ": is the self-extracting file being written; an input cannot be its output");
            return true;
        }
        return false;
    };
    for (const std::string& f : options.files)
        if (refuseIfOutput(f))
            return kExitFailure;
    if (!options.extractor.empty() && refuseIfOutput(options.extractor))
        return kExitFailure;

    Progress progress;
    progress.enabled = ::isatty(STDERR_FILENO) == 1;
    for (const std::string& f : options.files) {
        struct stat st {};
        if (::stat(f.c_str(), &st) == 0 && S_ISREG(st.st_mode))
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
    cabwriter::Parameters parameters;
    const cabwriter::Result opened = writer.open(options.cabinet, parameters);
    if (!opened.ok()) {
        error("cannot create " + options.cabinet + ": " + opened.reason());
        return kExitFailure;
    }
    int status = kExitOk;
    for (const std::string& f : options.files) {
        const cabwriter::Result added = writer.add(f, io::namePart(f));
        if (!added.ok()) {
            progress.finish();
            error("cannot add " + f + ": " + added.reason());
            status = kExitFailure;
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
            const std::string& culprit = joined.failed == sfx::SfxStep::OpenExtractor ||
                                                 joined.failed == sfx::SfxStep::ReadExtractor
                                             ? options.extractor
                                             : joined.failed == sfx::SfxStep::OpenCabinet ||
                                                       joined.failed == sfx::SfxStep::ReadCabinet
                                                   ? options.cabinet
                                                   : exe;
            error("cannot make " + exe + ": " + sfx::stepName(joined.failed) + " " + culprit + ": " +
                  io::reasonText(joined.error) + "; " + options.cabinet + " is kept");
            status = kExitFailure;
        }
    }
    return status;
}

const Registration newCommand({"n", "n [--sfx EXTRACTOR] CABINET FILE...",
                               "write CABINET (MSZIP) holding the FILEs in this order under their bare names; "
                               "with --sfx, join EXTRACTOR and it into CABINET's name with .exe instead",
                               runNew});
}  // namespace

}  // namespace ravelin::cli
