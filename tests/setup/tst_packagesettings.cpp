// Proves how the setup program reads setup.ini: the written example, defaults, empty values, profile rules,
// and a pipe under its name never waited on.
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include "setup/packagesettings.h"
#include "support/testutil.h"

using namespace ravelin::setup;

class TestPackageSettings : public QObject {
    Q_OBJECT
private slots:
    void parses_data();
    void parses();
    void missingFileGivesDefaults();
    void pipeGivesDefaults();
};

void TestPackageSettings::parses_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("expected"); // a1..a7
    QTest::newRow("written example")
        << QByteArray(
               "[General]\r\na1=\r\na2=\r\na3=readme.txt\r\na4=tools.ecf\r\na5=tools.cab\r\na6=tools.in_\r\n"
               "a7=myinstall\\directory\r\n")
        << QStringList{"", "", "readme.txt", "tools.ecf", "tools.cab", "tools.in_", "myinstall\\directory"};
    QTest::newRow("missing keys take defaults")
        << QByteArray("[General]\na2=Tools\n")
        << QStringList{"Vaultline", "Tools", "", "", "", "", "Unknown"};
    QTest::newRow("other sections ignored")
        << QByteArray("a1=outside\n[Other]\na1=other\n[general]\na1=Mine\n[More]\na7=no\n")
        << QStringList{"Mine", "", "", "", "", "", "Unknown"};
    QTest::newRow("profile rules")
        << QByteArray("[ General ]\n  A1 =  Spaced Title  \na2=\"quoted, text\"\na1=second\n;a3=comment\n"
                      "a3=read=me.txt\na8=x\n")
        << QStringList{"Spaced Title", "quoted, text", "read=me.txt", "", "", "", "Unknown"};
    QTest::newRow("empty file") << QByteArray() << QStringList{"Vaultline", "", "", "", "", "", "Unknown"};
}

void TestPackageSettings::parses()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, expected);
    const PackageSettings s = parseSetupIni(text);
    QCOMPARE((QStringList{s.title, s.description, s.readmeFileName, s.encryptedCabinet, s.cabinet,
                          s.encryptedInf, s.installDirectory}),
             expected);
}

void TestPackageSettings::missingFileGivesDefaults()
{
    QTemporaryDir dir;
    const std::string folder = QFile::encodeName(dir.path()).toStdString();
    std::string error;
    PackageSettings s = readSetupIni(folder, &error);
    QCOMPARE(QString::fromStdString(error), dir.path() + "/setup.ini: No such file or directory");
    QCOMPARE(s.title, QStringLiteral("Vaultline"));
    QCOMPARE(s.installDirectory, QStringLiteral("Unknown"));
    QVERIFY(s.encryptedInf.isEmpty() && s.readmeFileName.isEmpty());
    QVERIFY(ravelin::test::writeFile(dir.filePath("setup.ini"), "[General]\r\na1=Read\r\n"));
    QCOMPARE(readSetupIni(folder, &error).title, QStringLiteral("Read"));
    QVERIFY(error.empty());
}

void TestPackageSettings::pipeGivesDefaults()
{
    QTemporaryDir dir;
    QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath("setup.ini")).constData(), 0600), 0);
    const PackageSettings s = readSetupIni(QFile::encodeName(dir.path()).toStdString());
    QCOMPARE(s.title, QStringLiteral("Vaultline"));
    QVERIFY(s.encryptedInf.isEmpty());
}

QTEST_GUILESS_MAIN(TestPackageSettings)
#include "tst_packagesettings.moc"
