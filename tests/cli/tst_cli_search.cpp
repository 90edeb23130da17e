// Proves `ravelin-cab search ROOT` prints what the organise window would
// list for ROOT (same iterator, options and query) as the paths' own bytes,
// one per line, and fails clearly.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/testutil.h"
#include "tools/fileiterator/fileiterator.h"

using namespace ravelin::tools;
using ravelin::test::run;
using ravelin::test::writeFile;

class TestCliSearch : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString m_root;

    // What the organise window's iterator lists for `root`, in order.
    static QStringList windowList(const QString& root)
    {
        TFileIterator it;
        it.SetRootFolder(QFile::encodeName(root));
        QStringList found;
        it.OnAddFileQuery = [](TFileIterator*, const QByteArray& n, const TFileInfo&, bool& canAdd) {
            canAdd = isCabinetFileName(n);
        };
        it.OnAddFile = [&](TFileIterator*, const QByteArray& n, const TFileInfo&) {
            found << QFile::decodeName(n);
        };
        it.Execute();
        return found;
    }

    // Makes an empty file under the exact bytes `path`.
    static bool touchBytes(const QByteArray& path)
    {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        return fd >= 0 && ::close(fd) == 0;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_root = m_dir.path() + "/tree";
        QDir d(m_root);
        QVERIFY(d.mkpath("one/two"));
        QVERIFY(d.mkpath(".config"));
        QVERIFY(d.mkpath(QString::fromUtf8("m\xc3\xb8rk")));
        QVERIFY(writeFile(m_root + "/archive.Cab", "x"));
        QVERIFY(writeFile(m_root + "/one/two/disk1.cab", "x"));
        QVERIFY(writeFile(m_root + QString::fromUtf8("/m\xc3\xb8rk/n\xc3\xa4me.CAB"), "x"));
        QVERIFY(writeFile(m_root + "/archive.cabx", "x"));
        QVERIFY(writeFile(m_root + "/archive", "x"));
        QVERIFY(writeFile(m_root + "/one/archive.cab.bak", "x"));
        QVERIFY(writeFile(m_root + "/.config/hidden.cab", "x"));
        QVERIFY(QFile::link(m_root + "/one", m_root + "/link-to-one"));
    }

    void printsWhatTheWindowLists_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::newRow("no trailing slash") << "";
        QTest::newRow("trailing slash") << "/";
    }
    void printsWhatTheWindowLists()
    {
        QFETCH(QString, suffix);
        const auto r = run(RAVELIN_CAB, {"search", m_root + suffix});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.err.isEmpty());
        const QStringList lines = QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines, windowList(m_root));
        QStringList sorted = lines;
        sorted.sort();
        QStringList expected{m_root + "/archive.Cab", m_root + "/one/two/disk1.cab",
                             m_root + QString::fromUtf8("/m\xc3\xb8rk/n\xc3\xa4me.CAB")};
        expected.sort();
        QCOMPARE(sorted, expected);
        QVERIFY(r.out.endsWith('\n'));
    }

    void nothingFound()
    {
        const QString empty = m_dir.path() + "/empty";
        QVERIFY(QDir().mkpath(empty));
        const auto r = run(RAVELIN_CAB, {"search", empty});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.isEmpty());
    }

    void badRoots_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << "/missing"
                                 << "/missing: No such file or directory";
        QTest::newRow("a file") << "/archive"
                                << "/archive: Not a directory";
    }
    void badRoots()
    {
        QFETCH(QString, root);
        QFETCH(QString, message);
        const auto r = run(RAVELIN_CAB, {"search", m_root + root});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.out.isEmpty());
        QVERIFY2(QString::fromLocal8Bit(r.err).contains("cannot search " + m_root + message),
                 r.err.constData());
    }

    void pathsAreTheirBytes_data()
    {
        // name below ROOT/bytes (made first), root as given, expected line
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("root");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("0xff in the name")
            << QByteArray("a\xff.cab") << QByteArray("") << QByteArray("/a\xff.cab");
        QTest::newRow("look-alike U+FFFD")
            << QByteArray("a\xef\xbf\xbd.cab") << QByteArray("") << QByteArray("/a\xef\xbf\xbd.cab");
        QTest::newRow("0xff in the root")
            << QByteArray("r\xff/in.cab") << QByteArray("/r\xff") << QByteArray("/r\xff/in.cab");
        QTest::newRow("newline escaped")
            << QByteArray("two\nlines.cab") << QByteArray("") << QByteArray("/two\\x0alines.cab");
        QTest::newRow("escape sequence escaped")
            << QByteArray("\x1b[31mred.cab") << QByteArray("") << QByteArray("/\\x1b[31mred.cab");
    }
    void pathsAreTheirBytes()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, root);
        QFETCH(QByteArray, line);
        QTemporaryDir dir;
        const QByteArray base = QFile::encodeName(dir.path());
        const QByteArray folder =
            name.contains('/') ? base + "/" + name.left(name.indexOf('/')) : QByteArray();
        struct Remove { // Qt cannot remove such names with the folder
            QByteArray file, folder;
            ~Remove()
            {
                ::unlink(file.constData());
                if (!folder.isEmpty())
                    ::rmdir(folder.constData());
            }
        } remove{base + "/" + name, folder};
        if (!folder.isEmpty())
            QCOMPARE(::mkdir(folder.constData(), 0755), 0);
        QVERIFY(touchBytes(base + "/" + name));
        // argv bytes that are not UTF-8 cannot pass through QProcess's text
        // arguments: the shell makes them from octal escapes.
        QByteArray octalRoot;
        for (char c : base + root)
            octalRoot += "\\" + QByteArray::number(uchar(c), 8).rightJustified(3, '0');
        const auto r = run("/bin/sh", {"-c", QString("exec '%1' search \"$(printf '%2')\"")
                                                 .arg(RAVELIN_CAB, QString::fromLatin1(octalRoot))});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.err.isEmpty());
        QCOMPARE(r.out, base + line + "\n");
        // A plain path prints as the path that exists: test -e on its bytes.
        if (!line.contains('\\')) {
            const QByteArray printed = r.out.chopped(1);
            const auto e = run("/bin/sh", {"-c", "test -e \"$(cat)\""}, QString(), 10000, printed);
            QCOMPARE(e.exitCode, 0);
        }
    }

    void usage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no root") << QStringList{"search"};
        QTest::newRow("two roots") << QStringList{"search", "/a", "/b"};
    }
    void usage()
    {
        QFETCH(QStringList, args);
        const auto r = run(RAVELIN_CAB, args);
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.err.contains("usage: ravelin-cab search ROOT"));
    }

    void fullOutputIsAFailure()
    {
        if (!QFileInfo::exists("/dev/full"))
            QSKIP("no /dev/full");
        const auto r =
            run("/bin/sh", {"-c", QString("'%1' search '%2' > /dev/full").arg(RAVELIN_CAB, m_root)});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains("cannot write the list to standard output: No space left on device"));
    }
};

QTEST_GUILESS_MAIN(TestCliSearch)
#include "tst_cli_search.moc"
