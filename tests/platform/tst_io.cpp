// The file I/O unit: outputs published only when complete, inputs that are
// not regular files refused without blocking, and the fault paths (disk full,
// file-size limit, a stopping signal) leaving no temporary behind.
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/io.h"

using namespace ravelin;

namespace {

std::string bytes(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QByteArray readAllOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}

// Names in `dir` other than the given ones (temporaries left behind).
QStringList strays(const QString& dir, const QStringList& expected)
{
    QStringList left =
        QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& e : expected)
        left.removeAll(e);
    return left;
}

} // namespace

class TestIo : public QObject {
    Q_OBJECT
private slots:
    void outputPublishedOnlyOnCommit();
    void outputDiscardKeepsEarlierFile_data();
    void outputDiscardKeepsEarlierFile();
    void outputReplacesLinkInsteadOfWritingThroughIt();
    void outputNoReplaceKeepsExisting();
    void unusableFinalNamesAreRefused();
    void openRefusesWhatIsNotARegularFile_data();
    void openRefusesWhatIsNotARegularFile();
    void writeToFullDiskIsDiskFull();
    void fileSizeLimitIsFileTooLarge();
    void stoppingSignalRemovesTemporaries_data();
    void stoppingSignalRemovesTemporaries();
    void readSmallFileHonoursItsLimit();
    void changeExtension_data();
    void changeExtension();
    void errorTexts_data();
    void errorTexts();
};

void TestIo::outputPublishedOnlyOnCommit()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("out.bin"));
    writeFile(target, "earlier");
    io::OutputFile out;
    QVERIFY(out.create(bytes(target)));
    QVERIFY(out.write(std::string("new contents")));
    // Until the commit the earlier file is untouched and the new one hidden.
    QCOMPARE(readAllOf(target), QByteArray("earlier"));
    QVERIFY(QString::fromStdString(out.temporaryName()).startsWith(QLatin1Char('.')));
    QVERIFY(out.commit());
    QCOMPARE(readAllOf(target), QByteArray("new contents"));
    QCOMPARE(strays(dir.path(), {QStringLiteral("out.bin")}), QStringList());
}

void TestIo::outputDiscardKeepsEarlierFile_data()
{
    QTest::addColumn<bool>("explicitDiscard");
    QTest::newRow("discard") << true;
    QTest::newRow("destructor") << false;
}

void TestIo::outputDiscardKeepsEarlierFile()
{
    QFETCH(bool, explicitDiscard);
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("keep.cab"));
    writeFile(target, "the good cabinet");
    {
        io::OutputFile out;
        QVERIFY(out.create(bytes(target)));
        QVERIFY(out.write(std::string("half")));
        if (explicitDiscard)
            out.discard();
    }
    QCOMPARE(readAllOf(target), QByteArray("the good cabinet"));
    QCOMPARE(strays(dir.path(), {QStringLiteral("keep.cab")}), QStringList());
}

void TestIo::outputReplacesLinkInsteadOfWritingThroughIt()
{
    QTemporaryDir dir;
    const QString victim = dir.filePath(QStringLiteral("victim.txt"));
    writeFile(victim, "not yours");
    const QString target = dir.filePath(QStringLiteral("SETUP.EXE"));
    QVERIFY(QFile::link(victim, target));
    io::OutputFile out;
    QVERIFY(out.create(bytes(target)));
    QVERIFY(out.write(std::string("program")));
    QVERIFY(out.commit());
    QCOMPARE(readAllOf(victim), QByteArray("not yours"));
    QVERIFY(!QFileInfo(target).isSymLink());
    QCOMPARE(readAllOf(target), QByteArray("program"));
}

void TestIo::outputNoReplaceKeepsExisting()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("there"));
    writeFile(target, "first");
    io::OutputFile out;
    QVERIFY(out.create(bytes(target)));
    QVERIFY(out.write(std::string("second")));
    QVERIFY(!out.commit(true));
    QCOMPARE(out.error(), EEXIST);
    QCOMPARE(readAllOf(target), QByteArray("first"));
    QCOMPARE(strays(dir.path(), {QStringLiteral("there")}), QStringList());
}

void TestIo::unusableFinalNamesAreRefused()
{
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("file")), "x");
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    QVERIFY(QFile::link(QStringLiteral("/dev/full"), dir.filePath(QStringLiteral("full"))));
    io::OutputFile out;
    // Never renamed over a folder, a device, or a link to a device.
    QVERIFY(!out.create(bytes(dir.filePath(QStringLiteral("folder")))));
    QCOMPARE(out.error(), EISDIR);
    QVERIFY(!out.create("/dev/null"));
    QCOMPARE(out.error(), io::kNotRegularFile);
    QVERIFY(!out.create(bytes(dir.filePath(QStringLiteral("full")))));
    QCOMPARE(out.error(), io::kNotRegularFile);
    QVERIFY(QFileInfo(QStringLiteral("/dev/null")).exists());
    QVERIFY(!out.create(bytes(dir.filePath(QStringLiteral("missing/out")))));
    QCOMPARE(out.error(), ENOENT);
    QVERIFY(!out.create(bytes(dir.filePath(QStringLiteral("file/out")))));
    QCOMPARE(out.error(), ENOTDIR);
}

void TestIo::openRefusesWhatIsNotARegularFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("fifo") << QStringLiteral("fifo");
    QTest::newRow("socket") << QStringLiteral("socket");
    QTest::newRow("device") << QStringLiteral("device");
    QTest::newRow("folder") << QStringLiteral("folder");
}

void TestIo::openRefusesWhatIsNotARegularFile()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    std::string path = bytes(dir.filePath(kind));
    int listener = -1;
    if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(path.c_str(), 0600), 0);
    } else if (kind == QLatin1String("socket")) {
        listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        QVERIFY(path.size() < sizeof addr.sun_path);
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        QCOMPARE(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    } else if (kind == QLatin1String("device")) {
        path = "/dev/null";
    } else {
        QVERIFY(QDir(dir.path()).mkdir(kind));
    }
    // A pipe with no writer would block a plain open for ever.
    int error = 0;
    io::Fd fd = io::openForReading(path, &error);
    QVERIFY(!fd);
    QCOMPARE(error, io::kNotRegularFile);
    QCOMPARE(QString::fromStdString(io::reasonText(error)), QStringLiteral("not a regular file"));
    QVERIFY(!io::statRegular(path, nullptr, &error));
    QCOMPARE(error, io::kNotRegularFile);
    if (listener >= 0)
        ::close(listener);
}

void TestIo::writeToFullDiskIsDiskFull()
{
    const int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        QSKIP("/dev/full is not available");
    io::Fd owned(fd);
    const std::string data(100000, 'x');
    QVERIFY(!io::writeAll(fd, data.data(), data.size()));
    QCOMPARE(errno, ENOSPC);
    QCOMPARE(QString::fromStdString(io::runtimeText(ENOSPC)), QStringLiteral("Disk full"));
}

void TestIo::fileSizeLimitIsFileTooLarge()
{
    // In a child, so the limit and the ignored SIGXFSZ stay there.
    QTemporaryDir dir;
    const std::string target = bytes(dir.filePath(QStringLiteral("big.cab")));
    writeFile(dir.filePath(QStringLiteral("big.cab")), "earlier");
    const pid_t pid = ::fork();
    QVERIFY(pid >= 0);
    if (pid == 0) {
        io::installSignalCleanup();
        rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        io::OutputFile out;
        if (!out.create(target))
            ::_exit(10);
        const std::string data(10000, 'y');
        if (out.write(data))
            ::_exit(11);
        const int code = out.error() == EFBIG ? 0 : 12;
        out.discard();
        ::_exit(code);
    }
    int status = 0;
    QCOMPARE(::waitpid(pid, &status, 0), pid);
    QVERIFY2(WIFEXITED(status), "the child was stopped by a signal");
    QCOMPARE(WEXITSTATUS(status), 0);
    QCOMPARE(readAllOf(dir.filePath(QStringLiteral("big.cab"))), QByteArray("earlier"));
    QCOMPARE(strays(dir.path(), {QStringLiteral("big.cab")}), QStringList());
    QCOMPARE(QString::fromStdString(io::reasonText(EFBIG)), QStringLiteral("File too large"));
}

void TestIo::stoppingSignalRemovesTemporaries_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestIo::stoppingSignalRemovesTemporaries()
{
    QFETCH(int, signal);
    QTemporaryDir dir;
    const std::string target = bytes(dir.filePath(QStringLiteral("out.ecf")));
    const std::string loose = bytes(dir.filePath(QStringLiteral("tp123456")));
    int ready[2];
    QCOMPARE(::pipe(ready), 0);
    const pid_t pid = ::fork();
    QVERIFY(pid >= 0);
    if (pid == 0) {
        ::close(ready[0]);
        io::installSignalCleanup();
        io::OutputFile out;
        if (!out.create(target) || !out.write(std::string("partial")))
            ::_exit(10);
        const int fd = ::open(loose.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        ::close(fd);
        io::registerTemporary(loose);
        ::write(ready[1], "r", 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char c = 0;
    QCOMPARE(::read(ready[0], &c, 1), ssize_t(1));
    ::close(ready[0]);
    QCOMPARE(strays(dir.path(), {}).size(), 2);
    ::kill(pid, signal);
    int status = 0;
    QCOMPARE(::waitpid(pid, &status, 0), pid);
    QVERIFY(WIFSIGNALED(status));
    QCOMPARE(WTERMSIG(status), signal);
    QCOMPARE(strays(dir.path(), {}), QStringList());
}

void TestIo::readSmallFileHonoursItsLimit()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("phrase"));
    writeFile(path, QByteArray(5000, 'p'));
    std::string out;
    int error = 0;
    QVERIFY(!io::readSmallFile(bytes(path), &out, 4096, &error));
    QCOMPARE(error, EFBIG);
    QVERIFY(io::readSmallFile(bytes(path), &out, 5000, &error));
    QCOMPARE(out.size(), std::size_t(5000));
    QVERIFY(!io::readSmallFile("/dev/zero", &out, 4096, &error));
    QCOMPARE(error, io::kNotRegularFile);
}

void TestIo::changeExtension_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("extension");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("replaced") << QByteArray("/a/b.cab") << QByteArray(".exe") << QByteArray("/a/b.exe");
    QTest::newRow("last dot") << QByteArray("set.tar.cab") << QByteArray(".ecf") << QByteArray("set.tar.ecf");
    QTest::newRow("dot in folder") << QByteArray("/a.d/readme") << QByteArray(".ecf")
                                   << QByteArray("/a.d/readme.ecf");
    QTest::newRow("no folder, no dot")
        << QByteArray("setup") << QByteArray(".exe") << QByteArray("setup.exe");
    QTest::newRow("bytes kept") << QByteArray("v\xff.cab") << QByteArray(".exe") << QByteArray("v\xff.exe");
}

void TestIo::changeExtension()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, extension);
    QFETCH(QByteArray, expected);
    QCOMPARE(QByteArray::fromStdString(io::changeExtension(path.toStdString(), extension.toStdString())),
             expected);
}

void TestIo::errorTexts_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("text");
    QTest::newRow("ENOENT") << int(ENOENT) << QStringLiteral("File not found");
    QTest::newRow("EACCES") << int(EACCES) << QStringLiteral("File access denied");
    QTest::newRow("ENAMETOOLONG") << int(ENAMETOOLONG) << QStringLiteral("Invalid filename");
    QTest::newRow("EMFILE") << int(EMFILE) << QStringLiteral("Too many open files");
    QTest::newRow("ENOSPC") << int(ENOSPC) << QStringLiteral("Disk full");
    QTest::newRow("EFBIG") << int(EFBIG) << QStringLiteral("File too large");
    QTest::newRow("EIO") << int(EIO) << QStringLiteral("I/O error 5");
}

void TestIo::errorTexts()
{
    QFETCH(int, error);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(io::runtimeText(error)), text);
}

QTEST_GUILESS_MAIN(TestIo)
#include "tst_io.moc"
