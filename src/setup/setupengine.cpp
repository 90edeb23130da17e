#include "setup/setupengine.h"

#include <QFile>

#include <cerrno>
#include <sys/stat.h>

#include "cabinet/reader/cabreader.h"
#include "crypto/blowfish.h"
#include "distribution/infformat.h"
#include "platform/io.h"
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

// The bytes of a path the program holds as text, or false when the text does
// not stand for a name on disk (a name byte that was not UTF-8 became U+FFFD
// when setup.ini or the folder name was read): it would name another file.
bool exactPath(const QString& text, std::string* bytes, QString* reason)
{
    const QByteArray encoded = QFile::encodeName(text);
    if (text.contains(QChar::ReplacementCharacter) || QFile::decodeName(encoded) != text) {
        *reason = QStringLiteral("%1 is not the name of a file here (its bytes are not UTF-8)").arg(text);
        return false;
    }
    *bytes = encoded.toStdString();
    return true;
}

// The decrypted files are written in the package directory, which came from
// elsewhere: a link placed there under an output's name is left alone and the
// decryption refused (the cipher's rename would replace it, but whoever placed
// it meant something by it).
bool safeOutput(const std::string& path, QString* reason)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return true; // a new file
    if (S_ISREG(st.st_mode) && st.st_nlink == 1)
        return true;
    *reason = QStringLiteral("%1 exists and is not a plain file; it is left alone")
                  .arg(QFile::decodeName(QByteArray::fromStdString(path)));
    return false;
}

// Decrypts `input` into `output`. The cipher refuses an input that is not a
// regular file or not an encrypted file (empty, not whole blocks) before it
// writes, and writes the output beside its name and renames it over it when
// complete, so a failure leaves no partial file and an earlier one whole.
bool decrypt(const QString& input, const QString& output, const QString& passPhrase, QString* reason)
{
    std::string in, out;
    if (!exactPath(input, &in, reason) || !exactPath(output, &out, reason) || !safeOutput(out, reason))
        return false;
    try {
        crypto::TBlowFish cipher;
        cipher.setInputType(crypto::TBlowFish::SourceFile);
        cipher.setInputFilePathBytes(in);
        cipher.setOutputFilePathBytes(out);
        cipher.setKey(passPhrase);
        cipher.setCipherMode(crypto::TBlowFish::ECBMode);
        cipher.Decrypt(false);
    } catch (const std::exception& e) {
        *reason = QString::fromStdString(e.what());
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
    if (!decrypt(input, output, passPhrase, &result.reason))
        return result;

    int error = 0;
    io::Fd file = io::openForReading(QFile::encodeName(output).toStdString(), &error);
    QByteArray text(installer::kMaxInfSize + 1, Qt::Uninitialized);
    const ssize_t got = file ? io::readAll(file.get(), text.data(), std::size_t(text.size())) : -1;
    if (got < 0) {
        result.reason = QStringLiteral("cannot read %1: %2")
                            .arg(output, QString::fromStdString(io::reasonText(file ? errno : error)));
        return result;
    }
    text.truncate(got);
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
    if (!decrypt(input, output, passPhrase, reason))
        return false;
    // Every block is checked, so a cabinet cut short or decrypted with another
    // key is found here and not halfway through the installation.
    std::string why;
    if (!cabreader::test(QFile::encodeName(output).toStdString(), &why)) {
        *reason = QFile::decodeName(QByteArray::fromStdString(why));
        return false;
    }
    return true;
}

installer::InstallResult install(const SetupContext& context)
{
    installer::InstallOptions options;
    options.sourceDirectory = QFile::encodeName(context.workingDirectory).toStdString();
    options.destDir = qgetenv("DESTDIR").toStdString();
    return installer::installInf(QFile::encodeName(decryptedInfPath(context)).toStdString(), options);
}

QString installedDirectory(const SetupContext& context, const installer::InstallResult& result)
{
    if (!result.installDirectory.isEmpty())
        return result.installDirectory;
    return installer::destinationDirectory(qEnvironmentVariable("DESTDIR"), context.settings.installDirectory)
        .value_or(context.settings.installDirectory);
}

}  // namespace ravelin::setup
