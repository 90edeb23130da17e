// Proves setup.ini's eight lines, the extraction of an embedded resource to a file (replace, execute bit,
// no partial file on failure) and the embedded setup program written out as SETUP.EXE.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

#include "crypto/blowfish.h"
#include "distribution/setuppackage.h"
#include "support/filesizelimit.h"
#include "support/testutil.h"

using namespace ravelin::distribution;
using ravelin::test::readFile;
using ravelin::test::writeFile;

namespace {

std::string bytes(const QString& text)
{
    return QFile::encodeName(text).toStdString();
}

QString text(const std::string& bytes)
{
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

} // namespace

class TestSetupPackage : public QObject {
    Q_OBJECT
private slots:
    void setupIniExample();
    void setupIniReplacesOldFile();
    void setupIniKeepsValuesAsTyped();
    void setupIniFailureText();
    void derivedPaths();
    void encryptedInfDecryptsToInfAndPadding();
    void encryptedInfWithoutInfFails();
    void extractsResource();
    void extractReplacesAndMakesExecutable();
    void extractFailures_data();
    void extractFailures();
    void extractReplacesPlantedLink_data();
    void extractReplacesPlantedLink();
    void setupProgramIsEmbedded();
};

void TestSetupPackage::setupIniExample()
{
    QTemporaryDir dir;
    SetupPackageRequest request;
    request.cabinetName = "tools";
    request.outputDirectory = bytes(dir.path());
    request.installDirectory = "myinstall\\directory";
    const Result result = WriteSetupIni(request);
    QVERIFY2(result.ok(), qPrintable(result.text()));
    QCOMPARE(readFile(dir.filePath("setup.ini")), QByteArray("[General]\r\n"
                                                             "a1=\r\n"
                                                             "a2=\r\n"
                                                             "a3=readme.txt\r\n"
                                                             "a4=tools.ecf\r\n"
                                                             "a5=tools.cab\r\n"
                                                             "a6=tools.in_\r\n"
                                                             "a7=myinstall\\directory\r\n"));
}

void TestSetupPackage::setupIniReplacesOldFile()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("setup.ini"),
                      "[Other]\r\nx=1\r\n[General]\r\na1=old\r\na9=stale\r\n" + QByteArray(4000, ';')));
    SetupPackageRequest request;
    request.cabinetName = "c";
    request.outputDirectory = bytes(dir.path());
    QVERIFY(WriteSetupIni(request).ok());
    const QByteArray written = readFile(dir.filePath("setup.ini"));
    QCOMPARE(written, composeSetupIni(request));
    QCOMPARE(written.count("\r\n"), 8);
    QVERIFY(!written.contains("Other") && !written.contains("stale"));
}

void TestSetupPackage::setupIniKeepsValuesAsTyped()
{
    SetupPackageRequest request;
    request.cabinetName = "my.tools";
    request.title = " My Title ";
    request.description = "the tools, all of them";
    request.readmeFileName = "notes.txt";
    request.installDirectory = "\\abs\\dir";
    QCOMPARE(composeSetupIni(request), QByteArray("[General]\r\n"
                                                  "a1= My Title \r\n"
                                                  "a2=the tools, all of them\r\n"
                                                  "a3=notes.txt\r\n"
                                                  "a4=my.tools.ecf\r\n"
                                                  "a5=my.tools.cab\r\n"
                                                  "a6=my.tools.in_\r\n"
                                                  "a7=\\abs\\dir\r\n"));
}

void TestSetupPackage::setupIniFailureText()
{
    QTemporaryDir dir;
    SetupPackageRequest request;
    request.cabinetName = "c";
    request.outputDirectory = bytes(dir.filePath("missing"));
    const Result result = WriteSetupIni(request);
    QCOMPARE(result.failed, Step::CreateFile);
    QCOMPARE(result.text(), "Cannot create file " + dir.filePath("missing") + "/setup.ini");
}

void TestSetupPackage::derivedPaths()
{
    SetupPackageRequest request;
    request.cabinetName = "my.tools";
    request.outputDirectory = "/out";
    QCOMPARE(encryptedInfPath(request), std::string("/out/my.tools.in_"));
    QCOMPARE(setupExePath(request), std::string("/out/SETUP.EXE"));
    QCOMPARE(setupIniPath(request), std::string("/out/setup.ini"));
    QCOMPARE(encryptionFailureMessage(request),
             QStringLiteral("There was an unknown error whilst attempting to encrypt /out/my.tools.inf"));
    request.cabinetName.clear();
    QCOMPARE(encryptedInfPath(request), std::string("/out/.in_"));
}

void TestSetupPackage::encryptedInfDecryptsToInfAndPadding()
{
    QTemporaryDir dir;
    SetupPackageRequest request;
    request.cabinetName = "tools";
    request.outputDirectory = bytes(dir.path());
    request.installDirectory = kDefaultInstallDirectory;
    request.passPhrase = "sixteen chars ok";
    InfRequest inf = request.infRequest();
    inf.fileNames = {"b.txt", "a.exe"};
    QVERIFY(WriteInfFile(inf).ok());
    const QByteArray plain = readFile(text(infFilePath(inf)));
    QVERIFY(plain.size() % 8 != 0); // the padding shows

    const Result result = WriteEncryptedInf(request);
    QVERIFY2(result.ok(), qPrintable(result.text()));
    const QByteArray encrypted = readFile(text(encryptedInfPath(request)));
    QCOMPARE(encrypted.size(), (plain.size() + 7) / 8 * 8);
    QVERIFY(!encrypted.contains("Korvane"));
    QVERIFY(QFileInfo::exists(text(infFilePath(inf)))); // the plain INF stays

    const QString decrypted = dir.filePath("check.inf");
    ravelin::crypto::decryptFile(text(encryptedInfPath(request)), decrypted, request.passPhrase);
    QCOMPARE(readFile(decrypted), plain + QByteArray(encrypted.size() - plain.size(), '\0'));
    QVERIFY(readFile(decrypted).startsWith("; Created with Korvane Ravelin v6.0\r\n"));

    // Another pass phrase replaces the file; the first no longer opens it.
    request.passPhrase = "another sixteen!";
    QVERIFY(WriteEncryptedInf(request).ok());
    ravelin::crypto::decryptFile(text(encryptedInfPath(request)), decrypted, "sixteen chars ok");
    QVERIFY(!readFile(decrypted).startsWith("; Created with"));
    ravelin::crypto::decryptFile(text(encryptedInfPath(request)), decrypted, "another sixteen!");
    QVERIFY(readFile(decrypted).startsWith(plain));
}

void TestSetupPackage::encryptedInfWithoutInfFails()
{
    QTemporaryDir dir;
    SetupPackageRequest request;
    request.cabinetName = "tools";
    request.outputDirectory = bytes(dir.path());
    request.passPhrase = "sixteen chars ok";
    const Result result = WriteEncryptedInf(request);
    QCOMPARE(result.failed, Step::OpenInput);
    QCOMPARE(result.path, bytes(dir.filePath("tools.inf")));
    QVERIFY(!QFileInfo::exists(text(encryptedInfPath(request))));

    // An output that cannot be created.
    QVERIFY(writeFile(dir.filePath("tools.inf"), "; Created with Korvane Ravelin v6.0\r\n"));
    QVERIFY(QDir(dir.path()).mkdir("tools.in_"));
    QVERIFY(!WriteEncryptedInf(request).ok());
}

void TestSetupPackage::extractsResource()
{
    QTemporaryDir dir;
    const QString target = dir.filePath("OUT.BIN");
    Result failure;
    QVERIFY(ExtractResourceToFile("TESTTYPE", "BLOB", bytes(target), &failure));
    QVERIFY(failure.ok());
    QCOMPARE(readFile(target), readFile(QStringLiteral(RAVELIN_TEST_BLOB)));
    QVERIFY(QFileInfo(target).permissions() & QFileDevice::ExeOwner);
}

void TestSetupPackage::extractReplacesAndMakesExecutable()
{
    QTemporaryDir dir;
    const QString target = dir.filePath("SETUP.EXE");
    QVERIFY(writeFile(target, QByteArray(100000, 'z')));
    QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QVERIFY(ExtractResourceToFile("TESTTYPE", "BLOB", bytes(target)));
    QCOMPARE(readFile(target), readFile(QStringLiteral(RAVELIN_TEST_BLOB)));
    QVERIFY(QFileInfo(target).permissions() & QFileDevice::ExeOwner);
}

void TestSetupPackage::extractFailures_data()
{
    QTest::addColumn<QString>("resource");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("step");
    QTest::newRow("no such resource") << "NOSUCH"
                                      << "" << int(Step::FindResource);
    QTest::newRow("missing directory") << "BLOB"
                                       << "missing" << int(Step::CreateFile);
    QTest::newRow("directory in the way") << "BLOB"
                                          << "directory" << int(Step::CreateFile);
    QTest::newRow("file-size limit") << "BLOB"
                                     << "limit" << int(Step::WriteFile);
    QTest::newRow("file-size limit, earlier file") << "BLOB"
                                                   << "limit earlier" << int(Step::WriteFile);
}

void TestSetupPackage::extractFailures()
{
    QFETCH(QString, resource);
    QFETCH(QString, setup);
    QFETCH(int, step);
    QTemporaryDir dir;
    QString target = dir.filePath("SETUP.EXE");
    if (setup == "missing")
        target = dir.filePath("no/SETUP.EXE");
    else if (setup == "directory")
        QVERIFY(QDir(dir.path()).mkdir("SETUP.EXE"));
    else if (setup == "limit earlier")
        QVERIFY(writeFile(target, "an earlier setup program"));
    Result failure;
    {
        ravelin::test::FileSizeLimit limit(setup.startsWith("limit") ? 32 : RLIM_INFINITY);
        QVERIFY(!ExtractResourceToFile("TESTTYPE", resource, bytes(target), &failure));
    }
    QCOMPARE(int(failure.failed), step);
    if (setup.isEmpty() || setup == "limit") {
        // Nothing is left behind: neither a new file nor the partial one.
        QVERIFY(!QFileInfo(target).exists() && !QFileInfo(target).isSymLink());
    }
    if (setup == "limit earlier")
        QCOMPARE(readFile(target), QByteArray("an earlier setup program"));
    QVERIFY(QDir(dir.path()).entryList({".ravelin-*"}, QDir::Files | QDir::Hidden).isEmpty());
}

// A link planted under SETUP.EXE's name is replaced by the setup program and
// the file it points to is not written; a link to a device is refused and
// the device left alone.
void TestSetupPackage::extractReplacesPlantedLink_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("file") << "victim";
    QTest::newRow("device") << "/dev/full";
}

void TestSetupPackage::extractReplacesPlantedLink()
{
    QFETCH(QString, target);
    QTemporaryDir dir;
    if (target == "victim") {
        target = dir.filePath("victim");
        QVERIFY(writeFile(target, "the link's target"));
    }
    const QString setupExe = dir.filePath("SETUP.EXE");
    QVERIFY(QFile::link(target, setupExe));
    Result failure;
    const bool written = ExtractResourceToFile("TESTTYPE", "BLOB", bytes(setupExe), &failure);
    if (target == "/dev/full") {
        QVERIFY(!written);
        QCOMPARE(failure.failed, Step::CreateFile);
        QCOMPARE(QFileInfo(setupExe).symLinkTarget(), target);
        struct stat st {};
        QVERIFY(::stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode));
        return;
    }
    QVERIFY2(written, failure.describe().c_str());
    QVERIFY(!QFileInfo(setupExe).isSymLink());
    QCOMPARE(readFile(setupExe), readFile(QStringLiteral(RAVELIN_TEST_BLOB)));
    QCOMPARE(readFile(target), QByteArray("the link's target"));
}

void TestSetupPackage::setupProgramIsEmbedded()
{
#ifdef RAVELIN_SETUP_IMAGE
    const QByteArray image = setupProgramImage();
    QVERIFY(image.size() > 1000);
    QVERIFY(image.startsWith("\x7f"
                             "ELF"));
    QCOMPARE(image, readFile(QStringLiteral(RAVELIN_SETUP_IMAGE)));

    QTemporaryDir dir;
    SetupPackageRequest request;
    request.outputDirectory = bytes(dir.path());
    QVERIFY(writeFile(text(setupExePath(request)), "an older setup program"));
    QVERIFY(ExtractResourceToFile(kSetupResourceType, kSetupResourceName, setupExePath(request)));
    QCOMPARE(readFile(text(setupExePath(request))), image);
    QVERIFY(QFileInfo(text(setupExePath(request))).isExecutable());
#else
    QSKIP("this build carries no setup program");
#endif
}

QTEST_GUILESS_MAIN(TestSetupPackage)
#include "tst_setuppackage.moc"
