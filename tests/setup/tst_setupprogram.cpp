// Drives the setup program's real windows offscreen on packages built by the distribution writers: the files
// arrive byte-identical under DESTDIR in the folder the ready dialog shows (or the one chosen there), the
// decrypted files live only in a private folder below TMPDIR that is gone after every outcome, nothing is
// written beside the package, and every failure shows its message followed by what failed and why.
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
#include <QTreeView>
#include <sys/stat.h>
#include <unistd.h>

#include "crypto/blowfish.h"
#include "distribution/infwriter.h"
#include "distribution/setuppackage.h"
#include "setup/setupwindows.h"
#include "support/fakeprompter.h"
#include "support/testutil.h"
#include "tools/browsefolder.h"

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

// A path as the bytes the setup program takes.
std::string b(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

// The Part's message followed by the reason on its own paragraph.
QString withReason(const QString& message, const QString& reason)
{
    return message + QStringLiteral("\n\n") + reason;
}

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
    void readyDialogShowsDestination_data();
    void readyDialogShowsDestination();
    void workFolderIsPrivateAndAlwaysRemoved_data();
    void workFolderIsPrivateAndAlwaysRemoved();
    void installErrorNamesPathAndReason();
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
    QString m_tmp;     // TMPDIR
    QByteArray m_oldTmp;
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
    m_tmp = m_root->filePath("tmp");
    QVERIFY(QDir().mkpath(m_work) && QDir().mkpath(m_package) && QDir().mkpath(m_dest) &&
            QDir().mkpath(m_tmp));
    qputenv("DESTDIR", m_dest.toLocal8Bit());
    m_oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(m_tmp));
    m_fake.clear();
    m_fake.dialogHandlers.clear();
    m_fake.messageAnswers.clear();
    ui::setPrompter(&m_fake);
}

void TestSetupProgram::cleanup()
{
    ui::setPrompter(nullptr);
    qunsetenv("DESTDIR");
    if (m_oldTmp.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", m_oldTmp);
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
        QVERIFY(writeFile(QFile::decodeName(QByteArray::fromStdString(distribution::infFilePath(inf))),
                          infOverride));
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
    SetupBanner banner(b(m_package));
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
         QSize(278, 147),
         {"Setup is ready to proceed with the installation.", "Click Next to continue",
          "Files will be installed to:"},
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
    QCOMPARE(banner.readyDialog()->Button3->text(), QStringLiteral("&Browse..."));
}

void TestSetupProgram::installsPackageEndToEnd()
{
    makePackage();
    // Only the five package files are in the end user's folder.
    QCOMPARE(test::fileTree(m_package),
             (QStringList{"SETUP.EXE", "readme.txt", "setup.ini", "tools.ecf", "tools.in_"}));
    QVERIFY(QFileInfo(m_package + "/SETUP.EXE").isExecutable());

    const QStringList package = test::fileTree(m_package);
    SetupBanner banner(b(m_package));
    QString readmeShown, destinationShown;
    m_fake.dialogHandlers.push_back(enterPassPhrase(kPassPhrase));
    m_fake.dialogHandlers.push_back([&](QDialog* d) {
        readmeShown = qobject_cast<ReadmeDialog*>(d)->Memo1->toPlainText();
        return press("Button1")(d);
    });
    m_fake.dialogHandlers.push_back([&](QDialog* d) {
        d->show();
        destinationShown = qobject_cast<ReadyDialog*>(d)->Edit1->text();
        return press("Button1")(d);
    });
    QSignalSpy finished(&banner, &SetupBanner::finished);
    QCOMPARE(banner.run(), 0);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().first().toInt(), 0);

    // DESTDIR + DIRID 30 ("/" for root, which runs the tests) + the INF's
    // directory, shown before anything was installed.
    const QString installed = m_dest + "/myinstall/directory";
    QCOMPARE(destinationShown, installed);
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
    // Nothing was written beside the package, and the decrypted files are gone.
    QCOMPARE(test::fileTree(m_package), package);
    QCOMPARE(test::fileTree(m_tmp), QStringList());
}

void TestSetupProgram::wrongPassPhraseEndsAndInstallsNothing()
{
    makePackage();
    const QStringList package = test::fileTree(m_package);
    SetupBanner banner(b(m_package));
    m_fake.dialogHandlers.push_back(enterPassPhrase("a wrong pass phrase!"));
    QCOMPARE(banner.run(), 1);
    QCOMPARE(m_fake.messageTexts(), QStringList{kWrong});
    QCOMPARE(m_fake.messages[0].message.icon, ui::Icon::Error);
    QCOMPARE(m_fake.beeps, QList<ui::Beep>{ui::Beep::Error});
    QCOMPARE(m_fake.dialogs.size(), 1);
    QVERIFY(test::fileTree(m_dest).isEmpty());
    // No garbage INF anywhere: not beside the package, not in TMPDIR.
    QCOMPARE(test::fileTree(m_package), package);
    QCOMPARE(test::fileTree(m_tmp), QStringList());
}

void TestSetupProgram::fifteenCharactersGiveLengthMessage()
{
    makePackage();
    SetupBanner banner(b(m_package));
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
    SetupBanner banner(b(m_package));
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
             QStringList{
                 QString::fromUtf8("The Pass Phrase contains the character \"п\", which cannot be used in a "
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
    SetupBanner banner(b(m_package));
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
    QCOMPARE(m_fake.messageTexts(),
             QStringList{withReason(kInfDecryption,
                                    "cannot read " + m_package + "/setup.ini: No such file or directory")});
    QCOMPARE(m_fake.beeps, QList<ui::Beep>{ui::Beep::Error});
    QCOMPARE(test::fileTree(m_package), before);
    QVERIFY(test::fileTree(m_dest).isEmpty());
}

void TestSetupProgram::cabinetLackingAFileShowsInstallError()
{
    makePackage(m_files.keys() + QStringList{"not in cabinet.txt"});
    SetupBanner banner(b(m_package));
    m_fake.dialogHandlers.push_back(enterPassPhrase(kPassPhrase));
    m_fake.dialogHandlers.push_back(press("Button1"));
    m_fake.dialogHandlers.push_back(press("Button1"));
    QCOMPARE(banner.run(), 1);
    QCOMPARE(m_fake.messageTexts(),
             (QStringList{kMatched,
                          withReason(kInstallFailed, "not in cabinet.txt is not in the cabinet tools.cab")}));
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
    SetupBanner banner(b(m_package));
    m_fake.dialogHandlers.push_back(enterPassPhrase(kPassPhrase));
    m_fake.dialogHandlers.push_back(press("Button1"));
    m_fake.dialogHandlers.push_back(press("Button1"));
    QCOMPARE(banner.run(), 1);
    QCOMPARE(m_fake.messageTexts(),
             (QStringList{kMatched, withReason(kInstallFailed, "the file name \"../escape\" is refused")}));
    // Nothing new anywhere: the decrypted files went with their folder.
    QCOMPARE(test::fileTree(m_root->path()), before);
    QVERIFY(test::fileTree(m_dest).isEmpty());
}

void TestSetupProgram::brokenEncryptedFiles_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("reason"); // what follows the message; PKG and TMP stand for the folders
    QTest::newRow("truncated INF") << "in_ cut" << kInfDecryption << "PKG/tools.in_: not an encrypted file";
    QTest::newRow("empty INF") << "in_ empty" << kInfDecryption << "PKG/tools.in_: not an encrypted file";
    QTest::newRow("INF cut to whole blocks") << "in_ blocks" << kWrong << "";
    QTest::newRow("garbage INF") << "in_ garbage" << kWrong << "";
    QTest::newRow("truncated cabinet") << "ecf cut" << kCabDecryption << "tools.cab";
    QTest::newRow("cabinet cut inside a block")
        << "ecf cut odd" << kCabDecryption << "PKG/tools.ecf: not an encrypted file";
    QTest::newRow("garbage cabinet") << "ecf garbage" << kCabDecryption << "tools.cab";
    QTest::newRow("cabinet missing") << "ecf missing" << kCabDecryption
                                     << "PKG/tools.ecf: No such file or directory";
    QTest::newRow("cabinet outside") << "a5 outside" << kCabDecryption
                                     << "the cabinet name \"../evil.cab\" in setup.ini is refused";
    QTest::newRow("INF outside") << "a6 outside" << kInfDecryption
                                 << "the encrypted INF name \"../work/tools.in_\" in setup.ini is refused";
    QTest::newRow("cabinet named as the INF")
        << "a5 inf" << kCabDecryption
        << "the cabinet name \"tools.inf\" in setup.ini is the decrypted INF's name";
    QTest::newRow("TMPDIR missing")
        << "tmp missing" << kInfDecryption
        << "cannot make a private folder in TMP/missing: No such file or directory";
    QTest::newRow("TMPDIR a file") << "tmp file" << kInfDecryption
                                   << "cannot make a private folder in TMP/file: Not a directory";
}

void TestSetupProgram::brokenEncryptedFiles()
{
    QFETCH(QString, damage);
    QFETCH(QString, message);
    QFETCH(QString, reason);
    makePackage();
    const QString in = m_package + "/tools.in_", ecf = m_package + "/tools.ecf";
    const QByteArray inBytes = readFile(in);
    const auto editIni = [&](const QByteArray& from, const QByteArray& to) {
        return writeFile(m_package + "/setup.ini", readFile(m_package + "/setup.ini").replace(from, to));
    };
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
        QVERIFY(editIni("a5=tools.cab", "a5=../evil.cab"));
    else if (damage == "a6 outside")
        QVERIFY(editIni("a6=tools.in_", "a6=../work/tools.in_"));
    else if (damage == "a5 inf")
        QVERIFY(editIni("a5=tools.cab", "a5=tools.inf"));
    else if (damage == "tmp missing")
        qputenv("TMPDIR", QFile::encodeName(m_tmp + "/missing"));
    else if (damage == "tmp file") {
        QVERIFY(writeFile(m_tmp + "/file", "x"));
        qputenv("TMPDIR", QFile::encodeName(m_tmp + "/file"));
    }
    reason.replace("PKG", m_package).replace("TMP", m_tmp);
    const QStringList outside = test::fileTree(m_work);
    const QStringList package = test::fileTree(m_package);
    const QStringList tmp = test::fileTree(m_tmp);

    SetupBanner banner(b(m_package));
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
    QTest::failOnWarning(QRegularExpression(".*"));
    QCOMPARE(banner.run(), 1);
    QCOMPARE(m_fake.messageTexts().size(), 1);
    const QString shown = m_fake.messageTexts().first();
    if (reason.isEmpty()) {
        QCOMPARE(shown, message);
    } else {
        QVERIFY2(shown.startsWith(message + "\n\n") && shown.contains(reason), qPrintable(shown));
        QCOMPARE(status, QStringLiteral("Error!"));
    }
    QCOMPARE(m_fake.dialogs.size(), 1);
    QVERIFY(test::fileTree(m_dest).isEmpty());
    QCOMPARE(test::fileTree(m_work), outside);
    QVERIFY(!QFileInfo::exists(m_root->filePath("evil.cab")));
    // Nothing left beside the package or in TMPDIR.
    QCOMPARE(test::fileTree(m_package), package);
    QCOMPARE(test::fileTree(m_tmp), tmp);
}

void TestSetupProgram::readmeMissingAndCancelInReady()
{
    makePackage();
    QVERIFY(QFile::remove(m_package + "/readme.txt"));
    SetupBanner banner(b(m_package));
    QCOMPARE(banner.readmeDialog()->Memo1->toPlainText(), QStringLiteral("No Readme Information Available"));
    m_fake.dialogHandlers.push_back(enterPassPhrase(kPassPhrase));
    m_fake.dialogHandlers.push_back(press("Button1"));
    m_fake.dialogHandlers.push_back(press("Button2")); // Cancel: no installation
    QCOMPARE(banner.run(), 1);
    QCOMPARE(m_fake.messageTexts(), QStringList{kMatched});
    QCOMPARE(m_fake.dialogs.size(), 3);
    QVERIFY(test::fileTree(m_dest).isEmpty());
    QCOMPARE(test::fileTree(m_tmp), QStringList());
}

void TestSetupProgram::activationStartsTheDialogs()
{
    makePackage();
    SetupBanner banner(b(m_package));
    QSignalSpy finished(&banner, &SetupBanner::finished);
    m_fake.dialogHandlers.push_back(press("Button2")); // Cancel in the pass-phrase dialog
    banner.show();
    banner.activateWindow();
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(finished.first().first().toInt(), 1);
    QCOMPARE(m_fake.dialogs.size(), 1);
    QCOMPARE(m_fake.dialogs[0].className, QStringLiteral("ravelin::setup::PassPhraseDialog"));
}

// The ready dialog shows where the files go before anything is installed;
// a typed folder, a relative one (below DESTDIR + DIRID 30, like the INF's)
// or one picked with the folder picker takes its place.
void TestSetupProgram::readyDialogShowsDestination_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("value");    // typed or picked; ROOT stands for the test folder
    QTest::addColumn<QString>("expected"); // DEST and ROOT stand for DESTDIR and the test folder
    QTest::newRow("as shown") << "keep"
                              << ""
                              << "DEST/myinstall/directory";
    QTest::newRow("typed absolute") << "type"
                                    << "ROOT/chosen place"
                                    << "ROOT/chosen place";
    QTest::newRow("typed relative") << "type"
                                    << "other/place"
                                    << "DEST/other/place";
    QTest::newRow("picked") << "pick"
                            << "ROOT/picked"
                            << "ROOT/picked";
}

void TestSetupProgram::readyDialogShowsDestination()
{
    QFETCH(QString, how);
    QFETCH(QString, value);
    QFETCH(QString, expected);
    value.replace("ROOT", m_root->path());
    expected.replace("DEST", m_dest).replace("ROOT", m_root->path());
    if (how == "pick")
        QVERIFY(QDir().mkpath(value));
    makePackage();
    SetupBanner banner(b(m_package));
    QString shown, pickerStart;
    bool nextOffWhenEmpty = false;
    m_fake.dialogHandlers.push_back(enterPassPhrase(kPassPhrase));
    m_fake.dialogHandlers.push_back(press("Button1"));
    m_fake.dialogHandlers.push_back([&](QDialog* dialog) {
        auto* d = qobject_cast<ReadyDialog*>(dialog);
        d->show();
        shown = d->Edit1->text();
        d->Edit1->clear();
        nextOffWhenEmpty = !d->Button1->isEnabled();
        d->Edit1->setText(shown);
        if (how == "type") {
            d->Edit1->selectAll();
            QTest::keyClicks(d->Edit1, value);
        } else if (how == "pick") {
            m_fake.dialogHandlers.push_front([&](QDialog* picker) {
                auto* p = qobject_cast<tools::TBrowseFolderDialog*>(picker);
                if (!p)
                    return -1;
                p->show();
                pickerStart = p->selectedItem().path;
                if (!p->setSelectionPath(value))
                    return -2;
                QTest::mouseClick(p->findChild<QPushButton*>("OkButton"), Qt::LeftButton);
                return p->result();
            });
            QTest::mouseClick(d->Button3, Qt::LeftButton);
            if (d->Edit1->text() != value)
                return -3;
        }
        QTest::mouseClick(d->Button1, Qt::LeftButton);
        return d->result();
    });
    QCOMPARE(banner.run(), 0);
    QCOMPARE(shown, m_dest + "/myinstall/directory");
    QVERIFY(nextOffWhenEmpty);
    if (how == "pick")
        QCOMPARE(pickerStart, m_dest); // the nearest folder of the destination that exists
    QCOMPARE(m_fake.messageTexts().last(),
             "Setup has completed successfully\n\nFiles installed to: " + expected);
    for (auto it = m_files.begin(); it != m_files.end(); ++it)
        QCOMPARE(readFile(expected + "/" + it.key()), it.value());
    if (how != "keep")
        QVERIFY(!QFileInfo::exists(m_dest + "/myinstall"));
}

// While the program runs the decrypted INF and cabinet lie in one private
// folder (0700) below TMPDIR; whatever the outcome it is gone afterwards, and
// nothing is ever written beside the package.
void TestSetupProgram::workFolderIsPrivateAndAlwaysRemoved_data()
{
    QTest::addColumn<QString>("end");
    QTest::addColumn<int>("code");
    QTest::newRow("installed") << "install" << 0;
    QTest::newRow("install failed") << "install fails" << 1;
    QTest::newRow("Cancel in the ready dialog") << "cancel" << 1;
    QTest::newRow("Exit in the readme") << "exit" << 1;
    QTest::newRow("wrong pass phrase") << "wrong" << 1;
    QTest::newRow("cabinet refused") << "bad cabinet" << 1;
}

void TestSetupProgram::workFolderIsPrivateAndAlwaysRemoved()
{
    QFETCH(QString, end);
    QFETCH(int, code);
    makePackage();
    if (end == "install fails")
        QVERIFY(writeFile(m_dest + "/myinstall", "a file where the folder goes"));
    if (end == "bad cabinet")
        QVERIFY(writeFile(m_package + "/tools.ecf", test::randomBytes(8000, 4)));
    const QStringList package = test::fileTree(m_package);
    SetupBanner banner(b(m_package));
    QStringList during;
    mode_t mode = 0;
    const auto look = [&] {
        during = test::fileTree(m_tmp);
        struct stat st {};
        if (!during.isEmpty() &&
            ::stat(QFile::encodeName(m_tmp + "/" + during.first()).constData(), &st) == 0)
            mode = st.st_mode & 07777;
    };
    m_fake.dialogHandlers.push_back([&](QDialog* d) {
        const int r = enterPassPhrase(end == "wrong" ? "a wrong pass phrase!" : kPassPhrase)(d);
        look();
        return r;
    });
    m_fake.dialogHandlers.push_back(press(end == "exit" ? "Button2" : "Button1"));
    m_fake.dialogHandlers.push_back(press(end == "cancel" ? "Button2" : "Button1"));
    QCOMPARE(banner.run(), code);
    QCOMPARE(during.size(), end == "wrong" ? 2 : 3);
    QVERIFY2(during[0].startsWith("vaultline-"), qPrintable(during[0]));
    QCOMPARE(mode, mode_t(0700));
    QCOMPARE(during.mid(1), end == "wrong"
                                ? QStringList{during[0] + "/tools.inf"}
                                : (QStringList{during[0] + "/tools.cab", during[0] + "/tools.inf"}));
    QCOMPARE(test::fileTree(m_tmp), QStringList());
    QCOMPARE(test::fileTree(m_package), package);
}

// An installation that fails says what failed and the system's reason.
void TestSetupProgram::installErrorNamesPathAndReason()
{
    makePackage();
    QVERIFY(writeFile(m_dest + "/myinstall", "a file where the folder goes"));
    SetupBanner banner(b(m_package));
    m_fake.dialogHandlers.push_back(enterPassPhrase(kPassPhrase));
    m_fake.dialogHandlers.push_back(press("Button1"));
    m_fake.dialogHandlers.push_back(press("Button1"));
    QCOMPARE(banner.run(), 1);
    QCOMPARE(m_fake.messageTexts(),
             (QStringList{kMatched, withReason(kInstallFailed, "cannot create the directory " + m_dest +
                                                                   "/myinstall/directory: " + m_dest +
                                                                   "/myinstall: Not a directory")}));
    QCOMPARE(m_fake.messages[1].message.icon, ui::Icon::Error);
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
    SetupBanner banner(b(m_package));
    // The ready dialog as an end user who is not root sees it: the install
    // directory below the home folder, no DESTDIR.
    banner.context().destDir.clear();
    banner.context().dirId30 = "/home/ann";
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
