#include "cabinet/fci/lzxencoder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>

#include "cabinet/fci/huffman.h"

namespace ravelin::fci {

namespace {

using lzx::kAlignedSymbols;
using lzx::kFrameSize;
using lzx::kLengthSymbols;
using lzx::kMaxMainSymbols;

constexpr uint32_t kNumChars = 256;
constexpr uint32_t kMaxSlots = 50;
constexpr uint32_t kPretreeSymbols = 20;
constexpr uint32_t kMinMatch = 2;
constexpr uint32_t kMaxMatch = 257;
constexpr uint32_t kPrimaryLengths = 7; // length headers 0-6 carry lengths 2-8; 7 adds a length symbol
constexpr unsigned kMaxCode = 16;
constexpr unsigned kMaxPretreeCode = 15; // its lengths are sent in 4 bits
constexpr unsigned kMaxAlignedCode = 7;  // its lengths are sent in 3 bits
constexpr uint32_t kBlockVerbatim = 1;
constexpr uint32_t kBlockAligned = 2;
constexpr uint32_t kBlockUncompressed = 3;
constexpr unsigned kSlotsForWindow[] = {30, 32, 34, 36, 38, 42, 50}; // window bits 15..21

// The E8 translation size sent in every folder's header. Call targets are
// made absolute only below it; 12,000,000 is the value Microsoft's cabinet
// tools write, so every decoder has met it.
constexpr int32_t kE8TranslationSize = 12000000;

// Parser settings. A match of kNiceLength bytes is taken without weighing
// the positions it covers; the finder visits at most kDepth tree nodes per
// position. Measured on 4 MB of binaries and text: depth 32 is 0.3% smaller
// for a fifth more time, 8 is 2% larger; nice length 32 is 0.2% larger.
constexpr uint32_t kNiceLength = 64;
constexpr uint32_t kDepth = 16;
// Matches kept per frame for the parse's passes (8 bytes each); past this,
// a position keeps only its longest match.
constexpr uint32_t kMatchCache = lzx::kGroupFrames * kFrameSize * 6;
// A frame group is parsed with the previous group's code as its cost model,
// then again with the code that parse gives, unless that code prices the
// parse less than this fraction below the model. Measured on 20 MB of
// binaries and text at lzx:21: 0.02 takes 5% off the time for 0.04% more
// bytes; always one pass takes 16% off for 0.3% more.
constexpr double kSecondPassGain = 0.02;
// A symbol the previous code did not have costs this many bits in the model.
constexpr uint32_t kUnseenCost = 14;

struct SlotTable {
    uint32_t base[kMaxSlots + 1] = {};
    uint8_t extra[kMaxSlots] = {};
    constexpr SlotTable()
    {
        for (uint32_t i = 0; i < kMaxSlots; ++i) {
            extra[i] = uint8_t(i < 4 ? 0 : i < 36 ? i / 2 - 1 : 17);
            base[i + 1] = base[i] + (1u << extra[i]);
        }
    }
};
constexpr SlotTable kSlots;

// The position slot of a formatted offset (distance + 2, at least 3).
inline uint32_t slotOf(uint32_t fo)
{
    if (fo < 4)
        return fo;
    if (fo < (1u << 18)) {
        const uint32_t top = uint32_t(std::bit_width(fo)) - 1;
        return 2 * top + ((fo >> (top - 1)) & 1);
    }
    return 36 + ((fo - (1u << 18)) >> 17);
}

inline uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline void putLe32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// How many bytes `a` and `b` have in common, up to `limit`; unlike
// MatchFinder::commonLength it reads nothing at or past `limit`, since the
// bytes after the frames being parsed may be appended meanwhile.
inline uint32_t sameBytes(const uint8_t* a, const uint8_t* b, uint32_t limit)
{
    uint32_t n = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; n + 8 <= limit; n += 8) {
            uint64_t x, y;
            std::memcpy(&x, a + n, 8);
            std::memcpy(&y, b + n, 8);
            if (const uint64_t diff = x ^ y)
                return n + uint32_t(std::countr_zero(diff) >> 3);
        }
    }
    while (n < limit && a[n] == b[n])
        ++n;
    return n;
}

// Bits into 16-bit little-endian words, most significant bit first.
class BitWriter {
public:
    BitWriter(uint8_t* out, uint32_t capacity) : m_out(out), m_capacity(capacity) {}
    void put(uint32_t value, unsigned count)
    {
        m_acc = (m_acc << count) | value;
        m_bits += count;
        while (m_bits >= 16) {
            m_bits -= 16;
            const uint32_t word = uint32_t(m_acc >> m_bits) & 0xFFFF;
            if (m_size + 2 > m_capacity) {
                m_overflow = true;
                continue;
            }
            m_out[m_size++] = uint8_t(word);
            m_out[m_size++] = uint8_t(word >> 8);
        }
    }
    void align()
    {
        if (m_bits)
            put(0, 16 - m_bits);
    }
    // Bits written so far, counting the unfinished word.
    uint64_t bitCount() const { return uint64_t(m_size) * 8 + m_bits; }
    unsigned pending() const { return m_bits; }
    // Raw bytes after align(): the writer then continues after them.
    uint8_t* rawSpace(uint32_t count)
    {
        if (m_bits || m_size + count > m_capacity) {
            m_overflow = true;
            return nullptr;
        }
        uint8_t* p = m_out + m_size;
        m_size += count;
        return p;
    }
    uint32_t size() const { return m_size; }
    bool overflow() const { return m_overflow; }

private:
    uint8_t* m_out;
    uint32_t m_capacity;
    uint32_t m_size = 0;
    uint64_t m_acc = 0;
    unsigned m_bits = 0;
    bool m_overflow = false;
};

} // namespace

// A node of the parse's shortest path: its cost and the step that reached
// it, len + (fo << 9): fo 0-2 a repeated offset, else a formatted offset
// (below 2^22); len 1 a literal, else a match length (below 2^9).
struct LzxEncoder::Node {
    uint32_t cost;
    uint32_t step;
};
constexpr unsigned kStepLenBits = 9;
constexpr uint32_t kStepLenMask = (1u << kStepLenBits) - 1;
static_assert(kMaxMatch <= kStepLenMask && (2u << lzx::kMaxWindowBits) < (1u << (32 - kStepLenBits)));

// The repeated offsets after a node's step.
struct LzxEncoder::Reps {
    uint32_t r[3];
};

struct LzxEncoder::Item {
    uint32_t len;
    uint32_t fo;
};

// One run of tree lengths sent through its pretree.
struct LzxEncoder::Section {
    uint8_t preLen[kPretreeSymbols];
    uint16_t preCode[kPretreeSymbols];
    uint32_t count = 0;
    uint8_t sym[kMaxMainSymbols];
    uint8_t extra[kMaxMainSymbols];
    uint32_t bits = 0;
};

// What the parse believes each symbol costs, in bits.
struct LzxEncoder::Costs {
    uint32_t main[kMaxMainSymbols];
    uint32_t length[kLengthSymbols];
    uint32_t aligned[kAlignedSymbols];
    bool useAligned = false;
};

// The symbols of one frame's parse (or, summed, of several frames).
struct LzxEncoder::Stats {
    uint32_t main[kMaxMainSymbols];
    uint32_t length[kLengthSymbols];
    uint32_t aligned[kAlignedSymbols];
    uint64_t verbatimExtra; // extra offset bits in a verbatim block
    uint64_t alignedExtra;  // in an aligned block, aligned symbols aside
    uint32_t items;         // the frame's first entry in m_items
    uint32_t itemCount;
    uint32_t endR[3]; // repeated offsets after the frame

    void clear(uint32_t mainSymbols)
    {
        std::fill(main, main + mainSymbols, 0u);
        std::fill(length, length + kLengthSymbols, 0u);
        std::fill(aligned, aligned + kAlignedSymbols, 0u);
        verbatimExtra = alignedExtra = 0;
    }
    void add(const Stats& o, uint32_t mainSymbols)
    {
        for (uint32_t s = 0; s < mainSymbols; ++s)
            main[s] += o.main[s];
        for (uint32_t s = 0; s < kLengthSymbols; ++s)
            length[s] += o.length[s];
        for (uint32_t s = 0; s < kAlignedSymbols; ++s)
            aligned[s] += o.aligned[s];
        verbatimExtra += o.verbatimExtra;
        alignedExtra += o.alignedExtra;
    }
};

namespace {

inline uint32_t preExtraBits(uint32_t sym)
{
    return sym == 17 ? 4 : sym == 18 ? 5 : sym == 19 ? 1 : 0;
}

// Turns the lengths `next` (against `prev`) into pretree symbols, and builds
// the pretree for them.
template <typename S> void buildSection(const uint8_t* prev, const uint8_t* next, uint32_t count, S& s)
{
    s.count = 0;
    auto add = [&s](uint32_t sym, uint32_t extra) {
        s.sym[s.count] = uint8_t(sym);
        s.extra[s.count++] = uint8_t(extra);
    };
    auto delta = [](uint32_t from, uint32_t to) { return (from + 17 - to) % 17; };
    for (uint32_t x = 0; x < count;) {
        uint32_t run = 1;
        while (x + run < count && next[x + run] == next[x])
            ++run;
        if (next[x] == 0 && run >= 20) {
            const uint32_t n = std::min(run, 51u);
            add(18, n - 20);
            x += n;
        } else if (next[x] == 0 && run >= 4) {
            const uint32_t n = std::min(run, 19u);
            add(17, n - 4);
            x += n;
        } else if (run >= 4) {
            const uint32_t n = std::min(run, 5u);
            add(19, n - 4);
            add(delta(prev[x], next[x]), 0);
            x += n;
        } else {
            add(delta(prev[x], next[x]), 0);
            ++x;
        }
    }
    uint32_t freq[kPretreeSymbols] = {};
    for (uint32_t i = 0; i < s.count; ++i)
        ++freq[s.sym[i]];
    huffman::buildLengths(freq, kPretreeSymbols, kMaxPretreeCode, s.preLen);
    huffman::canonicalCodes(s.preLen, kPretreeSymbols, s.preCode);
    s.bits = 4 * kPretreeSymbols;
    for (uint32_t i = 0; i < kPretreeSymbols; ++i)
        s.bits += freq[i] * (s.preLen[i] + preExtraBits(i));
}

template <typename S> void writeSection(BitWriter& bw, const S& s)
{
    for (uint32_t i = 0; i < kPretreeSymbols; ++i)
        bw.put(s.preLen[i], 4);
    for (uint32_t i = 0; i < s.count; ++i) {
        const uint32_t sym = s.sym[i];
        bw.put(s.preCode[sym], s.preLen[sym]);
        if (const uint32_t e = preExtraBits(sym))
            bw.put(s.extra[i], e);
    }
}

void costsFromLengths(const uint8_t* lengths, uint32_t count, uint32_t* costs)
{
    for (uint32_t i = 0; i < count; ++i)
        costs[i] = lengths[i] ? lengths[i] : kUnseenCost;
}

MatchFinder::Params finderParams(unsigned windowBits)
{
    MatchFinder::Params p;
    p.windowBits = windowBits;
    p.maxDistance = (1u << windowBits) - 3;
    p.niceLength = kNiceLength;
    p.maxLength = kMaxMatch;
    p.depth = kDepth;
    return p;
}

constexpr uint32_t kGroupBytes = lzx::kGroupFrames * kFrameSize;

} // namespace

LzxEncoder::~LzxEncoder()
{
    if (!m_free)
        return;
    for (Found& g : m_found)
        for (void* p : {static_cast<void*>(g.matchIndex), static_cast<void*>(g.matches)})
            if (p)
                m_free(p);
    for (void* p : {static_cast<void*>(m_frame), static_cast<void*>(m_nodes), static_cast<void*>(m_reps),
                    static_cast<void*>(m_items), static_cast<void*>(m_stats)})
        if (p)
            m_free(p);
}

uint64_t LzxEncoder::memoryNeeded(unsigned windowBits)
{
    return sizeof(LzxEncoder) + MatchFinder::memoryNeeded(finderParams(windowBits)) + kGroupBytes +
           kFoundCalls * ((kGroupBytes + 1) * sizeof(uint32_t) + uint64_t(kMatchCache) * sizeof(Match)) +
           (kFrameSize + 1) * (sizeof(Node) + sizeof(Reps)) + kGroupBytes * sizeof(Item) +
           (lzx::kGroupFrames + 1) * sizeof(Stats);
}

bool LzxEncoder::init(unsigned windowBits, PFNFCIALLOC alloc, PFNFCIFREE release)
{
    if (m_frame || windowBits < lzx::kMinWindowBits || windowBits > lzx::kMaxWindowBits)
        return false;
    m_alloc = alloc;
    m_free = release;
    m_windowBits = windowBits;
    m_mainSymbols = kNumChars + 8 * kSlotsForWindow[windowBits - lzx::kMinWindowBits];
    m_frame = static_cast<uint8_t*>(alloc(kGroupBytes));
    bool ok = m_frame != nullptr;
    for (Found& g : m_found) {
        g.matchIndex = static_cast<uint32_t*>(alloc((kGroupBytes + 1) * sizeof(uint32_t)));
        g.matches = static_cast<Match*>(alloc(kMatchCache * sizeof(Match)));
        ok = ok && g.matchIndex && g.matches;
    }
    m_nodes = static_cast<Node*>(alloc((kFrameSize + 1) * sizeof(Node)));
    m_reps = static_cast<Reps*>(alloc((kFrameSize + 1) * sizeof(Reps)));
    m_items = static_cast<Item*>(alloc(kGroupBytes * sizeof(Item)));
    m_stats = static_cast<Stats*>(alloc((lzx::kGroupFrames + 1) * sizeof(Stats)));
    if (!ok || !m_nodes || !m_reps || !m_items || !m_stats)
        return false;
    if (!m_finder.init(finderParams(windowBits), alloc, release))
        return false;
    reset();
    return true;
}

void LzxEncoder::reset()
{
    m_finder.reset();
    m_foundCalls = m_encodedCalls = 0;
    m_findFrames = m_findOffset = 0;
    m_frames = 0;
    m_offset = 0;
    m_r[0] = m_r[1] = m_r[2] = 1;
    std::memset(m_prevMain, 0, sizeof m_prevMain);
    std::memset(m_prevLength, 0, sizeof m_prevLength);
    m_havePrev = false;
    m_haveModel = false;
    m_modelAlignedUsed = false;
}

// The inverse of the decoders' E8 step (see the header): `offset` is the
// frame's folder offset.
void LzxEncoder::translateE8(uint8_t* data, uint32_t size, uint32_t offset) const
{
    const int32_t translation = kE8TranslationSize;
    for (uint32_t i = 0; i + 10 < size;) {
        if (data[i] != 0xE8) {
            ++i;
            continue;
        }
        const int32_t pos = int32_t(offset + i);
        const int32_t rel = int32_t(le32(data + i + 1));
        if (rel >= -pos && rel < translation) {
            const int32_t abs = rel < translation - pos ? rel + pos : rel - translation;
            putLe32(data + i + 1, uint32_t(abs));
        }
        i += 5;
    }
}

// Asks the finder about every position of the call's frames (none of its
// matches crosses a frame's end) and keeps its answers for the parse passes.
// Positions inside a match of kNiceLength or more are only entered.
void LzxEncoder::collectMatches(uint32_t size, Found& g)
{
    Match found[kNiceLength + 1];
    uint32_t used = 0, skip = 0;
    for (uint32_t i = 0; i < size; ++i) {
        g.matchIndex[i] = used;
        if (skip) {
            m_finder.skip();
            --skip;
            continue;
        }
        const uint32_t frameEnd = std::min(size, (i / kFrameSize + 1) * kFrameSize);
        const uint32_t n = m_finder.find(std::min(kMaxMatch, frameEnd - i), found);
        if (!n)
            continue;
        uint32_t first = 0;
        if (used + n > kMatchCache)
            first = used < kMatchCache ? n - 1 : n;
        for (uint32_t k = first; k < n; ++k)
            g.matches[used++] = found[k];
        if (found[n - 1].length >= kNiceLength)
            skip = found[n - 1].length - 1;
    }
    g.matchIndex[size] = used;
}

// Shortest path over one frame (positions from..to of the call): node i is
// "the first i bytes are coded"; each node keeps the cheapest way found to
// it and the repeated offsets that way leaves. Edges are literals,
// repeated-offset matches of every length up to the longest, and the
// finder's matches of every length up to theirs. A match of kNiceLength or
// more is taken as it is: the parse jumps to its end. `r` holds the repeated
// offsets before the frame and receives those after it.
void LzxEncoder::parse(const Found& g, uint32_t from, uint32_t to, const Costs& costs, uint32_t* r,
                       uint32_t* itemCount)
{
    const uint32_t size = to - from;
    Node* nd = m_nodes;
    Reps* reps = m_reps;
    nd[0] = {0, 0};
    reps[0] = {{r[0], r[1], r[2]}};
    for (uint32_t j = 1; j <= size; ++j)
        nd[j].cost = UINT32_MAX;
    const uint8_t* frame = m_finder.data(m_offset + from);
    const uint32_t frameOffset = m_offset + from;
    // A match never reaches the bytes it is copied over in the decoder's
    // window: 7-Zip's decoder copies wrongly when distance + length passes
    // the window size (libmspack copies right).
    const uint32_t window = 1u << m_windowBits;

    // Edges record only cost and step; a node's repeated offsets follow from
    // its best step once every edge into it is known, when the walk reaches
    // it.
    auto relax = [nd](uint32_t at, uint32_t cost, uint32_t step) {
        Node& n = nd[at];
        if (cost < n.cost)
            n = {cost, step};
    };
    auto settle = [nd, reps](uint32_t at) {
        const uint32_t len = nd[at].step & kStepLenMask, fo = nd[at].step >> kStepLenBits;
        const uint32_t* pr = reps[at - len].r;
        uint32_t* r = reps[at].r;
        if (len == 1 || fo == 0) {
            r[0] = pr[0];
            r[1] = pr[1];
            r[2] = pr[2];
        } else if (fo < 3) {
            r[0] = pr[fo];
            r[1] = fo == 1 ? pr[0] : pr[1];
            r[2] = fo == 2 ? pr[0] : pr[2];
        } else {
            r[0] = fo - 2;
            r[1] = pr[0];
            r[2] = pr[1];
        }
    };
    // Edges of lengths first..last with one position slot (0-2: a repeated
    // offset) from a node of cost `base`.
    auto relaxLengths = [&](uint32_t at, uint32_t slot, uint32_t first, uint32_t last, uint32_t base,
                            uint32_t fo) {
        const uint32_t* mainCost = costs.main + kNumChars + slot * 8 - kMinMatch;
        const uint32_t stepFo = fo << kStepLenBits;
        uint32_t l = first;
        for (const uint32_t end = std::min(last, kMinMatch + kPrimaryLengths - 1); l <= end; ++l)
            relax(at + l, base + mainCost[l], stepFo | l);
        if (l <= last) {
            const uint32_t longBase = base + mainCost[kMinMatch + kPrimaryLengths];
            for (; l <= last; ++l)
                relax(at + l, longBase + costs.length[l - kMinMatch - kPrimaryLengths], stepFo | l);
        }
    };

    for (uint32_t i = 0; i < size;) {
        if (i)
            settle(i);
        const uint32_t c = nd[i].cost;
        const uint32_t r0 = reps[i].r[0], r1 = reps[i].r[1], r2 = reps[i].r[2];
        const uint8_t* p = frame + i;
        const uint32_t limit = std::min(kMaxMatch, size - i);
        relax(i + 1, c + costs.main[p[0]], 1);
        uint32_t longest = 0;

        for (uint32_t k = 0; k < 3; ++k) {
            const uint32_t d = k == 0 ? r0 : k == 1 ? r1 : r2;
            if ((k >= 1 && d == r0) || (k == 2 && d == r1) || d > frameOffset + i)
                continue;
            const uint32_t len = sameBytes(p - d, p, std::min(limit, window - d));
            if (len < kMinMatch)
                continue;
            relaxLengths(i, k, len >= kNiceLength ? len : kMinMatch, len, c, k);
            longest = std::max(longest, len);
        }

        uint32_t shorter = kMinMatch; // lengths up to this are covered already
        for (uint32_t m = g.matchIndex[from + i]; m < g.matchIndex[from + i + 1]; ++m) {
            const Match match = g.matches[m];
            const uint32_t d = match.distance;
            const uint32_t length = std::min(match.length, window - d);
            const uint32_t first = length >= kNiceLength ? length : shorter + 1;
            shorter = std::max(shorter, length);
            longest = std::max(longest, length);
            if (d == r0 || d == r1 || d == r2)
                continue;
            const uint32_t fo = d + 2;
            const uint32_t slot = slotOf(fo);
            const uint32_t extra = kSlots.extra[slot];
            const uint32_t offsetBits =
                costs.useAligned && extra >= 3 ? extra - 3 + costs.aligned[fo & 7] : extra;
            relaxLengths(i, slot, first, length, c + offsetBits, fo);
        }
        i += longest >= kNiceLength ? longest : 1;
    }
    settle(size);

    // Walk back from the end, then turn the items around.
    Item* items = m_items + from;
    uint32_t n = 0;
    for (uint32_t j = size; j > 0; j -= nd[j].step & kStepLenMask)
        items[n++] = {nd[j].step & kStepLenMask, nd[j].step >> kStepLenBits};
    std::reverse(items, items + n);
    *itemCount = n;
    r[0] = reps[size].r[0];
    r[1] = reps[size].r[1];
    r[2] = reps[size].r[2];
}

bool LzxEncoder::findMovesBytes(uint32_t size) const
{
    return m_finder.appendMoves(size);
}

void LzxEncoder::findMatches(const uint8_t* in, uint32_t size)
{
    Found& g = m_found[m_foundCalls % kFoundCalls];
    const uint32_t frames = (size + kFrameSize - 1) / kFrameSize;
    std::memcpy(m_frame, in, size);
    for (uint32_t f = 0; f < frames; ++f) {
        const uint32_t start = f * kFrameSize, bytes = std::min(kFrameSize, size - start);
        if (m_findFrames + f < lzx::kE8Frames && bytes > 10)
            translateE8(m_frame + start, bytes, m_findOffset + start);
    }
    m_finder.append(m_frame, size);
    collectMatches(size, g);
    g.size = size;
    m_findOffset += size;
    m_findFrames += frames;
    ++m_foundCalls;
}

uint32_t LzxEncoder::encode(const uint8_t* in, uint32_t size, uint8_t* const* out, uint32_t* frameBytes)
{
    findMatches(in, size);
    return encodeFound(out, frameBytes);
}

uint32_t LzxEncoder::encodeFound(uint8_t* const* out, uint32_t* frameBytes)
{
    const Found& g = m_found[m_encodedCalls % kFoundCalls];
    const uint32_t size = g.size;
    const uint32_t frames = (size + kFrameSize - 1) / kFrameSize;
    auto frameStart = [](uint32_t f) { return f * kFrameSize; };
    auto frameSize = [size](uint32_t f) { return std::min(kFrameSize, size - f * kFrameSize); };
    const uint8_t* data = m_finder.data(m_offset);

    // The cost model: the last call's code, else estimates from these bytes;
    // then each pass's code for the next one.
    Costs costs;
    if (m_haveModel) {
        costsFromLengths(m_modelMain, m_mainSymbols, costs.main);
        costsFromLengths(m_modelLength, kLengthSymbols, costs.length);
        costsFromLengths(m_modelAligned, kAlignedSymbols, costs.aligned);
        costs.useAligned = m_modelAlignedUsed;
    } else {
        uint32_t histogram[kNumChars] = {};
        for (uint32_t i = 0; i < size; ++i)
            ++histogram[data[i]];
        for (uint32_t b = 0; b < kNumChars; ++b)
            costs.main[b] =
                histogram[b]
                    ? std::clamp(uint32_t(std::lround(std::log2(double(size) / histogram[b]))) + 1, 2u, 15u)
                    : 15;
        for (uint32_t s = kNumChars; s < m_mainSymbols; ++s)
            costs.main[s] = 8 + ((s - kNumChars) & 7) / 2;
        std::fill(costs.length, costs.length + kLengthSymbols, 7u);
        std::fill(costs.aligned, costs.aligned + kAlignedSymbols, 3u);
    }

    Stats& total = m_stats[lzx::kGroupFrames];
    uint8_t mainLen[kMaxMainSymbols], lengthLen[kLengthSymbols], alignedLen[kAlignedSymbols];
    int passes = m_haveModel ? 2 : 3;
    for (int pass = 0; pass < passes; ++pass) {
        uint32_t r[3] = {m_r[0], m_r[1], m_r[2]};
        total.clear(m_mainSymbols);
        for (uint32_t f = 0; f < frames; ++f) {
            Stats& st = m_stats[f];
            st.clear(m_mainSymbols);
            st.items = frameStart(f);
            parse(g, frameStart(f), frameStart(f) + frameSize(f), costs, r, &st.itemCount);
            std::copy(r, r + 3, st.endR);
            uint32_t pos = frameStart(f);
            for (uint32_t k = 0; k < st.itemCount; ++k) {
                const Item it = m_items[st.items + k];
                if (it.len == 1) {
                    ++st.main[data[pos]];
                } else {
                    const uint32_t slot = slotOf(it.fo);
                    const uint32_t header = std::min(it.len - kMinMatch, kPrimaryLengths);
                    ++st.main[kNumChars + slot * 8 + header];
                    if (header == kPrimaryLengths)
                        ++st.length[it.len - kMinMatch - kPrimaryLengths];
                    if (slot >= 3) {
                        const uint32_t extra = kSlots.extra[slot];
                        st.verbatimExtra += extra;
                        if (extra >= 3) {
                            st.alignedExtra += extra - 3;
                            ++st.aligned[it.fo & 7];
                        } else {
                            st.alignedExtra += extra;
                        }
                    }
                }
                pos += it.len;
            }
            total.add(st, m_mainSymbols);
        }
        huffman::buildLengths(total.main, m_mainSymbols, kMaxCode, mainLen);
        huffman::buildLengths(total.length, kLengthSymbols, kMaxCode, lengthLen);
        huffman::buildLengths(total.aligned, kAlignedSymbols, kMaxAlignedCode, alignedLen);
        const uint64_t alignedSymbolBits = huffman::codedBits(total.aligned, alignedLen, kAlignedSymbols);
        costs.useAligned = total.alignedExtra + alignedSymbolBits + 3 * kAlignedSymbols < total.verbatimExtra;
        // A second pass is left out when the code this parse gives would
        // price it at most kSecondPassGain below the model that made it: the
        // model then fits these frames already.
        if (m_haveModel && pass == 0) {
            const uint64_t modelBits = huffman::codedBits(total.main, costs.main, m_mainSymbols) +
                                       huffman::codedBits(total.length, costs.length, kLengthSymbols);
            const uint64_t newBits = huffman::codedBits(total.main, mainLen, m_mainSymbols) +
                                     huffman::codedBits(total.length, lengthLen, kLengthSymbols);
            if (double(modelBits) <= (1 + kSecondPassGain) * double(newBits))
                passes = 1;
        }
        if (pass + 1 < passes) {
            costsFromLengths(mainLen, m_mainSymbols, costs.main);
            costsFromLengths(lengthLen, kLengthSymbols, costs.length);
            costsFromLengths(alignedLen, kAlignedSymbols, costs.aligned);
        }
    }
    std::memcpy(m_modelMain, mainLen, m_mainSymbols);
    std::memcpy(m_modelLength, lengthLen, kLengthSymbols);
    std::memcpy(m_modelAligned, alignedLen, kAlignedSymbols);
    m_modelAlignedUsed = costs.useAligned;
    m_haveModel = true;

    // Frames that this code would not shrink are sent as they are; the others
    // form blocks of consecutive frames, each with a code of its own.
    bool raw[lzx::kGroupFrames];
    for (uint32_t f = 0; f < frames; ++f) {
        const Stats& st = m_stats[f];
        const uint64_t bits = st.verbatimExtra + huffman::codedBits(st.main, mainLen, m_mainSymbols) +
                              huffman::codedBits(st.length, lengthLen, kLengthSymbols);
        raw[f] = bits >= 8 * uint64_t(frameSize(f));
    }

    Section low, high, lens;
    for (uint32_t first = 0; first < frames;) {
        uint32_t last = first + 1;
        while (last < frames && raw[last] == raw[first])
            ++last;
        uint32_t blockSize = 0;
        for (uint32_t f = first; f < last; ++f)
            blockSize += frameSize(f);
        const bool folderStart = m_frames + first == 0;
        const unsigned headerBits = (folderStart ? 33 : 0) + 27;
        const uint64_t rawBits = headerBits + (headerBits % 16 ? 16 - headerBits % 16 : 16) + 96 +
                                 8 * uint64_t(blockSize + (blockSize & 1));

        bool stored = raw[first];
        bool aligned = false;
        uint16_t mainCode[kMaxMainSymbols], lengthCode[kLengthSymbols], alignedCode[kAlignedSymbols];
        if (!stored) {
            Stats& sum = total;
            sum.clear(m_mainSymbols);
            for (uint32_t f = first; f < last; ++f)
                sum.add(m_stats[f], m_mainSymbols);
            huffman::buildLengths(sum.main, m_mainSymbols, kMaxCode, mainLen);
            huffman::buildLengths(sum.length, kLengthSymbols, kMaxCode, lengthLen);
            huffman::buildLengths(sum.aligned, kAlignedSymbols, kMaxAlignedCode, alignedLen);
            buildSection(m_prevMain, mainLen, kNumChars, low);
            buildSection(m_prevMain + kNumChars, mainLen + kNumChars, m_mainSymbols - kNumChars, high);
            buildSection(m_prevLength, lengthLen, kLengthSymbols, lens);
            const uint64_t symbolBits = huffman::codedBits(sum.main, mainLen, m_mainSymbols) +
                                        huffman::codedBits(sum.length, lengthLen, kLengthSymbols);
            const uint64_t alignedSymbolBits = huffman::codedBits(sum.aligned, alignedLen, kAlignedSymbols);
            const uint64_t treeBits = uint64_t(low.bits) + high.bits + lens.bits;
            const uint64_t verbatimBits = headerBits + treeBits + symbolBits + sum.verbatimExtra;
            const uint64_t alignedBits =
                verbatimBits + 24 + sum.alignedExtra + alignedSymbolBits - sum.verbatimExtra;
            aligned = alignedBits < verbatimBits;
            stored = std::min(verbatimBits, alignedBits) + 16 * (last - first) >= rawBits;
            huffman::canonicalCodes(mainLen, m_mainSymbols, mainCode);
            huffman::canonicalCodes(lengthLen, kLengthSymbols, lengthCode);
            huffman::canonicalCodes(alignedLen, kAlignedSymbols, alignedCode);
        }

        bool fits = !stored;
        if (!stored) {
            for (uint32_t f = first; f < last && fits; ++f) {
                const Stats& st = m_stats[f];
                BitWriter bw(out[f], lzx::kMaxFrameOutput);
                if (f == first) {
                    if (folderStart) {
                        bw.put(1, 1);
                        bw.put(uint32_t(kE8TranslationSize) >> 16, 16);
                        bw.put(uint32_t(kE8TranslationSize) & 0xFFFF, 16);
                    }
                    bw.put(aligned ? kBlockAligned : kBlockVerbatim, 3);
                    bw.put(blockSize, 24);
                    if (aligned)
                        for (uint32_t a = 0; a < kAlignedSymbols; ++a)
                            bw.put(alignedLen[a], 3);
                    writeSection(bw, low);
                    writeSection(bw, high);
                    writeSection(bw, lens);
                }
                uint32_t pos = frameStart(f);
                for (uint32_t k = 0; k < st.itemCount; ++k) {
                    const Item it = m_items[st.items + k];
                    if (it.len == 1) {
                        bw.put(mainCode[data[pos]], mainLen[data[pos]]);
                    } else {
                        const uint32_t slot = slotOf(it.fo);
                        const uint32_t header = std::min(it.len - kMinMatch, kPrimaryLengths);
                        const uint32_t sym = kNumChars + slot * 8 + header;
                        bw.put(mainCode[sym], mainLen[sym]);
                        if (header == kPrimaryLengths) {
                            const uint32_t ls = it.len - kMinMatch - kPrimaryLengths;
                            bw.put(lengthCode[ls], lengthLen[ls]);
                        }
                        if (slot >= 3) {
                            const uint32_t extra = kSlots.extra[slot];
                            const uint32_t value = it.fo - kSlots.base[slot];
                            if (aligned && extra >= 3) {
                                if (extra > 3)
                                    bw.put(value >> 3, extra - 3);
                                bw.put(alignedCode[value & 7], alignedLen[value & 7]);
                            } else if (extra) {
                                bw.put(value, extra);
                            }
                        }
                    }
                    pos += it.len;
                }
                bw.align();
                fits = !bw.overflow();
                frameBytes[f] = bw.size();
            }
            if (fits) {
                std::memcpy(m_prevMain, mainLen, m_mainSymbols);
                std::memcpy(m_prevLength, lengthLen, kLengthSymbols);
                m_havePrev = true;
            }
        }
        if (!fits) {
            // One uncompressed block; it leaves the repeated offsets the
            // parse had after its last frame, for the frames after it.
            for (uint32_t f = first; f < last; ++f) {
                BitWriter bw(out[f], lzx::kMaxFrameOutput);
                uint32_t extra = 0;
                if (f == first) {
                    if (folderStart) {
                        bw.put(1, 1);
                        bw.put(uint32_t(kE8TranslationSize) >> 16, 16);
                        bw.put(uint32_t(kE8TranslationSize) & 0xFFFF, 16);
                    }
                    bw.put(kBlockUncompressed, 3);
                    bw.put(blockSize, 24);
                    bw.put(0, bw.pending() ? 16 - bw.pending() : 16);
                    extra = 12;
                }
                const bool pad = f + 1 == last && (blockSize & 1);
                uint8_t* p = bw.rawSpace(extra + frameSize(f) + (pad ? 1 : 0));
                if (extra) {
                    const uint32_t* r = m_stats[last - 1].endR;
                    putLe32(p, r[0]);
                    putLe32(p + 4, r[1]);
                    putLe32(p + 8, r[2]);
                }
                std::memcpy(p + extra, data + frameStart(f), frameSize(f));
                if (pad)
                    p[extra + frameSize(f)] = 0;
                frameBytes[f] = bw.size();
            }
        }
        first = last;
    }
    std::copy(m_stats[frames - 1].endR, m_stats[frames - 1].endR + 3, m_r);
    m_offset += size;
    m_frames += frames;
    ++m_encodedCalls;
    return frames;
}

} // namespace ravelin::fci
