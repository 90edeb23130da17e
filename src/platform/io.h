#pragma once
// The one place where files are read and written with POSIX calls. Every
// engine, window and command goes through it; nothing else loops over
// read()/write() or retries EINTR.
//
// Paths are bytes (std::string), used exactly as given: no text conversion,
// no normalisation. No Qt. Every function is thread-safe unless it says
// otherwise; errors are errno values, plus kNotRegularFile for a path that
// names a pipe, socket, device or folder where a file is read.
//
// Outputs are written beside their final name: OutputFile creates a hidden
// temporary in the same folder (O_EXCL|O_NOFOLLOW|O_CLOEXEC) and renames it
// over the final name only in commit(). Until then an earlier file of the
// final name stays exactly as it was; a failure, a cancel or a destructor
// without commit() removes the temporary. Temporaries are registered so that
// installSignalCleanup()'s handler removes them when the process is stopped
// by SIGINT, SIGTERM or SIGHUP.
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace ravelin::io {

// Error value (beside errno's) for "this path is not a regular file".
inline constexpr int kNotRegularFile = 0x10001;

// The one shape of an engine's outcome: the step that failed (the enum's
// first value, None, means success), the file it worked on (bytes) and the
// system's error (errno, io::kNotRegularFile, or 0). Engines derive their
// result from it and add their own fields.
template <typename StepEnum> struct StepResult {
    StepEnum failed{};
    std::string path;
    int error = 0;

    bool ok() const { return failed == StepEnum{}; }
};

// The run-time's standard text for an error: "File not found", "Path not
// found", "File access denied", "Invalid filename", "Too many open files",
// "Disk full", "File too large", "not a regular file", or "I/O error <n>".
std::string runtimeText(int error);

// The system's own reason (strerror), or "not a regular file".
std::string reasonText(int error);

// "<path>: <reason>" with the path's bytes as they are.
std::string describe(const std::string& path, int error);

// Owns one descriptor; closes it when it goes away.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(Fd&& other) noexcept : m_fd(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd();

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    explicit operator bool() const { return valid(); }
    // Gives the descriptor up without closing it.
    int release();
    // Closes now: 0, or the errno of a failed close (a late write error).
    int close();

private:
    int m_fd = -1;
};

// Reads until `count` bytes are in or the file ends, retrying EINTR and short
// reads. The bytes read (fewer than count only at the end), or -1 with errno.
ssize_t readAll(int fd, void* buffer, std::size_t count);

// Writes all `count` bytes, retrying EINTR and continuing short writes. A
// write that moves 0 bytes counts as ENOSPC. False with errno on failure.
bool writeAll(int fd, const void* buffer, std::size_t count);

// Opens `path` (relative to `dirfd`) for reading. A pipe, socket, device or
// folder is refused with kNotRegularFile without blocking: the open uses
// O_NONBLOCK, checks fstat, then clears it. With `noFollow` a link as the
// last component is refused (ELOOP). An invalid Fd with *error set on failure.
Fd openForReading(const std::string& path, int* error, bool noFollow = false, int dirfd = -100 /*AT_FDCWD*/);

// stat()s `path` following links and checks it is a regular file; false with
// *error set (kNotRegularFile for anything else).
bool statRegular(const std::string& path, struct stat* st, int* error);

// Reads a whole regular file of at most `limit` bytes into `out` (more is an
// EFBIG error). False with *error set.
bool readSmallFile(const std::string& path, std::string* out, std::size_t limit, int* error);

// Whether the two stat results are one file (device and inode).
bool sameFile(const struct stat& a, const struct stat& b);
// Whether `a` and `b` name one existing file, following links. False when
// either does not exist.
bool sameFile(const std::string& a, const std::string& b);

// The files a command is about to write, each stat'ed once, against which its
// inputs are checked: an input that is one of them (same device and inode,
// links followed) would be destroyed by writing it. Outputs that do not exist
// yet match nothing.
class OutputSet {
public:
    OutputSet() = default;
    explicit OutputSet(const std::vector<std::string>& outputs);
    // The index in the outputs of the one `input` is, or -1.
    int find(const std::string& input) const;

private:
    std::vector<std::pair<std::size_t, struct stat>> m_existing; // index and stat of each existing output
};

// Length of the valid UTF-8 sequence that starts at `data[i]` (overlong
// forms, surrogates and values above U+10FFFF are invalid), or 0 when the
// bytes there are not valid UTF-8. `i` must be below `size`.
std::size_t utf8SequenceLength(const char* data, std::size_t size, std::size_t i);
// Whether all `size` bytes are valid UTF-8.
bool isUtf8(const char* data, std::size_t size);

// The part of `path` up to and including its last "/" ("" when none) and the
// part after it.
std::string directoryPart(const std::string& path);
std::string namePart(const std::string& path);
// `path` with the extension of its name part (from the name's last ".")
// replaced by `extension` (which carries its own dot), or `extension`
// appended when the name has none: "/a/b.cab" + ".exe" gives "/a/b.exe",
// "/a.d/readme" + ".ecf" gives "/a.d/readme.ecf".
std::string changeExtension(const std::string& path, const std::string& extension);

// An output file written beside its final name and published by rename.
// One owner at a time; not thread-safe.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Removes the temporary when not committed.
    ~OutputFile();

    // Creates the temporary in the folder of `finalPath` with permission
    // `mode` (before the umask). False with error() set; the final name is
    // not touched either way. "Beside" follows links in the folder part of
    // the path only; a link under the final name itself is replaced by the
    // rename, never written through. A final name that is a folder (EISDIR)
    // or a device, pipe or socket, or a link to one (kNotRegularFile), is
    // refused.
    bool create(const std::string& finalPath, mode_t mode = 0666);
    // Same, for the plain name `name` (no "/") in the open folder `dirfd`
    // (the descriptor is duplicated; the caller keeps its own).
    bool createAt(int dirfd, const std::string& name, mode_t mode = 0666);

    bool isOpen() const { return m_fd.valid(); }
    int fd() const { return m_fd.get(); }
    // The final path as given to create() (or the name for createAt()).
    const std::string& finalPath() const { return m_finalPath; }
    // The temporary's own name (no folder) and its path: the folder part of
    // the final path followed by that name.
    const std::string& temporaryName() const { return m_tempName; }
    std::string temporaryPath() const;

    // Appends bytes; false with error() set.
    bool write(const void* data, std::size_t count);
    bool write(const std::string& data) { return write(data.data(), data.size()); }

    // Closes the descriptor early (for writers that reopen the temporary by
    // path); the temporary stays until commit() or discard().
    bool closeDescriptor();

    // Makes the file durable (fdatasync, unless setSync(false)), closes it,
    // then renames it over the final name. With `noReplace`, an existing
    // final name is kept and the call fails with EEXIST. False with error()
    // set and the temporary removed.
    bool commit(bool noReplace = false);
    // Removes the temporary; the final name is untouched.
    void discard();
    void setSync(bool sync) { m_sync = sync; }

    // errno (or kNotRegularFile) of the last failure; 0 when none.
    int error() const { return m_error; }

private:
    bool fail(int error);

    Fd m_dir;
    Fd m_fd;
    std::string m_finalPath;
    std::string m_finalName;
    std::string m_tempName;
    int m_slot = -1;
    int m_error = 0;
    bool m_sync = true;
};

// Registers a temporary file that the signal handler must remove (the
// cabinet library's "tp" files). The path is copied; paths over 4,095 bytes
// are not registered. Returns a slot for unregisterTemporary, or -1.
int registerTemporary(const std::string& path);
void unregisterTemporary(int slot);
// Unregisters the slot that holds exactly `path`, if any.
void unregisterTemporary(const std::string& path);
// Registers an (empty by then) temporary folder: the handler removes it with
// rmdir after it has removed every registered file, so a folder registered
// before the files in it still goes. Unregister it like a file.
int registerTemporaryFolder(const std::string& path);

// Installs the process's handlers: SIGXFSZ is ignored (an over-large write
// then fails with EFBIG, "File too large"), and SIGINT, SIGTERM and SIGHUP
// remove every registered temporary and then end the process by the same
// signal. Call once from main(), before any output is created.
void installSignalCleanup();

} // namespace ravelin::io
