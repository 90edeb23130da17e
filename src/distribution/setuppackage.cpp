#include "distribution/setuppackage.h"

#include <QFile>

#include "crypto/blowfish.h"
#include "distribution/filewriter.h"
#include "distribution/infformat.h"

namespace ravelin::distribution {

namespace {

QString shown(const std::string& bytes)
{
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

} // namespace

std::string packageFilePath(const SetupPackageRequest& request, const std::string& name)
{
    return joinPath(request.outputDirectory, name);
}

std::string setupIniPath(const SetupPackageRequest& request)
{
    return packageFilePath(request, "setup.ini");
}

QByteArray composeSetupIni(const SetupPackageRequest& request)
{
    const std::string& cab = request.cabinetName;
    const std::string lines[] = {
        "[General]",
        "a1=" + request.title,
        "a2=" + request.description,
        "a3=" + request.readmeFileName,
        "a4=" + cab + ".ecf",
        "a5=" + cab + ".cab",
        "a6=" + cab + ".in_",
        "a7=" + request.installDirectory,
    };
    std::string text;
    for (const std::string& line : lines)
        text += line + kInfLineEnd;
    return QByteArray::fromStdString(text);
}

Result WriteSetupIni(const SetupPackageRequest& request)
{
    return writeWholeFile(setupIniPath(request), composeSetupIni(request));
}

std::string encryptedInfPath(const SetupPackageRequest& request)
{
    // The ".inf" the INF path ends with becomes ".in_"; a dot in the cabinet
    // name stays.
    return joinPath(request.outputDirectory, request.cabinetName + ".in_");
}

QString encryptionFailureMessage(const SetupPackageRequest& request)
{
    return QStringLiteral("There was an unknown error whilst attempting to encrypt ") +
           shown(infFilePath(request.infRequest()));
}

std::string setupExePath(const SetupPackageRequest& request)
{
    return joinPath(request.outputDirectory, "SETUP.EXE");
}

QString setupProgramFailureMessage(const std::string& filePath)
{
    return QStringLiteral("There was an error while trying to create ") + shown(filePath);
}

QByteArray setupProgramImage()
{
    QFile resource(
        QStringLiteral(":/%1/%2").arg(QLatin1String(kSetupResourceType), QLatin1String(kSetupResourceName)));
    if (!resource.open(QIODevice::ReadOnly))
        return QByteArray();
    return resource.readAll();
}

namespace {

Result extract(const QString& resourceType, const QString& resourceName, const std::string& filePath)
{
    QFile resource(QStringLiteral(":/%1/%2").arg(resourceType, resourceName));
    if (!resource.open(QIODevice::ReadOnly))
        return Result::failure(Step::FindResource, resource.fileName().toStdString());
    const QByteArray bytes = resource.readAll();
    if (bytes.isEmpty())
        return Result::failure(Step::FindResource, resource.fileName().toStdString());
    // The setup program must be runnable by its owner whatever the umask.
    return writeWholeFile(filePath, bytes, 0777, true);
}

} // namespace

bool ExtractResourceToFile(const QString& resourceType, const QString& resourceName,
                           const std::string& filePath, Result* failure)
{
    const Result result = extract(resourceType, resourceName, filePath);
    if (failure)
        *failure = result;
    return result.ok();
}

Result WriteEncryptedInf(const SetupPackageRequest& request)
{
    const std::string input = infFilePath(request.infRequest());
    const std::string output = encryptedInfPath(request);
    try {
        // A fresh cipher for every package: nothing of an earlier run is reused.
        crypto::TBlowFish cipher;
        cipher.setInputType(crypto::TBlowFish::SourceFile);
        cipher.setInputFilePathBytes(input);
        cipher.setOutputFilePathBytes(output);
        cipher.setKey(request.passPhrase);
        cipher.setCipherMode(crypto::TBlowFish::ECBMode);
        cipher.Encrypt(false);
    } catch (const crypto::EInOutError& e) {
        const io::StepResult<crypto::IoStep>& r = e.result();
        Step step = Step::Encrypt;
        if (r.failed == crypto::IoStep::Create)
            step = Step::CreateFile;
        else if (r.failed == crypto::IoStep::Write)
            step = Step::WriteFile;
        else if (r.failed == crypto::IoStep::Close)
            step = Step::CloseFile;
        else if (r.path == input)
            step = Step::OpenInput;
        return Result::failure(step, r.path, r.error);
    } catch (const std::exception&) {
        return Result::failure(Step::Encrypt, input);
    }
    return Result::success();
}

} // namespace ravelin::distribution
