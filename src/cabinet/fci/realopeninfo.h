#pragma once
// The open-for-adding callback over real files: opens the source read-only
// and gives its last-write time as local DOS date and time and its DOS
// attributes masked to read-only, hidden, system and archive. Header-only
// because it uses the platform's file facts (ravelin_platform, which needs
// QtCore) while the cabinet library itself stays free of Qt: link
// ravelin_platform where this is included.
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fileinfo.h"
#include "platform/io.h"

namespace ravelin::fci::real {

// The descriptor, or -1 with the reason in *err when the file cannot be
// opened or stat'ed, or is not a regular file (io::kNotRegularFile: a named
// pipe is refused at once instead of blocking the build).
inline intptr_t openForAdding(char* path, uint16_t* date, uint16_t* time, uint16_t* attribs, int* err, void*)
{
    int why = 0;
    io::Fd owned = io::openForReading(path, &why);
    if (!owned) {
        if (err)
            *err = why;
        return -1;
    }
    const int fd = owned.get();
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        if (err)
            *err = errno;
        return -1;
    }
    owned.release();
    const platform::DosDateTime dt = platform::toDosDateTime(st.st_mtime);
    *date = dt.date;
    *time = dt.time;
    const std::string p(path);
    const auto slash = p.find_last_of('/');
    *attribs =
        platform::dosAttributes(st.st_mode, slash == std::string::npos ? p : p.substr(slash + 1)) & 0x27;
    return fd;
}

} // namespace ravelin::fci::real
