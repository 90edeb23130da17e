#include "platform/io.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace ravelin::io {

std::string runtimeText(int error)
{
    switch (error) {
    case ENOENT:
        return "File not found";
    case ENOTDIR:
        return "Path not found";
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case EBUSY:
    case ELOOP:
    case ETXTBSY:
        return "File access denied";
    case ENAMETOOLONG:
    case EINVAL:
    case EILSEQ:
        return "Invalid filename";
    case EMFILE:
    case ENFILE:
        return "Too many open files";
    case ENOSPC:
    case EDQUOT:
        return "Disk full";
    case EFBIG:
        return "File too large";
    case kNotRegularFile:
        return "not a regular file";
    default:
        return "I/O error " + std::to_string(error);
    }
}

std::string reasonText(int error)
{
    if (error == kNotRegularFile)
        return "not a regular file";
    if (error == EFBIG)
        return "File too large";
    return std::strerror(error);
}

std::string describe(const std::string& path, int error)
{
    return path + ": " + reasonText(error);
}

Fd& Fd::operator=(Fd&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.release();
    }
    return *this;
}

Fd::~Fd()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int Fd::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

int Fd::close()
{
    if (m_fd < 0)
        return 0;
    // Linux releases the descriptor even when close reports an error; never retry.
    return ::close(release()) == 0 ? 0 : errno;
}

ssize_t readAll(int fd, void* buffer, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, static_cast<char*>(buffer) + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += std::size_t(n);
    }
    return ssize_t(done);
}

bool writeAll(int fd, const void* buffer, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, static_cast<const char*>(buffer) + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        done += std::size_t(n);
    }
    return true;
}

Fd openForReading(const std::string& path, int* error, bool noFollow, int dirfd)
{
    int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    if (noFollow)
        flags |= O_NOFOLLOW;
    int fd;
    do
        fd = ::openat(dirfd, path.c_str(), flags);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (error)
            // A socket cannot be opened at all: say what it is.
            *error = errno == ENXIO ? kNotRegularFile : errno;
        return Fd();
    }
    Fd owned(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        if (error)
            *error = errno;
        return Fd();
    }
    if (!S_ISREG(st.st_mode)) {
        if (error)
            *error = kNotRegularFile;
        return Fd();
    }
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl < 0 || ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) {
        if (error)
            *error = errno;
        return Fd();
    }
    return owned;
}

bool statRegular(const std::string& path, struct stat* st, int* error)
{
    struct stat local {};
    struct stat* s = st ? st : &local;
    if (::stat(path.c_str(), s) != 0) {
        if (error)
            *error = errno;
        return false;
    }
    if (!S_ISREG(s->st_mode)) {
        if (error)
            *error = kNotRegularFile;
        return false;
    }
    return true;
}

bool readSmallFile(const std::string& path, std::string* out, std::size_t limit, int* error)
{
    out->clear();
    Fd fd = openForReading(path, error);
    if (!fd)
        return false;
    std::string data(limit + 1, '\0');
    const ssize_t n = readAll(fd.get(), data.data(), data.size());
    if (n < 0) {
        if (error)
            *error = errno;
        return false;
    }
    if (std::size_t(n) > limit) {
        if (error)
            *error = EFBIG;
        return false;
    }
    data.resize(std::size_t(n));
    *out = std::move(data);
    return true;
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool sameFile(const std::string& a, const std::string& b)
{
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sameFile(sa, sb);
}

OutputSet::OutputSet(const std::vector<std::string>& outputs)
{
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        struct stat st {};
        if (::stat(outputs[i].c_str(), &st) == 0)
            m_existing.emplace_back(i, st);
    }
}

int OutputSet::find(const std::string& input) const
{
    if (m_existing.empty())
        return -1;
    struct stat st {};
    if (::stat(input.c_str(), &st) != 0)
        return -1;
    for (const auto& [index, output] : m_existing)
        if (sameFile(st, output))
            return int(index);
    return -1;
}

std::size_t utf8SequenceLength(const char* data, std::size_t size, std::size_t i)
{
    const auto* s = reinterpret_cast<const unsigned char*>(data);
    const unsigned char b = s[i];
    std::size_t n;
    uint32_t cp;
    if (b < 0x80)
        return 1;
    if (b >= 0xc2 && b <= 0xdf) {
        n = 2;
        cp = b & 0x1f;
    } else if (b >= 0xe0 && b <= 0xef) {
        n = 3;
        cp = b & 0x0f;
    } else if (b >= 0xf0 && b <= 0xf4) {
        n = 4;
        cp = b & 0x07;
    } else {
        return 0;
    }
    if (i + n > size)
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((s[i + k] & 0xc0) != 0x80)
            return 0;
        cp = (cp << 6) | (s[i + k] & 0x3f);
    }
    if ((n == 3 && (cp < 0x800 || (cp >= 0xd800 && cp <= 0xdfff))) ||
        (n == 4 && (cp < 0x10000 || cp > 0x10ffff)))
        return 0;
    return n;
}

bool isUtf8(const char* data, std::size_t size)
{
    for (std::size_t i = 0; i < size;) {
        const std::size_t n = utf8SequenceLength(data, size, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

std::string directoryPart(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string namePart(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string changeExtension(const std::string& path, const std::string& extension)
{
    const std::size_t dot = namePart(path).rfind('.');
    if (dot == std::string::npos)
        return path + extension;
    return path.substr(0, directoryPart(path).size() + dot) + extension;
}

// ---- temporaries the signal handler removes --------------------------------

namespace {

constexpr int kSlots = 64;

struct Slot {
    std::atomic<int> state{0}; // 0 free, 1 being filled, 2 live
    int dirfd = -1;            // with `name`, or -1 with `path`
    bool folder = false;       // `path` is a folder, removed after the files
    char name[256] = {};
    char path[4096] = {};
};

Slot g_slots[kSlots];

int claimSlot()
{
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (g_slots[i].state.compare_exchange_strong(expected, 1))
            return i;
    }
    return -1;
}

int registerAt(int dirfd, const std::string& name)
{
    if (name.size() >= sizeof(Slot::name))
        return -1;
    const int i = claimSlot();
    if (i < 0)
        return -1;
    g_slots[i].dirfd = dirfd;
    g_slots[i].folder = false;
    std::memcpy(g_slots[i].name, name.c_str(), name.size() + 1);
    g_slots[i].path[0] = 0;
    g_slots[i].state.store(2);
    return i;
}

extern "C" void removeTemporariesAndDie(int sig)
{
    for (Slot& s : g_slots) {
        if (s.state.load() != 2 || s.folder)
            continue;
        if (s.dirfd >= 0)
            ::unlinkat(s.dirfd, s.name, 0);
        else
            ::unlink(s.path);
    }
    for (Slot& s : g_slots)
        if (s.state.load() == 2 && s.folder)
            ::rmdir(s.path);
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

std::string randomSuffix()
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 rng{std::random_device{}() ^ (uint64_t(::getpid()) << 32)};
    std::string s(8, 'x');
    for (char& c : s)
        c = alphabet[rng() % (sizeof alphabet - 1)];
    return s;
}

} // namespace

namespace {

int registerPath(const std::string& path, bool folder)
{
    if (path.size() >= sizeof(Slot::path))
        return -1;
    const int i = claimSlot();
    if (i < 0)
        return -1;
    g_slots[i].dirfd = -1;
    g_slots[i].folder = folder;
    std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
    g_slots[i].state.store(2);
    return i;
}

} // namespace

int registerTemporary(const std::string& path)
{
    return registerPath(path, false);
}

int registerTemporaryFolder(const std::string& path)
{
    return registerPath(path, true);
}

void unregisterTemporary(int slot)
{
    if (slot >= 0 && slot < kSlots)
        g_slots[slot].state.store(0);
}

void unregisterTemporary(const std::string& path)
{
    for (Slot& s : g_slots)
        if (s.state.load() == 2 && s.dirfd < 0 && path == s.path) {
            s.state.store(0);
            return;
        }
}

void installSignalCleanup()
{
    ::signal(SIGXFSZ, SIG_IGN);
    struct sigaction sa {};
    sa.sa_handler = removeTemporariesAndDie;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        // A signal ignored by whoever started us stays ignored.
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        ::sigaction(sig, &sa, nullptr);
    }
}

// ---- OutputFile -------------------------------------------------------------

OutputFile::~OutputFile()
{
    discard();
}

bool OutputFile::fail(int error)
{
    m_error = error;
    discard();
    return false;
}

bool OutputFile::create(const std::string& finalPath, mode_t mode)
{
    discard();
    m_error = 0;
    const std::string name = namePart(finalPath);
    if (name.empty() || name == "." || name == "..") {
        m_error = EISDIR;
        return false;
    }
    std::string dir = directoryPart(finalPath);
    if (dir.empty())
        dir = ".";
    const int dirfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirfd < 0) {
        m_error = errno;
        return false;
    }
    Fd owned(dirfd);
    const bool ok = createAt(dirfd, name, mode);
    m_finalPath = finalPath;
    return ok;
}

bool OutputFile::createAt(int dirfd, const std::string& name, mode_t mode)
{
    discard();
    m_error = 0;
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
        m_error = EINVAL;
        return false;
    }
    // The final name may be missing, a regular file, or a link (which the
    // rename replaces). A folder, a device, a pipe or a link to one of them
    // is refused: renaming over /dev/full or /dev/stdout would replace the
    // system's node instead of writing where the user meant.
    struct stat st {};
    if (::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        struct stat target = st;
        if (S_ISLNK(st.st_mode) && ::fstatat(dirfd, name.c_str(), &target, 0) != 0)
            target = st; // a dangling link is simply replaced
        if (S_ISDIR(target.st_mode)) {
            m_error = EISDIR;
            return false;
        }
        if (!S_ISREG(target.st_mode) && !S_ISLNK(target.st_mode)) {
            m_error = kNotRegularFile;
            return false;
        }
    }
    const int dup = ::fcntl(dirfd, F_DUPFD_CLOEXEC, 0);
    if (dup < 0) {
        m_error = errno;
        return false;
    }
    m_dir = Fd(dup);
    m_finalName = name;
    m_finalPath = name;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temp = ".ravelin-" + randomSuffix();
        int fd;
        do
            fd = ::openat(m_dir.get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          mode);
        while (fd < 0 && errno == EINTR);
        if (fd >= 0) {
            m_fd = Fd(fd);
            m_tempName = temp;
            m_slot = registerAt(m_dir.get(), m_tempName);
            return true;
        }
        if (errno != EEXIST) {
            m_error = errno;
            m_dir = Fd();
            return false;
        }
    }
    m_error = EEXIST;
    m_dir = Fd();
    return false;
}

std::string OutputFile::temporaryPath() const
{
    return directoryPart(m_finalPath) + m_tempName;
}

bool OutputFile::write(const void* data, std::size_t count)
{
    if (!m_fd.valid()) {
        m_error = EBADF;
        return false;
    }
    if (!writeAll(m_fd.get(), data, count)) {
        m_error = errno;
        return false;
    }
    return true;
}

bool OutputFile::closeDescriptor()
{
    if (const int err = m_fd.close()) {
        m_error = err;
        return false;
    }
    return true;
}

bool OutputFile::commit(bool noReplace)
{
    if (m_tempName.empty()) {
        m_error = m_error ? m_error : EBADF;
        return false;
    }
    if (m_fd.valid()) {
        if (m_sync && ::fdatasync(m_fd.get()) != 0 && errno != EINVAL && errno != EROFS)
            return fail(errno);
        if (const int err = m_fd.close())
            return fail(err);
    }
    if (noReplace) {
        if (::renameat2(m_dir.get(), m_tempName.c_str(), m_dir.get(), m_finalName.c_str(),
                        RENAME_NOREPLACE) != 0) {
            if (errno != EINVAL && errno != ENOSYS)
                return fail(errno);
            // A file system without the flag: a hard link never replaces either.
            if (::linkat(m_dir.get(), m_tempName.c_str(), m_dir.get(), m_finalName.c_str(), 0) != 0)
                return fail(errno);
            ::unlinkat(m_dir.get(), m_tempName.c_str(), 0);
        }
    } else if (::renameat(m_dir.get(), m_tempName.c_str(), m_dir.get(), m_finalName.c_str()) != 0) {
        return fail(errno);
    }
    unregisterTemporary(m_slot);
    m_slot = -1;
    m_tempName.clear();
    m_dir = Fd();
    return true;
}

void OutputFile::discard()
{
    m_fd = Fd();
    if (!m_tempName.empty() && m_dir.valid())
        ::unlinkat(m_dir.get(), m_tempName.c_str(), 0);
    unregisterTemporary(m_slot);
    m_slot = -1;
    m_tempName.clear();
    m_dir = Fd();
}

} // namespace ravelin::io
