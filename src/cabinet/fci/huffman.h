#pragma once
// Length-limited prefix codes for the cabinet library's encoders (LZX now,
// deflate next). Codec-neutral: the caller gives symbol frequencies and the
// longest code its format allows, and gets code lengths and canonical codes.
//
// Canonical codes are the ones deflate (RFC 1951, 3.2.2) and LZX share:
// shorter codes first, and among codes of one length the lower symbol gets
// the numerically lower code. A decoder rebuilds the whole code from the
// lengths alone, so only the lengths are ever sent.
//
// Pure functions on caller-owned arrays: no allocation, no state, safe on
// any thread. Results depend only on the arguments.
#include <cstdint>

namespace ravelin::fci::huffman {

// The most symbols one alphabet may have here (LZX's main tree has 656 at
// most, deflate's literal/length alphabet 288).
inline constexpr unsigned kMaxSymbols = 1024;
// The longest code any caller may ask for (deflate and LZX both stop at 16).
inline constexpr unsigned kMaxCodeLength = 16;

// Fills lengths[0..count) with optimal code lengths for freq[0..count), none
// longer than maxLength (package-merge, so the result is the cheapest code
// that respects the limit, not a heuristic repair). Symbols of frequency 0
// get length 0.
//
// The code is always complete (its Kraft sum is exactly 1) when it has a
// symbol at all: with a single used symbol, that symbol and the lowest other
// one both get length 1, since LZX decoders reject an incomplete code and
// deflate decoders accept this one. With no used symbol every length is 0.
//
// Requires count <= kMaxSymbols, 1 <= maxLength <= kMaxCodeLength and
// 2^maxLength >= the number of used symbols (false otherwise, and lengths
// are left as they were).
bool buildLengths(const uint32_t* freq, unsigned count, unsigned maxLength, uint8_t* lengths);

// Fills codes[0..count) with the canonical code of each symbol from its
// length (codes of length-0 symbols are 0). Codes are numbers whose most
// significant bit is sent first, as LZX sends them; a deflate writer, which
// sends codes starting with their first bit in the least significant place,
// reverses each one. Lengths must form a prefix code of at most
// kMaxCodeLength bits (as buildLengths makes).
void canonicalCodes(const uint8_t* lengths, unsigned count, uint16_t* codes);

// The bits that symbols counted in freq[0..count) take under `lengths`
// (code lengths, or any per-symbol costs in bits).
template <typename Length> uint64_t codedBits(const uint32_t* freq, const Length* lengths, unsigned count)
{
    uint64_t bits = 0;
    for (unsigned i = 0; i < count; ++i)
        bits += uint64_t(freq[i]) * lengths[i];
    return bits;
}

} // namespace ravelin::fci::huffman
