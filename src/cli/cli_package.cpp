// ravelin-cab inf / package: the distribution wizard's Steps 1 to 3 on the
// command line. inf writes the INF for a cabinet; package builds the
// encrypted setup package (setup.ini, the encrypted INF and SETUP.EXE) around
// it, from the INF that inf wrote. Paths and texts are the bytes of argv.
#include <cstdio>
#include <map>
#include <sys/stat.h>

#include "cli/cli_passphrase.h"
#include "cli/command.h"
#include "distribution/infwriter.h"
#include "distribution/setuppackage.h"
#include "platform/io.h"

namespace ravelin::cli {

namespace {

using Options = std::map<std::string, std::string>;

// The options given, by long name (the last use of each), and the operands;
// -1 when the command should run, else the exit status (see parseArguments).
int parseOptions(const char* command, const Args& args, Options* options, Args* operands)
{
    Parsed parsed;
    if (const int rc = parseArguments(command, args, &parsed); rc >= 0)
        return rc;
    for (const auto& [name, value] : parsed.given)
        (*options)[name] = value;
    *operands = std::move(parsed.operands);
    return -1;
}

bool hasLineBreak(const std::string& text)
{
    return text.find_first_of("\r\n") != std::string::npos;
}

// Texts that become one line of the INF or setup.ini: a line break would
// start a line of the caller's choosing.
bool refuseLineBreaks(const char* command, const Options& options, const std::vector<std::string>& names)
{
    for (const std::string& name : names) {
        const auto it = options.find(name);
        if (it != options.end() && hasLineBreak(it->second)) {
            error(std::string(command) + ": --" + name + " holds a line break (CR or LF): " + it->second);
            return false;
        }
    }
    return true;
}

// The cabinet name names files in DIR: a plain name, nothing that leads out.
bool refuseCabinetName(const char* command, const std::string& cab)
{
    if (!cab.empty() && cab != "." && cab != ".." && cab.find('/') == std::string::npos && !hasLineBreak(cab))
        return true;
    error(std::string(command) +
          ": --cab must be a plain file name (no \"/\", not \".\" or \"..\", no line "
          "break): " +
          cab);
    return false;
}

std::string valueOr(const Options& options, const std::string& name, const std::string& fallback)
{
    const auto it = options.find(name);
    return it == options.end() ? fallback : it->second;
}

void printPath(const std::string& path)
{
    std::printf("%s\n", escaped(path).c_str());
}

int runInf(const Args& args)
{
    Options options;
    Args files;
    if (const int rc = parseOptions("inf", args, &options, &files); rc >= 0)
        return rc;
    if (valueOr(options, "cab", "").empty() || valueOr(options, "dir", "").empty())
        return usage("inf");
    if (!refuseCabinetName("inf", options["cab"]) || !refuseLineBreaks("inf", options, {"install-dir"}))
        return kExitFailure;

    distribution::InfRequest request;
    request.cabinetName = options["cab"];
    request.outputDirectory = options["dir"];
    request.installDirectory = valueOr(options, "install-dir", distribution::kDefaultInstallDirectory);
    const std::string inf = distribution::infFilePath(request);
    // The INF lists bare names, as the cabinet stores them.
    for (const std::string& file : files) {
        const std::string name = io::namePart(file);
        if (hasLineBreak(name)) {
            error("inf: the file name holds a line break (CR or LF): " + file);
            return kExitFailure;
        }
        if (io::sameFile(file, inf)) {
            error("inf: the INF " + inf + " is the listed file " + file);
            return kExitFailure;
        }
        request.fileNames.push_back(name);
    }

    const distribution::Result result = distribution::WriteInfFile(request);
    if (!result.ok()) {
        error("There was an error while trying to create " + request.cabinetName +
              ".inf: " + result.describe());
        return kExitFailure;
    }
    printPath(inf);
    return kExitOk;
}

int runPackage(const Args& args)
{
    Options options;
    Args operands;
    if (const int rc = parseOptions("package", args, &options, &operands); rc >= 0)
        return rc;
    if (!operands.empty() || valueOr(options, "cab", "").empty() || valueOr(options, "dir", "").empty() ||
        (options.count("pass-file") && options["pass-file"].empty()))
        return usage("package");
    if (!refuseCabinetName("package", options["cab"]) ||
        !refuseLineBreaks("package", options, {"title", "description", "readme", "install-dir"}))
        return kExitFailure;

    distribution::SetupPackageRequest request;
    request.cabinetName = options["cab"];
    request.outputDirectory = options["dir"];
    request.installDirectory = valueOr(options, "install-dir", distribution::kDefaultInstallDirectory);
    request.title = valueOr(options, "title", "");
    request.description = valueOr(options, "description", "");
    request.readmeFileName = valueOr(options, "readme", request.readmeFileName);
    const std::string passFile = valueOr(options, "pass-file", "");

    // The INF is what gets encrypted; without it nobody is asked for a phrase.
    const std::string inf = distribution::infFilePath(request.infRequest());
    int why = 0;
    if (!io::statRegular(inf, nullptr, &why)) {
        error("package: the INF " + inf +
              " is needed (write it with \"ravelin-cab inf\"): " + io::reasonText(why));
        return kExitFailure;
    }

    // Nothing the package is made from may be one of the files it writes.
    const std::string ini = distribution::setupIniPath(request);
    const std::string encryptedInf = distribution::encryptedInfPath(request);
    const std::string setupExe = distribution::setupExePath(request);
    const std::pair<const char*, std::string> inputs[] = {
        {"INF", inf},
        {"encrypted cabinet", distribution::packageFilePath(request, request.cabinetName + ".ecf")},
        {"readme", distribution::packageFilePath(request, request.readmeFileName)},
        {"pass-phrase file", passFile},
    };
    for (const std::string& output : {ini, encryptedInf, setupExe}) {
        for (const auto& [role, input] : inputs) {
            if (!input.empty() && (input == output || io::sameFile(input, output))) {
                error("package: the output " + output + " is the " + role + " " + input);
                return kExitFailure;
            }
        }
    }

    // Everything is asked for before anything is written.
    {
        PassPhrase phrase = acceptablePassPhrase(passFile, true);
        if (!phrase.ok) {
            error(phrase.error);
            return kExitFailure;
        }
        request.passPhrase = phrase.text;
        phrase.text.fill(QChar(u'\0'));
    }
    const distribution::Result written = distribution::WriteSetupIni(request);
    if (!written.ok()) {
        request.passPhrase.fill(QChar(u'\0'));
        error("package: cannot write " + written.describe());
        return kExitFailure;
    }
    const distribution::Result encrypted = distribution::WriteEncryptedInf(request);
    request.passPhrase.fill(QChar(u'\0'));
    if (!encrypted.ok()) {
        error("There was an unknown error whilst attempting to encrypt " + inf + ": " + encrypted.describe());
        return kExitFailure;
    }
    distribution::Result extract;
    if (!distribution::ExtractResourceToFile(QLatin1String(distribution::kSetupResourceType),
                                             QLatin1String(distribution::kSetupResourceName), setupExe,
                                             &extract)) {
        error("There was an error while trying to create " + setupExe + ": " + extract.describe());
        return kExitFailure;
    }
    printPath(ini);
    printPath(encryptedInf);
    printPath(setupExe);
    return kExitOk;
}

const Registration infCommand({
    "inf",
    "inf --cab NAME --dir DIR [--install-dir X] FILE...",
    "write DIR/NAME.inf, the INF that installs the bare names of the FILEs, in the given order, "
    "from NAME.cab into X below the root (default myinstall\\directory)",
    runInf,
    {
        {"cab", 0, "NAME", "the cabinet's name without .cab: a plain file name"},
        {"dir", 0, "DIR", "the folder that holds the cabinet and gets the INF"},
        {"install-dir", 0, "X", "where the files go, below the root (default myinstall\\directory)"},
    },
});

const Registration packageCommand({
    "package",
    "package --cab NAME --dir DIR [--install-dir X] [--title T] [--description D] [--readme R] "
    "[--pass-file F]",
    "write the setup package beside DIR/NAME.inf: setup.ini, NAME.in_ (the INF encrypted under a "
    "pass phrase of 16 to 56 characters, read as for encrypt) and SETUP.EXE",
    runPackage,
    {
        {"cab", 0, "NAME", "the cabinet's name without .cab: a plain file name"},
        {"dir", 0, "DIR", "the folder that holds NAME.inf and gets the package"},
        {"install-dir", 0, "X", "where the files go, below the root (default myinstall\\directory)"},
        {"title", 0, "T", "the title the setup program shows"},
        {"description", 0, "D", "the description the setup program shows"},
        {"readme", 0, "R", "the name of the readme file shipped beside the package (default readme.txt)"},
        {"pass-file", 0, "F", "read the pass phrase from the first line of F"},
    },
});

} // namespace

} // namespace ravelin::cli
