#pragma once
// Folders below a chosen folder, opened one component at a time from the one
// before with openat(O_NOFOLLOW|O_DIRECTORY), so that a symbolic link or a
// file standing at any component stops the walk instead of leading the
// writes elsewhere. Used by extraction and by the INF installer.
//
// Components are bytes. Qt-free, reentrant.
#include <cstddef>
#include <string>
#include <vector>

#include "platform/io.h"

namespace ravelin::cabreader {

// Splits `relative` at "/" into its components ("" gives none).
std::vector<std::string> splitPath(const std::string& relative);

// Whether `component` may be one step below a folder: not empty, not "." or
// "..", no "/" and no NUL.
bool isPlainComponent(const std::string& component);

// Opens the folder `components[0]/components[1]/...` below the open folder
// `base`, making each missing one (mode 0777 before the umask) when `create`
// is set. Fails with an invalid Fd, *error set and *failed the index of the
// component that failed: ELOOP when a symbolic link stands there, ENOTDIR for
// another non-folder, ENOENT when it is missing and `create` is not set, or
// the errno of mkdirat/openat. With no components the result is a new
// descriptor on `base` itself.
io::Fd openFolderBelow(int base, const std::vector<std::string>& components, bool create, std::size_t* failed,
                       int* error);

// Opens the folder at `path`, first making it and its missing parents (like
// mkdir -p) when `create` is set. Links in `path` are the caller's and are
// followed. An invalid Fd with *error set on failure.
io::Fd openDirectory(const std::string& path, bool create, int* error);

} // namespace ravelin::cabreader
