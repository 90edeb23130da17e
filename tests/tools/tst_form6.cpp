// Proves the organise window finds cabinets on its worker, keeps the button
// table, stops and closes safely during a search, and moves only as it may.
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/fakeprompter.h"
#include "support/testutil.h"
#include "tools/browsefolder.h"
#include "tools/fileiterator/fileiterator.h"
#include "tools/fileiterator/othervolume.h"
#include "tools/form6.h"

using namespace ravelin::tools;
using ravelin::test::FakePrompter;
using ravelin::test::readBytesNamed;
using ravelin::test::readFile;
using ravelin::test::writeBytesNamed;
using ravelin::test::writeFile;

namespace {

const QString kFinished = QStringLiteral("Korvane Ravelin has finished moving your file(s).");

QStringList listed(const TForm6& form)
{
    QStringList items;
    for (int i = 0; i < form.CheckListBox1->count(); ++i)
        items << form.CheckListBox1->item(i)->text();
    return items;
}

QList<bool> checks(const TForm6& form)
{
    QList<bool> states;
    for (int i = 0; i < form.CheckListBox1->count(); ++i)
        states << (form.CheckListBox1->item(i)->checkState() == Qt::Checked);
    return states;
}

// "search" column of the button table: Search, Stop, Organise, Close.
QList<bool> buttons(const TForm6& form)
{
    return {form.Button1->isEnabled(), form.Button2->isEnabled(), form.Button3->isEnabled(),
            form.Button4->isEnabled()};
}

// Holds the worker at its first reported file until a stop is requested,
// so a test can act while a search is certainly running.
struct HoldAtFirstFile {
    std::atomic<bool> held{false};
    explicit HoldAtFirstFile(TForm6& form)
    {
        TFileIterator* it = form.Iterator;
        QObject::connect(
            &form, &TForm6::iteratorFileAdded, &form,
            [this, it](const QByteArray&) {
                if (held.exchange(true))
                    return;
                while (it->State() != TFileIteratorState::Stopping)
                    std::this_thread::yield();
            },
            Qt::DirectConnection);
    }
};

} // namespace

class TestForm6 : public QObject {
    Q_OBJECT
private:
    FakePrompter m_prompter;
    std::unique_ptr<FakePrompter::Scope> m_scope;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_root;   // the tree searched
    QString m_target; // where cabinets go

    // Three cabinets (A, B, C, in three folders) among files that are not.
    void makeTree()
    {
        QDir d(m_root);
        QVERIFY(d.mkpath("one/two"));
        QVERIFY(d.mkpath("three"));
        QVERIFY(d.mkpath(".config"));
        QVERIFY(writeFile(m_root + "/one/A.cab", "cabinet A"));
        QVERIFY(writeFile(m_root + "/one/two/B.Cab", "cabinet B"));
        QVERIFY(writeFile(m_root + "/three/C.CAB", "cabinet C"));
        QVERIFY(writeFile(m_root + "/one/archive.cabx", "x"));
        QVERIFY(writeFile(m_root + "/one/archive", "x"));
        QVERIFY(writeFile(m_root + "/three/archive.cab.bak", "x"));
        QVERIFY(writeFile(m_root + "/.config/hidden.cab", "x"));
    }

    QStringList cabinets() const
    {
        QStringList all{m_root + "/one/A.cab", m_root + "/one/two/B.Cab", m_root + "/three/C.CAB"};
        all.sort();
        return all;
    }

    // Runs a whole search of m_root through the window's "&Search".
    void search(TForm6& form)
    {
        form.Iterator->SetRootFolder(QFile::encodeName(m_root));
        QTest::mouseClick(form.Button1, Qt::LeftButton);
        QVERIFY(form.searching());
        QTRY_VERIFY_WITH_TIMEOUT(!form.searching(), 20000);
        QVERIFY(form.Iterator->Available());
    }

private slots:
    void init()
    {
        m_prompter.clear();
        m_scope = std::make_unique<FakePrompter::Scope>(m_prompter);
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_root = m_dir->path() + "/tree";
        m_target = m_dir->path() + "/target";
        QVERIFY(QDir().mkpath(m_root));
        QVERIFY(QDir().mkpath(m_target));
    }
    void cleanup()
    {
        m_scope.reset();
        m_dir.reset();
    }

    void designState()
    {
        TForm6 form;
        QCOMPARE(form.windowTitle(), QString("Organise Cabs"));
        QCOMPARE(form.size(), QSize(462, 371));
        QVERIFY(form.windowFlags() & Qt::WindowContextHelpButtonHint);
        QCOMPARE(form.Label1->text(), QString("Drive to search:"));
        QCOMPARE(form.Label2->text(), QString("Directory to store cab files:"));
        QCOMPARE(form.Label3->text(), QString("Uncheck any files you do not wish to move."));
        QCOMPARE(form.Button1->text(), QString("&Search"));
        QCOMPARE(form.Button2->text(), QString("&Stop"));
        QCOMPARE(form.Button3->text(), QString("&Organise"));
        QCOMPARE(form.Button4->text(), QString("&Close"));
        QVERIFY(form.Button1->isDefault());
        QCOMPARE(buttons(form), (QList<bool>{true, false, false, true}));
        QVERIFY(form.Edit1->text().isEmpty());
        QCOMPARE(form.CheckListBox1->count(), 0);
        QVERIFY(!form.Animate1->Active());
        QVERIFY(form.SpeedButton1->autoRaise());
        QVERIFY(!form.SpeedButton1->icon().isNull());
        QCOMPARE(form.CheckAll1->text(), QString("&Check All"));
        QCOMPARE(form.UncheckAll1->text(), QString("&Uncheck All"));
        QCOMPARE(form.CheckListBox1->contextMenuPolicy(), Qt::ActionsContextMenu);
        QCOMPARE(form.CheckListBox1->actions(), (QList<QAction*>{form.CheckAll1, form.UncheckAll1}));

        const QList<QPair<QWidget*, int>> help{
            {form.DriveComboBox1, 10}, {form.Edit1, 11},  {form.CheckListBox1, 12}, {form.Animate1, 2},
            {form.Button1, 2},         {form.Button2, 2}, {form.Button3, 2},        {form.Button4, 2}};
        for (const auto& [widget, topic] : help)
            QCOMPARE(widget->property("helpContext").toInt(), topic);

        // Options all three; the iterator searches the volume the box shows.
        QCOMPARE(form.Iterator->Options(), TFileIteratorOptions(fiPath | fiDetails | fiRecurseFolders));
        const QString current = QStorageInfo(QDir::currentPath()).rootPath();
        QCOMPARE(form.DriveComboBox1->currentData().toString(), current);
        QCOMPARE(form.Iterator->RootFolder(), QFile::encodeName(current));
        QCOMPARE(form.BrowseFolder1->Folder(), TSHFolders::foDesktop);
        QVERIFY(form.BrowseFolder1->Title().isEmpty());
    }

    void driveBoxListsMountedVolumes()
    {
        TForm6 form;
        const auto items = TForm6::driveItems();
        QVERIFY(!items.isEmpty());
        QCOMPARE(form.DriveComboBox1->count(), items.size());
        for (int i = 0; i < items.size(); ++i) {
            const QStorageInfo volume(items[i].first);
            QCOMPARE(volume.rootPath(), items[i].first);
            QCOMPARE(form.DriveComboBox1->itemData(i).toString(), items[i].first);
            QCOMPARE(form.DriveComboBox1->itemText(i),
                     volume.name().isEmpty() ? items[i].first : items[i].first + " [" + volume.name() + "]");
        }
        // Choosing a drive makes its root the search root.
        const int last = form.DriveComboBox1->count() - 1;
        form.Iterator->SetRootFolder("/elsewhere");
        form.DriveComboBox1Change(last);
        QCOMPARE(form.Iterator->RootFolder(), QFile::encodeName(items[last].first));
    }

    void searchListsCabinetsOnly()
    {
        makeTree();
        TForm6 form;
        QSignalSpy activated(&form, &TForm6::iteratorActivated);
        QSignalSpy terminated(&form, &TForm6::iteratorTerminated);
        form.Iterator->SetRootFolder(QFile::encodeName(m_root));
        form.Button1Click();
        // Search running.
        QCOMPARE(buttons(form), (QList<bool>{true, true, false, false}));
        QVERIFY(form.Animate1->Active());
        QTRY_VERIFY(!form.searching());
        // Search ended.
        QCOMPARE(buttons(form), (QList<bool>{true, false, true, true}));
        QVERIFY(!form.Animate1->Active());
        QStringList found = listed(form);
        found.sort();
        QCOMPARE(found, cabinets());
        QCOMPARE(checks(form), (QList<bool>{true, true, true}));
        QCOMPARE(form.addedCount(), 3);
        QCOMPARE(activated.count(), 1);
        QCOMPARE(terminated.count(), 1);

        // A new search starts from an empty list.
        QVERIFY(QFile::remove(m_root + "/three/C.CAB"));
        search(form);
        QCOMPARE(form.CheckListBox1->count(), 2);
        QCOMPARE(form.addedCount(), 2);
    }

    void eventsArriveInOrder()
    {
        // Many cabinets: the list shows them in the order the worker found
        // them, after the activation and before the termination.
        for (int i = 0; i < 300; ++i)
            QVERIFY(writeFile(m_root + QString("/f%1.cab").arg(i), "x"));
        TForm6 form;
        QStringList order;
        connect(
            &form, &TForm6::iteratorActivated, &form, [&] { order << "activate"; }, Qt::DirectConnection);
        connect(
            &form, &TForm6::iteratorFileAdded, &form,
            [&](const QByteArray& n) { order << QFile::decodeName(n); }, Qt::DirectConnection);
        connect(
            &form, &TForm6::iteratorTerminated, &form, [&] { order << "terminate"; }, Qt::DirectConnection);
        QStringList handled;
        connect(&form, &TForm6::iteratorActivated, &form, [&] { handled << "activate"; });
        connect(&form, &TForm6::iteratorFileAdded, &form,
                [&](const QByteArray& n) { handled << QFile::decodeName(n); });
        connect(&form, &TForm6::iteratorTerminated, &form, [&] { handled << "terminate"; });
        search(form);
        QCOMPARE(order.size(), 302);
        QCOMPARE(handled, order);
        QCOMPARE(listed(form), order.mid(1, 300));
    }

    void stopDuringSearch()
    {
        makeTree();
        TForm6 form;
        HoldAtFirstFile hold(form);
        QSignalSpy terminated(&form, &TForm6::iteratorTerminated);
        form.Iterator->SetRootFolder(QFile::encodeName(m_root));
        form.Button1Click();
        QTRY_VERIFY(hold.held);
        QCOMPARE(form.Iterator->State(), TFileIteratorState::Running);
        QCOMPARE(buttons(form), (QList<bool>{true, true, false, false}));
        form.Button2Click();
        QVERIFY(!form.Animate1->Active());
        QTRY_VERIFY(!form.searching());
        QCOMPARE(terminated.count(), 1);
        QCOMPARE(buttons(form), (QList<bool>{true, false, true, true}));
        QCOMPARE(form.CheckListBox1->count(), 1); // only the file reported before the stop
        QVERIFY(form.Iterator->Available());
    }

    void secondSearchWhileRunning()
    {
        // A second "&Search" during a search beeps and leaves the running
        // search alone: no second worker, the list keeps growing, one end.
        makeTree();
        TForm6 form;
        HoldAtFirstFile hold(form);
        QSignalSpy activated(&form, &TForm6::iteratorActivated);
        QSignalSpy terminated(&form, &TForm6::iteratorTerminated);
        form.Iterator->SetRootFolder(QFile::encodeName(m_root));
        form.Button1Click();
        QTRY_VERIFY(hold.held);
        form.Button1Click();
        QCOMPARE(m_prompter.beeps, QList<ravelin::ui::Beep>{ravelin::ui::Beep::Default});
        QVERIFY(m_prompter.messages.isEmpty());
        QVERIFY(form.searching());
        QCOMPARE(buttons(form), (QList<bool>{true, true, false, false}));
        form.Button2Click();
        QTRY_VERIFY(!form.searching());
        QCOMPARE(activated.count(), 1);
        QCOMPARE(terminated.count(), 1);
        // And once it has ended, "&Search" searches again.
        search(form);
        QCOMPARE(form.CheckListBox1->count(), 3);
        QCOMPARE(activated.count(), 2);
    }

    void closingDuringSearchWaits_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("close") << "close";
        QTest::newRow("escape") << "escape";
        QTest::newRow("destroy") << "destroy";
    }
    void closingDuringSearchWaits()
    {
        QFETCH(QString, how);
        makeTree();
        auto form = std::make_unique<TForm6>();
        HoldAtFirstFile hold(*form);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        form->Iterator->SetRootFolder(QFile::encodeName(m_root));
        form->Button1Click();
        QTRY_VERIFY(hold.held);
        TFileIterator* iterator = form->Iterator;
        if (how == "close") {
            QVERIFY(form->close());
            QVERIFY(!form->isVisible());
            QVERIFY(iterator->Available());
        } else if (how == "escape") {
            QTest::keyClick(form.get(), Qt::Key_Escape);
            QVERIFY(!form->isVisible());
            QVERIFY(iterator->Available());
        }
        form.reset(); // no worker may outlive the window's iterator
    }

    void closingRightAfterSearchWaits()
    {
        // Closed before the worker has even begun: it is still waited for.
        makeTree();
        for (int round = 0; round < 20; ++round) {
            auto form = std::make_unique<TForm6>();
            form->Iterator->SetRootFolder(QFile::encodeName(m_root));
            form->Button1Click();
            form.reset();
        }
    }

    void driveChangeRefusedWhileSearching()
    {
        makeTree();
        TForm6 form;
        HoldAtFirstFile hold(form);
        form.Iterator->SetRootFolder(QFile::encodeName(m_root));
        form.Button1Click();
        QTRY_VERIFY(hold.held);
        const int index = form.DriveComboBox1->currentIndex();
        form.DriveComboBox1Change(form.DriveComboBox1->count() - 1);
        QCOMPARE(m_prompter.messageTexts(), QStringList{"Cannot change options on fly. Try later"});
        QCOMPARE(m_prompter.messages.first().message.icon, ravelin::ui::Icon::Error);
        QCOMPARE(form.Iterator->RootFolder(), QFile::encodeName(m_root));
        QCOMPARE(form.DriveComboBox1->currentIndex(), index);
        form.Button2Click();
        QTRY_VERIFY(!form.searching());
    }

    void checkAndUncheckAll()
    {
        makeTree();
        TForm6 form;
        search(form);
        form.UncheckAll1->trigger();
        QCOMPARE(checks(form), (QList<bool>{false, false, false}));
        form.CheckListBox1->item(1)->setCheckState(Qt::Checked);
        form.CheckAll1->trigger();
        QCOMPARE(checks(form), (QList<bool>{true, true, true}));
        QVERIFY(form.CheckListBox1->updatesEnabled());
    }

    void browseFillsDirectory()
    {
        TForm6 form;
        form.Edit1->setText("before");
        // Cancelled: the box stays as it was.
        m_prompter.dialogHandlers.push_back([](QDialog*) { return int(QDialog::Rejected); });
        form.SpeedButton1->click();
        QCOMPARE(form.Edit1->text(), QString("before"));
        // Confirmed: the chosen folder replaces it.
        const QString home = QDir::homePath();
        m_prompter.dialogHandlers.push_back([home](QDialog* d) {
            auto* dialog = qobject_cast<TBrowseFolderDialog*>(d);
            if (!dialog || !dialog->setSelectionPath(home))
                return int(QDialog::Rejected);
            return int(QDialog::Accepted);
        });
        form.SpeedButton1->click();
        QCOMPARE(m_prompter.dialogs.size(), 2);
        QCOMPARE(m_prompter.dialogs.last().result, int(QDialog::Accepted));
        QCOMPARE(form.Edit1->text(), home);
    }

    void desktopRootWithoutFolderKeepsBox()
    {
        // The chooser's root is the Desktop; where no desktop folder exists,
        // confirming the root gives no directory and the box keeps its text.
        if (QFileInfo(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation)).isDir())
            QSKIP("this home has a desktop folder");
        TForm6 form;
        form.Edit1->setText("before");
        QString chosen = "none";
        m_prompter.dialogHandlers.push_back([&chosen](QDialog* d) {
            auto* dialog = qobject_cast<TBrowseFolderDialog*>(d);
            if (!dialog)
                return int(QDialog::Rejected);
            chosen = dialog->selectedItem().displayName;
            return int(QDialog::Accepted);
        });
        form.SpeedButton1->click();
        QCOMPARE(chosen, QString("Desktop"));
        QCOMPARE(form.BrowseFolder1->Directory(), QString());
        QCOMPARE(form.Edit1->text(), QString("before"));
    }

    void folderButtonReachedWithTab()
    {
        TForm6 form;
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.Edit1->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), form.Edit1);
        QTest::keyClick(form.Edit1, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), form.SpeedButton1);
        m_prompter.dialogHandlers.push_back([](QDialog*) { return int(QDialog::Rejected); });
        QTest::keyClick(form.SpeedButton1, Qt::Key_Space);
        QCOMPARE(m_prompter.dialogs.size(), 1);
        QTest::keyClick(form.SpeedButton1, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), form.CheckListBox1);
        form.close();
    }

    void focusAfterStop_data()
    {
        QTest::addColumn<bool>("byKeyboard");
        QTest::newRow("Space on Stop") << true;
        QTest::newRow("click on Stop") << false;
    }
    void focusAfterStop()
    {
        // A second Space or Enter after stopping must not organise.
        QFETCH(bool, byKeyboard);
        makeTree();
        TForm6 form;
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        HoldAtFirstFile hold(form);
        form.Iterator->SetRootFolder(QFile::encodeName(m_root));
        form.Button1Click();
        QTRY_VERIFY(hold.held);
        form.Button2->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), form.Button2);
        if (byKeyboard)
            QTest::keyClick(form.Button2, Qt::Key_Space);
        else
            QTest::mouseClick(form.Button2, Qt::LeftButton);
        QTRY_VERIFY(!form.searching());
        QCOMPARE(buttons(form), (QList<bool>{true, false, true, true}));
        QCOMPARE(QApplication::focusWidget(), form.Button1);
        form.close();
    }

    void organise_data()
    {
        QTest::addColumn<QList<bool>>("checked"); // A, B, C in list order
        QTest::newRow("nothing checked") << QList<bool>{false, false, false};
        QTest::newRow("all three") << QList<bool>{true, true, true};
        QTest::newRow("first and last") << QList<bool>{true, false, true};
    }
    void organise()
    {
        QFETCH(QList<bool>, checked);
        makeTree();
        TForm6 form;
        search(form);
        const QStringList before = listed(form);
        for (int i = 0; i < 3; ++i)
            form.CheckListBox1->item(i)->setCheckState(checked[i] ? Qt::Checked : Qt::Unchecked);
        form.Edit1->setText(m_target);
        QTest::mouseClick(form.Button3, Qt::LeftButton);

        QStringList kept;
        for (int i = 0; i < 3; ++i) {
            const QString name = QFileInfo(before[i]).fileName();
            QCOMPARE(QFile::exists(before[i]), !checked[i]);
            QCOMPARE(QFile::exists(m_target + "/" + name), checked[i]);
            if (!checked[i])
                kept << before[i];
        }
        QCOMPARE(listed(form), kept);
        QCOMPARE(m_prompter.beeps, QList<ravelin::ui::Beep>{ravelin::ui::Beep::Information});
        QCOMPARE(m_prompter.messageTexts(), QStringList{kFinished});
        QCOMPARE(m_prompter.messages.first().message.icon, ravelin::ui::Icon::Information);
        QCOMPARE(m_prompter.messages.first().message.buttons, int(ravelin::ui::Ok));
        QCOMPARE(m_prompter.events, (QStringList{"beep", "message:" + kFinished}));
    }

    void organiseReportsFailures_data()
    {
        // How the move of some entries is made to fail, for root too; which
        // of A, B, C (list order) then still stand where they were; the
        // system's reason named for each.
        QTest::addColumn<QString>("how");
        QTest::addColumn<QList<bool>>("stays");
        QTest::addColumn<QString>("reason");
        QTest::newRow("name taken: never replaced")
            << "taken" << QList<bool>{false, true, false} << "File exists";
        QTest::newRow("missing folder")
            << "missing" << QList<bool>{true, true, true} << "No such file or directory";
        QTest::newRow("folder name not text")
            << "not text" << QList<bool>{true, true, true} << QString::fromLocal8Bit(std::strerror(EILSEQ));
        QTest::newRow("read-only folder, unprivileged user")
            << "read-only" << QList<bool>{true, true, true} << "Permission denied";
    }
    void organiseReportsFailures()
    {
        QFETCH(QString, how);
        QFETCH(QList<bool>, stays);
        QFETCH(QString, reason);
        makeTree();
        TForm6 form;
        search(form);
        const QStringList before = listed(form); // A, B, C in list order
        QString target = m_target + "/";         // a doubled separator is fine
        if (how == "taken") {
            QVERIFY(writeFile(m_target + "/" + QFileInfo(before[1]).fileName(), "already here"));
        } else if (how == "missing") {
            target = m_dir->path() + "/no/such/dir";
        } else if (how == "not text") {
            // The folder typed stands for one whose name is not UTF-8: the
            // text is not guessed at.
            QCOMPARE(::mkdir(QFile::encodeName(m_dir->path() + "/t").append("\xff").constData(), 0755), 0);
            target = m_dir->path() + "/t" + QChar(QChar::ReplacementCharacter);
        } else {
            // The folder may not be written by the user running the move; as
            // root the move runs with an unprivileged user's rights.
            QCOMPARE(::chmod(QFile::encodeName(m_target).constData(), 0555), 0);
        }
        form.Edit1->setText(target);
        const uid_t nobody = 65534;
        const bool dropRights = how == "read-only" && ::geteuid() == 0;
        if (dropRights) {
            // Everything but the target folder belongs to that user.
            const auto r = ravelin::test::run("chown", {"-R", QString::number(nobody), m_dir->path()});
            QCOMPARE(r.exitCode, 0);
            QCOMPARE(::chown(QFile::encodeName(m_target).constData(), 0, 0), 0);
            QCOMPARE(::seteuid(nobody), 0);
        }
        form.Button3Click();
        if (dropRights)
            QCOMPARE(::seteuid(0), 0);

        QStringList kept, lines;
        for (int i = 0; i < 3; ++i) {
            const QString name = QFileInfo(before[i]).fileName();
            QCOMPARE(QFile::exists(before[i]), stays[i]);
            if (stays[i]) {
                kept << before[i];
                lines << before[i] + ": " + reason;
            } else {
                QCOMPARE(readFile(m_target + "/" + name), QByteArray("cabinet ") + name.at(0).toLatin1());
            }
        }
        if (how == "taken")
            QCOMPARE(readFile(m_target + "/" + QFileInfo(before[1]).fileName()), QByteArray("already here"));
        QVERIFY(!QFileInfo::exists(m_dir->path() + "/no"));
        // Only what moved left the list; what did not is still checked.
        QCOMPARE(listed(form), kept);
        QCOMPARE(checks(form), QList<bool>(kept.size(), true));
        QCOMPARE(
            m_prompter.messageTexts(),
            QStringList{QString("Korvane Ravelin could not move %1 of your 3 file(s). They stay checked in "
                                "the list:\n\n")
                            .arg(kept.size()) +
                        lines.join('\n')});
        QCOMPARE(m_prompter.messages.first().message.icon, ravelin::ui::Icon::Error);
        QCOMPARE(m_prompter.beeps, QList<ravelin::ui::Beep>{ravelin::ui::Beep::Error});

        // Once the cause is gone, a second "&Organise" moves the rest.
        if (how == "read-only")
            QCOMPARE(::chmod(QFile::encodeName(m_target).constData(), 0755), 0);
        if (how == "taken")
            QVERIFY(QFile::remove(m_target + "/" + QFileInfo(before[1]).fileName()));
        if (how == "missing" || how == "not text")
            form.Edit1->setText(m_target);
        if (how == "not text")
            QCOMPARE(::rmdir(QFile::encodeName(m_dir->path() + "/t").append("\xff").constData()), 0);
        m_prompter.clear();
        form.Button3Click();
        QCOMPARE(form.CheckListBox1->count(), 0);
        QCOMPARE(m_prompter.messageTexts(), QStringList{kFinished});
        QCOMPARE(readFile(m_target + "/B.Cab"), QByteArray("cabinet B"));
    }

    void organiseMovesExactBytes()
    {
        // A cabinet whose name is not UTF-8 (0xFF) beside its look-alike as
        // text (U+FFFD): both are listed apart, and the checked one arrives
        // under its own bytes with its own contents.
        const QByteArray root = QFile::encodeName(m_root);
        const QByteArray target = QFile::encodeName(m_target);
        const QByteArray odd = "/x\xff.cab";
        const QByteArray alike = "/x\xef\xbf\xbd.cab";
        struct Remove { // Qt cannot remove such names with the folders
            QList<QByteArray> files;
            ~Remove()
            {
                for (const QByteArray& f : files)
                    ::unlink(f.constData());
            }
        } remove{{root + odd, root + alike, target + odd, target + alike}};
        QVERIFY(writeBytesNamed(root + odd, "0xff cabinet"));
        QVERIFY(writeBytesNamed(root + alike, "look-alike"));
        TForm6 form;
        search(form);
        QCOMPARE(form.CheckListBox1->count(), 2);
        int oddRow = -1;
        for (int i = 0; i < 2; ++i) {
            const QByteArray bytes = form.CheckListBox1->item(i)->data(TForm6::PathRole).toByteArray();
            if (bytes == root + odd)
                oddRow = i;
            else
                QCOMPARE(bytes, root + alike);
        }
        QVERIFY(oddRow >= 0);
        // Shown apart: the byte that is not UTF-8 as \xff.
        QCOMPARE(form.CheckListBox1->item(oddRow)->text(), m_root + "/x\\xff.cab");
        QCOMPARE(form.CheckListBox1->item(1 - oddRow)->text(), m_root + QString::fromUtf8(alike));
        form.CheckListBox1->item(1 - oddRow)->setCheckState(Qt::Unchecked);
        form.Edit1->setText(m_target);
        form.Button3Click();
        QCOMPARE(m_prompter.messageTexts(), QStringList{kFinished});
        QCOMPARE(readBytesNamed(target + odd), QByteArray("0xff cabinet"));
        QCOMPARE(::access((root + odd).constData(), F_OK), -1);
        QCOMPARE(::access((target + alike).constData(), F_OK), -1);
        QCOMPARE(readBytesNamed(root + alike), QByteArray("look-alike"));
        QCOMPARE(form.CheckListBox1->count(), 1);
        QCOMPARE(form.CheckListBox1->item(0)->data(TForm6::PathRole).toByteArray(), root + alike);
    }

    void organiseAcrossVolumes()
    {
        makeTree();
        ravelin::test::OtherVolume other(m_dir->path());
        if (other.path().isEmpty())
            QSKIP(qPrintable(other.reason()));
        TForm6 form;
        search(form);
        form.Edit1->setText(other.path());
        form.Button3Click();
        QCOMPARE(readFile(other.path() + "/A.cab"), QByteArray("cabinet A"));
        QCOMPARE(readFile(other.path() + "/B.Cab"), QByteArray("cabinet B"));
        QCOMPARE(readFile(other.path() + "/C.CAB"), QByteArray("cabinet C"));
        for (const QString& cab : cabinets())
            QVERIFY(!QFile::exists(cab));
        QCOMPARE(m_prompter.messageTexts(), QStringList{kFinished});
    }

    void organiseAfterEmptySearch()
    {
        TForm6 form;
        search(form);
        QCOMPARE(form.CheckListBox1->count(), 0);
        form.Button3Click();
        QCOMPARE(m_prompter.messageTexts(), QStringList{kFinished});
    }

    void freshWindowEachOpening()
    {
        makeTree();
        QStringList counts;
        for (int round = 0; round < 2; ++round) {
            m_prompter.dialogHandlers.push_back([&](QDialog* d) {
                auto* form = qobject_cast<TForm6*>(d);
                if (!form)
                    return int(QDialog::Rejected);
                counts << QString::number(form->CheckListBox1->count()) + "/" + form->Edit1->text();
                form->Edit1->setText("typed");
                form->Iterator->SetRootFolder(QFile::encodeName(m_root));
                form->Button1Click();
                if (!QTest::qWaitFor([form] { return !form->searching(); }, 20000))
                    counts << "search did not end";
                return int(QDialog::Rejected);
            });
            runOrganiseWindow(nullptr);
        }
        QCOMPARE(counts, (QStringList{"0/", "0/"}));
        QCOMPARE(m_prompter.dialogs.size(), 2);
        QCOMPARE(m_prompter.dialogs.first().className, QString("ravelin::tools::TForm6"));
        QCOMPARE(m_prompter.dialogs.first().windowTitle, QString("Organise Cabs"));
    }
};

QTEST_MAIN(TestForm6)
#include "tst_form6.moc"
