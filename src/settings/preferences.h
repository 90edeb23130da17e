#pragma once
// The preferences store: the text values kept for the current user under
// organisation "Korvane Corp.", application "Ravelin", group "v6.0".
//
// Storage: QSettings(NativeFormat, UserScope) — on Linux the file
// $XDG_CONFIG_HOME/Korvane Corp./Ravelin.conf (~/.config when unset), section
// [v6.0]. Every value is written as text: integers as decimal text, booleans
// as "1" or "0". Value names compare without regard to case, as registry
// value names do ("aiint" finds a stored "AIInt"); a write replaces the stored
// spelling with the one given.
//
// Reading never fails and never throws: a missing value, a value that is not
// valid text for its kind, a damaged or unreadable file, or a file that is
// not there all give the default the caller passes. Writing reports failure
// through its result (the file cannot be written, e.g. a missing or
// read-only folder) and never throws; callers that do not report settings
// errors may ignore it.
//
// Threads: user-interface thread (QSettings itself is reentrant; each
// Preferences object must stay on the thread that made it).
//
// Typical use:
//     ravelin::settings::Preferences prefs;
//     int n = prefs.readInteger("AIInt", 0);
//     prefs.writeInteger("AIInt", n + 1);
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class QSettings;

namespace ravelin::settings {

// Parses preference text as an integer: optional sign then decimal digits
// ("42", "-3", "+7"), or "0x"/"0X" followed by hexadecimal digits ("0x2",
// "0X1f"). Nothing else is accepted: no spaces, no trailing characters, no
// sign before "0x", and values outside the 32-bit signed range are refused.
// Returns no value when the text is not accepted.
std::optional<int> parseInteger(const QString& text);

class Preferences {
public:
    // Opens the user's store (the group "v6.0" of the native settings).
    Preferences();
    // Opens an INI file at `filePath` with the same layout instead (tests and
    // tools that keep a store elsewhere). The file need not exist.
    explicit Preferences(const QString& filePath);
    // Writes pending changes (see sync()).
    ~Preferences();
    Preferences(const Preferences&) = delete;
    Preferences& operator=(const Preferences&) = delete;

    // True when a value named `name` is stored.
    bool contains(const QString& name) const;

    // The stored text, or `defaultValue` when the value is absent. A value
    // that a hand edit turned into a list ("a, b") reads back joined with ","
    // ("a,b"); any other non-text value reads as absent.
    QString readString(const QString& name, const QString& defaultValue = QString()) const;

    // The stored text parsed by parseInteger(), or `defaultValue` when the
    // value is absent or not accepted ("0x2" reads 2, "two" reads the default).
    int readInteger(const QString& name, int defaultValue) const;

    // readInteger() non-zero; `defaultValue` when absent or not a number.
    bool readBoolean(const QString& name, bool defaultValue) const;

    // Stores `value` as it is. False when the store could not be written.
    bool writeString(const QString& name, const QString& value);
    // Stores the decimal text of `value`.
    bool writeInteger(const QString& name, int value);
    // Stores "1" or "0".
    bool writeBoolean(const QString& name, bool value);

    // Removes the value (any spelling); false when the store could not be written.
    bool remove(const QString& name);

    // Names of every stored value, as stored.
    QStringList names() const;

    // Flushes pending writes to the file; false when it could not be written.
    bool sync();

private:
    QString storedName(const QString& name) const;

    std::unique_ptr<QSettings> m_settings;
};

} // namespace ravelin::settings
