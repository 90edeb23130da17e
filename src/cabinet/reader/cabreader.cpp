#include "cabinet/reader/cabreader.h"

#include <mspack.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <new>
#include <unistd.h>
#include <unordered_map>

#include "cabinet/reader/folders.h"
#include "platform/io.h"

namespace ravelin::cabreader {

namespace {

// Limits as libmspack applies them when it extracts (its cab.h): a data block
// expands to at most 32 KiB, and no file reaches past 65,535 such blocks.
constexpr off_t kBlockMax = 32768;
constexpr off_t kLengthMax = kBlockMax * 65535;

// Overlapping files are served from their union, held in memory up to this
// size and in an anonymous temporary file beyond it.
constexpr off_t kMemoryUnionLimit = 16 << 20;
constexpr std::size_t kCopyChunk = 256 * 1024;

// The names libmspack is given: "(cabinet N)" for the Nth file of a set
// (see Part), and "the output of the current extraction". libmspack opens
// files only through our callbacks, which map these names to the parts'
// descriptors and to the current sink; no path is ever opened again by name.
constexpr char kOutputName[] = "(output)";

// The fixed part of a cabinet header (CFHEADER without its optional
// fields): signature, lengths and offsets up to iCabinet.
constexpr std::size_t kHeaderSize = 36;
// Where the cabinet is looked for in a file that does not start with one.
constexpr std::size_t kScanChunk = 64 * 1024;

// ---- where decompressed bytes go ---------------------------------------

class Sink {
public:
    virtual ~Sink() = default;
    bool put(const void* data, std::size_t count)
    {
        if (!write(data, count))
            return false;
        m_count += count;
        return true;
    }
    // Bytes taken so far.
    uint64_t count() const { return m_count; }

    int error = 0;          // errno of a failed write
    std::string failedPath; // the file it failed on

protected:
    virtual bool write(const void* data, std::size_t count) = 0;

private:
    uint64_t m_count = 0;
};

class DiscardSink : public Sink {
    bool write(const void*, std::size_t) override { return true; }
};

using Outputs = std::vector<std::pair<std::unique_ptr<io::OutputFile>, const Destination*>>;

// Every output of one entry gets the same bytes.
class OutputsSink : public Sink {
public:
    explicit OutputsSink(Outputs* outputs) : m_outputs(outputs) {}

private:
    bool write(const void* data, std::size_t count) override
    {
        for (auto& [file, destination] : *m_outputs) {
            if (!file->write(data, count)) {
                error = file->error();
                failedPath = destination->displayPath;
                return false;
            }
        }
        return true;
    }
    Outputs* m_outputs;
};

// A union of overlapping files held in memory; the buffer is reserved to the
// union's size beforehand, so nothing is allocated inside libmspack's call.
class MemorySink : public Sink {
public:
    explicit MemorySink(std::string* buffer) : m_buffer(buffer) {}

private:
    bool write(const void* data, std::size_t count) override
    {
        if (m_buffer->size() + count > m_buffer->capacity()) {
            error = ENOMEM;
            failedPath = "(memory)";
            return false;
        }
        m_buffer->append(static_cast<const char*>(data), count);
        return true;
    }
    std::string* m_buffer;
};

class FdSink : public Sink {
public:
    FdSink(int fd, std::string what) : m_fd(fd), m_what(std::move(what)) {}

private:
    bool write(const void* data, std::size_t count) override
    {
        if (io::writeAll(m_fd, data, count))
            return true;
        error = errno;
        failedPath = m_what;
        return false;
    }
    int m_fd;
    std::string m_what;
};

// ---- libmspack's system table ------------------------------------------

// One file of a cabinet set (a lone cabinet is a set of one), opened once.
// libmspack sees the file from `offset` on, so a cabinet that follows an
// extractor reads as if it started the file.
struct Part {
    std::string path; // as given to open(), or a neighbour's folder and stored name
    std::string name; // what libmspack calls it: "(cabinet N)"
    io::Fd fd;
    struct stat st {};
    off_t offset = 0;              // where the cabinet starts in the file
    mscabd_cabinet* cab = nullptr; // closed with the set, never on its own once joined
};
using Parts = std::vector<std::unique_ptr<Part>>;

struct ReaderSystem {
    mspack_system base; // first: libmspack hands &base back to the callbacks
    const Parts* parts = nullptr;
    Sink* sink = nullptr;                // where an extraction's output goes, or none
    int readError = 0;                   // errno of the last failed cabinet read
    const Part* readErrorPart = nullptr; // the file it failed on
};

// One file libmspack holds open. Reads position the part's shared
// descriptor first, so every handle keeps its own offset.
struct Handle {
    ReaderSystem* sys = nullptr;
    const Part* part = nullptr; // none for the output
    off_t pos = 0;              // from the part's offset
};

mspack_file* sysOpen(mspack_system* self, const char* filename, int mode)
{
    auto* sys = reinterpret_cast<ReaderSystem*>(self);
    const Part* part = nullptr;
    if (mode == MSPACK_SYS_OPEN_READ && sys->parts) {
        for (const auto& p : *sys->parts)
            if (p->name == filename)
                part = p.get();
        if (!part)
            return nullptr;
    } else if (mode != MSPACK_SYS_OPEN_WRITE || !sys->sink || std::strcmp(filename, kOutputName) != 0) {
        return nullptr;
    }
    auto* h = new (std::nothrow) Handle;
    if (!h)
        return nullptr;
    h->sys = sys;
    h->part = part;
    return reinterpret_cast<mspack_file*>(h);
}

void sysClose(mspack_file* file)
{
    delete reinterpret_cast<Handle*>(file);
}

int sysRead(mspack_file* file, void* buffer, int bytes)
{
    auto* h = reinterpret_cast<Handle*>(file);
    if (!h->part || bytes < 0)
        return -1;
    const auto failed = [h] {
        h->sys->readError = errno;
        h->sys->readErrorPart = h->part;
        return -1;
    };
    if (::lseek(h->part->fd.get(), h->part->offset + h->pos, SEEK_SET) < 0)
        return failed();
    const ssize_t n = io::readAll(h->part->fd.get(), buffer, std::size_t(bytes));
    if (n < 0)
        return failed();
    h->pos += n;
    return int(n);
}

int sysWrite(mspack_file* file, void* buffer, int bytes)
{
    auto* h = reinterpret_cast<Handle*>(file);
    if (h->part || bytes < 0 || !h->sys->sink)
        return -1;
    return h->sys->sink->put(buffer, std::size_t(bytes)) ? bytes : -1;
}

int sysSeek(mspack_file* file, off_t offset, int mode)
{
    auto* h = reinterpret_cast<Handle*>(file);
    if (!h->part)
        return -1;
    off_t base = 0;
    if (mode == MSPACK_SYS_SEEK_CUR) {
        base = h->pos;
    } else if (mode == MSPACK_SYS_SEEK_END) {
        struct stat st {};
        if (::fstat(h->part->fd.get(), &st) != 0)
            return -1;
        base = st.st_size - h->part->offset;
    } else if (mode != MSPACK_SYS_SEEK_START) {
        return -1;
    }
    if (base + offset < 0)
        return -1;
    h->pos = base + offset;
    return 0;
}

off_t sysTell(mspack_file* file)
{
    auto* h = reinterpret_cast<Handle*>(file);
    return h->part ? h->pos : 0;
}

void sysMessage(mspack_file*, const char*, ...) {}
void* sysAlloc(mspack_system*, size_t bytes)
{
    return std::malloc(bytes);
}
void sysFree(void* p)
{
    std::free(p);
}
void sysCopy(void* src, void* dst, size_t bytes)
{
    std::memmove(dst, src, bytes);
}

const char* mspackText(int code)
{
    switch (code) {
    case MSPACK_ERR_OK:
        return "no error";
    case MSPACK_ERR_ARGS:
        return "bad arguments";
    case MSPACK_ERR_OPEN:
        return "cannot open file";
    case MSPACK_ERR_READ:
        return "read error";
    case MSPACK_ERR_WRITE:
        return "write error";
    case MSPACK_ERR_SEEK:
        return "seek error";
    case MSPACK_ERR_NOMEMORY:
        return "out of memory";
    case MSPACK_ERR_SIGNATURE:
        return "not a cabinet";
    case MSPACK_ERR_DATAFORMAT:
        return "bad cabinet format";
    case MSPACK_ERR_CHECKSUM:
        return "checksum error";
    case MSPACK_ERR_CRUNCH:
        return "compression error";
    case MSPACK_ERR_DECRUNCH:
        return "decompression error";
    default:
        return "unknown error";
    }
}

bool fail(std::string* error, const std::string& text)
{
    if (error)
        *error = text;
    return false;
}

uint32_t readU32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t readU16(const unsigned char* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

// libmspack refuses a cabinet without files, which is still a well-formed
// cabinet: a bare 36-byte header (cbCabinet 36, version 1.3, no folders, no
// files, no flags) and nothing after it (`size`: the bytes from the header on).
bool isEmptyCabinet(const unsigned char* h, off_t size)
{
    return size == off_t(kHeaderSize) && std::memcmp(h, "MSCF", 4) == 0 && readU32(h + 8) == kHeaderSize &&
           readU16(h + 24) == 0x0103 && readU16(h + 26) == 0 && readU16(h + 28) == 0 && readU16(h + 30) == 0;
}

// Whether the 36 bytes at `h`, found `left` bytes before the end of a file,
// can start a cabinet: the "MSCF" signature, version 1.3 (versionMinor 3,
// versionMajor 1), a length (cbCabinet) that fits in what is left, and the
// file list (coffFiles) inside that length.
bool plausibleHeader(const unsigned char* h, off_t left)
{
    if (std::memcmp(h, "MSCF", 4) != 0 || readU16(h + 24) != 0x0103)
        return false;
    const uint32_t length = readU32(h + 8);
    const uint32_t filesAt = readU32(h + 16);
    return length >= kHeaderSize && off_t(length) <= left && filesAt >= kHeaderSize && filesAt <= length;
}

// Reads up to `count` bytes at `offset` of `fd`; the bytes read or -1 with errno.
ssize_t readAt(int fd, off_t offset, void* buffer, std::size_t count)
{
    if (::lseek(fd, offset, SEEK_SET) < 0)
        return -1;
    return io::readAll(fd, buffer, count);
}

// A stored name of a neighbouring cabinet that stays in its folder.
bool plainCabinetName(const std::string& name)
{
    return isPlainComponent(name) && name.find('\\') == std::string::npos;
}

// The one name in `folder` that equals `name` ignoring ASCII case (the
// first in byte order when several do), or "" when there is none.
std::string nameIgnoringCase(const std::string& folder, const std::string& name)
{
    const auto lower = [](std::string s) {
        for (char& c : s)
            if (c >= 'A' && c <= 'Z')
                c = char(c - 'A' + 'a');
        return s;
    };
    const std::string wanted = lower(name);
    std::string found;
    if (DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            const std::string candidate = e->d_name;
            if (lower(candidate) == wanted && (found.empty() || candidate < found))
                found = candidate;
        }
        ::closedir(dir);
    }
    return found;
}

// The stored date and time of `e` as local time, or false when they are not
// a calendar date and time.
bool storedTime(const Entry& e, std::time_t* out)
{
    std::tm t{};
    t.tm_year = (e.dosDate >> 9) + 80;
    t.tm_mon = ((e.dosDate >> 5) & 15) - 1;
    t.tm_mday = e.dosDate & 31;
    t.tm_hour = e.dosTime >> 11;
    t.tm_min = (e.dosTime >> 5) & 63;
    t.tm_sec = (e.dosTime & 31) * 2;
    t.tm_isdst = -1;
    if (t.tm_mon < 0 || t.tm_mon > 11 || t.tm_mday < 1 || t.tm_hour > 23 || t.tm_min > 59 || t.tm_sec > 59)
        return false;
    const int month = t.tm_mon;
    const std::time_t when = std::mktime(&t);
    if (when == std::time_t(-1) || t.tm_mon != month)
        return false; // 31 February, say: mktime moved it into March
    *out = when;
    return true;
}

uint16_t packDate(const mscabd_file* f)
{
    return uint16_t(((f->date_y - 1980) << 9) | (f->date_m << 5) | f->date_d);
}
uint16_t packTime(const mscabd_file* f)
{
    return uint16_t((f->time_h << 11) | (f->time_m << 5) | (f->time_s / 2));
}

// "a/b/name" -> "a/b" and "name".
std::pair<std::string, std::string> splitLast(const std::string& relative)
{
    const std::size_t slash = relative.rfind('/');
    if (slash == std::string::npos)
        return {std::string(), relative};
    return {relative.substr(0, slash), relative.substr(slash + 1)};
}

// How to name the folder component `index` of a destination in a message:
// the display path up to that component.
std::string componentDisplay(const Destination& dest, const std::vector<std::string>& folders,
                             std::size_t index)
{
    std::string base;
    const std::string& shown = dest.displayPath;
    if (shown.size() >= dest.relativePath.size() &&
        shown.compare(shown.size() - dest.relativePath.size(), std::string::npos, dest.relativePath) == 0)
        base = shown.substr(0, shown.size() - dest.relativePath.size());
    for (std::size_t i = 0; i <= index && i < folders.size(); ++i)
        base += (i ? "/" : "") + folders[i];
    return base;
}

// The message for a folder of `dest` that could not be opened or made.
std::string folderFailure(const Destination& dest, const std::string& entryName,
                          const std::vector<std::string>& folders, std::size_t failed, int error)
{
    const std::string where = componentDisplay(dest, folders, failed);
    if (error == ELOOP)
        return "refusing " + entryName + ": " + where + " is a symbolic link";
    return "cannot make folder " + where + " for " + entryName + ": " + io::reasonText(error);
}

// Opens the folder of each destination in turn, reusing the last one.
class FolderCache {
public:
    // The folder `dest` goes in (made when missing), or -1 with *error set.
    int open(const Destination& dest, const std::string& entryName, std::string* error)
    {
        const std::string folder = splitLast(dest.relativePath).first;
        if (m_fd && m_base == dest.directory && m_folder == folder)
            return m_fd.get();
        m_fd = io::Fd();
        const std::vector<std::string> parts = splitPath(folder);
        std::size_t failed = 0;
        int err = 0;
        io::Fd fd = openFolderBelow(dest.directory, parts, true, &failed, &err);
        if (!fd) {
            fail(error, folderFailure(dest, entryName, parts, failed, err));
            return -1;
        }
        m_fd = std::move(fd);
        m_base = dest.directory;
        m_folder = folder;
        return m_fd.get();
    }

private:
    int m_base = -1;
    std::string m_folder;
    io::Fd m_fd;
};

// A read-write scratch file for a union too big for memory: anonymous
// (O_TMPFILE) where the file system allows, else a hidden temporary that is
// removed when this goes away.
class ScratchFile {
public:
    bool open(int dirfd, int* error)
    {
        int fd = ::openat(dirfd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0) {
            m_fd = io::Fd(fd);
            return true;
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            *error = errno;
            return false;
        }
        if (!m_named.createAt(dirfd, ".scratch", 0600)) {
            *error = m_named.error();
            return false;
        }
        fd = ::openat(dirfd, m_named.temporaryName().c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            *error = errno;
            return false;
        }
        m_fd = io::Fd(fd);
        return true;
    }
    int fd() const { return m_fd.get(); }

private:
    io::OutputFile m_named; // never committed: removed with this object
    io::Fd m_fd;
};

struct Job {
    std::size_t entry = 0;
    std::vector<const Destination*> destinations; // none when testing
};

} // namespace

// ---- the opened cabinet --------------------------------------------------

struct Cabinet::Impl {
    ReaderSystem sys{};
    mscab_decompressor* cabd = nullptr;
    Parts parts;                    // the set in order; the first holds the set's lists
    std::vector<std::string> paths; // beside `parts`
    std::string path;               // as given to open()
    struct stat st {};              // of `path`
    std::vector<Entry> entries;
    std::vector<mscabd_file*> files; // beside `entries`
    std::vector<Folder> folders;
    std::unordered_map<const mscabd_folder*, std::size_t> folderOrder;
    // During extract(): how, and what became of each file.
    ExtractOptions options;
    ExtractReport* report = nullptr;

    Impl()
    {
        sys.base = {sysOpen,    sysClose, sysRead, sysWrite, sysSeek, sysTell,
                    sysMessage, sysAlloc, sysFree, sysCopy,  nullptr};
        sys.parts = &parts;
        cabd = mspack_create_cab_decompressor(&sys.base);
    }
    ~Impl()
    {
        if (cabd) {
            // Closing one cabinet of a joined set closes all of it.
            if (!parts.empty() && parts.front()->cab)
                cabd->close(cabd, parts.front()->cab);
            mspack_destroy_cab_decompressor(cabd);
        }
    }

    // Runs libmspack's extraction of `file` into `sink`; its result code.
    int extractInto(mscabd_file* file, Sink& sink)
    {
        sys.sink = &sink;
        sys.readError = 0;
        const int rc = cabd->extract(cabd, file, kOutputName);
        sys.sink = nullptr;
        return rc;
    }

    // The message for a failed extraction, naming what failed.
    std::string failure(int rc, const Sink& sink, const std::string& name, bool testing) const
    {
        if (sink.error)
            return "cannot write " + sink.failedPath + ": " + io::reasonText(sink.error);
        if (sys.readError)
            return "cannot read " + (sys.readErrorPart ? sys.readErrorPart->path : path) + ": " +
                   io::reasonText(sys.readError);
        std::string reason = mspackText(rc);
        if (rc == MSPACK_ERR_READ)
            reason += " (the cabinet ends early)";
        return (testing ? "damaged file " + name + " in " : "cannot extract " + name + " from ") + path +
               ": " + reason;
    }

    // Whether `there` is one of the set's files.
    bool isPart(const struct stat& there) const
    {
        return std::any_of(parts.begin(), parts.end(),
                           [&](const auto& p) { return io::sameFile(there, p->st); });
    }

    std::unique_ptr<Part> newPart(const std::string& partPath) const
    {
        auto part = std::make_unique<Part>();
        part->path = partPath;
        part->name = "(cabinet " + std::to_string(parts.size()) + ")";
        return part;
    }
    int tryAt(Part& part, off_t offset);
    bool openPart(Part& part, bool* empty, std::string* reason);
    bool joinNeighbours(std::string* error);

    bool checkGeometry(const Job& job, bool testing, std::string* error) const;
    bool checkDestinations(const std::vector<Destination>& destinations, std::vector<bool>* keep,
                           std::string* error) const;
    bool run(std::vector<Job>& jobs, bool testing, std::string* error);
    bool serveCluster(std::vector<Job>::iterator begin, std::vector<Job>::iterator end, off_t start,
                      off_t stop, bool testing, FolderCache& folders, std::string* error);
    bool openOutputs(const Job& job, FolderCache& folders, Outputs* outputs, std::string* error);
    bool commitOutputs(Outputs& outputs, std::string* error);
};

// libmspack would refuse these files when it reaches them; refusing them
// before anything is decompressed keeps a bad file list from writing half
// its files, and keeps the unions below within libmspack's limits.
bool Cabinet::Impl::checkGeometry(const Job& job, bool testing, std::string* error) const
{
    const mscabd_file* f = files[job.entry];
    const off_t end = f->offset + off_t(f->length);
    if (!f->folder || f->offset > kLengthMax || end > kLengthMax ||
        end > off_t(f->folder->num_blocks) * kBlockMax) {
        return fail(error, (testing ? "damaged file " + entries[job.entry].name + " in "
                                    : "cannot extract " + entries[job.entry].name + " from ") +
                               path + ": " + mspackText(MSPACK_ERR_DATAFORMAT));
    }
    return true;
}

// Every destination is looked at before anything is written: a folder
// component that is a link or a file, a folder under a file's name, or the
// cabinet itself under it refuses the whole extraction.
bool Cabinet::Impl::checkDestinations(const std::vector<Destination>& destinations, std::vector<bool>* keep,
                                      std::string* error) const
{
    keep->assign(destinations.size(), false);
    // Grouped by folder, so each folder is walked once.
    std::vector<const Destination*> order;
    for (const Destination& d : destinations)
        order.push_back(&d);
    std::stable_sort(order.begin(), order.end(), [](const Destination* a, const Destination* b) {
        if (a->directory != b->directory)
            return a->directory < b->directory;
        return splitLast(a->relativePath).first < splitLast(b->relativePath).first;
    });
    io::Fd folder;
    bool folderMissing = false;
    int lastBase = -2;
    std::string lastFolder;
    for (const Destination* dest : order) {
        const std::string& entryName = entries[dest->entry].name;
        const auto [folderPart, name] = splitLast(dest->relativePath);
        const std::vector<std::string> parts = splitPath(folderPart);
        if (!isPlainComponent(name) || !std::all_of(parts.begin(), parts.end(), isPlainComponent))
            return fail(error, "refusing unsafe name \"" + dest->relativePath + "\" for " + entryName);
        if (dest->directory != lastBase || folderPart != lastFolder) {
            lastBase = dest->directory;
            lastFolder = folderPart;
            std::size_t failed = 0;
            int err = 0;
            folder = openFolderBelow(dest->directory, parts, false, &failed, &err);
            folderMissing = !folder && err == ENOENT;
            if (!folder && !folderMissing)
                return fail(error, folderFailure(*dest, entryName, parts, failed, err));
        }
        if (folderMissing)
            continue; // made later: nothing stands there yet
        struct stat there {};
        if (::fstatat(folder.get(), name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (isPart(there))
            return fail(error, "refusing to write " + dest->displayPath + ": it is the cabinet " + path +
                                   " being read");
        if (S_ISDIR(there.st_mode))
            return fail(error, "cannot write " + dest->displayPath + ": " + io::reasonText(EISDIR));
        if (!options.replace)
            (*keep)[std::size_t(dest - destinations.data())] = true;
    }
    return true;
}

bool Cabinet::Impl::openOutputs(const Job& job, FolderCache& folders, Outputs* outputs, std::string* error)
{
    outputs->clear();
    for (const Destination* dest : job.destinations) {
        const int dir = folders.open(*dest, entries[job.entry].name, error);
        if (dir < 0)
            return false;
        const std::string name = splitLast(dest->relativePath).second;
        auto file = std::make_unique<io::OutputFile>();
        // A file that replaces an earlier one is made durable before the
        // rename, so a crash cannot trade good data for an empty file; new
        // files are not, which keeps thousands of small files fast.
        struct stat there {};
        file->setSync(::fstatat(dir, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0);
        const bool readOnly = options.readOnly && (entries[job.entry].attributes & 0x01);
        if (!file->createAt(dir, name, readOnly ? 0444 : 0666))
            return fail(error, "cannot create " + dest->displayPath + ": " + io::reasonText(file->error()));
        outputs->emplace_back(std::move(file), dest);
    }
    return true;
}

bool Cabinet::Impl::commitOutputs(Outputs& outputs, std::string* error)
{
    for (auto& [file, dest] : outputs) {
        std::time_t when = 0;
        if (options.restoreDates && storedTime(entries[dest->entry], &when)) {
            // On the temporary, after its last write: the rename keeps it.
            const timespec times[2] = {{0, UTIME_OMIT}, {when, 0}};
            if (::futimens(file->fd(), times) != 0)
                return fail(error,
                            "cannot set the date of " + dest->displayPath + ": " + io::reasonText(errno));
        }
        if (!file->commit(!options.replace)) {
            if (file->error() == EEXIST && !options.replace) {
                if (report)
                    report->kept.push_back(dest->displayPath);
                continue;
            }
            return fail(error, "cannot write " + dest->displayPath + ": " + io::reasonText(file->error()));
        }
        if (report)
            report->written.push_back(dest->displayPath);
    }
    outputs.clear();
    return true;
}

// One cluster: files [begin, end) of one folder whose ranges chain into
// the single range [start, stop).
bool Cabinet::Impl::serveCluster(std::vector<Job>::iterator begin, std::vector<Job>::iterator end,
                                 off_t start, off_t stop, bool testing, FolderCache& folders,
                                 std::string* error)
{
    const auto memberAt = [&](uint64_t produced) -> const std::string& {
        // The member whose range holds the byte where decompression stopped.
        const off_t at = start + off_t(produced);
        auto found = begin;
        for (auto it = begin; it != end; ++it)
            if (files[it->entry]->offset <= at)
                found = it;
        return entries[found->entry].name;
    };
    // A synthetic file over the whole range: libmspack decompresses it like
    // any entry of the folder, once.
    mscabd_file whole = *files[begin->entry];
    whole.next = nullptr;
    whole.offset = start;
    whole.length = static_cast<unsigned int>(stop - start);

    if (testing) {
        DiscardSink sink;
        const int rc = extractInto(end - begin == 1 ? files[begin->entry] : &whole, sink);
        return rc == MSPACK_ERR_OK || fail(error, failure(rc, sink, memberAt(sink.count()), true));
    }

    const auto withData = std::count_if(begin, end, [&](const Job& j) { return files[j.entry]->length > 0; });
    Outputs outputs;
    if (withData <= 1) {
        // At most one file holds data; the rest (empty files inside its range)
        // need no decompression. A lone empty file still goes through
        // libmspack, which checks its place in the folder.
        for (auto it = begin; it != end; ++it) {
            if (!openOutputs(*it, folders, &outputs, error))
                return false;
            if (files[it->entry]->length > 0 || end - begin == 1) {
                OutputsSink sink(&outputs);
                const int rc = extractInto(files[it->entry], sink);
                if (rc != MSPACK_ERR_OK)
                    return fail(error, failure(rc, sink, entries[it->entry].name, false));
            }
            if (!commitOutputs(outputs, error))
                return false;
        }
        return true;
    }

    // Several files share bytes: decompress their union once, then give each
    // its slice.
    std::string memory;
    ScratchFile scratch;
    std::unique_ptr<Sink> sink;
    const off_t size = stop - start;
    if (size <= kMemoryUnionLimit) {
        try {
            memory.reserve(std::size_t(size));
        } catch (const std::bad_alloc&) {
            return fail(error, "cannot extract " + entries[begin->entry].name + " from " + path + ": " +
                                   io::reasonText(ENOMEM));
        }
        sink = std::make_unique<MemorySink>(&memory);
    } else {
        const Destination* first = begin->destinations.front();
        const int dir = folders.open(*first, entries[begin->entry].name, error);
        if (dir < 0)
            return false;
        int err = 0;
        const std::string where = "a temporary file beside " + first->displayPath;
        if (!scratch.open(dir, &err))
            return fail(error, "cannot create " + where + ": " + io::reasonText(err));
        sink = std::make_unique<FdSink>(scratch.fd(), where);
    }
    const int rc = extractInto(&whole, *sink);
    if (rc != MSPACK_ERR_OK)
        return fail(error, failure(rc, *sink, memberAt(sink->count()), false));

    std::vector<char> chunk;
    for (auto it = begin; it != end; ++it) {
        if (!openOutputs(*it, folders, &outputs, error))
            return false;
        const mscabd_file* f = files[it->entry];
        OutputsSink out(&outputs);
        const off_t from = f->offset - start;
        if (size <= kMemoryUnionLimit) {
            if (!out.put(memory.data() + from, f->length))
                return fail(error, "cannot write " + out.failedPath + ": " + io::reasonText(out.error));
        } else {
            if (chunk.empty())
                chunk.resize(kCopyChunk);
            if (::lseek(scratch.fd(), from, SEEK_SET) < 0)
                return fail(error, "cannot read back " + sink->failedPath + ": " + io::reasonText(errno));
            for (uint64_t left = f->length; left > 0;) {
                const std::size_t want = std::size_t(std::min<uint64_t>(left, chunk.size()));
                const ssize_t got = io::readAll(scratch.fd(), chunk.data(), want);
                if (got != ssize_t(want))
                    return fail(error, "cannot read back a temporary file for " + entries[it->entry].name +
                                           ": " + io::reasonText(got < 0 ? errno : EIO));
                if (!out.put(chunk.data(), want))
                    return fail(error, "cannot write " + out.failedPath + ": " + io::reasonText(out.error));
                left -= want;
            }
        }
        if (!commitOutputs(outputs, error))
            return false;
    }
    return true;
}

bool Cabinet::Impl::run(std::vector<Job>& jobs, bool testing, std::string* error)
{
    for (const Job& job : jobs)
        if (!checkGeometry(job, testing, error))
            return false;
    // Folder order, then offset; the cabinet's order among equals.
    std::stable_sort(jobs.begin(), jobs.end(), [this](const Job& a, const Job& b) {
        const mscabd_file* fa = files[a.entry];
        const mscabd_file* fb = files[b.entry];
        const std::size_t oa = folderOrder.at(fa->folder), ob = folderOrder.at(fb->folder);
        if (oa != ob)
            return oa < ob;
        if (fa->offset != fb->offset)
            return fa->offset < fb->offset;
        return a.entry < b.entry;
    });
    // libmspack (cabd_extract) starts a folder again from its first block
    // when the folder changes, when it is asked for an offset behind the one
    // it has reached (the end of the last file it gave out), or when it has
    // no decompressor state yet. Folders in order, ascending offsets and one
    // extraction per cluster of overlapping files never ask it to go back;
    // the gaps between clusters are decompressed once and dropped.
    FolderCache folders;
    for (auto it = jobs.begin(); it != jobs.end();) {
        const mscabd_file* first = files[it->entry];
        const off_t start = first->offset;
        off_t stop = start + off_t(first->length);
        auto next = it + 1;
        while (next != jobs.end() && files[next->entry]->folder == first->folder &&
               files[next->entry]->offset < stop) {
            stop = std::max(stop, files[next->entry]->offset + off_t(files[next->entry]->length));
            ++next;
        }
        if (!serveCluster(it, next, start, stop, testing, folders, error))
            return false;
        it = next;
    }
    return true;
}

// libmspack's reading of the cabinet that starts at `offset` of `part`
// (which is in `parts`, so that the callbacks find it): MSPACK_ERR_OK with
// part.cab set, or libmspack's error.
int Cabinet::Impl::tryAt(Part& part, off_t offset)
{
    part.offset = offset;
    sys.readError = 0;
    part.cab = cabd->open(cabd, part.name.c_str());
    return part.cab ? MSPACK_ERR_OK : cabd->last_error(cabd);
}

// Opens the file of `part` and the cabinet it holds: at its start, or else
// at the first plausible header after other bytes that libmspack reads.
// False with *reason set (the system's or libmspack's); *empty for a
// cabinet without files, which libmspack does not open.
bool Cabinet::Impl::openPart(Part& part, bool* empty, std::string* reason)
{
    *empty = false;
    int err = 0;
    part.fd = io::openForReading(part.path, &err);
    if (!part.fd)
        return fail(reason, io::reasonText(err));
    if (::fstat(part.fd.get(), &part.st) != 0)
        return fail(reason, io::reasonText(errno));
    if (!cabd)
        return fail(reason, mspackText(MSPACK_ERR_NOMEMORY));
    const int fd = part.fd.get();
    const off_t size = part.st.st_size;

    unsigned char head[kHeaderSize] = {};
    const ssize_t got = readAt(fd, 0, head, sizeof head);
    if (got < 0)
        return fail(reason, io::reasonText(errno));
    if (got >= 4 && std::memcmp(head, "MSCF", 4) == 0) {
        const int code = tryAt(part, 0);
        if (code == MSPACK_ERR_OK)
            return true;
        if (sys.readError)
            return fail(reason, io::reasonText(sys.readError));
        if (isEmptyCabinet(head, size)) {
            *empty = true;
            return true;
        }
        return fail(reason, mspackText(code));
    }

    // Something else first (an extractor): the first "MSCF" with a
    // plausible header that libmspack reads. A false signature inside the
    // extractor is passed over; a read error ends the search.
    std::string firstFailure;
    std::vector<unsigned char> buffer(kScanChunk + 3);
    std::size_t carry = 0; // the last bytes of the chunk before, where a signature may begin
    for (off_t at = 0; at < size;) {
        const ssize_t n = readAt(fd, at, buffer.data() + carry, kScanChunk);
        if (n < 0)
            return fail(reason, io::reasonText(errno));
        if (n == 0)
            break;
        const std::size_t have = carry + std::size_t(n);
        const off_t bufferAt = at - off_t(carry);
        for (std::size_t i = 0; i + 4 <= have; ++i) {
            const void* m = std::memchr(buffer.data() + i, 'M', have - 3 - i);
            if (!m)
                break;
            i = std::size_t(static_cast<const unsigned char*>(m) - buffer.data());
            if (std::memcmp(buffer.data() + i, "MSCF", 4) != 0)
                continue;
            const off_t candidate = bufferAt + off_t(i);
            unsigned char h[kHeaderSize] = {};
            const ssize_t hg = readAt(fd, candidate, h, sizeof h);
            if (hg < 0)
                return fail(reason, io::reasonText(errno));
            if (hg < ssize_t(kHeaderSize) || !plausibleHeader(h, size - candidate))
                continue;
            if (isEmptyCabinet(h, size - candidate)) {
                part.offset = candidate;
                *empty = true;
                return true;
            }
            const int code = tryAt(part, candidate);
            if (code == MSPACK_ERR_OK)
                return true;
            if (sys.readError)
                return fail(reason, io::reasonText(sys.readError));
            if (firstFailure.empty())
                firstFailure = mspackText(code);
        }
        carry = std::min<std::size_t>(3, have);
        std::memmove(buffer.data(), buffer.data() + have - carry, carry);
        at += n;
    }
    part.offset = 0;
    return fail(reason, firstFailure.empty() ? std::string(mspackText(MSPACK_ERR_SIGNATURE)) : firstFailure);
}

// Joins the cabinets that the set's ends name as their previous and next
// ones, until neither end names another.
bool Cabinet::Impl::joinNeighbours(std::string* error)
{
    const unsigned setId = parts.front()->cab->set_id;
    for (const bool forward : {false, true}) {
        for (;;) {
            Part& edge = forward ? *parts.back() : *parts.front();
            if (!(edge.cab->flags & (forward ? MSCAB_HDR_NEXTCAB : MSCAB_HDR_PREVCAB)))
                break;
            const char* storedName = forward ? edge.cab->nextname : edge.cab->prevname;
            const std::string stored = storedName ? storedName : "";
            const std::string role = forward ? " (the next cabinet after " + edge.path + ")"
                                             : " (the previous cabinet before " + edge.path + ")";
            const std::string folder = io::directoryPart(edge.path);
            if (!plainCabinetName(stored))
                return fail(error, "cannot open cabinet " + folder + stored + role +
                                       ": the stored name is not a plain file name");
            std::string neighbour = folder + stored;
            struct stat there {};
            if (::stat(neighbour.c_str(), &there) != 0 && errno == ENOENT) {
                // Names in a set come from systems that ignore case.
                const std::string other = nameIgnoringCase(folder, stored);
                if (!other.empty())
                    neighbour = folder + other;
            }

            auto owned = newPart(neighbour);
            Part& part = *owned;
            parts.insert(forward ? parts.end() : parts.begin(), std::move(owned));
            const auto drop = [&](const std::string& text) {
                if (part.cab)
                    cabd->close(cabd, part.cab);
                parts.erase(std::find_if(parts.begin(), parts.end(),
                                         [&](const auto& p) { return p.get() == &part; }));
                return fail(error, text);
            };
            bool empty = false;
            std::string reason;
            if (!openPart(part, &empty, &reason))
                return drop("cannot open cabinet " + neighbour + role + ": " + reason);
            if (empty)
                return drop("cannot open cabinet " + neighbour + role + ": " +
                            mspackText(MSPACK_ERR_DATAFORMAT));
            const std::string join = "cannot join cabinet " + neighbour + " to " + path + ": ";
            for (const auto& p : parts)
                if (p.get() != &part && io::sameFile(p->st, part.st))
                    return drop(join + "it is already in the set");
            if (part.cab->set_id != setId)
                return drop(join + "it belongs to another set (set ID " + std::to_string(part.cab->set_id) +
                            ", not " + std::to_string(setId) + ")");
            const int rc =
                forward ? cabd->append(cabd, edge.cab, part.cab) : cabd->prepend(cabd, edge.cab, part.cab);
            if (rc != MSPACK_ERR_OK)
                return drop(join + mspackText(rc));
        }
    }
    return true;
}

Cabinet::Cabinet() : d(std::make_unique<Impl>()) {}
Cabinet::~Cabinet() = default;

const std::string& Cabinet::path() const
{
    return d->path;
}
const std::vector<std::string>& Cabinet::cabinetPaths() const
{
    return d->paths;
}
const std::vector<Entry>& Cabinet::entries() const
{
    return d->entries;
}
const std::vector<Folder>& Cabinet::folders() const
{
    return d->folders;
}
const struct stat& Cabinet::status() const
{
    return d->st;
}

bool Cabinet::open(const std::string& path, std::string* error)
{
    d = std::make_unique<Impl>();
    d->path = path;
    d->parts.push_back(d->newPart(path));
    bool empty = false;
    std::string reason;
    if (!d->openPart(*d->parts.front(), &empty, &reason))
        return fail(error, "cannot open cabinet " + path + ": " + reason);
    d->st = d->parts.front()->st;
    if (!empty && !d->joinNeighbours(error))
        return false;
    for (const auto& p : d->parts)
        d->paths.push_back(p->path);
    if (empty)
        return true;
    // After joining, every cabinet of the set holds the set's lists.
    const mscabd_cabinet* set = d->parts.front()->cab;
    for (const mscabd_folder* f = set->folders; f; f = f->next) {
        d->folderOrder.emplace(f, d->folders.size());
        d->folders.push_back(Folder{uint16_t(f->comp_type)});
    }
    d->folderOrder.emplace(nullptr, d->folders.size());
    for (mscabd_file* f = set->files; f; f = f->next) {
        Entry e;
        e.name = f->filename;
        e.size = f->length;
        e.dosDate = packDate(f);
        e.dosTime = packTime(f);
        e.attributes = uint16_t(f->attribs);
        e.folder = d->folderOrder.at(f->folder);
        d->entries.push_back(std::move(e));
        d->files.push_back(f);
    }
    return true;
}

std::optional<std::size_t> Cabinet::find(const std::string& storedName) const
{
    for (std::size_t i = 0; i < d->entries.size(); ++i)
        if (d->entries[i].name == storedName)
            return i;
    const auto fold = [](std::string s) {
        for (char& c : s) {
            if (c == '\\')
                c = '/';
            else if (c >= 'A' && c <= 'Z')
                c = char(c - 'A' + 'a');
        }
        return s;
    };
    const std::string wanted = fold(storedName);
    for (std::size_t i = 0; i < d->entries.size(); ++i)
        if (fold(d->entries[i].name) == wanted)
            return i;
    return std::nullopt;
}

bool Cabinet::test(std::string* error)
{
    std::vector<Job> jobs(d->entries.size());
    for (std::size_t i = 0; i < jobs.size(); ++i)
        jobs[i].entry = i;
    return d->run(jobs, true, error);
}

bool Cabinet::extract(const std::vector<Destination>& destinations, std::vector<std::string>* written,
                      std::string* error)
{
    ExtractReport report;
    const bool ok = extract(destinations, ExtractOptions{}, &report, error);
    if (written)
        written->insert(written->end(), report.written.begin(), report.written.end());
    return ok;
}

bool Cabinet::extract(const std::vector<Destination>& destinations, const ExtractOptions& options,
                      ExtractReport* report, std::string* error)
{
    for (const Destination& dest : destinations)
        if (dest.entry >= d->entries.size())
            return fail(error, "no entry " + std::to_string(dest.entry) + " in " + d->path);
    d->options = options;
    d->report = report;
    struct Done {
        Impl* impl;
        ~Done()
        {
            impl->options = ExtractOptions{};
            impl->report = nullptr;
        }
    } done{d.get()};
    std::vector<bool> keep;
    if (!d->checkDestinations(destinations, &keep, error))
        return false;
    std::vector<Job> jobs;
    std::unordered_map<std::size_t, std::size_t> jobOf;
    for (std::size_t i = 0; i < destinations.size(); ++i) {
        const Destination& dest = destinations[i];
        if (keep[i]) {
            if (report)
                report->kept.push_back(dest.displayPath);
            continue;
        }
        const auto [it, added] = jobOf.emplace(dest.entry, jobs.size());
        if (added)
            jobs.push_back(Job{dest.entry, {}});
        jobs[it->second].destinations.push_back(&dest);
    }
    return d->run(jobs, false, error);
}

bool Cabinet::extractBelow(const std::string& directory, const std::vector<std::size_t>& selection,
                           const ExtractOptions& options, ExtractReport* report, std::string* error)
{
    // Every name is checked before anything is written; the last entry of a
    // name is the one that ends up on disk, so only it is extracted.
    std::map<std::string, std::size_t> last;
    for (const std::size_t i : selection) {
        if (i >= d->entries.size())
            return fail(error, "no entry " + std::to_string(i) + " in " + d->path);
        const std::string relative = safeRelativePath(d->entries[i].name);
        if (relative.empty())
            return fail(error, "refusing unsafe name \"" + d->entries[i].name + "\" in " + d->path);
        last[relative] = std::max(last[relative], i);
    }
    int err = 0;
    io::Fd dir = openDirectory(directory, true, &err);
    if (!dir)
        return fail(error, "cannot make folder " + directory + ": " + io::reasonText(err));
    const std::string prefix = directory.empty() || directory.back() == '/' ? directory : directory + "/";
    std::vector<Destination> destinations;
    for (const auto& [relative, entry] : last)
        destinations.push_back(Destination{entry, dir.get(), relative, prefix + relative});
    std::sort(destinations.begin(), destinations.end(),
              [](const Destination& a, const Destination& b) { return a.entry < b.entry; });
    return extract(destinations, options, report, error);
}

// ---- the plain entry points ---------------------------------------------

std::string safeRelativePath(const std::string& storedName)
{
    std::string name = storedName;
    std::replace(name.begin(), name.end(), '\\', '/');
    if (name.empty() || name.front() == '/' || name.find('\0') != std::string::npos)
        return {};
    for (const std::string& part : splitPath(name))
        if (!isPlainComponent(part))
            return {};
    return name;
}

bool list(const std::string& cabinetPath, std::vector<Entry>* entries, std::string* error)
{
    if (entries)
        entries->clear();
    Cabinet cab;
    if (!cab.open(cabinetPath, error))
        return false;
    if (entries)
        *entries = cab.entries();
    return true;
}

bool test(const std::string& cabinetPath, std::string* error)
{
    Cabinet cab;
    return cab.open(cabinetPath, error) && cab.test(error);
}

bool extractFile(const std::string& cabinetPath, const std::string& storedName,
                 const std::string& destinationPath, std::string* error)
{
    Cabinet cab;
    if (!cab.open(cabinetPath, error))
        return false;
    const std::optional<std::size_t> entry = cab.find(storedName);
    if (!entry)
        return fail(error, storedName + " is not in cabinet " + cabinetPath);
    const std::string name = io::namePart(destinationPath);
    if (!isPlainComponent(name))
        return fail(error, "cannot create " + destinationPath + ": " + io::reasonText(EISDIR));
    std::string folder = io::directoryPart(destinationPath);
    int err = 0;
    io::Fd dir = openDirectory(folder.empty() ? std::string(".") : folder, false, &err);
    if (!dir)
        return fail(error, "cannot create " + destinationPath + ": " + io::reasonText(err));
    return cab.extract({Destination{*entry, dir.get(), name, destinationPath}}, nullptr, error);
}

bool extractAll(const std::string& cabinetPath, const std::string& directory,
                std::vector<std::string>* written, std::string* error)
{
    if (written)
        written->clear();
    Cabinet cab;
    if (!cab.open(cabinetPath, error))
        return false;
    std::vector<std::size_t> all(cab.entries().size());
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = i;
    ExtractReport report;
    const bool ok = cab.extractBelow(directory, all, ExtractOptions{}, &report, error);
    if (written)
        *written = std::move(report.written);
    return ok;
}

} // namespace ravelin::cabreader
