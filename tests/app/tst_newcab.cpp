// Proves the main window opens the new-cabinet dialog, learns the self-extract default and joins the .exe.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "app/form1.h"
#include "cabinet/filelist.h"
#include "cabinet/form8.h"
#include "settings/preferences.h"
#include "support/fakeprompter.h"
#include "support/testutil.h"

using ravelin::app::TForm1;
using ravelin::cabinet::TForm8;
using ravelin::settings::Preferences;
using ravelin::test::FakePrompter;

namespace {

void clearPreferences()
{
    Preferences prefs;
    for (const QString& name : prefs.names())
        prefs.remove(name);
}

// Fills the dialog and presses "&OK"; records the check box as the dialog showed it.
std::function<int(QDialog*)> fillIn(const QString& name, const QString& directory,
                                    bool* checkedShown = nullptr)
{
    return [=](QDialog* d) {
        auto* dialog = qobject_cast<TForm8*>(d);
        if (!dialog)
            return int(QDialog::Rejected);
        if (checkedShown)
            *checkedShown = dialog->CheckBox1->isChecked();
        dialog->Edit1->setText(name);
        dialog->Edit2->setText(directory);
        dialog->Button1->click();
        return d->result();
    };
}

int pressExit(QDialog* d)
{
    d->findChild<QPushButton*>("Button2")->click();
    return d->result();
}

} // namespace

class TestNewCab : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        prompter.clear();
        clearPreferences();
    }
    void startupDialogShowsLearnedDefault_data();
    void startupDialogShowsLearnedDefault();
    void startupOkFillsTheSettings();
    void exitAtStartupEndsTheApplication();
    void newCabOpensTheDialogAndExitEnds();
    void compressLearnsFromTheFlag();
    void makeSXUsesTheWindowsSettings();
    void mainRoadEndsInAnExecutable();

private:
    FakePrompter prompter;
    FakePrompter::Scope scope{prompter};
};

void TestNewCab::startupDialogShowsLearnedDefault_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<bool>("checked");
    QTest::newRow("AISetting 1") << "1" << true;
    QTest::newRow("AISetting 0") << "0" << false;
    QTest::newRow("absent") << QString() << false;
}

void TestNewCab::startupDialogShowsLearnedDefault()
{
    QFETCH(QString, setting);
    QFETCH(bool, checked);
    if (!setting.isNull())
        Preferences().writeString("AISetting", setting);
    bool shown = !checked;
    prompter.dialogHandlers.push_back(fillIn("a", "/tmp", &shown));
    TForm1 form;
    QCOMPARE(form.CheckBox1->isChecked(), checked);
    form.show();
    QTRY_COMPARE(prompter.dialogs.size(), 1);
    QCOMPARE(prompter.dialogs[0].className, QString("ravelin::cabinet::TForm8"));
    QCOMPARE(shown, checked);
}

void TestNewCab::startupOkFillsTheSettings()
{
    prompter.dialogHandlers.push_back(fillIn("setup.cab", "/srv/out"));
    TForm1 form;
    form.show();
    QTRY_COMPARE(prompter.dialogs.size(), 1);
    QCOMPARE(form.Edit1->text(), QString("setup.cab"));
    QCOMPARE(form.Edit2->text(), QString("/srv/out"));
    QCOMPARE(form.windowTitle(), QString("setup.cab - Ravelin Pro"));
    QVERIFY(form.isVisible());
}

void TestNewCab::exitAtStartupEndsTheApplication()
{
    prompter.dialogHandlers.push_back(pressExit);
    TForm1 form;
    form.show();
    QTRY_COMPARE(prompter.dialogs.size(), 1);
    QTRY_VERIFY(!form.isVisible());
}

void TestNewCab::newCabOpensTheDialogAndExitEnds()
{
    TForm1 form(QStringList{"/noquery"});
    form.show();
    QTest::qWait(0);
    QCOMPARE(prompter.dialogs.size(), 0);
    prompter.dialogHandlers.push_back(fillIn("first", "/tmp"));
    form.NewCabClick();
    QCOMPARE(prompter.dialogs.size(), 1);
    QCOMPARE(form.Edit1->text(), QString("first"));
    prompter.dialogHandlers.push_back(pressExit);
    form.NewCabClick();
    QCOMPARE(prompter.dialogs.size(), 2);
    QCOMPARE(form.Edit1->text(), QString("first")); // Exit changes no setting
    QVERIFY(!form.isVisible());
}

void TestNewCab::compressLearnsFromTheFlag()
{
    QTemporaryDir dir;
    TForm1 form(QStringList{"/noquery"});
    form.Edit1->setText("c");
    form.Edit2->setText(dir.path());
    form.CheckBox1->setChecked(true);
    prompter.messageAnswers.assign(20, ravelin::ui::Ok); // whatever the build reports
    for (int expected : {1, 2, 3}) {
        form.CompressFilesClick();
        QCOMPARE(Preferences().readInteger("AIInt", -1), expected);
    }
    QCOMPARE(Preferences().readString("AISetting"), QString("1"));
    // The next start applies it.
    form.CheckBox1->setChecked(false);
    TForm1 next(QStringList{"/noquery"});
    QVERIFY(next.CheckBox1->isChecked());
    // Compress Files before naming a cabinet learns nothing.
    TForm1 unnamed(QStringList{"/noquery"});
    unnamed.CompressFilesClick();
    QCOMPARE(Preferences().readInteger("AIInt", -1), 3);
}

void TestNewCab::makeSXUsesTheWindowsSettings()
{
    // The extractor lies in the working directory at start-up.
    const QByteArray ext = ravelin::test::randomBytes(3000, 1);
    const QByteArray cab = ravelin::test::randomBytes(5000, 2);
    QVERIFY(ravelin::test::writeFile(QDir::current().filePath("extract.exe"), ext));
    QTemporaryDir dir;
    QVERIFY(ravelin::test::writeFile(dir.filePath("setup.cab.cab"), cab));
    TForm1 form(QStringList{"/noquery"});
    QCOMPARE(form.extractorPath(), QDir::currentPath() + "/extract.exe");
    form.Edit1->setText("setup.cab");
    form.Edit2->setText(dir.path());
    form.makeSX();
    QVERIFY(prompter.messages.isEmpty());
    QCOMPARE(ravelin::test::readFile(dir.filePath("setup.cab.exe")), ext + cab);
    QVERIFY(!QFile::exists(dir.filePath("setup.cab.cab")));
    // Without the extractor: the file error, and the cabinet stays.
    QVERIFY(QFile::remove(QDir::current().filePath("extract.exe")));
    QVERIFY(ravelin::test::writeFile(dir.filePath("setup.cab.cab"), cab));
    QFile::remove(dir.filePath("setup.cab.exe"));
    form.makeSX();
    QCOMPARE(prompter.messageTexts(), QStringList{"File not found"});
    QVERIFY(QFile::exists(dir.filePath("setup.cab.cab")));
    QVERIFY(!QFile::exists(dir.filePath("setup.cab.exe")));
}

void TestNewCab::mainRoadEndsInAnExecutable()
{
    // Start, name the cabinet self-extracting, add files, compress: setup.cab.exe.
    const QByteArray ext = ravelin::test::randomBytes(3000, 5);
    QVERIFY(ravelin::test::writeFile(QDir::current().filePath("extract.exe"), ext));
    QTemporaryDir dir;
    const QByteArray a = ravelin::test::randomBytes(40000, 6);
    const QByteArray b = QByteArray("line of text\r\n").repeated(300);
    QVERIFY(ravelin::test::writeFile(dir.filePath("a.bin"), a));
    QVERIFY(ravelin::test::writeFile(dir.filePath("b.txt"), b));
    QVERIFY(QDir(dir.path()).mkdir("out"));
    const QString out = dir.filePath("out");
    prompter.dialogHandlers.push_back([&](QDialog* d) {
        auto* dialog = qobject_cast<TForm8*>(d);
        if (!dialog)
            return int(QDialog::Rejected);
        dialog->Edit1->setText("setup.cab");
        dialog->Edit2->setText(out);
        dialog->CheckBox1->setChecked(true);
        dialog->Button1->click();
        return d->result();
    });
    TForm1 form;
    form.show();
    QTRY_COMPARE(prompter.dialogs.size(), 1);
    QVERIFY(form.CheckBox1->isChecked());
    QVERIFY(form.ListView1->addFile(dir.filePath("a.bin")));
    QVERIFY(form.ListView1->addFile(dir.filePath("b.txt")));
    form.CompressFilesClick();
    QVERIFY2(prompter.messages.isEmpty(), qPrintable(prompter.messageTexts().join("; ")));
    QVERIFY(!QFile::exists(out + "/setup.cab.cab"));
    const QByteArray exe = ravelin::test::readFile(out + "/setup.cab.exe");
    QCOMPARE(exe.left(ext.size()), ext);
    QCOMPARE(exe.mid(ext.size(), 4), QByteArray("MSCF"));
    if (ravelin::test::haveProgram("cabextract")) {
        QVERIFY(ravelin::test::writeFile(dir.filePath("back.cab"), exe.mid(ext.size())));
        QVERIFY(QDir(dir.path()).mkdir("x"));
        QCOMPARE(ravelin::test::run("cabextract", {"-q", "-d", dir.filePath("x"), dir.filePath("back.cab")})
                     .exitCode,
                 0);
        QCOMPARE(ravelin::test::readFile(dir.filePath("x/a.bin")), a);
        QCOMPARE(ravelin::test::readFile(dir.filePath("x/b.txt")), b);
    }
    QCOMPARE(Preferences().readInteger("AIInt", -1), 1);
    // A plain build of the same settings leaves the cabinet.
    form.CheckBox1->setChecked(false);
    form.CompressFilesClick();
    QVERIFY(QFile::exists(out + "/setup.cab.cab"));
    QCOMPARE(Preferences().readInteger("AIInt", -1), 0);
}

QTEST_MAIN(TestNewCab)
#include "tst_newcab.moc"
