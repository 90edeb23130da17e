#include "setup/installer/installer.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <memory>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <variant>

#include "cabinet/reader/cabreader.h"
#include "cabinet/reader/folders.h"
#include "platform/io.h"
#include "setup/installer/infreader.h"

namespace ravelin::installer {

// The Setup API's directory id of the boot drive's root.
static constexpr int kDirIdBootRoot = 30;

InstallOptions defaultOptions(const std::string& infPath)
{
    InstallOptions options;
    const std::string dir = io::directoryPart(infPath);
    options.sourceDirectory = dir.empty() ? std::string(".") : dir;
    const char* destDir = std::getenv("DESTDIR");
    options.destDir = destDir ? destDir : "";
    options.dirId30 = dirId30Folder();
    return options;
}

std::string dirId30FolderFor(uid_t effectiveUid, const char* home, const char* passwdHome)
{
    // Only root may write below "/"; everyone else installs into their own
    // home, as a user installs below a drive root that is theirs.
    if (effectiveUid == 0)
        return "/";
    if (home && home[0] == '/')
        return home;
    if (passwdHome && passwdHome[0] == '/')
        return passwdHome;
    return "/";
}

std::string dirId30Folder()
{
    const uid_t euid = ::geteuid();
    if (euid == 0)
        return "/";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return home;
    std::string passwdHome;
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::string buffer(16384, '\0');
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        passwdHome = found->pw_dir;
    return dirId30FolderFor(euid, nullptr, passwdHome.c_str());
}

namespace {

struct PlannedFile {
    QString cabinet;     // bare cabinet name, beside the INF
    QString source;      // name stored in the cabinet
    qsizetype directory; // index into Plan::directories
    QString name;        // file name in that directory
};

struct PlannedDirectory {
    std::string root;                    // DESTDIR + DIRID 30's folder, or the chosen folder
    std::vector<std::string> components; // the folders below `root`
    std::string path() const;            // root + "/" + components, for display
};

std::string PlannedDirectory::path() const
{
    std::string p = root;
    for (const std::string& c : components) {
        if (p.empty() || p.back() != '/')
            p += '/';
        p += c;
    }
    return p;
}

} // namespace

std::string dirId30Path(const InstallOptions& options)
{
    std::string root = options.destDir;
    while (!root.empty() && root.back() == '/')
        root.pop_back();
    std::string below = options.dirId30;
    while (!below.empty() && below.back() == '/')
        below.pop_back();
    if (!below.empty() && below.front() != '/')
        below.insert(below.begin(), '/');
    root += below;
    return root.empty() ? std::string("/") : root;
}

namespace {

struct Plan {
    QList<PlannedDirectory> directories; // in the order of the lists
    QList<PlannedFile> files;
};

InstallResult failure(InstallStep step, const QString& reason, const QString& installDirectory = QString(),
                      const std::string& path = std::string(), int error = 0)
{
    InstallResult r;
    r.failed = step;
    r.path = path;
    r.error = error;
    r.reason = reason;
    r.installDirectory = installDirectory;
    return r;
}

// A name from the INF as the bytes of a path, and back for messages.
std::string bytes(const QString& text)
{
    return QFile::encodeName(text).toStdString();
}
QString text(const std::string& bytes)
{
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

// Fills `plan` from the document, checking every name; the failure when a
// check fails. The directories are DIRID 30's, before any chosen folder.
std::optional<InstallResult> makePlan(const InfDocument& doc, const InstallOptions& options, Plan* plan)
{
    const InfSection* install = doc.section(QStringLiteral("DefaultInstall"));
    if (!install)
        return failure(InstallStep::NoDefaultInstall,
                       QStringLiteral("the INF file has no [DefaultInstall] section"));

    // The destination directory of one file list.
    auto directoryFor = [&](const QString& list) -> std::variant<PlannedDirectory, InstallResult> {
        const InfEntry* dirs = doc.entry(QStringLiteral("DestinationDirs"), list);
        if (!dirs)
            dirs = doc.entry(QStringLiteral("DestinationDirs"), QStringLiteral("DefaultDestDir"));
        if (!dirs)
            return failure(InstallStep::Destination,
                           QStringLiteral("[DestinationDirs] names no directory for %1").arg(list));
        bool numeric = false;
        const int dirId = dirs->fields.value(0).toInt(&numeric);
        if (!numeric || dirId != kDirIdBootRoot)
            return failure(InstallStep::Destination,
                           QStringLiteral("directory id \"%1\" of %2 is not supported")
                               .arg(dirs->fields.value(0), list));
        const std::optional<QStringList> parts = destinationComponents(dirs->fields.value(1));
        if (!parts)
            return failure(InstallStep::RefusedName,
                           QStringLiteral("the install directory \"%1\" leads outside its root")
                               .arg(dirs->fields.value(1)));
        PlannedDirectory planned{dirId30Path(options), {}};
        for (const QString& part : *parts)
            planned.components.push_back(bytes(part));
        return planned;
    };

    auto addFile = [&](qsizetype directory, const QString& dest,
                       const QString& source) -> std::optional<InstallResult> {
        if (!isSafeFileName(dest))
            return failure(InstallStep::RefusedName,
                           QStringLiteral("the file name \"%1\" is refused").arg(dest));
        if (!isSafeFileName(source))
            return failure(InstallStep::RefusedName,
                           QStringLiteral("the file name \"%1\" is refused").arg(source));
        const InfEntry* disk = doc.entry(QStringLiteral("SourceDisksFiles"), source);
        if (!disk || disk->fields.value(0).isEmpty())
            return failure(InstallStep::SourceDisk,
                           QStringLiteral("%1 is not listed in [SourceDisksFiles]").arg(source));
        const InfEntry* names = doc.entry(QStringLiteral("SourceDisksNames"), disk->fields.value(0));
        if (!names || names->fields.value(1).isEmpty())
            return failure(InstallStep::SourceDisk,
                           QStringLiteral("disk %1 of %2 names no cabinet in [SourceDisksNames]")
                               .arg(disk->fields.value(0), source));
        const QString cabinet = names->fields.value(1);
        if (!isSafeFileName(cabinet))
            return failure(InstallStep::RefusedName,
                           QStringLiteral("the cabinet name \"%1\" is refused").arg(cabinet));
        plan->files.append(PlannedFile{cabinet, source, directory, dest});
        return std::nullopt;
    };

    for (const InfEntry& e : install->entries) {
        if (!e.hasKey || e.key.compare(u"CopyFiles", Qt::CaseInsensitive) != 0)
            continue;
        for (const QString& list : e.fields) {
            if (list.isEmpty())
                continue;
            const bool single = list.startsWith(u'@');
            auto dir = directoryFor(single ? QStringLiteral("DefaultDestDir") : list);
            if (auto* f = std::get_if<InstallResult>(&dir))
                return *f;
            const PlannedDirectory planned = std::get<PlannedDirectory>(dir);
            qsizetype directory = 0;
            while (directory < plan->directories.size() &&
                   plan->directories[directory].path() != planned.path())
                ++directory;
            if (directory == plan->directories.size())
                plan->directories << planned;
            if (single) {
                if (auto f = addFile(directory, list.mid(1), list.mid(1)))
                    return f;
                continue;
            }
            const InfSection* files = doc.section(list);
            if (!files)
                return failure(InstallStep::ParseInf,
                               QStringLiteral("the file list [%1] is missing").arg(list));
            for (const InfEntry& line : files->entries) {
                const QString dest = line.lineFields.value(0);
                const QString source = line.lineFields.value(1).isEmpty() ? dest : line.lineFields.value(1);
                if (auto f = addFile(directory, dest, source))
                    return f;
            }
        }
    }
    return std::nullopt;
}

// Moves the lists below the first list's directory into the chosen folder.
void relocate(Plan* plan, const InstallOptions& options)
{
    if (options.installDirectory.empty() || plan->directories.isEmpty())
        return;
    const PlannedDirectory first = plan->directories.first();
    for (PlannedDirectory& dir : plan->directories) {
        if (dir.root != first.root || dir.components.size() < first.components.size() ||
            !std::equal(first.components.begin(), first.components.end(), dir.components.begin()))
            continue;
        dir.root = options.installDirectory;
        dir.components.erase(dir.components.begin(), dir.components.begin() + first.components.size());
    }
}

// Parses and plans; the failure (with the first directory when known).
std::optional<InstallResult> planInstall(const QByteArray& infText, const InstallOptions& options, Plan* plan)
{
    InfDocument doc;
    QString error;
    if (!parseInf(infText, &doc, &error))
        return failure(InstallStep::ParseInf, error);
    std::optional<InstallResult> failed = makePlan(doc, options, plan);
    relocate(plan, options);
    if (failed && !plan->directories.isEmpty())
        failed->installDirectory = text(plan->directories.first().path());
    return failed;
}

} // namespace

std::optional<std::string> plannedInstallDirectory(const QByteArray& infText, const InstallOptions& options,
                                                   QString* reason)
{
    Plan plan;
    if (std::optional<InstallResult> failed = planInstall(infText, options, &plan)) {
        if (reason)
            *reason = failed->reason;
        return std::nullopt;
    }
    if (plan.directories.isEmpty()) {
        if (reason)
            *reason = QStringLiteral("the INF file lists no files to install");
        return std::nullopt;
    }
    return plan.directories.first().path();
}

InstallResult installInfText(const QByteArray& infText, const InstallOptions& options)
{
    Plan plan;
    if (std::optional<InstallResult> failed = planInstall(infText, options, &plan))
        return *failed;
    const QString installDirectory =
        plan.directories.isEmpty() ? QString() : text(plan.directories.first().path());

    // On disk: each list's folder below its root (DESTDIR + DIRID 30's
    // folder, or the chosen folder).
    std::vector<std::string> folderDisplay;
    for (const PlannedDirectory& dir : plan.directories)
        folderDisplay.push_back(dir.path());
    const auto filePath = [&](const PlannedFile& file) {
        const std::string& dir = folderDisplay[std::size_t(file.directory)];
        return (dir.back() == '/' ? dir : dir + "/") + bytes(file.name);
    };

    // Every cabinet is opened once, and every file must be in its cabinet
    // before anything is written.
    std::map<QString, std::unique_ptr<cabreader::Cabinet>> cabinets;
    std::vector<std::size_t> entries; // beside plan.files
    for (const PlannedFile& file : plan.files) {
        auto& cabinet = cabinets[file.cabinet];
        if (!cabinet) {
            cabinet = std::make_unique<cabreader::Cabinet>();
            std::string why;
            const std::string sourceDir =
                options.sourceDirectory.empty() ? std::string(".") : options.sourceDirectory;
            const std::string cabinetPath = sourceDir + "/" + bytes(file.cabinet);
            if (!cabinet->open(cabinetPath, &why))
                return failure(InstallStep::OpenCabinet, text(why), installDirectory, cabinetPath);
        }
        const std::optional<std::size_t> entry = cabinet->find(bytes(file.source));
        if (!entry)
            return failure(InstallStep::MissingFile,
                           QStringLiteral("%1 is not in the cabinet %2").arg(file.source, file.cabinet),
                           installDirectory);
        entries.push_back(*entry);
    }

    // Nothing in the way: no link or file where a folder goes, no
    // destination that is one of the cabinets.
    int err = 0;
    const auto rootFailure = [&](const std::string& root, int why) {
        return failure(InstallStep::CreateDirectory,
                       QStringLiteral("cannot create the directory %1: %2")
                           .arg(text(root), QString::fromStdString(io::reasonText(why))),
                       installDirectory, root, why);
    };
    const auto folderFailure = [&](std::size_t list, std::size_t failed, int why) {
        const PlannedDirectory& dir = plan.directories[qsizetype(list)];
        std::string where = dir.root;
        for (std::size_t i = 0; i <= failed && i < dir.components.size(); ++i)
            where += (where.empty() || where.back() != '/' ? "/" : "") + dir.components[i];
        if (why == ELOOP)
            return failure(InstallStep::CreateDirectory,
                           QStringLiteral("refusing the directory %1: %2 is a symbolic link")
                               .arg(text(folderDisplay[list]), text(where)),
                           installDirectory, where, why);
        return failure(
            InstallStep::CreateDirectory,
            QStringLiteral("cannot create the directory %1: %2: %3")
                .arg(text(folderDisplay[list]), text(where), QString::fromStdString(io::reasonText(why))),
            installDirectory, where, why);
    };
    for (std::size_t list = 0; list < folderDisplay.size(); ++list) {
        const PlannedDirectory& planned = plan.directories[qsizetype(list)];
        io::Fd rootFd = cabreader::openDirectory(planned.root, false, &err);
        if (!rootFd && err == ENOENT)
            continue;
        if (!rootFd)
            return rootFailure(planned.root, err);
        std::size_t failed = 0;
        io::Fd dir = cabreader::openFolderBelow(rootFd.get(), planned.components, false, &failed, &err);
        if (!dir && err == ENOENT)
            continue;
        if (!dir)
            return folderFailure(list, failed, err);
        for (const PlannedFile& file : plan.files) {
            struct stat there {};
            if (std::size_t(file.directory) != list ||
                ::fstatat(dir.get(), bytes(file.name).c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            for (const auto& [name, cabinet] : cabinets)
                if (io::sameFile(there, cabinet->status()))
                    return failure(InstallStep::SameFile,
                                   QStringLiteral("refusing to write %1: it is the cabinet %2")
                                       .arg(text(filePath(file)), text(cabinet->path())),
                                   installDirectory, filePath(file));
        }
    }

    // The directories, including those of empty lists.
    std::vector<io::Fd> folderFds;
    for (std::size_t list = 0; list < folderDisplay.size(); ++list) {
        const PlannedDirectory& planned = plan.directories[qsizetype(list)];
        io::Fd rootFd = cabreader::openDirectory(planned.root, true, &err);
        if (!rootFd)
            return rootFailure(planned.root, err);
        std::size_t failed = 0;
        folderFds.push_back(
            cabreader::openFolderBelow(rootFd.get(), planned.components, true, &failed, &err));
        if (!folderFds.back())
            return folderFailure(list, failed, err);
    }

    // Each cabinet once, for all of its files.
    InstallResult result;
    result.installDirectory = installDirectory;
    for (const auto& [name, cabinet] : cabinets) {
        std::vector<cabreader::Destination> destinations;
        for (qsizetype i = 0; i < plan.files.size(); ++i) {
            const PlannedFile& file = plan.files[i];
            if (file.cabinet != name)
                continue;
            destinations.push_back(cabreader::Destination{entries[std::size_t(i)],
                                                          folderFds[std::size_t(file.directory)].get(),
                                                          bytes(file.name), filePath(file)});
        }
        std::string why;
        if (!cabinet->extract(destinations, &result.written, &why)) {
            result.failed = InstallStep::Extract;
            result.reason = text(why);
            return result;
        }
    }
    return result;
}

InstallResult installInf(const std::string& infPath, const InstallOptions& options)
{
    std::string content;
    int err = 0;
    if (!io::readSmallFile(infPath, &content, std::size_t(kMaxInfSize), &err))
        return failure(InstallStep::ReadInf,
                       QStringLiteral("cannot read %1: %2")
                           .arg(text(infPath), QString::fromStdString(io::reasonText(err))),
                       QString(), infPath, err);
    return installInfText(QByteArray::fromStdString(content), options);
}

} // namespace ravelin::installer
