#include "cli/cli_passphrase.h"

#include <QStringDecoder>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string.h> // explicit_bzero
#include <termios.h>
#include <unistd.h>

#include "crypto/codepage.h"
#include "platform/io.h"

namespace ravelin::cli {

namespace {

void wipe(std::string* s)
{
    if (!s->empty())
        explicit_bzero(s->data(), s->size());
    s->clear();
}

void withoutLineEnd(std::string* line)
{
    if (!line->empty() && line->back() == '\n')
        line->pop_back();
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
}

// `bytes` as UTF-8 text; false when they are not UTF-8 (a leading byte-order
// mark is dropped).
bool decodeUtf8(const std::string& bytes, QString* text)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    *text = decoder(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    if (!decoder.hasError())
        return true;
    text->fill(QChar(u'\0'));
    text->clear();
    return false;
}

// Reads one line from the terminal with echo off; the terminal's settings
// are restored on every path.
bool askTerminal(int tty, const char* prompt, std::string* line)
{
    termios saved{};
    const bool isTerminal = ::tcgetattr(tty, &saved) == 0;
    if (isTerminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(tty, TCSANOW, &quiet);
    }
    (void)io::writeAll(tty, prompt, std::strlen(prompt));
    line->clear();
    bool ended = false;
    // One byte at a time: what follows the line end stays for its reader.
    for (;;) {
        char c;
        if (io::readAll(tty, &c, 1) != 1)
            break;
        if (c == '\n') {
            ended = true;
            break;
        }
        line->push_back(c);
    }
    if (isTerminal)
        ::tcsetattr(tty, TCSAFLUSH, &saved);
    withoutLineEnd(line);
    return ended || !line->empty();
}

PassPhrase fromPassFile(const std::string& passFile)
{
    PassPhrase result;
    const std::string what = "the pass-phrase file " + passFile;
    int error = 0;
    // A regular file only: a device such as /dev/zero never ends, and opening
    // a pipe could wait for a writer.
    io::Fd fd = io::openForReading(passFile, &error);
    if (!fd) {
        result.error = "cannot read " + what + ": " + io::reasonText(error);
        return result;
    }
    std::string bytes(kMaxPassFileRead, '\0');
    const ssize_t n = io::readAll(fd.get(), bytes.data(), bytes.size());
    if (n < 0) {
        result.error = "cannot read " + what + ": " + io::reasonText(errno);
        wipe(&bytes);
        return result;
    }
    bytes.resize(std::size_t(n));
    const std::size_t end = bytes.find('\n');
    if (end == std::string::npos && bytes.size() == kMaxPassFileRead) {
        result.error = "the first line of " + what + " is longer than " + std::to_string(kMaxPassFileRead) +
                       " bytes; a pass phrase has at most " + std::to_string(kMaxPassPhrase) + " characters";
        wipe(&bytes);
        return result;
    }
    std::string line = bytes.substr(0, end == std::string::npos ? bytes.size() : end + 1);
    wipe(&bytes);
    withoutLineEnd(&line);
    if (!decodeUtf8(line, &result.text))
        result.error = "the first line of " + what + " is not UTF-8 text";
    else
        result.ok = true;
    wipe(&line);
    return result;
}

} // namespace

PassPhrase readPassPhrase(const std::string& passFile, bool confirm)
{
    if (!passFile.empty())
        return fromPassFile(passFile);
    PassPhrase result;
    if (qEnvironmentVariableIsSet("RAVELIN_PASSPHRASE")) {
        const QByteArray value = qgetenv("RAVELIN_PASSPHRASE");
        std::string bytes = value.toStdString();
        if (decodeUtf8(bytes, &result.text))
            result.ok = true;
        else
            result.error = "RAVELIN_PASSPHRASE is not UTF-8 text";
        wipe(&bytes);
        return result;
    }
    io::Fd tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!tty) {
        result.error = "no pass phrase: give --pass-file FILE or set RAVELIN_PASSPHRASE (no terminal to ask)";
        return result;
    }
    std::string first, second;
    const bool gotFirst = askTerminal(tty.get(), "Pass phrase: ", &first);
    const bool gotSecond = gotFirst && (!confirm || askTerminal(tty.get(), "Pass phrase again: ", &second));
    tty.close();
    if (!gotFirst || !gotSecond)
        result.error = "no pass phrase was typed";
    else if (confirm && first != second)
        result.error = "the two pass phrases differ";
    else if (!decodeUtf8(first, &result.text))
        result.error = "the pass phrase typed is not UTF-8 text";
    else
        result.ok = true;
    wipe(&first);
    wipe(&second);
    return result;
}

std::string passPhraseProblem(const QString& phrase)
{
    if (const char32_t c = crypto::firstUnmappedCharacter(phrase)) {
        const std::string shown =
            (c < 0x20 || (c >= 0x7f && c < 0xa0)) ? std::string() : QString::fromUcs4(&c, 1).toStdString();
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", unsigned(c));
        return "the pass phrase holds the character " +
               (shown.empty() ? std::string() : "\"" + shown + "\" ") + "(" + code +
               "), which has no Windows-1252 byte; the key is the phrase in Windows-1252, so only its "
               "characters "
               "can be used";
    }
    const auto length = phrase.size();
    if (length < kMinPassPhrase)
        return "the pass phrase has " + std::to_string(length) + " characters; it needs at least " +
               std::to_string(kMinPassPhrase);
    if (length > kMaxPassPhrase)
        return "the pass phrase has " + std::to_string(length) + " characters; it may have at most " +
               std::to_string(kMaxPassPhrase);
    return std::string();
}

PassPhrase acceptablePassPhrase(const std::string& passFile, bool confirm)
{
    PassPhrase p = readPassPhrase(passFile, confirm);
    if (!p.ok)
        return p;
    const std::string problem = passPhraseProblem(p.text);
    if (!problem.empty()) {
        p.ok = false;
        p.text.fill(QChar(u'\0'));
        p.text.clear();
        p.error = problem;
    }
    return p;
}

} // namespace ravelin::cli
