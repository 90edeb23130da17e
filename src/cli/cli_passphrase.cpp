#include "cli/cli_passphrase.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace ravelin::cli {

namespace {

QByteArray withoutLineEnd(QByteArray line)
{
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

// Reads one line from the terminal with echo off; the terminal's settings
// are restored on every path.
bool askTerminal(int tty, const char* prompt, QByteArray* line)
{
    termios saved{};
    const bool isTerminal = ::tcgetattr(tty, &saved) == 0;
    if (isTerminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(tty, TCSANOW, &quiet);
    }
    (void)!::write(tty, prompt, std::strlen(prompt));
    line->clear();
    bool ended = false;
    for (;;) {
        char c;
        const ssize_t n = ::read(tty, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (c == '\n') {
            ended = true;
            break;
        }
        line->append(c);
    }
    if (isTerminal)
        ::tcsetattr(tty, TCSAFLUSH, &saved);
    *line = withoutLineEnd(*line);
    return ended || !line->isEmpty();
}

} // namespace

PassPhrase readPassPhrase(const QString& passFile, bool confirm)
{
    PassPhrase result;
    if (!passFile.isEmpty()) {
        QFile file(passFile);
        if (!file.open(QIODevice::ReadOnly)) {
            result.error =
                QStringLiteral("cannot read the pass-phrase file %1: %2").arg(passFile, file.errorString());
            return result;
        }
        const QByteArray line = withoutLineEnd(file.readLine());
        result.ok = true;
        result.text = QString::fromLocal8Bit(line);
        return result;
    }
    if (qEnvironmentVariableIsSet("RAVELIN_PASSPHRASE")) {
        result.ok = true;
        result.text = qEnvironmentVariable("RAVELIN_PASSPHRASE");
        return result;
    }
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) {
        result.error = QStringLiteral(
            "no pass phrase: give --pass-file FILE or set RAVELIN_PASSPHRASE (no terminal to ask)");
        return result;
    }
    QByteArray first, second;
    const bool gotFirst = askTerminal(tty, "Pass phrase: ", &first);
    const bool gotSecond = gotFirst && (!confirm || askTerminal(tty, "Pass phrase again: ", &second));
    ::close(tty);
    if (!gotFirst || !gotSecond) {
        result.error = QStringLiteral("no pass phrase was typed");
    } else if (confirm && first != second) {
        result.error = QStringLiteral("the two pass phrases differ");
    } else {
        result.ok = true;
        result.text = QString::fromLocal8Bit(first);
    }
    first.fill('\0');
    second.fill('\0');
    return result;
}

QString passPhraseProblem(const QString& phrase)
{
    if (phrase.size() < kMinPassPhrase)
        return QStringLiteral("the pass phrase has %1 characters; it needs at least %2")
            .arg(phrase.size())
            .arg(kMinPassPhrase);
    if (phrase.size() > kMaxPassPhrase)
        return QStringLiteral("the pass phrase has %1 characters; it may have at most %2")
            .arg(phrase.size())
            .arg(kMaxPassPhrase);
    return QString();
}

PassPhrase acceptablePassPhrase(const QString& passFile, bool confirm)
{
    PassPhrase p = readPassPhrase(passFile, confirm);
    if (!p.ok)
        return p;
    const QString problem = passPhraseProblem(p.text);
    if (!problem.isEmpty()) {
        p.ok = false;
        p.text.fill(QChar(u'\0'));
        p.text.clear();
        p.error = problem;
    }
    return p;
}

} // namespace ravelin::cli
