// Proves "ravelin-cab n --sfx" writes extractor bytes then a readable cabinet, and keeps the cabinet on
// failure.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "support/testutil.h"

using namespace ravelin::test;

class TestCliSfx : public QObject {
    Q_OBJECT
private slots:
    void joinsAndRemovesCabinet();
    void missingExtractorKeepsCabinet();
    void writeFailureKeepsCabinet();
    void usage();
};

void TestCliSfx::joinsAndRemovesCabinet()
{
    QTemporaryDir dir;
    const QByteArray ext = randomBytes(3000, 1);
    const QByteArray a = randomBytes(70000, 2);
    const QByteArray b = QByteArray("hello, cabinet\r\n").repeated(500);
    QVERIFY(writeFile(dir.filePath("extract.exe"), ext));
    QVERIFY(writeFile(dir.filePath("a.bin"), a));
    QVERIFY(writeFile(dir.filePath("b.txt"), b));
    const ProcessResult r =
        run(RAVELIN_CAB, {"n", "--sfx", dir.filePath("extract.exe"), dir.filePath("setup.cab"),
                          dir.filePath("a.bin"), dir.filePath("b.txt")});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QVERIFY(!QFile::exists(dir.filePath("setup.cab")));
    const QByteArray exe = readFile(dir.filePath("setup.exe"));
    QVERIFY(exe.size() > ext.size());
    QCOMPARE(exe.left(ext.size()), ext);
    // What follows the extractor is a whole cabinet, read by our own reader and the peers.
    const QByteArray cab = exe.mid(ext.size());
    QCOMPARE(cab.left(4), QByteArray("MSCF"));
    QVERIFY(writeFile(dir.filePath("back.cab"), cab));
    QCOMPARE(run(RAVELIN_CAB, {"t", dir.filePath("back.cab")}).exitCode, 0);
    if (haveProgram("cabextract")) {
        QVERIFY(QDir(dir.path()).mkdir("x"));
        const ProcessResult x = run("cabextract", {"-q", "-d", dir.filePath("x"), dir.filePath("back.cab")});
        QVERIFY2(x.exitCode == 0, x.err.constData());
        QCOMPARE(readFile(dir.filePath("x/a.bin")), a);
        QCOMPARE(readFile(dir.filePath("x/b.txt")), b);
        // cabextract also finds the cabinet inside the executable itself.
        QCOMPARE(run("cabextract", {"-t", dir.filePath("setup.exe")}).exitCode, 0);
    }
}

void TestCliSfx::missingExtractorKeepsCabinet()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("a.txt"), "data"));
    const ProcessResult r = run(RAVELIN_CAB, {"n", "--sfx=" + dir.filePath("nothere.exe"),
                                              dir.filePath("c.cab"), dir.filePath("a.txt")});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains("No such file or directory"), r.err.constData());
    QVERIFY(QFile::exists(dir.filePath("c.cab")));
    QVERIFY(!QFile::exists(dir.filePath("c.exe")));
    QCOMPARE(run(RAVELIN_CAB, {"t", dir.filePath("c.cab")}).exitCode, 0);
}

void TestCliSfx::writeFailureKeepsCabinet()
{
    if (!QFile::exists("/dev/full"))
        QSKIP("no /dev/full");
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("extract.exe"), randomBytes(3000, 3)));
    QVERIFY(writeFile(dir.filePath("a.txt"), "data"));
    // A device under the output's name is neither written through nor replaced.
    QVERIFY(QFile::link("/dev/full", dir.filePath("c.exe")));
    ProcessResult r = run(RAVELIN_CAB, {"n", "--sfx", dir.filePath("extract.exe"), dir.filePath("c.cab"),
                                        dir.filePath("a.txt")});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains("not a regular file"), r.err.constData());
    QCOMPARE(run(RAVELIN_CAB, {"t", dir.filePath("c.cab")}).exitCode, 0);
    QCOMPARE(QFileInfo(dir.filePath("c.exe")).symLinkTarget(), QStringLiteral("/dev/full"));
    // A write that fails part-way (the file-size limit) leaves no .exe.
    QVERIFY(QFile::remove(dir.filePath("c.exe")));
    r = run("prlimit", {"--fsize=2000", RAVELIN_CAB, "n", "--sfx", dir.filePath("extract.exe"),
                        dir.filePath("c.cab"), dir.filePath("a.txt")});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains("File too large"), r.err.constData());
    QCOMPARE(run(RAVELIN_CAB, {"t", dir.filePath("c.cab")}).exitCode, 0);
    QVERIFY(!QFileInfo::exists(dir.filePath("c.exe")));
}

void TestCliSfx::usage()
{
    QTemporaryDir dir;
    QCOMPARE(run(RAVELIN_CAB, {"n", "--sfx"}).exitCode, 2);
    QCOMPARE(run(RAVELIN_CAB, {"n", "--sfx", dir.filePath("e"), dir.filePath("c.cab")}).exitCode, 2);
    QVERIFY(!QFile::exists(dir.filePath("c.cab")));
}

QTEST_GUILESS_MAIN(TestCliSfx)
#include "tst_cli_sfx.moc"
