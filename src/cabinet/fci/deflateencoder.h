#pragma once
// A raw deflate (RFC 1951) encoder for the cabinet library's MSZIP blocks.
//
// Each call compresses one piece of at most kMaxInput bytes into one
// complete raw deflate stream: one to four blocks, the last with BFINAL
// set. The piece may
// follow up to kMaxHistory bytes of earlier plaintext, the history, which
// matches may reach into; a decoder must be given the same bytes as its
// preset dictionary (zlib: inflateSetDictionary on a raw inflate).
//
// The piece is cut into halves, and those into quarters, where the blocks'
// exact sizes say that is smaller. Each block's type is chosen by its exact
// size: dynamic Huffman, fixed Huffman or stored, whichever is the smallest
// (the earlier one of the three on a tie); and when one stored block for the
// whole piece is smaller still, that is written, so the stream never exceeds
// the input plus 5 bytes.
//
// Matches come from hash chains over four-byte prefixes, plus the newest
// position of each three-byte prefix for short near matches, with a lazy
// parse that weighs length against distance; a level trades chain length
// for speed. This finder is kept apart from the LZX one on purpose: a
// 64 KiB search space and a few dozen candidates per position are all
// deflate can use, and its tables (positions and distances of 16 bits) are
// small enough to be rebuilt for a piece.
//
// They are rebuilt only when needed: when a call's history is exactly the
// previous call's input (the next piece of the same data, as MSZIP cuts a
// folder), the encoder keeps its tables and slides them by the previous
// history instead of inserting the history again. The output is the same
// bytes either way (see encode()). The code lengths come from the
// codec-neutral Huffman builder.
//
// One encoder compresses one piece at a time (not thread-safe); separate
// encoders run on separate threads. The output depends only on the bytes,
// the history and the level.
#include <cstdint>

#include "cabinet/fci/fci.h"

namespace ravelin::fci {

class DeflateEncoder {
public:
    static constexpr uint32_t kMaxInput = 32768;
    static constexpr uint32_t kMaxHistory = 32768;
    static constexpr int kMinLevel = 1;
    static constexpr int kMaxLevel = 9;
    static constexpr int kDefaultLevel = 5;

    // The most bytes encode() writes for `inputLength` bytes (a stored block).
    static constexpr uint32_t bound(uint32_t inputLength) { return inputLength + 5; }

    DeflateEncoder() = default;
    ~DeflateEncoder();
    DeflateEncoder(const DeflateEncoder&) = delete;
    DeflateEncoder& operator=(const DeflateEncoder&) = delete;

    // Allocates the tables (about 0.4 MB) through `alloc` and keeps `release`
    // for them. Level is clamped to [kMinLevel, kMaxLevel]. False when memory
    // ran out.
    bool init(PFNFCIALLOC alloc, PFNFCIFREE release, int level = kDefaultLevel);

    // Compresses in[0..inLen) following history[0..historyLen) into `out`,
    // which has room for bound(inLen) bytes; returns the bytes written.
    // Requires inLen <= kMaxInput; of a longer history only the last
    // kMaxHistory bytes are used. *stored, when given, tells whether the
    // block was stored. Faster when the history is the previous call's
    // input; the result never depends on what was compressed before.
    uint32_t encode(const uint8_t* history, uint32_t historyLen, const uint8_t* in, uint32_t inLen,
                    uint8_t* out, bool* stored = nullptr);

private:
    struct Symbol {
        uint16_t litLen; // a literal byte, or a match length (3..258) when dist != 0
        uint16_t dist;   // 0 for a literal
    };

    uint32_t longestMatch(uint32_t pos, uint32_t end, uint32_t chain, uint32_t* dist) const;
    void insert(uint32_t pos);
    void insertHistory(uint32_t historyLen, uint32_t end);
    void slide();
    void parse(uint32_t start, uint32_t end);
    uint32_t write(const uint8_t* in, uint32_t inLen, uint8_t* out, bool* stored);

    PFNFCIALLOC m_alloc = nullptr;
    PFNFCIFREE m_free = nullptr;
    uint8_t* m_buf = nullptr;    // history then input, then zero padding
    uint16_t* m_head = nullptr;  // newest position + 1 per four-byte hash, 0 for none
    uint16_t* m_head3 = nullptr; // newest position + 1 per three-byte hash, 0 for none
    // Per position (a ring of kWindow), how far back the one before it with
    // its four-byte hash is (see insert()).
    uint16_t* m_prev = nullptr;
    Symbol* m_syms = nullptr;
    uint8_t* m_stream = nullptr; // a dynamic or fixed block as it is written
    uint32_t m_symCount = 0;
    // What the tables hold: m_buf[0..m_end) with the last call's input from
    // m_start on and every position below m_inserted inserted; m_end is 0
    // in a fresh encoder.
    uint32_t m_start = 0;
    uint32_t m_end = 0;
    uint32_t m_inserted = 0;
    uint32_t m_chain = 0; // candidates tried per position
    uint32_t m_nice = 0;  // a match this long ends the search
    uint32_t m_lazy = 0;  // a match this long is taken without looking one ahead
    uint32_t m_good = 0;  // after a match this long, a quarter of the chain for the next
};

} // namespace ravelin::fci
