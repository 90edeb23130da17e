// Proves ravelin-cab encrypt / decrypt write the encrypted-file format, take the
// pass phrase only from a file, the environment or the terminal, and keep the
// 16-to-56-character rule and the exit statuses.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

#include "crypto/blowfish.h"
#include "support/testutil.h"

using namespace ravelin::test;

namespace {

const QString kCab = QStringLiteral(RAVELIN_CAB);

QByteArray zeroPadded(QByteArray data)
{
    while (data.size() % 8 != 0)
        data.append('\0');
    return data;
}

// Runs ravelin-cab in a new session (no controlling terminal) with
// RAVELIN_PASSPHRASE set to `env` (unset when null).
ProcessResult cab(const QStringList& args, const QString& dir, const QByteArray& env = QByteArray())
{
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.remove(QStringLiteral("RAVELIN_PASSPHRASE"));
    if (!env.isNull())
        e.insert(QStringLiteral("RAVELIN_PASSPHRASE"), QString::fromUtf8(env));
    p.setProcessEnvironment(e);
    p.setWorkingDirectory(dir);
    p.setChildProcessModifier([] { ::setsid(); });
    return run(p, kCab, args, 60000);
}

} // namespace

class TestCliCrypto : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
        m_plain = randomBytes(10001, 42);
        QVERIFY(writeFile(path("disk1.cab"), m_plain));
    }

    void encryptThenDecryptWithPassFile()
    {
        QVERIFY(writeFile(path("phrase.txt"), "sixteen chars ok\r\nsecond line ignored\n"));
        ProcessResult r = cab({"encrypt", "--pass-file", "phrase.txt", "disk1.cab"}, m_dir->path());
        QCOMPARE(r.exitCode, 0);
        const QByteArray cipher = readFile(path("disk1.ecf"));
        QCOMPARE(cipher.size(), 10008);
        // The same bytes as the component writes with that phrase.
        ravelin::crypto::encryptFile(path("disk1.cab"), path("lib.ecf"), QStringLiteral("sixteen chars ok"));
        QVERIFY(cipher == readFile(path("lib.ecf")));

        QVERIFY(QFile::remove(path("disk1.cab")));
        r = cab({"decrypt", "--pass-file", "phrase.txt", "disk1.ecf"}, m_dir->path());
        QCOMPARE(r.exitCode, 0);
        QVERIFY(readFile(path("disk1.cab")) == zeroPadded(m_plain));
    }

    void environmentAndOutputOption()
    {
        const QByteArray phrase("from the environment");
        ProcessResult r = cab({"encrypt", "-o", "other.bin", "disk1.cab"}, m_dir->path(), phrase);
        QCOMPARE(r.exitCode, 0);
        QVERIFY(!QFile::exists(path("disk1.ecf")));
        ravelin::crypto::encryptFile(path("disk1.cab"), path("lib.ecf"), QString::fromUtf8(phrase));
        QVERIFY(readFile(path("other.bin")) == readFile(path("lib.ecf")));
        // A pass file wins over the environment.
        QVERIFY(writeFile(path("phrase.txt"), "from the environment"));
        r = cab({"decrypt", "--pass-file=phrase.txt", "-o", "back", "other.bin"}, m_dir->path(),
                "a different phrase here");
        QCOMPARE(r.exitCode, 0);
        QVERIFY(readFile(path("back")) == zeroPadded(m_plain));
    }

    void passPhraseLength_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("15") << 15 << 1;
        QTest::newRow("16") << 16 << 0;
        QTest::newRow("56") << 56 << 0;
        QTest::newRow("57") << 57 << 1;
    }

    void passPhraseLength()
    {
        QFETCH(int, length);
        QFETCH(int, exitCode);
        QVERIFY(writeFile(path("phrase.txt"), QByteArray(length, 'p') + "\n"));
        const ProcessResult r = cab({"encrypt", "--pass-file", "phrase.txt", "disk1.cab"}, m_dir->path());
        QCOMPARE(r.exitCode, exitCode);
        QCOMPARE(QFile::exists(path("disk1.ecf")), exitCode == 0);
        if (exitCode)
            QVERIFY2(r.err.contains("characters"), r.err.constData());
    }

    void noPassPhraseSourceFails()
    {
        const ProcessResult r = cab({"encrypt", "disk1.cab"}, m_dir->path());
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains("RAVELIN_PASSPHRASE"));
        QVERIFY(!QFile::exists(path("disk1.ecf")));
    }

    void terminalAsksWithoutEcho()
    {
        if (!haveProgram(QStringLiteral("script")))
            QSKIP("script(1) is needed to give the command a terminal");
        // script gives the command a terminal; both prompts are answered.
        const QString command = QStringLiteral("'%1' encrypt disk1.cab").arg(kCab);
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.remove(QStringLiteral("RAVELIN_PASSPHRASE"));
        p.setProcessEnvironment(e);
        p.setWorkingDirectory(m_dir->path());
        p.setChildProcessModifier([] { ::setsid(); });
        p.start(QStringLiteral("script"), {"-q", "-e", "-c", command, "/dev/null"});
        QVERIFY(p.waitForStarted());
        // Each answer is typed only once its prompt is shown, as a user would.
        QByteArray shown;
        QTRY_VERIFY_WITH_TIMEOUT((shown += p.readAllStandardOutput()).contains("Pass phrase: "), 20000);
        p.write("typed at the terminal\n");
        QTRY_VERIFY_WITH_TIMEOUT((shown += p.readAllStandardOutput()).contains("again: "), 20000);
        p.write("typed at the terminal\n");
        QVERIFY(p.waitForFinished(60000));
        shown += p.readAllStandardOutput();
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(!shown.contains("typed at the terminal"));
        ravelin::crypto::encryptFile(path("disk1.cab"), path("lib.ecf"),
                                     QStringLiteral("typed at the terminal"));
        QVERIFY(readFile(path("disk1.ecf")) == readFile(path("lib.ecf")));
    }

    void failuresAndUsage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("no input") << QStringList{"encrypt"} << 2;
        QTest::newRow("two inputs") << QStringList{"encrypt", "disk1.cab", "x.cab"} << 2;
        QTest::newRow("unknown option") << QStringList{"decrypt", "--key", "x", "disk1.ecf"} << 2;
        QTest::newRow("-o without value") << QStringList{"encrypt", "disk1.cab", "-o"} << 2;
        QTest::newRow("missing input") << QStringList{"encrypt", "nothere.cab"} << 1;
        QTest::newRow("directory input") << QStringList{"encrypt", "."} << 1;
        QTest::newRow("missing pass file")
            << QStringList{"encrypt", "--pass-file", "nope.txt", "disk1.cab"} << 1;
        QTest::newRow("output is the input") << QStringList{"encrypt", "-o", "disk1.cab", "disk1.cab"} << 1;
        QTest::newRow("output directory missing")
            << QStringList{"encrypt", "-o", "no/dir/x.ecf", "disk1.cab"} << 1;
    }

    void failuresAndUsage()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        const ProcessResult r = cab(args, m_dir->path(), "sixteen chars ok");
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY(!r.err.isEmpty());
        QVERIFY(!QFile::exists(path("nothere.ecf")));
        QVERIFY(!QFile::exists(path("..ecf")) && !QFile::exists(path("disk1.ecf")));
        QVERIFY(readFile(path("disk1.cab")) == m_plain);
    }

private:
    QString path(const QString& name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_dir;
    QByteArray m_plain;
};

QTEST_GUILESS_MAIN(TestCliCrypto)
#include "tst_cli_crypto.moc"
