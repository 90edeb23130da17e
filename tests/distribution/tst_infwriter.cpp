// Proves the INF writer's file byte for byte, its outcome and failure texts, and its failures by step
// (an earlier file kept whole, no partial file left).
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "distribution/infwriter.h"
#include "platform/constants.h"
#include "support/filesizelimit.h"
#include "support/testutil.h"

#include <sys/stat.h>

using namespace ravelin::distribution;

namespace {

std::string bytes(const QString& text)
{
    return QFile::encodeName(text).toStdString();
}

std::vector<std::string> bytes(const QStringList& texts)
{
    std::vector<std::string> out;
    for (const QString& t : texts)
        out.push_back(bytes(t));
    return out;
}

// The lines that never change, up to and including "[SourceDisksNames]".
QByteArray head()
{
    return QByteArray("; Created with Korvane Ravelin v6.0\r\n") + "; " + ravelin::kWebMainPage +
           "\r\n"
           " \r\n"
           "[version]\r\n"
           "signature=\"$CHICAGO$\"\r\n"
           " \r\n"
           "[DefaultInstall]\r\n"
           "CopyFiles = copy.files\r\n"
           " \r\n"
           "[SourceDisksNames]\r\n";
}

} // namespace

class TestInfWriter : public QObject {
    Q_OBJECT
private slots:
    void composesByteForByte_data();
    void composesByteForByte();
    void writesWorkedExampleToDisk();
    void replacesExistingFileWhole();
    void pathIsPlainConcatenation();
    void firstLineNeverVaries();
    void outcomeAndFailureTexts();
    void failureNamesStep_data();
    void failureNamesStep();
};

void TestInfWriter::composesByteForByte_data()
{
    QTest::addColumn<QString>("cab");
    QTest::addColumn<QString>("installDir");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QByteArray>("tail");

    QTest::newRow("worked example") << "tools"
                                    << "myinstall\\directory" << QStringList{"b.txt", "a.exe"}
                                    << QByteArray("1=\"Run this from a short file name dir\",tools.cab,0\r\n"
                                                  " \r\n"
                                                  "[DestinationDirs]\r\n"
                                                  "copy.files = 30,myinstall\\directory\r\n"
                                                  " \r\n"
                                                  "[SourceDisksFiles]\r\n"
                                                  "b.txt=1\r\n"
                                                  "a.exe=1\r\n"
                                                  " \r\n"
                                                  "[copy.files]\r\n"
                                                  "b.txt\r\n"
                                                  "a.exe\r\n");
    QTest::newRow("empty file list") << "tools"
                                     << "myinstall\\directory" << QStringList{}
                                     << QByteArray("1=\"Run this from a short file name dir\",tools.cab,0\r\n"
                                                   " \r\n"
                                                   "[DestinationDirs]\r\n"
                                                   "copy.files = 30,myinstall\\directory\r\n"
                                                   " \r\n"
                                                   "[SourceDisksFiles]\r\n"
                                                   " \r\n"
                                                   "[copy.files]\r\n");
    QTest::newRow("empty cabinet name") << ""
                                        << "x" << QStringList{"a"}
                                        << QByteArray("1=\"Run this from a short file name dir\",.cab,0\r\n"
                                                      " \r\n"
                                                      "[DestinationDirs]\r\n"
                                                      "copy.files = 30,x\r\n"
                                                      " \r\n"
                                                      "[SourceDisksFiles]\r\n"
                                                      "a=1\r\n"
                                                      " \r\n"
                                                      "[copy.files]\r\n"
                                                      "a\r\n");
    QTest::newRow("empty install directory")
        << "c"
        << "" << QStringList{"a"}
        << QByteArray("1=\"Run this from a short file name dir\",c.cab,0\r\n"
                      " \r\n"
                      "[DestinationDirs]\r\n"
                      "copy.files = 30,\r\n"
                      " \r\n"
                      "[SourceDisksFiles]\r\n"
                      "a=1\r\n"
                      " \r\n"
                      "[copy.files]\r\n"
                      "a\r\n");
    QTest::newRow("spaces and commas unchanged")
        << "my tools"
        << "C:\\with space\\" << QStringList{"read me.txt", "a,b.dat", " lead"}
        << QByteArray("1=\"Run this from a short file name dir\",my tools.cab,0\r\n"
                      " \r\n"
                      "[DestinationDirs]\r\n"
                      "copy.files = 30,C:\\with space\\\r\n"
                      " \r\n"
                      "[SourceDisksFiles]\r\n"
                      "read me.txt=1\r\n"
                      "a,b.dat=1\r\n"
                      " lead=1\r\n"
                      " \r\n"
                      "[copy.files]\r\n"
                      "read me.txt\r\n"
                      "a,b.dat\r\n"
                      " lead\r\n");
    const QString longName(5000, QLatin1Char('n'));
    QTest::newRow("long line not wrapped")
        << "c"
        << "d" << QStringList{longName}
        << QByteArray("1=\"Run this from a short file name dir\",c.cab,0\r\n"
                      " \r\n"
                      "[DestinationDirs]\r\n"
                      "copy.files = 30,d\r\n"
                      " \r\n"
                      "[SourceDisksFiles]\r\n") +
               longName.toLatin1() + "=1\r\n \r\n[copy.files]\r\n" + longName.toLatin1() + "\r\n";
}

void TestInfWriter::composesByteForByte()
{
    QFETCH(QString, cab);
    QFETCH(QString, installDir);
    QFETCH(QStringList, files);
    QFETCH(QByteArray, tail);
    const InfRequest request{bytes(cab), "/out", bytes(installDir), bytes(files)};
    QCOMPARE(composeInf(request), head() + tail);
}

void TestInfWriter::writesWorkedExampleToDisk()
{
    QTemporaryDir dir;
    const InfRequest request{"tools", bytes(dir.path()), kDefaultInstallDirectory, {"b.txt", "a.exe"}};
    const Result result = WriteInfFile(request);
    QVERIFY2(result.ok(), qPrintable(result.text()));
    const QByteArray written = ravelin::test::readFile(dir.filePath("tools.inf"));
    QCOMPARE(written, composeInf(request));
    QCOMPARE(written.count("\r\n"), 22);
    QVERIFY(written.endsWith("a.exe\r\n"));
    QVERIFY(!written.contains("\n\r\n") && !written.startsWith("\xEF\xBB\xBF"));
}

void TestInfWriter::replacesExistingFileWhole()
{
    QTemporaryDir dir;
    QVERIFY(ravelin::test::writeFile(dir.filePath("tools.inf"), QByteArray(20000, 'x')));
    InfRequest request{"tools", bytes(dir.path()), "first", {"a"}};
    QVERIFY(WriteInfFile(request).ok());
    request.installDirectory = "second";
    QVERIFY(WriteInfFile(request).ok());
    const QByteArray written = ravelin::test::readFile(dir.filePath("tools.inf"));
    QCOMPARE(written, composeInf(request));
    QVERIFY(!written.contains("first") && !written.contains("xxxx"));
}

void TestInfWriter::pathIsPlainConcatenation()
{
    QCOMPARE(infFilePath({"tools", "/out", "", {}}), std::string("/out/tools.inf"));
    QCOMPARE(infFilePath({"tools", "/out/", "", {}}), std::string("/out//tools.inf"));
    QCOMPARE(infFilePath({"", "/out", "", {}}), std::string("/out/.inf"));
    QCOMPARE(infFilePath({"my.tools", "", "", {}}), std::string("/my.tools.inf"));
}

void TestInfWriter::firstLineNeverVaries()
{
    const InfRequest requests[] = {
        {"", "", "", {}}, {"; x\r\n", "/o", "\r\n", {"\r\n"}}, {"tools", "/o", "d", {"a", "b"}}};
    for (const InfRequest& r : requests)
        QVERIFY(composeInf(r).startsWith("; Created with Korvane Ravelin v6.0\r\n"));
}

void TestInfWriter::outcomeAndFailureTexts()
{
    const InfRequest request{"tools", "/out", kDefaultInstallDirectory, {}};
    QCOMPARE(infOutcomeLine(request),
             QStringLiteral("tools.inf can be found in your /out directory.  Task completed successfully"));
    QCOMPARE(infFailureMessage(request),
             QStringLiteral("There was an error while trying to create tools.inf"));
    QCOMPARE(kInfFailureHelpTopic, 1);
    QCOMPARE(QString::fromLatin1(kDefaultInstallDirectory), QStringLiteral("myinstall\\directory"));
}

void TestInfWriter::failureNamesStep_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("text");
    QTest::newRow("missing directory") << "missing" << int(Step::CreateFile) << "Cannot create file %1";
    QTest::newRow("directory in the way") << "directory" << int(Step::CreateFile) << "Cannot create file %1";
    QTest::newRow("file-size limit") << "limit" << int(Step::WriteFile) << "File too large";
    QTest::newRow("pipe under the name") << "fifo" << int(Step::CreateFile) << "Cannot create file %1";
}

void TestInfWriter::failureNamesStep()
{
    QFETCH(QString, setup);
    QFETCH(int, step);
    QFETCH(QString, text);
    QTemporaryDir dir;
    InfRequest request{"tools", bytes(dir.path()), "d", {"a"}};
    // Long enough that its write passes the file-size limit.
    request.fileNames.push_back(std::string(5000, 'n'));
    const QByteArray earlier = "an earlier INF";
    if (setup == "missing")
        request.outputDirectory = bytes(dir.filePath("no/such"));
    else if (setup == "directory")
        QVERIFY(QDir(dir.path()).mkdir("tools.inf"));
    else if (setup == "limit")
        QVERIFY(ravelin::test::writeFile(dir.filePath("tools.inf"), earlier));
    else if (setup == "fifo") // refused, never replaced by the rename
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath("tools.inf")).constData(), 0600), 0);
    Result result;
    {
        ravelin::test::FileSizeLimit limit(setup == "limit" ? 1024 : RLIM_INFINITY);
        result = WriteInfFile(request);
    }
    QVERIFY(!result.ok());
    QCOMPARE(int(result.failed), step);
    QCOMPARE(result.path, infFilePath(request));
    const QString shown = QFile::decodeName(QByteArray::fromStdString(infFilePath(request)));
    QCOMPARE(result.text(), text.contains("%1") ? text.arg(shown) : text);
    if (setup == "limit")
        QCOMPARE(ravelin::test::readFile(dir.filePath("tools.inf")), earlier);
    if (setup == "fifo")
        QVERIFY(QFileInfo(dir.filePath("tools.inf")).isFile() == false &&
                QFileInfo::exists(dir.filePath("tools.inf")));
    QVERIFY(QDir(dir.path()).entryList({".ravelin-*"}, QDir::Files | QDir::Hidden).isEmpty());
}

QTEST_GUILESS_MAIN(TestInfWriter)
#include "tst_infwriter.moc"
