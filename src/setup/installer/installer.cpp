#include "setup/installer/installer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <variant>

#include "cabinet/reader/cabreader.h"
#include "platform/paths.h"
#include "setup/installer/infreader.h"

namespace ravelin::installer {

// The Setup API's directory id of the boot drive's root.
static constexpr int kDirIdBootRoot = 30;

InstallOptions defaultOptions(const QString& infPath)
{
    InstallOptions options;
    const QString dir = paths::directoryPart(infPath);
    options.sourceDirectory = dir.isEmpty() ? QStringLiteral(".") : dir;
    options.destDir = qEnvironmentVariable("DESTDIR");
    return options;
}

namespace {

struct PlannedFile {
    QString cabinet;      // bare cabinet name, beside the INF
    QString source;       // name stored in the cabinet
    QString destination;  // full path
};

struct Plan {
    QStringList directories;  // in the order of the lists
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
    auto directoryFor = [&](const QString& list) -> std::variant<QString, InstallResult> {
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
        const std::optional<QString> dir = destinationDirectory(options.destDir, dirs->fields.value(1));
        if (!dir)
            return failure(InstallStep::RefusedName,
                           QStringLiteral("the install directory \"%1\" leads outside its root").arg(dirs->fields.value(1)));
        return *dir;
    };

    auto addFile = [&](const QString& directory, const QString& dest, const QString& source)
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
        plan->files.append(PlannedFile{cabinet, source, paths::withTrailingSeparator(directory) + dest});
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
            const QString directory = std::get<QString>(dir);
            if (!plan->directories.contains(directory))
                plan->directories << directory;
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
            f->installDirectory = plan.directories.first();
        return *f;
    }
    const QString installDirectory = plan.directories.value(0);

    // Every file must be in its cabinet before anything is written.
    QHash<QString, QStringList> contents;  // cabinet -> stored names
    for (const PlannedFile& file : plan.files) {
        if (!contents.contains(file.cabinet)) {
            QList<cabreader::Entry> entries;
            QString why;
            if (!cabreader::list(paths::join(options.sourceDirectory, file.cabinet), &entries, &why))
                return failure(InstallStep::OpenCabinet, why, installDirectory);
            QStringList names;
            for (const cabreader::Entry& entry : entries)
                names << entry.name;
            contents.insert(file.cabinet, names);
        }
        if (!contents.value(file.cabinet).contains(file.source, Qt::CaseInsensitive))
            return failure(InstallStep::MissingFile,
                           QStringLiteral("%1 is not in the cabinet %2").arg(file.source, file.cabinet),
                           installDirectory);
    }

    for (const QString& dir : plan.directories) {
        if (!QDir().mkpath(dir) || !QFileInfo(dir).isDir())
            return failure(InstallStep::CreateDirectory, QStringLiteral("cannot create the directory %1").arg(dir),
                           installDirectory);
    }

    InstallResult result;
    result.installDirectory = installDirectory;
    for (const PlannedFile& file : plan.files) {
        QString why;
        if (!cabreader::extractFile(paths::join(options.sourceDirectory, file.cabinet), file.source,
                                    file.destination, &why)) {
            result.failedStep = InstallStep::Extract;
            result.reason = why.isEmpty() ? QStringLiteral("cannot write %1").arg(file.destination) : why;
            return result;
        }
        result.written << file.destination;
    }
    return result;
}

InstallResult installInf(const QString& infPath, const InstallOptions& options)
{
    QFile file(infPath);
    if (!file.open(QIODevice::ReadOnly))
        return failure(InstallStep::ReadInf, QStringLiteral("cannot read %1: %2").arg(infPath, file.errorString()));
    const QByteArray text = file.read(kMaxInfSize + 1);
    if (file.error() != QFileDevice::NoError)
        return failure(InstallStep::ReadInf, QStringLiteral("cannot read %1: %2").arg(infPath, file.errorString()));
    return installInfText(text, options);
}

}  // namespace ravelin::installer
