#pragma once
// The setup program's work apart from its windows: finding its package,
// recognising the pass phrase by the decrypted INF's first line, restoring
// the cabinet and installing.
//
// The package folder is the folder that holds the setup program, wherever it
// was started from; it is only read, so a package on a read-only medium
// works. Every file name from setup.ini is a bare name in that folder; a name
// with a path, "..", or an absolute name is refused, and so is a name that is
// not the bytes of its text (read from setup.ini as U+FFFD).
//
// The decrypted INF and cabinet go into a private work folder (WorkFolder:
// mode 0700 below $TMPDIR), never into the package folder, and the folder is
// removed with them when the program ends, whatever the outcome. A decrypted
// file is written beside its final name and renamed over it when complete.
// The pass phrase keys with its Windows-1252 bytes; one holding a character
// without one fails the decryption (the windows refuse it first).
//
// Paths are bytes (std::string); texts for the user are QString.
// Threads: the caller's (the user-interface thread); no shared state.
#include <QString>
#include <string>
#include <vector>

#include "setup/installer/installer.h"
#include "setup/packagesettings.h"

namespace ravelin::setup {

// The folder that holds the running program: the folder of the file
// /proc/self/exe names, else of argv[0] when that holds a "/", else ".".
// No trailing "/", except for "/" itself.
std::string programFolder(const char* argv0);
// The same rule on given facts (`exeLink`: what /proc/self/exe reads as,
// empty when it cannot be read). Pure.
std::string programFolderFrom(const std::string& exeLink, const std::string& argv0);

// $TMPDIR when it is set and not empty, else "/tmp".
std::string temporaryRoot();

// A private folder for the decrypted files: made by mkdtemp below
// temporaryRoot() (mode 0700, so no other user can read what is decrypted
// into it or plant anything there). remove() and the destructor delete it
// with everything in it; while it exists, the folder and the files named
// through file() are registered with io's signal cleanup, so SIGINT, SIGTERM
// and SIGHUP remove them too. Not copyable.
class WorkFolder {
public:
    WorkFolder() = default;
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    // Makes the folder unless it exists. False with "<reason>" naming the
    // folder it was to be made in and the system's reason.
    bool make(std::string* reason);
    bool exists() const { return !m_path.empty(); }
    // The folder's path; empty until make().
    const std::string& path() const { return m_path; }
    // The path of the bare name `name` in the folder, registered for the
    // signal cleanup. The folder must exist.
    std::string file(const std::string& name);
    // Deletes everything in the folder and the folder. Does nothing when it
    // does not exist; may be called again.
    void remove();

private:
    std::string m_path;
    std::vector<std::string> m_files;
    std::vector<int> m_slots;
};

struct SetupContext {
    std::string packageDirectory; // the folder holding the program and the package (bytes)
    PackageSettings settings;     // read once at start
    std::string settingsError;    // why setup.ini could not be read; empty when it was
    std::string destDir;          // $DESTDIR: prefixes DIRID 30 for packagers
    std::string dirId30;          // the folder DIRID 30 stands for (installer::dirId30Folder())
    std::string installDirectory; // the end user's choice; empty for the INF's own
    WorkFolder work;              // the decrypted files
};

// Fills `context` for the package in `packageDirectory`: reads setup.ini,
// takes DESTDIR from the environment and DIRID 30 for this user.
void loadContext(SetupContext* context, const std::string& packageDirectory);

// The decrypted INF's name: a6 with its extension changed to ".inf".
QString decryptedInfName(const PackageSettings& settings);
// Its path in the work folder (empty while there is none).
std::string decryptedInfPath(const SetupContext& context);

enum class InfCheck {
    Matched,         // the decrypted INF starts with the INF's fixed first line
    WrongPassPhrase, // it decrypted to something else
    Failed,          // no usable encrypted INF, or the INF could not be
                     // written, read back or parsed
};

struct InfCheckResult {
    InfCheck outcome = InfCheck::Failed;
    QString reason; // what failed and the system's reason; empty unless Failed
};

// Makes the work folder and decrypts a6 into the decrypted INF there
// (written whatever the pass phrase, as long as a6 is a regular encrypted
// file: not empty, a multiple of 8 bytes; anything else is refused before
// anything is written), then compares its first line (up to the first CR or
// LF).
InfCheckResult decryptAndCheckInf(SetupContext& context, const QString& passPhrase);

// Decrypts a4 into a5 in the work folder (made by decryptAndCheckInf) and
// checks that the result is a sound cabinet (every data block decompressed
// and checked). False with a reason for a refused or unreadable name, a file
// that is not an encrypted file, a failed decryption, or a result that is not
// a cabinet.
bool decryptCabinet(SetupContext& context, const QString& passPhrase, QString* reason);

// The installer's options: cabinets from the work folder, DESTDIR, DIRID 30
// and the end user's choice.
installer::InstallOptions installOptions(const SetupContext& context);

// Where the files go unless the end user chooses otherwise: the decrypted
// INF's first file list's folder, or (for an INF that names none)
// DESTDIR + DIRID 30 + a7.
std::string defaultInstallDirectory(const SetupContext& context);

// The folder a text typed for the destination stands for: an absolute path
// as it is; a relative one below DESTDIR + DIRID 30, like the INF's own
// (joined with "/", nothing normalised).
std::string typedInstallDirectory(const SetupContext& context, const QString& typed);

// Runs the decrypted INF's [DefaultInstall] with installOptions().
installer::InstallResult install(const SetupContext& context);

} // namespace ravelin::setup
