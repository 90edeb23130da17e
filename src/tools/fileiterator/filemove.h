#pragma once
// Moving a file without ever replacing one: the organise window's move.
//
// Within a volume the file is renamed with renameat2(RENAME_NOREPLACE)
// (hard link + unlink where the file system lacks that flag). Across volumes
// (EXDEV) it is copied into a file created with O_EXCL, flushed with fsync,
// given the source's permission bits and times, and only then is the source
// deleted. A symbolic link is moved as a link, never followed.
//
// Whatever fails, an existing target is left untouched and the source stays
// where it was (a partly written copy is removed again).
//
// Threads: any thread; no shared state.
#include <QString>

namespace ravelin::tools {

// Moves `from` to `to`. Returns 0 on success, else the errno of the step
// that failed (EEXIST when `to` already exists, ENOENT when the source or
// the target directory is missing, ...).
int moveFileNoReplace(const QString& from, const QString& to);

} // namespace ravelin::tools
