#pragma once
// Facts about a file in the form cabinets and listings keep them: the last
// write time as FAT (DOS) date and time in local time, and the DOS attribute
// bits. Thread-safe (uses localtime_r).
#include <cstdint>
#include <ctime>
#include <string>

namespace ravelin::platform {

struct DosDateTime {
    uint16_t date = 0; // bits 15-9 year-1980, 8-5 month, 4-0 day
    uint16_t time = 0; // bits 15-11 hour, 10-5 minute, 4-0 seconds/2
};

// DOS attribute bits.
inline constexpr uint16_t kAttrReadOnly = 0x01;
inline constexpr uint16_t kAttrHidden = 0x02;
inline constexpr uint16_t kAttrSystem = 0x04;
inline constexpr uint16_t kAttrArchive = 0x20;
inline constexpr uint16_t kAttrNameIsUtf = 0x80;

// Packs a time_t as local DOS date and time (2-second resolution). Years
// before 1980 clamp to 1980-01-01 00:00:00, after 2107 to 2107-12-31 23:59:58.
DosDateTime toDosDateTime(std::time_t t);
// The same in UTC when `utc` is set (the same bytes in every time zone).
DosDateTime toDosDateTime(std::time_t t, bool utc);

// Unpacks a DOS date and time into broken-down local time fields.
struct CivilTime {
    int year, month, day, hour, minute, second;
};
CivilTime fromDosDateTime(DosDateTime dt);

// The attributes of a file as DOS sees them, masked with 0x27: read-only when
// the owner has no write permission, hidden when the name begins with ".",
// system never, archive for every regular file.
uint16_t dosAttributes(unsigned int stMode, const std::string& name);

// stat()s `path` (following a link) and fills both values. False when the
// file cannot be stat'ed (errno is kept).
bool fileDosFacts(const std::string& path, DosDateTime* dateTime, uint16_t* attributes);

} // namespace ravelin::platform
