#pragma once
// Finds earlier occurrences of the bytes at each position of a stream, for
// the cabinet library's LZ77 encoders (LZX now, deflate next).
//
// The stream is appended in pieces and walked one position at a time. At
// each position the finder reports matches, that is earlier positions within
// the window whose bytes equal the ones ahead, as a list of increasing length
// (each entry longer than the one before; for each length the closest
// occurrence the search met). A parser then picks among them.
//
// How: positions whose first four bytes hash alike form a binary search
// tree ordered by the bytes that follow them, newest at the root. Inserting a
// position walks the tree from the root and splits it around the new string;
// the nodes met on the way are exactly the candidates for the longest matches,
// so one walk both searches and inserts. Ordering only looks at the first
// `niceLength` bytes: a match that long ends the walk, and the finder then
// extends it byte by byte up to the caller's limit. `depth` bounds the nodes
// visited per position, which bounds the time on repetitive data. Matches of
// three bytes come from a second table holding the newest position of each
// three-byte hash.
//
// A position is inserted only once `niceLength` bytes after it are known,
// so that the tree stays ordered on full keys; positions closer than that to
// the end of the appended bytes are searched without being inserted, and
// join the tree when more bytes arrive. (LZX encodes its frames a few at a
// time; the last bytes before a pause are searched early but still found by
// the bytes after it.)
//
// Memory (allocated once by init, through the given callbacks): two tree
// links per window position (8 * 2^windowBits bytes), the byte buffer
// (2^windowBits + max(2^windowBits, 256 KiB)) and the hash heads (4.25 MiB).
//
// Not thread-safe; one finder serves one stream at a time. The results depend
// only on the bytes and the parameters.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "cabinet/fci/fci.h"

namespace ravelin::fci {

struct Match {
    uint32_t length;
    uint32_t distance; // 1 = the byte just before
};

class MatchFinder {
public:
    struct Params {
        unsigned windowBits = 15; // history kept: 2^windowBits bytes, 8 to 24
        uint32_t maxDistance = 0; // farthest match reported: below 2^windowBits
        uint32_t niceLength = 32; // a match this long ends the search: 3 to 258
        uint32_t maxLength = 258; // longest match reported: at least niceLength
        uint32_t depth = 32;      // most tree nodes visited per position
    };
    // The shortest match ever reported.
    static constexpr uint32_t kMinMatch = 3;

    MatchFinder() = default;
    ~MatchFinder();
    MatchFinder(const MatchFinder&) = delete;
    MatchFinder& operator=(const MatchFinder&) = delete;

    // The bytes init() allocates for these parameters.
    static uint64_t memoryNeeded(const Params& params);
    // Allocates the finder's memory; false when a parameter is out of range
    // or the allocate callback returned nothing. Then reset() is implied.
    bool init(const Params& params, PFNFCIALLOC alloc, PFNFCIFREE release);
    const Params& params() const { return m_params; }

    // Forgets the stream: the next byte appended is at offset 0.
    void reset();
    // The most bytes that may be appended ahead of the current position.
    uint32_t appendRoom() const;
    // Appends `count` bytes (count <= appendRoom()). When appendMoves(count),
    // it first moves the bytes still needed to the buffer's start, and
    // pointers from data() taken before are invalid afterwards; otherwise
    // they stay valid and the bytes they point to are left alone.
    void append(const uint8_t* bytes, uint32_t count);
    bool appendMoves(uint32_t count) const { return m_end - m_bufStart + count > m_bufSize; }

    // Stream offset of the current position, and of the end of the bytes
    // appended so far.
    uint32_t position() const { return m_pos - m_bias; }
    uint32_t end() const { return m_end - m_bias; }
    // The byte at stream offset `offset`, with what follows it up to end();
    // valid from position() - 2^windowBits on.
    const uint8_t* data(uint32_t offset) const { return m_buf + (offset + m_bias - m_bufStart); }

    // How many bytes `a` and `b` have in common, counting on from `from`
    // (which they share) up to `limit`. Both must point into data(); it may
    // read up to kReadSlack bytes past `limit`, which the buffer allows for.
    static uint32_t commonLength(const uint8_t* a, const uint8_t* b, uint32_t from, uint32_t limit)
    {
        while (from < limit) {
            uint64_t x, y;
            std::memcpy(&x, a + from, 8);
            std::memcpy(&y, b + from, 8);
            if (const uint64_t diff = x ^ y) {
                if constexpr (std::endian::native == std::endian::little)
                    return std::min(from + uint32_t(std::countr_zero(diff) >> 3), limit);
                while (from < limit && a[from] == b[from])
                    ++from;
                return from;
            }
            from += 8;
        }
        return limit;
    }
    static constexpr uint32_t kReadSlack = 8;

    // Reports the matches at the current position in out[] (room for
    // niceLength entries), none longer than `limit` (which must not reach
    // past end()) or maxLength, and moves to the next position. Returns how
    // many; their lengths increase strictly and are at least kMinMatch.
    uint32_t find(uint32_t limit, Match* out);
    // Moves past the current position without reporting (it is still
    // entered for later searches).
    void skip();

private:
    uint32_t hash(const uint8_t* p) const;
    uint32_t nearHash(const uint8_t* p) const;
    void prefetchAhead(uint32_t pos) const;
    void catchUp();
    uint32_t insert(uint32_t pos, Match* out);
    uint32_t search(uint32_t pos, uint32_t treeLimit, Match* out) const;
    uint32_t* left(uint32_t pos) const { return m_links + 2 * (pos & m_mask); }
    uint32_t* right(uint32_t pos) const { return m_links + 2 * (pos & m_mask) + 1; }

    Params m_params;
    PFNFCIALLOC m_alloc = nullptr;
    PFNFCIFREE m_free = nullptr;
    uint32_t m_mask = 0; // window positions - 1
    uint32_t m_bias = 0; // added to stream offsets, so that 0 is never a live position
    unsigned m_hashBits = 16;
    uint32_t* m_head = nullptr; // newest position per hash, 0 for none
    uint32_t* m_near = nullptr; // newest position per 3-byte hash
    // Per window position, side by side (one cache line holds both): the
    // subtrees of smaller and of larger strings.
    uint32_t* m_links = nullptr;
    uint8_t* m_buf = nullptr;
    uint32_t m_bufSize = 0;
    uint32_t m_bufStart = 0; // position of m_buf[0]
    uint32_t m_pos = 0;      // current position
    uint32_t m_end = 0;      // end of the appended bytes
    uint32_t m_inserted = 0; // positions before this one are in the trees
};

} // namespace ravelin::fci
