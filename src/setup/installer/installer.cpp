#include "setup/installer/installer.h"

#include <QFile>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/stat.h>
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
    return options;
}

namespace {

struct PlannedFile {
    QString cabinet;        // bare cabinet name, beside the INF
    QString source;         // name stored in the cabinet
    qsizetype directory;    // index into Plan::directories
    QString name;           // file name in that directory
};

struct PlannedDirectory {
    QString display;        // DIRID 30 + subdirectory, as text
    QStringList components; // the folders below DIRID 30's root
};

struct Plan {
    QList<PlannedDirectory> directories;  // in the order of the lists
    QList<PlannedFile> files;
};

InstallResult failure(InstallStep step, const QString& reason, const QString& installDirectory = QString())
{
    InstallResult r;
    r.failedStep = step;
    r.reason = reason;
    r.installDirectory = installDirectory;
    return r;
}

// Fills `plan` from the document, checking every name; the failure when a
// check fails.
std::optional<InstallResult> makePlan(const InfDocument& doc, const InstallOptions& options, Plan* plan)
{
    const InfSection* install = doc.section(QStringLiteral("DefaultInstall"));
    if (!install)
        return failure(InstallStep::NoDefaultInstall, QStringLiteral("the INF file has no [DefaultInstall] section"));

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
                           QStringLiteral("directory id \"%1\" of %2 is not supported").arg(dirs->fields.value(0), list));
        const std::optional<QString> dir =
            destinationDirectory(QFile::decodeName(QByteArray::fromStdString(options.destDir)), dirs->fields.value(1));
        const std::optional<QStringList> parts = destinationComponents(dirs->fields.value(1));
        if (!dir || !parts)
            return failure(InstallStep::RefusedName,
                           QStringLiteral("the install directory \"%1\" leads outside its root").arg(dirs->fields.value(1)));
        return PlannedDirectory{*dir, *parts};
    };

    auto addFile = [&](qsizetype directory, const QString& dest, const QString& source)
        -> std::optional<InstallResult> {
        if (!isSafeFileName(dest))
            return failure(InstallStep::RefusedName, QStringLiteral("the file name \"%1\" is refused").arg(dest));
        if (!isSafeFileName(source))
            return failure(InstallStep::RefusedName, QStringLiteral("the file name \"%1\" is refused").arg(source));
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
            return failure(InstallStep::RefusedName, QStringLiteral("the cabinet name \"%1\" is refused").arg(cabinet));
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
            while (directory < plan->directories.size() && plan->directories[directory].display != planned.display)
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
                return failure(InstallStep::ParseInf, QStringLiteral("the file list [%1] is missing").arg(list));
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

// A name from the INF as the bytes of a path, and back for messages.
std::string bytes(const QString& text) { return QFile::encodeName(text).toStdString(); }
QString text(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

}  // namespace

InstallResult installInfText(const QByteArray& infText, const InstallOptions& options)
{
    InfDocument doc;
    QString error;
    if (!parseInf(infText, &doc, &error))
        return failure(InstallStep::ParseInf, error);

    Plan plan;
    if (auto f = makePlan(doc, options, &plan)) {
        if (!plan.directories.isEmpty())
            f->installDirectory = plan.directories.first().display;
        return *f;
    }
    const QString installDirectory = plan.directories.isEmpty() ? QString() : plan.directories.first().display;

    // On disk: DIRID 30's root (DESTDIR, "/" without it) and the folders below.
    std::string root = options.destDir;
    while (!root.empty() && root.back() == '/')
        root.pop_back();
    const std::string rootPath = root.empty() ? std::string("/") : root;
    std::vector<std::vector<std::string>> folders;
    std::vector<std::string> folderDisplay;
    for (const PlannedDirectory& dir : plan.directories) {
        std::vector<std::string> parts;
        std::string shown = root;
        for (const QString& part : dir.components) {
            parts.push_back(bytes(part));
            shown += "/" + parts.back();
        }
        folders.push_back(std::move(parts));
        folderDisplay.push_back(shown.empty() ? std::string("/") : shown);
    }
    const auto filePath = [&](const PlannedFile& file) {
        const std::string& dir = folderDisplay[std::size_t(file.directory)];
        return (dir.back() == '/' ? dir : dir + "/") + bytes(file.name);
    };

    // Every cabinet is opened once, and every file must be in its cabinet
    // before anything is written.
    std::map<QString, std::unique_ptr<cabreader::Cabinet>> cabinets;
    std::vector<std::size_t> entries;  // beside plan.files
    for (const PlannedFile& file : plan.files) {
        auto& cabinet = cabinets[file.cabinet];
        if (!cabinet) {
            cabinet = std::make_unique<cabreader::Cabinet>();
            std::string why;
            const std::string sourceDir = options.sourceDirectory.empty() ? std::string(".") : options.sourceDirectory;
            if (!cabinet->open(sourceDir + "/" + bytes(file.cabinet), &why))
                return failure(InstallStep::OpenCabinet, text(why), installDirectory);
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
    io::Fd rootFd = cabreader::openDirectory(rootPath, false, &err);
    if (!rootFd && err != ENOENT)
        return failure(InstallStep::CreateDirectory,
                       QStringLiteral("cannot create the directory %1: %2")
                           .arg(text(rootPath), QString::fromStdString(io::reasonText(err))),
                       installDirectory);
    const auto folderFailure = [&](std::size_t list, std::size_t failed, int why) {
        std::string where = root;
        for (std::size_t i = 0; i <= failed && i < folders[list].size(); ++i)
            where += "/" + folders[list][i];
        if (why == ELOOP)
            return failure(InstallStep::CreateDirectory,
                           QStringLiteral("refusing the directory %1: %2 is a symbolic link")
                               .arg(text(folderDisplay[list]), text(where)),
                           installDirectory);
        return failure(InstallStep::CreateDirectory,
                       QStringLiteral("cannot create the directory %1: %2: %3")
                           .arg(text(folderDisplay[list]), text(where), QString::fromStdString(io::reasonText(why))),
                       installDirectory);
    };
    if (rootFd) {
        for (std::size_t list = 0; list < folders.size(); ++list) {
            std::size_t failed = 0;
            io::Fd dir = cabreader::openFolderBelow(rootFd.get(), folders[list], false, &failed, &err);
            if (!dir && err == ENOENT)
                continue;
            if (!dir)
                return folderFailure(list, failed, err);
            for (const PlannedFile& file : plan.files) {
                struct stat there{};
                if (std::size_t(file.directory) != list ||
                    ::fstatat(dir.get(), bytes(file.name).c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                for (const auto& [name, cabinet] : cabinets)
                    if (io::sameFile(there, cabinet->status()))
                        return failure(InstallStep::SameFile,
                                       QStringLiteral("refusing to write %1: it is the cabinet %2")
                                           .arg(text(filePath(file)), text(cabinet->path())),
                                       installDirectory);
            }
        }
    }

    // The directories, including those of empty lists.
    rootFd = cabreader::openDirectory(rootPath, true, &err);
    if (!rootFd)
        return failure(InstallStep::CreateDirectory,
                       QStringLiteral("cannot create the directory %1: %2")
                           .arg(text(rootPath), QString::fromStdString(io::reasonText(err))),
                       installDirectory);
    std::vector<io::Fd> folderFds;
    for (std::size_t list = 0; list < folders.size(); ++list) {
        std::size_t failed = 0;
        folderFds.push_back(cabreader::openFolderBelow(rootFd.get(), folders[list], true, &failed, &err));
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
            result.failedStep = InstallStep::Extract;
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
        return failure(InstallStep::ReadInf, QStringLiteral("cannot read %1: %2")
                                                 .arg(text(infPath), QString::fromStdString(io::reasonText(err))));
    return installInfText(QByteArray::fromStdString(content), options);
}

}  // namespace ravelin::installer
