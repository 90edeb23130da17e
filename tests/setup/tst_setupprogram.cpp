// Drives the setup program's real windows offscreen on packages built by the distribution writers: the files
// arrive byte-identical under DESTDIR, and every failure shows its message and installs nothing.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

#include "crypto/blowfish.h"
#include "distribution/infwriter.h"
#include "distribution/setuppackage.h"
#include "setup/setupwindows.h"
#include "support/fakeprompter.h"
#include "support/testutil.h"

using namespace ravelin;
using namespace ravelin::setup;
using ravelin::test::FakePrompter;
using ravelin::test::readFile;
using ravelin::test::writeFile;

namespace {

const QString kPassPhrase = QStringLiteral("sixteen chars ok"); // exactly 16
const QString kDescription = QStringLiteral("the tools");

const QString kMatched = QStringLiteral("Your Pass Phrase has matched.  Setup will now continue.");
const QString kWrong = QStringLiteral("Sorry, you entered an inccorect pass phrase.");
const QString kTooShort = QStringLiteral("You have not entered the correct number of Characters for a valid "
                                         "Pass Phrase.  Please enter some more text.");
const QString kInfDecryption = QStringLiteral(
    "An error occured while trying to perform decryption.  Please contact the person you recieved this setup "
    "package from.");
const QString kCabDecryption = QStringLiteral("An error occured while trying to perform decryption.  Please "
                                              "contact the person/company you recieved this "
                                              "setup package from.");
const QString kInstallFailed = QStringLiteral("An error occured while trying to Install the tools.");

// A handler for the pass-phrase dialog: types `passPhrase` and presses Next.
std::function<int(QDialog*)> enterPassPhrase(const QString& passPhrase)
{
    return [passPhrase](QDialog* dialog) {
        auto* d = qobject_cast<PassPhraseDialog*>(dialog);
        if (!d)
            return -1;
        d->show();
        d->Edit1->setText(passPhrase);
        QTest::mouseClick(d->Button1, Qt::LeftButton);
        return d->isVisible() ? -2 : d->result();
    };
}

// A handler that presses a dialog's button (Next is Button1).
std::function<int(QDialog*)> press(const char* buttonName)
{
    return [buttonName](QDialog* dialog) {
        dialog->show();
        auto* b = dialog->findChild<QPushButton*>(QLatin1String(buttonName));
        if (!b)
            return -1;
        QTest::mouseClick(b, Qt::LeftButton);
        return dialog->result();
    };
}

} // namespace

class TestSetupProgram : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void windowsLookAsDesigned();
    void installsPackageEndToEnd();
    void wrongPassPhraseEndsAndInstallsNothing();
    void fifteenCharactersGiveLengthMessage();
    void phraseWithoutWindows1252ByteRefused();
    void missingSetupIniGivesDefaultsAndDecryptionMessage();
    void cabinetLackingAFileShowsInstallError();
    void hostileInfWritesNothingOutside();
    void brokenEncryptedFiles_data();
    void brokenEncryptedFiles();
    void readmeMissingAndCancelInReady();
    void activationStartsTheDialogs();
    void screenshots();

private:
    // Builds the five package files plus a readme in m_package, the way the
    // wizard does: cabinet, .ecf, INF, setup.ini, .in_ and SETUP.EXE. The INF
    // lists `listed` (default: the cabinet's files).
    void makePackage(const QStringList& listed = {}, const QByteArray& infOverride = {});

    std::unique_ptr<QTemporaryDir> m_root;
    QString m_work;    // where the wizard wrote
    QString m_package; // the end user's folder
    QString m_dest;    // DESTDIR
    QMap<QString, QByteArray> m_files;
    FakePrompter m_fake;
};

void TestSetupProgram::initTestCase()
{
    if (!test::haveProgram("gcab"))
        QSKIP("gcab is needed to build the test cabinets");
    m_files = {{"readme.txt", "The tool's own notes.\r\n"},
               {"tool binary.exe", test::randomBytes(120000, 11)},
               {"data.bin", test::randomBytes(4099, 5)}};
}

void TestSetupProgram::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    m_work = m_root->filePath("work");
    m_package = m_root->filePath("package");
    m_dest = m_root->filePath("dest");
    QVERIFY(QDir().mkpath(m_work) && QDir().mkpath(m_package) && QDir().mkpath(m_dest));
    qputenv("DESTDIR", m_dest.toLocal8Bit());
    m_fake.clear();
    m_fake.dialogHandlers.clear();
    m_fake.messageAnswers.clear();
    ui::setPrompter(&m_fake);
}

void TestSetupProgram::cleanup()
{
    ui::setPrompter(nullptr);
    qunsetenv("DESTDIR");
}

void TestSetupProgram::makePackage(const QStringList& listed, const QByteArray& infOverride)
{
    // The cabinet of three files, then its encrypted form.
    QTemporaryDir src;
    QStringList args{"-c", "-z", m_work + "/tools.cab"};
    for (auto it = m_files.begin(); it != m_files.end(); ++it) {
        QVERIFY(writeFile(src.filePath(it.key()), it.value()));
        args << it.key();
    }
    const auto r = test::run("gcab", args, src.path());
    QVERIFY2(r.exitCode == 0, r.err.constData());
    crypto::encryptFile(m_work + "/tools.cab", m_work + "/tools.ecf", kPassPhrase);

    distribution::SetupPackageRequest request;
    request.cabinetName = "tools";
    request.outputDirectory = QFile::encodeName(m_work).toStdString();
    request.installDirectory = distribution::kDefaultInstallDirectory;
    request.title = "Tools Setup";
    request.description = kDescription.toStdString();
    request.readmeFileName = "readme.txt";
    request.passPhrase = kPassPhrase;
    distribution::InfRequest inf = request.infRequest();
    for (const QString& name : listed.isEmpty() ? m_files.keys() : listed)
        inf.fileNames.push_back(name.toStdString());
    QVERIFY(distribution::WriteInfFile(inf).ok());
    if (!infOverride.isEmpty())
        QVERIFY(writeFile(QFile::decodeName(QByteArray::fromStdString(distribution::infFilePath(inf))), infOverride));
    QVERIFY(distribution::WriteSetupIni(request).ok());
    QVERIFY(distribution::WriteEncryptedInf(request).ok());
    QVERIFY(distribution::ExtractResourceToFile("IMAGE", "SETUP", distribution::setupExePath(request)));
    QVERIFY(writeFile(m_work + "/readme.txt", "Please read me.\nSecond line.\n"));

    for (const char* name : {"tools.in_", "tools.ecf", "SETUP.EXE", "setup.ini", "readme.txt"})
        QVERIFY(QFile::copy(m_work + "/" + name, m_package + "/" + QLatin1String(name)));
}

void TestSetupProgram::windowsLookAsDesigned()
{
    makePackage();
    SetupBanner banner(m_package);
    QCOMPARE(banner.windowTitle(), QStringLiteral("Vaultline"));
    QCOMPARE(banner.titleText(), QStringLiteral("Tools Setup"));
    QVERIFY(banner.windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(banner.windowState() & Qt::WindowMaximized);
    QCOMPARE(banner.palette().color(QPalette::Window), QColor(64, 128, 128));
    auto* label = banner.findChild<QWidget*>("Label1");
    QCOMPARE(label->font().pixelSize(), 32);
    QVERIFY(label->font().bold());
    QCOMPARE(banner.findChild<QLabel*>("Image1")->size(), QSize(37, 37));

    struct Expect {
        QDialog* dialog;
        QSize size;
        QStringList texts;
        QStringList buttons;
    };
    const Expect expected[] = {
        {banner.passPhraseDialog(),
         QSize(320, 204),
         {"Korvane Vaultline v1.0", "Before setup can run you must enter the Pass Phrase required to",
          "decrypt the setup files.", "Please ensure you enter the pass phrase correctly.", "Pass Phrase:"},
         {"&Next >", "&Cancel"}},
        {banner.readmeDialog(),
         QSize(319, 345),
         {"Please read this information carefully.", "To see more text use the scrollbar"},
         {"&Next >", "&Exit"}},
        {banner.readyDialog(),
         QSize(278, 99),
         {"Setup is ready to proceed with the installation.", "Click Next to continue"},
         {"&Next >", "&Cancel"}},
    };
    for (const Expect& e : expected) {
        QCOMPARE(e.dialog->windowTitle(), QString(QChar(0x00A0)));
        QCOMPARE(e.dialog->size(), e.size);
        QCOMPARE(e.dialog->minimumSize(), e.size);
        QCOMPARE(e.dialog->maximumSize(), e.size);
        QCOMPARE(e.dialog->font().pointSize(), 8);
        QStringList texts;
        for (QLabel* l : e.dialog->findChildren<QLabel*>())
            if (!l->text().isEmpty())
                texts << l->text();
        QCOMPARE(texts, e.texts);
        auto* next = e.dialog->findChild<QPushButton*>("Button1");
        auto* other = e.dialog->findChild<QPushButton*>("Button2");
        QCOMPARE((QStringList{next->text(), other->text()}), e.buttons);
        QVERIFY(next->isDefault() && !other->isDefault());
    }
    PassPhraseDialog* pass = banner.passPhraseDialog();
    QCOMPARE(pass->Edit1->maxLength(), 56);
    QCOMPARE(pass->Edit1->echoMode(), QLineEdit::Normal);
    QCOMPARE(pass->statusText(), QString());
    QCOMPARE(banner.readmeDialog()->Memo1->toPlainText(), QStringLiteral("Please read me.\nSecond line.\n"));
    QVERIFY(banner.readmeDialog()->Memo1->isReadOnly());
    QCOMPARE(banner.readmeDialog()->Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

void TestSetupProgram::installsPackageEndToEnd()
{
    makePackage();
    // Only the five package files are in the end user's folder.
    QCOMPARE(test::fileTree(m_package),
             (QStringList{"SETUP.EXE", "readme.txt", "setup.ini", "tools.ecf", "tools.in_"}));
    QVERIFY(QFileInfo(m_package + "/SETUP.EXE").isExecutable());

    SetupBanner banner(m_package);
    QString readmeShown;
    m_fake.dialogHandlers.push_back(enterPassPhrase(kPassPhrase));
    m_fake.dialogHandlers.push_back([&](QDialog* d) {
        readmeShown = qobject_cast<ReadmeDialog*>(d)->Memo1->toPlainText();
        return press("Button1")(d);
    });
    m_fake.dialogHandlers.push_back(press("Button1"));
    QSignalSpy finished(&banner, &SetupBanner::finished);
    QCOMPARE(banner.run(), 0);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().first().toInt(), 0);

    const QString installed = m_dest + "/myinstall/directory";
    for (auto it = m_files.begin(); it != m_files.end(); ++it)
        QCOMPARE(readFile(installed + "/" + it.key()), it.value());
    QCOMPARE(test::fileTree(m_dest),
             (QStringList{"myinstall", "myinstall/directory", "myinstall/directory/data.bin",
                          "myinstall/directory/readme.txt", "myinstall/directory/tool binary.exe"}));
    QCOMPARE(m_fake.messageTexts(),
             (QStringList{kMatched, "Setup has completed successfully\n\nFiles installed to: " + installed}));
    QCOMPARE(m_fake.messages[0].message.icon, ui::Icon::Information);
    QCOMPARE(m_fake.messages[1].message.icon, ui::Icon::Information);
    QCOMPARE(m_fake.messages[1].message.title, QStringLiteral("Vaultline"));
    QCOMPARE(m_fake.beeps, (QList<ui::Beep>{ui::Beep::Information, ui::Beep::Information}));
    QCOMPARE(readmeShown, QStringLiteral("Please read me.\nSecond line.\n"));
    QCOMPARE(banner.passPhraseDialog()->statusText(), QStringLiteral("Ok, Done"));
    QCOMPARE(m_fake.dialogs.size(), 3);
    QCOMPARE(m_fake.dialogs[0].className, QStringLiteral("ravelin::setup::PassPhraseDialog"));
    QCOMPARE(m_fake.dialogs[1].className, QStringLiteral("ravelin::setup::ReadmeDialog"));
    QCOMPARE(m_fake.dialogs[2].className, QStringLiteral("ravelin::setup::ReadyDialog"));
    // The decrypted INF (with its padding) and the cabinet stay in the package folder.
    QVERIFY(readFile(m_package + "/tools.inf").startsWith(readFile(m_work + "/tools.inf")));
    QVERIFY(readFile(m_package + "/tools.cab").startsWith(readFile(m_work + "/tools.cab")));
}

void TestSetupProgram::wrongPassPhraseEndsAndInstallsNothing()
{
    makePackage();
    SetupBanner banner(m_package);
    m_fake.dialogHandlers.push_back(enterPassPhrase("a wrong pass phrase!"));
    QCOMPARE(banner.run(), 1);
    QCOMPARE(m_fake.messageTexts(), QStringList{kWrong});
    QCOMPARE(m_fake.messages[0].message.icon, ui::Icon::Error);
    QCOMPARE(m_fake.beeps, QList<ui::Beep>{ui::Beep::Error});
    QCOMPARE(m_fake.dialogs.size(), 1);
    QVERIFY(test::fileTree(m_dest).isEmpty());
    // The garbage INF stays, as long as the encrypted one; no cabinet was made.
    QCOMPARE(QFileInfo(m_package + "/tools.inf").size(), QFileInfo(m_package + "/tools.in_").size());
    QVERIFY(!QFileInfo::exists(m_package + "/tools.cab"));
}

void TestSetupProgram::fifteenCharactersGiveLengthMessage()
{
    makePackage();
    SetupBanner banner(m_package);
    bool stayed = false, focused = false;
    m_fake.dialogHandlers.push_back([&](QDialog* dialog) {
        auto* d = qobject_cast<PassPhraseDialog*>(dialog);
        d->show();
        d->activateWindow();
        d->Edit1->setText(kPassPhrase.left(15));
        d->Button1->setFocus();
        QTest::mouseClick(d->Button1, Qt::LeftButton);
        stayed = d->isVisible();
        focused = d->focusWidget() == d->Edit1;
        // Then the full 16 characters are accepted.
        d->Edit1->setText(kPassPhrase);
        QTest::keyClick(d->Edit1, Qt::Key_Return);
        return d->result();
    });
    m_fake.dialogHandlers.push_back(press("Button2")); // Exit in the readme
    QCOMPARE(banner.run(), 1);
    QVERIFY(stayed);
    QVERIFY(focused);
    QCOMPARE(m_fake.messageTexts(), (QStringList{kTooShort, kMatched}));
    QCOMPARE(m_fake.beeps, (QList<ui::Beep>{ui::Beep::Error, ui::Beep::Information}));
    QCOMPARE(m_fake.dialogs.size(), 2);
    QVERIFY(test::fileTree(m_dest).isEmpty());
}

// The key is the phrase in Windows-1252: a phrase with a character that has
// no byte there is refused in the dialog, which stays, and nothing is written.
void TestSetupProgram::phraseWithoutWindows1252ByteRefused()
{
    makePackage();
    const QStringList before = test::fileTree(m_package);
    SetupBanner banner(m_package);
    bool stayed = false, focused = false;
    m_fake.dialogHandlers.push_back([&](QDialog* dialog) {
        auto* d = qobject_cast<PassPhraseDialog*>(dialog);
        d->show();
        d->activateWindow();
        d->Edit1->setText(QString::fromUtf8("пароль для файла"));
        d->Button1->setFocus();
        QTest::mouseClick(d->Button1, Qt::LeftButton);
        stayed = d->isVisible();
        focused = d->focusWidget() == d->Edit1;
        QTest::mouseClick(d->Button2, Qt::LeftButton);
        return d->result();
    });
    QCOMPARE(banner.run(), 1);
    QVERIFY(stayed);
    QVERIFY(focused);
    QCOMPARE(m_fake.messageTexts(),
             QStringList{QString::fromUtf8("The Pass Phrase contains the character \"п\", which cannot be used in a "
                                           "Pass Phrase.  Please use only characters of the Western (Windows-1252) "
                                           "character set.")});
    QCOMPARE(m_fake.messages[0].message.icon, ui::Icon::Error);
    QCOMPARE(m_fake.beeps, QList<ui::Beep>{ui::Beep::Error});
    QCOMPARE(banner.passPhraseDialog()->statusText(), QString());
    QCOMPARE(test::fileTree(m_package), before);
}

void TestSetupProgram::missingSetupIniGivesDefaultsAndDecryptionMessage()
{
    makePackage();
    QVERIFY(QFile::remove(m_package + "/setup.ini"));
    const QStringList before = test::fileTree(m_package);
    SetupBanner banner(m_package);
    QCOMPARE(banner.titleText(), QStringLiteral("Vaultline"));
    QCOMPARE(banner.context().settings.installDirectory, QStringLiteral("Unknown"));
    QCOMPARE(banner.readmeDialog()->Memo1->toPlainText(), QStringLiteral("No Readme Information Available"));
    QString status;
    m_fake.dialogHandlers.push_back([&](QDialog* dialog) {
        auto* d = qobject_cast<PassPhraseDialog*>(dialog);
        const int r = enterPassPhrase(kPassPhrase)(d);
        status = d->statusText();
        if (r != -2) // the dialog must stay
            return r;
        QTest::mouseClick(d->Button2, Qt::LeftButton);
        return d->result();
    });
    QCOMPARE(banner.run(), 1);
    QCOMPARE(status, QStringLiteral("Error!"));
    QCOMPARE(m_fake.messageTexts(), QStringList{kInfDecryption});
    QCOMPARE(m_fake.beeps, QList<ui::Beep>{ui::Beep::Error});
    QCOMPARE(test::fileTree(m_package), before);
    QVERIFY(test::fileTree(m_dest).isEmpty());
}

void TestSetupProgram::cabinetLackingAFileShowsInstallError()
{
    makePackage(m_files.keys() + QStringList{"not in cabinet.txt"});
    SetupBanner banner(m_package);
    m_fake.dialogHandlers.push_back(enterPassPhrase(kPassPhrase));
    m_fake.dialogHandlers.push_back(press("Button1"));
    m_fake.dialogHandlers.push_back(press("Button1"));
    QTest::ignoreMessage(QtWarningMsg, "setup: not in cabinet.txt is not in the cabinet tools.cab");
    QCOMPARE(banner.run(), 1);
    QCOMPARE(m_fake.messageTexts(), (QStringList{kMatched, kInstallFailed}));
    QCOMPARE(m_fake.messages[1].message.icon, ui::Icon::Error);
    QCOMPARE(m_fake.beeps.last(), ui::Beep::Error);
    QVERIFY(test::fileTree(m_dest).isEmpty());
}

void TestSetupProgram::hostileInfWritesNothingOutside()
{
    const QByteArray hostile = "; Created with Korvane Ravelin v6.0\r\n"
                               "[DefaultInstall]\r\nCopyFiles = copy.files\r\n"
                               "[SourceDisksNames]\r\n1=\"x\",tools.cab,0\r\n"
                               "[DestinationDirs]\r\ncopy.files = 30,myinstall\\directory\r\n"
                               "[SourceDisksFiles]\r\nreadme.txt=1\r\n../escape=1\r\n"
                               "[copy.files]\r\nreadme.txt\r\n../escape\r\n";
    makePackage({}, hostile);
    const QStringList before = test::fileTree(m_root->path());
    SetupBanner banner(m_package);
    m_fake.dialogHandlers.push_back(enterPassPhrase(kPassPhrase));
    m_fake.dialogHandlers.push_back(press("Button1"));
    m_fake.dialogHandlers.push_back(press("Button1"));
    QTest::ignoreMessage(QtWarningMsg, "setup: the file name \"../escape\" is refused");
    QCOMPARE(banner.run(), 1);
    QCOMPARE(m_fake.messageTexts(), (QStringList{kMatched, kInstallFailed}));
    // Only the decrypted INF and cabinet are new, inside the package folder.
    QStringList expected = before + QStringList{"package/tools.cab", "package/tools.inf"};
    expected.sort();
    QCOMPARE(test::fileTree(m_root->path()), expected);
    QVERIFY(test::fileTree(m_dest).isEmpty());
}

void TestSetupProgram::brokenEncryptedFiles_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("dialogs");
    QTest::newRow("truncated INF") << "in_ cut" << QStringList{kInfDecryption} << 1;
    QTest::newRow("empty INF") << "in_ empty" << QStringList{kInfDecryption} << 1;
    QTest::newRow("INF cut to whole blocks") << "in_ blocks" << QStringList{kWrong} << 1;
    QTest::newRow("garbage INF") << "in_ garbage" << QStringList{kWrong} << 1;
    QTest::newRow("truncated cabinet") << "ecf cut" << QStringList{kCabDecryption} << 1;
    QTest::newRow("cabinet cut inside a block") << "ecf cut odd" << QStringList{kCabDecryption} << 1;
    QTest::newRow("garbage cabinet") << "ecf garbage" << QStringList{kCabDecryption} << 1;
    QTest::newRow("cabinet missing") << "ecf missing" << QStringList{kCabDecryption} << 1;
    QTest::newRow("cabinet outside") << "a5 outside" << QStringList{kCabDecryption} << 1;
    QTest::newRow("INF outside") << "a6 outside" << QStringList{kInfDecryption} << 1;
    QTest::newRow("INF output is a link") << "inf link" << QStringList{kInfDecryption} << 1;
    QTest::newRow("cabinet output is a link") << "cab link" << QStringList{kCabDecryption} << 1;
    QTest::newRow("cabinet output is a hard link") << "cab hard link" << QStringList{kCabDecryption} << 1;
}

void TestSetupProgram::brokenEncryptedFiles()
{
    QFETCH(QString, damage);
    QFETCH(QStringList, messages);
    QFETCH(int, dialogs);
    makePackage();
    const QString in = m_package + "/tools.in_", ecf = m_package + "/tools.ecf";
    const QByteArray inBytes = readFile(in);
    if (damage == "in_ cut")
        QVERIFY(writeFile(in, inBytes.left(13)));
    else if (damage == "in_ empty")
        QVERIFY(writeFile(in, QByteArray()));
    else if (damage == "in_ blocks")
        QVERIFY(writeFile(in, inBytes.left(32)));
    else if (damage == "in_ garbage")
        QVERIFY(writeFile(in, test::randomBytes(inBytes.size(), 9)));
    else if (damage == "ecf cut")
        QVERIFY(writeFile(ecf, readFile(ecf).left(1000)));
    else if (damage == "ecf cut odd")
        QVERIFY(writeFile(ecf, readFile(ecf).left(1001)));
    else if (damage == "ecf garbage")
        QVERIFY(writeFile(ecf, test::randomBytes(8000, 4)));
    else if (damage == "ecf missing")
        QVERIFY(QFile::remove(ecf));
    else if (damage == "a5 outside")
        QVERIFY(writeFile(m_package + "/setup.ini",
                          readFile(m_package + "/setup.ini").replace("a5=tools.cab", "a5=../evil.cab")));
    else if (damage == "a6 outside")
        QVERIFY(
            writeFile(m_package + "/setup.ini",
                      readFile(m_package + "/setup.ini").replace("a6=tools.in_", "a6=../work/tools.in_")));
    else if (damage == "inf link")
        QVERIFY(QFile::link(m_work + "/tools.inf", m_package + "/tools.inf"));
    else if (damage == "cab link")
        QVERIFY(QFile::link(m_work + "/tools.cab", m_package + "/tools.cab"));
    else if (damage == "cab hard link")
        QVERIFY(::link(QFile::encodeName(m_work + "/tools.cab").constData(),
                       QFile::encodeName(m_package + "/tools.cab").constData()) == 0);
    const QStringList outside = test::fileTree(m_work);
    const QByteArray outsideInf = readFile(m_work + "/tools.inf");
    const QByteArray outsideCab = readFile(m_work + "/tools.cab");

    SetupBanner banner(m_package);
    QString status;
    m_fake.dialogHandlers.push_back([&](QDialog* dialog) {
        auto* d = qobject_cast<PassPhraseDialog*>(dialog);
        const int r = enterPassPhrase(kPassPhrase)(d);
        status = d->statusText();
        if (r != -2)
            return r;
        QTest::mouseClick(d->Button2, Qt::LeftButton);
        return d->result();
    });
    QTest::failOnWarning(QRegularExpression("^(?!setup: )"));
    QCOMPARE(banner.run(), 1);
    QCOMPARE(m_fake.messageTexts(), messages);
    QCOMPARE(m_fake.dialogs.size(), dialogs);
    if (messages.first() != kWrong)
        QCOMPARE(status, QStringLiteral("Error!"));
    QVERIFY(test::fileTree(m_dest).isEmpty());
    QCOMPARE(test::fileTree(m_work), outside);
    QVERIFY(!QFileInfo::exists(m_root->filePath("evil.cab")));
    QCOMPARE(readFile(m_work + "/tools.inf"), outsideInf);
    QCOMPARE(readFile(m_work + "/tools.cab"), outsideCab);
    if (damage == "ecf cut odd" || damage.startsWith("in_ cut") || damage == "in_ empty") {
        // Not an encrypted file: refused before anything is written.
        QVERIFY(!QFileInfo::exists(m_package + "/tools.cab"));
    }
    if (damage == "in_ cut" || damage == "in_ empty")
        QVERIFY(!QFileInfo::exists(m_package + "/tools.inf"));
}

void TestSetupProgram::readmeMissingAndCancelInReady()
{
    makePackage();
    QVERIFY(QFile::remove(m_package + "/readme.txt"));
    SetupBanner banner(m_package);
    QCOMPARE(banner.readmeDialog()->Memo1->toPlainText(), QStringLiteral("No Readme Information Available"));
    m_fake.dialogHandlers.push_back(enterPassPhrase(kPassPhrase));
    m_fake.dialogHandlers.push_back(press("Button1"));
    m_fake.dialogHandlers.push_back(press("Button2")); // Cancel: no installation
    QCOMPARE(banner.run(), 1);
    QCOMPARE(m_fake.messageTexts(), QStringList{kMatched});
    QCOMPARE(m_fake.dialogs.size(), 3);
    QVERIFY(test::fileTree(m_dest).isEmpty());
}

void TestSetupProgram::activationStartsTheDialogs()
{
    makePackage();
    SetupBanner banner(m_package);
    QSignalSpy finished(&banner, &SetupBanner::finished);
    m_fake.dialogHandlers.push_back(press("Button2")); // Cancel in the pass-phrase dialog
    banner.show();
    banner.activateWindow();
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(finished.first().first().toInt(), 1);
    QCOMPARE(m_fake.dialogs.size(), 1);
    QCOMPARE(m_fake.dialogs[0].className, QStringLiteral("ravelin::setup::PassPhraseDialog"));
}

// Saves pictures of the banner and the three dialogs into $RAVELIN_SHOTS_DIR
// (run under a display: QT_QPA_PLATFORM=xcb); skipped otherwise.
void TestSetupProgram::screenshots()
{
    const QString shots = qEnvironmentVariable("RAVELIN_SHOTS_DIR");
    if (shots.isEmpty())
        QSKIP("RAVELIN_SHOTS_DIR is not set");
    makePackage();
    QVERIFY(writeFile(m_package + "/readme.txt",
                      "Tools Setup\r\n\r\nThis package installs the tools into myinstall\\directory.\r\n\r\n"
                      "Keep the pass phrase you were given at hand; setup asks for it before anything is "
                      "decrypted.\r\n"));
    SetupBanner banner(m_package);
    auto settle = [](QWidget* w) {
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QTest::qWait(300);
    };
    m_fake.dialogHandlers.push_back([&](QDialog* dialog) {
        settle(&banner);
        QGuiApplication::primaryScreen()->grabWindow(0).save(shots + "/setup-banner.png");
        auto* d = qobject_cast<PassPhraseDialog*>(dialog);
        d->show();
        d->Edit1->setText(kPassPhrase);
        settle(d);
        d->grab().save(shots + "/setup-passphrase.png");
        QTest::mouseClick(d->Button1, Qt::LeftButton);
        return d->result();
    });
    m_fake.dialogHandlers.push_back([&](QDialog* d) {
        d->show();
        settle(d);
        d->grab().save(shots + "/setup-readme.png");
        return press("Button1")(d);
    });
    m_fake.dialogHandlers.push_back([&](QDialog* d) {
        d->show();
        settle(d);
        d->grab().save(shots + "/setup-ready.png");
        return press("Button2")(d);
    });
    QSignalSpy finished(&banner, &SetupBanner::finished);
    banner.showMaximized();
    settle(&banner);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
}

QTEST_MAIN(TestSetupProgram)
#include "tst_setupprogram.moc"
