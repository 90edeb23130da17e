// Proves the self-extracting join writes extractor then cabinet bytes and never loses the cabinet.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

#include "cabinet/sfx/sfxjoin.h"
#include "platform/io.h"
#include "support/testutil.h"

using namespace ravelin::sfx;
using ravelin::test::randomBytes;
using ravelin::test::readFile;
using ravelin::test::writeFile;

namespace {
std::string s(const QString& path)
{
    return path.toStdString();
}
} // namespace

class TestSfxJoin : public QObject {
    Q_OBJECT
private slots:
    void joins_data();
    void joins();
    void replacesExistingOutput();
    void openFailuresCopyNothing_data();
    void openFailuresCopyNothing();
    void writeFailureKeepsCabinet();
    void fileSizeLimitKeepsCabinet();
    void inputsThatAreNotFilesAreRefused();
    void outputNamingAnInputIsRefused();
};

void TestSfxJoin::joins_data()
{
    QTest::addColumn<int>("extractorSize");
    QTest::addColumn<int>("cabinetSize");
    QTest::newRow("3000 + 5000") << 3000 << 5000;
    QTest::newRow("empty extractor") << 0 << 5000;
    QTest::newRow("block multiples") << 2048 << 1024;
    QTest::newRow("one byte each") << 1 << 1;
    QTest::newRow("empty cabinet") << 1500 << 0;
}

void TestSfxJoin::joins()
{
    QFETCH(int, extractorSize);
    QFETCH(int, cabinetSize);
    QTemporaryDir dir;
    const QByteArray ext = randomBytes(extractorSize, 1);
    const QByteArray cab = randomBytes(cabinetSize, 2);
    QVERIFY(writeFile(dir.filePath("extract.exe"), ext));
    QVERIFY(writeFile(dir.filePath("setup.cab"), cab));
    const SfxResult r = joinSelfExtracting(s(dir.filePath("extract.exe")), s(dir.filePath("setup.cab")),
                                           s(dir.filePath("setup.exe")));
    QVERIFY2(r.ok(), stepName(r.failed));
    const QByteArray out = readFile(dir.filePath("setup.exe"));
    QCOMPARE(out.size(), extractorSize + cabinetSize);
    QCOMPARE(out, ext + cab);
    QCOMPARE(r.bytesWritten, quint64(out.size()));
    QVERIFY(r.cabinetRemoved);
    QVERIFY(!QFile::exists(dir.filePath("setup.cab")));
    QCOMPARE(readFile(dir.filePath("extract.exe")), ext); // the extractor is left alone
}

void TestSfxJoin::replacesExistingOutput()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("e"), "EXT"));
    QVERIFY(writeFile(dir.filePath("c.cab"), "CAB"));
    QVERIFY(writeFile(dir.filePath("c.exe"), randomBytes(10000, 3)));
    QVERIFY(
        joinSelfExtracting(s(dir.filePath("e")), s(dir.filePath("c.cab")), s(dir.filePath("c.exe"))).ok());
    QCOMPARE(readFile(dir.filePath("c.exe")), QByteArray("EXTCAB"));
}

void TestSfxJoin::openFailuresCopyNothing_data()
{
    QTest::addColumn<QString>("extractor");
    QTest::addColumn<QString>("cabinet");
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("error");
    QTest::newRow("missing extractor") << "missing.exe"
                                       << "c.cab"
                                       << "c.exe" << int(SfxStep::OpenExtractor) << ENOENT;
    QTest::newRow("missing cabinet") << "extract.exe"
                                     << "gone.cab"
                                     << "c.exe" << int(SfxStep::OpenCabinet) << ENOENT;
    QTest::newRow("missing output directory") << "extract.exe"
                                              << "c.cab"
                                              << "nodir/c.exe" << int(SfxStep::CreateOutput) << ENOENT;
    QTest::newRow("output directory is a file") << "extract.exe"
                                                << "c.cab"
                                                << "afile/c.exe" << int(SfxStep::CreateOutput) << ENOTDIR;
    QTest::newRow("output is a directory") << "extract.exe"
                                           << "c.cab"
                                           << "adir" << int(SfxStep::CreateOutput) << EISDIR;
}

void TestSfxJoin::openFailuresCopyNothing()
{
    QFETCH(QString, extractor);
    QFETCH(QString, cabinet);
    QFETCH(QString, output);
    QFETCH(int, step);
    QFETCH(int, error);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("extract.exe"), randomBytes(3000, 4)));
    QVERIFY(writeFile(dir.filePath("c.cab"), randomBytes(5000, 5)));
    QVERIFY(writeFile(dir.filePath("afile"), "x"));
    QVERIFY(QDir(dir.path()).mkdir("adir"));
    const SfxResult r =
        joinSelfExtracting(s(dir.filePath(extractor)), s(dir.filePath(cabinet)), s(dir.filePath(output)));
    QCOMPARE(int(r.failed), step);
    QCOMPARE(r.error, error);
    // The result names the file of the failed step.
    const QString& culprit = r.failed == SfxStep::OpenExtractor ? extractor
                             : r.failed == SfxStep::OpenCabinet ? cabinet
                                                                : output;
    QCOMPARE(r.path, s(dir.filePath(culprit)));
    QCOMPARE(r.bytesWritten, quint64(0));
    QVERIFY(!r.cabinetRemoved);
    QCOMPARE(readFile(dir.filePath("c.cab")).size(), 5000);
    QVERIFY(!QFile::exists(dir.filePath("c.exe")));
}

void TestSfxJoin::writeFailureKeepsCabinet()
{
    if (!QFile::exists("/dev/full"))
        QSKIP("no /dev/full");
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("extract.exe"), randomBytes(3000, 6)));
    QVERIFY(writeFile(dir.filePath("c.cab"), randomBytes(5000, 7)));
    // The output's name leads to a device: it is neither written through nor
    // replaced, and nothing is copied.
    QVERIFY(QFile::link("/dev/full", dir.filePath("c.exe")));
    const SfxResult r = joinSelfExtracting(s(dir.filePath("extract.exe")), s(dir.filePath("c.cab")),
                                           s(dir.filePath("c.exe")));
    QCOMPARE(r.failed, SfxStep::CreateOutput);
    QCOMPARE(r.error, ravelin::io::kNotRegularFile);
    QCOMPARE(r.bytesWritten, quint64(0));
    QVERIFY(!r.cabinetRemoved);
    QCOMPARE(readFile(dir.filePath("c.cab")).size(), 5000);
    QCOMPARE(QFileInfo(dir.filePath("c.exe")).symLinkTarget(), QStringLiteral("/dev/full"));
    QVERIFY(QFileInfo(QStringLiteral("/dev/full")).exists());
}

void TestSfxJoin::fileSizeLimitKeepsCabinet()
{
    QTemporaryDir dir;
    const QByteArray cab = randomBytes(5000, 9);
    QVERIFY(writeFile(dir.filePath("extract.exe"), randomBytes(3000, 8)));
    QVERIFY(writeFile(dir.filePath("c.cab"), cab));
    // The limit falls inside the cabinet's part of the copy.
    struct rlimit old {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit limited = old;
    limited.rlim_cur = 4096;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const SfxResult r = joinSelfExtracting(s(dir.filePath("extract.exe")), s(dir.filePath("c.cab")),
                                           s(dir.filePath("c.exe")));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    QCOMPARE(r.failed, SfxStep::WriteCabinet);
    QCOMPARE(r.error, EFBIG);
    QCOMPARE(r.path, s(dir.filePath("c.exe")));
    QVERIFY(r.bytesWritten > 3000 && r.bytesWritten <= 4096);
    QVERIFY(r.outputRemoved);
    QVERIFY(!QFile::exists(dir.filePath("c.exe")));
    QCOMPARE(readFile(dir.filePath("c.cab")), cab);
}

void TestSfxJoin::inputsThatAreNotFilesAreRefused()
{
    // A folder or a pipe as the extractor is refused at its open, before any
    // output exists (a pipe without a writer would block a plain open).
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("extract.exe"));
    QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath("c.cab")).constData(), 0600), 0);
    SfxResult r = joinSelfExtracting(s(dir.filePath("extract.exe")), s(dir.filePath("c.cab")),
                                     s(dir.filePath("c.exe")));
    QCOMPARE(r.failed, SfxStep::OpenExtractor);
    QCOMPARE(r.error, ravelin::io::kNotRegularFile);
    QVERIFY(QDir(dir.path()).rmdir("extract.exe"));
    QVERIFY(writeFile(dir.filePath("extract.exe"), randomBytes(3000, 6)));
    r = joinSelfExtracting(s(dir.filePath("extract.exe")), s(dir.filePath("c.cab")),
                           s(dir.filePath("c.exe")));
    QCOMPARE(r.failed, SfxStep::OpenCabinet);
    QCOMPARE(r.error, ravelin::io::kNotRegularFile);
    QCOMPARE(r.path, s(dir.filePath("c.cab")));
    QVERIFY(QFile::remove(dir.filePath("c.cab")));
    QVERIFY(writeFile(dir.filePath("c.cab"), randomBytes(5000, 10)));
    QVERIFY(!QFile::exists(dir.filePath("c.exe")));
    QCOMPARE(readFile(dir.filePath("c.cab")).size(), 5000);
}

void TestSfxJoin::outputNamingAnInputIsRefused()
{
    QTemporaryDir dir;
    const QByteArray ext = randomBytes(3000, 11);
    QVERIFY(writeFile(dir.filePath("extract.exe"), ext));
    QVERIFY(writeFile(dir.filePath("c.cab"), "CAB"));
    // A cabinet named "extract" in the working directory would name the extractor as output.
    const SfxResult r = joinSelfExtracting(s(dir.filePath("extract.exe")), s(dir.filePath("c.cab")),
                                           s(dir.path() + "//extract.exe"));
    QCOMPARE(r.failed, SfxStep::CreateOutput);
    QCOMPARE(r.error, EBUSY);
    QCOMPARE(readFile(dir.filePath("extract.exe")), ext);
    QVERIFY(QFile::exists(dir.filePath("c.cab")));
}

QTEST_GUILESS_MAIN(TestSfxJoin)
#include "tst_sfxjoin.moc"
