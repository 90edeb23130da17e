#include "platform/fileinfo.h"

#include "platform/io.h"

#include <sys/stat.h>

namespace ravelin::platform {

DosDateTime toDosDateTime(std::time_t t)
{
    return toDosDateTime(t, false);
}

DosDateTime toDosDateTime(std::time_t t, bool utc)
{
    std::tm tm{};
    if (!(utc ? gmtime_r(&t, &tm) : localtime_r(&t, &tm)))
        return {static_cast<uint16_t>((0 << 9) | (1 << 5) | 1), 0};
    int year = tm.tm_year + 1900;
    if (year < 1980)
        return {static_cast<uint16_t>((0 << 9) | (1 << 5) | 1), 0};
    if (year > 2107)
        return {static_cast<uint16_t>((127 << 9) | (12 << 5) | 31),
                static_cast<uint16_t>((23 << 11) | (59 << 5) | 29)};
    DosDateTime dt;
    dt.date = static_cast<uint16_t>(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    const int sec = tm.tm_sec > 59 ? 59 : tm.tm_sec; // leap second
    dt.time = static_cast<uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (sec / 2));
    return dt;
}

CivilTime fromDosDateTime(DosDateTime dt)
{
    return {1980 + (dt.date >> 9), (dt.date >> 5) & 0x0F, dt.date & 0x1F,
            dt.time >> 11,         (dt.time >> 5) & 0x3F, (dt.time & 0x1F) * 2};
}

uint16_t dosAttributes(unsigned int stMode, const std::string& name)
{
    uint16_t a = 0;
    if (!(stMode & S_IWUSR))
        a |= kAttrReadOnly;
    if (!name.empty() && name[0] == '.')
        a |= kAttrHidden;
    if (S_ISREG(stMode))
        a |= kAttrArchive;
    return a & 0x27;
}

bool fileDosFacts(const std::string& path, DosDateTime* dateTime, uint16_t* attributes)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    if (dateTime)
        *dateTime = toDosDateTime(st.st_mtime);
    if (attributes) {
        *attributes = dosAttributes(st.st_mode, io::namePart(path));
    }
    return true;
}

} // namespace ravelin::platform
