#include "support/testutil.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <fcntl.h>
#include <unistd.h>

namespace ravelin::test {

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(data) == data.size() && f.flush();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    QByteArray data = f.readAll();
    if (data.isNull())
        data = QByteArray("");
    return data;
}

bool writeBytesNamed(const QByteArray& path, const QByteArray& data)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, data.constData(), size_t(data.size())) == data.size();
    return ::close(fd) == 0 && ok;
}

QByteArray readBytesNamed(const QByteArray& path)
{
    QFile f;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || !f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return QByteArray();
    return f.readAll();
}

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator gen(seed);
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = static_cast<char>(gen.generate() & 0xFF);
    return data;
}

ProcessResult run(const QString& program, const QStringList& args, const QString& workingDirectory,
                  int timeoutMs, const QByteArray& input)
{
    QProcess p;
    if (!workingDirectory.isEmpty())
        p.setWorkingDirectory(workingDirectory);
    return run(p, program, args, timeoutMs, input);
}

ProcessResult run(QProcess& p, const QString& program, const QStringList& args, int timeoutMs,
                  const QByteArray& input)
{
    ProcessResult r;
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return r;
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

QStringList crlfLines(const QByteArray& text)
{
    QStringList result = QString::fromLocal8Bit(text).split(QStringLiteral("\r\n"));
    if (!result.isEmpty() && result.last().isEmpty())
        result.removeLast();
    return result;
}

QStringList infSection(const QStringList& inf, const QString& header)
{
    QStringList entries;
    const qsizetype start = inf.indexOf(header);
    if (start < 0)
        return {QStringLiteral("<no section>")};
    for (qsizetype i = start + 1; i < inf.size() && inf[i] != QLatin1String(" "); ++i)
        entries.append(inf[i]);
    return entries;
}

QStringList fileTree(const QString& root)
{
    QStringList all;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        all << QDir(root).relativeFilePath(it.next());
    all.sort();
    return all;
}

QStringList OutsideReader::testArguments(const QString& cab) const
{
    QStringList args = testArgs;
    args.replaceInStrings(QStringLiteral("%CAB"), cab);
    return args;
}

QList<OutsideReader> outsideReaders()
{
    return {
        {"cabextract",
         {"-t", "%CAB"},
         [](const QString& cab, const QString& out) {
             return QStringList{"-q", "-d", out, cab};
         }},
        {"7zz",
         {"t", "%CAB"},
         [](const QString& cab, const QString& out) {
             return QStringList{"x", "-y", "-aoa", "-o" + out, cab};
         }},
        {"gcab",
         {"-t", "%CAB"},
         [](const QString& cab, const QString& out) {
             return QStringList{"-x", "-C", out, cab};
         }},
        {"bsdtar",
         {"-tf", "%CAB"},
         [](const QString& cab, const QString& out) {
             return QStringList{"-xf", cab, "-C", out};
         }},
    };
}

bool haveProgram(const QString& program)
{
    return !QStandardPaths::findExecutable(program).isEmpty();
}

} // namespace ravelin::test
