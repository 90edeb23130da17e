#pragma once
// CabinetWriter: one cabinet written from files on disk, through the cabinet
// library (cabinet/fci) and real files. The window's Compress Files and
// `ravelin-cab n` both build through it, so the parameters and the sequence
// (create, add, flush, destroy, publish) exist once.
//
// The cabinet is written under a hidden name beside its final path
// (io::OutputFile) and renamed over that path only by a successful close():
// until then, and after any failure or abandon(), an earlier file of that
// name is left exactly as it was and no partial cabinet is left behind. The
// library's temporary "tp" files are removed on every way out.
//
// Paths and stored names are bytes, used as given. No Qt. One writer is
// used by one thread at a time; progress callbacks run on that thread.
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cabinet/fci/fci.h"
#include "platform/io.h"

namespace ravelin::cabwriter {

// Parameters of a cabinet. The defaults are those of every cabinet the
// program writes: one cabinet per build, a new folder after about 900,000
// compressed bytes, set ID 12345, MSZIP.
struct Parameters {
    static constexpr uint32_t kDefaultMaxSize = 999'999'999;
    static constexpr uint32_t kDefaultFolderThreshold = 900'000;
    static constexpr uint16_t kDefaultSetId = 12345;

    uint32_t maxSize = kDefaultMaxSize;
    uint32_t folderThreshold = kDefaultFolderThreshold;
    uint16_t setId = kDefaultSetId;
    uint16_t compression = fci::kCompressMszip; // an FCIAddFile compression type word
    unsigned threads = 0;                       // compression workers; 0: one per processor
    // When set, file dates later than this are clamped to it and every date
    // is taken in UTC (the reproducible-builds convention of
    // SOURCE_DATE_EPOCH). Otherwise dates are the files' local times.
    std::optional<std::time_t> sourceDateEpoch;
};

// The step that failed.
enum class Step {
    None,
    Name,          // the directory or file name of the cabinet is too long (255 bytes each) or empty
    SameFile,      // a source is the cabinet itself
    CreateCabinet, // the cabinet's temporary could not be created beside it
    StartLibrary,  // the library refused to start (no memory, no temporary file)
    AddFile,       // one file could not be added; the writer stays usable
    Compress,      // compressing or storing the data failed (temporary file, memory): fatal
    Flush,         // the cabinet could not be written
    Destroy,       // the library's temporary file could not be closed or removed
    Publish,       // the finished cabinet could not take its final name
    Misuse,        // a call out of order (add before open, after a fatal failure)
};

// failed: the step that failed; path: the file it worked on (a source, or the
// cabinet); error: errno (or io::kNotRegularFile) when the system gave one.
struct Result : io::StepResult<Step> {
    int libraryCode = 0; // fci::FciError of a library step, else 0

    // The reason: the system's (strerror) when there is one, else the
    // library's text ("Failure opening file to be stored in cabinet").
    std::string reason() const;
};

struct Progress {
    enum Kind { FileStarting, BlockWritten } kind = FileStarting;
    const std::string* source = nullptr; // FileStarting: the file about to go in
    uint64_t bytes = 0;                  // BlockWritten: uncompressed bytes of that block
};

class CabinetWriter {
public:
    CabinetWriter();
    ~CabinetWriter(); // abandons a cabinet not closed
    CabinetWriter(const CabinetWriter&) = delete;
    CabinetWriter& operator=(const CabinetWriter&) = delete;

    // Called for each file before it is added and for each data block
    // written; may be empty.
    void setProgress(std::function<void(const Progress&)> progress);

    // Starts the cabinet `path` (directory part and file name at most 255
    // bytes each). Fails with Name, CreateCabinet or StartLibrary, leaving
    // nothing behind.
    Result open(const std::string& path, const Parameters& parameters = {});

    // Adds the file `source` under `storedName` (bytes; a name that is valid
    // UTF-8 with a byte above 127 is marked as UTF-8). A source that is the
    // cabinet being written is refused (SameFile); a source that cannot be
    // opened, is not a regular file or cannot be read fails with AddFile and
    // the writer stays usable; any other failure is fatal (Compress: later
    // adds fail with Misuse and close() fails with Flush, leaving nothing).
    Result add(const std::string& source, const std::string& storedName);

    // Writes the cabinet, ends the library's use of it and gives it its
    // final name. On failure nothing of this cabinet is left, and an earlier
    // file of its name is untouched.
    Result close();

    // Ends without writing: the temporary goes, the final name is untouched.
    void abandon();

    bool isOpen() const { return m_context != nullptr; }
    const std::string& path() const { return m_path; }

private:
    static long statusThunk(uint32_t kind, uint32_t cb1, uint32_t cb2, void* pv);
    static intptr_t openInfoThunk(char* path, uint16_t* date, uint16_t* time, uint16_t* attribs, int* err,
                                  void* pv);
    Result libraryFailure(Step step, const std::string& path) const;

    std::string m_path;
    Parameters m_parameters;
    io::OutputFile m_output;
    io::OutputSet m_outputs; // the cabinet and its temporary, which no source may be
    fci::HFCI m_context = nullptr;
    fci::ERF m_erf;
    bool m_fatal = false;
    std::function<void(const Progress&)> m_progress;
};

// The library's English text for an error code.
std::string libraryText(int code);

} // namespace ravelin::cabwriter
