#pragma once
// The package description the setup program reads once at start from
// setup.ini in its package folder: section [General], keys a1..a7.
//
// Reading follows the profile-file rules: section and key names ignore
// case, the first occurrence of a key counts, blanks around a value are
// dropped and one pair of enclosing quotes is removed. A key present with an
// empty value is empty; a missing key (or a missing file) takes its default.
//
// Threads: reentrant.
#include <QByteArray>
#include <QString>
#include <string>

namespace ravelin::setup {

struct PackageSettings {
    QString title = QStringLiteral("Vaultline");          // a1
    QString description;                                  // a2
    QString readmeFileName;                               // a3
    QString encryptedCabinet;                             // a4 (.ecf)
    QString cabinet;                                      // a5 (.cab)
    QString encryptedInf;                                 // a6 (.in_)
    QString installDirectory = QStringLiteral("Unknown"); // a7
};

// The name of the package description in the package folder.
inline constexpr const char* kSetupIniName = "setup.ini";

// Settings from setup.ini text.
PackageSettings parseSetupIni(const QByteArray& text);

// Settings from `directory`/setup.ini (`directory` is bytes); all defaults
// when it cannot be read or is not a regular file (a pipe there is never
// waited on), and then "<path>: <reason>" in `error` when given (cleared on
// success).
PackageSettings readSetupIni(const std::string& directory, std::string* error = nullptr);

} // namespace ravelin::setup
