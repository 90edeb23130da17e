#pragma once
// Reading Microsoft cabinets: listing, testing and safe extraction, on top of
// libmspack. No widgets; usable from the command line, the setup program's
// INF installer and the tests.
//
// Every function opens the cabinet afresh, is reentrant (no shared state) and
// may run on any thread. Failures return false and, when `error` is given,
// put a short English reason there naming the step that failed ("cannot open
// cabinet ...: not a cabinet", "checksum error in ...").
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace ravelin::cabreader {

// One file entry of a cabinet, in the cabinet's own order.
struct Entry {
    QString name;              // stored name, decoded as UTF-8 (0x80 attribute) or Latin-1
    uint32_t size = 0;         // uncompressed size in bytes
    uint16_t dosDate = 0;      // FAT date: bits 15-9 year-1980, 8-5 month, 4-0 day
    uint16_t dosTime = 0;      // FAT time: bits 15-11 hour, 10-5 minute, 4-0 seconds/2
    uint16_t attributes = 0;   // DOS attribute bits as stored (0x01 ro, 0x02 hidden,
                               // 0x04 system, 0x20 archive, 0x40 exec, 0x80 UTF-8 name)
};

// Fills `entries` (cleared first) with the cabinet's files. A cabinet with no
// files lists as empty and succeeds.
bool list(const QString& cabinetPath, QList<Entry>* entries, QString* error = nullptr);

// Decompresses every file without writing anything, checking every data
// block's checksum and every file's length. True when all is sound.
bool test(const QString& cabinetPath, QString* error = nullptr);

// Takes the first file whose stored name equals `storedName` (compared
// exactly; failing that, ignoring ASCII letter case) out of the cabinet and
// writes it to `destinationPath` (a full file path; the file is replaced, its
// directory must exist). On failure no partial file is left at
// `destinationPath`.
bool extractFile(const QString& cabinetPath, const QString& storedName,
                 const QString& destinationPath, QString* error = nullptr);

// Extracts every file below `directory` (created when missing). Stored names
// use "/" or "\" as separators; their directories are created below
// `directory`. A name that is empty, absolute, or has a ".." component is
// refused: nothing outside `directory` is ever written, and the whole call
// fails before writing anything. Paths of the files written go to `written`
// when given. A later file of the same name replaces an earlier one.
bool extractAll(const QString& cabinetPath, const QString& directory,
                QStringList* written = nullptr, QString* error = nullptr);

// The relative path below an extraction directory for a stored name ("\"
// turned into "/"), or an empty string when the name is unsafe (empty, begins
// with "/" or "\", contains a ".." or empty component). Pure.
QString safeRelativePath(const QString& storedName);

}  // namespace ravelin::cabreader
