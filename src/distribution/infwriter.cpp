#include "distribution/infwriter.h"

#include "distribution/filewriter.h"
#include "distribution/infformat.h"
#include "platform/constants.h"
#include "platform/paths.h"

namespace ravelin::distribution {

QByteArray composeInf(const InfRequest& request)
{
    QString text;
    auto line = [&text](const QString& content) {
        text += content;
        text += QLatin1String(kInfLineEnd);
    };
    const QString separator = QStringLiteral(" ");

    line(QLatin1String(kInfFirstLine));
    line(QStringLiteral("; ") + QLatin1String(kWebMainPage));
    line(separator);
    line(QStringLiteral("[version]"));
    line(QStringLiteral("signature=\"$CHICAGO$\""));
    line(separator);
    line(QStringLiteral("[DefaultInstall]"));
    line(QStringLiteral("CopyFiles = copy.files"));
    line(separator);
    line(QStringLiteral("[SourceDisksNames]"));
    line(QStringLiteral("1=\"Run this from a short file name dir\",") + request.cabinetName +
         QStringLiteral(".cab,0"));
    line(separator);
    line(QStringLiteral("[DestinationDirs]"));
    line(QStringLiteral("copy.files = 30,") + request.installDirectory);
    line(separator);
    line(QStringLiteral("[SourceDisksFiles]"));
    for (const QString& name : request.fileNames)
        line(name + QStringLiteral("=1"));
    line(separator);
    line(QStringLiteral("[copy.files]"));
    for (const QString& name : request.fileNames)
        line(name);
    return text.toLocal8Bit();
}

QString infFilePath(const InfRequest& request)
{
    return paths::join(request.outputDirectory, request.cabinetName + QStringLiteral(".inf"));
}

Result WriteInfFile(const InfRequest& request)
{
    // Built completely in memory first, then saved in one operation.
    const QByteArray text = composeInf(request);
    return writeWholeFile(infFilePath(request), text);
}

QString infOutcomeLine(const InfRequest& request)
{
    return request.cabinetName + QStringLiteral(".inf can be found in your ") + request.outputDirectory +
           QStringLiteral(" directory.  Task completed successfully");
}

QString infFailureMessage(const InfRequest& request)
{
    return QStringLiteral("There was an error while trying to create ") + request.cabinetName +
           QStringLiteral(".inf");
}

}  // namespace ravelin::distribution
