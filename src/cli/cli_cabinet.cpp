// ravelin-cab n: build a cabinet.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cabinet/fci/fci.h"
#include "cabinet/fci/realfiles.h"
#include "cabinet/fci/realopeninfo.h"
#include "cabinet/reader/cabreader.h"
#include "cabinet/sfx/sfxjoin.h"
#include "cli/command.h"
#include "platform/fileinfo.h"
#include "platform/io.h"

namespace ravelin::cli {

namespace {

namespace fci = ravelin::fci;

// Parameters of every cabinet this tool writes: the same as the main window's.
constexpr uint32_t kMaxCabinet = 999'999'999;
constexpr uint32_t kFolderThreshold = 900'000;
constexpr uint16_t kSetId = 12345;

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

long statusCallback(uint32_t kind, uint32_t, uint32_t cb2, void* pv)
{
    auto* progress = static_cast<Progress*>(pv);
    if (kind == fci::kStatusFile) {
        progress->done += cb2;
        progress->draw();
    }
    return 0;
}

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

// The library's reason for a failed call: the system's when it has one.
std::string libraryReason(const fci::ERF& erf)
{
    if (erf.erfType)
        return io::reasonText(erf.erfType);
    return fci::FCIErrorText(erf.erfOper);
}

int runNew(const Args& args)
{
    NewOptions options;
    if (const int rc = parseNew(args, &options))
        return rc;

    const std::string dir = io::directoryPart(options.cabinet);
    const std::string name = io::namePart(options.cabinet);
    if (name.empty() || name == "." || name == "..") {
        error(options.cabinet + ": not a file name");
        return kExitFailure;
    }
    if (dir.size() >= fci::kCabTextSize || name.size() >= fci::kCabTextSize) {
        error(options.cabinet + ": the directory and the file name may have at most 255 bytes each");
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

    // The library opens only files that exist. The cabinet is made under a
    // hidden name beside CABINET and renamed over it when complete, so a
    // failed or stopped build leaves an earlier cabinet as it was.
    io::OutputFile output;
    if (!output.create(options.cabinet) || !output.closeDescriptor()) {
        error("cannot create " + io::describe(options.cabinet, output.error()));
        return kExitFailure;
    }

    fci::ERF erf;
    fci::CCAB ccab;
    ccab.cb = kMaxCabinet;
    ccab.cbFolderThresh = kFolderThreshold;
    ccab.iCab = 1;
    ccab.iDisk = 0;
    ccab.setID = kSetId;
    const std::string& tempName = output.temporaryName();
    std::memcpy(ccab.szCab, tempName.c_str(), tempName.size() + 1);
    std::memcpy(ccab.szCabPath, dir.c_str(), dir.size() + 1);

    using namespace fci::real;
    fci::HFCI hfci = fci::FCICreate(&erf, filePlaced, allocate, release, openFile, readFile, writeFile,
                                    closeFile, seekFile, deleteFile, tempFileName, &ccab, &progress);
    if (!hfci) {
        error("cannot start the cabinet " + options.cabinet + ": " + libraryReason(erf));
        return kExitFailure;
    }
    int status = kExitOk;
    bool written = true;
    for (const std::string& f : options.files) {
        std::string source = f;
        std::string stored = io::namePart(f);
        if (!fci::FCIAddFile(hfci, source.data(), stored.data(), 0, nullptr, statusCallback, openForAdding,
                             fci::kCompressMszip)) {
            progress.finish();
            error("cannot add " + f + ": " + libraryReason(erf));
            status = kExitFailure;
        }
    }
    if (!fci::FCIFlushCabinet(hfci, 0, nullptr, statusCallback)) {
        progress.finish();
        error("cannot write " + options.cabinet + ": " + libraryReason(erf));
        status = kExitFailure;
        written = false;
    }
    progress.finish();
    if (!fci::FCIDestroy(hfci)) {
        error("cannot remove the temporary file of " + options.cabinet + ": " + libraryReason(erf));
        status = kExitFailure;
        written = false;
    }
    if (!written)
        return status;  // `output` removes the unfinished cabinet
    if (!output.commit()) {
        error("cannot write " + io::describe(options.cabinet, output.error()));
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
