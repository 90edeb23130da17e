#include "tools/fileiterator/filemove.h"

#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/io.h"

namespace ravelin::tools {

namespace {

constexpr std::size_t kCopyChunk = 1 << 20;

// Copies the regular file `from` to the new name `to`, which must still be
// free when the copy is complete. Returns 0 or the errno of the failed step;
// on failure nothing is left under `to`.
int copyRegular(const std::string& from, const std::string& to)
{
    int error = 0;
    io::Fd in = io::openForReading(from, &error, /*noFollow=*/true);
    if (!in)
        return error;
    struct stat sourceStat {};
    if (::fstat(in.get(), &sourceStat) != 0)
        return errno;

    // A taken name is refused before a byte is copied; the commit below
    // refuses it again should it appear meanwhile.
    struct stat targetStat {};
    if (::lstat(to.c_str(), &targetStat) == 0)
        return EEXIST;

    io::OutputFile out;
    if (!out.create(to, 0600))
        return out.error();
    std::vector<char> buffer(kCopyChunk);
    for (;;) {
        const ssize_t got = io::readAll(in.get(), buffer.data(), buffer.size());
        if (got < 0)
            return errno; // `out` removes its temporary
        if (got > 0 && !out.write(buffer.data(), static_cast<std::size_t>(got)))
            return out.error();
        if (static_cast<std::size_t>(got) < buffer.size())
            break;
    }
    // Ownership is kept where we may set it (as root); a refusal is fine.
    if (::fchown(out.fd(), sourceStat.st_uid, sourceStat.st_gid) != 0) {
    }
    if (::fchmod(out.fd(), sourceStat.st_mode & 07777) != 0)
        return errno;
    const struct timespec times[2] = {sourceStat.st_atim, sourceStat.st_mtim};
    if (::futimens(out.fd(), times) != 0)
        return errno;
    if (!out.commit(/*noReplace=*/true))
        return out.error();
    return 0;
}

int copyLink(const std::string& from, const std::string& to, const struct stat& sourceStat)
{
    std::vector<char> target(static_cast<size_t>(sourceStat.st_size > 0 ? sourceStat.st_size : 255) + 1);
    const ssize_t length = ::readlink(from.c_str(), target.data(), target.size());
    if (length < 0)
        return errno;
    if (static_cast<size_t>(length) >= target.size())
        return ENAMETOOLONG; // the link changed under us
    target[static_cast<size_t>(length)] = '\0';
    if (::symlink(target.data(), to.c_str()) != 0)
        return errno; // EEXIST when the name is taken
    return 0;
}

// The move across volumes: copy, then delete the source; when the source
// cannot be deleted the copy goes again, so exactly one file remains.
int copyThenDelete(const std::string& from, const std::string& to)
{
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0)
        return errno;
    int error;
    if (S_ISREG(st.st_mode))
        error = copyRegular(from, to);
    else if (S_ISLNK(st.st_mode))
        error = copyLink(from, to, st);
    else
        return EXDEV; // devices, pipes and sockets do not travel
    if (error)
        return error;
    if (::unlink(from.c_str()) != 0) {
        error = errno;
        ::unlink(to.c_str());
        return error;
    }
    return 0;
}

} // namespace

int moveFileNoReplace(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    int error = errno;
    if (error == EINVAL || error == ENOSYS || error == ENOTSUP) {
        // No RENAME_NOREPLACE here: a hard link refuses an existing name just
        // as atomically. Links are refused too on some file systems (EPERM);
        // copying then keeps the same guarantees.
        if (::link(from.c_str(), to.c_str()) == 0) {
            if (::unlink(from.c_str()) == 0)
                return 0;
            error = errno;
            ::unlink(to.c_str());
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
