#include "cabinet/fci/cabformat.h"

namespace ravelin::fci::format {

namespace {

inline void le16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

inline void le32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

} // namespace

size_t put(const CFHEADER& h, uint8_t* out)
{
    out[0] = 'M';
    out[1] = 'S';
    out[2] = 'C';
    out[3] = 'F';
    le32(out + 4, 0); // reserved1
    le32(out + 8, h.cbCabinet);
    le32(out + 12, 0); // reserved2
    le32(out + 16, h.coffFiles);
    le32(out + 20, 0); // reserved3
    out[24] = 3;       // versionMinor: format 1.3
    out[25] = 1;       // versionMajor
    le16(out + 26, h.cFolders);
    le16(out + 28, h.cFiles);
    le16(out + 30, 0); // flags: no previous/next cabinet, no reserve
    le16(out + 32, h.setID);
    le16(out + 34, h.iCabinet);
    return kHeaderSize;
}

size_t put(const CFFOLDER& f, uint8_t* out)
{
    le32(out, f.coffCabStart);
    le16(out + 4, f.cCFData);
    le16(out + 6, f.typeCompress);
    return kFolderSize;
}

size_t put(const CFFILE& f, uint8_t* out)
{
    le32(out, f.cbFile);
    le32(out + 4, f.uoffFolderStart);
    le16(out + 8, f.iFolder);
    le16(out + 10, f.date);
    le16(out + 12, f.time);
    le16(out + 14, f.attribs);
    return kFileFixedSize;
}

size_t put(const CFDATA& d, uint8_t* out)
{
    le32(out, d.csum);
    le16(out + 4, d.cbData);
    le16(out + 6, d.cbUncomp);
    return kDataHeaderSize;
}

uint32_t checksum(const uint8_t* data, size_t size, uint32_t seed)
{
    uint32_t sum = seed;
    size_t words = size / 4;
    const uint8_t* p = data;
    while (words--) {
        sum ^= uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
        p += 4;
    }
    uint32_t tail = 0;
    switch (size % 4) {
    case 3:
        tail |= uint32_t(*p++) << 16;
        [[fallthrough]];
    case 2:
        tail |= uint32_t(*p++) << 8;
        [[fallthrough]];
    case 1:
        tail |= uint32_t(*p++);
        break;
    default:
        break;
    }
    return sum ^ tail;
}

uint32_t blockChecksum(const uint8_t* data, uint16_t cbData, uint16_t cbUncomp)
{
    uint8_t sizes[4];
    le16(sizes, cbData);
    le16(sizes + 2, cbUncomp);
    return checksum(sizes, 4, checksum(data, cbData, 0));
}

} // namespace ravelin::fci::format
