#include "cabinet/fci/deflateencoder.h"

#include <algorithm>
#include <bit>
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

inline uint32_t hash3(const uint8_t* p)
{
    static_assert(std::endian::native == std::endian::little);
    return ((load32(p) & 0xFFFFFFu) * 0x9E3779B1u) >> (32 - kHashBits);
}

inline uint32_t hash4(const uint8_t* p)
{
    return (load32(p) * 0x9E3779B1u) >> (32 - kHashBits);
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

class BitWriter {
public:
    explicit BitWriter(uint8_t* out) : m_out(out) {}
    // n <= 32
    void put(uint32_t bits, unsigned n)
    {
        m_acc |= uint64_t(bits) << m_count;
        m_count += n;
        if (m_count >= 32) {
            const uint32_t word = uint32_t(m_acc);
            std::memcpy(m_out + m_len, &word, 4);
            m_len += 4;
            m_acc >>= 32;
            m_count -= 32;
        }
    }
    uint32_t finish()
    {
        while (m_count > 0) {
            m_out[m_len++] = uint8_t(m_acc);
            m_acc >>= 8;
            m_count = m_count > 8 ? m_count - 8 : 0;
        }
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
                    static_cast<void*>(m_prev), static_cast<void*>(m_syms)})
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
    m_head = static_cast<uint32_t*>(alloc(sizeof(uint32_t) << kHashBits));
    m_head3 = static_cast<uint32_t*>(alloc(sizeof(uint32_t) << kHashBits));
    m_prev = static_cast<uint32_t*>(alloc(sizeof(uint32_t) * kBufferSize));
    m_syms = static_cast<Symbol*>(alloc(sizeof(Symbol) * (kMaxInput + 1)));
    return m_buf && m_head && m_head3 && m_prev && m_syms;
}

void DeflateEncoder::insert(uint32_t pos)
{
    const uint32_t h = hash4(m_buf + pos);
    m_prev[pos] = m_head[h];
    m_head[h] = pos + 1;
    m_head3[hash3(m_buf + pos)] = pos + 1;
}

uint32_t DeflateEncoder::longestMatch(uint32_t pos, uint32_t end, uint32_t chain, uint32_t* dist) const
{
    const uint32_t maxLen = std::min(kMaxMatch, end - pos);
    if (maxLen < kMinMatch)
        return 0;
    const uint8_t* p = m_buf + pos;
    const uint32_t limit = pos > kWindow ? pos - kWindow : 0;
    const uint32_t stop = std::min(m_nice, maxLen);
    uint32_t best = kMinMatch - 1;
    // A near three-byte match first: the chains only hold four-byte ones.
    const uint32_t c3 = m_head3[hash3(p)];
    if (c3 && pos - (c3 - 1) <= kFarThree && ((load32(m_buf + c3 - 1) ^ load32(p)) & 0xFFFFFFu) == 0) {
        best = commonLength(p, m_buf + c3 - 1, maxLen);
        *dist = pos - (c3 - 1);
        if (best >= stop)
            return best;
    }
    uint32_t cand = m_head[hash4(p)];
    while (cand && chain--) {
        const uint32_t c = cand - 1;
        if (c < limit)
            break;
        const uint8_t* q = m_buf + c;
        // The two bytes that would make it longer first, then the three a
        // match needs.
        if (load16(q + best - 1) == load16(p + best - 1) && ((load32(q) ^ load32(p)) & 0xFFFFFFu) == 0) {
            const uint32_t len = commonLength(p, q, maxLen);
            if (len > best) {
                best = len;
                *dist = pos - c;
                if (len >= stop)
                    break;
            }
        }
        cand = m_prev[c];
    }
    return best >= kMinMatch ? best : 0;
}

void DeflateEncoder::parse(uint32_t start, uint32_t end)
{
    m_symCount = 0;
    auto insertable = [end](uint32_t p) { return p + kMinMatch <= end; };
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
        if (insertable(pos))
            insert(pos);
        if (havePrev && prevLen >= kMinMatch && !betterMatch(curLen, curDist, prevLen, prevDist)) {
            m_syms[m_symCount++] = {uint16_t(prevLen), uint16_t(prevDist)};
            const uint32_t next = pos - 1 + prevLen;
            for (uint32_t p = pos + 1; p < next; ++p)
                if (insertable(p))
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
}

uint32_t DeflateEncoder::encode(const uint8_t* history, uint32_t historyLen, const uint8_t* in,
                                uint32_t inLen, uint8_t* out, bool* stored)
{
    if (historyLen > kMaxHistory) { // only the last 32 KB can be reached
        history += historyLen - kMaxHistory;
        historyLen = kMaxHistory;
    }
    inLen = std::min(inLen, kMaxInput);
    const uint32_t end = historyLen + inLen;
    if (historyLen)
        std::memcpy(m_buf, history, historyLen);
    if (inLen)
        std::memcpy(m_buf + historyLen, in, inLen);
    std::memset(m_buf + end, 0, kPadding);
    std::memset(m_head, 0, sizeof(uint32_t) << kHashBits);
    std::memset(m_head3, 0, sizeof(uint32_t) << kHashBits);
    for (uint32_t p = 0; p < historyLen && p + kMinMatch <= end; ++p)
        insert(p);
    parse(historyLen, end);
    return write(m_buf + historyLen, inLen, out, stored);
}

uint32_t DeflateEncoder::write(const uint8_t* in, uint32_t inLen, uint8_t* out, bool* stored)
{
    uint32_t litFreq[kLitLenSymbols] = {};
    uint32_t distFreq[kDistSymbols] = {};
    uint64_t extraBits = 0;
    for (uint32_t i = 0; i < m_symCount; ++i) {
        const Symbol s = m_syms[i];
        if (!s.dist) {
            ++litFreq[s.litLen];
            continue;
        }
        ++litFreq[kLengths.symbol[s.litLen]];
        extraBits += kLengths.extraBits[s.litLen];
        unsigned sym, bits;
        uint32_t value;
        distanceCode(s.dist, &sym, &bits, &value);
        ++distFreq[sym];
        extraBits += bits;
    }
    litFreq[256] = 1;

    // Dynamic: the cheapest code for these frequencies, at least two codes
    // per tree as every decoder accepts.
    uint8_t litLens[kLitLenSymbols];
    uint8_t distLens[kDistSymbols];
    uint32_t distForTree[kDistSymbols];
    std::memcpy(distForTree, distFreq, sizeof distFreq);
    if (std::count_if(distForTree, distForTree + kDistSymbols, [](uint32_t f) { return f != 0; }) == 0)
        distForTree[0] = 1;
    huffman::buildLengths(litFreq, kLitLenSymbols, 15, litLens);
    huffman::buildLengths(distForTree, kDistSymbols, 15, distLens);
    unsigned nlit = kLitLenSymbols;
    while (nlit > 257 && litLens[nlit - 1] == 0)
        --nlit;
    unsigned ndist = kDistSymbols;
    while (ndist > 1 && distLens[ndist - 1] == 0)
        --ndist;
    uint8_t allLens[kLitLenSymbols + kDistSymbols];
    std::memcpy(allLens, litLens, nlit);
    std::memcpy(allLens + nlit, distLens, ndist);
    RleItem items[kLitLenSymbols + kDistSymbols];
    const unsigned itemCount = runLengths(allLens, nlit + ndist, items);
    uint32_t clFreq[kCodeLenSymbols] = {};
    for (unsigned i = 0; i < itemCount; ++i)
        ++clFreq[items[i].symbol];
    uint8_t clLens[kCodeLenSymbols];
    huffman::buildLengths(clFreq, kCodeLenSymbols, 7, clLens);
    unsigned nclen = kCodeLenSymbols;
    while (nclen > 4 && clLens[kCodeLenOrder[nclen - 1]] == 0)
        --nclen;

    uint64_t dynamicBits = 3 + 5 + 5 + 4 + 3 * nclen + extraBits;
    for (unsigned i = 0; i < kCodeLenSymbols; ++i)
        dynamicBits += uint64_t(clFreq[i]) * (clLens[i] + kCodeLenExtra[i]);
    for (unsigned i = 0; i < kLitLenSymbols; ++i)
        dynamicBits += uint64_t(litFreq[i]) * litLens[i];
    for (unsigned i = 0; i < kDistSymbols; ++i)
        dynamicBits += uint64_t(distFreq[i]) * distLens[i];

    uint8_t fixedLit[288];
    uint8_t fixedDist[kDistSymbols];
    std::fill(fixedLit, fixedLit + 144, 8);
    std::fill(fixedLit + 144, fixedLit + 256, 9);
    std::fill(fixedLit + 256, fixedLit + 280, 7);
    std::fill(fixedLit + 280, fixedLit + 288, 8);
    std::fill(fixedDist, fixedDist + kDistSymbols, 5);
    uint64_t fixedBits = 3 + extraBits;
    for (unsigned i = 0; i < kLitLenSymbols; ++i)
        fixedBits += uint64_t(litFreq[i]) * fixedLit[i];
    for (unsigned i = 0; i < kDistSymbols; ++i)
        fixedBits += uint64_t(distFreq[i]) * 5;

    const uint64_t dynamicBytes = (dynamicBits + 7) / 8;
    const uint64_t fixedBytes = (fixedBits + 7) / 8;
    const uint64_t storedBytes = uint64_t(inLen) + 5;

    if (storedBytes < dynamicBytes && storedBytes < fixedBytes) {
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

    const bool useDynamic = dynamicBytes <= fixedBytes;
    const uint8_t* lens = useDynamic ? litLens : fixedLit;
    const uint8_t* dlens = useDynamic ? distLens : fixedDist;
    uint16_t litCodes[288];
    uint16_t distCodes[kDistSymbols];
    deflateCodes(lens, useDynamic ? kLitLenSymbols : 288, litCodes);
    deflateCodes(dlens, kDistSymbols, distCodes);

    BitWriter w(out);
    w.put(1, 1);
    if (useDynamic) {
        w.put(2, 2);
        w.put(nlit - 257, 5);
        w.put(ndist - 1, 5);
        w.put(nclen - 4, 4);
        for (unsigned i = 0; i < nclen; ++i)
            w.put(clLens[kCodeLenOrder[i]], 3);
        uint16_t clCodes[kCodeLenSymbols];
        deflateCodes(clLens, kCodeLenSymbols, clCodes);
        for (unsigned i = 0; i < itemCount; ++i) {
            const RleItem it = items[i];
            w.put(clCodes[it.symbol], clLens[it.symbol]);
            if (kCodeLenExtra[it.symbol])
                w.put(it.extra, kCodeLenExtra[it.symbol]);
        }
    } else {
        w.put(1, 2);
    }
    for (uint32_t i = 0; i < m_symCount; ++i) {
        const Symbol s = m_syms[i];
        if (!s.dist) {
            w.put(litCodes[s.litLen], lens[s.litLen]);
            continue;
        }
        const unsigned lsym = kLengths.symbol[s.litLen];
        w.put(litCodes[lsym], lens[lsym]);
        if (kLengths.extraBits[s.litLen])
            w.put(kLengths.extraValue[s.litLen], kLengths.extraBits[s.litLen]);
        unsigned dsym, bits;
        uint32_t value;
        distanceCode(s.dist, &dsym, &bits, &value);
        w.put(distCodes[dsym], dlens[dsym]);
        if (bits)
            w.put(value, bits);
    }
    w.put(litCodes[256], lens[256]);
    return w.finish();
}

} // namespace ravelin::fci
