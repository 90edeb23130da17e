// Proves ravelin-cab encrypt / decrypt write the encrypted-file format, take the
// pass phrase only from a file, the environment or the terminal, key with its
// Windows-1252 bytes, keep the 16-to-56-character rule and the exit statuses,
// take paths as bytes, and never leave a partial or destroyed output.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
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

// The temporaries of outputs written beside their final name, in `dir`.
QStringList temporaries(const QString& dir)
{
    return QDir(dir).entryList({QStringLiteral(".ravelin-*")}, QDir::Files | QDir::Hidden | QDir::System);
}

// Runs ravelin-cab through /bin/sh so that arguments can carry any byte:
// `script` refers to the program as "$0".
ProcessResult shell(const QString& script, const QString& dir, const QByteArray& env = "sixteen chars ok")
{
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("RAVELIN_PASSPHRASE"), QString::fromUtf8(env));
    p.setProcessEnvironment(e);
    p.setWorkingDirectory(dir);
    p.setChildProcessModifier([] { ::setsid(); });
    return run(p, QStringLiteral("/bin/sh"), {"-c", script, kCab}, 60000);
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
        QTest::newRow("output is a folder") << QStringList{"encrypt", "-o", ".", "disk1.cab"} << 1;
        QTest::newRow("output is a device") << QStringList{"encrypt", "-o", "/dev/full", "disk1.cab"} << 1;
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
        QVERIFY(temporaries(m_dir->path()).isEmpty());
        struct stat st {};
        QVERIFY(::stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode));
    }

    // Every source of a pass phrase is UTF-8 and every character needs a
    // Windows-1252 byte; a pass file is a regular file read no further than
    // 4 KiB. Refusals are prompt and write nothing.
    void passPhraseRefusals_data()
    {
        QTest::addColumn<QByteArray>("content"); // of the pass file; "@<path>" names another file
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("cyrillic") << QByteArray("пароль для файла\n") << QByteArray("U+043F");
        QTest::newRow("greek") << QByteArray("κωδικός αρχείου!\n") << QByteArray("no Windows-1252 byte");
        QTest::newRow("cjk") << QByteArray("密码密码密码密码密码密码密码密码\n")
                             << QByteArray("no Windows-1252 byte");
        QTest::newRow("invalid UTF-8") << QByteArray("sixteen \xff chars ok\n") << QByteArray("not UTF-8");
        QTest::newRow("/dev/zero") << QByteArray("@/dev/zero") << QByteArray("not a regular file");
        QTest::newRow("fifo") << QByteArray("@fifo") << QByteArray("not a regular file");
        QTest::newRow("no line end in 4 KiB")
            << QByteArray(5000, 'p') << QByteArray("longer than 4096 bytes");
    }

    void passPhraseRefusals()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, message);
        QString passFile = path("phrase.txt");
        if (content == "@fifo") {
            passFile = path("fifo");
            QCOMPARE(::mkfifo(QFile::encodeName(passFile).constData(), 0600), 0);
        } else if (content.startsWith('@')) {
            passFile = QString::fromUtf8(content.mid(1));
        } else {
            QVERIFY(writeFile(passFile, content));
        }
        const ProcessResult r = cab({"encrypt", "--pass-file", passFile, "disk1.cab"}, m_dir->path());
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(message), r.err.constData());
        QVERIFY(!QFile::exists(path("disk1.ecf")));
        QVERIFY(temporaries(m_dir->path()).isEmpty());
    }

    // "€" keys as byte 0x80: the same file as OpenSSL's Blowfish keyed with
    // that byte, so .ecf files made with the Western code page keep opening.
    void euroPhraseMatchesOpenSsl()
    {
        if (!haveProgram(QStringLiteral("openssl")))
            QSKIP("openssl is needed as the independent cipher");
        QVERIFY(writeFile(path("phrase.txt"), QByteArray("€ for sixteen ok\n")));
        QCOMPARE(cab({"encrypt", "--pass-file", "phrase.txt", "disk1.cab"}, m_dir->path()).exitCode, 0);
        QVERIFY(writeFile(path("padded"), zeroPadded(m_plain)));
        const QByteArray key = QByteArray("\x80 for sixteen ok").toHex();
        // Blowfish sits in OpenSSL 3's legacy provider.
        ProcessResult ossl =
            run(QStringLiteral("openssl"), {"enc", "-provider", "legacy", "-provider", "default", "-bf-ecb",
                                            "-nopad", "-K", QString::fromLatin1(key), "-in", path("padded")});
        if (ossl.exitCode != 0)
            ossl = run(QStringLiteral("openssl"),
                       {"enc", "-bf-ecb", "-nopad", "-K", QString::fromLatin1(key), "-in", path("padded")});
        QVERIFY2(ossl.exitCode == 0, ossl.err.constData());
        QVERIFY(readFile(path("disk1.ecf")) == ossl.out);
    }

    // An input that is empty or not whole 8-byte blocks is no encrypted file:
    // refused before anything is written, an earlier output kept.
    void truncatedDecryptRefused_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("0") << 0;
        QTest::newRow("7") << 7;
        QTest::newRow("9") << 9;
    }

    void truncatedDecryptRefused()
    {
        QFETCH(int, size);
        QVERIFY(writeFile(path("disk1.ecf"), randomBytes(size, 3)));
        const ProcessResult r = cab({"decrypt", "disk1.ecf"}, m_dir->path(), "sixteen chars ok");
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("disk1.ecf: not an encrypted file"), r.err.constData());
        QVERIFY(readFile(path("disk1.cab")) == m_plain);
        QVERIFY(temporaries(m_dir->path()).isEmpty());
    }

    // Pipes and devices as input are refused at once, never waited on.
    void notRegularInputRefused_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("input");
        QTest::newRow("encrypt fifo") << "encrypt"
                                      << "fifo";
        QTest::newRow("decrypt fifo") << "decrypt"
                                      << "fifo";
        QTest::newRow("encrypt /dev/zero") << "encrypt"
                                           << "/dev/zero";
    }

    void notRegularInputRefused()
    {
        QFETCH(QString, command);
        QFETCH(QString, input);
        if (input == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0600), 0);
        QProcess p;
        p.setWorkingDirectory(m_dir->path());
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("RAVELIN_PASSPHRASE"), QStringLiteral("sixteen chars ok"));
        p.setProcessEnvironment(e);
        const ProcessResult r = run(p, kCab, {command, "-o", "out.bin", input}, 10000);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(input.toUtf8() + ": not a regular file"), r.err.constData());
        QVERIFY(!QFile::exists(path("out.bin")));
    }

    // Paths are the bytes of argv: a name that is not UTF-8 is written and
    // read under exactly that name, and named so in messages.
    void nonUtf8PathsAreKept()
    {
        const QByteArray dir = QFile::encodeName(m_dir->path());
        QVERIFY(writeFile(m_dir->path() + "/plain.cab", m_plain));
        QVERIFY(::rename((dir + "/plain.cab").constData(), (dir + "/in\xff.cab").constData()) == 0);
        ProcessResult r = shell(QStringLiteral("exec \"$0\" encrypt -o \"$(printf 'out\\377.ecf')\" "
                                               "\"$(printf 'in\\377.cab')\""),
                                m_dir->path());
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(r.out, QByteArray("out\xff.ecf\n"));
        r = shell(QStringLiteral("exec \"$0\" decrypt \"$(printf 'out\\377.ecf')\""), m_dir->path());
        QVERIFY2(r.exitCode == 0, r.err.constData());
        // The decrypted file under the exact bytes "out\xff.cab".
        const int fd = ::open((dir + "/out\xff.cab").constData(), O_RDONLY);
        QVERIFY(fd >= 0);
        QByteArray back(int(zeroPadded(m_plain).size()) + 1, '\0');
        back.truncate(::read(fd, back.data(), back.size()));
        ::close(fd);
        QVERIFY(back == zeroPadded(m_plain));
        for (const QString& name : QDir(m_dir->path()).entryList(QDir::Files))
            QVERIFY2(!name.contains(QChar::ReplacementCharacter), qPrintable(name));
        r = shell(QStringLiteral("exec \"$0\" encrypt \"$(printf 'gone\\377.cab')\""), m_dir->path());
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("gone\xff.cab: No such file or directory"), r.err.constData());
        // QTemporaryDir removes by text, which cannot name these files.
        for (const char* name : {"/in\xff.cab", "/out\xff.ecf", "/out\xff.cab"})
            QCOMPARE(::unlink((dir + name).constData()), 0);
    }

    // A write that fails part-way (the file-size limit, a folder the user may
    // not write) leaves the earlier .ecf byte for byte and no temporary.
    void failedEncryptKeepsEarlierOutput_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("file-size limit") << "prlimit" << QByteArray("File too large");
        QTest::newRow("read-only folder") << "setpriv" << QByteArray("Permission denied");
    }

    void failedEncryptKeepsEarlierOutput()
    {
        QFETCH(QString, fault);
        QFETCH(QByteArray, message);
        if (!haveProgram(fault))
            QSKIP("the fault needs its program");
        QVERIFY(writeFile(path("big.cab"), randomBytes(1024 * 1024, 5)));
        const QByteArray earlier = randomBytes(4000, 6);
        QVERIFY(writeFile(path("big.ecf"), earlier));
        QString script;
        if (fault == "prlimit") {
            script = QStringLiteral("exec prlimit --fsize=65536 \"$0\" encrypt big.cab");
        } else {
            if (::geteuid() != 0)
                QSKIP("setpriv to another user needs root");
            // Readable by everyone, writable by its owner (root) only.
            QVERIFY(QFile::setPermissions(m_dir->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                             QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                             QFileDevice::ExeOther));
            QVERIFY(QFile::setPermissions(path("big.cab"), QFileDevice::ReadOwner | QFileDevice::ReadOther));
            script = QStringLiteral("exec setpriv --reuid=65534 --regid=65534 --clear-groups \"$0\" encrypt "
                                    "big.cab");
        }
        const ProcessResult r = shell(script, m_dir->path());
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("big.ecf") && r.err.trimmed().endsWith(message), r.err.constData());
        QVERIFY(readFile(path("big.ecf")) == earlier);
        QVERIFY(temporaries(m_dir->path()).isEmpty());
    }

    // An encrypt stopped part-way never leaves a partial file under the final
    // name: SIGKILL leaves the earlier file (or none), SIGTERM also removes
    // its temporary.
    void stoppedEncryptLeavesNoPartialOutput_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("earlier");
        QTest::newRow("SIGKILL, no earlier file") << int(SIGKILL) << false;
        QTest::newRow("SIGKILL, earlier file") << int(SIGKILL) << true;
        QTest::newRow("SIGTERM, earlier file") << int(SIGTERM) << true;
    }

    void stoppedEncryptLeavesNoPartialOutput()
    {
        QFETCH(int, signal);
        QFETCH(bool, earlier);
        // Large and sparse: seconds of cipher work, no disk for the input.
        QFile big(path("huge.cab"));
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(qint64(2) << 30));
        big.close();
        if (earlier)
            QVERIFY(writeFile(path("huge.ecf"), "the earlier encrypted file"));
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("RAVELIN_PASSPHRASE"), QStringLiteral("sixteen chars ok"));
        p.setProcessEnvironment(e);
        p.setWorkingDirectory(m_dir->path());
        p.start(kCab, {"encrypt", "huge.cab"});
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!temporaries(m_dir->path()).isEmpty(), 20000);
        QCOMPARE(p.state(), QProcess::Running);
        ::kill(pid_t(p.processId()), signal);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);
        if (earlier)
            QCOMPARE(readFile(path("huge.ecf")), QByteArray("the earlier encrypted file"));
        else
            QVERIFY(!QFile::exists(path("huge.ecf")));
        if (signal == SIGTERM)
            QVERIFY(temporaries(m_dir->path()).isEmpty());
    }

private:
    QString path(const QString& name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_dir;
    QByteArray m_plain;
};

QTEST_GUILESS_MAIN(TestCliCrypto)
#include "tst_cli_crypto.moc"
