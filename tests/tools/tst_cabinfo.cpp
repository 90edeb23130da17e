// Proves the cabinet information viewer: captions and states, the quoted path
// from the file dialog, argument splitting without a shell, the listing file
// read back (fresh, stale or missing), the length limit, and a real listing.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/fakeprompter.h"
#include "support/testutil.h"
#include "tools/cabinettool.h"
#include "tools/form4.h"
#include "tools/form5.h"

using namespace ravelin;
using ravelin::test::FakePrompter;

namespace {

// What one run of the viewer left behind.
struct ViewRun {
    bool resultShown = false;
    QString resultName; // TForm5's Edit1
    QString listing;    // TForm5's Memo1
    int result = -1;    // runCabinetInfo's result
};

// Drives chooser and result window through the prompter: types `name`
// (unless `chosenPath` is given, which the file dialog then answers) and
// presses "&View", waits for the listing, then presses "&OK".
ViewRun view(FakePrompter& fake, const QString& name, const QString& chosenPath = QString())
{
    ViewRun run;
    if (!chosenPath.isNull())
        fake.fileAnswers.push_back({chosenPath});
    fake.dialogHandlers.push_back([&, name, chosenPath](QDialog* d) {
        auto* chooser = qobject_cast<tools::TForm4*>(d);
        if (!chooser)
            return int(QDialog::Rejected);
        chooser->show();
        if (chosenPath.isNull()) {
            // Typed and, for an empty name, erased again: "&View" stays enabled.
            chooser->Edit1->setText(name.isEmpty() ? QStringLiteral("x") : name);
            chooser->Edit1->setText(name);
        } else
            QTest::mouseClick(chooser->SpeedButton1, Qt::LeftButton);
        QTest::mouseClick(chooser->Button1, Qt::LeftButton);
        return chooser->result();
    });
    fake.dialogHandlers.push_back([&](QDialog* d) {
        auto* result = qobject_cast<tools::TForm5*>(d);
        if (!result)
            return int(QDialog::Rejected);
        result->show();
        run.resultShown = true;
        if (!QTest::qWaitFor([result] { return !result->Timer1.isActive(); }, 60000))
            return int(QDialog::Rejected);
        run.resultName = result->Edit1->text();
        run.listing = result->Memo1->toPlainText();
        QTest::mouseClick(result->Button1, Qt::LeftButton);
        return result->result();
    });
    run.result = tools::runCabinetInfo(nullptr);
    return run;
}

// A stand-in lister that prints each argument on its own line, and counts
// its runs in `runs` beside itself.
QString writeEchoTool(const QString& dir)
{
    const QString path = dir + QStringLiteral("/echo-tool");
    const QByteArray script = "#!/bin/sh\n"
                              "echo run >> \"$(dirname \"$0\")/runs\"\n"
                              "for a in \"$@\"; do printf 'arg:%s\\n' \"$a\"; done\n";
    test::writeFile(path, script);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

QStringList argsOf(const QString& listing)
{
    QStringList args;
    for (const QString& line : listing.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (line.startsWith(QLatin1String("arg:")))
            args.append(line.mid(4));
    return args;
}

} // namespace

class TestCabinetInfo : public QObject {
    Q_OBJECT
private:
    QTemporaryDir* m_work = nullptr;  // current directory of each test
    QTemporaryDir* m_tools = nullptr; // the stand-in lister
    QString m_echo;
    QString m_oldCwd;

private slots:
    void init()
    {
        m_oldCwd = QDir::currentPath();
        m_work = new QTemporaryDir;
        m_tools = new QTemporaryDir;
        QVERIFY(m_work->isValid() && m_tools->isValid());
        QVERIFY(QDir::setCurrent(m_work->path()));
        m_echo = writeEchoTool(m_tools->path());
        tools::setCabinetToolOverride(m_echo);
    }
    void cleanup()
    {
        tools::setCabinetToolOverride(QString());
        QDir::setCurrent(m_oldCwd);
        delete m_work;
        delete m_tools;
    }

    void chooserControls()
    {
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        tools::TForm4 chooser;
        QCOMPARE(chooser.windowTitle(), QStringLiteral("Cabinet Information"));
        QCOMPARE(chooser.Label1->text(), QStringLiteral("Cab File Name:"));
        QCOMPARE(chooser.Button1->text(), QStringLiteral("&View"));
        QCOMPARE(chooser.Button2->text(), QStringLiteral("&Cancel"));
        QVERIFY(!(chooser.windowFlags() & Qt::WindowSystemMenuHint));
        QVERIFY(chooser.Edit1->text().isEmpty());
        QVERIFY(!chooser.Button1->isEnabled());
        chooser.show();
        QTest::keyClicks(chooser.Edit1, QStringLiteral("a"));
        QVERIFY(chooser.Button1->isEnabled());
        // Emptying the box again leaves "&View" enabled.
        chooser.Edit1->clear();
        QVERIFY(chooser.Button1->isEnabled());
        QTest::mouseClick(chooser.Button2, Qt::LeftButton);
        QCOMPARE(chooser.result(), int(QDialog::Rejected));
        QVERIFY(!chooser.isVisible());
    }

    void resultControls()
    {
        tools::TForm5 result(nullptr);
        QCOMPARE(result.windowTitle(), QStringLiteral("Cabinet Information"));
        QCOMPARE(result.Label1->text(), QStringLiteral("Cabinet File Information:"));
        QCOMPARE(result.Button1->text(), QStringLiteral("&OK"));
        QVERIFY(result.Button1->isDefault());
        QVERIFY(!result.Edit1->isEnabled());
        QCOMPARE(result.Memo1->lineWrapMode(), QPlainTextEdit::NoWrap);
        QCOMPARE(result.Memo1->palette().color(QPalette::Text), QColor(Qt::black));
        QCOMPARE(result.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(result.Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QVERIFY(result.Timer1.isSingleShot());
        QCOMPARE(result.Timer1.interval(), 1);
        QVERIFY(!result.Timer1.isActive());
    }

    void fileDialogQuotesPath()
    {
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        const QString chosen = m_work->path() + QStringLiteral("/my cabs/disk one.cab");
        fake.fileAnswers.push_back({chosen});
        tools::TForm4 chooser;
        QTest::mouseClick(chooser.SpeedButton1, Qt::LeftButton);
        QCOMPARE(fake.fileRequests.size(), 1);
        QCOMPARE(fake.fileRequests[0].title, QStringLiteral("Cab File"));
        QCOMPARE(fake.fileRequests[0].filter, QStringLiteral("Cab Files (*.cab)"));
        QCOMPARE(fake.fileRequests[0].defaultSuffix, QStringLiteral("cab"));
        QVERIFY(!fake.fileRequests[0].multiple);
        QCOMPARE(chooser.Edit1->text(), QLatin1Char('"') + chosen + QLatin1Char('"'));
        QVERIFY(chooser.Button1->isEnabled());
        // A cancelled dialog keeps the text.
        QTest::mouseClick(chooser.SpeedButton1, Qt::LeftButton);
        QCOMPARE(chooser.Edit1->text(), QLatin1Char('"') + chosen + QLatin1Char('"'));
    }

    void argumentsReachTool_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("mustNotExist");
        QTest::newRow("plain") << "/cabs/disk1.cab" << QStringList{"l", "/cabs/disk1.cab"} << QStringList{};
        QTest::newRow("quoted with spaces")
            << "\"/cabs/my cabs/disk one.cab\"" << QStringList{"l", "/cabs/my cabs/disk one.cab"}
            << QStringList{};
        QTest::newRow("typed with spaces")
            << "/cabs/my cabs/disk one.cab" << QStringList{"l", "/cabs/my", "cabs/disk", "one.cab"}
            << QStringList{};
        QTest::newRow("command substitution")
            << "$(touch x).cab" << QStringList{"l", "$(touch", "x).cab"} << QStringList{"x"};
        QTest::newRow("backquotes") << "`touch y`.cab" << QStringList{"l", "`touch", "y`.cab"}
                                    << QStringList{"y"};
        QTest::newRow("semicolon") << "a.cab; touch z" << QStringList{"l", "a.cab;", "touch", "z"}
                                   << QStringList{"z"};
        QTest::newRow("redirection") << "a.cab > out 2>err" << QStringList{"l", "a.cab", ">", "out", "2>err"}
                                     << QStringList{"out", "err"};
        QTest::newRow("variable") << "$HOME/a.cab" << QStringList{"l", "$HOME/a.cab"} << QStringList{};
        QTest::newRow("empty") << "" << QStringList{"l"} << QStringList{};
    }
    void argumentsReachTool()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, args);
        QFETCH(QStringList, mustNotExist);
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        const ViewRun run = view(fake, name);
        QVERIFY(run.resultShown);
        QCOMPARE(run.resultName, name);
        QCOMPARE(argsOf(run.listing), args);
        QVERIFY(fake.messages.isEmpty());
        QCOMPARE(run.result, int(QDialog::Accepted));
        for (const QString& file : mustNotExist) {
            QVERIFY2(!QFile::exists(m_work->filePath(file)), qPrintable(file));
            QVERIFY2(!QFile::exists(m_tools->filePath(file)), qPrintable(file));
        }
        // The listing lands in the working directory under its own name.
        QVERIFY(QFile::exists(m_work->filePath(QStringLiteral("cabinf.TXT"))));
    }

    void okClosesBoth()
    {
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        const ViewRun run = view(fake, QStringLiteral("a.cab"));
        QCOMPARE(run.result, int(QDialog::Accepted));
        QCOMPARE(fake.dialogs.size(), 2);
        QCOMPARE(fake.dialogs[0].className, QStringLiteral("ravelin::tools::TForm5"));
        QCOMPARE(fake.dialogs[0].result, int(QDialog::Accepted));
        QCOMPARE(fake.dialogs[1].className, QStringLiteral("ravelin::tools::TForm4"));
    }

    void runsOncePerShowing()
    {
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        tools::TForm5 result(nullptr);
        result.Edit1->setText(QStringLiteral("a.cab"));
        result.show();
        QTRY_VERIFY(!result.Timer1.isActive());
        QCoreApplication::processEvents();
        QCOMPARE(test::readFile(m_tools->filePath(QStringLiteral("runs"))), QByteArray("run\n"));
        result.hide();
        result.show();
        QTRY_VERIFY(!result.Timer1.isActive());
        QCOMPARE(test::readFile(m_tools->filePath(QStringLiteral("runs"))), QByteArray("run\nrun\n"));
    }

    void toolNotRunSaysSo_data()
    {
        // Where the lister is looked for, and the reason the message gives.
        QTest::addColumn<QString>("tool"); // "": none found; else a name in m_tools
        QTest::addColumn<QString>("reason");
        QTest::newRow("not found anywhere") << ""
                                            << "";
        QTest::newRow("missing") << "missing/ravelin-cab"
                                 << "No such file or directory";
        QTest::newRow("not executable") << "plain-file"
                                        << "Permission denied";
        QTest::newRow("a folder") << "folder"
                                  << "not a regular file";
    }
    void toolNotRunSaysSo()
    {
        QFETCH(QString, tool);
        QFETCH(QString, reason);
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        QVERIFY(test::writeFile(m_tools->filePath(QStringLiteral("plain-file")), "#!/bin/sh\necho listed\n"));
        QVERIFY(QDir(m_tools->path()).mkdir(QStringLiteral("folder")));
        const QByteArray oldPath = qgetenv("PATH");
        QString path;
        if (tool.isEmpty()) {
            // Neither beside this test program nor on PATH.
            tools::setCabinetToolOverride(QString());
            qputenv("PATH", QFile::encodeName(m_tools->path()));
            QVERIFY(tools::cabinetToolPath().isEmpty());
        } else {
            path = m_tools->filePath(tool);
            tools::setCabinetToolOverride(path);
        }
        const ViewRun run = view(fake, QStringLiteral("a.cab"));
        qputenv("PATH", oldPath);
        const QString start = QStringLiteral("There was an error getting the required information: ");
        QCOMPARE(fake.messageTexts(),
                 QStringList{tool.isEmpty()
                                 ? start + "ravelin-cab was not found beside the program or on PATH"
                                 : start + path + " could not be run: " + reason});
        QCOMPARE(fake.messages[0].message.icon, ui::Icon::None);
        QVERIFY(run.listing.isEmpty());
        QVERIFY(!QFile::exists(m_work->filePath(QStringLiteral("cabinf.TXT"))));
        QCOMPARE(run.result, int(QDialog::Accepted));
    }

    void listingFolderShowsError()
    {
        // A folder where the listing should be: the tool's output cannot go
        // there and nothing can be read back.
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        QVERIFY(QDir(m_work->path()).mkdir(QStringLiteral("cabinf.TXT")));
        const ViewRun run = view(fake, QStringLiteral("a.cab"));
        QCOMPARE(fake.messageTexts(),
                 QStringList{QStringLiteral("There was an error getting the required information")});
        QVERIFY(run.listing.isEmpty());
    }

    void notRegularOrNotTextRefused_data()
    {
        // What the name stands for, how it reaches the chooser, and the
        // message. The lister is not started for any of them.
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("throughDialog");
        QTest::addColumn<bool>("withReason");
        QTest::newRow("named pipe, chosen") << "fifo" << true << true;
        QTest::newRow("named pipe, typed") << "fifo" << false << true;
        QTest::newRow("device, typed") << "device" << false << true;
        QTest::newRow("0xff name, chosen") << "0xff" << true << false;
        QTest::newRow("0xff name with look-alike, chosen") << "0xff+alike" << true << false;
    }
    void notRegularOrNotTextRefused()
    {
        QFETCH(QString, kind);
        QFETCH(bool, throughDialog);
        QFETCH(bool, withReason);
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        QString path = m_work->filePath(QStringLiteral("pipe.cab"));
        const QByteArray odd = QFile::encodeName(m_work->path()) + "/odd\xff.cab";
        const QByteArray alike = QFile::encodeName(QFile::decodeName(odd));
        struct Remove { // Qt cannot remove such names with the folder
            QByteArray a, b;
            ~Remove() { ::unlink(a.constData()), ::unlink(b.constData()); }
        } remove{odd, alike};
        if (kind == "fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
        } else if (kind == "device") {
            path = QStringLiteral("/dev/zero");
        } else {
            // The file dialog hands over the name as text, U+FFFD for 0xFF.
            for (const QByteArray& p :
                 kind == "0xff" ? QList<QByteArray>{odd} : QList<QByteArray>{odd, alike}) {
                const int fd = ::open(p.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
                QVERIFY(fd >= 0);
                ::close(fd);
            }
            path = QFile::decodeName(odd);
        }
        QElapsedTimer clock;
        clock.start();
        const ViewRun run = throughDialog ? view(fake, QString(), path) : view(fake, path);
        QVERIFY(clock.elapsed() < 10000);
        QVERIFY(run.resultShown);
        QCOMPARE(fake.messageTexts(),
                 QStringList{QStringLiteral("Cannot open file ") + path +
                             (withReason ? QStringLiteral(": not a regular file") : QString())});
        QCOMPARE(fake.messages[0].message.icon, ui::Icon::Error);
        QVERIFY(run.listing.isEmpty());
        QVERIFY(!QFile::exists(m_tools->filePath(QStringLiteral("runs"))));
        QCOMPARE(run.result, int(QDialog::Accepted));
    }

    void listingNameIsAPipe()
    {
        // A pipe under the listing's name would hold the lister and the
        // reading back for ever: it is not used.
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        QCOMPARE(
            ::mkfifo(QFile::encodeName(m_work->filePath(QStringLiteral("cabinf.TXT"))).constData(), 0644), 0);
        QElapsedTimer clock;
        clock.start();
        const ViewRun run = view(fake, QStringLiteral("a.cab"));
        QVERIFY(clock.elapsed() < 10000);
        QCOMPARE(fake.messageTexts(),
                 QStringList{QStringLiteral("There was an error getting the required information")});
        QVERIFY(run.listing.isEmpty());
        QVERIFY(!QFile::exists(m_tools->filePath(QStringLiteral("runs"))));
    }

    void staleListing()
    {
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        const QString listing = m_work->filePath(QStringLiteral("cabinf.TXT"));
        QVERIFY(test::writeFile(listing, "older listing\r\n"));
        // No tool: nothing ran, so the older listing, which is not this
        // cabinet's, is not shown; it is left as it was.
        const QString missing = m_tools->filePath(QStringLiteral("missing/ravelin-cab"));
        tools::setCabinetToolOverride(missing);
        ViewRun run = view(fake, QStringLiteral("a.cab"));
        QVERIFY(run.listing.isEmpty());
        QCOMPARE(fake.messageTexts(),
                 QStringList{tools::cabinetToolNotRunText(missing, "No such file or directory")});
        QCOMPARE(test::readFile(listing), QByteArray("older listing\r\n"));
        // A run replaces it.
        tools::setCabinetToolOverride(m_echo);
        run = view(fake, QStringLiteral("b.cab"));
        QCOMPARE(run.listing, QStringLiteral("arg:l\narg:b.cab\n"));
    }

    void commandLengthLimit_data()
    {
        QTest::addColumn<int>("nameLength");
        QTest::addColumn<bool>("runs");
        // "ravelin-cab l " + name + " > cabinf.TXT" holds 27 characters besides the name.
        QTest::newRow("at the limit") << 485 << true;
        QTest::newRow("one past") << 486 << false;
        QTest::newRow("far past") << 5000 << false;
    }
    void commandLengthLimit()
    {
        QFETCH(int, nameLength);
        QFETCH(bool, runs);
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        const QString name(nameLength, QLatin1Char('n'));
        QCOMPARE(tools::cabinetListCommandLine(name).size(), nameLength + 27);
        const ViewRun run = view(fake, name);
        if (runs) {
            QVERIFY(fake.messages.isEmpty());
            QCOMPARE(argsOf(run.listing), (QStringList{"l", name}));
        } else {
            QCOMPARE(fake.messageTexts(), QStringList{QString::fromLatin1(tools::kCommandTooLongMessage)});
            QVERIFY(!QFile::exists(m_tools->filePath(QStringLiteral("runs"))));
            QVERIFY(!QFile::exists(m_work->filePath(QStringLiteral("cabinf.TXT"))));
            QVERIFY(run.listing.isEmpty());
        }
    }

    void toolFoundOnPath()
    {
        tools::setCabinetToolOverride(QString());
        QTemporaryDir bin;
        const QString tool = bin.filePath(QStringLiteral("ravelin-cab"));
        QVERIFY(QFile::copy(m_echo, tool));
        QFile::setPermissions(tool, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", bin.path().toLocal8Bit() + ':' + oldPath);
        const QString found = tools::cabinetToolPath();
        qputenv("PATH", oldPath);
        QCOMPARE(found, tool);
    }

    // With the real lister.
    void realCabinet_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("throughDialog");
        QTest::newRow("typed quoted path") << "cabs" << false;
        QTest::newRow("chosen path with spaces") << "my cabs" << true;
    }
    void realCabinet()
    {
#ifndef RAVELIN_CAB
        QSKIP("ravelin-cab is not built");
#else
        QFETCH(QString, folder);
        QFETCH(bool, throughDialog);
        const QString cab = QStringLiteral(RAVELIN_CAB);
        const QString dir = m_tools->filePath(folder);
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(test::writeFile(dir + QStringLiteral("/alpha.txt"), test::randomBytes(3000, 1)));
        QVERIFY(test::writeFile(dir + QStringLiteral("/beta.bin"), test::randomBytes(70000, 2)));
        const QString cabinet = dir + QStringLiteral("/disk one.cab");
        const test::ProcessResult made =
            test::run(cab, {QStringLiteral("n"), cabinet, dir + QStringLiteral("/alpha.txt"),
                            dir + QStringLiteral("/beta.bin")});
        if (made.exitCode != 0)
            QSKIP(qPrintable(QStringLiteral("ravelin-cab n cannot make a cabinet yet: ") +
                             QString::fromLocal8Bit(made.err)));
        const test::ProcessResult listed = test::run(cab, {QStringLiteral("l"), cabinet});
        if (listed.exitCode != 0)
            QSKIP(qPrintable(QStringLiteral("ravelin-cab l cannot list a cabinet yet: ") +
                             QString::fromLocal8Bit(listed.err)));

        tools::setCabinetToolOverride(cab);
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        const ViewRun run = throughDialog ? view(fake, QString(), cabinet)
                                          : view(fake, QLatin1Char('"') + cabinet + QLatin1Char('"'));
        QVERIFY(fake.messages.isEmpty());
        QCOMPARE(run.resultName, QLatin1Char('"') + cabinet + QLatin1Char('"'));
        QVERIFY2(run.listing.contains(QLatin1String("alpha.txt")), qPrintable(run.listing));
        QVERIFY2(run.listing.contains(QLatin1String("beta.bin")), qPrintable(run.listing));
        // The viewer shows what the tool printed, nothing more, nothing less.
        QCOMPARE(run.listing, QString::fromLocal8Bit(listed.out).remove(QLatin1Char('\r')));

        // Typed by hand without quotes, the path falls apart into several
        // arguments and lists nothing.
        const ViewRun split = view(fake, cabinet);
        QVERIFY(!split.listing.contains(QLatin1String("alpha.txt")));

        // A name that a shell would run as a command is only a name.
        view(fake, QStringLiteral("$(touch x).cab"));
        view(fake, QStringLiteral("`touch y`; touch z"));
        QVERIFY(!QFile::exists(m_work->filePath(QStringLiteral("x"))));
        QVERIFY(!QFile::exists(m_work->filePath(QStringLiteral("y"))));
        QVERIFY(!QFile::exists(m_work->filePath(QStringLiteral("z"))));
#endif
    }
};

QTEST_MAIN(TestCabinetInfo)
#include "tst_cabinfo.moc"
