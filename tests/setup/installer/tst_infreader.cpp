// Proves the INF reader's model: sections, keys, fields, quotes, comments, line ends, padding, errors.
#include <QTest>

#include "setup/installer/infreader.h"

using namespace ravelin::installer;

class TestInfReader : public QObject {
    Q_OBJECT
private slots:
    void fields_data();
    void fields();
    void readsWrittenLayout();
    void sectionsIgnoreCaseAndMerge();
    void lineEndsAndPadding();
    void refusesMalformed_data();
    void refusesMalformed();
};

void TestInfReader::fields_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("one") << "a" << QStringList{"a"};
    QTest::newRow("trimmed") << "  30 ,\tmy dir  " << QStringList{"30", "my dir"};
    QTest::newRow("empty fields") << ",x," << QStringList{"", "x", ""};
    QTest::newRow("quoted comma") << "\"a, b\",c" << QStringList{"a, b", "c"};
    QTest::newRow("quoted blanks kept") << "\" a \"" << QStringList{" a "};
    QTest::newRow("doubled quote") << "\"say \"\"hi\"\"\"" << QStringList{"say \"hi\""};
    QTest::newRow("backslashes kept")
        << "30,myinstall\\directory\\" << QStringList{"30", "myinstall\\directory\\"};
}

void TestInfReader::fields()
{
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    QCOMPARE(splitInfFields(text), expected);
}

void TestInfReader::readsWrittenLayout()
{
    const QByteArray text = "; Created with Korvane Ravelin v6.0\r\n"
                            "; http://www.korvane.example/\r\n"
                            " \r\n"
                            "[version]\r\n"
                            "signature=\"$CHICAGO$\"\r\n"
                            " \r\n"
                            "[DefaultInstall]\r\n"
                            "CopyFiles = copy.files\r\n"
                            " \r\n"
                            "[SourceDisksNames]\r\n"
                            "1=\"Run this from a short file name dir\",tools.cab,0\r\n"
                            " \r\n"
                            "[DestinationDirs]\r\n"
                            "copy.files = 30,myinstall\\directory\r\n"
                            " \r\n"
                            "[SourceDisksFiles]\r\n"
                            "b.txt=1\r\n"
                            "a b.exe=1\r\n"
                            " \r\n"
                            "[copy.files]\r\n"
                            "b.txt\r\n"
                            "a b.exe\r\n";
    InfDocument doc;
    QString error;
    QVERIFY2(parseInf(text, &doc, &error), qPrintable(error));
    QCOMPARE(doc.sections.size(), 6);
    QCOMPARE(doc.entry("version", "Signature")->fields, QStringList{"$CHICAGO$"});
    QCOMPARE(doc.entry("defaultinstall", "copyfiles")->fields, QStringList{"copy.files"});
    QCOMPARE(doc.entry("SourceDisksNames", "1")->fields,
             (QStringList{"Run this from a short file name dir", "tools.cab", "0"}));
    QCOMPARE(doc.entry("DestinationDirs", "copy.files")->fields, (QStringList{"30", "myinstall\\directory"}));
    QCOMPARE(doc.entry("SourceDisksFiles", "a b.exe")->fields, QStringList{"1"});
    const InfSection* files = doc.section("copy.files");
    QCOMPARE(files->entries.size(), 2);
    QCOMPARE(files->entries[1].lineFields, QStringList{"a b.exe"});
    QCOMPARE(files->entries[1].hasKey, false);
    QCOMPARE(files->entries[1].lineNumber, 22);
    QVERIFY(doc.entry("copy.files", "b.txt") == nullptr);
}

void TestInfReader::sectionsIgnoreCaseAndMerge()
{
    InfDocument doc;
    QVERIFY(
        parseInf("stray=before any section\n[A]\nx=1\n[b]\n[a]\ny = 2 ; comment\n;only a comment\n", &doc));
    QCOMPARE(doc.sections.size(), 2);
    QCOMPARE(doc.section("a")->entries.size(), 2);
    QCOMPARE(doc.entry("A", "Y")->fields, QStringList{"2"});
    QVERIFY(doc.section("stray") == nullptr && doc.section("c") == nullptr);
    // A ";" inside quotes is text.
    QVERIFY(parseInf("[s]\nk=\"a;b\";c\n", &doc));
    QCOMPARE(doc.entry("s", "k")->fields, QStringList{"a;b"});
}

void TestInfReader::lineEndsAndPadding()
{
    InfDocument doc;
    // Everything after the first zero byte (the cipher's padding) is ignored.
    static const char text[] = "[s]\rk1=a\nk2=b\r\nk3=c\r\n\0\0\0[t]\r\n";
    QVERIFY(parseInf(QByteArray(text, sizeof text - 1), &doc));
    QCOMPARE(doc.sections.size(), 1);
    QCOMPARE(doc.section("s")->entries.size(), 3);
    QCOMPARE(doc.entry("s", "k3")->fields, QStringList{"c"});
    QCOMPARE(doc.entry("s", "k3")->lineNumber, 4);
    QVERIFY(parseInf(QByteArray(), &doc));
    QVERIFY(doc.sections.isEmpty());
}

void TestInfReader::refusesMalformed_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("reason");
    QTest::newRow("open quote") << QByteArray("[s]\nk=\"abc\n") << "line 2: a quote is not closed";
    QTest::newRow("open section") << QByteArray("[s]\n[broken\n") << "line 2: a section name lacks its \"]\"";
    QTest::newRow("too large") << QByteArray(kMaxInfSize + 1, ' ')
                               << "the INF file is larger than 8388608 bytes";
}

void TestInfReader::refusesMalformed()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, reason);
    InfDocument doc;
    QString error;
    QVERIFY(!parseInf(text, &doc, &error));
    QCOMPARE(error, reason);
}

QTEST_GUILESS_MAIN(TestInfReader)
#include "tst_infreader.moc"
