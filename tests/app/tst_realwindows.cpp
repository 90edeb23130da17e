// Proves what a window manager and a user meet under a real X server (Xvfb):
// every title reads in _NET_WM_NAME exactly as set, a stored placement larger
// than the screen is fitted to it, and Get Info runs the ravelin-cab built
// beside ravelin. Without Xvfb the X checks are skipped.
#include <QtTest>

#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/form1.h"
#include "app/startup.h"
#include "cabinet/form8.h"
#include "settings/preferences.h"
#include "support/fakeprompter.h"
#include "support/testutil.h"
#include "ui/prompter.h"

using namespace ravelin;

namespace {

const QSize kScreen(1024, 768);

// An Xvfb of our own on a free display, for the whole run.
struct XServer {
    pid_t pid = -1;
    QByteArray display; // ":N", empty when none could be started
    QString why;        // why there is none

    XServer()
    {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (program.isEmpty()) {
            why = QStringLiteral("Xvfb is not installed");
            return;
        }
        why = QStringLiteral("Xvfb could not be started");
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        ::fcntl(ready[0], F_SETFD, FD_CLOEXEC);
        // Xvfb picks a free display and writes its number to -displayfd
        // once it accepts connections.
        const QByteArray exe = QFile::encodeName(program);
        const QByteArray fd = QByteArray::number(ready[1]);
        const QByteArray screen =
            QByteArray::number(kScreen.width()) + 'x' + QByteArray::number(kScreen.height()) + "x24";
        const char* argv[] = {exe.constData(),    "-displayfd", fd.constData(), "-screen",  "0",
                              screen.constData(), "-nolisten",  "tcp",          "-noreset", nullptr};
        pid = ::fork();
        if (pid == 0) {
            // The server goes with this test, also when the test dies.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execv(exe.constData(), const_cast<char**>(argv));
            ::_exit(127);
        }
        ::close(ready[1]);
        if (pid < 0) {
            ::close(ready[0]);
            return;
        }
        QByteArray number;
        pollfd p{ready[0], POLLIN, 0};
        char c = 0;
        while (::poll(&p, 1, 20000) == 1 && ::read(ready[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(ready[0]);
        if (number.isEmpty()) {
            why = QStringLiteral("Xvfb did not start");
            return;
        }
        display = ':' + number;
        why.clear();
    }
    ~XServer()
    {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

XServer* g_x = nullptr;

bool haveX()
{
    return g_x && !g_x->display.isEmpty();
}

QString xOutput(const QString& program, const QStringList& args)
{
    return QString::fromUtf8(test::run(program, args, QString(), 10000).out);
}

// A property's text as xprop prints it (`NAME = "text"`), unescaped; null
// when the window does not carry it.
QString textProperty(const QString& output, const QString& name)
{
    const QRegularExpression line(QStringLiteral("^%1 = \"(.*)\"$").arg(QRegularExpression::escape(name)),
                                  QRegularExpression::MultilineOption);
    const QRegularExpressionMatch m = line.match(output);
    if (!m.hasMatch())
        return QString();
    QString text = m.captured(1);
    text.replace(QStringLiteral("\\\""), QStringLiteral("\""))
        .replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
    return text;
}

struct XWindow {
    QString id;
    QString netWmName; // _NET_WM_NAME: what a window manager shows
    QString wmName;    // WM_NAME
    qint64 pid = 0;
    QSize size;
    bool viewable = false;
};

XWindow xWindow(const QString& id)
{
    XWindow w;
    w.id = id;
    const QString props =
        xOutput(QStringLiteral("xprop"),
                {QStringLiteral("-id"), id, QStringLiteral("-notype"), QStringLiteral("_NET_WM_NAME"),
                 QStringLiteral("WM_NAME"), QStringLiteral("_NET_WM_PID")});
    w.netWmName = textProperty(props, QStringLiteral("_NET_WM_NAME"));
    w.wmName = textProperty(props, QStringLiteral("WM_NAME"));
    const QRegularExpressionMatch pid =
        QRegularExpression(QStringLiteral("_NET_WM_PID = (\\d+)")).match(props);
    if (pid.hasMatch())
        w.pid = pid.captured(1).toLongLong();
    const QString info = xOutput(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id});
    const auto number = [&info](const char* label) {
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("%1: +(-?\\d+)").arg(QLatin1String(label))).match(info);
        return m.hasMatch() ? m.captured(1).toInt() : -1;
    };
    w.size = QSize(number("Width"), number("Height"));
    w.viewable = info.contains(QLatin1String("Map State: IsViewable"));
    return w;
}

XWindow xWindow(const QWidget* widget)
{
    return xWindow(QStringLiteral("0x%1").arg(widget->winId(), 0, 16));
}

// The shown top-level windows of process `pid`.
QList<XWindow> shownWindowsOf(qint64 pid)
{
    QList<XWindow> windows;
    const QString tree =
        xOutput(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-children")});
    const QRegularExpression idLine(QStringLiteral("^\\s+(0x[0-9a-f]+) "),
                                    QRegularExpression::MultilineOption);
    for (auto it = idLine.globalMatch(tree); it.hasNext();) {
        const XWindow w = xWindow(it.next().captured(1));
        if (w.viewable && w.pid == pid)
            windows.append(w);
    }
    return windows;
}

// The scripted prompter, except that message boxes are the real ones.
class RealMessagePrompter : public test::FakePrompter {
public:
    int message(QWidget* parent, const ui::Message& m) override
    {
        messages.append({parent ? parent->objectName() : QString(), m});
        return ui::QtPrompter().message(parent, m);
    }
};

// Reads the title of the next message box once it is on the screen, then
// closes it with its first button.
class MessageBoxReader : public QObject {
public:
    QStringList titles;
    MessageBoxReader()
    {
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->windowHandle() || !box->windowHandle()->isExposed())
                return;
            m_timer.stop();
            titles << xWindow(box).netWmName;
            box->buttons().first()->click();
        });
    }
    void arm() { m_timer.start(); }

private:
    QTimer m_timer;
};

// A running `ravelin`, ended when it goes out of scope.
struct Program {
    QProcess process;
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

} // namespace

class TestRealWindows : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // Starts `ravelin` with `args` in `work`, its settings below `config`,
    // with a PATH that does not hold the build tree.
    void start(Program& p, const QStringList& args, const QString& work, const QString& config)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        if (haveX()) {
            env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(g_x->display));
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        } else {
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        }
        p.process.setProcessEnvironment(env);
        p.process.setWorkingDirectory(work);
        p.process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.process.start(QStringLiteral(RAVELIN), args);
        QVERIFY(p.process.waitForStarted(10000));
    }

    QString makeCabinet(const QString& folder)
    {
        QDir().mkpath(folder);
        test::writeFile(folder + QStringLiteral("/alpha.txt"), test::randomBytes(3000, 1));
        test::writeFile(folder + QStringLiteral("/beta.bin"), test::randomBytes(9000, 2));
        const QString cabinet = folder + QStringLiteral("/disk1.cab");
        const test::ProcessResult made = test::run(
            QStringLiteral(RAVELIN_CAB), {QStringLiteral("n"), cabinet, folder + QStringLiteral("/alpha.txt"),
                                          folder + QStringLiteral("/beta.bin")});
        return made.exitCode == 0 ? cabinet : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        app::configureApplication();
    }

    void titlesAsTheWindowManagerShowsThem()
    {
        if (!haveX())
            QSKIP(qPrintable(g_x->why));
        RealMessagePrompter prompter;
        test::FakePrompter::Scope scope(prompter);
        MessageBoxReader boxes;
        QStringList dialogTitles;
        app::TForm1 form({QStringLiteral("/noquery")});
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTRY_COMPARE(xWindow(&form).netWmName, QStringLiteral("Ravelin Pro"));

        // Two namings in the new-cabinet dialog; each time "&OK" is first
        // pressed with the name left empty, which shows a message box.
        for (const QString& name : {QStringLiteral("mycab"), QStringLiteral("sfxcab")}) {
            prompter.dialogHandlers.push_back([&, name](QDialog* d) {
                auto* dialog = qobject_cast<cabinet::TForm8*>(d);
                if (!dialog)
                    return int(QDialog::Rejected);
                dialog->show();
                if (QTest::qWaitForWindowExposed(dialog))
                    dialogTitles << xWindow(dialog).netWmName;
                dialog->Edit1->clear();
                dialog->Edit2->setText(m_dir.path());
                boxes.arm();
                QTest::mouseClick(dialog->Button1, Qt::LeftButton);
                dialog->Edit1->setText(name);
                QTest::mouseClick(dialog->Button1, Qt::LeftButton);
                return dialog->result();
            });
            form.NewCabClick();
            QTRY_COMPARE(xWindow(&form).netWmName, name + QStringLiteral(" - Ravelin Pro"));
        }
        QCOMPARE(dialogTitles, (QStringList{"New Cabinet File", "New Cabinet File"}));
        // An untitled message box carries the application title of its moment.
        QCOMPARE(boxes.titles, (QStringList{"Ravelin Pro", "mycab - Ravelin Pro"}));
        // WM_NAME, for window managers that read only that, says the same.
        QCOMPARE(xWindow(&form).wmName, QStringLiteral("sfxcab - Ravelin Pro"));
        form.close();
    }

    void programTitlesAndOversizedPlacement()
    {
        // The program itself: a cabinet named alone opens the information
        // window over the main window, which has a stored placement far
        // larger than the screen.
        if (!haveX())
            QSKIP(qPrintable(g_x->why));
        const QString work = m_dir.filePath(QStringLiteral("placement"));
        const QString cabinet = makeCabinet(work);
        QVERIFY(!cabinet.isEmpty());
        const QString config = m_dir.filePath(QStringLiteral("placement-config"));
        settings::Preferences prefs(config + QStringLiteral("/Korvane Corp./Ravelin.conf"));
        QVERIFY(prefs.writeString(QStringLiteral("NormPos"), QStringLiteral("0,0,99999,99999")));

        Program ravelin;
        start(ravelin, {QStringLiteral("/noquery"), cabinet}, work, config);
        const qint64 pid = ravelin.process.processId();
        QStringList titles;
        QSize mainSize;
        QVERIFY(QTest::qWaitFor(
            [&] {
                titles.clear();
                for (const XWindow& w : shownWindowsOf(pid)) {
                    titles << w.netWmName;
                    if (w.netWmName == QLatin1String("Ravelin Pro"))
                        mainSize = w.size;
                }
                titles.sort();
                return titles.size() >= 2;
            },
            30000));
        QCOMPARE(titles, (QStringList{"Cabinet Information", "Ravelin Pro"}));
        QVERIFY2(mainSize.width() > 0 && mainSize.width() <= kScreen.width() && mainSize.height() > 0 &&
                     mainSize.height() <= kScreen.height(),
                 qPrintable(QStringLiteral("%1x%2").arg(mainSize.width()).arg(mainSize.height())));
    }

    void getInfoFromTheBuildTree()
    {
        // ravelin finds the ravelin-cab built beside it (not on PATH) and
        // its listing lands in the working folder.
        QCOMPARE(QFileInfo(QStringLiteral(RAVELIN)).absolutePath(),
                 QFileInfo(QStringLiteral(RAVELIN_CAB)).absolutePath());
        const QString work = m_dir.filePath(QStringLiteral("info"));
        const QString cabinet = makeCabinet(work);
        QVERIFY(!cabinet.isEmpty());
        QVERIFY(
            QStandardPaths::findExecutable(QStringLiteral("ravelin-cab"), {"/usr/bin", "/bin"}).isEmpty());
        Program ravelin;
        start(ravelin, {QStringLiteral("/noquery"), cabinet}, work,
              m_dir.filePath(QStringLiteral("info-config")));
        const QString listing = work + QStringLiteral("/cabinf.TXT");
        QTRY_VERIFY_WITH_TIMEOUT(test::readFile(listing).contains("beta.bin"), 30000);
        QVERIFY(test::readFile(listing).contains("alpha.txt"));
    }
};

int main(int argc, char** argv)
{
    XServer x;
    g_x = &x;
    if (haveX()) {
        qputenv("DISPLAY", x.display);
        qputenv("QT_QPA_PLATFORM", "xcb");
    } else {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    TestRealWindows test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_realwindows.moc"
