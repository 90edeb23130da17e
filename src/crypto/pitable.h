#pragma once
// The standard Blowfish initial values: the fractional part of pi in
// hexadecimal, 1,042 consecutive 32-bit words; the 18 P-array words come
// first, then S-boxes 1 to 4 of 256 words each.
#include <QtGlobal>

namespace ravelin::crypto {

inline constexpr int kPArrayWords = 18;
inline constexpr int kSBoxWords = 4 * 256;
inline constexpr int kPiWordCount = kPArrayWords + kSBoxWords; // 1,042

extern const quint32 kPiWords[kPiWordCount];

} // namespace ravelin::crypto
