// Proves ravelin-cab inf and package: the files the wizard writes, byte for byte, and their refusals
// (line breaks, cabinet names that lead elsewhere, outputs that are inputs, planted links).
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

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

std::string bytes(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}
} // namespace

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
    void lineBreaksAndCabinetNamesRefused_data();
    void lineBreaksAndCabinetNamesRefused();
    void outputThatIsAnInputRefused_data();
    void outputThatIsAnInputRefused();
    void linksUnderOutputNamesAreReplaced();
    void passPhraseWithoutWindows1252ByteRefused();
    void nonUtf8BytesAreKept();
};

void TestCliPackage::infWritesWorkedExample()
{
    QTemporaryDir dir;
    auto r = test::run(kCab, {"inf", "--cab", "tools", "--dir", dir.path(), "/some/where/b.txt", "a.exe"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QFile::encodeName(dir.filePath("tools.inf")) + "\n");
    QCOMPARE(
        readFile(dir.filePath("tools.inf")),
        distribution::composeInf({"tools", bytes(dir.path()), "myinstall\\directory", {"b.txt", "a.exe"}}));

    r = test::run(
        kCab, {"inf", "--cab=my tools", "--dir=" + dir.path(), "--install-dir", "C:\\x y", "--", "--odd"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(readFile(dir.filePath("my tools.inf")),
             distribution::composeInf({"my tools", bytes(dir.path()), "C:\\x y", {"--odd"}}));
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
    QCOMPARE(readFile(dir.filePath("setup.ini")),
             QByteArray("[General]\r\na1=My Tools\r\na2=the tools\r\n"
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
    QTest::newRow("no INF") << false << kPassPhrase << QByteArray("tools.inf is needed");
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
    const auto r = test::run(
        kCab, {"package", "--cab", "tools", "--dir", dir.path(), "--pass-file", dir.filePath("pass")});
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
    QTest::newRow("package pass on command line")
        << QStringList{"package", "--cab", "x", "--dir", "/tmp", "--pass", "p"};
}

void TestCliPackage::usage()
{
    QFETCH(QStringList, args);
    const auto r = test::run(kCab, args);
    QCOMPARE(r.exitCode, 2);
    QVERIFY(r.err.contains("usage: ravelin-cab " + args.first().toUtf8()));
}

// CR or LF in a text that becomes one line of the INF or setup.ini, and a
// cabinet name that is not a plain name, are refused and nothing is written.
void TestCliPackage::lineBreaksAndCabinetNamesRefused_data()
{
    QTest::addColumn<QStringList>("args"); // after the command; DIR stands for the folder
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("message");
    const QStringList inf{"inf", "--dir", "DIR"};
    const QStringList package{"package", "--dir", "DIR", "--pass-file", "DIR/pass"};
    QTest::newRow("inf --install-dir LF")
        << inf + QStringList{"--cab", "tools", "--install-dir", "a\nb=1", "a"} << 1
        << QByteArray("--install-dir holds a line break");
    QTest::newRow("inf file name CR")
        << inf + QStringList{"--cab", "tools", "x\r[copy.files]"} << 1 << QByteArray("line break");
    QTest::newRow("inf --cab ../x") << inf + QStringList{"--cab", "../x", "a"} << 1
                                    << QByteArray("--cab must be");
    QTest::newRow("inf --cab .") << inf + QStringList{"--cab", ".", "a"} << 1 << QByteArray("--cab must be");
    QTest::newRow("package --title LF")
        << package + QStringList{"--cab", "tools", "--title", "T\na6=evil.in_"} << 1
        << QByteArray("--title holds a line break");
    QTest::newRow("package --description CR")
        << package + QStringList{"--cab", "tools", "--description", "d\r"} << 1
        << QByteArray("--description holds a line break");
    QTest::newRow("package --readme LF") << package + QStringList{"--cab", "tools", "--readme", "r\n"} << 1
                                         << QByteArray("--readme holds a line break");
    QTest::newRow("package --install-dir CRLF")
        << package + QStringList{"--cab", "tools", "--install-dir", "i\r\n"} << 1
        << QByteArray("--install-dir holds a line break");
    QTest::newRow("package --cab ../x")
        << package + QStringList{"--cab", "../x"} << 1 << QByteArray("--cab must be");
    QTest::newRow("package --cab ..")
        << package + QStringList{"--cab", ".."} << 1 << QByteArray("--cab must be");
    QTest::newRow("package --cab a/b")
        << package + QStringList{"--cab", "a/b"} << 1 << QByteArray("--cab must be");
    QTest::newRow("package --cab empty") << package + QStringList{"--cab="} << 2 << QByteArray("usage");
}

void TestCliPackage::lineBreaksAndCabinetNamesRefused()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, message);
    QTemporaryDir root;
    const QString dir = root.filePath("dir");
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(writeFile(dir + "/pass", (kPassPhrase + "\n").toUtf8()));
    QVERIFY(writeFile(dir + "/tools.inf", "; Created with Korvane Ravelin v6.0\r\n"));
    QVERIFY(writeFile(root.filePath("x.inf"), "; Created with Korvane Ravelin v6.0\r\n"));
    for (QString& a : args)
        a.replace("DIR", dir);
    const QStringList before = test::fileTree(root.path());
    const auto r = test::run(kCab, args);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(r.err.contains(message), r.err.constData());
    QCOMPARE(test::fileTree(root.path()), before);
}

// An output that is one of the package's inputs (the same name, or the same
// file through a link) is refused before anything is written.
void TestCliPackage::outputThatIsAnInputRefused_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("readme named setup.ini") << "readme setup.ini" << QByteArray("is the readme");
    QTest::newRow("readme a link to SETUP.EXE") << "readme link" << QByteArray("is the readme");
    QTest::newRow("pass file is setup.ini") << "pass setup.ini" << QByteArray("is the pass-phrase file");
    QTest::newRow("encrypted INF a hard link of the INF") << "in_ hard link" << QByteArray("is the INF");
    QTest::newRow("inf over a listed file") << "inf listed" << QByteArray("is the listed file");
}

void TestCliPackage::outputThatIsAnInputRefused()
{
    QFETCH(QString, how);
    QFETCH(QByteArray, message);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("pass"), (kPassPhrase + "\n").toUtf8()));
    QCOMPARE(test::run(kCab, {"inf", "--cab", "tools", "--dir", dir.path(), "a"}).exitCode, 0);
    QVERIFY(writeFile(dir.filePath("setup.ini"), "[General]\r\na1=earlier\r\n"));
    QVERIFY(writeFile(dir.filePath("SETUP.EXE"), "earlier setup"));
    QStringList args{"package", "--cab", "tools", "--dir", dir.path(), "--pass-file", dir.filePath("pass")};
    if (how == "readme setup.ini") {
        args << "--readme"
             << "setup.ini";
    } else if (how == "readme link") {
        QVERIFY(QFile::link(dir.filePath("SETUP.EXE"), dir.filePath("readme.txt")));
    } else if (how == "pass setup.ini") {
        QVERIFY(writeFile(dir.filePath("setup.ini"), (kPassPhrase + "\n").toUtf8()));
        args.last() = dir.filePath("setup.ini");
    } else if (how == "in_ hard link") {
        QCOMPARE(::link(QFile::encodeName(dir.filePath("tools.inf")).constData(),
                        QFile::encodeName(dir.filePath("tools.in_")).constData()),
                 0);
    } else if (how == "inf listed") {
        QVERIFY(writeFile(dir.filePath("list.txt"), "listed file"));
        args = QStringList{
            "inf", "--cab", "list", "--dir", dir.path(), dir.filePath("a"), dir.path() + "/./list.inf"};
        QVERIFY(QFile::link(dir.filePath("list.txt"), dir.filePath("list.inf")));
    }
    QMap<QString, QByteArray> before;
    for (const QString& name : tree(dir.path()))
        before[name] = readFile(dir.filePath(name));
    const auto r = test::run(kCab, args);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(message), r.err.constData());
    QMap<QString, QByteArray> after;
    for (const QString& name : tree(dir.path()))
        after[name] = readFile(dir.filePath(name));
    QCOMPARE(after, before);
}

// SETUP.EXE, setup.ini and the encrypted INF replace a link planted under
// their names; the file the link points to is not written.
void TestCliPackage::linksUnderOutputNamesAreReplaced()
{
    QTemporaryDir root;
    const QString dir = root.filePath("pkg");
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(writeFile(dir + "/pass", (kPassPhrase + "\n").toUtf8()));
    QCOMPARE(test::run(kCab, {"inf", "--cab", "tools", "--dir", dir, "a"}).exitCode, 0);
    for (const char* name : {"SETUP.EXE", "setup.ini", "tools.in_"}) {
        const QString victim = root.filePath(QStringLiteral("victim-") + name);
        QVERIFY(writeFile(victim, "the link's target"));
        QVERIFY(QFile::link(victim, dir + "/" + name));
    }
    const auto r = test::run(kCab, {"package", "--cab", "tools", "--dir", dir, "--pass-file", dir + "/pass"});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    for (const char* name : {"SETUP.EXE", "setup.ini", "tools.in_"}) {
        QVERIFY(!QFileInfo(dir + "/" + name).isSymLink());
        QCOMPARE(readFile(root.filePath(QStringLiteral("victim-") + name)), QByteArray("the link's target"));
    }
    QCOMPARE(readFile(dir + "/SETUP.EXE"), readFile(QStringLiteral(RAVELIN_SETUP_IMAGE)));
    QVERIFY(QFileInfo(dir + "/SETUP.EXE").isExecutable());
    QVERIFY(readFile(dir + "/setup.ini").startsWith("[General]\r\n"));
}

void TestCliPackage::passPhraseWithoutWindows1252ByteRefused()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("pass"), QByteArray("пароль для файла\n")));
    QCOMPARE(test::run(kCab, {"inf", "--cab", "tools", "--dir", dir.path(), "a"}).exitCode, 0);
    const auto r = test::run(
        kCab, {"package", "--cab", "tools", "--dir", dir.path(), "--pass-file", dir.filePath("pass")});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains("no Windows-1252 byte"), r.err.constData());
    QCOMPARE(tree(dir.path()), (QStringList{"pass", "tools.inf"}));
}

// Names and texts are argv's bytes: a cabinet name that is not UTF-8 names
// the INF file and stands in its lines byte for byte.
void TestCliPackage::nonUtf8BytesAreKept()
{
    QTemporaryDir dir;
    const auto r = test::run("/bin/sh", {"-c",
                                         "exec \"$0\" inf --cab \"$(printf 't\\377')\" --dir \"$1\" "
                                         "\"$(printf 'f\\376.txt')\"",
                                         kCab, dir.path()});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    const QByteArray inf = QFile::encodeName(dir.path()) + "/t\xff.inf";
    QCOMPARE(r.out, inf + "\n");
    const std::string expected =
        distribution::composeInf({"t\xff", bytes(dir.path()), "myinstall\\directory", {"f\xfe.txt"}})
            .toStdString();
    QVERIFY(
        QByteArray(expected.c_str()).contains("1=\"Run this from a short file name dir\",t\xff.cab,0\r\n"));
    // Read through the exact bytes: the name holds no U+FFFD.
    const int fd = ::open(inf.constData(), O_RDONLY);
    QVERIFY(fd >= 0);
    QByteArray content(int(expected.size()) + 1, '\0');
    content.truncate(::read(fd, content.data(), content.size()));
    ::close(fd);
    QCOMPARE(content, QByteArray::fromStdString(expected));
    // QTemporaryDir removes by text, which cannot name this file.
    QCOMPARE(::unlink(inf.constData()), 0);
}

QTEST_GUILESS_MAIN(TestCliPackage)
#include "tst_cli_package.moc"
