#pragma once
// The encrypted setup package built around an encrypted cabinet:
//   setup.ini     eight lines, section General, keys a1..a7 (WriteSetupIni)
//   <cab>.in_     the INF encrypted with the pass phrase (WriteEncryptedInf)
//   SETUP.EXE     the setup program carried as resource :/IMAGE/SETUP
//                 (ExtractResourceToFile)
// Together with <cab>.ecf and the readme they form the five files shipped to
// the end user, all in one directory; setup.ini names them without a path.
//
// Every file is written beside its final name and renamed over it when
// complete: a failure leaves an earlier file as it was and no partial file,
// and a link standing under a name is replaced, never written through. Texts
// and paths are bytes, as for the INF (infwriter.h).
//
// Threads: all functions are reentrant.
#include <QByteArray>
#include <QString>

#include <string>

#include "distribution/infwriter.h"
#include "distribution/result.h"

namespace ravelin::distribution {

struct SetupPackageRequest {
    std::string cabinetName; // as for the INF (wizard Step 1)
    std::string outputDirectory;
    std::string installDirectory;
    std::string title;                         // a1 (Step 2)
    std::string description;                   // a2
    std::string readmeFileName = "readme.txt"; // a3
    QString passPhrase;                        // the key, one Windows-1252 byte per character (Step 3)

    // The INF request with the same cabinet name and directories.
    InfRequest infRequest() const { return InfRequest{cabinetName, outputDirectory, installDirectory, {}}; }
};

// Resource type and name of the embedded setup program (":/IMAGE/SETUP").
inline constexpr const char* kSetupResourceType = "IMAGE";
inline constexpr const char* kSetupResourceName = "SETUP";

// output directory + "/" + name: a file of the package's directory.
std::string packageFilePath(const SetupPackageRequest& request, const std::string& name);

// output directory + "/setup.ini".
std::string setupIniPath(const SetupPackageRequest& request);
// The eight lines "[General]", "a1=<title>", ... "a7=<install directory>",
// each ending in CR LF; a4..a6 are always derived from the cabinet name.
QByteArray composeSetupIni(const SetupPackageRequest& request);
// Writes setup.ini, replacing any existing file whole. The result's text()
// is the general error report's wording.
Result WriteSetupIni(const SetupPackageRequest& request);

// The INF path with its ".inf" replaced by ".in_": <dir>/<cab>.in_.
std::string encryptedInfPath(const SetupPackageRequest& request);
// Encrypts the INF on disk (infFilePath) into encryptedInfPath() with a fresh
// Blowfish cipher in ECB mode keyed by the pass phrase (zero padding to a
// multiple of 8, no header). The plain INF stays. A pass phrase holding a
// character without a Windows-1252 byte fails (Encrypt) before anything is
// written; so does an output that is the INF itself.
Result WriteEncryptedInf(const SetupPackageRequest& request);
// "There was an unknown error whilst attempting to encrypt <dir>/<cab>.inf"
QString encryptionFailureMessage(const SetupPackageRequest& request);

// output directory + "/SETUP.EXE".
std::string setupExePath(const SetupPackageRequest& request);
// Writes the embedded resource ":/<type>/<name>" to `filePath` (bytes),
// replacing an existing file once the new one is complete, and gives it the
// owner's execute permission. Returns false without touching the file system
// when the resource is missing or empty; on any later failure nothing is left
// behind and an earlier file stays as it was. `failure`, when given,
// receives the failed step.
bool ExtractResourceToFile(const QString& resourceType, const QString& resourceName,
                           const std::string& filePath, Result* failure = nullptr);
// The embedded setup program's bytes (empty when the build carries none).
QByteArray setupProgramImage();
// "There was an error while trying to create <path>" for a SETUP.EXE that
// could not be written.
QString setupProgramFailureMessage(const std::string& filePath);

} // namespace ravelin::distribution
