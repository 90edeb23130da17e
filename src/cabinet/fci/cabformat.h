#pragma once
// The on-disk records of a Microsoft cabinet, as published by Microsoft
// ("Microsoft Cabinet Format", MS-CAB). All fields are little-endian.
//
//   CFHEADER   36 bytes: "MSCF", reserved1, cbCabinet, reserved2, coffFiles,
//              reserved3, versionMinor 3, versionMajor 1, cFolders, cFiles,
//              flags, setID, iCabinet (no reserve areas, no prev/next cabinet)
//   CFFOLDER   cFolders x 8 bytes: coffCabStart (offset of its first CFDATA),
//              cCFData, typeCompress
//   CFFILE     cFiles x (16 bytes + zero-terminated name): cbFile,
//              uoffFolderStart (offset in the folder's uncompressed stream),
//              iFolder, date, time, attribs, szName; in folder order
//   CFDATA     per folder, cCFData blocks of 8 bytes + data: csum, cbData,
//              cbUncomp. Each block holds 32,768 uncompressed bytes except a
//              folder's last one.
//
// MSZIP data (MS-MCI): each block is "CK" followed by one complete raw
// deflate stream; the decoder keeps the previous block's plaintext as its
// history, so the encoder uses it as the preset dictionary.
//
// LZX data: the folder is one LZX stream, one 32 KB frame per block (see
// lzxencoder.h). typeCompress carries the method in its low 4 bits and, for
// LZX, the window size's power of two (15 to 21) in bits 8-12, as
// Microsoft's FCI header's TCOMPfromLZXWindow makes it: 3 | (window << 8).
#include <cstddef>
#include <cstdint>

namespace ravelin::fci::format {

inline constexpr uint32_t kHeaderSize = 36;
inline constexpr uint32_t kFolderSize = 8;
inline constexpr uint32_t kFileFixedSize = 16;
inline constexpr uint32_t kDataHeaderSize = 8;
inline constexpr uint32_t kBlockSize = 32768;              // MS-CAB: uncompressed bytes per CFDATA
inline constexpr uint32_t kMszipOverhead = 2 + 5;          // "CK" + stored deflate block header
inline constexpr uint32_t kMaxBlockData = kBlockSize + 12; // MS-MCI: MSZIP block bound
inline constexpr uint32_t kMaxFiles = 65535;               // cFiles is 16 bits
inline constexpr uint32_t kMaxFolders = 65533;             // iFolder 0xFFFD..0xFFFF mark continuations
inline constexpr uint32_t kMaxBlocksPerFolder = 65535;     // cCFData is 16 bits
inline constexpr uint32_t kMaxFolderBytes = 0x7FFF8000;    // 65,535 full blocks
inline constexpr uint32_t kMaxNameBytes = 255;
inline constexpr uint16_t kAttrExec = 0x40;
inline constexpr uint16_t kAttrNameIsUtf = 0x80;
inline constexpr uint32_t kMaxLzxBlockData =
    kBlockSize + 24; // one frame as an uncompressed LZX block, and spare
inline constexpr uint16_t kTypeNone = 0;
inline constexpr uint16_t kTypeMszip = 1;
inline constexpr uint16_t kTypeLzx = 3;
inline constexpr uint16_t kTypeMethodMask = 0x000F;
inline constexpr unsigned kTypeLzxWindowShift = 8;
inline constexpr uint16_t kTypeLzxWindowMask = 0x1F00;

// The LZX window's power of two in a type word, or 0 when the word is not a
// valid LZX type (another method, a window outside 15..21, stray bits).
inline unsigned lzxWindowBits(uint16_t typeCompress)
{
    if ((typeCompress & ~(kTypeMethodMask | kTypeLzxWindowMask)) ||
        (typeCompress & kTypeMethodMask) != kTypeLzx)
        return 0;
    const unsigned bits = (typeCompress & kTypeLzxWindowMask) >> kTypeLzxWindowShift;
    return bits >= 15 && bits <= 21 ? bits : 0;
}

struct CFHEADER {
    uint32_t cbCabinet = 0;
    uint32_t coffFiles = 0;
    uint16_t cFolders = 0;
    uint16_t cFiles = 0;
    uint16_t setID = 0;
    uint16_t iCabinet = 0;
};

struct CFFOLDER {
    uint32_t coffCabStart = 0;
    uint16_t cCFData = 0;
    uint16_t typeCompress = 0;
};

struct CFFILE {
    uint32_t cbFile = 0;
    uint32_t uoffFolderStart = 0;
    uint16_t iFolder = 0;
    uint16_t date = 0;
    uint16_t time = 0;
    uint16_t attribs = 0;
    // szName follows on disk; the caller writes it.
};

struct CFDATA {
    uint32_t csum = 0;
    uint16_t cbData = 0;
    uint16_t cbUncomp = 0;
};

// Each writes the record's fixed part at `out` and returns the bytes written.
size_t put(const CFHEADER& h, uint8_t* out);
size_t put(const CFFOLDER& f, uint8_t* out);
size_t put(const CFFILE& f, uint8_t* out);
size_t put(const CFDATA& d, uint8_t* out);

// The CFDATA checksum of MS-CAB: the data's checksum seeded with 0, then
// continued over the cbData and cbUncomp fields.
uint32_t blockChecksum(const uint8_t* data, uint16_t cbData, uint16_t cbUncomp);

// The MS-CAB checksum step (exposed for tests): XOR of little-endian 32-bit
// words, with a tail of 1 to 3 bytes folded in most significant byte first.
uint32_t checksum(const uint8_t* data, size_t size, uint32_t seed);

} // namespace ravelin::fci::format
