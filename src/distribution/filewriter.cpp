#include "distribution/filewriter.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace ravelin::distribution {

QString Result::text() const
{
    switch (failedStep) {
    case Step::None:
        return QString();
    case Step::CreateFile:
        return QStringLiteral("Cannot create file %1").arg(path);
    case Step::OpenInput:
        return systemError == ENOENT ? QStringLiteral("File not found")
                                     : QStringLiteral("Cannot open file %1").arg(path);
    case Step::WriteFile:
    case Step::CloseFile:
        if (systemError == ENOSPC || systemError == EFBIG || systemError == EDQUOT)
            return QStringLiteral("Disk full");
        return QStringLiteral("I/O error %1").arg(systemError);
    case Step::SetPermission:
        return QStringLiteral("File access denied");
    case Step::Encrypt:
        return QStringLiteral("I/O error %1").arg(systemError);
    case Step::FindResource:
        return QStringLiteral("Resource not found");
    }
    return QString();
}

Result writeWholeFile(const QString& path, const QByteArray& data, unsigned mode)
{
    const QByteArray native = path.toLocal8Bit();
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return Result::failure(Step::CreateFile, path, errno);

    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // A short write without an error (n == 0) is a full disk too.
            const int err = n < 0 ? errno : ENOSPC;
            ::close(fd);
            return Result::failure(Step::WriteFile, path, err);
        }
        p += n;
        left -= n;
    }
    if (::close(fd) != 0)
        return Result::failure(Step::CloseFile, path, errno);
    return Result::success();
}

}  // namespace ravelin::distribution
