#include "setup/setupengine.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cabinet/reader/cabreader.h"
#include "crypto/blowfish.h"
#include "distribution/infformat.h"
#include "platform/io.h"
#include "platform/paths.h"
#include "setup/installer/infreader.h"

namespace ravelin::setup {

namespace {

// A folder path without its trailing "/" ("/" stays).
std::string withoutTrailingSlash(std::string folder)
{
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

QString text(const std::string& bytes)
{
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

} // namespace

// ---- The package folder ------------------------------------------------------

std::string programFolderFrom(const std::string& exeLink, const std::string& argv0)
{
    for (const std::string& path : {exeLink, argv0}) {
        const std::string folder = io::directoryPart(path);
        if (!folder.empty())
            return withoutTrailingSlash(folder);
    }
    return ".";
}

std::string programFolder(const char* argv0)
{
    std::string link(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", link.data(), link.size());
    link.resize(n > 0 && std::size_t(n) < link.size() ? std::size_t(n) : 0);
    return programFolderFrom(link, argv0 ? argv0 : "");
}

// ---- The work folder ---------------------------------------------------------

std::string temporaryRoot()
{
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? withoutTrailingSlash(tmp) : std::string("/tmp");
}

WorkFolder::~WorkFolder()
{
    remove();
}

bool WorkFolder::make(std::string* reason)
{
    if (exists())
        return true;
    const std::string root = temporaryRoot();
    std::string pattern = (root == "/" ? std::string() : root) + "/vaultline-XXXXXX";
    // mkdtemp makes the folder with mode 0700 whatever the umask.
    if (!::mkdtemp(pattern.data())) {
        *reason = "cannot make a private folder in " + root + ": " + io::reasonText(errno);
        return false;
    }
    m_path = pattern;
    m_slots.push_back(io::registerTemporaryFolder(m_path));
    return true;
}

std::string WorkFolder::file(const std::string& name)
{
    const std::string path = m_path + "/" + name;
    if (std::find(m_files.begin(), m_files.end(), path) == m_files.end()) {
        m_files.push_back(path);
        m_slots.push_back(io::registerTemporary(path));
    }
    return path;
}

void WorkFolder::remove()
{
    if (!exists())
        return;
    // Everything in the folder is ours: the decrypted files and any
    // temporary a failed write left (the folder is 0700, so nobody else can
    // have put anything there).
    if (DIR* dir = ::opendir(m_path.c_str())) {
        const int fd = ::dirfd(dir);
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            if (::unlinkat(fd, name.c_str(), 0) != 0 && errno == EISDIR)
                ::unlinkat(fd, name.c_str(), AT_REMOVEDIR);
        }
        ::closedir(dir);
    }
    ::rmdir(m_path.c_str());
    for (const int slot : m_slots)
        io::unregisterTemporary(slot);
    m_slots.clear();
    m_files.clear();
    m_path.clear();
}

// ---- Settings ----------------------------------------------------------------

void loadContext(SetupContext* context, const std::string& packageDirectory)
{
    context->packageDirectory = packageDirectory;
    context->settings = readSetupIni(packageDirectory, &context->settingsError);
    const char* destDir = std::getenv("DESTDIR");
    context->destDir = destDir ? destDir : "";
    context->dirId30 = installer::dirId30Folder();
    context->installDirectory.clear();
}

QString decryptedInfName(const PackageSettings& settings)
{
    return paths::changeExtension(settings.encryptedInf, QStringLiteral(".inf"));
}

std::string decryptedInfPath(const SetupContext& context)
{
    if (!context.work.exists())
        return std::string();
    return context.work.path() + "/" + QFile::encodeName(decryptedInfName(context.settings)).toStdString();
}

namespace {

// The bytes of a name the program holds as text, or false when the text does
// not stand for a name on disk (a name byte that was not UTF-8 became U+FFFD
// when setup.ini was read): it would name another file.
bool exactName(const QString& name, std::string* bytes, QString* reason)
{
    const QByteArray encoded = QFile::encodeName(name);
    if (name.contains(QChar::ReplacementCharacter) || QFile::decodeName(encoded) != name) {
        *reason = QStringLiteral("%1 is not the name of a file here (its bytes are not UTF-8)").arg(name);
        return false;
    }
    *bytes = encoded.toStdString();
    return true;
}

// A bare name from setup.ini (`key` says which), as bytes.
bool packageName(const SetupContext& context, const QString& name, const char* what, std::string* bytes,
                 QString* reason)
{
    if (name.isEmpty()) {
        // Without setup.ini every name is missing; its own failure is the
        // reason then.
        *reason =
            !context.settingsError.empty()
                ? QStringLiteral("cannot read %1").arg(text(context.settingsError))
                : QStringLiteral("%1/%2 names no %3")
                      .arg(text(context.packageDirectory), QLatin1String(kSetupIniName), QLatin1String(what));
        return false;
    }
    if (!installer::isSafeFileName(name)) {
        *reason = QStringLiteral("the %1 name \"%2\" in %3 is refused: it is not a bare file name")
                      .arg(QLatin1String(what), name, QLatin1String(kSetupIniName));
        return false;
    }
    return exactName(name, bytes, reason);
}

// Decrypts `input` into `output`. The cipher refuses an input that is not a
// regular file or not an encrypted file (empty, not whole blocks) before it
// writes, and writes the output beside its name and renames it over it when
// complete, so a failure leaves no partial file.
bool decrypt(const std::string& input, const std::string& output, const QString& passPhrase, QString* reason)
{
    try {
        crypto::TBlowFish cipher;
        cipher.setInputType(crypto::TBlowFish::SourceFile);
        cipher.setInputFilePathBytes(input);
        cipher.setOutputFilePathBytes(output);
        cipher.setKey(passPhrase);
        cipher.setCipherMode(crypto::TBlowFish::ECBMode);
        cipher.Decrypt(false);
    } catch (const std::exception& e) {
        *reason = QString::fromLocal8Bit(e.what());
        return false;
    }
    return true;
}

} // namespace

InfCheckResult decryptAndCheckInf(SetupContext& context, const QString& passPhrase)
{
    InfCheckResult result;
    std::string name, infName;
    if (!packageName(context, context.settings.encryptedInf, "encrypted INF", &name, &result.reason) ||
        !exactName(decryptedInfName(context.settings), &infName, &result.reason))
        return result;
    std::string why;
    if (!context.work.make(&why)) {
        result.reason = text(why);
        return result;
    }
    const std::string output = context.work.file(infName);
    if (!decrypt(context.packageDirectory + "/" + name, output, passPhrase, &result.reason))
        return result;

    int error = 0;
    io::Fd file = io::openForReading(output, &error);
    QByteArray bytes(installer::kMaxInfSize + 1, Qt::Uninitialized);
    const ssize_t got = file ? io::readAll(file.get(), bytes.data(), std::size_t(bytes.size())) : -1;
    if (got < 0) {
        result.reason =
            QStringLiteral("cannot read %1").arg(text(io::describe(output, file ? errno : error)));
        return result;
    }
    bytes.truncate(got);
    qsizetype end = 0;
    while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n')
        ++end;
    if (bytes.left(end) != QByteArray(distribution::kInfFirstLine)) {
        result.outcome = InfCheck::WrongPassPhrase;
        result.reason.clear();
        return result;
    }
    // The right key on a file cut short gives a first line and then nothing
    // an installer can read.
    installer::InfDocument document;
    if (!installer::parseInf(bytes, &document, &result.reason)) {
        result.reason = QStringLiteral("%1: %2").arg(text(output), result.reason);
        return result;
    }
    result.outcome = InfCheck::Matched;
    result.reason.clear();
    return result;
}

bool decryptCabinet(SetupContext& context, const QString& passPhrase, QString* reason)
{
    const PackageSettings& s = context.settings;
    std::string input, output;
    if (!packageName(context, s.encryptedCabinet, "encrypted cabinet", &input, reason) ||
        !packageName(context, s.cabinet, "cabinet", &output, reason))
        return false;
    if (s.cabinet == decryptedInfName(s)) {
        *reason = QStringLiteral("the cabinet name \"%1\" in %2 is the decrypted INF's name")
                      .arg(s.cabinet, QLatin1String(kSetupIniName));
        return false;
    }
    std::string why;
    if (!context.work.make(&why)) {
        *reason = text(why);
        return false;
    }
    const std::string cabinet = context.work.file(output);
    if (!decrypt(context.packageDirectory + "/" + input, cabinet, passPhrase, reason))
        return false;
    // Every block is checked, so a cabinet cut short or decrypted with another
    // key is found here and not halfway through the installation.
    if (!cabreader::test(cabinet, &why)) {
        *reason = text(why);
        return false;
    }
    return true;
}

installer::InstallOptions installOptions(const SetupContext& context)
{
    installer::InstallOptions options;
    options.sourceDirectory = context.work.path();
    options.destDir = context.destDir;
    options.dirId30 = context.dirId30;
    options.installDirectory = context.installDirectory;
    return options;
}

std::string defaultInstallDirectory(const SetupContext& context)
{
    installer::InstallOptions options = installOptions(context);
    options.installDirectory.clear();
    std::string inf;
    int error = 0;
    if (context.work.exists() &&
        io::readSmallFile(decryptedInfPath(context), &inf, std::size_t(installer::kMaxInfSize), &error)) {
        if (auto planned = installer::plannedInstallDirectory(QByteArray::fromStdString(inf), options))
            return *planned;
    }
    // a7 is the INF's install directory as the wizard wrote it: Windows text
    // below DIRID 30.
    std::string folder = installer::dirId30Path(options);
    for (const QString& part :
         installer::destinationComponents(context.settings.installDirectory).value_or(QStringList()))
        folder += (folder.back() == '/' ? "" : "/") + QFile::encodeName(part).toStdString();
    return folder;
}

std::string typedInstallDirectory(const SetupContext& context, const QString& typed)
{
    const std::string bytes = QFile::encodeName(typed).toStdString();
    if (typed.startsWith(u'/'))
        return bytes;
    const std::string root = installer::dirId30Path(installOptions(context));
    return root + (root.back() == '/' ? "" : "/") + bytes;
}

installer::InstallResult install(const SetupContext& context)
{
    return installer::installInf(decryptedInfPath(context), installOptions(context));
}

} // namespace ravelin::setup
