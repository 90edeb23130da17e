#include "cabinet/fci/deflateencoder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "cabinet/fci/huffman.h"

namespace ravelin::fci {

namespace {

constexpr unsigned kHashBits = 15;
constexpr uint32_t kWindow = 32768;
constexpr uint32_t kMinMatch = 3;
constexpr uint32_t kMaxMatch = 258;
// A three-byte match farther than this costs about as much as its literals.
constexpr uint32_t kFarThree = 4096;
constexpr uint32_t kBufferSize = DeflateEncoder::kMaxHistory + DeflateEncoder::kMaxInput;
constexpr uint32_t kPadding = kMaxMatch + 16;
constexpr unsigned kLitLenSymbols = 286;
constexpr unsigned kDistSymbols = 30;
constexpr unsigned kCodeLenSymbols = 19;
// A piece is split into two deflate blocks when that is cheaper, each half
// again, so into at most 2^kSplitDepth blocks of at least kMinSplitBytes.
constexpr unsigned kSplitDepth = 2;
constexpr uint32_t kMinSplitBytes = 4096;
constexpr double kSplitGain = 0;
constexpr uint8_t kCodeLenOrder[kCodeLenSymbols] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                    11, 4,  12, 3, 13, 2, 14, 1, 15};

struct LevelParams {
    uint16_t good, lazy, nice, chain;
};
constexpr LevelParams kLevels[10] = {
    {0, 0, 0, 0},         // unused
    {4, 4, 16, 8},        // 1
    {4, 8, 16, 16},       // 2
    {8, 16, 32, 24},      // 3
    {8, 16, 64, 32},      // 4
    {8, 16, 128, 48},     // 5
    {16, 32, 128, 96},    // 6
    {16, 64, 192, 256},   // 7
    {32, 128, 258, 1024}, // 8
    {32, 258, 258, 4096}, // 9
};

// Length symbol (257..285) and its extra bits for each match length.
struct LengthTable {
    uint16_t symbol[kMaxMatch + 1];
    uint8_t extraBits[kMaxMatch + 1];
    uint16_t extraValue[kMaxMatch + 1];
    constexpr LengthTable() : symbol(), extraBits(), extraValue()
    {
        for (uint32_t len = kMinMatch; len <= kMaxMatch; ++len) {
            const uint32_t l = len - kMinMatch;
            if (len == kMaxMatch) {
                symbol[len] = 285;
            } else if (l < 8) {
                symbol[len] = uint16_t(257 + l);
            } else {
                const unsigned n = 31 - unsigned(std::countl_zero(l));
                symbol[len] = uint16_t(257 + 4 * (n - 1) + ((l >> (n - 2)) & 3));
                extraBits[len] = uint8_t(n - 2);
                extraValue[len] = uint16_t(l & ((1u << (n - 2)) - 1));
            }
        }
    }
};
constexpr LengthTable kLengths;

// Distance symbol (0..29), extra bits and their value for a distance 1..32768.
inline void distanceCode(uint32_t dist, unsigned* symbol, unsigned* extraBits, uint32_t* extraValue)
{
    const uint32_t d = dist - 1;
    if (d < 4) {
        *symbol = d;
        *extraBits = 0;
        *extraValue = 0;
        return;
    }
    const unsigned n = 31 - unsigned(std::countl_zero(d));
    *symbol = 2 * n + ((d >> (n - 1)) & 1);
    *extraBits = n - 1;
    *extraValue = d & ((1u << (n - 1)) - 1);
}

inline uint32_t load32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline uint16_t load16(const uint8_t* p)
{
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

inline uint64_t load64(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// Hashes of the first three and four bytes of a little-endian word.
inline uint32_t hash3(uint32_t word)
{
    static_assert(std::endian::native == std::endian::little);
    return ((word & 0xFFFFFFu) * 0x9E3779B1u) >> (32 - kHashBits);
}

inline uint32_t hash4(uint32_t word)
{
    return (word * 0x9E3779B1u) >> (32 - kHashBits);
}

// Bytes p and q have in common, up to max; reads at most 7 bytes past max.
inline uint32_t commonLength(const uint8_t* p, const uint8_t* q, uint32_t max)
{
    uint32_t len = 0;
    while (len + 8 <= max) {
        const uint64_t x = load64(p + len) ^ load64(q + len);
        if (x)
            return len + unsigned(std::countr_zero(x)) / 8;
        len += 8;
    }
    while (len < max && p[len] == q[len])
        ++len;
    return len;
}

// Codes as deflate sends them: first bit in the least significant place.
void deflateCodes(const uint8_t* lengths, unsigned count, uint16_t* codes)
{
    huffman::canonicalCodes(lengths, count, codes);
    for (unsigned i = 0; i < count; ++i) {
        uint32_t c = codes[i], r = 0;
        for (unsigned b = 0; b < lengths[i]; ++b, c >>= 1)
            r = (r << 1) | (c & 1);
        codes[i] = uint16_t(r);
    }
}

inline void store64(uint8_t* p, uint64_t v)
{
    std::memcpy(p, &v, 8);
}

// Bits are added to a 64-bit accumulator and flushed as whole bytes, each
// flush storing eight bytes at once: one flush after at most 56 bits of
// adds (a match's codes and extra bits take at most 48). The buffer needs
// room for 8 bytes past the stream's end.
class BitWriter {
public:
    explicit BitWriter(uint8_t* out) : m_out(out) {}
    void add(uint64_t bits, unsigned n)
    {
        m_acc |= bits << m_count;
        m_count += n;
    }
    void flush()
    {
        store64(m_out + m_len, m_acc);
        const unsigned bytes = m_count >> 3; // at most 7
        m_len += bytes;
        m_acc >>= 8 * bytes;
        m_count &= 7;
    }
    // Pads to a byte boundary with zero bits and flushes.
    void alignToByte()
    {
        m_count = (m_count + 7) & ~7u;
        flush();
    }
    // After alignToByte(): n bytes as they are.
    void copyBytes(const uint8_t* p, uint32_t n)
    {
        std::memcpy(m_out + m_len, p, n);
        m_len += n;
    }
    uint32_t finish()
    {
        flush();
        if (m_count)
            m_out[m_len++] = uint8_t(m_acc);
        return m_len;
    }

private:
    uint8_t* m_out;
    uint32_t m_len = 0;
    uint64_t m_acc = 0;
    unsigned m_count = 0;
};

struct RleItem {
    uint8_t symbol;
    uint8_t extra;
};

// The code-length sequence as code-length alphabet symbols (RFC 1951, 3.2.7).
unsigned runLengths(const uint8_t* lens, unsigned n, RleItem* items)
{
    unsigned count = 0;
    unsigned i = 0;
    while (i < n) {
        const uint8_t v = lens[i];
        unsigned run = 1;
        while (i + run < n && lens[i + run] == v)
            ++run;
        i += run;
        if (v == 0) {
            while (run >= 11) {
                const unsigned r = std::min(run, 138u);
                items[count++] = {18, uint8_t(r - 11)};
                run -= r;
            }
            if (run >= 3) {
                items[count++] = {17, uint8_t(run - 3)};
                run = 0;
            }
        } else {
            items[count++] = {v, 0};
            --run;
            while (run >= 3) {
                const unsigned r = std::min(run, 6u);
                items[count++] = {16, uint8_t(r - 3)};
                run -= r;
            }
        }
        while (run > 0) {
            items[count++] = {v, 0};
            --run;
        }
    }
    return count;
}

// Whether the match one byte later is worth a literal: longer, and not
// paid for by a much longer distance (a distance's extra bits grow with its
// logarithm, a length's worth with the length).
inline bool betterMatch(uint32_t nextLen, uint32_t nextDist, uint32_t len, uint32_t dist)
{
    return nextLen > len &&
           4 * int(nextLen - len) + int(std::bit_width(dist)) - int(std::bit_width(nextDist)) > 2;
}

constexpr uint8_t kCodeLenExtra[kCodeLenSymbols] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};

} // namespace

DeflateEncoder::~DeflateEncoder()
{
    for (void* p : {static_cast<void*>(m_buf), static_cast<void*>(m_head), static_cast<void*>(m_head3),
                    static_cast<void*>(m_prev), static_cast<void*>(m_syms), static_cast<void*>(m_stream)})
        if (p)
            m_free(p);
}

bool DeflateEncoder::init(PFNFCIALLOC alloc, PFNFCIFREE release, int level)
{
    m_alloc = alloc;
    m_free = release;
    level = std::clamp(level, kMinLevel, kMaxLevel);
    m_good = kLevels[level].good;
    m_lazy = kLevels[level].lazy;
    m_nice = kLevels[level].nice;
    m_chain = kLevels[level].chain;
    m_buf = static_cast<uint8_t*>(alloc(kBufferSize + kPadding));
    m_head = static_cast<uint16_t*>(alloc(sizeof(uint16_t) << kHashBits));
    m_head3 = static_cast<uint16_t*>(alloc(sizeof(uint16_t) << kHashBits));
    m_prev = static_cast<uint16_t*>(alloc(sizeof(uint16_t) * kWindow));
    m_syms = static_cast<Symbol*>(alloc(sizeof(Symbol) * (kMaxInput + 1)));
    m_stream = static_cast<uint8_t*>(alloc(bound(kMaxInput) + 8));
    m_end = 0;
    return m_buf && m_head && m_head3 && m_prev && m_syms && m_stream;
}

// Positions are inserted in increasing order, each once, and only while
// their four bytes are all data (pos + 4 <= end): a position nearer the end
// could only be a candidate for the last two, which are too short to match,
// and it is inserted by the next call that has it in its history. Table
// entries are position + 1 in 16 bits (pos + 4 <= kBufferSize keeps them
// below 65536). m_prev holds the distance to the position the head named
// before, pos + 1 with none: a walk stops at a distance that reaches below
// its window limit, and this one always does. Its ring of kWindow entries
// is indexed by position: a position's entry is overwritten only by the
// insertion kWindow later, which a search that can reach it has not made.
[[gnu::always_inline]] inline void DeflateEncoder::insert(uint32_t pos)
{
    const uint32_t word = load32(m_buf + pos);
    const uint32_t h = hash4(word);
    m_prev[pos & (kWindow - 1)] = uint16_t(pos + 1 - m_head[h]);
    m_head[h] = uint16_t(pos + 1);
    m_head3[hash3(word)] = uint16_t(pos + 1);
}

// Inserts the history positions not yet in the tables.
void DeflateEncoder::insertHistory(uint32_t historyLen, uint32_t end)
{
    const uint32_t to = std::min(historyLen, end >= 3 ? end - 3 : 0);
    uint32_t pos = m_inserted;
    // A three-byte prefix is only looked up within kFarThree: positions
    // farther back than that from the input need no entry in m_head3 (the
    // newest one within reach is the same either way).
    const uint32_t near = historyLen > kFarThree ? historyLen - kFarThree : 0;
    for (; pos < std::min(to, near); ++pos) {
        const uint32_t h = hash4(load32(m_buf + pos));
        m_prev[pos & (kWindow - 1)] = uint16_t(pos + 1 - m_head[h]);
        m_head[h] = uint16_t(pos + 1);
    }
    for (; pos < to; ++pos)
        insert(pos);
    m_inserted = std::max(m_inserted, to);
}

// Drops the first kWindow bytes: the tables then describe the rest of the
// buffer moved to the front, as if those bytes had never been there.
// Entries of dropped positions become 0 in the heads. m_prev needs no
// change: its distances are relative, a distance into dropped bytes
// reaches below any later search's window limit (pos - kWindow), which
// cuts it as it cuts any too-old candidate, and a move by kWindow keeps
// every position's place in the ring.
void DeflateEncoder::slide()
{
    std::memmove(m_buf, m_buf + kWindow, m_end - kWindow);
    const uint32_t entries = 1u << kHashBits;
    for (uint32_t i = 0; i < entries; ++i)
        m_head[i] = uint16_t(std::max<uint32_t>(m_head[i], kWindow) - kWindow);
    for (uint32_t i = 0; i < entries; ++i)
        m_head3[i] = uint16_t(std::max<uint32_t>(m_head3[i], kWindow) - kWindow);
    m_inserted = m_inserted > kWindow ? m_inserted - kWindow : 0;
    m_start -= kWindow;
    m_end -= kWindow;
}

uint32_t DeflateEncoder::longestMatch(uint32_t pos, uint32_t end, uint32_t chain, uint32_t* dist) const
{
    const uint32_t maxLen = std::min(kMaxMatch, end - pos);
    if (maxLen < kMinMatch)
        return 0;
    const uint8_t* p = m_buf + pos;
    const uint32_t word = load32(p);
    const uint32_t limit = pos > kWindow ? pos - kWindow : 0;
    const uint32_t stop = std::min(m_nice, maxLen);
    uint32_t best = kMinMatch - 1;
    // A near three-byte match first: the chains only hold four-byte ones.
    const uint32_t c3 = m_head3[hash3(word)];
    if (c3 && pos - (c3 - 1) <= kFarThree && ((load32(m_buf + c3 - 1) ^ word) & 0xFFFFFFu) == 0) {
        best = commonLength(p, m_buf + c3 - 1, maxLen);
        *dist = pos - (c3 - 1);
        if (best >= stop)
            return best;
    }
    const uint32_t head = m_head[hash4(word)];
    if (!head || head - 1 < limit)
        return best >= kMinMatch ? best : 0;
    uint32_t c = head - 1;
    for (;;) {
        const uint8_t* q = m_buf + c;
        // The two bytes that would make it longer first, then the three a
        // match needs.
        if (load16(q + best - 1) == load16(p + best - 1) && ((load32(q) ^ word) & 0xFFFFFFu) == 0) {
            const uint32_t len = commonLength(p, q, maxLen);
            if (len > best) {
                best = len;
                *dist = pos - c;
                if (len >= stop)
                    break;
            }
        }
        if (--chain == 0)
            break;
        const uint32_t back = m_prev[c & (kWindow - 1)];
        if (back > c - limit)
            break;
        c -= back;
    }
    return best >= kMinMatch ? best : 0;
}

void DeflateEncoder::parse(uint32_t start, uint32_t end)
{
    m_symCount = 0;
    const uint32_t insertEnd = end >= 3 ? end - 3 : 0; // see insert()
    uint32_t pos = start;
    bool havePrev = false;
    uint32_t prevLen = 0, prevDist = 0;
    while (pos < end) {
        uint32_t curLen = 0, curDist = 0;
        if (!havePrev || prevLen < m_lazy) {
            const uint32_t chain = havePrev && prevLen >= m_good ? std::max(m_chain >> 2, 1u) : m_chain;
            curLen = longestMatch(pos, end, chain, &curDist);
            if (curLen == kMinMatch && curDist > kFarThree)
                curLen = 0;
        }
        if (pos < insertEnd)
            insert(pos);
        if (havePrev && prevLen >= kMinMatch && !betterMatch(curLen, curDist, prevLen, prevDist)) {
            m_syms[m_symCount++] = {uint16_t(prevLen), uint16_t(prevDist)};
            const uint32_t next = pos - 1 + prevLen;
            for (uint32_t p = pos + 1; p < std::min(next, insertEnd); ++p)
                insert(p);
            pos = next;
            havePrev = false;
            prevLen = 0;
        } else {
            if (havePrev)
                m_syms[m_symCount++] = {m_buf[pos - 1], 0};
            havePrev = true;
            prevLen = curLen;
            prevDist = curDist;
            ++pos;
        }
    }
    if (havePrev)
        m_syms[m_symCount++] = {m_buf[pos - 1], 0};
    m_inserted = std::max(m_inserted, insertEnd);
}

// Both ways to fill the tables give the same matches for every position of
// the input. A fresh start inserts the history's positions in order; a
// slide keeps the tables of the previous call, whose positions were
// inserted in the same order, each once, and are the history's positions
// plus older ones: a head then names the newest position of its hash
// within the buffer in both cases (older ones are 0 after the slide), and
// a chain walked from it lists the same positions until it reaches below
// the window limit, where the walk stops either way. The few positions the
// previous call left out at its end (see insert()) are inserted now, as a
// fresh start would insert them. The tables slide by a whole window only
// (the previous history was empty or full), so the ring keeps its places.
uint32_t DeflateEncoder::encode(const uint8_t* history, uint32_t historyLen, const uint8_t* in,
                                uint32_t inLen, uint8_t* out, bool* stored)
{
    if (historyLen > kMaxHistory) { // only the last 32 KB can be reached
        history += historyLen - kMaxHistory;
        historyLen = kMaxHistory;
    }
    inLen = std::min(inLen, kMaxInput);
    const bool follows = historyLen && (m_start == 0 || m_start == kWindow) &&
                         m_end - m_start == historyLen &&
                         std::memcmp(m_buf + m_start, history, historyLen) == 0;
    if (follows) {
        if (m_start)
            slide();
    } else {
        std::memset(m_head, 0, sizeof(uint16_t) << kHashBits);
        std::memset(m_head3, 0, sizeof(uint16_t) << kHashBits);
        m_inserted = 0;
        if (historyLen)
            std::memcpy(m_buf, history, historyLen);
    }
    const uint32_t end = historyLen + inLen;
    if (inLen)
        std::memcpy(m_buf + historyLen, in, inLen);
    std::memset(m_buf + end, 0, kPadding);
    insertHistory(historyLen, end);
    parse(historyLen, end);
    m_start = historyLen;
    m_end = end;
    return write(m_buf + historyLen, inLen, out, stored);
}

namespace {

// Code lengths for freq[0..count) no longer than maxLength, as
// huffman::buildLengths gives them, but faster for the common case: an
// unlimited minimum-redundancy code computed in place over the sorted
// weights (Moffat and Katajainen), used when its longest code fits, which
// makes it as cheap as any code that fits. Otherwise package-merge.
void buildLengths(const uint32_t* freq, unsigned count, unsigned maxLength, uint8_t* lengths)
{
    uint32_t keys[kLitLenSymbols]; // frequency << 9 | symbol, sorted
    static_assert(kLitLenSymbols <= 512 && DeflateEncoder::kMaxInput < (1u << 22));
    unsigned n = 0;
    for (unsigned s = 0; s < count; ++s)
        if (freq[s])
            keys[n++] = freq[s] << 9 | s;
    if (n < 2) {
        huffman::buildLengths(freq, count, maxLength, lengths);
        return;
    }
    std::sort(keys, keys + n);
    uint32_t a[kLitLenSymbols];
    for (unsigned i = 0; i < n; ++i)
        a[i] = keys[i] >> 9;
    // Pairing: a[next] becomes an internal node's weight, and a merged
    // node's slot the index of its parent.
    unsigned root = 0, leaf = 2;
    a[0] += a[1];
    for (unsigned next = 1; next < n - 1; ++next) {
        if (leaf >= n || a[root] < a[leaf]) {
            a[next] = a[root];
            a[root++] = next;
        } else {
            a[next] = a[leaf++];
        }
        if (leaf >= n || (root < next && a[root] < a[leaf])) {
            a[next] += a[root];
            a[root++] = next;
        } else {
            a[next] += a[leaf++];
        }
    }
    // Internal nodes' depths, then leaves' depths from the count of
    // internal nodes at each depth.
    a[n - 2] = 0;
    for (unsigned next = n - 2; next-- > 0;)
        a[next] = a[a[next]] + 1;
    int internal = int(n) - 2;
    unsigned next = n;
    unsigned available = 1, depth = 0;
    while (available > 0) {
        unsigned usedHere = 0;
        while (internal >= 0 && a[internal] == depth) {
            ++usedHere;
            --internal;
        }
        while (available > usedHere) {
            a[--next] = depth;
            --available;
        }
        available = 2 * usedHere;
        ++depth;
    }
    if (a[0] > maxLength) {
        huffman::buildLengths(freq, count, maxLength, lengths);
        return;
    }
    std::fill(lengths, lengths + count, uint8_t(0));
    for (unsigned i = 0; i < n; ++i)
        lengths[keys[i] & 511] = uint8_t(a[i]);
}

// One deflate block for a run of parsed symbols: its frequencies, its
// dynamic code and what each block type would cost.
struct BlockPlan {
    uint32_t from = 0, to = 0;     // symbols
    uint32_t inFrom = 0, inTo = 0; // the input bytes they stand for
    uint32_t litFreq[kLitLenSymbols];
    uint32_t distFreq[kDistSymbols];
    uint64_t extraBits = 0;
    uint8_t litLens[kLitLenSymbols];
    uint8_t distLens[kDistSymbols];
    unsigned nlit = 0, ndist = 0, nclen = 0, itemCount = 0;
    RleItem items[kLitLenSymbols + kDistSymbols];
    uint32_t clFreq[kCodeLenSymbols];
    uint8_t clLens[kCodeLenSymbols];
    uint64_t dynamicBits = 0, fixedBits = 0; // with the 3 header bits
    bool stored = false, dynamic = false;    // the cheapest type

    // A stored block at its largest: header bits, padding, LEN and NLEN.
    uint64_t storedBits() const { return 3 + 7 + 32 + 8 * uint64_t(inTo - inFrom); }
    uint64_t bits() const { return stored ? storedBits() : std::min(dynamicBits, fixedBits); }
};

constexpr uint8_t kFixedLit[288] = {
#define R16(x) x, x, x, x, x, x, x, x, x, x, x, x, x, x, x, x
    R16(8), R16(8), R16(8), R16(8), R16(8), R16(8), R16(8), R16(8), R16(8), R16(9), R16(9),
    R16(9), R16(9), R16(9), R16(9), R16(9), R16(7), 7,      7,      7,      7,      7,
    7,      7,      7,      8,      8,      8,      8,      8,      8,      8,      8,
#undef R16
};
constexpr uint8_t kFixedDist[kDistSymbols] = {5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5,
                                              5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5};

// What the plan's symbols take in a fixed-Huffman block, header included.
uint64_t fixedBlockBits(const BlockPlan& plan)
{
    return 3 + plan.extraBits + huffman::codedBits(plan.litFreq, kFixedLit, kLitLenSymbols) +
           huffman::codedBits(plan.distFreq, kFixedDist, kDistSymbols);
}

// Counts the symbols [plan.from, plan.to) into the plan's frequencies.
template <typename Sym> void countSymbols(const Sym* syms, BlockPlan& plan)
{
    std::fill(plan.litFreq, plan.litFreq + kLitLenSymbols, 0);
    std::fill(plan.distFreq, plan.distFreq + kDistSymbols, 0);
    uint64_t extraBits = 0;
    for (uint32_t i = plan.from; i < plan.to; ++i) {
        const Sym s = syms[i];
        if (!s.dist) {
            ++plan.litFreq[s.litLen];
            continue;
        }
        ++plan.litFreq[kLengths.symbol[s.litLen]];
        extraBits += kLengths.extraBits[s.litLen];
        unsigned sym, bits;
        uint32_t value;
        distanceCode(s.dist, &sym, &bits, &value);
        ++plan.distFreq[sym];
        extraBits += bits;
    }
    plan.litFreq[256] = 1;
    plan.extraBits = extraBits;
}

// The dynamic code for the plan's frequencies, the cost of each block type
// and the cheapest one.
void buildPlan(BlockPlan& plan)
{
    // The cheapest code for these frequencies, at least two codes per tree
    // as every decoder accepts.
    uint32_t distForTree[kDistSymbols];
    std::memcpy(distForTree, plan.distFreq, sizeof distForTree);
    if (std::count_if(distForTree, distForTree + kDistSymbols, [](uint32_t f) { return f != 0; }) == 0)
        distForTree[0] = 1;
    buildLengths(plan.litFreq, kLitLenSymbols, 15, plan.litLens);
    buildLengths(distForTree, kDistSymbols, 15, plan.distLens);
    unsigned nlit = kLitLenSymbols;
    while (nlit > 257 && plan.litLens[nlit - 1] == 0)
        --nlit;
    unsigned ndist = kDistSymbols;
    while (ndist > 1 && plan.distLens[ndist - 1] == 0)
        --ndist;
    uint8_t allLens[kLitLenSymbols + kDistSymbols];
    std::memcpy(allLens, plan.litLens, nlit);
    std::memcpy(allLens + nlit, plan.distLens, ndist);
    plan.nlit = nlit;
    plan.ndist = ndist;
    plan.itemCount = runLengths(allLens, nlit + ndist, plan.items);
    std::fill(plan.clFreq, plan.clFreq + kCodeLenSymbols, 0);
    for (unsigned i = 0; i < plan.itemCount; ++i)
        ++plan.clFreq[plan.items[i].symbol];
    buildLengths(plan.clFreq, kCodeLenSymbols, 7, plan.clLens);
    unsigned nclen = kCodeLenSymbols;
    while (nclen > 4 && plan.clLens[kCodeLenOrder[nclen - 1]] == 0)
        --nclen;
    plan.nclen = nclen;

    const uint64_t dynamicBits = 3 + 5 + 5 + 4 + 3 * nclen + plan.extraBits +
                                 huffman::codedBits(plan.clFreq, plan.clLens, kCodeLenSymbols) +
                                 huffman::codedBits(plan.clFreq, kCodeLenExtra, kCodeLenSymbols) +
                                 huffman::codedBits(plan.litFreq, plan.litLens, kLitLenSymbols) +
                                 huffman::codedBits(plan.distFreq, plan.distLens, kDistSymbols);
    const uint64_t fixedBits = fixedBlockBits(plan);
    plan.dynamicBits = dynamicBits;
    plan.fixedBits = fixedBits;
    plan.dynamic = dynamicBits <= fixedBits;
    plan.stored = plan.storedBits() < std::min(dynamicBits, fixedBits);
}

// Writes the plan's block.
template <typename Sym>
void writeBlock(BitWriter& w, const BlockPlan& plan, const Sym* syms, const uint8_t* in, bool last)
{
    if (plan.stored) {
        const uint32_t n = plan.inTo - plan.inFrom;
        w.add(last ? 1 : 0, 3); // BTYPE=00
        w.alignToByte();
        w.add(n | uint32_t(~n & 0xFFFFu) << 16, 32);
        w.flush();
        w.copyBytes(in + plan.inFrom, n);
        return;
    }
    const uint8_t* lens = plan.dynamic ? plan.litLens : kFixedLit;
    const uint8_t* dlens = plan.dynamic ? plan.distLens : kFixedDist;
    uint16_t litCodes[288];
    uint16_t distCodes[kDistSymbols];
    deflateCodes(lens, plan.dynamic ? kLitLenSymbols : 288, litCodes);
    deflateCodes(dlens, kDistSymbols, distCodes);

    w.add(last ? 1 : 0, 1);
    if (plan.dynamic) {
        w.add(2, 2);
        w.add(plan.nlit - 257, 5);
        w.add(plan.ndist - 1, 5);
        w.add(plan.nclen - 4, 4);
        w.flush();
        for (unsigned i = 0; i < plan.nclen; ++i) {
            w.add(plan.clLens[kCodeLenOrder[i]], 3);
            w.flush();
        }
        uint16_t clCodes[kCodeLenSymbols];
        deflateCodes(plan.clLens, kCodeLenSymbols, clCodes);
        for (unsigned i = 0; i < plan.itemCount; ++i) {
            const RleItem it = plan.items[i];
            w.add(clCodes[it.symbol], plan.clLens[it.symbol]);
            w.add(it.extra, kCodeLenExtra[it.symbol]);
            w.flush();
        }
    } else {
        w.add(1, 2);
    }
    // Each length's code and extra bits as one field.
    uint32_t lengthBits[kMaxMatch + 1];
    uint8_t lengthCount[kMaxMatch + 1];
    for (uint32_t len = kMinMatch; len <= kMaxMatch; ++len) {
        const unsigned sym = kLengths.symbol[len];
        lengthBits[len] = litCodes[sym] | uint32_t(kLengths.extraValue[len]) << lens[sym];
        lengthCount[len] = uint8_t(lens[sym] + kLengths.extraBits[len]);
    }
    for (uint32_t i = plan.from; i < plan.to; ++i) {
        const Sym s = syms[i];
        if (!s.dist) {
            w.add(litCodes[s.litLen], lens[s.litLen]);
        } else {
            unsigned dsym, bits;
            uint32_t value;
            distanceCode(s.dist, &dsym, &bits, &value);
            w.add(lengthBits[s.litLen], lengthCount[s.litLen]);
            w.add(distCodes[dsym] | uint64_t(value) << dlens[dsym], dlens[dsym] + bits);
        }
        w.flush();
    }
    w.add(litCodes[256], lens[256]);
    w.flush();
}

// About what the plan's block would cost, from its frequencies alone: the
// fixed and stored costs exactly, the dynamic one from the entropy of the
// symbols and a few bits per code length sent.
double estimateBits(const BlockPlan& plan)
{
    double entropy = 0;
    uint32_t usedSymbols = 0;
    // The -f log f terms of one alphabet's symbols; returns their count.
    auto subtractTerms = [&](const uint32_t* freq, unsigned count) {
        uint32_t total = 0;
        for (unsigned i = 0; i < count; ++i)
            if (const uint32_t f = freq[i]) {
                entropy -= f * std::log2(double(f));
                total += f;
                ++usedSymbols;
            }
        return total;
    };
    const uint32_t lits = subtractTerms(plan.litFreq, kLitLenSymbols);
    const uint32_t dists = subtractTerms(plan.distFreq, kDistSymbols);
    entropy += lits * std::log2(double(lits));
    if (dists)
        entropy += dists * std::log2(double(dists));
    const double dynamicBits = entropy + double(plan.extraBits) + 17 + 3 * 19 + 4.0 * usedSymbols;
    return std::min({dynamicBits, double(fixedBlockBits(plan)), double(plan.storedBits())});
}

// The blocks for the plan's symbols (counted): the plan as one block, or,
// when two blocks for its halves (by input) cost less, each half chosen the
// same way, `depth` times at most. Halves are costed exactly (built) only
// when an estimate says they save kSplitGain bits; the choice is then made
// by the exact costs. Appends the blocks to blocks[*count] on, built, and
// returns their bits.
template <typename Sym>
uint64_t chooseBlocks(const Sym* syms, BlockPlan& plan, bool built, unsigned depth, BlockPlan* blocks,
                      unsigned* count)
{
    const uint32_t bytes = plan.inTo - plan.inFrom;
    BlockPlan halves[2];
    BlockPlan& left = halves[0];
    BlockPlan& right = halves[1];
    bool split = depth > 0 && bytes >= 2 * kMinSplitBytes;
    if (split) {
        left.from = plan.from;
        left.inFrom = plan.inFrom;
        uint32_t at = plan.from, inAt = plan.inFrom;
        while (at < plan.to && inAt - plan.inFrom < bytes / 2) {
            inAt += syms[at].dist ? syms[at].litLen : 1;
            ++at;
        }
        left.to = right.from = at;
        left.inTo = right.inFrom = inAt;
        right.to = plan.to;
        right.inTo = plan.inTo;
        countSymbols(syms, left);
        for (unsigned i = 0; i < kLitLenSymbols; ++i)
            right.litFreq[i] = plan.litFreq[i] - left.litFreq[i];
        for (unsigned i = 0; i < kDistSymbols; ++i)
            right.distFreq[i] = plan.distFreq[i] - left.distFreq[i];
        right.litFreq[256] = 1;
        right.extraBits = plan.extraBits - left.extraBits;
        split = estimateBits(plan) - estimateBits(left) - estimateBits(right) > kSplitGain;
    }
    if (!built)
        buildPlan(plan);
    if (split) {
        buildPlan(left);
        buildPlan(right);
        split = left.bits() + right.bits() < plan.bits();
    }
    if (!split) {
        blocks[(*count)++] = plan;
        return plan.bits();
    }
    const uint64_t bits = chooseBlocks(syms, left, true, depth - 1, blocks, count);
    return bits + chooseBlocks(syms, right, true, depth - 1, blocks, count);
}

} // namespace

uint32_t DeflateEncoder::write(const uint8_t* in, uint32_t inLen, uint8_t* out, bool* stored)
{
    BlockPlan whole;
    whole.to = m_symCount;
    whole.inTo = inLen;
    countSymbols(m_syms, whole);
    BlockPlan blocks[1u << kSplitDepth];
    unsigned count = 0;
    const uint64_t bits = chooseBlocks(m_syms, whole, false, kSplitDepth, blocks, &count);

    // One stored block when that is smaller, or as small as the input
    // allows: the stream never exceeds bound(inLen).
    if (uint64_t(inLen) + 5 < (bits + 7) / 8) {
        if (stored)
            *stored = true;
        // BFINAL=1, BTYPE=00, padding; then LEN and NLEN.
        out[0] = 0x01;
        out[1] = uint8_t(inLen);
        out[2] = uint8_t(inLen >> 8);
        out[3] = uint8_t(~inLen);
        out[4] = uint8_t(~inLen >> 8);
        if (inLen)
            std::memcpy(out + 5, in, inLen);
        return inLen + 5;
    }
    if (stored)
        *stored = false;
    // Written to m_stream, then copied out: the bit writer stores past the
    // end and `out` has room only for the stream.
    BitWriter w(m_stream);
    for (unsigned i = 0; i < count; ++i)
        writeBlock(w, blocks[i], m_syms, in, i + 1 == count);
    const uint32_t length = w.finish();
    std::memcpy(out, m_stream, length);
    return length;
}

} // namespace ravelin::fci
