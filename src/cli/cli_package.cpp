// ravelin-cab inf / package: the distribution wizard's Steps 1 to 3 on the
// command line. inf writes the INF for a cabinet; package builds the
// encrypted setup package (setup.ini, the encrypted INF and SETUP.EXE) around
// it, from the INF that inf wrote.
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <map>

#include "cli/cli_passphrase.h"
#include "cli/command.h"
#include "distribution/infwriter.h"
#include "distribution/setuppackage.h"
#include "platform/paths.h"

namespace ravelin::cli {

namespace {

// Options "--name VALUE" or "--name=VALUE" from `allowed`, the rest as
// operands ("--" ends the options). False on an unknown option or a missing
// value.
bool parseOptions(const char* command, const QStringList& args, const QStringList& allowed,
                  std::map<QString, QString>* options, QStringList* operands)
{
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (optionsEnded || !a.startsWith(QLatin1String("--"))) {
            *operands << a;
            continue;
        }
        if (a == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        const qsizetype equals = a.indexOf(u'=');
        const QString name = equals < 0 ? a.mid(2) : a.mid(2, equals - 2);
        if (!allowed.contains(name)) {
            error(QStringLiteral("%1: unknown option %2").arg(QLatin1String(command), a));
            return false;
        }
        if (equals >= 0) {
            (*options)[name] = a.mid(equals + 1);
        } else {
            if (++i >= args.size())
                return false;
            (*options)[name] = args.at(i);
        }
    }
    return true;
}

void printPath(const QString& path)
{
    std::printf("%s\n", QFile::encodeName(path).constData());
}

int runInf(const QStringList& args)
{
    std::map<QString, QString> options;
    QStringList files;
    if (!parseOptions("inf", args, {"cab", "dir", "install-dir"}, &options, &files))
        return usage("inf");
    if (options["cab"].isEmpty() || options["dir"].isEmpty())
        return usage("inf");

    distribution::InfRequest request;
    request.cabinetName = options["cab"];
    request.outputDirectory = options["dir"];
    request.installDirectory = options.count("install-dir")
                                   ? options["install-dir"]
                                   : QLatin1String(distribution::kDefaultInstallDirectory);
    // The INF lists bare names, as the cabinet stores them.
    for (const QString& file : files)
        request.fileNames << paths::namePart(file);

    const distribution::Result result = distribution::WriteInfFile(request);
    if (!result.ok()) {
        error(distribution::infFailureMessage(request) + QStringLiteral(": ") + result.text());
        return kExitFailure;
    }
    printPath(distribution::infFilePath(request));
    return kExitOk;
}

int runPackage(const QStringList& args)
{
    std::map<QString, QString> options;
    QStringList operands;
    if (!parseOptions("package", args,
                      {"cab", "dir", "install-dir", "title", "description", "readme", "pass-file"}, &options,
                      &operands))
        return usage("package");
    if (!operands.isEmpty() || options["cab"].isEmpty() || options["dir"].isEmpty() ||
        (options.count("pass-file") && options["pass-file"].isEmpty()))
        return usage("package");

    distribution::SetupPackageRequest request;
    request.cabinetName = options["cab"];
    request.outputDirectory = options["dir"];
    request.installDirectory = options.count("install-dir")
                                   ? options["install-dir"]
                                   : QLatin1String(distribution::kDefaultInstallDirectory);
    request.title = options["title"];
    request.description = options["description"];
    if (options.count("readme"))
        request.readmeFileName = options["readme"];

    // The INF is what gets encrypted; without it nobody is asked for a phrase.
    const QString inf = distribution::infFilePath(request.infRequest());
    if (!QFileInfo(inf).isFile()) {
        error(QStringLiteral("package: %1 does not exist (write it with \"ravelin-cab inf\")").arg(inf));
        return kExitFailure;
    }

    const distribution::Result ini = distribution::WriteSetupIni(request);
    if (!ini.ok()) {
        error(QStringLiteral("package: ") + ini.text());
        return kExitFailure;
    }
    {
        PassPhrase phrase = acceptablePassPhrase(options["pass-file"], true);
        if (!phrase.ok) {
            error(phrase.error);
            return kExitFailure;
        }
        request.passPhrase = phrase.text;
        phrase.text.fill(QChar(u'\0'));
    }
    const distribution::Result encrypted = distribution::WriteEncryptedInf(request);
    request.passPhrase.fill(QChar(u'\0'));
    if (!encrypted.ok()) {
        error(distribution::encryptionFailureMessage(request) + QStringLiteral(": ") + encrypted.text());
        return kExitFailure;
    }
    distribution::Result extract;
    const QString setupExe = distribution::setupExePath(request);
    if (!distribution::ExtractResourceToFile(QLatin1String(distribution::kSetupResourceType),
                                             QLatin1String(distribution::kSetupResourceName), setupExe,
                                             &extract)) {
        error(distribution::setupProgramFailureMessage(setupExe) + QStringLiteral(": ") + extract.text());
        return kExitFailure;
    }
    printPath(distribution::setupIniPath(request));
    printPath(distribution::encryptedInfPath(request));
    printPath(setupExe);
    return kExitOk;
}

const Registration infCommand({
    "inf",
    "inf --cab NAME --dir DIR [--install-dir X] FILE...",
    "write DIR/NAME.inf, the INF that installs the bare names of the FILEs, in the given order, "
    "from NAME.cab into X below the root (default myinstall\\directory)",
    runInf,
});

const Registration packageCommand({
    "package",
    "package --cab NAME --dir DIR [--install-dir X] [--title T] [--description D] [--readme R] "
    "[--pass-file F]",
    "write the setup package beside DIR/NAME.inf: setup.ini, NAME.in_ (the INF encrypted under a "
    "pass phrase of 16 to 56 characters, read as for encrypt) and SETUP.EXE",
    runPackage,
});

} // namespace

} // namespace ravelin::cli
