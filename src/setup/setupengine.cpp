#include "setup/setupengine.h"

#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

#include "cabinet/reader/cabreader.h"
#include "crypto/blowfish.h"
#include "distribution/infformat.h"
#include "platform/paths.h"
#include "setup/installer/infreader.h"

namespace ravelin::setup {

QString decryptedInfName(const PackageSettings& settings)
{
    return paths::changeExtension(settings.encryptedInf, QStringLiteral(".inf"));
}

QString decryptedInfPath(const SetupContext& context)
{
    return paths::join(context.workingDirectory, decryptedInfName(context.settings));
}

namespace {

// An encrypted file of this system is never empty and always whole blocks;
// anything else was cut short or is not one.
bool looksEncrypted(const QString& path, QString* reason)
{
    const QFileInfo info(path);
    if (!info.isFile()) {
        *reason = QStringLiteral("%1 is missing").arg(path);
        return false;
    }
    if (info.size() == 0 || info.size() % 8 != 0) {
        *reason = QStringLiteral("%1 is not an encrypted file (%2 bytes)").arg(path).arg(info.size());
        return false;
    }
    return true;
}

// The decrypted files are written in the package directory, which came from
// elsewhere: a link placed there under the output's name must not carry the
// write to another file.
bool safeOutput(const QString& path, QString* reason)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return true;  // a new file
    if (S_ISREG(st.st_mode) && st.st_nlink == 1)
        return true;
    *reason = QStringLiteral("%1 exists and is not a plain file; it is left alone").arg(path);
    return false;
}

bool decrypt(const QString& input, const QString& output, const QString& passPhrase, QString* reason)
{
    if (!safeOutput(output, reason))
        return false;
    try {
        crypto::TBlowFish cipher;
        cipher.setInputType(crypto::TBlowFish::SourceFile);
        cipher.setInputFilePath(input);
        cipher.setOutputFilePath(output);
        cipher.setKey(passPhrase);
        cipher.setCipherMode(crypto::TBlowFish::ECBMode);
        cipher.Decrypt(false);
    } catch (const std::exception& e) {
        *reason = QString::fromLocal8Bit(e.what());
        return false;
    }
    return true;
}

}  // namespace

InfCheckResult decryptAndCheckInf(const SetupContext& context, const QString& passPhrase)
{
    InfCheckResult result;
    const PackageSettings& s = context.settings;
    if (!installer::isSafeFileName(s.encryptedInf)) {
        result.reason = QStringLiteral("the encrypted INF name \"%1\" is refused").arg(s.encryptedInf);
        return result;
    }
    const QString input = paths::join(context.workingDirectory, s.encryptedInf);
    const QString output = decryptedInfPath(context);
    if (!looksEncrypted(input, &result.reason) || !decrypt(input, output, passPhrase, &result.reason))
        return result;

    QFile file(output);
    if (!file.open(QIODevice::ReadOnly)) {
        result.reason = QStringLiteral("cannot read %1: %2").arg(output, file.errorString());
        return result;
    }
    const QByteArray text = file.read(installer::kMaxInfSize + 1);
    qsizetype end = 0;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n')
        ++end;
    if (text.left(end) != QByteArray(distribution::kInfFirstLine)) {
        result.outcome = InfCheck::WrongPassPhrase;
        return result;
    }
    // The right key on a file cut short gives a first line and then nothing
    // an installer can read.
    installer::InfDocument document;
    if (!installer::parseInf(text, &document, &result.reason)) {
        result.reason = QStringLiteral("%1: %2").arg(output, result.reason);
        return result;
    }
    result.outcome = InfCheck::Matched;
    result.reason.clear();
    return result;
}

bool decryptCabinet(const SetupContext& context, const QString& passPhrase, QString* reason)
{
    const PackageSettings& s = context.settings;
    for (const QString& name : {s.encryptedCabinet, s.cabinet}) {
        if (!installer::isSafeFileName(name)) {
            *reason = QStringLiteral("the file name \"%1\" is refused").arg(name);
            return false;
        }
    }
    const QString input = paths::join(context.workingDirectory, s.encryptedCabinet);
    const QString output = paths::join(context.workingDirectory, s.cabinet);
    if (!looksEncrypted(input, reason) || !decrypt(input, output, passPhrase, reason))
        return false;
    // Every block is checked, so a cabinet cut short or decrypted with another
    // key is found here and not halfway through the installation.
    return cabreader::test(output, reason);
}

installer::InstallResult install(const SetupContext& context)
{
    installer::InstallOptions options;
    options.sourceDirectory = context.workingDirectory;
    options.destDir = qEnvironmentVariable("DESTDIR");
    return installer::installInf(decryptedInfPath(context), options);
}

QString installedDirectory(const SetupContext& context, const installer::InstallResult& result)
{
    if (!result.installDirectory.isEmpty())
        return result.installDirectory;
    return installer::destinationDirectory(qEnvironmentVariable("DESTDIR"), context.settings.installDirectory)
        .value_or(context.settings.installDirectory);
}

}  // namespace ravelin::setup
