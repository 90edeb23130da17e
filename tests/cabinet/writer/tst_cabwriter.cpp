// Proves the cabinet writer: each step that can fail names itself and its
// file, an earlier cabinet survives every failure, and what it writes reads
// back through an independent reader.
#include <QtTest>

#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

#include "cabinet/writer/cabwriter.h"
#include "support/testutil.h"

using namespace ravelin;
using cabwriter::CabinetWriter;
using cabwriter::Step;

namespace {

std::string b(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

} // namespace

class TestCabWriter : public QObject {
    Q_OBJECT
    QTemporaryDir* m_dir = nullptr;
    QString path(const QString& name) const { return m_dir->filePath(name); }
    QString file(const QString& name, const QByteArray& data)
    {
        test::writeFile(path(name), data);
        return path(name);
    }

private slots:
    void init() { m_dir = new QTemporaryDir; }
    void cleanup()
    {
        delete m_dir;
        m_dir = nullptr;
    }

    void writesWhatReadersRead()
    {
        const QByteArray big = test::randomBytes(300000, 1);
        file("a.txt", "alpha\n");
        file("big.bin", big);
        CabinetWriter w;
        uint64_t blocks = 0;
        QStringList started;
        w.setProgress([&](const cabwriter::Progress& p) {
            if (p.kind == cabwriter::Progress::FileStarting)
                started << QString::fromStdString(*p.source);
            else
                blocks += p.bytes;
        });
        QVERIFY(w.open(b(path("out.cab"))).ok());
        QVERIFY(w.add(b(path("a.txt")), "a.txt").ok());
        QVERIFY(w.add(b(path("big.bin")), "sub\\big.bin").ok());
        QVERIFY(w.close().ok());
        QCOMPARE(started, (QStringList{path("a.txt"), path("big.bin")}));
        QCOMPARE(blocks, uint64_t(6 + big.size()));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
        if (!test::haveProgram("cabextract"))
            QSKIP("cabextract is not installed");
        QCOMPARE(test::run("cabextract", {"-q", "-d", path("x"), path("out.cab")}).exitCode, 0);
        QCOMPARE(test::readFile(path("x/a.txt")), QByteArray("alpha\n"));
        QCOMPARE(test::readFile(path("x/sub/big.bin")), big);
    }

    void failedStepsAreNamed_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("named"); // the file the result names
        QTest::addColumn<int>("error");
        QTest::newRow("name too long") << "long name" << int(Step::Name) << "llll" << 0;
        QTest::newRow("missing folder")
            << "missing folder" << int(Step::CreateCabinet) << "out.cab" << ENOENT;
        QTest::newRow("source missing") << "missing source" << int(Step::AddFile) << "gone" << ENOENT;
        QTest::newRow("source is a pipe")
            << "pipe" << int(Step::AddFile) << "pipe" << ravelin::io::kNotRegularFile;
        QTest::newRow("source is the cabinet") << "same file" << int(Step::SameFile) << "out.cab" << 0;
        QTest::newRow("final name taken by a folder")
            << "folder" << int(Step::Publish) << "out.cab" << EISDIR;
        QTest::newRow("file-size limit") << "fsize" << int(Step::Compress) << "out.cab" << EFBIG;
        QTest::newRow("add before open") << "misuse" << int(Step::Misuse) << "" << 0;
    }

    void failedStepsAreNamed()
    {
        QFETCH(QString, fault);
        QFETCH(int, step);
        QFETCH(QString, named);
        QFETCH(int, error);
        const QByteArray earlier("an earlier cabinet");
        QString cab = path("out.cab");
        file("out.cab", earlier);
        file("a.txt", "alpha");
        file("big.bin", test::randomBytes(400000, 2));
        if (fault == "long name")
            cab = path(QString(300, 'l') + ".cab");
        if (fault == "missing folder")
            cab = path("nowhere/out.cab");
        if (fault == "pipe")
            QCOMPARE(::mkfifo(QFile::encodeName(path("pipe")).constData(), 0600), 0);

        CabinetWriter w;
        cabwriter::Result r;
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        if (fault == "misuse") {
            r = w.add(b(path("a.txt")), "a.txt");
        } else {
            r = w.open(b(cab));
            if (r.ok()) {
                const QString source = fault == "missing source" ? path("gone")
                                       : fault == "pipe"         ? path("pipe")
                                       : fault == "same file"    ? path("out.cab")
                                       : fault == "fsize"        ? path("big.bin")
                                                                 : path("a.txt");
                if (fault == "fsize") {
                    std::signal(SIGXFSZ, SIG_IGN);
                    rlimit small = old;
                    small.rlim_cur = 100000;
                    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
                }
                r = w.add(b(source), "name");
                setrlimit(RLIMIT_FSIZE, &old);
                if (r.ok() || r.failed == Step::AddFile || r.failed == Step::SameFile) {
                    const cabwriter::Result added = r;
                    if (fault == "folder") {
                        QVERIFY(QFile::remove(path("out.cab")));
                        QVERIFY(QDir(m_dir->path()).mkdir("out.cab"));
                    }
                    r = w.close();
                    if (!added.ok()) {
                        // A refused source leaves the writer usable.
                        QVERIFY2(r.ok(), r.reason().c_str());
                        r = added;
                    }
                }
            }
        }
        w.abandon();
        QCOMPARE(int(r.failed), step);
        QVERIFY2(QString::fromStdString(r.path).contains(named), r.path.c_str());
        QCOMPARE(r.error, error);
        QVERIFY(!r.reason().empty());
        if (fault != "folder" && fault != "same file" && fault != "missing source" && fault != "pipe")
            QCOMPARE(test::readFile(path("out.cab")), earlier);
        // Nothing half-written stays behind.
        for (const QString& name : QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden))
            QVERIFY2(!name.startsWith(".ravelin-"), qPrintable(name));
        QCOMPARE(QDir(QDir::tempPath()).entryList({"tp*"}, QDir::Files), QStringList());
    }

    void sourceDateEpochIsTheSameInEveryZone()
    {
        file("a.txt", "alpha");
        {
            QFile f(path("a.txt"));
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(
                f.setFileTime(QDateTime::fromSecsSinceEpoch(2000000000), QFileDevice::FileModificationTime));
        }
        QByteArray first;
        for (const char* zone : {"UTC", "America/New_York", "Asia/Tokyo"}) {
            qputenv("TZ", zone);
            tzset();
            CabinetWriter w;
            cabwriter::Parameters p;
            p.sourceDateEpoch = 1700000000; // 2023-11-14 22:13:20 UTC, before the file's date
            QVERIFY(w.open(b(path("e.cab")), p).ok());
            QVERIFY(w.add(b(path("a.txt")), "a.txt").ok());
            QVERIFY(w.close().ok());
            const QByteArray bytes = test::readFile(path("e.cab"));
            if (first.isEmpty())
                first = bytes;
            QCOMPARE(bytes, first);
        }
        qunsetenv("TZ");
        tzset();
        // The clamped date in UTC: 2023-11-14 22:13:20.
        const qsizetype at = first.indexOf(QByteArray("a.txt") + '\0');
        QVERIFY(at > 6);
        const auto u16 = [&first](qsizetype i) {
            return int(uchar(first[i])) | int(uchar(first[i + 1])) << 8;
        };
        QCOMPARE(u16(at - 6), ((2023 - 1980) << 9) | (11 << 5) | 14);
        QCOMPARE(u16(at - 4), (22 << 11) | (13 << 5) | 10);
    }
};

QTEST_GUILESS_MAIN(TestCabWriter)
#include "tst_cabwriter.moc"
