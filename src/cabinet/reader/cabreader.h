#pragma once
// Reading Microsoft cabinets: listing, testing and safe extraction, on top of
// libmspack. Qt-free; used by the command line, the setup program's INF
// installer and the tests.
//
// Paths and stored names are bytes (std::string) taken and given back exactly:
// a stored name that is not UTF-8 extracts to a file named by those very
// bytes, and two names that differ in any byte stay two files.
//
// The cabinet is opened once, with io::openForReading (a pipe, socket or
// device is refused with "not a regular file", never by blocking), and every
// later read goes through that descriptor: libmspack never reopens the path.
//
// A cabinet need not start the file: when the file does not begin with
// "MSCF", it is searched for the first "MSCF" whose header is plausible
// (version 1.3, a length that fits in the rest of the file, a file list
// inside it) and that libmspack reads, so a self-extracting executable (an
// extractor's bytes, then the cabinet's) opens like the cabinet it holds.
//
// Cabinet sets: a cabinet whose header names a previous or next cabinet
// (szCabinetPrev, szCabinetNext) is joined with it, and so on to both ends
// of the set. Each neighbour is looked for in the folder of the cabinet that
// names it, under the stored name (failing that, under the one name there
// that equals it ignoring ASCII case); a stored name with "/" or "\" is
// refused. The set is one cabinet to the caller: entries() and folders()
// cover all of it, and a folder split across cabinets is one folder.
//
// One pass: testing and extraction decompress each folder at most once, in
// the cabinet's folder order, with its files sorted by offset. Files whose
// ranges coincide or overlap are served from one decompression of the union
// of their ranges (held in memory when small, else in an anonymous temporary
// file beside the outputs), so the cost grows with the folders' sizes plus
// the files' sizes, whatever order and offsets the cabinet's file list holds.
//
// Outputs never leave their folder: each folder below the extraction folder
// is opened (or made) from the one before with O_NOFOLLOW|O_DIRECTORY, so a
// symbolic link or a file at any component is refused; files are written
// with io::OutputFile beside their final name and renamed over it when
// complete, so a failure never empties an existing file of that name and
// leaves no partial file. A link standing under a final name is replaced by
// the rename, never written through. A destination that is the cabinet or
// another file of its set (same device and inode) is refused before anything
// is written.
//
// Errors are one English line naming the file, ending with the system's
// reason (strerror) or libmspack's ("checksum error", "not a cabinet", ...).
//
// Threads: a Cabinet belongs to one thread at a time; the free functions are
// reentrant (no shared state).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace ravelin::cabreader {

// One file entry of a cabinet, in the cabinet's own order.
struct Entry {
    std::string name;        // stored name, its bytes as they are in the cabinet
    uint32_t size = 0;       // uncompressed size in bytes
    uint16_t dosDate = 0;    // FAT date: bits 15-9 year-1980, 8-5 month, 4-0 day
    uint16_t dosTime = 0;    // FAT time: bits 15-11 hour, 10-5 minute, 4-0 seconds/2
    uint16_t attributes = 0; // DOS attribute bits as stored (0x01 ro, 0x02 hidden,
                             // 0x04 system, 0x20 archive, 0x40 exec, 0x80 UTF-8 name)
    std::size_t folder = 0;  // index into Cabinet::folders()
};

// One folder (compressed stream) of a cabinet or cabinet set.
struct Folder {
    // The folder's typeCompress: bits 0-3 the method (0 none, 1 MSZIP,
    // 2 Quantum, 3 LZX), bits 8-12 its window bits (LZX) or level (Quantum).
    uint16_t compression = 0;
};

// How extract() treats the files it writes.
struct ExtractOptions {
    // When false, a file that already stands under a destination's name is
    // kept as it is (its displayPath goes to ExtractReport::kept) and the
    // others are still written; a new file is published with a rename that
    // never replaces, so one that appears meanwhile is kept too.
    bool replace = true;
    // Each file gets its entry's stored date and time, taken as local time,
    // as its modification time (a date that is not a calendar date is left
    // alone).
    bool restoreDates = false;
    // Read-only entries (attribute 0x01) are written without write
    // permission (mode 0444 before the umask).
    bool readOnly = false;
};

struct ExtractReport {
    std::vector<std::string> written; // displayPaths of the files committed, in order
    std::vector<std::string> kept;    // displayPaths left as they were (replace == false)
};

// Where one entry goes.
struct Destination {
    std::size_t entry = 0;    // index into Cabinet::entries()
    int directory = -1;       // an open folder; the caller keeps it open during extract()
    std::string relativePath; // "name" or "a/b/name" below `directory`: no empty,
                              // "." or ".." component; missing folders are made
    std::string displayPath;  // how messages and the `written` list name the file
};

// An opened cabinet.
class Cabinet {
public:
    Cabinet();
    ~Cabinet();
    Cabinet(const Cabinet&) = delete;
    Cabinet& operator=(const Cabinet&) = delete;

    // Opens the cabinet at `path` (or the one a longer file holds, see
    // above), joins the rest of its set, and reads the file list. A
    // well-formed cabinet without files opens with no entries. False with
    // *error set: "cannot open cabinet <path>: <reason>" for `path` itself;
    // "cannot open cabinet <neighbour> (the next cabinet after <path>):
    // <reason>" (or "previous ... before") for a missing or unreadable
    // member of the set; "cannot join cabinet <neighbour> to <path>:
    // <reason>" for one that is not part of the set.
    bool open(const std::string& path, std::string* error);

    // The path given to open().
    const std::string& path() const;
    // Every file of the set in order, `path()` among them; one for a lone
    // cabinet (none before a successful open).
    const std::vector<std::string>& cabinetPaths() const;
    const std::vector<Entry>& entries() const;
    const std::vector<Folder>& folders() const;
    // The status of the file given to open() (device and inode name the
    // cabinet itself).
    const struct stat& status() const;

    // The first entry whose name equals `storedName` byte for byte; failing
    // that, the first that equals it with "\" and "/" taken as one and ASCII
    // letters compared ignoring case.
    std::optional<std::size_t> find(const std::string& storedName) const;

    // Decompresses every file without writing anything, checking every data
    // block's checksum and every file's length. True when all is sound.
    bool test(std::string* error);

    // Writes each destination's entry (an entry may have several
    // destinations). Every destination is checked before anything is written:
    // a symbolic link or a file standing where a folder goes, a folder
    // standing under a file's name, or a destination that is a file of the
    // set refuses the whole call. Then the entries are taken out in one pass;
    // each file is committed as soon as it is complete and its displayPath
    // appended to `written` (when given). On a failure the files already
    // committed stay, the one being written is removed, and the call stops.
    bool extract(const std::vector<Destination>& destinations, std::vector<std::string>* written,
                 std::string* error);
    // The same, with `options`; `report` (when given) receives the files
    // written and kept. A destination that is a file of the set is refused
    // whatever the options.
    bool extract(const std::vector<Destination>& destinations, const ExtractOptions& options,
                 ExtractReport* report, std::string* error);

    // Extracts the entries listed in `selection` (indices into entries())
    // below `directory` (made, with its parents, when missing), each under
    // safeRelativePath() of its stored name; displayPaths are `directory`,
    // "/" and that path. Every selected name is checked before anything is
    // written: one that safeRelativePath() refuses fails the whole call. Of
    // several selected entries with one name, the last is written.
    bool extractBelow(const std::string& directory, const std::vector<std::size_t>& selection,
                      const ExtractOptions& options, ExtractReport* report, std::string* error);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Fills `entries` (cleared first) with the cabinet's files. A cabinet with no
// files lists as empty and succeeds.
bool list(const std::string& cabinetPath, std::vector<Entry>* entries, std::string* error = nullptr);

// Cabinet::test on the cabinet at `cabinetPath`.
bool test(const std::string& cabinetPath, std::string* error = nullptr);

// Takes the entry that Cabinet::find() gives for `storedName` out of the
// cabinet and writes it to `destinationPath` (a full file path whose folder
// must exist; links in that folder part are the caller's and are followed).
// An existing file of that name is replaced only once the new one is
// complete; a failure leaves no partial file.
bool extractFile(const std::string& cabinetPath, const std::string& storedName,
                 const std::string& destinationPath, std::string* error = nullptr);

// Extracts every file below `directory` (made, with its parents, when
// missing). Stored names use "/" or "\" as separators; their folders are made
// below `directory`. A name that safeRelativePath() refuses fails the whole
// call before anything is written. A later file of the same name replaces an
// earlier one. The paths written go to `written` when given.
bool extractAll(const std::string& cabinetPath, const std::string& directory,
                std::vector<std::string>* written = nullptr, std::string* error = nullptr);

// The relative path below an extraction folder for a stored name ("\" turned
// into "/"), or an empty string when the name is unsafe (empty, begins with
// "/" or "\", has an empty, "." or ".." component, or holds a NUL). Pure.
std::string safeRelativePath(const std::string& storedName);

} // namespace ravelin::cabreader
