#include "cabinet/fci/huffman.h"

#include <algorithm>

namespace ravelin::fci::huffman {

// Package-merge (Larmore and Hirschberg) over the used symbols sorted by
// frequency. Level maxLength holds the leaves alone; every shallower level
// merges the leaves with the pairs ("packages") of the level below. Taking
// the 2m - 2 cheapest items of level 1 and following the packages down, a
// symbol's code length is the number of levels at which its leaf is taken.
// Leaves are sorted, so at each level the leaves taken are a prefix of the
// sorted symbols and the packages taken are a prefix of the packages; only
// whether each item of a level is a leaf has to be remembered.
bool buildLengths(const uint32_t* freq, unsigned count, unsigned maxLength, uint8_t* lengths)
{
    if (count > kMaxSymbols || maxLength < 1 || maxLength > kMaxCodeLength)
        return false;
    uint16_t order[kMaxSymbols];
    unsigned used = 0;
    for (unsigned s = 0; s < count; ++s)
        if (freq[s])
            order[used++] = uint16_t(s);
    if (used > (1u << maxLength))
        return false;
    std::fill(lengths, lengths + count, uint8_t(0));
    if (used == 0)
        return true;
    if (used == 1) {
        lengths[order[0]] = 1;
        if (count > 1)
            lengths[order[0] == 0 ? 1 : 0] = 1;
        return true;
    }
    std::stable_sort(order, order + used, [freq](uint16_t a, uint16_t b) { return freq[a] < freq[b]; });

    // isLeaf[level][i]: whether item i of that level's merged list is a leaf.
    bool isLeaf[kMaxCodeLength + 1][2 * kMaxSymbols];
    uint64_t weightsA[2 * kMaxSymbols], weightsB[2 * kMaxSymbols];
    uint64_t* below = weightsA;
    uint64_t* merged = weightsB;
    for (unsigned i = 0; i < used; ++i)
        below[i] = freq[order[i]];
    unsigned belowCount = used;
    for (unsigned level = maxLength; level-- > 1;) {
        const unsigned packages = belowCount / 2;
        unsigned leaf = 0, pkg = 0, n = 0;
        while (leaf < used || pkg < packages) {
            const uint64_t pw = pkg < packages ? below[2 * pkg] + below[2 * pkg + 1] : 0;
            if (pkg >= packages || (leaf < used && freq[order[leaf]] <= pw)) {
                merged[n] = freq[order[leaf++]];
                isLeaf[level][n++] = true;
            } else {
                merged[n] = pw;
                isLeaf[level][n++] = false;
                ++pkg;
            }
        }
        std::swap(below, merged);
        belowCount = n;
    }

    unsigned take = 2 * used - 2;
    for (unsigned level = 1; level <= maxLength && take; ++level) {
        unsigned leaves = 0;
        if (level == maxLength) {
            leaves = take;
        } else {
            for (unsigned i = 0; i < take; ++i)
                leaves += isLeaf[level][i] ? 1 : 0;
        }
        for (unsigned i = 0; i < leaves; ++i)
            ++lengths[order[i]];
        take = 2 * (take - leaves);
    }
    return true;
}

void canonicalCodes(const uint8_t* lengths, unsigned count, uint16_t* codes)
{
    unsigned perLength[kMaxCodeLength + 1] = {};
    for (unsigned s = 0; s < count; ++s)
        ++perLength[lengths[s]];
    perLength[0] = 0;
    uint32_t next[kMaxCodeLength + 2] = {};
    uint32_t code = 0;
    for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
        code = (code + perLength[len - 1]) << 1;
        next[len] = code;
    }
    for (unsigned s = 0; s < count; ++s)
        codes[s] = lengths[s] ? uint16_t(next[lengths[s]]++) : 0;
}

} // namespace ravelin::fci::huffman
