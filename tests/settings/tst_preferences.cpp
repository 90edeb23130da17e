// Proves the preferences store reads and writes its text values as the registry root did.
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "settings/preferences.h"
#include "support/testutil.h"

using ravelin::settings::parseInteger;
using ravelin::settings::Preferences;

class TestPreferences : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void readInteger_data();
    void readInteger();
    void readBoolean_data();
    void readBoolean();
    void writesTextInTheUsersStore();
    void namesIgnoreCase();
    void listValueReadsJoined();
    void damagedFileGivesDefaults_data();
    void damagedFileGivesDefaults();
    void unwritableStoreReportsFailure();
};

void TestPreferences::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("value");
    QTest::newRow("decimal") << "42" << true << 42;
    QTest::newRow("zero") << "0" << true << 0;
    QTest::newRow("negative") << "-3" << true << -3;
    QTest::newRow("plus") << "+7" << true << 7;
    QTest::newRow("hex lower x") << "0x2" << true << 2;
    QTest::newRow("hex upper X") << "0X1f" << true << 31;
    QTest::newRow("hex max") << "0x7FFFFFFF" << true << 2147483647;
    QTest::newRow("int min") << "-2147483648" << true << int(-2147483648LL);
    QTest::newRow("word") << "two" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("bare 0x") << "0x" << false << 0;
    QTest::newRow("bad hex digit") << "0x1g" << false << 0;
    QTest::newRow("trailing text") << "12abc" << false << 0;
    QTest::newRow("space") << " 1" << false << 0;
    QTest::newRow("sign alone") << "-" << false << 0;
    QTest::newRow("signed hex") << "-0x2" << false << 0;
    QTest::newRow("too big") << "2147483648" << false << 0;
    QTest::newRow("hex too big") << "0x80000000" << false << 0;
    QTest::newRow("decimal point") << "1.5" << false << 0;
}

void TestPreferences::parse()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(int, value);
    const std::optional<int> parsed = parseInteger(text);
    QCOMPARE(parsed.has_value(), accepted);
    if (accepted)
        QCOMPARE(*parsed, value);
}

void TestPreferences::readInteger_data()
{
    QTest::addColumn<QString>("stored"); // null: value absent
    QTest::addColumn<int>("defaultValue");
    QTest::addColumn<int>("expected");
    QTest::newRow("absent") << QString() << 0 << 0;
    QTest::newRow("absent, other default") << QString() << 5 << 5;
    QTest::newRow("decimal") << "3" << 0 << 3;
    QTest::newRow("0x2") << "0x2" << 0 << 2;
    QTest::newRow("two") << "two" << 0 << 0;
    QTest::newRow("two, other default") << "two" << 9 << 9;
    QTest::newRow("empty text") << "" << 4 << 4;
}

void TestPreferences::readInteger()
{
    QFETCH(QString, stored);
    QFETCH(int, defaultValue);
    QFETCH(int, expected);
    QTemporaryDir dir;
    Preferences prefs(dir.filePath("p.ini"));
    if (!stored.isNull())
        QVERIFY(prefs.writeString("AIInt", stored));
    QCOMPARE(prefs.readInteger("AIInt", defaultValue), expected);
}

void TestPreferences::readBoolean_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("defaultValue");
    QTest::addColumn<bool>("expected");
    QTest::newRow("absent") << QString() << false << false;
    QTest::newRow("absent, default true") << QString() << true << true;
    QTest::newRow("1") << "1" << false << true;
    QTest::newRow("0") << "0" << true << false;
    QTest::newRow("non-zero") << "7" << false << true;
    QTest::newRow("hex") << "0x10" << false << true;
    QTest::newRow("text true is not a number") << "true" << false << false;
}

void TestPreferences::readBoolean()
{
    QFETCH(QString, stored);
    QFETCH(bool, defaultValue);
    QFETCH(bool, expected);
    QTemporaryDir dir;
    Preferences prefs(dir.filePath("p.ini"));
    if (!stored.isNull())
        QVERIFY(prefs.writeString("AISetting", stored));
    QCOMPARE(prefs.readBoolean("AISetting", defaultValue), expected);
}

void TestPreferences::writesTextInTheUsersStore()
{
    {
        Preferences prefs;
        QVERIFY(prefs.writeInteger("AIInt", 3));
        QVERIFY(prefs.writeBoolean("AISetting", true));
        QVERIFY(prefs.writeBoolean("Other", false));
        QVERIFY(prefs.writeString("NormPos", "10,20,300,400"));
    }
    // The file the desktop keeps for this user, in its documented place.
    const QString file = qEnvironmentVariable("XDG_CONFIG_HOME") + "/Korvane Corp./Ravelin.conf";
    QVERIFY2(QFile::exists(file), qPrintable(file));
    const QString text = QString::fromUtf8(ravelin::test::readFile(file));
    QVERIFY(text.contains("[v6.0]"));
    QVERIFY(text.contains("AIInt=3"));
    QVERIFY(text.contains("AISetting=1"));
    QVERIFY(text.contains("Other=0"));
    Preferences again;
    QCOMPARE(again.readInteger("AIInt", 0), 3);
    QCOMPARE(again.readBoolean("AISetting", false), true);
    QCOMPARE(again.readString("NormPos"), QString("10,20,300,400"));
}

void TestPreferences::namesIgnoreCase()
{
    QTemporaryDir dir;
    Preferences prefs(dir.filePath("p.ini"));
    QVERIFY(prefs.writeInteger("AIInt", 2));
    QCOMPARE(prefs.readInteger("aiint", 0), 2);
    QVERIFY(prefs.writeInteger("aiINT", 1));
    QCOMPARE(prefs.names(), QStringList{"aiINT"});
    QCOMPARE(prefs.readInteger("AIInt", 0), 1);
    QVERIFY(prefs.remove("AIINT"));
    QVERIFY(!prefs.contains("AIInt"));
}

void TestPreferences::listValueReadsJoined()
{
    // A hand-edited file without quotes around a list of numbers.
    QTemporaryDir dir;
    const QString file = dir.filePath("p.ini");
    QVERIFY(ravelin::test::writeFile(file, "[v6.0]\nNormPos=10, 20, 30, 40\nMinMaxPos=\"1,2,3,4\"\n"));
    Preferences prefs(file);
    QCOMPARE(prefs.readString("NormPos"), QString("10,20,30,40"));
    QCOMPARE(prefs.readString("MinMaxPos"), QString("1,2,3,4"));
}

void TestPreferences::damagedFileGivesDefaults_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("asDirectory");
    QTest::newRow("random bytes") << ravelin::test::randomBytes(4096, 7) << false;
    QTest::newRow("serialised variant") << QByteArray("[v6.0]\nAIInt=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x1)\n"
                                                      "AISetting=@Rect(1 2 3)\n")
                                        << false;
    QTest::newRow("broken sections") << QByteArray("[v6.0\n=\n[[\nAIInt\n\xff\xfe\x00=\x01\n") << false;
    QTest::newRow("directory instead of file") << QByteArray() << true;
}

void TestPreferences::damagedFileGivesDefaults()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, asDirectory);
    QTemporaryDir dir;
    const QString file = dir.filePath("p.ini");
    if (asDirectory)
        QVERIFY(QDir().mkpath(file));
    else
        QVERIFY(ravelin::test::writeFile(file, content));
    Preferences prefs(file);
    QCOMPARE(prefs.readInteger("AIInt", 0), 0);
    QCOMPARE(prefs.readBoolean("AISetting", false), false);
    QCOMPARE(prefs.readString("NormPos", "d"), QString("d"));
    // Writing afterwards neither crashes nor leaves a wrong value behind.
    const bool written = prefs.writeInteger("AIInt", 2);
    QCOMPARE(written, !asDirectory);
    if (written)
        QCOMPARE(Preferences(file).readInteger("AIInt", 0), 2);
}

void TestPreferences::unwritableStoreReportsFailure()
{
    // A file where the store's folder should be: no write can succeed, also as root.
    QTemporaryDir dir;
    QVERIFY(ravelin::test::writeFile(dir.filePath("blocked"), "x"));
    Preferences prefs(dir.filePath("blocked/p.ini"));
    QVERIFY(!prefs.writeInteger("AIInt", 1));
    QCOMPARE(prefs.readInteger("AIInt", 0), 1); // kept in memory for this run
}

QTEST_GUILESS_MAIN(TestPreferences)
#include "tst_preferences.moc"
