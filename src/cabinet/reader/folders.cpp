#include "cabinet/reader/folders.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ravelin::cabreader {

std::vector<std::string> splitPath(const std::string& relative)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= relative.size() && !relative.empty()) {
        const std::size_t slash = relative.find('/', start);
        if (slash == std::string::npos) {
            parts.push_back(relative.substr(start));
            break;
        }
        parts.push_back(relative.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

bool isPlainComponent(const std::string& component)
{
    return !component.empty() && component != "." && component != ".." &&
           component.find('/') == std::string::npos && component.find('\0') == std::string::npos;
}

namespace {

int openFolderAt(int dir, const std::string& name)
{
    int fd;
    do
        fd = ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// ENOTDIR from openat covers both a link and a file; tell them apart.
int whyNotAFolder(int dir, const std::string& name)
{
    struct stat st {};
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        return ELOOP;
    return ENOTDIR;
}

} // namespace

io::Fd openFolderBelow(int base, const std::vector<std::string>& components, bool create, std::size_t* failed,
                       int* error)
{
    int first = ::fcntl(base, F_DUPFD_CLOEXEC, 0);
    if (first < 0) {
        *failed = 0;
        *error = errno;
        return io::Fd();
    }
    io::Fd current(first);
    for (std::size_t i = 0; i < components.size(); ++i) {
        const std::string& part = components[i];
        *failed = i;
        if (!isPlainComponent(part)) {
            *error = EINVAL;
            return io::Fd();
        }
        int fd = openFolderAt(current.get(), part);
        if (fd < 0 && errno == ENOENT && create) {
            if (::mkdirat(current.get(), part.c_str(), 0777) != 0 && errno != EEXIST) {
                *error = errno;
                return io::Fd();
            }
            fd = openFolderAt(current.get(), part);
        }
        if (fd < 0) {
            *error = (errno == ENOTDIR || errno == ELOOP) ? whyNotAFolder(current.get(), part) : errno;
            return io::Fd();
        }
        current = io::Fd(fd);
    }
    return current;
}

io::Fd openDirectory(const std::string& path, bool create, int* error)
{
    if (path.empty()) {
        *error = ENOENT;
        return io::Fd();
    }
    // The first folder that could not be made is why the path is missing
    // (EACCES, EROFS...), not the ENOENT of the open that follows.
    int makeError = 0;
    const auto make = [&makeError](const std::string& folder) {
        if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST && makeError == 0)
            makeError = errno;
    };
    if (create) {
        // Each prefix that ends before a "/" is a parent; an existing one is fine.
        for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
             slash = path.find('/', slash + 1))
            if (path[slash - 1] != '/')
                make(path.substr(0, slash));
        make(path);
    }
    int fd;
    do
        fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        *error = errno == ENOENT && makeError != 0 ? makeError : errno;
    return io::Fd(fd);
}

} // namespace ravelin::cabreader
