#include "crypto/codepage.h"

namespace ravelin::crypto {

namespace {

// The characters of bytes 0x80 to 0x9F. The code page leaves 0x81, 0x8D,
// 0x8F, 0x90 and 0x9D undefined; they keep the C1 character of their code.
constexpr char16_t kHighTable[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 0x98
};

// The byte of one UTF-16 unit, or -1 when it has none (a surrogate never has).
int byteOf(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return c;
    for (int i = 0; i < 32; ++i)
        if (kHighTable[i] == c)
            return 0x80 + i;
    return -1;
}

// The code point at `i`, a surrogate pair joined.
char32_t codePointAt(QStringView text, qsizetype i)
{
    const QChar c = text[i];
    if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
        return QChar::surrogateToUcs4(c, text[i + 1]);
    return c.unicode();
}

} // namespace

bool toWindows1252(QStringView text, QByteArray* bytes, char32_t* unmapped)
{
    QByteArray out(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int b = byteOf(text[i].unicode());
        if (b < 0) {
            out.fill('\0');
            bytes->clear();
            if (unmapped)
                *unmapped = codePointAt(text, i);
            return false;
        }
        out[i] = char(b);
    }
    *bytes = std::move(out);
    return true;
}

QString fromWindows1252(const QByteArray& bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        text[i] = QChar(b >= 0x80 && b < 0xA0 ? kHighTable[b - 0x80] : char16_t(b));
    }
    return text;
}

char32_t firstUnmappedCharacter(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i)
        if (byteOf(text[i].unicode()) < 0)
            return codePointAt(text, i);
    return 0;
}

QString unmappedPassPhraseMessage(char32_t character)
{
    return QStringLiteral("The Pass Phrase contains the character \"%1\", which cannot be used in a Pass "
                          "Phrase.  Please use only characters of the Western (Windows-1252) character set.")
        .arg(QString::fromUcs4(&character, 1));
}

} // namespace ravelin::crypto
