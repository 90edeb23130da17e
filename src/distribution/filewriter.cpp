#include "distribution/filewriter.h"

#include <QFile>

#include <cerrno>
#include <sys/stat.h>

#include "platform/io.h"

namespace ravelin::distribution {

QString Result::text() const
{
    const QString shown = QFile::decodeName(QByteArray::fromStdString(path));
    switch (failed) {
    case Step::None:
        return QString();
    case Step::CreateFile:
        return QStringLiteral("Cannot create file %1").arg(shown);
    case Step::OpenInput:
        return error == ENOENT ? QStringLiteral("File not found")
                               : QStringLiteral("Cannot open file %1").arg(shown);
    case Step::WriteFile:
    case Step::CloseFile:
    case Step::Encrypt:
        return QString::fromStdString(io::runtimeText(error));
    case Step::SetPermission:
        return QStringLiteral("File access denied");
    case Step::FindResource:
        return QStringLiteral("Resource not found");
    }
    return QString();
}

std::string Result::describe() const
{
    if (ok())
        return std::string();
    if (error != 0)
        return io::describe(path, error);
    return path + ": " + text().toStdString();
}

std::string joinPath(const std::string& directory, const std::string& name)
{
    return directory + "/" + name;
}

Result writeWholeFile(const std::string& path, const QByteArray& data, mode_t mode, bool ownerExecute)
{
    io::OutputFile out;
    if (!out.create(path, mode))
        return Result::failure(Step::CreateFile, path, out.error());
    if (ownerExecute) {
        struct stat st {};
        if (::fstat(out.fd(), &st) != 0 || ::fchmod(out.fd(), (st.st_mode & 07777) | S_IXUSR) != 0)
            return Result::failure(Step::SetPermission, path, errno);
    }
    if (!out.write(data.constData(), std::size_t(data.size())))
        return Result::failure(Step::WriteFile, path, out.error());
    if (!out.commit())
        return Result::failure(Step::CloseFile, path, out.error());
    return Result::success();
}

} // namespace ravelin::distribution
