#pragma once
// Reading INF files for the Setup API, as far as the installer needs them.
//
// Model of the text: lines end in CR LF, LF or CR; the text ends at its end
// or at the first NUL byte (a decrypted INF carries zero padding). A ";"
// outside double quotes starts a comment that runs to the line end. A line
// "[name]" opens a section; section names compare ignoring case, and two
// sections of one name form one. Any other non-blank line is an entry:
// an optional key before the first "=" outside quotes, then fields separated
// by commas outside quotes. Keys and fields are trimmed of spaces and tabs;
// a quoted part keeps its spaces, and "" inside quotes is one quote.
// Lines before the first section are ignored. No line continuation, no
// %string% substitution: the files this system writes use neither.
//
// Threads: reentrant, no shared state.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace ravelin::installer {

struct InfEntry {
    int lineNumber = 0;     // 1-based line of the text
    bool hasKey = false;    // an "=" stood outside quotes
    QString key;            // trimmed, quotes removed
    QStringList fields;     // the value (or the whole line) split at commas
    QStringList lineFields; // the whole line split at commas, "=" included as text
};

struct InfSection {
    QString name; // as written in the first header of that name
    QList<InfEntry> entries;
};

class InfDocument {
public:
    QList<InfSection> sections;

    // The section of that name (ignoring case), or nullptr.
    const InfSection* section(const QString& name) const;
    // The first entry of `section` whose key equals `key` (ignoring case),
    // or nullptr when the section or the key is missing.
    const InfEntry* entry(const QString& section, const QString& key) const;
};

// Largest text accepted: INF files are small, and the installer never holds
// more than this in memory for one.
inline constexpr qsizetype kMaxInfSize = 8 * 1024 * 1024;

// Parses `text` into `document` (cleared first). False, with a reason naming
// the line in `error` when given, for a text over kMaxInfSize, a section
// header without its "]", or a quote left open at the line end.
bool parseInf(const QByteArray& text, InfDocument* document, QString* error = nullptr);

// Splits one line's text (comment already removed) at commas outside quotes,
// trimming and unquoting each field. Exposed for the tests.
QStringList splitInfFields(const QString& text);

} // namespace ravelin::installer
