#pragma once
// Where the installer puts a file: DIRID 30 (the root of the boot drive) is
// "/" prefixed by DESTDIR, the INF's subdirectory is Windows text ("\" and "/"
// both separate), and a file name is one bare component. Names that would lead
// outside the install directory are refused here, in one place.
//
// All functions are pure and thread-safe.
#include <QString>
#include <QStringList>
#include <optional>

namespace ravelin::installer {

// The folders of an INF subdirectory, in order: split at "\\" and "/",
// empty and "." components dropped; nullopt for a ".." component or a NUL.
// Pure.
std::optional<QStringList> destinationComponents(const QString& subdirectory);

// The directory for DIRID 30 and `subdirectory` below `root` (the DESTDIR
// prefix, "" for none): root + "/" + the subdirectory's components joined by
// "/". Empty components are dropped; nullopt for a ".." component. Pure.
std::optional<QString> destinationDirectory(const QString& root, const QString& subdirectory);

// True when `name` may be a file name in the install directory or the name of
// a cabinet beside the INF: not empty, not "." or "..", no "/" or "\", no NUL.
bool isSafeFileName(const QString& name);

// The full destination path of file `name` for DIRID 30 + `subdirectory`,
// or nullopt when either is refused. The result is always the directory
// (with one trailing "/") followed by `name`. Pure.
std::optional<QString> destinationFile(const QString& root, const QString& subdirectory, const QString& name);

} // namespace ravelin::installer
