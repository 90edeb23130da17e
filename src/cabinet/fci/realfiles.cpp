#include "cabinet/fci/realfiles.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "platform/io.h"

namespace ravelin::fci::real {

void* allocate(uint32_t cb)
{
    return std::malloc(cb ? cb : 1);
}

void release(void* memory)
{
    std::free(memory);
}

intptr_t openFile(char* path, int oflag, int, int* err, void*)
{
    int flags = O_CLOEXEC;
    switch (oflag & kOpenAccessMask) {
    case kOpenWrite:
        flags |= O_WRONLY;
        break;
    case kOpenReadWrite:
        flags |= O_RDWR;
        break;
    default:
        flags |= O_RDONLY;
        break;
    }
    if (oflag & kOpenAppend)
        flags |= O_APPEND;
    if (oflag & kOpenTruncate)
        flags |= O_TRUNC;
    if (oflag & kOpenExclusive)
        flags |= O_EXCL;
    int fd;
    do
        fd = ::open(path, flags);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        *err = errno;
        return -1;
    }
    return fd;
}

uint32_t readFile(intptr_t hf, void* memory, uint32_t cb, int* err, void*)
{
    const ssize_t n = io::readAll(int(hf), memory, cb);
    if (n < 0) {
        *err = errno;
        return uint32_t(-1);
    }
    return uint32_t(n);
}

uint32_t writeFile(intptr_t hf, void* memory, uint32_t cb, int* err, void*)
{
    if (!io::writeAll(int(hf), memory, cb)) {
        *err = errno;
        return uint32_t(-1);
    }
    return cb;
}

int closeFile(intptr_t hf, int* err, void*)
{
    if (::close(int(hf)) != 0) {
        *err = errno;
        return -1;
    }
    return 0;
}

long seekFile(intptr_t hf, long dist, int seektype, int* err, void*)
{
    const int whence = seektype == kSeekCur ? SEEK_CUR : seektype == kSeekEnd ? SEEK_END : SEEK_SET;
    const off_t pos = ::lseek(int(hf), dist, whence);
    if (pos < 0) {
        *err = errno;
        return -1;
    }
    return long(pos);
}

int deleteFile(char* path, int*, void*)
{
    const int result = ::unlink(path) == 0 ? 0 : errno;
    io::unregisterTemporary(std::string(path));
    return result;
}

const char* temporaryDirectory()
{
    const char* dir = std::getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

int tempFileName(char* buffer, int cbTempName, void*)
{
    std::string dir = temporaryDirectory();
    if (dir.size() > 255)
        return 0;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    std::string pattern = dir + (dir == "/" ? "" : "/") + "tpXXXXXX";
    if (cbTempName <= 0 || pattern.size() + 1 > size_t(cbTempName))
        return 0;
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        return 0;
    ::close(fd);
    // Removed by the signal handler should the process be stopped mid-build.
    io::registerTemporary(pattern);
    std::memcpy(buffer, pattern.c_str(), pattern.size() + 1);
    return -1; // every bit set: a name was made
}

int filePlaced(CCAB*, char*, int32_t, int, void*)
{
    return 0;
}

long status(uint32_t, uint32_t, uint32_t, void*)
{
    return 0;
}

} // namespace ravelin::fci::real
