// The compression context: collects folders and files of one cabinet,
// keeps the compressed CFDATA records in a temporary file, and writes the
// cabinet (header, folders, files, then the data copied from the temporary
// file) at the flush.
#include "cabinet/fci/fci.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <thread>
#include <vector>

#include "cabinet/fci/blockpipeline.h"
#include "cabinet/fci/cabformat.h"

namespace ravelin::fci {

using namespace format;

namespace {

// Whether a stored name must carry the UTF-8 attribute: it has a byte above
// 127 and is valid UTF-8 throughout. Any other name is kept as its bytes
// without the attribute, so readers take it in their single-byte code page
// instead of rejecting it as broken UTF-8.
bool needsUtfFlag(const char* name, size_t length)
{
    bool high = false;
    const auto* s = reinterpret_cast<const unsigned char*>(name);
    for (size_t i = 0; i < length;) {
        const unsigned char b = s[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        high = true;
        size_t n;
        uint32_t cp;
        if (b >= 0xc2 && b <= 0xdf) {
            n = 2;
            cp = b & 0x1f;
        } else if (b >= 0xe0 && b <= 0xef) {
            n = 3;
            cp = b & 0x0f;
        } else if (b >= 0xf0 && b <= 0xf4) {
            n = 4;
            cp = b & 0x07;
        } else {
            return false;
        }
        if (i + n > length)
            return false;
        for (size_t k = 1; k < n; ++k) {
            if ((s[i + k] & 0xc0) != 0x80)
                return false;
            cp = (cp << 6) | (s[i + k] & 0x3f);
        }
        if ((n == 3 && (cp < 0x800 || (cp >= 0xd800 && cp <= 0xdfff))) || (n == 4 && (cp < 0x10000 || cp > 0x10ffff)))
            return false;
        i += n;
    }
    return high;
}

// Containers whose memory comes from the client's allocate callback.
template <typename T> struct CallbackAllocator {
    using value_type = T;
    PFNFCIALLOC alloc = nullptr;
    PFNFCIFREE release = nullptr;
    CallbackAllocator(PFNFCIALLOC a, PFNFCIFREE r) : alloc(a), release(r) {}
    template <typename U>
    CallbackAllocator(const CallbackAllocator<U>& o) : alloc(o.alloc), release(o.release)
    {
    }
    T* allocate(size_t n)
    {
        if (n * sizeof(T) > 0xFFFFFFFFu)
            throw std::bad_alloc();
        void* p = alloc(uint32_t(n * sizeof(T)));
        if (!p)
            throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t) { release(p); }
    template <typename U> bool operator==(const CallbackAllocator<U>& o) const
    {
        return alloc == o.alloc && release == o.release;
    }
};

template <typename T> using Vec = std::vector<T, CallbackAllocator<T>>;

struct FolderRecord {
    uint64_t dataOffset = 0; // of its first CFDATA in the temporary file
    uint32_t blocks = 0;
    uint16_t type = kTypeMszip;
};

// A file entry as it will be written, and where its name is kept.
struct FileRecord {
    CFFILE entry;
    uint32_t nameOffset = 0; // in the names arena
    uint16_t nameLength = 0;
};

constexpr uint32_t kCopyBufferSize = 65536;
constexpr uint64_t kWorstBlock = kDataHeaderSize + kMaxBlockData;

unsigned defaultThreads()
{
    const unsigned n = std::thread::hardware_concurrency();
    return std::clamp(n, 1u, 8u);
}

// Thrown inside the library to end an API call; never leaves it.
struct Failure {
    int32_t code;
    int32_t errnum;
    bool fatal;
};

} // namespace

struct FciContext {
    FciContext(ERF* e, PFNFCIALLOC a, PFNFCIFREE f)
        : erf(e), alloc(a), release(f), folders({a, f}), files({a, f}), names({a, f})
    {
    }

    ERF* erf;
    PFNFCIFILEPLACED filePlaced = nullptr;
    PFNFCIALLOC alloc;
    PFNFCIFREE release;
    PFNFCIOPEN open = nullptr;
    PFNFCIREAD read = nullptr;
    PFNFCIWRITE write = nullptr;
    PFNFCICLOSE close = nullptr;
    PFNFCISEEK seek = nullptr;
    PFNFCIDELETE remove = nullptr;
    PFNFCIGETTEMPFILE tempName = nullptr;
    CCAB ccab{};
    void* pv = nullptr;

    bool fatal = false;
    int32_t fatalCode = kErrNone;
    unsigned threads = 0;
    BlockPipeline* pipeline = nullptr;
    uint8_t* lastPlain = nullptr; // the previous block's plaintext: next block's dictionary
    uint32_t lastPlainLength = 0;

    char tempPath[kCabTextSize] = {};
    intptr_t temp = -1;
    uint64_t dataLength = 0; // bytes of CFDATA records in the temporary file

    Vec<FolderRecord> folders;
    Vec<FileRecord> files;
    Vec<char> names;
    uint64_t fileEntryBytes = 0;

    // The folder being filled.
    bool folderOpen = false;
    uint16_t folderType = kTypeMszip;
    uint64_t folderStart = 0;   // its first CFDATA's offset in the temporary file
    uint32_t folderBytes = 0;   // uncompressed bytes so far
    uint32_t folderBlocks = 0;  // blocks submitted
    uint64_t folderWritten = 0; // compressed bytes (CFDATA records) written
    uint32_t fill = 0;          // bytes in the filling slot
    uint32_t folderFiles = 0;   // file entries in it
    uint32_t folderBlocksWritten = 0;
    // Where the folder can be cut back to while a file goes in: after the
    // block the file begins in, once that block is written.
    uint32_t keepBlocks = 0;
    uint64_t keepLength = 0;

    PFNFCISTATUS status = nullptr; // of the running call

    void fail(int32_t code, int32_t errnum, bool isFatal) { throw Failure{code, errnum, isFatal}; }

    void notifyStatus(uint32_t kind, uint32_t cb1, uint32_t cb2)
    {
        if (status && status(kind, cb1, cb2, pv) == -1)
            fail(kErrUserAbort, 0, true);
    }

    void writeTemp(const void* data, uint32_t size)
    {
        int err = 0;
        if (write(temp, const_cast<void*>(data), size, &err, pv) != size)
            fail(kErrTempFile, err, true);
        dataLength += size;
    }

    // Writes finished blocks in order; with `all`, waits for every one.
    void drain(bool all)
    {
        while (!pipeline->empty()) {
            Block* b = pipeline->oldest(all);
            if (!b)
                return;
            if (b->error != kErrNone)
                fail(b->error, 0, true);
            writeTemp(b->out, b->outLen);
            folderWritten += b->outLen;
            if (++folderBlocksWritten == keepBlocks)
                keepLength = dataLength;
            const uint32_t cbData = b->cbData, cbUncomp = b->inLen;
            pipeline->releaseOldest();
            notifyStatus(kStatusFile, cbData, cbUncomp);
        }
    }

    void submitBlock()
    {
        Block& b = pipeline->filling();
        b.inLen = fill;
        b.type = folderType;
        b.failIncompressible = ccab.fFailOnIncompressible != 0;
        b.dictLen = lastPlainLength;
        if (lastPlainLength)
            std::memcpy(b.dict, lastPlain, lastPlainLength);
        std::memcpy(lastPlain, b.in, fill);
        lastPlainLength = fill;
        pipeline->submit();
        ++folderBlocks;
        fill = 0;
    }

    Block& slotToFill()
    {
        while (pipeline->full()) {
            drain(false);
            if (pipeline->full())
                drain(true);
        }
        return pipeline->filling();
    }

    void openFolder(uint16_t type)
    {
        folderOpen = true;
        folderType = type;
        folderStart = dataLength;
        folderBytes = 0;
        folderBlocks = 0;
        folderWritten = 0;
        folderFiles = 0;
        folderBlocksWritten = 0;
        fill = 0;
        lastPlainLength = 0;
    }

    void closeFolder()
    {
        if (!folderOpen)
            return;
        if (fill)
            submitBlock();
        drain(true);
        FolderRecord f;
        f.dataOffset = folderStart;
        f.blocks = folderBlocks;
        f.type = folderType;
        folders.push_back(f);
        folderOpen = false;
        lastPlainLength = 0;
        notifyStatus(kStatusFolder, uint32_t(std::min<uint64_t>(dataLength, 0xFFFFFFFFu)),
                     uint32_t(std::min<uint64_t>(folderWritten, 0xFFFFFFFFu)));
    }

    // A source that failed part-way has left bytes in the folder that no file
    // entry covers. Readers demand that files follow each other without gaps,
    // so those bytes must end the folder: it is closed, or dropped altogether
    // when no file of it went in.
    void abandonFile(uint32_t offset)
    {
        if (folderFiles) {
            if (folderBytes != offset)
                closeFolder();
            return;
        }
        fill = 0;
        drain(true);
        int err = 0;
        if (seek(temp, long(folderStart), kSeekSet, &err, pv) != long(folderStart))
            fail(kErrTempFile, err, true);
        dataLength = folderStart;
        folderOpen = false;
        lastPlainLength = 0;
    }

    // The file being added would take the cabinet past its maximum size. Its
    // blocks are taken out again, except the one it began in when earlier
    // files share it; that block ends the folder, as in abandonFile. What
    // stays is within the limit, since it was before this file began.
    void dropOverLimit(uint32_t offset)
    {
        if (!folderFiles || folderBytes == offset) {
            abandonFile(offset);
            return;
        }
        if (keepBlocks > folderBlocks) {
            closeFolder(); // the file has not left the block it began in
            return;
        }
        drain(true);
        int err = 0;
        if (seek(temp, long(keepLength), kSeekSet, &err, pv) != long(keepLength))
            fail(kErrTempFile, err, true);
        folderWritten -= dataLength - keepLength;
        dataLength = keepLength;
        folderBlocks = keepBlocks;
        folderBytes = keepBlocks * kBlockSize;
        fill = 0;
        closeFolder();
    }

    // The cabinet's size if it were flushed now with `extra` more bytes of
    // entries; blocks not yet written, the filling one included, count at
    // their worst.
    uint64_t sizeSoFar(uint64_t extra) const
    {
        const uint64_t folderCount = folders.size() + (folderOpen ? 1 : 0);
        const uint64_t pending = pipeline->inFlight() + (fill ? 1 : 0);
        return kHeaderSize + folderCount * kFolderSize + fileEntryBytes + extra + dataLength +
               pending * kWorstBlock;
    }

    // Blocks in flight are waited for before the answer is yes, so it never
    // depends on timing.
    bool overLimit(uint64_t extra)
    {
        if (sizeSoFar(extra) <= ccab.cb)
            return false;
        drain(true);
        return sizeSoFar(extra) > ccab.cb;
    }

    void startPipeline()
    {
        if (pipeline)
            return;
        void* mem = alloc(sizeof(BlockPipeline));
        if (!mem)
            fail(kErrAllocFail, 0, true);
        pipeline = new (mem) BlockPipeline;
        lastPlain = static_cast<uint8_t*>(alloc(kBlockSize));
        if (!lastPlain || !pipeline->start(threads ? threads : defaultThreads(), alloc, release))
            fail(kErrAllocFail, 0, true);
    }

    void addFile(char* source, char* storedName, int execute, PFNFCIGETOPENINFO openInfo, uint16_t type)
    {
        if (type != kTypeNone && type != kTypeMszip)
            fail(kErrBadComprType, 0, false);
        const size_t nameLength = storedName ? std::strlen(storedName) : 0;
        if (nameLength < 1 || nameLength > kMaxNameBytes || files.size() >= kMaxFiles)
            fail(kErrFormatLimit, 0, false);
        if (!openInfo || !source)
            fail(kErrOpenSource, 0, false);
        startPipeline();

        uint16_t date = 0, time = 0, attribs = 0;
        int err = 0;
        const intptr_t h = openInfo(source, &date, &time, &attribs, &err, pv);
        if (h == -1)
            fail(kErrOpenSource, err, false);
        // The source handle is closed on every way out.
        struct Closer {
            FciContext* c;
            intptr_t h;
            ~Closer()
            {
                int e = 0;
                c->close(h, &e, c->pv);
            }
        } closer{this, h};

        const long end = seek(h, 0, kSeekEnd, &err, pv);
        if (end < 0 || seek(h, 0, kSeekSet, &err, pv) != 0)
            fail(kErrReadSource, err, false);
        const uint64_t size = uint64_t(end);
        if (size > kMaxFolderBytes)
            fail(kErrFormatLimit, 0, false);

        if (folderOpen && (type != folderType || uint64_t(folderBytes) + size > kMaxFolderBytes))
            closeFolder();
        const bool newFolder = !folderOpen;
        if (newFolder && folders.size() >= kMaxFolders)
            fail(kErrFormatLimit, 0, false);
        // The cabinet's size is watched while the file goes in: only its
        // compressed size tells whether it fits.
        const uint64_t entry = kFileFixedSize + nameLength + 1;
        if (overLimit(entry + (newFolder ? kFolderSize : 0)))
            fail(kErrFormatLimit, 0, false);
        if (newFolder)
            openFolder(type);

        const uint32_t offset = folderBytes;
        keepBlocks = folderBlocks + (fill ? 1 : 0);
        keepLength = dataLength;
        uint64_t remaining = size;
        while (remaining) {
            Block& b = slotToFill();
            const uint32_t want = uint32_t(std::min<uint64_t>(remaining, kBlockSize - fill));
            uint32_t got = read(h, b.in + fill, want, &err, pv);
            if (got == uint32_t(-1))
                got = 0;
            got = std::min(got, want);
            fill += got;
            folderBytes += got;
            if (fill == kBlockSize)
                submitBlock();
            if (got != want) {
                abandonFile(offset);
                fail(kErrReadSource, err, false);
            }
            remaining -= got;
            if (overLimit(entry)) {
                dropOverLimit(offset);
                fail(kErrFormatLimit, 0, false);
            }
        }

        FileRecord f;
        f.entry.cbFile = uint32_t(size);
        f.entry.uoffFolderStart = offset;
        f.entry.iFolder = uint16_t(folders.size());
        f.entry.date = date;
        f.entry.time = time;
        f.entry.attribs = attribs;
        if (execute)
            f.entry.attribs |= kAttrExec;
        if (needsUtfFlag(storedName, nameLength))
            f.entry.attribs |= kAttrNameIsUtf;
        f.nameOffset = uint32_t(names.size());
        f.nameLength = uint16_t(nameLength);
        names.insert(names.end(), storedName, storedName + nameLength);
        files.push_back(f);
        ++folderFiles;
        fileEntryBytes += kFileFixedSize + nameLength + 1;

        if (filePlaced && filePlaced(&ccab, storedName, int32_t(size), 0, pv) == -1)
            fail(kErrUserAbort, 0, true);

        drain(false);
        // The folder's size: its compressed blocks, and the unfinished block
        // at its raw size. Blocks still in flight are only waited for when
        // they could decide it, so the decision never depends on timing.
        const uint64_t known = folderWritten + fill;
        if (known <= ccab.cbFolderThresh && known + pipeline->inFlight() * kWorstBlock > ccab.cbFolderThresh)
            drain(true);
        if (folderWritten + fill > ccab.cbFolderThresh)
            closeFolder();
    }

    void writeCabinet(intptr_t cab, uint8_t* buffer)
    {
        int err = 0;
        uint32_t used = 0;
        auto emit = [&](uint32_t need) {
            if (used + need > kCopyBufferSize) {
                if (write(cab, buffer, used, &err, pv) != used)
                    fail(kErrCabFile, err, true);
                used = 0;
            }
        };
        const uint64_t coffFiles = kHeaderSize + uint64_t(folders.size()) * kFolderSize;
        const uint64_t dataStart = coffFiles + fileEntryBytes;
        CFHEADER h;
        h.cbCabinet = uint32_t(dataStart + dataLength);
        h.coffFiles = uint32_t(coffFiles);
        h.cFolders = uint16_t(folders.size());
        h.cFiles = uint16_t(files.size());
        h.setID = ccab.setID;
        // CCAB numbers cabinets from 1, the header from 0.
        h.iCabinet = uint16_t(ccab.iCab > 0 ? ccab.iCab - 1 : 0);
        used += uint32_t(put(h, buffer));
        for (const FolderRecord& f : folders) {
            emit(kFolderSize);
            CFFOLDER r;
            r.coffCabStart = uint32_t(dataStart + f.dataOffset);
            r.cCFData = uint16_t(f.blocks);
            r.typeCompress = f.type;
            used += uint32_t(put(r, buffer + used));
        }
        for (const FileRecord& f : files) {
            emit(kFileFixedSize + f.nameLength + 1);
            used += uint32_t(put(f.entry, buffer + used));
            std::memcpy(buffer + used, names.data() + f.nameOffset, f.nameLength);
            used += f.nameLength;
            buffer[used++] = 0;
        }
        emit(kCopyBufferSize);

        if (seek(temp, 0, kSeekSet, &err, pv) != 0)
            fail(kErrTempFile, err, true);
        for (uint64_t left = dataLength; left;) {
            const uint32_t n = uint32_t(std::min<uint64_t>(left, kCopyBufferSize));
            if (read(temp, buffer, n, &err, pv) != n)
                fail(kErrTempFile, err, true);
            if (write(cab, buffer, n, &err, pv) != n)
                fail(kErrCabFile, err, true);
            left -= n;
        }
    }

    void flush()
    {
        if (pipeline)
            closeFolder();
        const uint64_t total =
            kHeaderSize + uint64_t(folders.size()) * kFolderSize + fileEntryBytes + dataLength;
        if (total > ccab.cb || total > 0xFFFFFFFFu)
            fail(kErrFormatLimit, 0, true);
        notifyStatus(kStatusCabinet, uint32_t(total), uint32_t(total));

        char path[2 * kCabTextSize];
        std::strcpy(path, ccab.szCabPath);
        std::strcat(path, ccab.szCab);
        uint8_t* buffer = static_cast<uint8_t*>(alloc(kCopyBufferSize));
        if (!buffer)
            fail(kErrAllocFail, 0, true);
        struct Freer {
            PFNFCIFREE f;
            void* p;
            ~Freer() { f(p); }
        } freer{release, buffer};

        int err = 0;
        const intptr_t cab =
            open(path, kOpenWrite | kOpenTruncate | kOpenBinary, kPermRead | kPermWrite, &err, pv);
        if (cab == -1)
            fail(kErrCabFile, err, true);
        try {
            writeCabinet(cab, buffer);
        } catch (...) {
            int e = 0;
            close(cab, &e, pv);
            throw;
        }
        if (close(cab, &err, pv) != 0)
            fail(kErrCabFile, err, true);

        // The next cabinet starts empty; the temporary file is reused.
        if (seek(temp, 0, kSeekSet, &err, pv) != 0)
            fail(kErrTempFile, err, true);
        dataLength = 0;
        folders.clear();
        files.clear();
        names.clear();
        fileEntryBytes = 0;
    }

    // Runs one API call body, turning failures into the error record.
    template <typename F> bool guarded(F&& body)
    {
        if (fatal) {
            setError(fatalCode, 0);
            return false;
        }
        try {
            body();
            return true;
        } catch (const Failure& f) {
            setError(f.code, f.errnum);
            if (f.fatal) {
                fatal = true;
                fatalCode = f.code;
            }
        } catch (const std::bad_alloc&) {
            setError(kErrAllocFail, 0);
            fatal = true;
            fatalCode = kErrAllocFail;
        } catch (const std::exception&) {
            // Thread creation and the like.
            setError(kErrAllocFail, 0);
            fatal = true;
            fatalCode = kErrAllocFail;
        }
        return false;
    }

    void setError(int32_t code, int32_t errnum)
    {
        erf->erfOper = code;
        erf->erfType = errnum;
        erf->fError = 1;
    }
};

const char* FCIErrorText(int32_t code)
{
    switch (code) {
    case kErrNone:
        return "No error";
    case kErrOpenSource:
        return "Failure opening file to be stored in cabinet";
    case kErrReadSource:
        return "Failure reading file to be stored in cabinet";
    case kErrAllocFail:
        return "Insufficient memory in FCI";
    case kErrTempFile:
        return "Could not create a temporary file";
    case kErrBadComprType:
        return "Unknown compression type";
    case kErrCabFile:
        return "Could not create cabinet file";
    case kErrUserAbort:
        return "Client requested abort";
    case kErrMciFail:
        return "Failure compressing data";
    case kErrFormatLimit:
        return "Cabinet format limit exceeded";
    default:
        return "Unknown error";
    }
}

HFCI FCICreate(ERF* perf, PFNFCIFILEPLACED pfnfcifp, PFNFCIALLOC pfna, PFNFCIFREE pfnf, PFNFCIOPEN pfnopen,
               PFNFCIREAD pfnread, PFNFCIWRITE pfnwrite, PFNFCICLOSE pfnclose, PFNFCISEEK pfnseek,
               PFNFCIDELETE pfndelete, PFNFCIGETTEMPFILE pfnfcigtf, CCAB* pccab, void* pv)
{
    if (!perf)
        return nullptr;
    auto refuse = [perf](int32_t code, int32_t errnum) -> HFCI {
        perf->erfOper = code;
        perf->erfType = errnum;
        perf->fError = 1;
        return nullptr;
    };
    if (!pfna || !pfnf || !pfnopen || !pfnread || !pfnwrite || !pfnclose || !pfnseek || !pfndelete ||
        !pfnfcigtf || !pccab)
        return refuse(kErrCabFile, 0);
    if (pccab->cbReserveCFHeader || pccab->cbReserveCFFolder || pccab->cbReserveCFData)
        return refuse(kErrCabFile, 0);
    if (!std::memchr(pccab->szDisk, 0, kCabTextSize) || !std::memchr(pccab->szCab, 0, kCabTextSize) ||
        !std::memchr(pccab->szCabPath, 0, kCabTextSize) || !pccab->szCab[0])
        return refuse(kErrCabFile, 0);

    void* mem = pfna(sizeof(FciContext));
    if (!mem)
        return refuse(kErrAllocFail, 0);
    auto* c = new (mem) FciContext(perf, pfna, pfnf);
    c->filePlaced = pfnfcifp;
    c->open = pfnopen;
    c->read = pfnread;
    c->write = pfnwrite;
    c->close = pfnclose;
    c->seek = pfnseek;
    c->remove = pfndelete;
    c->tempName = pfnfcigtf;
    c->ccab = *pccab;
    c->pv = pv;

    int err = 0;
    if (!pfnfcigtf(c->tempPath, kCabTextSize, pv) || !std::memchr(c->tempPath, 0, kCabTextSize) ||
        !c->tempPath[0]) {
        c->~FciContext();
        pfnf(mem);
        return refuse(kErrTempFile, 0);
    }
    c->temp = pfnopen(c->tempPath, kOpenReadWrite | kOpenBinary, kPermRead | kPermWrite, &err, pv);
    if (c->temp == -1) {
        int e = 0;
        pfndelete(c->tempPath, &e, pv);
        c->~FciContext();
        pfnf(mem);
        return refuse(kErrTempFile, err);
    }
    return c;
}

bool FCIAddFile(HFCI hfci, char* pszSourceFile, char* pszFileName, int fExecute, PFNFCIGETNEXTCABINET,
                PFNFCISTATUS pfnfcis, PFNFCIGETOPENINFO pfnfcigoi, uint16_t typeCompress)
{
    if (!hfci)
        return false;
    hfci->status = pfnfcis;
    return hfci->guarded(
        [&] { hfci->addFile(pszSourceFile, pszFileName, fExecute, pfnfcigoi, typeCompress); });
}

bool FCIFlushCabinet(HFCI hfci, int, PFNFCIGETNEXTCABINET, PFNFCISTATUS pfnfcis)
{
    if (!hfci)
        return false;
    hfci->status = pfnfcis;
    return hfci->guarded([&] { hfci->flush(); });
}

bool FCISetWorkerThreads(HFCI hfci, unsigned count)
{
    if (!hfci || hfci->pipeline)
        return false;
    hfci->threads = std::min(count, 64u);
    return true;
}

bool FCIDestroy(HFCI hfci)
{
    if (!hfci)
        return false;
    PFNFCIFREE release = hfci->release;
    bool ok = true;
    if (hfci->pipeline) {
        hfci->pipeline->~BlockPipeline();
        release(hfci->pipeline);
    }
    if (hfci->lastPlain)
        release(hfci->lastPlain);
    int err = 0;
    if (hfci->close(hfci->temp, &err, hfci->pv) != 0)
        ok = false;
    if (hfci->remove(hfci->tempPath, &err, hfci->pv) != 0)
        ok = false;
    if (!ok)
        hfci->setError(kErrTempFile, err);
    hfci->~FciContext();
    release(hfci);
    return ok;
}

} // namespace ravelin::fci
