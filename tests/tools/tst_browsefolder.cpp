// Proves TBrowseFolder's dialog, results, events and status-line shortening.
#include <QAbstractFileIconProvider>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include "support/fakeprompter.h"
#include "tools/browsefolder.h"

using namespace ravelin::tools;
using ravelin::test::FakePrompter;

namespace {

TBrowseFolderDialog* asBrowse(QDialog* d)
{
    return qobject_cast<TBrowseFolderDialog*>(d);
}

QPushButton* button(QDialog* d, const char* name)
{
    return d->findChild<QPushButton*>(name);
}

// A handler that selects `path` in the tree and presses OK.
std::function<int(QDialog*)> choose(const QString& path)
{
    return [path](QDialog* d) {
        auto* dialog = asBrowse(d);
        if (!dialog || !dialog->setSelectionPath(path))
            return int(QDialog::Rejected);
        button(d, "OkButton")->click();
        return d->result();
    };
}

int pressCancel(QDialog* d)
{
    button(d, "CancelButton")->click();
    return d->result();
}

} // namespace

class TestBrowseFolder : public QObject {
    Q_OBJECT
private slots:
    void init() { prompter.clear(); }
    void shorten_data();
    void shorten();
    void defaults();
    void everyFolderHasARoot();
    void confirmGivesDirectory();
    void cancelKeepsEarlierDirectory();
    void itemWithoutPathGivesEmptyDirectory();
    void statusLineFollowsSelection();
    void statusTextSentWithoutStatusLine();
    void eventsCarryCallbackParam();
    void secondRunOfSameInstanceIsRefused();
    void pickerFromAnotherPickersEvent();
    void eventExceptionEndsDialogAndIsRethrown();
    void fileSystemOnlyDisablesOkOnComputer();

private:
    FakePrompter prompter;
    FakePrompter::Scope scope{prompter};
};

void TestBrowseFolder::shorten_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("shown");
    // The worked example: 46 characters, 36 after the marker, then 23.
    QTest::newRow("example") << "C:/Program Files/Common Files/Shared Tools/Bin"
                             << "C:/.../Shared Tools/Bin";
    QTest::newRow("example from the root") << "/Program Files/Common Files/Shared Tools/Bin/x"
                                           << "/.../Shared Tools/Bin/x";
    QTest::newRow("35 characters") << "/home/user/projects/cabinets/a1.cab"
                                   << "/home/user/projects/cabinets/a1.cab";
    QTest::newRow("36 with two parts") << "C:/" + QString(33, 'f') << "C:/" + QString(33, 'f');
    QTest::newRow("36 with one part") << QString(36, 'f') << QString(36, 'f');
    QTest::newRow("three parts still too long") << "C:/x/" + QString(40, 'y') << "C:/.../" + QString(40, 'y');
    QTest::newRow("marker is enough") << "/abcdefghij/" + QString(15, 'b') + "/" + QString(12, 'c')
                                      << "/.../" + QString(15, 'b') + "/" + QString(12, 'c');
    QTest::newRow("drops parts after the marker")
        << "/a/" + QString(20, 'b') + "/" + QString(12, 'c') << "/.../" + QString(12, 'c');
    QTest::newRow("empty parts kept")
        << "//" + QString(20, 'd') + "//" + QString(20, 'e') << "/...//" + QString(20, 'e');
    QTest::newRow("empty") << ""
                           << "";
}

void TestBrowseFolder::shorten()
{
    QFETCH(QString, path);
    QFETCH(QString, shown);
    QCOMPARE(shortenPath(path), shown);
}

void TestBrowseFolder::defaults()
{
    TBrowseFolder picker;
    QCOMPARE(picker.Title(), QString());
    QCOMPARE(picker.CallbackParam(), 0);
    QCOMPARE(picker.Flags(), TBrowseInfoFlagSet());
    QCOMPARE(picker.ShowFullPath(), false);
    QCOMPARE(picker.Folder(), TSHFolders::foDesktop);
    QVERIFY(!picker.OnInitialized());
    QVERIFY(!picker.OnSelectionChanged());
    QCOMPARE(picker.Directory(), QString());
    QCOMPARE(picker.ImageIndex(), 0);
    QVERIFY(!picker.isShowing());
    // The flag values are the shell's.
    QCOMPARE(int(TBrowseInfoFlagSet(bfFileSysDirsOnly | bfStatusText | bfBrowseForPrinter)), 0x2005);
    QCOMPARE(int(TSHFolders::foMyComputer), 17);
}

void TestBrowseFolder::everyFolderHasARoot()
{
    QCOMPARE(allFolders().size(), 17);
    for (TSHFolders folder : allFolders()) {
        const FolderRoot root = folderRoot(folder);
        const QString what = QString::number(int(folder));
        QVERIFY2(!root.label.isEmpty(), qPrintable(what));
        if (!root.isVirtual)
            QVERIFY2(QFileInfo(root.path).isDir(), qPrintable(what + " " + root.path));
        for (const QString& child : root.children)
            QVERIFY2(QFileInfo(child).isDir(), qPrintable(child));
        TBrowseFolderDialog dialog(nullptr, "t", folder, {});
        dialog.selectRoot();
        QVERIFY(dialog.tree()->currentIndex().isValid());
        QCOMPARE(dialog.selectedItem().displayName, root.label);
    }
    // My Computer lists the volume holding the root folder.
    QVERIFY(folderRoot(TSHFolders::foMyComputer).children.contains("/"));
    QCOMPARE(folderRoot(TSHFolders::foPersonal).path, QDir::homePath()); // no Documents here
}

void TestBrowseFolder::confirmGivesDirectory()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("out/deeper"));
    const QString target = dir.filePath("out/deeper");
    for (TSHFolders folder : {TSHFolders::foMyComputer, TSHFolders::foDesktop}) {
        TBrowseFolder picker;
        picker.setFolder(folder);
        prompter.dialogHandlers.push_back(choose(target));
        QVERIFY(picker.Execute());
        QCOMPARE(picker.Directory(), target);
        QCOMPARE(picker.DisplayName(), QString("deeper"));
        QCOMPARE(picker.ImageIndex(), int(QAbstractFileIconProvider::Folder));
    }
    QCOMPARE(prompter.dialogs.size(), 2);
    QCOMPARE(prompter.dialogs[0].className, QString("ravelin::tools::TBrowseFolderDialog"));
    QCOMPARE(prompter.dialogs[0].windowTitle, QString("Browse for Folder"));
}

void TestBrowseFolder::cancelKeepsEarlierDirectory()
{
    QTemporaryDir dir;
    TBrowseFolder picker;
    picker.setFolder(TSHFolders::foMyComputer);
    prompter.dialogHandlers.push_back(choose(dir.path()));
    QVERIFY(picker.Execute());
    prompter.dialogHandlers.push_back(pressCancel);
    QVERIFY(!picker.Execute());
    QCOMPARE(picker.Directory(), dir.path());
    QVERIFY(!picker.Execute()); // closed without an answer
    QCOMPARE(picker.Directory(), dir.path());
}

void TestBrowseFolder::itemWithoutPathGivesEmptyDirectory()
{
    QTemporaryDir dir;
    TBrowseFolder picker;
    picker.setFolder(TSHFolders::foMyComputer);
    prompter.dialogHandlers.push_back(choose(dir.path()));
    QVERIFY(picker.Execute());
    // The root "Computer" is selected when the dialog opens.
    prompter.dialogHandlers.push_back([](QDialog* d) {
        button(d, "OkButton")->click();
        return d->result();
    });
    QVERIFY(picker.Execute());
    QCOMPARE(picker.Directory(), QString());
    QCOMPARE(picker.DisplayName(), QString("Computer"));
    QCOMPARE(picker.ImageIndex(), int(QAbstractFileIconProvider::Computer));
}

void TestBrowseFolder::statusLineFollowsSelection()
{
    QTemporaryDir dir;
    const QString longPath = dir.filePath("a-rather-long-folder-name/and-another-one/leaf");
    QVERIFY(QDir().mkpath(longPath));
    TBrowseFolder picker;
    picker.setTitle("Output Directory");
    picker.setFlags(bfStatusText);
    picker.setShowFullPath(true);
    picker.setFolder(TSHFolders::foMyComputer);
    QStringList seen;
    bool statusVisible = false;
    QString title;
    prompter.dialogHandlers.push_back([&](QDialog* d) {
        auto* dialog = asBrowse(d);
        d->show();
        auto* status = d->findChild<QLabel*>("StatusLabel");
        statusVisible = status->isVisible();
        title = d->findChild<QLabel*>("TitleLabel")->text();
        seen << status->text(); // "Computer" has no path
        // The keyboard moves the selection to the first volume, "/".
        dialog->tree()->setFocus();
        QTest::keyClick(dialog->tree(), Qt::Key_Down);
        (void)QTest::qWaitFor([&] { return status->text() == "/"; });
        seen << status->text();
        dialog->setSelectionPath(dir.path());
        seen << status->text();
        dialog->setSelectionPath(longPath);
        seen << status->text();
        button(d, "OkButton")->click();
        return d->result();
    });
    QVERIFY(picker.Execute());
    QVERIFY(statusVisible);
    QCOMPARE(title, QString("Output Directory"));
    QCOMPARE(seen.size(), 4);
    QCOMPARE(seen[0], QString());
    QCOMPARE(seen[1], QString("/"));
    QCOMPARE(seen[2], shortenPath(dir.path()));
    QCOMPARE(seen[3], shortenPath(longPath));
    QVERIFY(seen[3].contains("/.../"));
    QVERIFY(seen[3].endsWith("/leaf"));
    QCOMPARE(picker.Directory(), longPath);
}

void TestBrowseFolder::statusTextSentWithoutStatusLine()
{
    QTemporaryDir dir;
    TBrowseFolder picker;
    picker.setShowFullPath(true);
    picker.setFolder(TSHFolders::foMyComputer);
    prompter.dialogHandlers.push_back([&](QDialog* d) {
        d->show();
        asBrowse(d)->setSelectionPath(dir.path());
        auto* status = d->findChild<QLabel*>("StatusLabel");
        const bool hiddenWithText = !status->isVisible() && status->text() == shortenPath(dir.path());
        return hiddenWithText ? int(QDialog::Accepted) : int(QDialog::Rejected);
    });
    QVERIFY(picker.Execute());
}

void TestBrowseFolder::eventsCarryCallbackParam()
{
    QTemporaryDir dir;
    TBrowseFolder picker;
    picker.setCallbackParam(-42);
    picker.setFolder(TSHFolders::foMyComputer);
    QStringList events;
    picker.setOnInitialized([&](QDialog* d, int param) {
        events << QString("init %1 %2").arg(param).arg(asBrowse(d)->selectedItem().displayName);
    });
    picker.setOnSelectionChanged([&](QDialog* d, int param, const TItemIDList& item) {
        QVERIFY(asBrowse(d));
        events << QString("sel %1 %2").arg(param).arg(item.path);
    });
    prompter.dialogHandlers.push_back(choose(dir.path()));
    QVERIFY(picker.Execute());
    QCOMPARE(events, (QStringList{"init -42 ", "sel -42 ", "sel -42 " + dir.path()}));
}

void TestBrowseFolder::secondRunOfSameInstanceIsRefused()
{
    TBrowseFolder picker;
    picker.setFolder(TSHFolders::foMyComputer);
    QString message;
    bool stillOpen = false;
    prompter.dialogHandlers.push_back([&](QDialog* d) {
        try {
            picker.Execute();
        } catch (const EBrowseDialogAlreadyShowing& e) {
            message = QString::fromLatin1(e.what());
        }
        stillOpen = picker.isShowing() && d->result() == 0;
        return int(QDialog::Rejected);
    });
    QVERIFY(!picker.Execute());
    QCOMPARE(message, QString("The browse dialog is already showing."));
    QVERIFY(stillOpen);
    QVERIFY(!picker.isShowing());
    QCOMPARE(prompter.dialogs.size(), 1);
}

void TestBrowseFolder::pickerFromAnotherPickersEvent()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("inner"));
    QVERIFY(QDir(dir.path()).mkpath("outer"));
    TBrowseFolder outer;
    TBrowseFolder inner;
    outer.setFolder(TSHFolders::foMyComputer);
    outer.setShowFullPath(true);
    outer.setFlags(bfStatusText);
    inner.setFolder(TSHFolders::foMyComputer);
    bool innerResult = false;
    outer.setOnSelectionChanged([&](QDialog*, int, const TItemIDList& item) {
        if (item.path == dir.filePath("outer")) {
            prompter.dialogHandlers.push_front(choose(dir.filePath("inner")));
            innerResult = inner.Execute();
        }
    });
    QString outerStatus;
    prompter.dialogHandlers.push_back([&](QDialog* d) {
        asBrowse(d)->setSelectionPath(dir.filePath("outer"));
        outerStatus = asBrowse(d)->statusText();
        button(d, "OkButton")->click();
        return d->result();
    });
    QVERIFY(outer.Execute());
    QVERIFY(innerResult);
    QCOMPARE(inner.Directory(), dir.filePath("inner"));
    QCOMPARE(outer.Directory(), dir.filePath("outer"));
    // The outer dialog still shows its own path after the inner run.
    QCOMPARE(outerStatus, shortenPath(dir.filePath("outer")));
    QVERIFY(!outer.isShowing() && !inner.isShowing());
}

void TestBrowseFolder::eventExceptionEndsDialogAndIsRethrown()
{
    QTemporaryDir dir;
    TBrowseFolder picker;
    picker.setFolder(TSHFolders::foMyComputer);
    picker.setOnSelectionChanged([&](QDialog*, int, const TItemIDList& item) {
        if (item.path == dir.path())
            throw std::runtime_error("handler failed");
    });
    prompter.dialogHandlers.push_back([&](QDialog* d) {
        asBrowse(d)->setSelectionPath(dir.path());
        return d->result();
    });
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, picker.Execute());
    QVERIFY(!picker.isShowing());
    QCOMPARE(prompter.dialogs.size(), 1);
    QCOMPARE(prompter.dialogs[0].result, int(QDialog::Rejected));
    QCOMPARE(picker.Directory(), QString());
}

void TestBrowseFolder::fileSystemOnlyDisablesOkOnComputer()
{
    QTemporaryDir dir;
    TBrowseFolderDialog dialog(nullptr, QString(), TSHFolders::foMyComputer, bfFileSysDirsOnly);
    dialog.selectRoot();
    QVERIFY(!button(&dialog, "OkButton")->isEnabled());
    QVERIFY(dialog.setSelectionPath(dir.path()));
    QVERIFY(button(&dialog, "OkButton")->isEnabled());
    TBrowseFolderDialog printers(nullptr, QString(), TSHFolders::foMyComputer, bfBrowseForPrinter);
    printers.selectRoot();
    QVERIFY(!button(&printers, "OkButton")->isEnabled());
}

QTEST_MAIN(TestBrowseFolder)
#include "tst_browsefolder.moc"
