#include "distribution/setuppackage.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "crypto/blowfish.h"
#include "distribution/filewriter.h"
#include "distribution/infformat.h"
#include "platform/paths.h"

namespace ravelin::distribution {

QString setupIniPath(const SetupPackageRequest& request)
{
    return paths::join(request.outputDirectory, QStringLiteral("setup.ini"));
}

QByteArray composeSetupIni(const SetupPackageRequest& request)
{
    const QString cab = request.cabinetName;
    const QString lines[] = {
        QStringLiteral("[General]"),
        QStringLiteral("a1=") + request.title,
        QStringLiteral("a2=") + request.description,
        QStringLiteral("a3=") + request.readmeFileName,
        QStringLiteral("a4=") + cab + QStringLiteral(".ecf"),
        QStringLiteral("a5=") + cab + QStringLiteral(".cab"),
        QStringLiteral("a6=") + cab + QStringLiteral(".in_"),
        QStringLiteral("a7=") + request.installDirectory,
    };
    QString text;
    for (const QString& line : lines)
        text += line + QLatin1String(kInfLineEnd);
    return text.toLocal8Bit();
}

Result WriteSetupIni(const SetupPackageRequest& request)
{
    return writeWholeFile(setupIniPath(request), composeSetupIni(request));
}

QString encryptedInfPath(const SetupPackageRequest& request)
{
    return paths::changeExtension(infFilePath(request.infRequest()), QStringLiteral(".in_"));
}

QString encryptionFailureMessage(const SetupPackageRequest& request)
{
    return QStringLiteral("There was an unknown error whilst attempting to encrypt ") +
           infFilePath(request.infRequest());
}

QString setupExePath(const SetupPackageRequest& request)
{
    return paths::join(request.outputDirectory, QStringLiteral("SETUP.EXE"));
}

QString setupProgramFailureMessage(const QString& filePath)
{
    return QStringLiteral("There was an error while trying to create ") + filePath;
}

QByteArray setupProgramImage()
{
    QFile resource(QStringLiteral(":/%1/%2").arg(QLatin1String(kSetupResourceType),
                                                 QLatin1String(kSetupResourceName)));
    if (!resource.open(QIODevice::ReadOnly))
        return QByteArray();
    return resource.readAll();
}

namespace {

// Removes a partial output unless released; the file must never be left
// behind half-written.
class RemoveOnFailure {
public:
    explicit RemoveOnFailure(QByteArray path) : m_path(std::move(path)) {}
    ~RemoveOnFailure()
    {
        if (!m_released)
            ::unlink(m_path.constData());
    }
    void release() { m_released = true; }

private:
    QByteArray m_path;
    bool m_released = false;
};

Result extract(const QString& resourceType, const QString& resourceName, const QString& filePath)
{
    QFile resource(QStringLiteral(":/%1/%2").arg(resourceType, resourceName));
    if (!resource.open(QIODevice::ReadOnly))
        return Result::failure(Step::FindResource, resource.fileName());
    const QByteArray bytes = resource.readAll();
    if (bytes.isEmpty())
        return Result::failure(Step::FindResource, resource.fileName());

    const QByteArray native = filePath.toLocal8Bit();
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0777);
    if (fd < 0)
        return Result::failure(Step::CreateFile, filePath, errno);
    RemoveOnFailure guard(native);

    // An existing file keeps its mode through O_TRUNC; the setup program must
    // be runnable by its owner in any case.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || ((st.st_mode & S_IXUSR) == 0 && ::fchmod(fd, (st.st_mode & 07777) | S_IXUSR) != 0)) {
        const int err = errno;
        ::close(fd);
        return Result::failure(Step::SetPermission, filePath, err);
    }

    // One write of the whole image; anything short of all of it fails.
    const ssize_t n = ::write(fd, bytes.constData(), static_cast<size_t>(bytes.size()));
    if (n != bytes.size()) {
        const int err = n < 0 ? errno : ENOSPC;
        ::close(fd);
        return Result::failure(Step::WriteFile, filePath, err);
    }
    if (::close(fd) != 0)
        return Result::failure(Step::CloseFile, filePath, errno);
    guard.release();
    return Result::success();
}

}  // namespace

bool ExtractResourceToFile(const QString& resourceType, const QString& resourceName, const QString& filePath,
                           Result* failure)
{
    const Result result = extract(resourceType, resourceName, filePath);
    if (failure)
        *failure = result;
    return result.ok();
}

Result WriteEncryptedInf(const SetupPackageRequest& request)
{
    const QString input = infFilePath(request.infRequest());
    try {
        // A fresh cipher for every package: nothing of an earlier run is reused.
        crypto::TBlowFish cipher;
        cipher.setInputType(crypto::TBlowFish::SourceFile);
        cipher.setInputFilePath(input);
        cipher.setOutputFilePath(encryptedInfPath(request));
        cipher.setKey(request.passPhrase);
        cipher.setCipherMode(crypto::TBlowFish::ECBMode);
        cipher.Encrypt(false);
    } catch (const crypto::EInOutError& e) {
        Step step = Step::Encrypt;
        if (e.step() == QLatin1String("create"))
            step = Step::CreateFile;
        else if (e.step() == QLatin1String("write"))
            step = Step::WriteFile;
        else if (e.step() == QLatin1String("close"))
            step = Step::CloseFile;
        else if (e.path() == input)
            step = Step::OpenInput;
        return Result::failure(step, e.path(), e.errorCode());
    } catch (const std::exception&) {
        return Result::failure(Step::Encrypt, input);
    }
    return Result::success();
}

}  // namespace ravelin::distribution
