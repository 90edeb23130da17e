#include "memfiles.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace ravelin::test::mem {

int allocationsLeft = -1;
int liveAllocations = 0;

static MemFiles* mf(void* pv)
{
    return static_cast<MemFiles*>(pv);
}

void* allocate(uint32_t cb)
{
    if (allocationsLeft == 0)
        return nullptr;
    if (allocationsLeft > 0)
        --allocationsLeft;
    ++liveAllocations;
    return std::malloc(cb ? cb : 1);
}

void release(void* p)
{
    if (p)
        --liveAllocations;
    std::free(p);
}

intptr_t open(char* path, int oflag, int, int* err, void* pv)
{
    MemFiles* m = mf(pv);
    m->opened.append(path);
    m->openFlags.append(oflag);
    if ((!m->failOpen.isEmpty() && QByteArray(path).contains(m->failOpen)) || !m->files.contains(path)) {
        *err = ENOENT;
        return -1;
    }
    if (oflag & fci::kOpenTruncate)
        m->files[path].clear();
    const intptr_t h = m->nextHandle++;
    m->handles[h] = {path, 0, 0};
    return h;
}

uint32_t read(intptr_t hf, void* memory, uint32_t cb, int* err, void* pv)
{
    MemFiles* m = mf(pv);
    if (!m->handles.contains(hf)) {
        *err = EBADF;
        return uint32_t(-1);
    }
    MemFiles::Handle& h = m->handles[hf];
    const QByteArray& data = m->files[h.path];
    qint64 n = qMax<qint64>(0, qMin<qint64>(cb, data.size() - h.pos));
    bool fault = false;
    if (!m->failReadOf.isEmpty() && h.path.contains(m->failReadOf) && h.readSoFar + n > m->failReadAfter) {
        n = qMax<qint64>(0, m->failReadAfter - h.readSoFar);
        fault = true;
    }
    std::memcpy(memory, data.constData() + h.pos, size_t(n));
    h.pos += n;
    h.readSoFar += n;
    if (fault) {
        *err = EIO;
        return n ? uint32_t(n) : uint32_t(-1);
    }
    return uint32_t(n);
}

uint32_t write(intptr_t hf, void* memory, uint32_t cb, int* err, void* pv)
{
    MemFiles* m = mf(pv);
    if (!m->handles.contains(hf)) {
        *err = EBADF;
        return uint32_t(-1);
    }
    MemFiles::Handle& h = m->handles[hf];
    if (!m->failWriteOf.isEmpty() && h.path.contains(m->failWriteOf)) {
        *err = ENOSPC;
        return uint32_t(-1);
    }
    QByteArray& data = m->files[h.path];
    if (data.size() < h.pos + cb)
        data.resize(h.pos + cb);
    std::memcpy(data.data() + h.pos, memory, cb);
    h.pos += cb;
    return cb;
}

int close(intptr_t hf, int* err, void* pv)
{
    if (!mf(pv)->handles.remove(hf)) {
        *err = EBADF;
        return -1;
    }
    return 0;
}

long seek(intptr_t hf, long dist, int seektype, int* err, void* pv)
{
    MemFiles* m = mf(pv);
    if (!m->handles.contains(hf)) {
        *err = EBADF;
        return -1;
    }
    MemFiles::Handle& h = m->handles[hf];
    const qint64 size = m->claimedSize.value(h.path, m->files[h.path].size());
    const qint64 base = seektype == fci::kSeekCur ? h.pos : seektype == fci::kSeekEnd ? size : 0;
    if (base + dist < 0) {
        *err = EINVAL;
        return -1;
    }
    h.pos = base + dist;
    return long(h.pos);
}

int remove(char* path, int*, void* pv)
{
    MemFiles* m = mf(pv);
    m->deleted.append(path);
    return m->files.remove(path) ? 0 : ENOENT;
}

int tempName(char* buffer, int size, void* pv)
{
    MemFiles* m = mf(pv);
    if (m->failTempName)
        return 0;
    const QByteArray name = "/tmp/tp" + QByteArray::number(++m->tempCount);
    if (name.size() + 1 > size)
        return 0;
    m->files[name] = QByteArray();
    std::memcpy(buffer, name.constData(), size_t(name.size()) + 1);
    return 1;
}

int placed(fci::CCAB*, char* name, int32_t, int, void* pv)
{
    MemFiles* m = mf(pv);
    m->placed.append(name);
    return m->abortPlaced ? -1 : 0;
}

long status(uint32_t, uint32_t, uint32_t, void* pv)
{
    return mf(pv)->abortStatus ? -1 : 0;
}

intptr_t openInfo(char* path, uint16_t* date, uint16_t* time, uint16_t* attribs, int* err, void* pv)
{
    MemFiles* m = mf(pv);
    if ((!m->failOpenForAdding.isEmpty() && QByteArray(path).contains(m->failOpenForAdding)) ||
        !m->files.contains(path)) {
        *err = ENOENT;
        return -1;
    }
    *date = uint16_t(((2024 - 1980) << 9) | (2 << 5) | 29);
    *time = uint16_t((13 << 11) | (45 << 5) | (30 / 2));
    *attribs = 0x21;
    const intptr_t h = m->nextHandle++;
    m->handles[h] = {path, 0, 0};
    return h;
}

fci::CCAB defaultParameters()
{
    fci::CCAB c;
    c.cb = 999'999'999;
    c.cbFolderThresh = 900'000;
    c.iCab = 1;
    c.setID = 12345;
    std::strcpy(c.szCab, "test.cab");
    std::strcpy(c.szCabPath, "/mem/");
    return c;
}

fci::HFCI create(MemFiles* files, fci::ERF* erf, fci::CCAB* ccab)
{
    files->files[QByteArray(ccab->szCabPath) + ccab->szCab] = QByteArray();
    return fci::FCICreate(erf, placed, allocate, release, open, read, write, close, seek, remove, tempName,
                          ccab, files);
}

bool add(fci::HFCI h, const QByteArray& source, const QByteArray& name, uint16_t type)
{
    QByteArray s = source, n = name;
    return fci::FCIAddFile(h, s.data(), n.data(), 0, nullptr, status, openInfo, type);
}

} // namespace ravelin::test::mem
