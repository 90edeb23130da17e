// Proves ravelin-cab l / t / x on hostile input as a user runs them: one pass over a 256 MiB folder, escaped
// listings, argv bytes kept, named pipes refused without blocking, planted links and the cabinet itself
// refused, and failures that leave no partial file or temporary behind.
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/testutil.h"

using namespace ravelin;

namespace {

QString fixture(const char* name)
{
    return QStringLiteral(RAVELIN_HOSTILE_DIR "/") + QLatin1String(name);
}

test::ProcessResult cab(const QStringList& args, int timeoutMs = 60000)
{
    return test::run(QStringLiteral(RAVELIN_CAB), args, QString(), timeoutMs);
}

// Runs ravelin-cab with arguments given as bytes: the shell's printf makes
// each one from octal escapes, so no byte goes through text on the way.
test::ProcessResult cabBytes(const QList<QByteArray>& args)
{
    QByteArray script = "exec \"$0\"";
    for (const QByteArray& a : args) {
        script += " \"$(printf '";
        for (const char c : a)
            script += '\\' + QByteArray::number(uchar(c), 8).rightJustified(3, '0');
        script += "')\"";
    }
    return test::run("/bin/sh", {"-c", QString::fromLatin1(script), QStringLiteral(RAVELIN_CAB)});
}

// The names in folder `path` (bytes), sorted.
QList<QByteArray> names(const QByteArray& path)
{
    QList<QByteArray> out;
    if (DIR* dir = ::opendir(path.constData())) {
        while (const dirent* e = ::readdir(dir))
            if (qstrcmp(e->d_name, ".") != 0 && qstrcmp(e->d_name, "..") != 0)
                out << QByteArray(e->d_name);
        ::closedir(dir);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Removes `path` and everything below it by bytes (QDir cannot name a
// folder that is not UTF-8).
void removeTree(const QByteArray& path)
{
    for (const QByteArray& name : names(path)) {
        const QByteArray child = path + "/" + name;
        struct stat st {};
        if (::lstat(child.constData(), &st) == 0 && S_ISDIR(st.st_mode))
            removeTree(child);
        else
            ::unlink(child.constData());
    }
    ::rmdir(path.constData());
}

} // namespace

class TestCliRead : public QObject {
    Q_OBJECT
private slots:
    void listEscapesControlBytes();
    void hostileCabinetInOnePass_data();
    void hostileCabinetInOnePass();
    void namedPipeRefusedPromptly_data();
    void namedPipeRefusedPromptly();
    void argumentBytesKept();
    void plantedFolderLinkRefused();
    void cabinetItselfRefused();
    void failuresLeaveNothingBehind_data();
    void failuresLeaveNothingBehind();
};

void TestCliRead::listEscapesControlBytes()
{
    const auto l = cab({"l", fixture("names.cab")});
    QCOMPARE(l.exitCode, 0);
    const QList<QByteArray> lines = l.out.split('\n');
    QCOMPARE(lines.size(), 10); // eight names, one line each, the summary and the end
    QVERIFY(lines[3].endsWith("  \\x1b[31mred\\x1b[0m.txt"));
    QVERIFY(lines[4].endsWith("  two\\x0alines.txt"));
    QVERIFY(lines[5].endsWith("  c1-\\xc2\\x9b-csi.txt"));
    // Bytes that are not UTF-8 stay themselves; only controls are escaped.
    QVERIFY(lines[1].endsWith("  a\xff"));
    QVERIFY(lines[7].endsWith("  gr\xc3\xbc\xc3\x9f"
                              "e.txt"));
    QVERIFY(!l.out.contains('\x1b') && !l.out.contains("\xc2\x9b"));
}

void TestCliRead::hostileCabinetInOnePass_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("t") << "t";
    QTest::newRow("x") << "x";
}

void TestCliRead::hostileCabinetInOnePass()
{
    // 2,000 files at descending offsets at the end of a 256 MiB folder, with
    // overlapping ranges: a reader that restarts the folder per file takes
    // half an hour.
    QFETCH(QString, command);
    QTemporaryDir dir;
    QStringList args{command, fixture("onepass.cab")};
    if (command == "x")
        args << dir.path();
    QElapsedTimer timer;
    timer.start();
    const auto r = cab(args, 60000);
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QVERIFY(timer.elapsed() < 60000);
    if (command == "t") {
        QVERIFY(r.out.endsWith("onepass.cab: 2010 files OK\n"));
        return;
    }
    // sha256sum checks every file independently.
    const auto check = test::run("sha256sum", {"-c", "--quiet", fixture("onepass.sha256")}, dir.path());
    QVERIFY2(check.exitCode == 0, check.out + check.err);
    QCOMPARE(names(QFile::encodeName(dir.path())).size(), 2010);
}

void TestCliRead::namedPipeRefusedPromptly_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("l") << "l";
    QTest::newRow("t") << "t";
    QTest::newRow("x") << "x";
}

void TestCliRead::namedPipeRefusedPromptly()
{
    QFETCH(QString, command);
    QTemporaryDir dir;
    const QString fifo = dir.filePath("pipe.cab");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QStringList args{command, fifo};
    if (command == "x")
        args << dir.filePath("out");
    // Nobody ever writes to the pipe: a reader that opens it blocks forever.
    const auto r = cab(args, 10000);
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.err, "ravelin-cab: cannot open cabinet " + QFile::encodeName(fifo) + ": not a regular file\n");
}

void TestCliRead::argumentBytesKept()
{
    QTemporaryDir dir;
    const QByteArray out = QFile::encodeName(dir.path()) + "/out\xff";
    const auto r = cabBytes({"x", QFile::encodeName(fixture("names.cab")), out});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    const QList<QByteArray> want{"\x1b[31mred\x1b[0m.txt",
                                 "a\xfe",
                                 "a\xff",
                                 "c1-\xc2\x9b-csi.txt",
                                 "caf\xe9.txt",
                                 "dir\xff",
                                 "gr\xc3\xbc\xc3\x9f"
                                 "e.txt",
                                 "two\nlines.txt"};
    QCOMPARE(names(out), want);
    QCOMPARE(names(out + "/dir\xff"), QList<QByteArray>{"inner.txt"});
    // Contents by bytes: each file holds "content of " and its stored name.
    for (const QByteArray& name :
         {QByteArray("a\xff"), QByteArray("a\xfe"), QByteArray("dir\xff/inner.txt")}) {
        QFile f;
        const int fd = ::open((out + "/" + name).constData(), O_RDONLY);
        QVERIFY(fd >= 0);
        QVERIFY(f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
        QCOMPARE(f.readAll(), "content of " + name);
    }
    removeTree(out);
}

void TestCliRead::plantedFolderLinkRefused()
{
    QTemporaryDir dir;
    const QString out = dir.filePath("out");
    const QString elsewhere = dir.filePath("elsewhere");
    QVERIFY(QDir().mkpath(out) && QDir().mkpath(elsewhere));
    QVERIFY(QFile::link(elsewhere, out + "/planted_dir"));
    const auto r = cab({"x", fixture("planted.cab"), out});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.err, "ravelin-cab: refusing planted_dir/evil.txt: " + QFile::encodeName(out) +
                        "/planted_dir is a symbolic link\n");
    QVERIFY(QDir(elsewhere).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    QCOMPARE(names(QFile::encodeName(out)), QList<QByteArray>{"planted_dir"});
}

void TestCliRead::cabinetItselfRefused()
{
    QTemporaryDir dir;
    const QString self = dir.filePath("self.cab");
    QVERIFY(QFile::copy(fixture("self.cab"), self));
    const QByteArray before = test::readFile(self);
    const auto r = cab({"x", self, dir.path()});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains("refusing to write " + QFile::encodeName(self) + ": it is the cabinet"), r.err);
    QCOMPARE(test::readFile(self), before);
    QCOMPARE(names(QFile::encodeName(dir.path())), QList<QByteArray>{"self.cab"});
}

void TestCliRead::failuresLeaveNothingBehind_data()
{
    QTest::addColumn<QString>("cabinet");
    QTest::addColumn<QString>("existing");   // a file of this name is in DIR beforehand
    QTest::addColumn<QStringList>("prefix"); // run under this
    QTest::addColumn<QByteArray>("message"); // %DIR% for the folder
    QTest::newRow("damaged block") << "damaged.cab"
                                   << "victim.txt" << QStringList{}
                                   << QByteArray("cannot extract victim.txt from " RAVELIN_HOSTILE_DIR
                                                 "/damaged.cab: checksum error");
    QTest::newRow("file size limit") << "overlap.cab"
                                     << "b-whole.txt" << QStringList{"prlimit", "--fsize=50000"}
                                     << QByteArray("cannot write %DIR%/b-whole.txt: File too large");
    QTest::newRow("file size limit on a union")
        << "onepass.cab"
        << "span-a.bin" << QStringList{"prlimit", "--fsize=5000000"}
        << QByteArray("cannot write a temporary file beside %DIR%/span-a.bin: File too large");
}

void TestCliRead::failuresLeaveNothingBehind()
{
    QFETCH(QString, cabinet);
    QFETCH(QString, existing);
    QFETCH(QStringList, prefix);
    QFETCH(QByteArray, message);
    if (!prefix.isEmpty() && !test::haveProgram(prefix.first()))
        QSKIP("prlimit is not installed");
    QTemporaryDir dir;
    QVERIFY(test::writeFile(dir.filePath(existing), "precious\n"));
    // --overwrite: the earlier file would be replaced, were the new one complete.
    const QStringList args =
        QStringList{"x", "--overwrite", fixture(cabinet.toLatin1().constData()), dir.path()};
    const auto r = prefix.isEmpty()
                       ? cab(args)
                       : test::run(prefix.first(), prefix.mid(1) + QStringList{RAVELIN_CAB} + args);
    QCOMPARE(r.exitCode, 1);
    message.replace("%DIR%", QFile::encodeName(dir.path()));
    QCOMPARE(r.err, "ravelin-cab: " + message + "\n");
    QCOMPARE(test::readFile(dir.filePath(existing)), QByteArray("precious\n"));
    for (const QByteArray& name : names(QFile::encodeName(dir.path())))
        QVERIFY2(!name.startsWith(".ravelin-"), name.constData());
}

QTEST_GUILESS_MAIN(TestCliRead)
#include "tst_cli_read.moc"
