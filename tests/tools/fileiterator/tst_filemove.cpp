// Proves the organise move never replaces a file, crosses volumes by copy
// and delete, and leaves the source where it was whenever it fails.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <cerrno>
#include <memory>

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/testutil.h"
#include "tools/fileiterator/filemove.h"
#include "tools/fileiterator/othervolume.h"

using namespace ravelin::tools;
using ravelin::test::randomBytes;
using ravelin::test::readBytesNamed;
using ravelin::test::readFile;
using ravelin::test::writeBytesNamed;
using ravelin::test::writeFile;

using ravelin::test::deviceOf;
using ravelin::test::OtherVolume;

namespace {

int moveFile(const QString& from, const QString& to)
{
    return moveFileNoReplace(QFile::encodeName(from).toStdString(), QFile::encodeName(to).toStdString());
}

// The names in the folder `dir` (bytes), without "." and "..", sorted.
QList<QByteArray> entriesOf(const QByteArray& dir)
{
    QList<QByteArray> names;
    if (DIR* d = ::opendir(dir.constData())) {
        while (const dirent* e = ::readdir(d))
            if (qstrcmp(e->d_name, ".") != 0 && qstrcmp(e->d_name, "..") != 0)
                names << QByteArray(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

class TestFileMove : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;

private slots:
    void sameVolume()
    {
        const QString from = m_dir.path() + "/a.cab";
        const QString to = m_dir.path() + "/moved.cab";
        const QByteArray data = randomBytes(5000, 1);
        QVERIFY(writeFile(from, data));
        QCOMPARE(moveFile(from, to), 0);
        QVERIFY(!QFile::exists(from));
        QCOMPARE(readFile(to), data);
    }

    void namesAreBytes_data()
    {
        // A name that is not UTF-8 (0xFF) and one that is its look-alike as
        // text (U+FFFD): each moves as itself.
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("otherVolume");
        QTest::newRow("0xff") << QByteArray("a\xff.cab") << false;
        QTest::newRow("0xff across volumes") << QByteArray("a\xff.cab") << true;
        QTest::newRow("U+FFFD") << QByteArray("a\xef\xbf\xbd.cab") << false;
    }
    void namesAreBytes()
    {
        QFETCH(QByteArray, name);
        QFETCH(bool, otherVolume);
        std::unique_ptr<OtherVolume> other;
        QByteArray targetDir = QFile::encodeName(m_dir.path()) + "/to";
        if (otherVolume) {
            other = std::make_unique<OtherVolume>(m_dir.path());
            if (other->path().isEmpty())
                QSKIP(qPrintable(other->reason()));
            targetDir = QFile::encodeName(other->path());
        } else {
            QVERIFY(QDir().mkpath(m_dir.path() + "/to"));
        }
        const QByteArray from = QFile::encodeName(m_dir.path()) + "/" + name;
        const QByteArray to = targetDir + "/" + name;
        // Qt cannot remove such names with the folders: done here.
        struct Remove {
            QByteArray a, b;
            ~Remove() { ::unlink(a.constData()), ::unlink(b.constData()); }
        } remove{from, to};
        QVERIFY(writeBytesNamed(from, "exact"));
        QCOMPARE(moveFileNoReplace(from.toStdString(), to.toStdString()), 0);
        QCOMPARE(::access(from.constData(), F_OK), -1);
        QCOMPARE(readBytesNamed(to), QByteArray("exact"));
        QCOMPARE(entriesOf(targetDir), QList<QByteArray>{name}); // no temporary left beside it
    }

    void neverReplaces()
    {
        const QString from = m_dir.path() + "/b.cab";
        const QString to = m_dir.path() + "/taken.cab";
        QVERIFY(writeFile(from, "source"));
        QVERIFY(writeFile(to, "existing"));
        QCOMPARE(moveFile(from, to), EEXIST);
        QCOMPARE(readFile(from), QByteArray("source"));
        QCOMPARE(readFile(to), QByteArray("existing"));
    }

    void failures_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("error");
        QTest::newRow("missing directory") << "/missing/c.cab" << int(ENOENT);
        QTest::newRow("file as directory") << "/plain/c.cab" << int(ENOTDIR);
    }
    void failures()
    {
        QFETCH(QString, target);
        QFETCH(int, error);
        const QString from = m_dir.path() + "/c.cab";
        QVERIFY(writeFile(from, "stays"));
        QVERIFY(writeFile(m_dir.path() + "/plain", "a file"));
        QCOMPARE(moveFile(from, m_dir.path() + target), error);
        QCOMPARE(readFile(from), QByteArray("stays"));
        QVERIFY(QFile::remove(from));
    }

    void missingSource()
    {
        QCOMPARE(moveFile(m_dir.path() + "/none.cab", m_dir.path() + "/x.cab"), ENOENT);
        QVERIFY(!QFile::exists(m_dir.path() + "/x.cab"));
    }

    void acrossVolumes()
    {
        OtherVolume other(m_dir.path());
        if (other.path().isEmpty())
            QSKIP(qPrintable(other.reason()));
        QVERIFY(deviceOf(other.path()) != deviceOf(m_dir.path()));
        const QString from = m_dir.path() + "/far.cab";
        const QString to = other.path() + "/far.cab";
        const QByteArray data = randomBytes(3 * 1024 * 1024 + 17, 2);
        QVERIFY(writeFile(from, data));
        QVERIFY(QFile::setPermissions(from, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        const QDateTime when(QDate(2019, 3, 4), QTime(5, 6, 8));
        {
            QFile f(from);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QVERIFY(f.setFileTime(when, QFileDevice::FileModificationTime));
        }
        QCOMPARE(moveFile(from, to), 0);
        QVERIFY(!QFile::exists(from));
        QCOMPARE(readFile(to), data);
        QCOMPARE(QFileInfo(to).lastModified(), when);
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(to).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0444u);

        // Once more onto the name now taken over there: nothing replaced.
        QVERIFY(writeFile(from, "second"));
        QCOMPARE(moveFile(from, to), EEXIST);
        QCOMPARE(readFile(from), QByteArray("second"));
        QCOMPARE(readFile(to), data);
    }

    void linkAcrossVolumesStaysALink()
    {
        OtherVolume other(m_dir.path());
        if (other.path().isEmpty())
            QSKIP(qPrintable(other.reason()));
        const QString from = m_dir.path() + "/link.cab";
        QVERIFY(QFile::link("/some/where/target.cab", from));
        const QString to = other.path() + "/link.cab";
        QCOMPARE(moveFile(from, to), 0);
        QVERIFY(!QFileInfo(from).isSymLink());
        QCOMPARE(QFileInfo(to).symLinkTarget(), QString("/some/where/target.cab"));
    }

    void failedCopyLeavesSource()
    {
        // A copy that cannot be written in full (the file size limit stands
        // in for a full disk) leaves the source and no partial copy.
        OtherVolume other(m_dir.path());
        if (other.path().isEmpty())
            QSKIP(qPrintable(other.reason()));
        const QString from = m_dir.path() + "/big.cab";
        const QString to = other.path() + "/big.cab";
        const QByteArray data = randomBytes(256 * 1024, 3);
        QVERIFY(writeFile(from, data));

        struct rlimit saved;
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = saved;
        small.rlim_cur = 64 * 1024;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const int error = moveFile(from, to);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        QCOMPARE(error, int(EFBIG));
        QCOMPARE(readFile(from), data);
        QVERIFY(!QFileInfo::exists(to));
        // Nor is a temporary left beside it.
        QCOMPARE(QDir(other.path()).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{});
    }
};

QTEST_GUILESS_MAIN(TestFileMove)
#include "tst_filemove.moc"
