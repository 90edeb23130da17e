#include "cabinet/sfx/sfxjoin.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/io.h"

namespace ravelin::sfx {

namespace {

// Copies `in` to the output block by block. Returns 0, or sets `readFailed`
// and returns the error of the first failed block.
int copyAll(int in, io::OutputFile& out, char* buffer, std::uint64_t& written, bool& readFailed)
{
    for (;;) {
        const ssize_t got = io::readAll(in, buffer, kBlockSize);
        if (got < 0) {
            readFailed = true;
            return errno;
        }
        if (got == 0)
            return 0;
        if (!out.write(buffer, std::size_t(got))) {
            readFailed = false;
            return out.error();
        }
        written += std::uint64_t(got);
        if (std::size_t(got) < kBlockSize)
            return 0;
    }
}

} // namespace

SfxResult joinSelfExtracting(const std::string& extractor, const std::string& cabinet,
                             const std::string& output)
{
    SfxResult result;
    int err = 0;
    io::Fd ext = io::openForReading(extractor, &err);
    if (!ext) {
        result.failed = SfxStep::OpenExtractor;
        result.path = extractor;
        result.error = err;
        return result;
    }
    io::Fd cab = io::openForReading(cabinet, &err);
    if (!cab) {
        result.failed = SfxStep::OpenCabinet;
        result.path = cabinet;
        result.error = err;
        return result;
    }
    // Never replace one of the inputs by naming it as the output.
    struct stat existing {
    }, extStat{}, cabStat{};
    if (::stat(output.c_str(), &existing) == 0 && ::fstat(ext.get(), &extStat) == 0 &&
        ::fstat(cab.get(), &cabStat) == 0 &&
        (io::sameFile(existing, extStat) || io::sameFile(existing, cabStat))) {
        result.failed = SfxStep::CreateOutput;
        result.path = output;
        result.error = EBUSY;
        return result;
    }
    // Written beside its name and renamed when complete: an earlier file of
    // that name stays as it was until the new one is whole.
    io::OutputFile out;
    if (!out.create(output)) {
        result.failed = SfxStep::CreateOutput;
        result.path = output;
        result.error = out.error();
        return result;
    }

    char buffer[kBlockSize];
    bool readFailed = false;
    if (int e = copyAll(ext.get(), out, buffer, result.bytesWritten, readFailed)) {
        result.failed = readFailed ? SfxStep::ReadExtractor : SfxStep::WriteExtractor;
        result.path = readFailed ? extractor : output;
        result.error = e;
    } else if (int e2 = copyAll(cab.get(), out, buffer, result.bytesWritten, readFailed)) {
        result.failed = readFailed ? SfxStep::ReadCabinet : SfxStep::WriteCabinet;
        result.path = readFailed ? cabinet : output;
        result.error = e2;
    }

    const int extClose = ext.close();
    const int cabClose = cab.close();
    if (result.ok() && (extClose || cabClose)) {
        result.failed = SfxStep::Close;
        result.path = extClose ? extractor : cabinet;
        result.error = extClose ? extClose : cabClose;
    }
    if (result.ok() && !out.commit()) {
        result.failed =
            out.error() == ENOSPC || out.error() == EFBIG || out.error() == EDQUOT || out.error() == EIO
                ? SfxStep::Close
                : SfxStep::CreateOutput;
        result.path = output;
        result.error = out.error();
    }

    if (!result.ok()) {
        // The cabinet is the only complete copy of the work: keep it, and do
        // not leave a truncated executable that looks finished.
        out.discard();
        result.outputRemoved = true;
        return result;
    }
    result.cabinetRemoved = ::unlink(cabinet.c_str()) == 0;
    return result;
}

const char* stepName(SfxStep step)
{
    switch (step) {
    case SfxStep::None:
        return "none";
    case SfxStep::OpenExtractor:
        return "open extractor";
    case SfxStep::OpenCabinet:
        return "open cabinet";
    case SfxStep::CreateOutput:
        return "create output";
    case SfxStep::ReadExtractor:
        return "read extractor";
    case SfxStep::WriteExtractor:
        return "write extractor";
    case SfxStep::ReadCabinet:
        return "read cabinet";
    case SfxStep::WriteCabinet:
        return "write cabinet";
    case SfxStep::Close:
        return "close";
    }
    return "unknown";
}

} // namespace ravelin::sfx
