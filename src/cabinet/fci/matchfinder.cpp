#include "cabinet/fci/matchfinder.h"

#include <algorithm>
#include <cstring>

namespace ravelin::fci {

namespace {

// Tree heads hash four bytes: 2^20 of them (4 MiB) leave about two
// positions of a 2 MiB window per tree on incompressible data, where a
// smaller table made every insertion walk (and miss the cache) five times
// as far. The three-byte table only needs the newest position.
constexpr unsigned kHashBits = 20;
constexpr unsigned kNearBits = 16;

inline uint32_t le32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

uint32_t bufferSizeFor(unsigned windowBits)
{
    const uint32_t window = 1u << windowBits;
    return window + std::max<uint32_t>(window, 1u << 18);
}

} // namespace

MatchFinder::~MatchFinder()
{
    if (m_free) {
        if (m_head)
            m_free(m_head);
        if (m_near)
            m_free(m_near);
        if (m_links)
            m_free(m_links);
        if (m_buf)
            m_free(m_buf);
    }
}

uint64_t MatchFinder::memoryNeeded(const Params& p)
{
    const uint64_t window = uint64_t(1) << p.windowBits;
    return 2 * window * sizeof(uint32_t) + bufferSizeFor(p.windowBits) + kReadSlack +
           ((uint64_t(1) << kHashBits) + (uint64_t(1) << kNearBits)) * sizeof(uint32_t);
}

bool MatchFinder::init(const Params& p, PFNFCIALLOC alloc, PFNFCIFREE release)
{
    if (m_buf || p.windowBits < 8 || p.windowBits > 24 || p.maxDistance >= (1u << p.windowBits) ||
        p.maxDistance == 0 || p.niceLength < kMinMatch || p.niceLength > 258 || p.maxLength < p.niceLength ||
        p.depth == 0)
        return false;
    m_params = p;
    m_alloc = alloc;
    m_free = release;
    const uint32_t window = 1u << p.windowBits;
    m_mask = window - 1;
    m_bias = window;
    m_hashBits = kHashBits;
    m_bufSize = bufferSizeFor(p.windowBits);
    m_head = static_cast<uint32_t*>(alloc(uint32_t(sizeof(uint32_t) << m_hashBits)));
    m_near = static_cast<uint32_t*>(alloc(uint32_t(sizeof(uint32_t) << kNearBits)));
    m_links = static_cast<uint32_t*>(alloc(2 * window * uint32_t(sizeof(uint32_t))));
    m_buf = static_cast<uint8_t*>(alloc(m_bufSize + kReadSlack));
    if (!m_head || !m_near || !m_links || !m_buf)
        return false;
    reset();
    return true;
}

void MatchFinder::reset()
{
    // Links need no clearing: a node's links are written when it is inserted,
    // and nodes are only reached from the heads.
    std::memset(m_head, 0, sizeof(uint32_t) << m_hashBits);
    std::memset(m_near, 0, sizeof(uint32_t) << kNearBits);
    std::memset(m_buf + m_bufSize, 0, kReadSlack);
    m_bufStart = m_bias;
    m_pos = m_end = m_inserted = m_bias;
}

uint32_t MatchFinder::appendRoom() const
{
    const uint32_t oldest = std::min(m_pos, m_inserted);
    return m_bufSize - (m_mask + 1) - (m_end - oldest);
}

void MatchFinder::append(const uint8_t* bytes, uint32_t count)
{
    if (appendMoves(count)) {
        // Keep the window before the oldest position still to be searched or
        // inserted; everything older can no longer be matched.
        const uint32_t oldest = std::min(m_pos, m_inserted);
        const uint32_t keep = std::max(m_bufStart, oldest - std::min(oldest - m_bias, m_mask + 1));
        std::memmove(m_buf, m_buf + (keep - m_bufStart), m_end - keep);
        m_bufStart = keep;
    }
    std::memcpy(m_buf + (m_end - m_bufStart), bytes, count);
    m_end += count;
}

uint32_t MatchFinder::nearHash(const uint8_t* p) const
{
    const uint32_t v = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
    return (v * 2654435761u) >> (32 - kNearBits);
}

uint32_t MatchFinder::hash(const uint8_t* p) const
{
    return (le32(p) * 2654435761u) >> (32 - m_hashBits);
}

// What the next positions' walks start with is most likely not in the
// cache: ask for it while this position's tree is walked. The heads two
// positions on; the root one position on (its head was asked for by the
// previous call), its links and its bytes; the three-byte head.
void MatchFinder::prefetchAhead(uint32_t pos) const
{
    const uint32_t avail = m_end - pos;
    const uint8_t* p = m_buf + (pos - m_bufStart);
    if (avail < 5)
        return;
    if (avail >= 6)
        __builtin_prefetch(&m_head[hash(p + 2)]);
    const uint32_t root = m_head[hash(p + 1)];
    if (root >= m_bufStart && pos + 1 - root <= m_params.maxDistance) {
        __builtin_prefetch(left(root));
        __builtin_prefetch(m_buf + (root - m_bufStart));
    }
    __builtin_prefetch(&m_near[nearHash(p + 1)]);
}

void MatchFinder::catchUp()
{
    while (m_inserted < m_pos && m_end - m_inserted >= m_params.niceLength) {
        insert(m_inserted, nullptr);
        ++m_inserted;
    }
}

// Walks the tree of `pos`'s hash from the root, recording every node that
// matches longer than all before it, and rebuilds the tree with `pos` as its
// new root: nodes smaller than pos's string go to its left subtree, larger
// ones to its right. A node equal on all niceLength bytes is replaced by pos.
uint32_t MatchFinder::insert(uint32_t pos, Match* out)
{
    const uint32_t treeLimit = m_params.niceLength;
    const uint8_t* p = m_buf + (pos - m_bufStart);
    const uint32_t h = hash(p);
    uint32_t cur = m_head[h];
    m_head[h] = pos;
    uint32_t* smaller = left(pos);
    uint32_t* larger = right(pos);
    uint32_t lenSmaller = 0, lenLarger = 0, best = kMinMatch - 1, n = 0;
    for (uint32_t depth = m_params.depth;; --depth) {
        if (pos - cur > m_params.maxDistance || depth == 0) {
            *smaller = *larger = 0;
            break;
        }
        // The node's links are needed next: fetch them while its bytes are
        // compared, so that the two cache misses overlap.
        __builtin_prefetch(left(cur));
        const uint8_t* c = m_buf + (cur - m_bufStart);
        const uint32_t len = MatchFinder::commonLength(c, p, std::min(lenSmaller, lenLarger), treeLimit);
        if (len > best) {
            best = len;
            if (out)
                out[n++] = {len, pos - cur};
        }
        if (len >= treeLimit) {
            *smaller = *left(cur);
            *larger = *right(cur);
            break;
        }
        if (c[len] < p[len]) {
            *smaller = cur;
            smaller = right(cur);
            cur = *smaller;
            lenSmaller = len;
        } else {
            *larger = cur;
            larger = left(cur);
            cur = *larger;
            lenLarger = len;
        }
    }
    return n;
}

// The same walk without changing the tree, for a position whose key is not
// complete yet.
uint32_t MatchFinder::search(uint32_t pos, uint32_t treeLimit, Match* out) const
{
    if (treeLimit < kMinMatch)
        return 0;
    const uint8_t* p = m_buf + (pos - m_bufStart);
    uint32_t cur = m_head[hash(p)];
    uint32_t lenSmaller = 0, lenLarger = 0, best = kMinMatch - 1, n = 0;
    for (uint32_t depth = m_params.depth; depth; --depth) {
        if (pos - cur > m_params.maxDistance)
            break;
        __builtin_prefetch(left(cur));
        const uint8_t* c = m_buf + (cur - m_bufStart);
        const uint32_t len = MatchFinder::commonLength(c, p, std::min(lenSmaller, lenLarger), treeLimit);
        if (len > best) {
            best = len;
            out[n++] = {len, pos - cur};
        }
        if (len >= treeLimit)
            break;
        if (c[len] < p[len]) {
            cur = *right(cur);
            lenSmaller = len;
        } else {
            cur = *left(cur);
            lenLarger = len;
        }
    }
    return n;
}

uint32_t MatchFinder::find(uint32_t limit, Match* out)
{
    catchUp();
    const uint32_t pos = m_pos++;
    const uint32_t avail = m_end - pos;
    const uint8_t* p = m_buf + (pos - m_bufStart);
    prefetchAhead(pos);
    // The newest position sharing three bytes: the tree only holds those
    // sharing four.
    uint32_t near = 0;
    if (avail >= 3) {
        const uint32_t h = nearHash(p);
        near = m_near[h];
        m_near[h] = pos;
    }
    Match* tree = out + 1;
    uint32_t n;
    if (m_inserted == pos && avail >= m_params.niceLength) {
        n = insert(pos, tree);
        m_inserted = pos + 1;
    } else {
        n = search(pos, std::min(avail, m_params.niceLength), tree);
    }
    limit = std::min({limit, avail, m_params.maxLength});
    if (limit < kMinMatch)
        return 0;
    if (pos - near <= m_params.maxDistance &&
        (!n || tree[0].length > kMinMatch || tree[0].distance > pos - near)) {
        const uint32_t len =
            commonLength(m_buf + (near - m_bufStart), p, 0, std::min(limit, m_params.niceLength));
        if (len >= kMinMatch) {
            // It replaces the tree's matches it is as long as.
            uint32_t drop = 0;
            while (drop < n && tree[drop].length <= len)
                ++drop;
            std::memmove(out + 1, tree + drop, (n - drop) * sizeof(Match));
            out[0] = {len, pos - near};
            n = n - drop + 1;
        } else {
            std::memmove(out, tree, n * sizeof(Match));
        }
    } else {
        std::memmove(out, tree, n * sizeof(Match));
    }
    // Cut to the limit; extend a match that ended the search.
    while (n && out[n - 1].length > limit) {
        if (n >= 2 && out[n - 2].length >= limit)
            --n;
        else {
            out[n - 1].length = limit;
            break;
        }
    }
    if (n && out[n - 1].length == m_params.niceLength && limit > m_params.niceLength) {
        const uint8_t* p = m_buf + (pos - m_bufStart);
        const uint8_t* c = p - out[n - 1].distance;
        out[n - 1].length = MatchFinder::commonLength(c, p, out[n - 1].length, limit);
    }
    return n;
}

void MatchFinder::skip()
{
    prefetchAhead(m_pos);
    if (m_end - m_pos >= 3)
        m_near[nearHash(m_buf + (m_pos - m_bufStart))] = m_pos;
    catchUp();
    const uint32_t pos = m_pos++;
    if (m_inserted == pos && m_end - pos >= m_params.niceLength) {
        insert(pos, nullptr);
        m_inserted = pos + 1;
    }
}

} // namespace ravelin::fci
