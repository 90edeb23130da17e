// Proves ravelin-cab inf and package: the files the wizard writes, byte for byte, and their refusals.
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "crypto/blowfish.h"
#include "distribution/infwriter.h"
#include "distribution/setuppackage.h"
#include "support/testutil.h"

using namespace ravelin;
using ravelin::test::readFile;
using ravelin::test::writeFile;

namespace {
const QString kCab = QStringLiteral(RAVELIN_CAB);
const QString kPassPhrase = QStringLiteral("sixteen chars ok");

QStringList tree(const QString& root)
{
    return QDir(root).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}
}  // namespace

class TestCliPackage : public QObject {
    Q_OBJECT
private slots:
    void infWritesWorkedExample();
    void infFailsOnMissingDirectory();
    void packageWritesSetupFiles();
    void packageRefusals_data();
    void packageRefusals();
    void usage_data();
    void usage();
};

void TestCliPackage::infWritesWorkedExample()
{
    QTemporaryDir dir;
    auto r = test::run(kCab, {"inf", "--cab", "tools", "--dir", dir.path(), "/some/where/b.txt", "a.exe"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QFile::encodeName(dir.filePath("tools.inf")) + "\n");
    QCOMPARE(readFile(dir.filePath("tools.inf")),
             distribution::composeInf({"tools", dir.path(), "myinstall\\directory", {"b.txt", "a.exe"}}));

    r = test::run(kCab, {"inf", "--cab=my tools", "--dir=" + dir.path(), "--install-dir", "C:\\x y", "--", "--odd"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(readFile(dir.filePath("my tools.inf")),
             distribution::composeInf({"my tools", dir.path(), "C:\\x y", {"--odd"}}));
}

void TestCliPackage::infFailsOnMissingDirectory()
{
    QTemporaryDir dir;
    const auto r = test::run(kCab, {"inf", "--cab", "tools", "--dir", dir.filePath("missing"), "a"});
    QCOMPARE(r.exitCode, 1);
    QVERIFY(r.err.contains("There was an error while trying to create tools.inf"));
    QVERIFY(tree(dir.path()).isEmpty());
}

void TestCliPackage::packageWritesSetupFiles()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("pass"), (kPassPhrase + "\r\n").toUtf8()));
    QCOMPARE(test::run(kCab, {"inf", "--cab", "tools", "--dir", dir.path(), "a", "b"}).exitCode, 0);
    QVERIFY(writeFile(dir.filePath("SETUP.EXE"), "old"));
    const auto r = test::run(kCab, {"package", "--cab", "tools", "--dir", dir.path(), "--title", "My Tools",
                                    "--description", "the tools", "--readme", "notes.txt", "--pass-file",
                                    dir.filePath("pass")});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QCOMPARE(readFile(dir.filePath("setup.ini")), QByteArray("[General]\r\na1=My Tools\r\na2=the tools\r\n"
                                                             "a3=notes.txt\r\na4=tools.ecf\r\na5=tools.cab\r\n"
                                                             "a6=tools.in_\r\na7=myinstall\\directory\r\n"));
    const QByteArray inf = readFile(dir.filePath("tools.inf"));
    crypto::decryptFile(dir.filePath("tools.in_"), dir.filePath("check"), kPassPhrase);
    const QByteArray decrypted = readFile(dir.filePath("check"));
    QCOMPARE(decrypted.size(), (inf.size() + 7) / 8 * 8);
    QCOMPARE(decrypted, inf + QByteArray(decrypted.size() - inf.size(), '\0'));
    QCOMPARE(readFile(dir.filePath("SETUP.EXE")), readFile(QStringLiteral(RAVELIN_SETUP_IMAGE)));
    QVERIFY(QFileInfo(dir.filePath("SETUP.EXE")).isExecutable());
}

void TestCliPackage::packageRefusals_data()
{
    QTest::addColumn<bool>("writeInf");
    QTest::addColumn<QString>("passPhrase");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("no INF") << false << kPassPhrase << QByteArray("tools.inf does not exist");
    QTest::newRow("15 characters") << true << kPassPhrase.left(15) << QByteArray("16");
}

void TestCliPackage::packageRefusals()
{
    QFETCH(bool, writeInf);
    QFETCH(QString, passPhrase);
    QFETCH(QByteArray, message);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("pass"), passPhrase.toUtf8() + "\n"));
    if (writeInf)
        QCOMPARE(test::run(kCab, {"inf", "--cab", "tools", "--dir", dir.path(), "a"}).exitCode, 0);
    const auto r = test::run(kCab, {"package", "--cab", "tools", "--dir", dir.path(), "--pass-file",
                                    dir.filePath("pass")});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(message), r.err.constData());
    QVERIFY(!QFileInfo::exists(dir.filePath("tools.in_")) && !QFileInfo::exists(dir.filePath("SETUP.EXE")));
}

void TestCliPackage::usage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("inf without cab") << QStringList{"inf", "--dir", "/tmp", "a"};
    QTest::newRow("inf without dir") << QStringList{"inf", "--cab", "x", "a"};
    QTest::newRow("inf unknown option") << QStringList{"inf", "--cab", "x", "--dir", "/tmp", "--bogus", "a"};
    QTest::newRow("inf missing value") << QStringList{"inf", "--cab"};
    QTest::newRow("package operand") << QStringList{"package", "--cab", "x", "--dir", "/tmp", "extra"};
    QTest::newRow("package pass on command line") << QStringList{"package", "--cab", "x", "--dir", "/tmp", "--pass", "p"};
}

void TestCliPackage::usage()
{
    QFETCH(QStringList, args);
    const auto r = test::run(kCab, args);
    QCOMPARE(r.exitCode, 2);
    QVERIFY(r.err.contains("usage: ravelin-cab " + args.first().toUtf8()));
}

QTEST_GUILESS_MAIN(TestCliPackage)
#include "tst_cli_package.moc"
