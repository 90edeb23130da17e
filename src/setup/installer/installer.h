#pragma once
// The INF installer that the setup program's "Install" stands for.
//
// It runs the [DefaultInstall] section of an INF file: every section named by
// its CopyFiles entry lists files ("dest[,source]" or "@name" directly in
// CopyFiles); [DestinationDirs] gives each list's directory as
// "<dirid>,<subdirectory>" (falling back to DefaultDestDir);
// [SourceDisksFiles] puts each source file on a disk ("name=<disk>") and
// [SourceDisksNames] names that disk's cabinet ("<disk>=<description>,<cab>,...").
// Each file is taken out of its cabinet, which lies in the source directory.
//
// The INF's paths are Windows text: "\" and "/" in its subdirectories
// separate folders. The only directory id is 30, the root of the boot drive:
// the options' dirId30 folder ("/" for root, the home folder for everyone
// else: dirId30Folder()), prefixed by their DESTDIR. The end user may choose
// another folder for the files (installDirectory). A file name, cabinet
// name or subdirectory that holds "..", a file or cabinet name with "/" or
// "\", and an absolute file or cabinet name are refused: nothing is ever
// written outside the install directory.
//
// Paths on disk are bytes: the source directory, DESTDIR, the folders and
// the files written are std::string, used as given; names from the INF (text)
// become their UTF-8 bytes. Below DIRID 30's folder (or the chosen folder)
// each folder is opened from the one before with O_NOFOLLOW|O_DIRECTORY, so
// a symbolic link (or a file) standing where a folder goes is refused, never
// followed; links in DIRID 30's folder or the chosen folder themselves are
// the user's and are followed.
//
// The whole install is planned and checked first (every name, every file
// present in its cabinet, no link in the way, no destination that is one of
// the cabinets); only then is anything written, so an INF that fails its
// checks writes nothing. Each cabinet is read once for all of its files, in
// one pass. A failure while writing leaves the files written before it; none
// is ever left half-written, and an existing file is replaced only by a
// complete one.
//
// Synchronous; reentrant (no shared state), any thread.
#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "platform/io.h"
#include "setup/installer/installpaths.h"

namespace ravelin::installer {

enum class InstallStep {
    None,             // success
    ReadInf,          // the INF file could not be read
    ParseInf,         // the INF text is malformed
    NoDefaultInstall, // there is no [DefaultInstall] section
    Destination,      // a list has no usable [DestinationDirs] entry
    RefusedName,      // a name would lead outside the install directory
    SourceDisk,       // a file has no disk, or the disk no cabinet
    OpenCabinet,      // a cabinet is missing or is not a cabinet
    MissingFile,      // a listed file is not in its cabinet
    CreateDirectory,  // the install directory could not be created
    SameFile,         // a destination is one of the cabinets being read
    Extract,          // writing a file failed
};

struct InstallOptions {
    std::string sourceDirectory; // where the cabinets lie (bytes)
    std::string destDir;         // prefix of DIRID 30's folder ("" for none; bytes): $DESTDIR
    std::string dirId30 = "/";   // the folder DIRID 30 stands for, absolute (bytes)
    // When not empty: the folder (absolute, bytes, used as given without
    // destDir) that takes the place of the first file list's directory. A
    // list whose directory lies below that one moves with it; any other list
    // keeps its place.
    std::string installDirectory;
};

// failed: the step that failed (None on success); path: the file or folder
// it worked on when there is one (bytes); error: the system's errno when it
// gave one, else 0.
struct InstallResult : io::StepResult<InstallStep> {
    QString reason;                   // English, names what failed; empty on success
    QString installDirectory;         // the directory of the first file list, for
                                      // display (also set when a later step failed)
    std::vector<std::string> written; // full paths of the files written, in
                                      // the order they were completed
};

// Runs [DefaultInstall] of the INF file at `infPath`.
InstallResult installInf(const std::string& infPath, const InstallOptions& options);

// The same on INF text already in memory.
InstallResult installInfText(const QByteArray& infText, const InstallOptions& options);

// The options a program uses: cabinets beside the INF, DESTDIR from the
// environment, DIRID 30 from dirId30Folder().
InstallOptions defaultOptions(const std::string& infPath);

// The folder DIRID 30 (the root of the boot drive) stands for when this
// process installs: "/" for root (effective uid 0); for everyone else the
// home folder, which is $HOME when that is an absolute path, else the
// password database's entry for the real uid, else "/".
std::string dirId30Folder();
// The same rule on given facts (`home`: $HOME or null; `passwdHome`: the
// password database's home folder or null). Pure.
std::string dirId30FolderFor(uid_t effectiveUid, const char* home, const char* passwdHome);

// DESTDIR + DIRID 30's folder of `options`: one "/" between them, no
// trailing "/" but for "/" itself. Pure.
std::string dirId30Path(const InstallOptions& options);

// The folder the first file list of `infText` goes to with `options` (the
// destination the completion message names), or nullopt with `reason` set
// when the INF cannot be parsed, names no usable directory or lists none.
// Writes nothing.
std::optional<std::string> plannedInstallDirectory(const QByteArray& infText, const InstallOptions& options,
                                                   QString* reason = nullptr);

} // namespace ravelin::installer
