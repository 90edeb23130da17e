#include "tools/cabinettool.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include "platform/io.h"
#include "platform/paths.h"

#include <cerrno>
#include <unistd.h>

namespace ravelin::tools {

namespace {
QString g_toolOverride;
bool g_haveOverride = false;

bool isExecutableFile(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}
} // namespace

QString cabinetToolPath()
{
    if (g_haveOverride)
        return g_toolOverride;
    const QString name = QString::fromLatin1(kCabinetToolName);
    const QString beside = paths::join(QCoreApplication::applicationDirPath(), name);
    if (isExecutableFile(beside))
        return beside;
    return QStandardPaths::findExecutable(name);
}

void setCabinetToolOverride(const QString& path)
{
    g_toolOverride = path;
    g_haveOverride = !path.isEmpty();
}

QString cabinetListCommandLine(const QString& cabinetName)
{
    return QString::fromLatin1(kCabinetToolName) + QStringLiteral(" l ") + cabinetName +
           QStringLiteral(" > ") + QString::fromLatin1(kListingFileName);
}

QStringList cabinetListArguments(const QString& cabinetName)
{
    QStringList arguments{QStringLiteral("l")};
    arguments += QProcess::splitCommand(cabinetName);
    return arguments;
}

int runAndWait(const QString& program, const QStringList& arguments, const QString& outputFile,
               QString* notRun)
{
    // Checked here so that a missing tool leaves any earlier listing alone,
    // as a command interpreter that cannot start leaves it.
    if (notRun)
        notRun->clear();
    if (program.isEmpty() || !isExecutableFile(program)) {
        if (notRun) {
            int error = ENOENT;
            if (!program.isEmpty())
                error =
                    ::access(QFile::encodeName(program).constData(), X_OK) != 0 ? errno : io::kNotRegularFile;
            *notRun = QString::fromStdString(io::reasonText(error));
        }
        return -1;
    }
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    // Error text belongs in the listing too: the viewer shows whatever the
    // tool said, and that includes its complaint about an unreadable cabinet.
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(outputFile, QIODevice::Truncate);
    process.start();
    if (!process.waitForStarted(-1)) {
        if (notRun)
            *notRun = process.errorString();
        return -1;
    }
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit)
        return -1;
    return process.exitCode();
}

} // namespace ravelin::tools
