#pragma once
// Moving a file without ever replacing one: the organise window's move.
//
// Paths are bytes, used exactly as given (no text conversion).
//
// Within a volume the file is renamed with renameat2(RENAME_NOREPLACE)
// (hard link + unlink where the file system lacks that flag). Across volumes
// (EXDEV) a regular file is copied into an output written beside the target
// (io::OutputFile), given the source's owner, permission bits and times,
// flushed, and published under the target name only if that name is still
// free (commit without replacing); only then is the source deleted. A
// symbolic link is moved as a link, never followed; pipes, sockets and
// devices are not copied (EXDEV).
//
// Whatever fails, an existing target is left untouched and the source stays
// where it was (a partly written copy is removed again).
//
// Threads: any thread; no shared state.
#include <string>

namespace ravelin::tools {

// Moves `from` to `to`. Returns 0 on success, else the errno of the step
// that failed (EEXIST when `to` already exists, ENOENT when the source or
// the target directory is missing, EACCES when the target folder may not be
// written, ...); io::reasonText() gives its text.
int moveFileNoReplace(const std::string& from, const std::string& to);

} // namespace ravelin::tools
