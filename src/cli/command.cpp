#include "cli/command.h"

#include <cstdio>

namespace ravelin::cli {

static std::vector<Command>& table()
{
    static std::vector<Command> t;
    return t;
}

const std::vector<Command>& commands() { return table(); }

Registration::Registration(Command command) { table().push_back(std::move(command)); }

void error(const QString& text)
{
    std::fprintf(stderr, "ravelin-cab: %s\n", text.toLocal8Bit().constData());
}

void error(const std::string& text)
{
    std::fprintf(stderr, "ravelin-cab: %s\n", escaped(text).c_str());
}

namespace {

// Length of the valid UTF-8 sequence at `i` (overlong forms, surrogates and
// values above U+10FFFF are invalid), or 0.
std::size_t utf8Length(const std::string& s, std::size_t i)
{
    const auto at = [&s](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b = at(i);
    std::size_t n;
    unsigned cp;
    if (b < 0x80)
        return 1;
    if (b >= 0xc2 && b <= 0xdf) {
        n = 2;
        cp = b & 0x1f;
    } else if (b >= 0xe0 && b <= 0xef) {
        n = 3;
        cp = b & 0x0f;
    } else if (b >= 0xf0 && b <= 0xf4) {
        n = 4;
        cp = b & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((at(i + k) & 0xc0) != 0x80)
            return 0;
        cp = (cp << 6) | (at(i + k) & 0x3f);
    }
    if ((n == 3 && (cp < 0x800 || (cp >= 0xd800 && cp <= 0xdfff))) || (n == 4 && (cp < 0x10000 || cp > 0x10ffff)))
        return 0;
    return n;
}

}  // namespace

std::string escaped(const std::string& bytes)
{
    std::string out;
    out.reserve(bytes.size());
    const auto hex = [&out](unsigned char b) {
        static const char digits[] = "0123456789abcdef";
        out += "\\x";
        out += digits[b >> 4];
        out += digits[b & 15];
    };
    for (std::size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        const std::size_t n = utf8Length(bytes, i);
        if (n == 0) {
            // Not UTF-8: kept as it is, unless a terminal could take it as a C1 control.
            if (b >= 0x80 && b <= 0x9f)
                hex(b);
            else
                out += char(b);
            ++i;
        } else if (n == 1 && (b < 0x20 || b == 0x7f)) {
            hex(b);
            ++i;
        } else if (n == 2 && b == 0xc2 && static_cast<unsigned char>(bytes[i + 1]) <= 0x9f) {
            hex(b);
            hex(static_cast<unsigned char>(bytes[i + 1]));
            i += 2;
        } else {
            out.append(bytes, i, n);
            i += n;
        }
    }
    return out;
}

QStringList toText(const Args& args)
{
    QStringList list;
    for (const std::string& a : args)
        list << QString::fromStdString(a);
    return list;
}

int usage(const char* command)
{
    for (const Command& c : table())
        if (qstrcmp(c.name, command) == 0)
            std::fprintf(stderr, "usage: ravelin-cab %s\n", c.synopsis);
    return kExitUsage;
}

}  // namespace ravelin::cli
