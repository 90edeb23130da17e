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
#include "platform/io.h"

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
    for (size_t i = 0; i < length; ++i)
        high = high || static_cast<unsigned char>(name[i]) > 127;
    return high && io::isUtf8(name, length);
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

// A folder of the cabinet being made. Its CFDATA records reach the
// temporary file in order, folder after folder, while later folders may
// already be compressing.
struct FolderRecord {
    uint64_t compressed = 0;    // bytes of its CFDATA records written so far
    uint32_t blocks = 0;        // CFDATA records submitted
    uint32_t blocksWritten = 0; // of them, written to the temporary file
    uint16_t type = kTypeMszip;
    LzxStream* lzx = nullptr; // its encoder, until all its records are written
};

// A file entry as it will be written, and where its name is kept.
struct FileRecord {
    CFFILE entry;
    uint32_t nameOffset = 0; // in the names arena
    uint16_t nameLength = 0;
};

constexpr uint32_t kCopyBufferSize = 65536;

// The most one CFDATA record of a folder of this type can take.
uint64_t worstRecord(uint16_t type)
{
    return kDataHeaderSize + ((type & kTypeMethodMask) == kTypeLzx ? kMaxLzxBlockData : kMaxBlockData);
}

// Memory for LZX folders compressed at once (their encoders and the slots
// that keep their threads fed): the library stays under 128 MB with it.
constexpr uint64_t kLzxMemoryBudget = 112ull << 20;

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

    // Every folder of the cabinet; the last one is being filled while
    // folderOpen.
    Vec<FolderRecord> folders;
    Vec<FileRecord> files;
    Vec<char> names;
    uint64_t fileEntryBytes = 0;
    uint64_t pendingWorst = 0; // worst size of the records submitted and not yet written
    bool lzxReady = false;     // the ring has been sized for LZX folders

    // The folder being filled.
    bool folderOpen = false;
    uint16_t folderType = kTypeMszip;
    uint32_t folderBytes = 0; // uncompressed bytes so far
    uint32_t fill = 0;        // bytes in the filling slot
    uint32_t folderFiles = 0; // file entries in it
    // Where the folder can be cut back to while a file goes in: after the
    // block the file begins in, once that block is written.
    uint32_t keepBlocks = 0;
    uint64_t keepLength = 0;

    bool lzxFolder() const { return (folderType & kTypeMethodMask) == kTypeLzx; }
    // Bytes one slot takes before it is submitted: an LZX job groups frames.
    uint32_t slotCapacity() const { return lzxFolder() ? Block::kMaxRecords * kBlockSize : kBlockSize; }
    bool isOpen(size_t folder) const { return folderOpen && folder + 1 == folders.size(); }

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

    // Writes finished jobs' records in order; with `all`, waits for every one.
    void drain(bool all)
    {
        while (!pipeline->empty()) {
            Block* b = pipeline->oldest(all);
            if (!b)
                return;
            if (b->error != kErrNone)
                fail(b->error, 0, true);
            FolderRecord& f = folders[b->folder];
            for (uint32_t k = 0; k < b->records; ++k) {
                if (isOpen(b->folder) && f.blocksWritten == keepBlocks)
                    keepLength = dataLength;
                writeTemp(b->out + k * Block::kRecordRoom, b->recordLen[k]);
                f.compressed += b->recordLen[k];
                ++f.blocksWritten;
            }
            const uint32_t records = b->records;
            uint32_t cbData[Block::kMaxRecords], cbUncomp[Block::kMaxRecords];
            std::copy(b->cbData, b->cbData + records, cbData);
            std::copy(b->cbUncomp, b->cbUncomp + records, cbUncomp);
            const size_t folder = b->folder;
            pendingWorst -= b->frames() * worstRecord(b->type);
            pipeline->releaseOldest();
            for (uint32_t k = 0; k < records; ++k)
                notifyStatus(kStatusFile, cbData[k], cbUncomp[k]);
            if (!isOpen(folder) && folders[folder].blocksWritten == folders[folder].blocks)
                completeFolder(folder);
        }
    }

    // Every record of a closed folder is written.
    void completeFolder(size_t folder)
    {
        FolderRecord& f = folders[folder];
        if (f.lzx) {
            pipeline->releaseLzx(f.lzx);
            f.lzx = nullptr;
        }
        notifyStatus(kStatusFolder, uint32_t(std::min<uint64_t>(dataLength, 0xFFFFFFFFu)),
                     uint32_t(std::min<uint64_t>(f.compressed, 0xFFFFFFFFu)));
    }

    void submitBlock()
    {
        Block& b = pipeline->filling();
        b.inLen = fill;
        b.type = folderType;
        b.failIncompressible = ccab.fFailOnIncompressible != 0;
        b.folder = uint32_t(folders.size() - 1);
        b.lzx = folders.back().lzx;
        if (!b.lzx) {
            b.dictLen = lastPlainLength;
            if (lastPlainLength)
                std::memcpy(b.dict, lastPlain, lastPlainLength);
            std::memcpy(lastPlain, b.in, fill);
            lastPlainLength = fill;
        }
        folders.back().blocks += b.frames();
        pendingWorst += b.frames() * worstRecord(b.type);
        pipeline->submit();
        fill = 0;
    }

    // A free slot; when all are taken, waits for the oldest job only, so
    // the other folders' jobs keep their threads busy meanwhile.
    Block& slotToFill()
    {
        while (pipeline->full()) {
            drain(false);
            if (pipeline->full()) {
                pipeline->oldest(true);
                drain(false);
            }
        }
        return pipeline->filling();
    }

    void openFolder(uint16_t type)
    {
        FolderRecord f;
        f.type = type;
        if (const unsigned windowBits = lzxWindowBits(type)) {
            prepareLzx(windowBits);
            bool noMemory = false;
            while (!(f.lzx = pipeline->acquireLzx(windowBits, &noMemory))) {
                // Every encoder still belongs to an earlier folder: write out
                // the oldest job until one is given back.
                if (noMemory || pipeline->empty())
                    fail(kErrAllocFail, 0, true);
                pipeline->oldest(true);
                drain(false);
            }
        }
        folders.push_back(f);
        folderOpen = true;
        folderType = type;
        folderBytes = 0;
        folderFiles = 0;
        fill = 0;
        lastPlainLength = 0;
    }

    // Sizes the ring and the encoder pool for LZX folders, once: enough
    // slots that every thread can work on a folder of its own while the
    // oldest one is written out, as many folders as the memory budget holds.
    void prepareLzx(unsigned windowBits)
    {
        if (lzxReady)
            return;
        lzxReady = true;
        if (pipeline->threads() <= 1)
            return; // one encoder, the pipeline's default
        const uint64_t folderSlots =
            (std::max(ccab.cbFolderThresh, kLzxFolderThreshold) + sizeof(Block::in) - 1) / sizeof(Block::in);
        const uint64_t perFolder =
            LzxEncoder::memoryNeeded(lzx::kMaxWindowBits) + folderSlots * sizeof(Block);
        const unsigned folders =
            unsigned(std::clamp<uint64_t>(kLzxMemoryBudget / perFolder, 1, pipeline->threads()));
        (void)windowBits;
        drain(true);
        if (!pipeline->reserveSlots(size_t((folders - 1) * folderSlots + 2 * pipeline->threads() + 2)))
            fail(kErrAllocFail, 0, true);
        pipeline->setLzxLimit(folders);
    }

    void closeFolder()
    {
        if (!folderOpen)
            return;
        if (fill)
            submitBlock();
        folderOpen = false;
        lastPlainLength = 0;
        if (folders.back().blocksWritten == folders.back().blocks)
            completeFolder(folders.size() - 1);
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
        const uint64_t start = dataLength - folders.back().compressed;
        int err = 0;
        if (seek(temp, long(start), kSeekSet, &err, pv) != long(start))
            fail(kErrTempFile, err, true);
        dataLength = start;
        if (folders.back().lzx)
            pipeline->releaseLzx(folders.back().lzx);
        folders.pop_back();
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
        FolderRecord& f = folders.back();
        if (keepBlocks > f.blocks) {
            // The file began in the slot still being filled: keep its frames
            // up to the one the file began in.
            fill = std::min(fill, (keepBlocks - f.blocks) * kBlockSize);
            folderBytes = f.blocks * kBlockSize + fill;
            closeFolder();
            return;
        }
        drain(true);
        if (f.blocksWritten == keepBlocks)
            keepLength = dataLength;
        int err = 0;
        if (seek(temp, long(keepLength), kSeekSet, &err, pv) != long(keepLength))
            fail(kErrTempFile, err, true);
        f.compressed -= dataLength - keepLength;
        dataLength = keepLength;
        f.blocks = f.blocksWritten = keepBlocks;
        folderBytes = keepBlocks * kBlockSize;
        fill = 0;
        closeFolder();
    }

    // The cabinet's size if it were flushed now with `extra` more bytes of
    // entries; records not yet written, the filling slot's included, count at
    // their worst.
    uint64_t sizeSoFar(uint64_t extra) const
    {
        const uint64_t fillFrames = (fill + kBlockSize - 1) / kBlockSize;
        return kHeaderSize + folders.size() * kFolderSize + fileEntryBytes + extra + dataLength +
               pendingWorst + fillFrames * worstRecord(folderType);
    }

    // Records in flight are waited for before the answer is yes, so it never
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
        if (type != kTypeNone && type != kTypeMszip && !lzxWindowBits(type))
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
        keepBlocks = folders.back().blocks + (fill + kBlockSize - 1) / kBlockSize;
        keepLength = dataLength;
        uint64_t remaining = size;
        while (remaining) {
            Block& b = slotToFill();
            const uint32_t want = uint32_t(std::min<uint64_t>(remaining, slotCapacity() - fill));
            uint32_t got = read(h, b.in + fill, want, &err, pv);
            if (got == uint32_t(-1))
                got = 0;
            got = std::min(got, want);
            fill += got;
            folderBytes += got;
            if (fill == slotCapacity())
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
        f.entry.iFolder = uint16_t(folders.size() - 1);
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
        if (lzxFolder()) {
            if (folderBytes >= std::max(ccab.cbFolderThresh, kLzxFolderThreshold))
                closeFolder();
            return;
        }
        // The folder's size: its compressed blocks, and the unfinished block
        // at its raw size. Blocks still in flight are only waited for when
        // they could decide it, so the decision never depends on timing.
        const uint64_t known = folders.back().compressed + fill;
        if (known <= ccab.cbFolderThresh && known + pendingWorst > ccab.cbFolderThresh)
            drain(true);
        if (folders.back().compressed + fill > ccab.cbFolderThresh)
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
        uint64_t folderData = dataStart;
        for (const FolderRecord& f : folders) {
            emit(kFolderSize);
            CFFOLDER r;
            r.coffCabStart = uint32_t(folderData);
            folderData += f.compressed;
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
        if (pipeline) {
            closeFolder();
            drain(true);
        }
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
