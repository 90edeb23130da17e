// Proves the setup program's plumbing: its package is the folder that holds the program, the decrypted
// files' folder is private (0700) and goes with everything in it (also when a signal stops the program),
// a typed destination is taken as the user means it, and answer files are read strictly.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/io.h"
#include "setup/answerprompter.h"
#include "setup/setupengine.h"
#include "support/testutil.h"

using namespace ravelin;
using namespace ravelin::setup;

namespace {

// Sets an environment variable for one scope.
class EnvScope {
public:
    EnvScope(const char* name, const QByteArray* value) : m_name(name), m_old(qgetenv(name))
    {
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    ~EnvScope()
    {
        if (m_old.isNull())
            qunsetenv(m_name);
        else
            qputenv(m_name, m_old);
    }

private:
    const char* m_name;
    QByteArray m_old;
};

} // namespace

class TestSetupEngine : public QObject {
    Q_OBJECT
private slots:
    void packageFolderIsTheProgramsFolder_data();
    void packageFolderIsTheProgramsFolder();
    void thisProgramsFolder();
    void temporaryRootFollowsTmpdir_data();
    void temporaryRootFollowsTmpdir();
    void workFolderIsPrivateAndRemovedWhole();
    void workFolderGoesWhenASignalStopsTheProgram_data();
    void workFolderGoesWhenASignalStopsTheProgram();
    void typedDestination_data();
    void typedDestination();
    void answers_data();
    void answers();
};

void TestSetupEngine::packageFolderIsTheProgramsFolder_data()
{
    QTest::addColumn<QByteArray>("exeLink"); // what /proc/self/exe reads as
    QTest::addColumn<QByteArray>("argv0");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("from /proc") << QByteArray("/media/cd/SETUP.EXE") << QByteArray("SETUP.EXE")
                                << QByteArray("/media/cd");
    QTest::newRow("/proc wins over argv[0]")
        << QByteArray("/media/cd/SETUP.EXE") << QByteArray("./x/SETUP.EXE") << QByteArray("/media/cd");
    QTest::newRow("argv[0] with a path")
        << QByteArray() << QByteArray("/media/cd/SETUP.EXE") << QByteArray("/media/cd");
    QTest::newRow("relative argv[0]") << QByteArray() << QByteArray("pkg/SETUP.EXE") << QByteArray("pkg");
    QTest::newRow("bare argv[0]") << QByteArray() << QByteArray("SETUP.EXE") << QByteArray(".");
    QTest::newRow("nothing known") << QByteArray() << QByteArray() << QByteArray(".");
    QTest::newRow("at the root") << QByteArray("/SETUP.EXE") << QByteArray() << QByteArray("/");
    QTest::newRow("doubled slashes") << QByteArray("/media//cd//SETUP.EXE") << QByteArray()
                                     << QByteArray("/media//cd");
    QTest::newRow("bytes kept") << QByteArray("/media/\xe9t\xe9/SETUP.EXE") << QByteArray()
                                << QByteArray("/media/\xe9t\xe9");
}

void TestSetupEngine::packageFolderIsTheProgramsFolder()
{
    QFETCH(QByteArray, exeLink);
    QFETCH(QByteArray, argv0);
    QFETCH(QByteArray, expected);
    QCOMPARE(QByteArray::fromStdString(programFolderFrom(exeLink.toStdString(), argv0.toStdString())),
             expected);
}

// Whatever the working folder, the running program's own folder.
void TestSetupEngine::thisProgramsFolder()
{
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(QDir::rootPath()));
    const std::string folder = programFolder("elsewhere/name");
    QVERIFY(QDir::setCurrent(before));
    QCOMPARE(QFile::decodeName(QByteArray::fromStdString(folder)), QCoreApplication::applicationDirPath());
}

void TestSetupEngine::temporaryRootFollowsTmpdir_data()
{
    QTest::addColumn<QByteArray>("tmpdir"); // "-" for unset
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("set") << QByteArray("/var/tmp/mine") << QByteArray("/var/tmp/mine");
    QTest::newRow("trailing slash") << QByteArray("/var/tmp/mine/") << QByteArray("/var/tmp/mine");
    QTest::newRow("unset") << QByteArray("-") << QByteArray("/tmp");
    QTest::newRow("empty") << QByteArray("") << QByteArray("/tmp");
}

void TestSetupEngine::temporaryRootFollowsTmpdir()
{
    QFETCH(QByteArray, tmpdir);
    QFETCH(QByteArray, expected);
    EnvScope env("TMPDIR", tmpdir == "-" ? nullptr : &tmpdir);
    QCOMPARE(QByteArray::fromStdString(temporaryRoot()), expected);
}

void TestSetupEngine::workFolderIsPrivateAndRemovedWhole()
{
    QTemporaryDir root;
    const QByteArray tmp = QFile::encodeName(root.path());
    EnvScope env("TMPDIR", &tmp);
    const mode_t oldMask = ::umask(0);
    std::string path;
    {
        WorkFolder work;
        std::string why;
        QVERIFY(work.make(&why));
        ::umask(oldMask);
        path = work.path();
        QVERIFY(QByteArray::fromStdString(path).startsWith(tmp + "/vaultline-"));
        struct stat st {};
        QCOMPARE(::stat(path.c_str(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0700));
        QVERIFY(work.make(&why)); // made once
        QCOMPARE(work.path(), path);
        QVERIFY(test::writeFile(QFile::decodeName(work.file("tools.inf").c_str()), "inf"));
        QVERIFY(test::writeFile(QFile::decodeName((path + "/.left by a failed write").c_str()), "x"));
        work.remove();
        QVERIFY(!work.exists());
        QVERIFY(!QFileInfo::exists(QFile::decodeName(path.c_str())));
        work.remove(); // again: nothing to do

        // The destructor removes it too.
        QVERIFY(work.make(&why));
        path = work.path();
        QVERIFY(test::writeFile(QFile::decodeName(work.file("tools.cab").c_str()), "cab"));
    }
    QVERIFY(!QFileInfo::exists(QFile::decodeName(path.c_str())));
    QCOMPARE(test::fileTree(root.path()), QStringList());
}

// A child process makes the folder and a decrypted file in it, then is
// stopped by a signal: io's handler removes both.
void TestSetupEngine::workFolderGoesWhenASignalStopsTheProgram_data()
{
    QTest::addColumn<int>("sig");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestSetupEngine::workFolderGoesWhenASignalStopsTheProgram()
{
    QFETCH(int, sig);
    QTemporaryDir root;
    const QByteArray tmp = QFile::encodeName(root.path());
    EnvScope env("TMPDIR", &tmp);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        io::installSignalCleanup();
        WorkFolder work;
        std::string why;
        if (!work.make(&why))
            ::_exit(3);
        io::OutputFile out;
        if (!out.create(work.file("tools.cab")) || !out.write("cabinet") || !out.commit())
            ::_exit(4);
        ::raise(sig);
        ::_exit(5);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == sig, qPrintable(QString::number(status)));
    QCOMPARE(test::fileTree(root.path()), QStringList());
}

void TestSetupEngine::typedDestination_data()
{
    QTest::addColumn<QByteArray>("destDir");
    QTest::addColumn<QByteArray>("dirId30");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("absolute") << QByteArray() << QByteArray("/home/ann") << "/opt/tools"
                              << QByteArray("/opt/tools");
    QTest::newRow("absolute ignores DESTDIR")
        << QByteArray("/stage") << QByteArray("/home/ann") << "/opt/tools" << QByteArray("/opt/tools");
    QTest::newRow("relative below home")
        << QByteArray() << QByteArray("/home/ann") << "apps/tools" << QByteArray("/home/ann/apps/tools");
    QTest::newRow("relative below DESTDIR and home")
        << QByteArray("/stage/") << QByteArray("/home/ann") << "apps" << QByteArray("/stage/home/ann/apps");
    QTest::newRow("relative for root") << QByteArray() << QByteArray("/") << "opt/x" << QByteArray("/opt/x");
    QTest::newRow("spaces kept") << QByteArray() << QByteArray("/home/ann") << " my apps "
                                 << QByteArray("/home/ann/ my apps ");
}

void TestSetupEngine::typedDestination()
{
    QFETCH(QByteArray, destDir);
    QFETCH(QByteArray, dirId30);
    QFETCH(QString, typed);
    QFETCH(QByteArray, expected);
    SetupContext context;
    context.destDir = destDir.toStdString();
    context.dirId30 = dirId30.toStdString();
    QCOMPARE(QByteArray::fromStdString(typedInstallDirectory(context, typed)), expected);
}

void TestSetupEngine::answers_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("passPhrase");
    QTest::addColumn<QString>("destination"); // "-" for none
    QTest::addColumn<bool>("cancel");
    QTest::newRow("pass phrase") << QByteArray("pass-phrase=sixteen chars ok\n") << true << "sixteen chars ok"
                                 << "-" << false;
    QTest::newRow("all, CRLF, comment") << QByteArray("# setup answers\r\npass-phrase= spaced = kept \r\n\r\n"
                                                      "destination=/opt/my tools\r\nready=cancel\r\n")
                                        << true << " spaced = kept "
                                        << "/opt/my tools" << true;
    QTest::newRow("UTF-8") << QByteArray("pass-phrase=caf\xc3\xa9 cr\xc3\xa8me br\xc3\xbbl\xc3\xa9\n") << true
                           << QString::fromUtf8("café crème brûlé") << "-" << false;
    QTest::newRow("unknown key") << QByteArray("passphrase=x\n") << false << ""
                                 << "-" << false;
    QTest::newRow("no equals") << QByteArray("pass-phrase\n") << false << ""
                               << "-" << false;
    QTest::newRow("bad ready") << QByteArray("ready=later\n") << false << ""
                               << "-" << false;
}

void TestSetupEngine::answers()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    QFETCH(QString, passPhrase);
    QFETCH(QString, destination);
    QFETCH(bool, cancel);
    Answers a;
    QString error;
    QCOMPARE(parseAnswers(text, &a, &error), ok);
    if (!ok) {
        QVERIFY(error.startsWith("line "));
        return;
    }
    QCOMPARE(a.passPhrase, passPhrase);
    QCOMPARE(a.destination.value_or("-"), destination);
    QCOMPARE(a.cancelInReady, cancel);
}

QTEST_MAIN(TestSetupEngine)
#include "tst_setupengine.moc"
