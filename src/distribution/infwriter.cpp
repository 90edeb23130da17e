#include "distribution/infwriter.h"

#include <QFile>

#include "distribution/filewriter.h"
#include "distribution/infformat.h"
#include "platform/constants.h"

namespace ravelin::distribution {

QByteArray composeInf(const InfRequest& request)
{
    std::string text;
    auto line = [&text](const std::string& content) {
        text += content;
        text += kInfLineEnd;
    };
    const std::string separator = " ";

    line(kInfFirstLine);
    line(std::string("; ") + kWebMainPage);
    line(separator);
    line("[version]");
    line("signature=\"$CHICAGO$\"");
    line(separator);
    line("[DefaultInstall]");
    line("CopyFiles = copy.files");
    line(separator);
    line("[SourceDisksNames]");
    line("1=\"Run this from a short file name dir\"," + request.cabinetName + ".cab,0");
    line(separator);
    line("[DestinationDirs]");
    line("copy.files = 30," + request.installDirectory);
    line(separator);
    line("[SourceDisksFiles]");
    for (const std::string& name : request.fileNames)
        line(name + "=1");
    line(separator);
    line("[copy.files]");
    for (const std::string& name : request.fileNames)
        line(name);
    return QByteArray::fromStdString(text);
}

std::string infFilePath(const InfRequest& request)
{
    return joinPath(request.outputDirectory, request.cabinetName + ".inf");
}

Result WriteInfFile(const InfRequest& request)
{
    // Built completely in memory first, then saved in one operation.
    return writeWholeFile(infFilePath(request), composeInf(request));
}

namespace {

QString shown(const std::string& bytes)
{
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

} // namespace

QString infOutcomeLine(const InfRequest& request)
{
    return shown(request.cabinetName) + QStringLiteral(".inf can be found in your ") +
           shown(request.outputDirectory) + QStringLiteral(" directory.  Task completed successfully");
}

QString infFailureMessage(const InfRequest& request)
{
    return QStringLiteral("There was an error while trying to create ") + shown(request.cabinetName) +
           QStringLiteral(".inf");
}

} // namespace ravelin::distribution
