// Proves the new-cabinet dialog, makeSX's messages and the learned self-extract default.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>

#include <csignal>
#include <sys/resource.h>

#include "cabinet/form8.h"
#include "settings/preferences.h"
#include "support/fakeprompter.h"
#include "support/testutil.h"
#include "tools/browsefolder.h"

using namespace ravelin::cabinet;
using ravelin::settings::Preferences;
using ravelin::test::FakePrompter;
using ravelin::test::randomBytes;
using ravelin::test::readFile;
using ravelin::test::writeFile;

namespace {

// Stands in for the main window: keeps the settings the dialog hands back.
struct MainSettings {
    QWidget window;
    QLineEdit* name = new QLineEdit(&window);
    QLineEdit* directory = new QLineEdit(&window);
    QCheckBox* flag = new QCheckBox(&window);
    CabinetSettings settings() { return {name->text(), directory->text(), flag->isChecked()}; }
    // What the main window does with an accepted dialog.
    void take(const TForm8& dialog, int result)
    {
        if (result != QDialog::Accepted)
            return;
        name->setText(dialog.settings().name);
        directory->setText(dialog.settings().directory);
        flag->setChecked(dialog.settings().selfExtracting);
        window.setWindowTitle(captionFor(dialog.settings().name));
    }
};

void clearPreferences()
{
    Preferences prefs;
    for (const QString& name : prefs.names())
        prefs.remove(name);
}

} // namespace

class TestForm8 : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        prompter.clear();
        clearPreferences();
    }
    void controls();
    void checkBoxFollowsMainFlag_data();
    void checkBoxFollowsMainFlag();
    void okWithAnEmptyFieldStaysOpen_data();
    void okWithAnEmptyFieldStaysOpen();
    void okFillsTheSettings();
    void exitAsksToEndTheApplication();
    void pictureButtonRunsTheFolderChooser();
    void folderChooserCancelLeavesDirectory();
    void makeSXJoinsAndRemovesCabinet();
    void makeSXMissingExtractor();
    void makeSXWriteFailureKeepsCabinet();
    void learnSequence();
    void learnClamps_data();
    void learnClamps();
    void applyReadsSetting_data();
    void applyReadsSetting();

private:
    FakePrompter prompter;
    FakePrompter::Scope scope{prompter};
};

void TestForm8::controls()
{
    MainSettings main;
    TForm8 dialog(&main.window, main.settings());
    QCOMPARE(dialog.windowTitle(), QString("New Cabinet File"));
    QCOMPARE(dialog.size(), QSize(328, 177));
    QCOMPARE(dialog.Label1->text(), QString("Enter Cabinet Name (No Extension Required):"));
    QCOMPARE(dialog.Label2->text(), QString("Output Directory:"));
    QCOMPARE(dialog.CheckBox1->text(), QString("Make Self Extracting"));
    QCOMPARE(dialog.Button1->text(), QString("&OK"));
    QVERIFY(dialog.Button1->isDefault());
    QCOMPARE(dialog.Button2->text(), QString("&Exit"));
    QVERIFY(dialog.Edit1->text().isEmpty() && dialog.Edit2->text().isEmpty());
    QVERIFY(dialog.SpeedButton7->autoRaise());
    QVERIFY(!dialog.SpeedButton7->icon().isNull());
    QVERIFY(!(dialog.windowFlags() & Qt::WindowCloseButtonHint));
    QCOMPARE(dialog.BrowseFolder1->Title(), QString("Output Directory"));
    QCOMPARE(dialog.BrowseFolder1->Flags(), ravelin::tools::TBrowseInfoFlagSet(ravelin::tools::bfStatusText));
    QVERIFY(dialog.BrowseFolder1->ShowFullPath());
    QCOMPARE(dialog.BrowseFolder1->Folder(), ravelin::tools::TSHFolders::foMyComputer);
    QCOMPARE(dialog.BrowseFolder1->CallbackParam(), 0);
    for (const char* name : {"Edit1", "Edit2", "SpeedButton7", "CheckBox1", "Button1", "Button2"})
        QVERIFY2(dialog.findChild<QWidget*>(name), name);
}

void TestForm8::checkBoxFollowsMainFlag_data()
{
    QTest::addColumn<bool>("flag");
    QTest::newRow("set") << true;
    QTest::newRow("clear") << false;
}

void TestForm8::checkBoxFollowsMainFlag()
{
    QFETCH(bool, flag);
    MainSettings main;
    main.flag->setChecked(flag);
    TForm8 dialog(&main.window, main.settings());
    QCOMPARE(dialog.CheckBox1->isChecked(), flag);
}

void TestForm8::okWithAnEmptyFieldStaysOpen_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("directory");
    QTest::newRow("no directory") << "setup"
                                  << "";
    QTest::newRow("no name") << ""
                             << "/tmp";
    QTest::newRow("neither") << ""
                             << "";
}

void TestForm8::okWithAnEmptyFieldStaysOpen()
{
    QFETCH(QString, name);
    QFETCH(QString, directory);
    MainSettings main;
    main.name->setText("old");
    main.directory->setText("/old");
    main.window.setWindowTitle("Ravelin Pro");
    bool stillOpen = false;
    QString nameAfter;
    prompter.dialogHandlers.push_back([&](QDialog* d) {
        auto* dialog = static_cast<TForm8*>(d);
        d->show();
        QTest::keyClicks(dialog->Edit1, name);
        QTest::keyClicks(dialog->Edit2, directory);
        QTest::mouseClick(dialog->Button1, Qt::LeftButton);
        stillOpen = d->isVisible() && d->result() == 0;
        nameAfter = dialog->Edit1->text();
        return d->result();
    });
    TForm8 dialog(&main.window, main.settings());
    const int result = ravelin::ui::prompter().execDialog(&dialog);
    main.take(dialog, result);
    QCOMPARE(result, int(QDialog::Rejected));
    QVERIFY(stillOpen);
    QCOMPARE(nameAfter, name);
    QCOMPARE(prompter.messageTexts(), QStringList{"You must fill in all fields before you can continue"});
    QCOMPARE(prompter.messages[0].message.icon, ravelin::ui::Icon::Information);
    QCOMPARE(prompter.messages[0].message.buttons, int(ravelin::ui::Ok));
    QCOMPARE(prompter.beeps, QList<ravelin::ui::Beep>{ravelin::ui::Beep::Information});
    QCOMPARE(main.name->text(), QString("old"));
    QCOMPARE(main.directory->text(), QString("/old"));
    QCOMPARE(main.window.windowTitle(), QString("Ravelin Pro"));
}

void TestForm8::okFillsTheSettings()
{
    MainSettings main;
    prompter.dialogHandlers.push_back([&](QDialog* d) {
        auto* dialog = static_cast<TForm8*>(d);
        d->show();
        QTest::keyClicks(dialog->Edit1, " setup.cab");
        QTest::keyClicks(dialog->Edit2, "/no/such/dir/");
        dialog->CheckBox1->click();
        QTest::keyClick(dialog->Edit2, Qt::Key_Return); // the default button
        return d->result();
    });
    TForm8 dialog(&main.window, main.settings());
    const int result = ravelin::ui::prompter().execDialog(&dialog);
    QCOMPARE(result, int(QDialog::Accepted));
    main.take(dialog, result);
    QVERIFY(prompter.messages.isEmpty());
    // Taken exactly as typed.
    QCOMPARE(main.name->text(), QString(" setup.cab"));
    QCOMPARE(main.directory->text(), QString("/no/such/dir/"));
    QVERIFY(main.flag->isChecked());
    QCOMPARE(main.window.windowTitle(), QString(" setup.cab - Ravelin Pro"));
    QCOMPARE(ravelin::ui::applicationTitle(), QString(" setup.cab - Ravelin Pro"));
    QCOMPARE(QGuiApplication::applicationDisplayName(), QGuiApplication::applicationName());
    QVERIFY(!dialog.exitRequested());
    QCOMPARE(cabinetPathFor(main.directory->text(), main.name->text()),
             QString("/no/such/dir// setup.cab.cab"));
}

void TestForm8::exitAsksToEndTheApplication()
{
    MainSettings main;
    prompter.dialogHandlers.push_back([&](QDialog* d) {
        auto* dialog = static_cast<TForm8*>(d);
        dialog->Edit1->setText("x");
        dialog->Edit2->setText("/tmp");
        dialog->Button2->click();
        return d->result();
    });
    TForm8 dialog(&main.window, main.settings());
    const int result = ravelin::ui::prompter().execDialog(&dialog);
    QCOMPARE(result, int(TForm8::ExitApplication));
    main.take(dialog, result);
    QVERIFY(dialog.exitRequested());
    QVERIFY(main.name->text().isEmpty());
    QVERIFY(main.directory->text().isEmpty());
}

void TestForm8::pictureButtonRunsTheFolderChooser()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("output/cabs"));
    const QString target = dir.filePath("output/cabs");
    MainSettings main;
    QStringList statuses;
    bool statusShown = false;
    QString title;
    // The form's handler presses the picture button, which runs the chooser.
    prompter.dialogHandlers.push_back([&](QDialog* d) {
        auto* dialog = static_cast<TForm8*>(d);
        dialog->SpeedButton7->click();
        return int(QDialog::Rejected);
    });
    prompter.dialogHandlers.push_back([&](QDialog* d) {
        auto* chooser = qobject_cast<ravelin::tools::TBrowseFolderDialog*>(d);
        if (!chooser)
            return int(QDialog::Rejected);
        d->show();
        statusShown = d->findChild<QLabel*>("StatusLabel")->isVisible();
        title = d->findChild<QLabel*>("TitleLabel")->text();
        statuses << chooser->statusText();
        chooser->setSelectionPath(dir.path());
        statuses << chooser->statusText();
        chooser->setSelectionPath(target);
        statuses << chooser->statusText();
        d->findChild<QPushButton*>("OkButton")->click();
        return d->result();
    });
    TForm8 dialog(&main.window, main.settings());
    ravelin::ui::prompter().execDialog(&dialog);
    QCOMPARE(prompter.dialogs.size(), 2);
    QVERIFY(statusShown);
    QCOMPARE(title, QString("Output Directory"));
    QCOMPARE(statuses,
             (QStringList{"", ravelin::tools::shortenPath(dir.path()), ravelin::tools::shortenPath(target)}));
    QCOMPARE(dialog.Edit2->text(), target);
}

void TestForm8::folderChooserCancelLeavesDirectory()
{
    MainSettings main;
    TForm8 dialog(&main.window, main.settings());
    dialog.Edit2->setText("/typed");
    prompter.dialogHandlers.push_back([](QDialog* d) {
        d->findChild<QPushButton*>("CancelButton")->click();
        return d->result();
    });
    dialog.SpeedButton7->click();
    QCOMPARE(prompter.dialogs.size(), 1);
    QCOMPARE(dialog.Edit2->text(), QString("/typed"));
}

void TestForm8::makeSXJoinsAndRemovesCabinet()
{
    QTemporaryDir dir;
    const QByteArray ext = randomBytes(3000, 1);
    const QByteArray cab = randomBytes(5000, 2);
    QVERIFY(writeFile(dir.filePath("extract.exe"), ext));
    // A name typed as "setup.cab" was built as setup.cab.cab.
    QVERIFY(QDir(dir.path()).mkdir("out"));
    QVERIFY(writeFile(dir.filePath("out/setup.cab.cab"), cab));
    const auto r = makeSX(nullptr, dir.filePath("extract.exe"), dir.filePath("out"), "setup.cab");
    QVERIFY(r.ok());
    QVERIFY(prompter.messages.isEmpty());
    const QByteArray out = readFile(dir.filePath("out/setup.cab.exe"));
    QCOMPARE(out.size(), 8000);
    QCOMPARE(out.left(3000), ext);
    QCOMPARE(out.mid(3000), cab);
    QVERIFY(!QFile::exists(dir.filePath("out/setup.cab.cab")));
}

void TestForm8::makeSXMissingExtractor()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("c.cab"), randomBytes(5000, 3)));
    QWidget owner;
    owner.setObjectName("Form1");
    const auto r = makeSX(&owner, dir.filePath("extract.exe"), dir.path(), "c");
    QCOMPARE(r.failed, ravelin::sfx::SfxStep::OpenExtractor);
    QCOMPARE(prompter.messageTexts(), QStringList{"File not found"});
    QCOMPARE(prompter.messages[0].message.icon, ravelin::ui::Icon::Error);
    QCOMPARE(prompter.messages[0].parentObjectName, QString("Form1"));
    QCOMPARE(readFile(dir.filePath("c.cab")).size(), 5000);
    QVERIFY(!QFile::exists(dir.filePath("c.exe")));
}

void TestForm8::makeSXWriteFailureKeepsCabinet()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("extract.exe"), randomBytes(3000, 4)));
    QVERIFY(writeFile(dir.filePath("c.cab"), randomBytes(5000, 5)));
    // The file-size limit makes a block's write fail part-way.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 2000;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto r = makeSX(nullptr, dir.filePath("extract.exe"), dir.path(), "c");
    setrlimit(RLIMIT_FSIZE, &old);
    QCOMPARE(r.failed, ravelin::sfx::SfxStep::WriteExtractor);
    // One message for the failed block, then the copy ends.
    QCOMPARE(prompter.messageTexts(), QStringList{"Ravelin cannot find file " + dir.filePath("extract.exe")});
    QCOMPARE(prompter.messages[0].message.icon, ravelin::ui::Icon::None);
    QCOMPARE(readFile(dir.filePath("c.cab")).size(), 5000);
    QVERIFY(!QFileInfo::exists(dir.filePath("c.exe")));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

void TestForm8::learnSequence()
{
    // From a fresh start: self-extracting, self-extracting, plain, self-extracting, self-extracting.
    const QList<bool> builds = {true, true, false, true, true};
    const QList<int> counters = {1, 2, 1, 2, 3};
    for (int i = 0; i < builds.size(); ++i) {
        QCOMPARE(AINextStep(builds[i]), counters[i]);
        Preferences prefs;
        QCOMPARE(prefs.readString("AIInt"), QString::number(counters[i]));
        QCOMPARE(prefs.contains("AISetting"), i == builds.size() - 1);
    }
    QCOMPARE(Preferences().readString("AISetting"), QString("1"));
    QVERIFY(AIPerform());
    // Once on, it takes the counter down to 0 to switch it off.
    QCOMPARE(AINextStep(false), 2);
    QCOMPARE(AINextStep(false), 1);
    QVERIFY(AIPerform());
    QCOMPARE(AINextStep(false), 0);
    QCOMPARE(Preferences().readString("AISetting"), QString("0"));
    QVERIFY(!AIPerform());
}

void TestForm8::learnClamps_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("selfExtracting");
    QTest::addColumn<int>("counter");
    QTest::addColumn<QString>("setting"); // null: AISetting not written
    QTest::newRow("7, plain") << "7" << false << 3 << "1";
    QTest::newRow("3, self-extracting") << "3" << true << 3 << "1";
    QTest::newRow("0, plain") << "0" << false << 0 << "0";
    QTest::newRow("-5, self-extracting") << "-5" << true << 0 << "0";
    QTest::newRow("not a number, plain") << "two" << false << 0 << "0";
    QTest::newRow("not a number, self-extracting") << "two" << true << 1 << QString();
    QTest::newRow("hex 0x2, self-extracting") << "0x2" << true << 3 << "1";
    QTest::newRow("int max, self-extracting") << "2147483647" << true << 3 << "1";
    QTest::newRow("int min, plain") << "-2147483648" << false << 0 << "0";
}

void TestForm8::learnClamps()
{
    QFETCH(QString, stored);
    QFETCH(bool, selfExtracting);
    QFETCH(int, counter);
    QFETCH(QString, setting);
    Preferences().writeString("AIInt", stored);
    QCOMPARE(AINextStep(selfExtracting), counter);
    Preferences prefs;
    QCOMPARE(prefs.readString("AIInt"), QString::number(counter));
    QCOMPARE(prefs.contains("AISetting"), !setting.isNull());
    if (!setting.isNull())
        QCOMPARE(prefs.readString("AISetting"), setting);
}

void TestForm8::applyReadsSetting_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("expected");
    QTest::newRow("absent") << QString() << false;
    QTest::newRow("1") << "1" << true;
    QTest::newRow("0") << "0" << false;
    QTest::newRow("not a number") << "yes" << false;
}

void TestForm8::applyReadsSetting()
{
    QFETCH(QString, stored);
    QFETCH(bool, expected);
    if (!stored.isNull())
        Preferences().writeString("AISetting", stored);
    QCOMPARE(AIPerform(), expected);
}

QTEST_MAIN(TestForm8)
#include "tst_form8.moc"
