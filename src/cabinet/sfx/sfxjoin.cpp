#include "cabinet/sfx/sfxjoin.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ravelin::sfx {

namespace {

// A descriptor closed once; close() reports its own failure.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // 0 on success, else errno.
    int close()
    {
        if (m_fd < 0)
            return 0;
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0 ? 0 : errno;
    }

private:
    int m_fd = -1;
};

int openRead(const std::string& path)
{
    int fd;
    do
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    return fd;
}

bool sameFile(int fd, const struct stat& other)
{
    struct stat st{};
    return ::fstat(fd, &st) == 0 && st.st_dev == other.st_dev && st.st_ino == other.st_ino;
}

// Copies `in` to `out` block by block. Returns 0, or sets `readFailed` and
// returns the errno of the first failed block.
int copyAll(int in, int out, char* buffer, std::uint64_t& written, bool& readFailed)
{
    for (;;) {
        ssize_t got;
        do
            got = ::read(in, buffer, kBlockSize);
        while (got < 0 && errno == EINTR);
        if (got < 0) {
            readFailed = true;
            return errno;
        }
        if (got == 0)
            return 0;
        ssize_t done = 0;
        while (done < got) {
            const ssize_t n = ::write(out, buffer + done, std::size_t(got - done));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                readFailed = false;
                return errno;
            }
            if (n == 0) {
                readFailed = false;
                return ENOSPC;
            }
            done += n;
            written += std::uint64_t(n);
        }
    }
}

}  // namespace

SfxResult joinSelfExtracting(const std::string& extractor, const std::string& cabinet,
                             const std::string& output)
{
    SfxResult result;
    Fd ext(openRead(extractor));
    if (!ext.valid()) {
        result.failed = SfxStep::OpenExtractor;
        result.error = errno;
        return result;
    }
    Fd cab(openRead(cabinet));
    if (!cab.valid()) {
        result.failed = SfxStep::OpenCabinet;
        result.error = errno;
        return result;
    }
    // Never truncate one of the inputs by naming it as the output.
    struct stat existing{};
    if (::stat(output.c_str(), &existing) == 0 && (sameFile(ext.get(), existing) || sameFile(cab.get(), existing))) {
        result.failed = SfxStep::CreateOutput;
        result.error = EBUSY;
        return result;
    }
    int outFd;
    do
        outFd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    while (outFd < 0 && errno == EINTR);
    Fd out(outFd);
    if (!out.valid()) {
        result.failed = SfxStep::CreateOutput;
        result.error = errno;
        return result;
    }

    char buffer[kBlockSize];
    bool readFailed = false;
    if (int err = copyAll(ext.get(), out.get(), buffer, result.bytesWritten, readFailed)) {
        result.failed = readFailed ? SfxStep::ReadExtractor : SfxStep::WriteExtractor;
        result.error = err;
    } else if (int err2 = copyAll(cab.get(), out.get(), buffer, result.bytesWritten, readFailed)) {
        result.failed = readFailed ? SfxStep::ReadCabinet : SfxStep::WriteCabinet;
        result.error = err2;
    }

    const int extClose = ext.close();
    const int cabClose = cab.close();
    const int outClose = out.close();
    if (result.ok()) {
        const int err = outClose ? outClose : (extClose ? extClose : cabClose);
        if (err) {
            result.failed = SfxStep::Close;
            result.error = err;
        }
    }

    if (!result.ok()) {
        // The cabinet is the only complete copy of the work: keep it, and do
        // not leave a truncated executable that looks finished.
        result.outputRemoved = ::unlink(output.c_str()) == 0;
        return result;
    }
    result.cabinetRemoved = ::unlink(cabinet.c_str()) == 0;
    return result;
}

std::string fileErrorText(int error)
{
    switch (error) {
    case ENOENT: return "File not found";
    case ENOTDIR: return "Path not found";
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case EBUSY:
    case ETXTBSY: return "File access denied";
    case ENAMETOOLONG:
    case EINVAL:
    case EILSEQ: return "Invalid filename";
    case EMFILE:
    case ENFILE: return "Too many open files";
    case ENOSPC:
    case EFBIG:
    case EDQUOT: return "Disk full";
    default: return "I/O error " + std::to_string(error);
    }
}

const char* stepName(SfxStep step)
{
    switch (step) {
    case SfxStep::None: return "none";
    case SfxStep::OpenExtractor: return "open extractor";
    case SfxStep::OpenCabinet: return "open cabinet";
    case SfxStep::CreateOutput: return "create output";
    case SfxStep::ReadExtractor: return "read extractor";
    case SfxStep::WriteExtractor: return "write extractor";
    case SfxStep::ReadCabinet: return "read cabinet";
    case SfxStep::WriteCabinet: return "write cabinet";
    case SfxStep::Close: return "close";
    }
    return "unknown";
}

}  // namespace ravelin::sfx
