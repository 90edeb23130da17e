// Proves the main window and its file list: start-up query, commands, menus, rows.
#include <QtTest>

#include <QAction>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QTableView>
#include <QToolButton>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utime.h>

#include "app/form1.h"
#include "cabinet/filelist.h"
#include "support/fakeprompter.h"
#include "support/testutil.h"
#include "ui/panelstatusbar.h"

using namespace ravelin;
using ravelin::app::TForm1;
using ravelin::test::FakePrompter;

namespace {
const QString kGuardText = QStringLiteral("You must select File | New and fill in the options for this cab "
                                          "file before you can compress the file list.");

QStringList captions(const cabinet::TListView* list)
{
    QStringList c;
    for (int i = 0; i < list->rowCount(); ++i)
        c << list->caption(i);
    return c;
}

void setMTime(const QString& path, const QDateTime& when)
{
    struct utimbuf t;
    t.actime = t.modtime = static_cast<time_t>(when.toSecsSinceEpoch());
    QVERIFY(::utime(QFile::encodeName(path).constData(), &t) == 0);
}
} // namespace

class TestForm1 : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString file(const QString& name, const QByteArray& data = "x")
    {
        const QString p = m_dir.filePath(name);
        test::writeFile(p, data);
        return p;
    }
    void drop(TForm1& form, const QStringList& paths)
    {
        QList<QUrl> urls;
        for (const QString& p : paths)
            urls << QUrl::fromLocalFile(p);
        dropUrls(form, urls);
    }
    void dropUrls(TForm1& form, const QList<QUrl>& urls)
    {
        QMimeData mime;
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(50, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent ev(QPointF(50, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &ev);
    }

private slots:
    void noQuery_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("queries");
        QTest::newRow("none") << QStringList{} << true;
        QTest::newRow("first") << QStringList{"/noquery"} << false;
        QTest::newRow("second") << QStringList{"x", "/noquery"} << false;
        QTest::newRow("third") << QStringList{"x", "y", "/noquery"} << true;
        QTest::newRow("other case") << QStringList{"/NoQuery"} << true;
        QTest::newRow("longer") << QStringList{"/noquery2"} << true;
        QTest::newRow("shorter") << QStringList{"/noquer"} << true;
        QTest::newRow("spaced") << QStringList{" /noquery"} << true;
    }
    void noQuery()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, queries);
        QCOMPARE(TForm1::startupQueriesNewCabinet(args), queries);

        // Shown for real: the start-up query runs the new-cabinet dialog
        // through the prompter exactly when it should.
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        TForm1 form(args);
        form.show();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        bool asked = false;
        for (const auto& d : fake.dialogs)
            asked = asked || d.className.contains(QLatin1String("TForm8"));
        if (!queries)
            QVERIFY(!asked);
    }

    void guard_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("dir");
        QTest::addColumn<bool>("withFiles");
        QTest::newRow("nothing named") << ""
                                       << "" << false;
        QTest::newRow("nothing named, files listed") << ""
                                                     << "" << true;
        QTest::newRow("no directory") << "setup"
                                      << "" << true;
        QTest::newRow("no name") << ""
                                 << "/tmp" << true;
    }
    void guard()
    {
        QFETCH(QString, name);
        QFETCH(QString, dir);
        QFETCH(bool, withFiles);
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        TForm1 form({"/noquery"});
        form.Edit1->setText(name);
        form.Edit2->setText(dir);
        if (withFiles)
            QVERIFY(form.ListView1->addFile(file("a.txt")));
        form.StatusBar1->setPanelText(0, "before");
        fake.messageAnswers = {ui::Help, ui::Ok};
        form.CompressFilesClick();
        QCOMPARE(fake.beeps, QList<ui::Beep>{ui::Beep::Error});
        QCOMPARE(fake.messageTexts().first(), kGuardText);
        const ui::Message& m = fake.messages.first().message;
        QCOMPARE(m.icon, ui::Icon::Error);
        QCOMPARE(m.buttons, int(ui::Ok | ui::Help));
        QCOMPARE(fake.helpTopics, QList<int>{1001});
        QCOMPARE(form.StatusBar1->panelText(0), QString("before"));
        QCOMPARE(form.ListView1->rowCount(), withFiles ? 1 : 0);
    }

    void filesNamedOnTheCommandLine_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("dialog"); // the first dialog opened, if any
        QTest::newRow("two files, no query") << QStringList{"/noquery", "a.txt", "b.txt"} << 2 << "";
        QTest::newRow("files, then the new-cabinet dialog")
            << QStringList{"a.txt"} << 1 << "ravelin::cabinet::TForm8";
        QTest::newRow("a cabinet alone")
            << QStringList{"/noquery", "set.cab"} << 0 << "ravelin::tools::TForm5";
        QTest::newRow("a cabinet among files") << QStringList{"/noquery", "set.cab", "a.txt"} << 2 << "";
    }

    void filesNamedOnTheCommandLine()
    {
        QFETCH(QStringList, names);
        QFETCH(int, rows);
        QFETCH(QString, dialog);
        file("a.txt");
        file("b.txt");
        file("set.cab", QByteArray("MSCF") + QByteArray(32, '\0'));
        QStringList args;
        for (const QString& n : names)
            args << (n.startsWith('/') ? n : m_dir.filePath(n));
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        TForm1 form(args);
        form.show();
        if (dialog.isEmpty())
            QTRY_COMPARE(form.ListView1->rowCount(), rows);
        else
            QTRY_VERIFY(!fake.dialogs.isEmpty());
        QCOMPARE(form.ListView1->rowCount(), rows);
        QCOMPARE(fake.dialogs.isEmpty() ? QString() : fake.dialogs.first().className, dialog);
    }

    void newCabAfterDrop()
    {
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        TForm1 form({"/noquery"});
        fake.fileAnswers = {{file("dialog.txt")}};
        form.AddFilesClick();
        drop(form, {file("dropped1.txt"), file("dropped2.txt")});
        QCOMPARE(form.ListView1->rowCount(), 3);
        QVERIFY(form.droppedFiles());
        form.StatusBar1->setPanelText(0, "x");
        form.NewCabClick();
        QCOMPARE(form.ListView1->rowCount(), 3); // kept, rows from the dialog too
        QVERIFY(!form.droppedFiles());
        QCOMPARE(form.StatusBar1->panelText(0), QString());
        form.NewCabClick();
        QCOMPARE(form.ListView1->rowCount(), 0);
    }

    void dropStopsAtFailure()
    {
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        TForm1 form({"/noquery"});
        const QString missing = m_dir.filePath("gone.txt");
        drop(form, {file("one.txt"), missing, file("three.txt")});
        QCOMPARE(captions(form.ListView1), QStringList{"one.txt"});
        QCOMPARE(fake.messageTexts(), QStringList{"Cannot open file " + missing});
        QVERIFY(form.droppedFiles());
    }

    void notRegularFilesRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("dropped");
        for (const char* kind : {"named pipe", "socket", "device"}) {
            QTest::addRow("%s, open dialog", kind) << kind << false;
            QTest::addRow("%s, dropped", kind) << kind << true;
        }
    }
    void notRegularFilesRefused()
    {
        // Refused at once, named, with the reason; the files before it stay
        // and the ones after it are not added.
        QFETCH(QString, kind);
        QFETCH(bool, dropped);
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        TForm1 form({"/noquery"});
        QTemporaryDir dir;
        QString special = dir.filePath("special");
        int listener = -1;
        if (kind == "named pipe") {
            QCOMPARE(::mkfifo(QFile::encodeName(special).constData(), 0644), 0);
        } else if (kind == "socket") {
            listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            const QByteArray native = QFile::encodeName(special);
            QVERIFY(size_t(native.size()) < sizeof address.sun_path);
            qstrcpy(address.sun_path, native.constData());
            QCOMPARE(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
            QCOMPARE(::listen(listener, 1), 0);
        } else {
            special = "/dev/null";
        }
        const QStringList chosen{file("before.txt"), special, file("after.txt")};
        QElapsedTimer clock;
        clock.start();
        if (dropped) {
            drop(form, chosen);
        } else {
            fake.fileAnswers = {chosen};
            form.AddFilesClick();
        }
        QVERIFY(clock.elapsed() < 5000);
        if (listener >= 0)
            ::close(listener);
        QCOMPARE(captions(form.ListView1), QStringList{"before.txt"});
        QCOMPARE(fake.messageTexts(), QStringList{"Cannot open file " + special + ": not a regular file"});
        QCOMPARE(fake.messages.first().message.icon, ui::Icon::Error);
    }

    void namesThatAreNotTextRefused_data()
    {
        // The file's own name (bytes), whether its look-alike as text
        // (U+FFFD for the 0xFF) also exists, how it comes in, and whether it
        // is taken.
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("lookAlike");
        QTest::addColumn<bool>("dropped");
        QTest::addColumn<bool>("added");
        QTest::newRow("0xff dropped") << QByteArray("odd\xff.txt") << false << true << false;
        QTest::newRow("0xff dropped, look-alike there") << QByteArray("odd\xff.txt") << true << true << false;
        QTest::newRow("0xff chosen") << QByteArray("odd\xff.txt") << false << false << false;
        QTest::newRow("0xff chosen, look-alike there") << QByteArray("odd\xff.txt") << true << false << false;
        QTest::newRow("U+FFFD itself dropped") << QByteArray("odd\xef\xbf\xbd.txt") << false << true << true;
        QTest::newRow("U+FFFD itself chosen") << QByteArray("odd\xef\xbf\xbd.txt") << false << false << true;
        QTest::newRow("Latin-1 in UTF-8 dropped") << QByteArray("caf\xc3\xa9.txt") << false << true << true;
    }
    void namesThatAreNotTextRefused()
    {
        // A name that does not survive as text never reaches another file:
        // refused with "Cannot open file", nothing added, the drop stops.
        QFETCH(QByteArray, name);
        QFETCH(bool, lookAlike);
        QFETCH(bool, dropped);
        QFETCH(bool, added);
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        TForm1 form({"/noquery"});
        QTemporaryDir dir;
        const QByteArray folder = QFile::encodeName(dir.path());
        const QByteArray path = folder + "/" + name;
        const QByteArray alike = QFile::encodeName(QFile::decodeName(path));
        struct Remove { // Qt cannot remove such names with the folder
            QByteArray a, b;
            ~Remove() { ::unlink(a.constData()), ::unlink(b.constData()); }
        } remove{path, alike};
        for (const QByteArray& p : lookAlike ? QList<QByteArray>{path, alike} : QList<QByteArray>{path}) {
            const int fd = ::open(p.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            QVERIFY(fd >= 0);
            ::close(fd);
        }
        // A drop carries the bytes (percent escapes); a dialog gives text.
        const QUrl url(QStringLiteral("file://") + QString::fromLatin1(path.toPercentEncoding("/")));
        const QString text = url.toLocalFile();
        QCOMPARE(text, QFile::decodeName(path));
        if (dropped) {
            dropUrls(form, {url, QUrl::fromLocalFile(file("after.txt"))});
        } else {
            fake.fileAnswers = {{text, file("after.txt")}};
            form.AddFilesClick();
        }
        if (added) {
            QCOMPARE(form.ListView1->rowCount(), 2);
            QVERIFY(fake.messages.isEmpty());
            QStringList paths{form.ListView1->fullPath(0), form.ListView1->fullPath(1)};
            QVERIFY(paths.contains(QFile::decodeName(path)));
            QCOMPARE(QFile::encodeName(QFile::decodeName(path)), path);
        } else {
            QCOMPARE(form.ListView1->rowCount(), 0);
            QCOMPARE(fake.messageTexts(), QStringList{"Cannot open file " + text});
            QCOMPARE(form.droppedFiles(), false);
        }
    }

    void viewModesInBothMenus()
    {
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        TForm1 form({"/noquery"});
        QMenu* view = form.menuBar()->findChild<QMenu*>("View1");
        QVERIFY(view);
        auto checkedIn = [](QMenu* menu) {
            QStringList names;
            for (QAction* a : menu->actions())
                if (a->isChecked() && a->actionGroup())
                    names << a->text();
            return names;
        };
        QCOMPARE(checkedIn(view), QStringList{"&Details"});
        QCOMPARE(checkedIn(form.popupMenu()), QStringList{"&Details"});
        for (QAction* a : form.popupMenu()->actions())
            if (a->text() == "&List")
                a->trigger();
        QCOMPARE(checkedIn(view), QStringList{"&List"});
        QCOMPARE(checkedIn(form.popupMenu()), QStringList{"&List"});
        QCOMPARE(form.ListView1->viewStyle(), cabinet::ViewStyle::List);
        form.action("LargeIcons1")->trigger();
        QCOMPARE(checkedIn(form.popupMenu()), QStringList{"&Large Icons"});
        QCOMPARE(form.ListView1->viewStyle(), cabinet::ViewStyle::Icon);
    }

    void menusAndToolbar()
    {
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        TForm1 form({"/noquery"});
        QStringList top;
        for (QAction* a : form.menuBar()->actions())
            top << a->text();
        QCOMPARE(top, (QStringList{"&File", "&View", "&Tools", "&Help"}));
        QStringList popup;
        for (QAction* a : form.popupMenu()->actions())
            popup << (a->isSeparator() ? "-" : a->text());
        QCOMPARE(popup,
                 (QStringList{"&Add Files", "&Delete Files", "-", "&Clear List", "-", "&Tool Bar",
                              "&Tool Tips", "-", "&Large Icons", "&Small Icons", "&List", "&Details"}));
        QStringList hints;
        for (QToolButton* b : form.toolButtons())
            hints << b->toolTip();
        QCOMPARE(hints, (QStringList{"Create new cab", "Add Files to cab", "Compress Files",
                                     "Encrypt / Decrypt", "Organise cab files", "Distribution Wizard",
                                     "Visit Korvane on the web", "Get help", "Exit"}));
        for (QToolButton* b : form.toolButtons())
            QVERIFY(!b->icon().isNull());
        QCOMPARE(form.action("RavelinHelp1")->shortcut(), QKeySequence(Qt::Key_F1));
    }

    void toolTipsAndToolBar()
    {
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        TForm1 form({"/noquery"});
        form.show();
        QAction* tips = form.action("ToolTips1");
        tips->trigger();
        QVERIFY(!tips->isChecked());
        QCOMPARE(form.toolButtons().size(), 9);
        for (QToolButton* b : form.toolButtons())
            QVERIFY(b->toolTip().isEmpty());
        tips->trigger();
        for (QToolButton* b : form.toolButtons())
            QVERIFY(!b->toolTip().isEmpty());
        QAction* bar = form.action("ToolBar1");
        bar->trigger();
        QVERIFY(!form.Panel1->isVisible());
        bar->trigger();
        QVERIFY(form.Panel1->isVisible());
    }

    void sortOrder()
    {
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        cabinet::TListView list;
        for (const char* n : {"b.txt", "a.txt", "C.txt", "B.txt", "a.txt", "c.txt"})
            QVERIFY(list.addFile(file(n)));
        const QStringList got = captions(&list);
        // Alphabetical; case only orders otherwise equal names; duplicates stay.
        QCOMPARE(got.size(), 6);
        QCOMPARE(got.mid(0, 2), (QStringList{"a.txt", "a.txt"}));
        QCOMPARE(QSet<QString>(got.begin() + 2, got.begin() + 4), (QSet<QString>{"b.txt", "B.txt"}));
        QCOMPARE(QSet<QString>(got.begin() + 4, got.end()), (QSet<QString>{"c.txt", "C.txt"}));
    }

    void typeColumn_data()
    {
        QTest::addColumn<QString>("shell");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("known") << "plain text document"
                               << "a.txt"
                               << "plain text document";
        QTest::newRow("unknown ext") << ""
                                     << "readme.xyz"
                                     << "xyz File";
        QTest::newRow("case kept") << ""
                                   << "notes.AbC"
                                   << "AbC File";
        QTest::newRow("no ext") << ""
                                << "README"
                                << "File";
        QTest::newRow("trailing dot") << ""
                                      << "name."
                                      << " File";
    }
    void typeColumn()
    {
        QFETCH(QString, shell);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QCOMPARE(cabinet::TListView::typeColumn(shell, name), expected);
    }

    void rowColumns()
    {
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        cabinet::TListView list;
        const QString early = file("early.zzqx");
        const QString late = file("late");
        const QString text = file("notes.txt");
        setMTime(early, QDateTime(QDate(2024, 3, 9), QTime(0, 5, 31), Qt::LocalTime));
        setMTime(late, QDateTime(QDate(2024, 3, 9), QTime(13, 40, 0), Qt::LocalTime));
        for (const QString& p : {early, late, text})
            QVERIFY(list.addFile(p));
        QCOMPARE(captions(&list), (QStringList{"early.zzqx", "late", "notes.txt"}));
        QCOMPARE(list.subItem(0, 1), QString("zzqx File"));
        QCOMPARE(list.subItem(1, 1), QString("File"));
        QVERIFY(!list.subItem(2, 1).isEmpty());
        QVERIFY(list.subItem(2, 1) != QString("txt File")); // the desktop knows .txt
        QCOMPARE(list.subItem(0, 3), QString("12:05 AM"));
        QCOMPARE(list.subItem(1, 3), QString("01:40 PM"));
        QCOMPARE(list.subItem(0, 2), QLocale().toString(QDate(2024, 3, 9), QLocale::ShortFormat));
        const QString dir = m_dir.path() + "/";
        QCOMPARE(list.subItem(0, 4), dir);
        QCOMPARE(list.fullPath(0), early);
        QVERIFY(!list.rowIcon(0).isNull());
    }

    void timeColumn_data()
    {
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("expected");
        QTest::newRow("midnight") << QTime(0, 0) << "12:00 AM";
        QTest::newRow("morning") << QTime(9, 7) << "09:07 AM";
        QTest::newRow("noon") << QTime(12, 0) << "12:00 PM";
        QTest::newRow("evening") << QTime(23, 59) << "11:59 PM";
    }
    void timeColumn()
    {
        QFETCH(QTime, time);
        QFETCH(QString, expected);
        QCOMPARE(cabinet::TListView::timeColumn(time), expected);
    }

    void deleteSelected()
    {
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        TForm1 form({"/noquery"});
        for (const char* n : {"1.txt", "2.txt", "3.txt", "4.txt", "5.txt"})
            QVERIFY(form.ListView1->addFile(file(n)));
        form.DeleteFilesClick(); // nothing selected: nothing happens
        QCOMPARE(form.ListView1->rowCount(), 5);
        for (int r : {0, 2, 3})
            form.ListView1->selectRow(r);
        form.DeleteFilesClick();
        QCOMPARE(captions(form.ListView1), (QStringList{"2.txt", "5.txt"}));
        form.ClearListClick();
        QCOMPARE(form.ListView1->rowCount(), 0);
    }

    void deleteKey_data()
    {
        QTest::addColumn<int>("style");
        QTest::newRow("details") << int(cabinet::ViewStyle::Report);
        QTest::newRow("list") << int(cabinet::ViewStyle::List);
        QTest::newRow("large icons") << int(cabinet::ViewStyle::Icon);
    }
    void deleteKey()
    {
        // The Delete key in the list does what "&Delete Files" does.
        QFETCH(int, style);
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        TForm1 form({"/noquery"});
        for (const char* n : {"1.txt", "2.txt", "3.txt", "4.txt", "5.txt"})
            QVERIFY(form.ListView1->addFile(file(n)));
        form.ListView1->setViewStyle(cabinet::ViewStyle(style));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QAbstractItemView* view = form.ListView1->currentView();
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Delete); // nothing selected: nothing happens
        QCOMPARE(form.ListView1->rowCount(), 5);
        for (int r : {0, 2, 3})
            form.ListView1->selectRow(r);
        QTest::keyClick(view, Qt::Key_Delete);
        QCOMPARE(captions(form.ListView1), (QStringList{"2.txt", "5.txt"}));
        QVERIFY(fake.messages.isEmpty());
    }

    void addFilesStartsInLastFolder()
    {
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        QTemporaryDir dir;
        QStringList paths;
        for (const char* p : {"first/a.txt", "second/b.txt", "third folder/c.txt"}) {
            const QString path = dir.filePath(QString::fromLatin1(p));
            QVERIFY(QDir().mkpath(QFileInfo(path).path()));
            QVERIFY(test::writeFile(path, "x"));
            paths << path;
        }
        TForm1 form({"/noquery"});
        fake.fileAnswers = {{paths[0]}, {}};
        form.AddFilesClick(); // before any file: the working folder
        form.AddFilesClick(); // beside the last one added; cancelled
        drop(form, {paths[1]});
        fake.fileAnswers = {{paths[2]}, {}};
        form.AddFilesClick(); // beside the dropped one
        form.AddFilesClick();
        QCOMPARE(form.ListView1->rowCount(), 3);
        QStringList folders;
        for (const ui::OpenFileRequest& r : fake.fileRequests)
            folders << r.directory;
        QCOMPARE(folders, (QStringList{QString(), dir.filePath("first"), dir.filePath("second"),
                                       dir.filePath("third folder")}));
    }

    void columnsShowTheirContent_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("date"); // the short date of 10 December 2026
        QTest::newRow("C") << "C"
                           << "10 Dec 2026";
        QTest::newRow("en_GB") << "en_GB"
                               << "10/12/2026";
        QTest::newRow("en_US") << "en_US"
                               << "12/10/26";
    }
    void columnsShowTheirContent()
    {
        QFETCH(QString, locale);
        QFETCH(QString, date);
        struct LocaleScope {
            QLocale before;
            ~LocaleScope() { QLocale::setDefault(before); }
        } restore;
        QLocale::setDefault(QLocale(locale));
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        QTemporaryDir dir;
        const QString readme = dir.filePath("readme.txt");
        const QString setup = dir.filePath("setup.exe");
        const QString help = dir.filePath("program.hlp");
        for (const QString& p : {readme, setup, help})
            QVERIFY(test::writeFile(p, "x"));
        setMTime(readme, QDateTime(QDate(2026, 12, 10), QTime(23, 58), Qt::LocalTime));
        setMTime(setup, QDateTime(QDate(2026, 9, 28), QTime(8, 8), Qt::LocalTime));
        setMTime(help, QDateTime(QDate(2026, 3, 9), QTime(12, 0), Qt::LocalTime));

        TForm1 form({"/noquery"});
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.ListView1->addFiles({readme, setup, help}, &form), 3);
        QCOMPARE(form.ListView1->subItem(1, 2), date);
        QCOMPARE(form.ListView1->subItem(1, 1), QString("plain text document"));

        QTableView* view = form.ListView1->reportView();
        // What the view's delegate needs to show a column's texts unelided.
        auto needed = [view](int column) {
            return static_cast<QAbstractItemView*>(view)->sizeHintForColumn(column);
        };
        auto checkWidths = [view, needed](const char* when) {
            for (int c = 0; c < 5; ++c)
                QVERIFY2(view->columnWidth(c) >= cabinet::TListView::designedWidth(c), when);
            // Type, Date and Time show their texts whole, and the headings.
            for (int c = 1; c <= 3; ++c) {
                QVERIFY2(view->columnWidth(c) >= needed(c),
                         qPrintable(QStringLiteral("%1: column %2 is %3 wide, its texts need %4")
                                        .arg(QLatin1String(when))
                                        .arg(c)
                                        .arg(view->columnWidth(c))
                                        .arg(needed(c))));
                QVERIFY2(view->columnWidth(c) >= view->horizontalHeader()->sectionSizeHint(c), when);
            }
        };
        checkWidths("desktop font");
        // The window keeps its designed size and the desktop's font.
        QCOMPARE(form.size(), QSize(566, 412));
        QCOMPARE(view->font(), QApplication::font(view));

        // A larger font widens them again.
        QFont large = form.ListView1->font();
        large.setPointSizeF(large.pointSizeF() * 1.6);
        form.ListView1->setFont(large);
        checkWidths("larger font");
        QCOMPARE(form.size(), QSize(566, 412));

        // The user can still drag each one, narrower or wider.
        for (int c = 0; c < 5; ++c)
            QCOMPARE(view->horizontalHeader()->sectionResizeMode(c), QHeaderView::Interactive);
        view->horizontalHeader()->resizeSection(2, 40);
        QCOMPARE(view->columnWidth(2), 40);
    }

    void failingAddInSelection()
    {
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        TForm1 form({"/noquery"});
        const QString folder = m_dir.filePath("folder.d");
        QDir().mkpath(folder);
        const QString missing = m_dir.filePath("missing.txt");
        fake.fileAnswers = {{file("a1.txt"), missing, file("a3.txt")}, {folder, file("a4.txt")}};
        form.AddFilesClick();
        QCOMPARE(captions(form.ListView1), QStringList{"a1.txt"});
        QCOMPARE(fake.messageTexts(), QStringList{"Cannot open file " + missing});
        QCOMPARE(fake.fileRequests.first().title, QString("Select Files to Archive"));
        QVERIFY(fake.fileRequests.first().multiple);
        QVERIFY(fake.fileRequests.first().helpButton);
        form.AddFilesClick();
        QCOMPARE(captions(form.ListView1), QStringList{"a1.txt"});
        QCOMPARE(fake.messageTexts().last(), "Cannot open file " + folder);
        // Every row that is there has its Path.
        for (int r = 0; r < form.ListView1->rowCount(); ++r)
            QVERIFY(!form.ListView1->subItem(r, 4).isEmpty());
        form.AddFilesClick(); // cancelled: nothing added
        QCOMPARE(form.ListView1->rowCount(), 1);
    }

    void doubleClickOpens()
    {
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        cabinet::TListView list;
        const QString p = file("open me.txt");
        QVERIFY(list.addFile(p));
        list.openSelected();
        QVERIFY(fake.urls.isEmpty());
        list.selectRow(0);
        list.openSelected();
        QCOMPARE(fake.urls, QList<QUrl>{QUrl::fromLocalFile(p)});
    }

    void webAndMail()
    {
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        TForm1 form({"/noquery"});
        form.toolButtons().at(6)->click();
        form.action("Support1")->trigger();
        QCOMPARE(fake.urls.size(), 2);
        QVERIFY(fake.urls[0].scheme().startsWith("http"));
        QCOMPARE(fake.urls[1].scheme(), QString("mailto"));
        fake.openUrlResult = false; // a refused request shows nothing
        form.action("ReportABug1")->trigger();
        QVERIFY(fake.messages.isEmpty());
    }
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
