#pragma once
// The setup program's work apart from its windows: recognising the pass
// phrase by the decrypted INF's first line, restoring the cabinet and
// installing. Every file name from setup.ini is a bare name in the working
// directory; a name with a path, "..", or an absolute name is refused, and so
// is a name that is not the bytes of its text (read from setup.ini as U+FFFD).
// A decrypted file is written beside its final name and renamed over it when
// complete, and never where a link or another name of the same file stands.
// The pass phrase keys with its Windows-1252 bytes; one holding a character
// without one fails the decryption (the windows refuse it first).
//
// Threads: the caller's (the user-interface thread); no shared state.
#include <QString>

#include "setup/installer/installer.h"
#include "setup/packagesettings.h"

namespace ravelin::setup {

struct SetupContext {
    QString workingDirectory;  // the package directory
    PackageSettings settings;  // read once at start
};

// The decrypted INF's name: a6 with its extension changed to ".inf".
QString decryptedInfName(const PackageSettings& settings);
QString decryptedInfPath(const SetupContext& context);

enum class InfCheck {
    Matched,          // the decrypted INF starts with the INF's fixed first line
    WrongPassPhrase,  // it decrypted to something else
    Failed,           // no usable encrypted INF, or the INF could not be
                      // written, read back or parsed
};

struct InfCheckResult {
    InfCheck outcome = InfCheck::Failed;
    QString reason;  // English, for the log; empty when Matched
};

// Decrypts a6 into the decrypted INF (written whatever the pass phrase, as
// long as a6 is a regular encrypted file: not empty, a multiple of 8 bytes;
// anything else is refused before anything is written)
// and compares its first line (up to the first CR or LF).
InfCheckResult decryptAndCheckInf(const SetupContext& context, const QString& passPhrase);

// Decrypts a4 into a5 and checks that the result is a sound cabinet (every
// data block decompressed and checked).
// False with a reason for a refused or unreadable name, a file that is not an
// encrypted file, a failed decryption, or a result that is not a cabinet.
bool decryptCabinet(const SetupContext& context, const QString& passPhrase, QString* reason);

// Runs the decrypted INF's [DefaultInstall] with cabinets from the working
// directory and DIRID 30 below $DESTDIR.
installer::InstallResult install(const SetupContext& context);

// The directory the completion message names: the installer's, or (for an INF
// that lists no files) DIRID 30 + a7.
QString installedDirectory(const SetupContext& context, const installer::InstallResult& result);

}  // namespace ravelin::setup
