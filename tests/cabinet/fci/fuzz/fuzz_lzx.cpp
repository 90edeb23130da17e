// libFuzzer target: LZX round trip. The first byte picks the window (2^15
// to 2^21) and one or two threads; the rest is one file, written as a
// one-file LZX cabinet in memory through the library's callbacks, then
// extracted by libmspack in memory. The bytes must come back equal.
#include <mspack.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "cabinet/fci/fci.h"

namespace fci = ravelin::fci;

namespace {

// ---- the library's callbacks over memory files --------------------------

using Bytes = std::vector<uint8_t>;

struct Memory {
    std::map<std::string, Bytes> files;
    struct Handle {
        Bytes* data;
        long pos;
    };
    std::map<intptr_t, Handle> handles;
    intptr_t next = 10;
};

Memory& mem(void* pv)
{
    return *static_cast<Memory*>(pv);
}

void* allocate(uint32_t cb)
{
    return std::malloc(cb);
}
void release(void* p)
{
    std::free(p);
}

intptr_t open(char* path, int, int, int* err, void* pv)
{
    Memory& m = mem(pv);
    const auto it = m.files.find(path);
    if (it == m.files.end()) {
        *err = ENOENT;
        return -1;
    }
    m.handles[m.next] = {&it->second, 0};
    return m.next++;
}

uint32_t read(intptr_t hf, void* buffer, uint32_t cb, int*, void* pv)
{
    Memory::Handle& h = mem(pv).handles.at(hf);
    const long n = std::min<long>(cb, long(h.data->size()) - h.pos);
    if (n > 0)
        std::memcpy(buffer, h.data->data() + h.pos, size_t(n));
    h.pos += std::max(n, 0L);
    return uint32_t(std::max(n, 0L));
}

uint32_t write(intptr_t hf, void* buffer, uint32_t cb, int*, void* pv)
{
    Memory::Handle& h = mem(pv).handles.at(hf);
    if (h.data->size() < size_t(h.pos) + cb)
        h.data->resize(size_t(h.pos) + cb);
    std::memcpy(h.data->data() + h.pos, buffer, cb);
    h.pos += long(cb);
    return cb;
}

int close(intptr_t hf, int*, void* pv)
{
    return mem(pv).handles.erase(hf) ? 0 : -1;
}

long seek(intptr_t hf, long dist, int origin, int*, void* pv)
{
    Memory::Handle& h = mem(pv).handles.at(hf);
    const long base = origin == fci::kSeekSet ? 0 : origin == fci::kSeekCur ? h.pos : long(h.data->size());
    h.pos = base + dist;
    return h.pos;
}

int remove(char* path, int*, void* pv)
{
    return mem(pv).files.erase(path) ? 0 : -1;
}

int tempName(char* buffer, int size, void* pv)
{
    std::snprintf(buffer, size_t(size), "/tmp/tp1");
    mem(pv).files["/tmp/tp1"];
    return 1;
}

intptr_t openInfo(char* path, uint16_t* date, uint16_t* time, uint16_t* attribs, int* err, void* pv)
{
    *date = 0x5821;
    *time = 0;
    *attribs = 0x20;
    return open(path, 0, 0, err, pv);
}

long status(uint32_t, uint32_t, uint32_t, void*)
{
    return 0;
}

// ---- libmspack's I/O over memory ----------------------------------------

struct MspackMemory {
    mspack_system sys; // first: libmspack's pointer is ours
    const Bytes* cabinet;
    Bytes output;
};

struct MspackFile {
    MspackMemory* owner;
    bool isOutput;
    long pos;
};

mspack_file* msOpen(mspack_system* self, const char* name, int mode)
{
    auto* m = reinterpret_cast<MspackMemory*>(self);
    const bool output = std::strcmp(name, "out") == 0;
    if (output != (mode == MSPACK_SYS_OPEN_WRITE))
        return nullptr;
    if (output)
        m->output.clear();
    return reinterpret_cast<mspack_file*>(new MspackFile{m, output, 0});
}

void msClose(mspack_file* f)
{
    delete reinterpret_cast<MspackFile*>(f);
}

int msRead(mspack_file* file, void* buffer, int bytes)
{
    auto* f = reinterpret_cast<MspackFile*>(file);
    const long n = std::clamp<long>(long(f->owner->cabinet->size()) - f->pos, 0, bytes);
    std::memcpy(buffer, f->owner->cabinet->data() + f->pos, size_t(n));
    f->pos += n;
    return int(n);
}

int msWrite(mspack_file* file, void* buffer, int bytes)
{
    auto* f = reinterpret_cast<MspackFile*>(file);
    const auto* p = static_cast<const uint8_t*>(buffer);
    f->owner->output.insert(f->owner->output.end(), p, p + bytes);
    return bytes;
}

int msSeek(mspack_file* file, off_t offset, int mode)
{
    auto* f = reinterpret_cast<MspackFile*>(file);
    const long size = long(f->owner->cabinet->size());
    const long base = mode == MSPACK_SYS_SEEK_START ? 0 : mode == MSPACK_SYS_SEEK_CUR ? f->pos : size;
    if (base + offset < 0 || base + offset > size)
        return 1;
    f->pos = long(base + offset);
    return 0;
}

off_t msTell(mspack_file* file)
{
    return reinterpret_cast<MspackFile*>(file)->pos;
}
void msMessage(mspack_file*, const char*, ...) {}
void* msAlloc(mspack_system*, size_t bytes)
{
    return std::malloc(bytes);
}
void msFree(void* p)
{
    std::free(p);
}
void msCopy(void* src, void* dest, size_t bytes)
{
    std::memmove(dest, src, bytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const unsigned windowBits = fci::kLzxWindowMin + data[0] % 7;
    const unsigned threads = 1 + (data[0] >> 7);
    Memory m;
    m.files["/mem/t.cab"];
    m.files["/s/f"] = Bytes(data + 1, data + size);
    fci::ERF erf;
    fci::CCAB ccab;
    ccab.cb = 999'999'999;
    ccab.cbFolderThresh = 900'000;
    ccab.iCab = 1;
    std::strcpy(ccab.szCab, "t.cab");
    std::strcpy(ccab.szCabPath, "/mem/");
    fci::HFCI h = fci::FCICreate(&erf, nullptr, allocate, release, open, read, write, close, seek, remove,
                                 tempName, &ccab, &m);
    if (!h || !fci::FCISetWorkerThreads(h, threads))
        std::abort();
    char source[] = "/s/f", name[] = "f";
    if (!fci::FCIAddFile(h, source, name, 0, nullptr, status, openInfo, fci::compressLzx(windowBits)) ||
        !fci::FCIFlushCabinet(h, 0, nullptr, status) || !fci::FCIDestroy(h))
        std::abort();

    MspackMemory ms{};
    ms.sys = {msOpen, msClose, msRead, msWrite, msSeek, msTell, msMessage, msAlloc, msFree, msCopy, nullptr};
    ms.cabinet = &m.files["/mem/t.cab"];
    mscab_decompressor* d = mspack_create_cab_decompressor(&ms.sys);
    mscabd_cabinet* cab = d->open(d, "cab");
    if (!cab || !cab->files || cab->files->next)
        std::abort();
    if (d->extract(d, cab->files, "out") != MSPACK_ERR_OK)
        std::abort();
    if (ms.output != m.files["/s/f"])
        std::abort();
    d->close(d, cab);
    mspack_destroy_cab_decompressor(d);
    return 0;
}
