#pragma once
// The one place where paths are put together and taken apart.
//
// Paths are plain text: a directory and a name are joined with one "/" and
// nothing is normalised, trimmed or checked (a directory ending in "/" gives
// "//", which Linux accepts). All functions are pure and thread-safe.
#include <QString>

namespace ravelin::paths {

inline constexpr char16_t separator = u'/';
inline constexpr const char* separatorText = "/";

// directory + "/" + name, concatenated as they are.
QString join(const QString& directory, const QString& name);

// The text after the last "/" (the whole path when there is none).
QString namePart(const QString& path);

// The text up to and including the last "/" (empty when there is none).
QString directoryPart(const QString& path);

// The extension of the path's name part: from its last "." to the end, the
// dot included; empty when the name part has no ".".
QString extension(const QString& path);

// The path with its extension replaced by `newExtension` (which carries its
// own dot, or is empty to drop the extension); appended when there is none.
// "/a/b.cab" + ".ecf" gives "/a/b.ecf"; "/a.d/readme" + ".txt" gives
// "/a.d/readme.txt".
QString changeExtension(const QString& path, const QString& newExtension);

// The directory text with exactly one trailing "/" (used for the list's Path
// column, which always ends in the separator).
QString withTrailingSeparator(const QString& directory);

} // namespace ravelin::paths
