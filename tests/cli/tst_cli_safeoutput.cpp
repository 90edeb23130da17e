// Proves that ravelin-cab n never loses a file: an earlier cabinet survives a
// failed, limited or stopped build, an input is never its output, path bytes
// are kept exactly, and a pipe among the inputs is refused instead of blocking.
#include <QtTest>

#include <QTemporaryDir>

#include <sys/stat.h>

#include "support/testutil.h"

using namespace ravelin;

namespace {

// Runs a shell script with $CAB set to ravelin-cab, in `cwd`.
test::ProcessResult sh(const QString& script, const QString& cwd, int timeoutMs = 60000)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CAB"), QStringLiteral(RAVELIN_CAB));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(cwd);
    return test::run(p, QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}, timeoutMs);
}

// Hidden temporaries of our outputs and the cabinet library's "tp" files.
QStringList leftovers(const QString& dir)
{
    QStringList found;
    for (const QString& name : QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (name.startsWith(QLatin1String(".ravelin-")) || name.startsWith(QLatin1String("tp")))
            found << name;
    return found;
}

} // namespace

class TestCliSafeOutput : public QObject {
    Q_OBJECT
    QString m_tmp; // the tests' TMPDIR, where the library's "tp" files go

private slots:
    void initTestCase()
    {
        m_tmp = qEnvironmentVariable("TMPDIR");
        QVERIFY(!m_tmp.isEmpty());
    }

    void inputThatIsTheOutputIsRefused_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("named");
        QTest::newRow("cabinet listed as a file") << ""
                                                  << "$CAB n v.bin a.txt v.bin"
                                                  << "v.bin";
        QTest::newRow("through a link") << "ln -s v.bin link.cab"
                                        << "$CAB n link.cab a.txt v.bin"
                                        << "v.bin";
        QTest::newRow("the self-extracting output listed") << "cp v.bin v.exe"
                                                           << "$CAB n --sfx ext.bin v.cab a.txt v.exe"
                                                           << "v.exe";
        QTest::newRow("extractor is the cabinet") << ""
                                                  << "$CAB n --sfx v.bin v.bin a.txt"
                                                  << "v.bin";
    }

    void inputThatIsTheOutputIsRefused()
    {
        QFETCH(QString, setup);
        QFETCH(QString, command);
        QFETCH(QString, named);
        QTemporaryDir dir;
        const QByteArray original = test::randomBytes(50000, 1);
        QVERIFY(test::writeFile(dir.filePath("v.bin"), original));
        QVERIFY(test::writeFile(dir.filePath("a.txt"), "alpha"));
        QVERIFY(test::writeFile(dir.filePath("ext.bin"), "MZ extractor"));
        if (!setup.isEmpty())
            QCOMPARE(sh(setup, dir.path()).exitCode, 0);
        const auto r = sh(command, dir.path());
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(named.toUtf8() + ": is the "), r.err.constData());
        QCOMPARE(test::readFile(dir.filePath("v.bin")), original);
        QVERIFY(!QFileInfo::exists(dir.filePath("v.cab")));
        QCOMPARE(leftovers(dir.path()), QStringList());
    }

    void failedBuildKeepsEarlierCabinet_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("reason");
        // The file-size limit would stop the process by SIGXFSZ if it were
        // not ignored: the build must fail with a message instead.
        QTest::newRow("file-size limit") << "prlimit --fsize=20000 $CAB n keep.cab big.bin"
                                         << "File too large";
        QTest::newRow("unreadable folder for the cabinet")
            << "chmod 755 . && mkdir ro && cp keep.cab ro/ && chmod 555 ro && setpriv --reuid=65534 "
               "--regid=65534 --clear-groups "
               "$CAB n ro/keep.cab a.txt; rc=$?; chmod 755 ro; cmp keep.cab ro/keep.cab && exit $rc"
            << "Permission denied";
    }

    void failedBuildKeepsEarlierCabinet()
    {
        QFETCH(QString, command);
        QFETCH(QString, reason);
        if (command.contains(QLatin1String("setpriv")) && ::geteuid() != 0)
            QSKIP("switching to another user needs root");
        QTemporaryDir dir;
        QVERIFY(test::writeFile(dir.filePath("a.txt"), "alpha"));
        QVERIFY(test::writeFile(dir.filePath("big.bin"), test::randomBytes(300000, 2)));
        QCOMPARE(sh("$CAB n keep.cab a.txt", dir.path()).exitCode, 0);
        const QByteArray earlier = test::readFile(dir.filePath("keep.cab"));
        const auto r = sh(command, dir.path());
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(reason.toUtf8()), r.err.constData());
        QVERIFY2(r.err.contains("keep.cab"), r.err.constData());
        QCOMPARE(test::readFile(dir.filePath("keep.cab")), earlier);
        QCOMPARE(leftovers(dir.path()), QStringList());
        QCOMPARE(leftovers(m_tmp), QStringList());
    }

    void fullDiskKeepsEarlierCabinet()
    {
        // A small file system of its own; needs the right to mount.
        QTemporaryDir dir;
        const QString mnt = dir.filePath("small");
        QVERIFY(QDir().mkpath(mnt));
        if (::geteuid() != 0 || sh("mount -t tmpfs -o size=64k tmpfs small", dir.path()).exitCode != 0)
            QSKIP("cannot mount a small file system here");
        QVERIFY(test::writeFile(dir.filePath("a.txt"), "alpha"));
        QVERIFY(test::writeFile(dir.filePath("big.bin"), test::randomBytes(200000, 3)));
        QCOMPARE(sh("$CAB n small/keep.cab a.txt", dir.path()).exitCode, 0);
        const QByteArray earlier = test::readFile(mnt + "/keep.cab");
        const auto r = sh("$CAB n small/keep.cab big.bin", dir.path());
        const QByteArray after = test::readFile(mnt + "/keep.cab");
        const QStringList left = leftovers(mnt);
        sh("umount small", dir.path());
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("No space left on device"), r.err.constData());
        QCOMPARE(after, earlier);
        QCOMPARE(left, QStringList());
    }

    void stoppedBuildKeepsEarlierCabinet_data()
    {
        QTest::addColumn<QString>("signal");
        QTest::addColumn<bool>("cleansUp");
        QTest::newRow("SIGKILL") << "KILL" << false;
        QTest::newRow("SIGTERM") << "TERM" << true;
        QTest::newRow("SIGINT") << "INT" << true;
    }

    void stoppedBuildKeepsEarlierCabinet()
    {
        QFETCH(QString, signal);
        QFETCH(bool, cleansUp);
        QTemporaryDir dir;
        QVERIFY(test::writeFile(dir.filePath("a.txt"), "alpha"));
        QCOMPARE(sh("$CAB n keep.cab a.txt", dir.path()).exitCode, 0);
        const QByteArray earlier = test::readFile(dir.filePath("keep.cab"));
        // Enough random data that the build is still running when stopped;
        // the script waits until the build's temporary exists.
        QVERIFY(test::writeFile(dir.filePath("big.bin"), test::randomBytes(40 << 20, 4)));
        // Started with the signal's default action: a shell starts background
        // jobs with SIGINT ignored, and an ignored signal stays ignored.
        const auto r =
            sh(QStringLiteral("env --default-signal=INT $CAB n keep.cab big.bin big.bin big.bin & pid=$!; "
                              "while ! ls -a | grep -q '^\\.ravelin-'; do sleep 0.01; done; "
                              "kill -%1 $pid; wait $pid; echo \"status $?\"")
                   .arg(signal),
               dir.path());
        // Stopped by the signal (128 + its number), not finished.
        QVERIFY2(r.out.trimmed().mid(7).toInt() > 128, r.out.constData());
        QCOMPARE(test::readFile(dir.filePath("keep.cab")), earlier);
        if (cleansUp) {
            QCOMPARE(leftovers(dir.path()), QStringList());
            QCOMPARE(leftovers(m_tmp), QStringList());
        } else {
            for (const QString& name : leftovers(m_tmp))
                QFile::remove(m_tmp + "/" + name);
        }
    }

    void pathBytesAreKept()
    {
        QTemporaryDir dir;
        // a\377.txt and a\376.txt would both become "a\uFFFD.txt" as text.
        const auto r =
            sh("printf one > \"$(printf 'a\\377.txt')\" && printf two > \"$(printf 'a\\376.txt')\" && "
               "printf utf > \"$(printf '\\303\\251.txt')\" && "
               "$CAB n \"$(printf 'v\\377.cab')\" \"$(printf 'a\\377.txt')\" \"$(printf 'a\\376.txt')\" "
               "\"$(printf '\\303\\251.txt')\"",
               dir.path());
        QVERIFY2(r.exitCode == 0, r.err.constData());
        const QByteArray cabName = QByteArray("v\xff.cab");
        // The cabinet has exactly the name given, found by its bytes.
        const auto ls = sh("ls", dir.path());
        QVERIFY2(ls.out.split('\n').contains(cabName), ls.out.constData());
        const QByteArray cabinet = sh("cat \"$(printf 'v\\377.cab')\"", dir.path()).out;
        // Each stored name as its bytes; only the valid UTF-8 one carries 0x80.
        const auto attribsOf = [&cabinet](const QByteArray& name) {
            const qsizetype at = cabinet.indexOf(name + '\0');
            return at < 2 ? -1 : int(uchar(cabinet[at - 2])) | int(uchar(cabinet[at - 1])) << 8;
        };
        QVERIFY(attribsOf("a\xff.txt") >= 0);
        QVERIFY(attribsOf("a\xfe.txt") >= 0);
        QCOMPARE(attribsOf("a\xff.txt") & 0x80, 0);
        QCOMPARE(attribsOf("\xc3\xa9.txt") & 0x80, 0x80);
        if (test::haveProgram("cabextract")) {
            const auto x =
                sh("mkdir out && cabextract -q -d out \"$(printf 'v\\377.cab')\" && cat out/*", dir.path());
            QCOMPARE(x.exitCode, 0);
            QVERIFY(x.out.contains("one") && x.out.contains("two") && x.out.contains("utf"));
        }
    }

    void pipeAmongInputsIsRefused()
    {
        QTemporaryDir dir;
        QVERIFY(test::writeFile(dir.filePath("a.txt"), "alpha"));
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath("pipe")).constData(), 0600), 0);
        QElapsedTimer timer;
        timer.start();
        const auto r = sh("$CAB n c.cab pipe a.txt", dir.path(), 20000);
        QVERIFY2(timer.elapsed() < 15000, "the build waited on the pipe");
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("cannot add pipe: not a regular file"), r.err.constData());
        const auto l = sh("$CAB l c.cab", dir.path());
        QCOMPARE(l.exitCode, 0);
        QVERIFY(l.out.contains("a.txt"));
        QVERIFY(!l.out.contains("pipe"));
    }
};

QTEST_GUILESS_MAIN(TestCliSafeOutput)
#include "tst_cli_safeoutput.moc"
