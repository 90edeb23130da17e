// Proves `ravelin-cab search ROOT` prints what the organise window would
// list for ROOT (same iterator, options and query) and fails clearly.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

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
        it.SetRootFolder(root);
        QStringList found;
        it.OnAddFileQuery = [](TFileIterator*, const QString& n, const TFileInfo&, bool& canAdd) {
            canAdd = isCabinetFileName(n);
        };
        it.OnAddFile = [&](TFileIterator*, const QString& n, const TFileInfo&) { found << n; };
        it.Execute();
        return found;
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
                                 << "no such folder";
        QTest::newRow("a file") << "/archive"
                                << "not a folder";
    }
    void badRoots()
    {
        QFETCH(QString, root);
        QFETCH(QString, message);
        const auto r = run(RAVELIN_CAB, {"search", m_root + root});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.out.isEmpty());
        QVERIFY2(QString::fromLocal8Bit(r.err).contains(message), r.err.constData());
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
        QVERIFY(r.err.contains("cannot write"));
    }
};

QTEST_GUILESS_MAIN(TestCliSearch)
#include "tst_cli_search.moc"
