#pragma once
// Small helpers shared by the test folders.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

class QProcess;

namespace ravelin::test {

// Writes `data` to `path` (creating it); false on failure.
bool writeFile(const QString& path, const QByteArray& data);
// The whole file, or a null QByteArray when it cannot be read.
QByteArray readFile(const QString& path);
// Creates a new file whose name is the exact bytes `path` (which need not be
// valid text) with `data`; false when it exists or cannot be written.
bool writeBytesNamed(const QByteArray& path, const QByteArray& data);
// The contents of the file named by the exact bytes `path`; null when missing.
QByteArray readBytesNamed(const QByteArray& path);
// Deterministic pseudo-random bytes.
QByteArray randomBytes(qsizetype size, quint32 seed);

struct ProcessResult {
    int exitCode = -1; // -1 when the program could not start or crashed
    QByteArray out;
    QByteArray err;
};
// Runs `program` with `args` in `workingDirectory` (empty: current), waits up
// to `timeoutMs`, and returns its exit status and output.
ProcessResult run(const QString& program, const QStringList& args,
                  const QString& workingDirectory = QString(), int timeoutMs = 120000,
                  const QByteArray& input = QByteArray());
// The same with a process the caller has prepared (environment, working
// directory, child set-up).
ProcessResult run(QProcess& process, const QString& program, const QStringList& args, int timeoutMs = 120000,
                  const QByteArray& input = QByteArray());
// The lines of a CRLF text, without the empty one after the last CRLF.
QStringList crlfLines(const QByteArray& text);
// The entries of an INF section: the lines after its header up to the
// separator line of one space (or the end); "<no section>" when missing.
QStringList infSection(const QStringList& inf, const QString& header);
// Every file and directory below `root`, relative to it, sorted.
QStringList fileTree(const QString& root);
// A cabinet reader of another project that checks our cabinets, and how to
// make it test one and extract one.
struct OutsideReader {
    QString program;
    QStringList testArgs; // "%CAB" stands for the cabinet
    std::function<QStringList(const QString& cab, const QString& out)> extractArgs;

    QStringList testArguments(const QString& cab) const;
};
// cabextract, 7zz, gcab and bsdtar.
QList<OutsideReader> outsideReaders();

// True when `program` is found on PATH.
bool haveProgram(const QString& program);

} // namespace ravelin::test
