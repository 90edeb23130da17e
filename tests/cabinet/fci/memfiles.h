#pragma once
// Callbacks of the cabinet library over memory files, with a fault to inject
// into each of them, for the library tests.
#include <QByteArray>
#include <QList>
#include <QMap>

#include "cabinet/fci/fci.h"

namespace ravelin::test::mem {

struct MemFiles {
    // Files by path; the cabinet and temporary files appear here.
    QMap<QByteArray, QByteArray> files;
    // A source may claim a size it does not have (seeking to its end says so).
    QMap<QByteArray, qint64> claimedSize;

    // Faults: a callback fails when its trigger matches.
    QByteArray failOpen;          // open of a path containing this
    QByteArray failOpenForAdding; // open-for-adding of a path containing this
    QByteArray failReadOf;        // reads of a path containing this fail ...
    qint64 failReadAfter = 0;     // ... once this many bytes were read from it
    QByteArray failWriteOf;       // writes to a path containing this fail
    bool failTempName = false;
    bool abortStatus = false;
    bool abortPlaced = false;

    // Records.
    QList<QByteArray> opened; // paths given to open, in order
    QList<int> openFlags;
    QList<QByteArray> deleted;
    QList<QByteArray> placed;
    int tempCount = 0;

    struct Handle {
        QByteArray path;
        qint64 pos = 0;
        qint64 readSoFar = 0;
    };
    QMap<intptr_t, Handle> handles;
    intptr_t nextHandle = 10;
};

// Allocations still granted before the allocate callback fails (-1: all).
extern int allocationsLeft;
// Blocks allocated and not yet released.
extern int liveAllocations;

void* allocate(uint32_t cb);
void release(void* p);
intptr_t open(char* path, int oflag, int pmode, int* err, void* pv);
uint32_t read(intptr_t hf, void* memory, uint32_t cb, int* err, void* pv);
uint32_t write(intptr_t hf, void* memory, uint32_t cb, int* err, void* pv);
int close(intptr_t hf, int* err, void* pv);
long seek(intptr_t hf, long dist, int seektype, int* err, void* pv);
int remove(char* path, int* err, void* pv);
int tempName(char* buffer, int size, void* pv);
int placed(fci::CCAB* ccab, char* name, int32_t size, int continuation, void* pv);
long status(uint32_t kind, uint32_t cb1, uint32_t cb2, void* pv);
intptr_t openInfo(char* path, uint16_t* date, uint16_t* time, uint16_t* attribs, int* err, void* pv);

inline constexpr char kCabinetPath[] = "/mem/test.cab";

// The builder's parameters, cabinet "/mem/" + "test.cab".
fci::CCAB defaultParameters();
// FCICreate over `files` (the cabinet file is created empty first).
fci::HFCI create(MemFiles* files, fci::ERF* erf, fci::CCAB* ccab);
// Adds files[source] under `name` with MSZIP.
bool add(fci::HFCI h, const QByteArray& source, const QByteArray& name, uint16_t type = fci::kCompressMszip);

} // namespace ravelin::test::mem
