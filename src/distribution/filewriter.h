#pragma once
// Writes a whole buffer to a file beside its final name and renames it over
// that name when complete (io::OutputFile), and reports the failed step.
// Internal to the distribution writers. Thread-safe.
#include <QByteArray>

#include <string>
#include <sys/types.h>

#include "distribution/result.h"

namespace ravelin::distribution {

// directory + "/" + name, the bytes concatenated as they are.
std::string joinPath(const std::string& directory, const std::string& name);

// Writes `data` to `path` (bytes). `mode` is the permission of the new file
// (before the umask); `ownerExecute` adds the owner's execute bit whatever
// the umask. An existing file of the name is replaced only once the new one
// is complete; on failure it stays as it was and no partial file is left. A
// link under the name is replaced, never written through; a folder, device,
// pipe or socket under the name, or a link to one, is refused (CreateFile).
Result writeWholeFile(const std::string& path, const QByteArray& data, mode_t mode = 0666,
                      bool ownerExecute = false);

} // namespace ravelin::distribution
