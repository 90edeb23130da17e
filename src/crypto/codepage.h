#pragma once
// Windows-1252, the code page in which a pass phrase becomes key bytes: one
// byte per character, so the encrypted files made by the program's Western
// users key the same here.
//
// Bytes 0x00-0x7F and 0xA0-0xFF are the characters of the same code; bytes
// 0x80-0x9F are the code page's own table ("€" is 0x80). The five bytes the
// code page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the C1
// characters of the same code, so every byte has exactly one character and
// every key of bytes can be written as text. Any other character (Cyrillic,
// Greek, CJK, a C1 character other than those five, anything beyond U+FFFF)
// has no byte: it is refused, never replaced.
//
// Threads: all functions are pure and reentrant.
#include <QByteArray>
#include <QString>
#include <QStringView>

namespace ravelin::crypto {

// The Windows-1252 bytes of `text`. False when a character has none; then
// `*unmapped` (when given) is that character's code point (the first such)
// and `*bytes` is left empty.
bool toWindows1252(QStringView text, QByteArray* bytes, char32_t* unmapped = nullptr);

// The characters of Windows-1252 `bytes`; every byte has one.
QString fromWindows1252(const QByteArray& bytes);

// The first character of `text` that has no Windows-1252 byte, or 0 when
// every character has one.
char32_t firstUnmappedCharacter(QStringView text);

// The windows' message for a pass phrase holding `character`, which has no
// Windows-1252 byte:
// "The Pass Phrase contains the character "Ж", which cannot be used in a Pass
//  Phrase.  Please use only characters of the Western (Windows-1252) character set."
QString unmappedPassPhraseMessage(char32_t character);

} // namespace ravelin::crypto
