#pragma once
// Paths between the windows' text and the file system's bytes.
//
// A file name on Linux is bytes; Qt shows and hands over names as text,
// decoding them as UTF-8 and turning every byte that is not UTF-8 into
// U+FFFD. Such text, encoded again, names another path (or none). These
// helpers let a window keep a path's exact bytes where it has them, show
// them faithfully, and refuse text that no longer names the file it came
// from.
//
// Threads: any thread; no shared state.
#include <QByteArray>
#include <QString>

class QUrl;

namespace ravelin::tools {

// The text a window shows for the path `bytes`: UTF-8 decoded, with every
// byte that is not part of valid UTF-8 and every control character (C0,
// DEL, C1) written as \xNN, so that the text is one line, cannot steer a
// terminal, and two different names never show alike.
QString displayPath(const QByteArray& bytes);

// Whether the text `path` (as a file dialog or a drop gave it) names one
// path exactly. Text without U+FFFD does. Text with it does only when each
// component holding U+FFFD exists under its encoded name and no other entry
// of its folder decodes to the same text (such an entry, say one with the
// byte 0xFF, is what the text may stand for). Lists those folders; never
// opens a file.
bool textNamesOnePath(const QString& path);

// The bytes of a local file URL's path exactly as the drag source sent them
// (percent escapes of bytes that are not UTF-8 kept as those bytes). Empty
// for a URL that is not a local file.
QByteArray localFileBytes(const QUrl& url);

// Whether a dropped URL's path survives as text: its bytes equal the
// encoding of QUrl::toLocalFile().
bool localFileSurvivesAsText(const QUrl& url);

// The windows' report of a file that cannot be opened for reading: the
// run-time's "Cannot open file <path>", and for a pipe, socket or device
// (io::kNotRegularFile) the reason after it: "...: not a regular file".
QString cannotOpenFileText(const QString& path, int error);

} // namespace ravelin::tools
