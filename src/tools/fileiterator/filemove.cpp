#include "tools/fileiterator/filemove.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ravelin::tools {

namespace {

struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// Copies a regular file into a new file `to` and flushes it; on failure the
// new file is removed. Returns 0 or the errno of the failed step.
int copyRegular(const char* from, const char* to, const struct stat& sourceStat)
{
    Fd in;
    in.fd = ::open(from, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in.fd < 0)
        return errno;
    Fd out;
    out.fd = ::open(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out.fd < 0)
        return errno;

    auto fail = [&](int error) {
        ::close(out.fd);
        out.fd = -1;
        ::unlink(to); // ours: created with O_EXCL above
        return error;
    };

    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::read(in.fd, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        if (got == 0)
            break;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out.fd, buffer.data() + done, static_cast<size_t>(got - done));
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                return fail(errno);
            }
            done += put;
        }
    }
    // Ownership is kept where we may set it (as root); a refusal is fine.
    if (::fchown(out.fd, sourceStat.st_uid, sourceStat.st_gid) != 0) {
    }
    if (::fchmod(out.fd, sourceStat.st_mode & 07777) != 0)
        return fail(errno);
    const struct timespec times[2] = {sourceStat.st_atim, sourceStat.st_mtim};
    if (::futimens(out.fd, times) != 0)
        return fail(errno);
    if (::fsync(out.fd) != 0)
        return fail(errno);
    const int fd = out.fd;
    out.fd = -1;
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(to);
        return error;
    }
    return 0;
}

int copyLink(const char* from, const char* to, const struct stat& sourceStat)
{
    std::vector<char> target(static_cast<size_t>(sourceStat.st_size > 0 ? sourceStat.st_size : 255) + 1);
    const ssize_t length = ::readlink(from, target.data(), target.size());
    if (length < 0)
        return errno;
    if (static_cast<size_t>(length) >= target.size())
        return ENAMETOOLONG; // the link changed under us
    target[static_cast<size_t>(length)] = '\0';
    if (::symlink(target.data(), to) != 0)
        return errno; // EEXIST when the name is taken
    return 0;
}

// The move across volumes: copy, then delete the source; when the source
// cannot be deleted the copy goes again, so exactly one file remains.
int copyThenDelete(const char* from, const char* to)
{
    struct stat st;
    if (::lstat(from, &st) != 0)
        return errno;
    int error;
    if (S_ISREG(st.st_mode))
        error = copyRegular(from, to, st);
    else if (S_ISLNK(st.st_mode))
        error = copyLink(from, to, st);
    else
        return EXDEV; // devices, pipes and sockets do not travel
    if (error)
        return error;
    if (::unlink(from) != 0) {
        error = errno;
        ::unlink(to);
        return error;
    }
    return 0;
}

} // namespace

int moveFileNoReplace(const QString& fromPath, const QString& toPath)
{
    const QByteArray fromBytes = QFile::encodeName(fromPath);
    const QByteArray toBytes = QFile::encodeName(toPath);
    const char* from = fromBytes.constData();
    const char* to = toBytes.constData();

    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    int error = errno;
    if (error == EINVAL || error == ENOSYS || error == ENOTSUP) {
        // No RENAME_NOREPLACE here: a hard link refuses an existing name just
        // as atomically. Links are refused too on some file systems (EPERM);
        // copying then keeps the same guarantees.
        if (::link(from, to) == 0) {
            if (::unlink(from) == 0)
                return 0;
            error = errno;
            ::unlink(to);
            return error;
        }
        error = errno;
        if (error == EPERM || error == ENOTSUP || error == EOPNOTSUPP)
            return copyThenDelete(from, to);
        return error;
    }
    if (error == EXDEV)
        return copyThenDelete(from, to);
    return error;
}

} // namespace ravelin::tools
