#pragma once
// The File Compression Interface: writes Microsoft cabinets with MSZIP or
// LZX data, or stored.
//
// A client creates a context with FCICreate, adds files with FCIAddFile,
// writes the cabinet with FCIFlushCabinet and ends with FCIDestroy. The
// library reaches memory and files only through the callbacks given to
// FCICreate, and every callback runs on the thread that called the API
// function. Compression itself may run on worker threads (see
// FCISetWorkerThreads); the cabinet written is byte-identical whatever the
// number of threads.
//
// Files: the library opens the cabinet (CCAB::szCabPath followed by
// CCAB::szCab) and its temporary files only through the open callback, and
// never asks it to create a file (no kOpenCreate): the client creates the
// empty cabinet file before the flush, and a temporary file exists once the
// temporary-name callback has made its name. Source files are opened by the
// open-for-adding callback and closed through the close callback.
//
// Failure: FCICreate returns nullptr, the other calls false, and the error
// record given to FCICreate holds the code (FciError) and the run-time error
// number the failing callback reported. A failed FCIAddFile for reasons of
// the source file or a format limit (kOpenSource, kReadSource, kFormatLimit)
// leaves the context usable and the cabinet so far intact; every other
// failure is fatal: the context then refuses all calls but FCIDestroy.
//
// Not thread-safe: one context is used by one thread at a time.
#include <cstdint>

namespace ravelin::fci {

// Operation error codes kept in ERF::erfOper.
enum FciError : int32_t {
    kErrNone = 0,
    kErrOpenSource = 1,   // open-for-adding failed
    kErrReadSource = 2,   // reading or sizing a source file failed
    kErrAllocFail = 3,    // the allocate callback returned nothing
    kErrTempFile = 4,     // temporary file: name, open, write, read or seek failed
    kErrBadComprType = 5, // compression type is not none, MSZIP or LZX with a window of 2^15..2^21
    kErrCabFile = 6,      // the cabinet could not be opened or written, or bad CCAB
    kErrUserAbort = 7,    // a status or file-placed callback returned -1
    kErrMciFail = 8,      // a compression engine failed, or a block did not shrink when it had to
    kErrFormatLimit = 9,  // the file would break a limit of the cabinet format
};

// The error record: filled when a call fails.
struct ERF {
    int32_t erfOper = 0; // FciError
    int32_t erfType = 0; // run-time error number from the callback, or 0
    int32_t fError = 0;  // nonzero once a call has failed
};

// The English text for an error code; "Unknown error" for codes it does not know.
const char* FCIErrorText(int32_t code);

inline constexpr int kCabTextSize = 256; // bytes of each CCAB text, terminator included

// Cabinet parameters, read by FCICreate (the library keeps its own copy).
struct CCAB {
    uint32_t cb = 0;                // maximum cabinet size in bytes
    uint32_t cbFolderThresh = 0;    // start a new folder once one passes this size (see FCIAddFile)
    uint32_t cbReserveCFHeader = 0; // reserve areas: must be 0
    uint32_t cbReserveCFFolder = 0;
    uint32_t cbReserveCFData = 0;
    int32_t iCab = 0; // cabinet number from 1; the header's iCabinet is iCab - 1
    int32_t iDisk = 0;
    int32_t fFailOnIncompressible = 0; // nonzero: a block that does not shrink fails with kErrMciFail
    uint16_t setID = 0;
    char szDisk[kCabTextSize] = {};    // zero-terminated texts
    char szCab[kCabTextSize] = {};     // cabinet file name
    char szCabPath[kCabTextSize] = {}; // cabinet directory, ending in its separator
};

// Compression types for FCIAddFile.
inline constexpr uint16_t kCompressNone = 0;
inline constexpr uint16_t kCompressMszip = 1;
// LZX with a window of 2^windowBits bytes, 15 to 21 (the type word's
// layout is Microsoft's: the method in bits 0-3, the window in bits 8-12).
inline constexpr unsigned kLzxWindowMin = 15;
inline constexpr unsigned kLzxWindowMax = 21;
constexpr uint16_t compressLzx(unsigned windowBits)
{
    return uint16_t(3 | (windowBits << 8));
}

// LZX folders close on their uncompressed size: after the file that takes
// a folder to max(CCAB::cbFolderThresh, kLzxFolderThreshold) bytes. Each
// LZX folder is one stream compressed by one thread, so folders are what
// runs in parallel; counting uncompressed bytes decides the cut without
// waiting for the compressor, so the next folder starts at once, and the
// result does not depend on timing. 8 MiB, measured on 20 MB of binaries
// and text at lzx:21: one folder for all is 0.4% smaller, 4 MiB folders
// 1.2% larger and 2 MiB 1.9% larger, as matches across files are lost with
// the window at each folder's start; on two cores 8 MiB still keeps both
// busy for inputs of 16 MB and more, and the memory of two folders in
// flight fits the 128 MB the library allows itself.
inline constexpr uint32_t kLzxFolderThreshold = 8u << 20;

// Open flags handed to the open callback (the values of the Microsoft C
// run-time's _O_ flags).
inline constexpr int kOpenRead = 0x0000;
inline constexpr int kOpenWrite = 0x0001;
inline constexpr int kOpenReadWrite = 0x0002;
inline constexpr int kOpenAppend = 0x0008;
inline constexpr int kOpenCreate = 0x0100;
inline constexpr int kOpenTruncate = 0x0200;
inline constexpr int kOpenExclusive = 0x0400;
inline constexpr int kOpenBinary = 0x8000;
inline constexpr int kOpenAccessMask = 0x0003;

// Permission bits for the open callback's mode parameter.
inline constexpr int kPermRead = 0x0100;
inline constexpr int kPermWrite = 0x0080;

// Status notice kinds.
inline constexpr uint32_t kStatusFile = 0; // a data block was written: cb1 compressed, cb2 uncompressed bytes
inline constexpr uint32_t kStatusFolder = 1;  // a folder was closed: cb1 bytes so far, cb2 total folder bytes
inline constexpr uint32_t kStatusCabinet = 2; // the cabinet is written: cb1 estimated, cb2 actual size

// Callbacks. `err` receives a run-time error number when a call fails; `pv`
// is the client context given to FCICreate. Handles are the client's own;
// -1 is never a valid handle.
using PFNFCIFILEPLACED = int (*)(CCAB* pccab, char* pszFile, int32_t cbFile, int fContinuation, void* pv);
using PFNFCIALLOC = void* (*)(uint32_t cb);
using PFNFCIFREE = void (*)(void* memory);
using PFNFCIOPEN = intptr_t (*)(char* pszFile, int oflag, int pmode, int* err, void* pv);
using PFNFCIREAD = uint32_t (*)(intptr_t hf, void* memory, uint32_t cb, int* err, void* pv);
using PFNFCIWRITE = uint32_t (*)(intptr_t hf, void* memory, uint32_t cb, int* err, void* pv);
using PFNFCICLOSE = int (*)(intptr_t hf, int* err, void* pv);
using PFNFCISEEK = long (*)(intptr_t hf, long dist, int seektype, int* err, void* pv);
using PFNFCIDELETE = int (*)(char* pszFile, int* err, void* pv);
// Writes a zero-terminated name of at most cbTempName bytes (terminator
// included) into pszTempName, creating the empty file; nonzero on success.
using PFNFCIGETTEMPFILE = int (*)(char* pszTempName, int cbTempName, void* pv);
// Next-cabinet request: this library writes one cabinet per flush and never calls it.
using PFNFCIGETNEXTCABINET = int (*)(CCAB* pccab, uint32_t cbPrevCab, void* pv);
using PFNFCISTATUS = long (*)(uint32_t typeStatus, uint32_t cb1, uint32_t cb2, void* pv);
// Opens a source file for reading and gives its DOS date, time and attributes.
using PFNFCIGETOPENINFO = intptr_t (*)(char* pszName, uint16_t* pdate, uint16_t* ptime, uint16_t* pattribs,
                                       int* err, void* pv);

// Seek origins for the seek callback.
inline constexpr int kSeekSet = 0;
inline constexpr int kSeekCur = 1;
inline constexpr int kSeekEnd = 2;

struct FciContext;
using HFCI = FciContext*;

// Creates a compression context. The error record must outlive the context.
// Fails (nullptr) with kErrAllocFail, kErrTempFile (the temporary file could
// not be named or opened) or kErrCabFile (a CCAB text without terminator, a
// nonzero reserve area, a missing callback).
HFCI FCICreate(ERF* perf, PFNFCIFILEPLACED pfnfcifp, PFNFCIALLOC pfna, PFNFCIFREE pfnf, PFNFCIOPEN pfnopen,
               PFNFCIREAD pfnread, PFNFCIWRITE pfnwrite, PFNFCICLOSE pfnclose, PFNFCISEEK pfnseek,
               PFNFCIDELETE pfndelete, PFNFCIGETTEMPFILE pfnfcigtf, CCAB* pccab, void* pv);

// Adds one file: its data is read now (through the handle the open-for-
// adding callback returns) and compressed; the cabinet is written by
// FCIFlushCabinet. `pszFileName` is the stored name, 1 to 255 bytes of
// UTF-8; a name with a byte above 127 gets the attribute 0x80. `fExecute`
// adds the attribute 0x40. `typeCompress`: kCompressNone, kCompressMszip or
// compressLzx(15..21); anything else fails with kErrBadComprType. Limits
// (kErrFormatLimit): 65,535 files, 65,533 folders, 0x7FFF8000 uncompressed
// bytes in a folder (so one file at most that large), the cabinet size
// CCAB::cb. A new folder begins after a file when the current folder has
// passed its threshold (MSZIP and stored: CCAB::cbFolderThresh compressed
// bytes; LZX: see kLzxFolderThreshold), and when the compression type
// (for LZX, its window included) changes.
bool FCIAddFile(HFCI hfci, char* pszSourceFile, char* pszFileName, int fExecute,
                PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis, PFNFCIGETOPENINFO pfnfcigoi,
                uint16_t typeCompress);

// Writes the cabinet with every file added since the previous flush: opens
// it through the open callback with kOpenWrite | kOpenTruncate | kOpenBinary,
// writes it and closes it. A cabinet with no files is written too. Only one
// cabinet per flush: fGetNextCab must be false. After a successful flush the
// context starts a new, empty cabinet with the same parameters.
bool FCIFlushCabinet(HFCI hfci, int fGetNextCab, PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis);

// Stops the worker threads, closes and deletes the temporary file and frees
// the context. False (kErrTempFile) when the temporary file could not be
// closed or deleted; the context is freed all the same.
bool FCIDestroy(HFCI hfci);

// How many threads compress: 0 (the default) picks one per processor (at
// most 8), 1 compresses on the calling thread. MSZIP blocks are compressed
// in parallel; LZX folders are, as many at once as a 112 MB budget holds
// (2 at the default threshold: about 32 MiB of encoder and 21 MB of queued
// frames each), and a folder's match search runs beside its parse on a
// second thread; so the library stays under 128 MB. Only
// before the first FCIAddFile; false otherwise. The output does not depend
// on it.
bool FCISetWorkerThreads(HFCI hfci, unsigned count);

} // namespace ravelin::fci
