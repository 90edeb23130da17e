// Proves ravelin-cab n / l / x / t as a user runs them: outputs, exit codes, errors.
#include <QtTest>

#include <QTemporaryDir>

#include "support/testutil.h"

using namespace ravelin;

namespace {
test::ProcessResult cab(const QStringList& args, const QString& cwd = QString())
{
    return test::run(QStringLiteral(RAVELIN_CAB), args, cwd);
}
} // namespace

class TestCliCabinet : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString file(const QString& name, const QByteArray& data)
    {
        const QString p = m_dir.filePath(name);
        QDir().mkpath(QFileInfo(p).path());
        test::writeFile(p, data);
        return p;
    }

private slots:
    void buildListTestExtract()
    {
        const QString a = file("in/a.txt", "alpha\n");
        const QString big = file("in/sub/big.bin", test::randomBytes(200000, 4));
        const QString z = file("in/z e r o", QByteArray());
        const QString out = m_dir.filePath("one.cab");
        const auto n = cab({"n", out, big, a, z});
        QVERIFY2(n.exitCode == 0, n.err.constData());
        QCOMPARE(n.err, QByteArray()); // no progress bar when stderr is not a terminal

        const auto l = cab({"l", out});
        QCOMPARE(l.exitCode, 0);
        const QList<QByteArray> lines = l.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 4); // and the summary
        // Given order, bare names.
        QVERIFY(lines[0].trimmed().startsWith("200000 "));
        QVERIFY(lines[0].endsWith("  big.bin"));
        QVERIFY(lines[1].endsWith("  a.txt"));
        QVERIFY(lines[2].endsWith("  z e r o"));
        QVERIFY(lines[1].contains("---a-"));

        const auto t = cab({"t", out});
        QCOMPARE(t.exitCode, 0);
        QVERIFY(t.out.contains("3 files OK"));

        const auto x = cab({"x", out, m_dir.filePath("x")});
        QCOMPARE(x.exitCode, 0);
        QCOMPARE(test::readFile(m_dir.filePath("x/big.bin")), test::readFile(big));
        QCOMPARE(test::readFile(m_dir.filePath("x/a.txt")), QByteArray("alpha\n"));
        QVERIFY(QFileInfo::exists(m_dir.filePath("x/z e r o")));

        // Without DIR: the current directory.
        QDir().mkpath(m_dir.filePath("here"));
        QCOMPARE(cab({"x", out}, m_dir.filePath("here")).exitCode, 0);
        QCOMPARE(test::readFile(m_dir.filePath("here/a.txt")), QByteArray("alpha\n"));

        if (test::haveProgram("cabextract"))
            QCOMPARE(test::run("cabextract", {"-t", out}).exitCode, 0);
    }

    void failedAddStillWritesTheRest()
    {
        const QString a = file("f/a", "a");
        const QString out = m_dir.filePath("partial.cab");
        const QString missing = m_dir.filePath("f/missing");
        const auto n = cab({"n", out, missing, a});
        QCOMPARE(n.exitCode, 1);
        QVERIFY(n.err.contains(QFile::encodeName(missing)));
        QVERIFY(n.err.contains("No such file or directory"));
        const auto l = cab({"l", out});
        QCOMPARE(l.exitCode, 0);
        QCOMPARE(l.out.count('\n'), 2); // one file and the summary
    }

    void failures_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("no command args") << QStringList{"n"} << 2 << QByteArray("usage:");
        QTest::newRow("n without files") << QStringList{"n", "x.cab"} << 2 << QByteArray("usage:");
        QTest::newRow("n unknown option")
            << QStringList{"n", "--frob", "x.cab", "f"} << 2 << QByteArray("--frob");
        QTest::newRow("l two args") << QStringList{"l", "a", "b"} << 2 << QByteArray("usage:");
        QTest::newRow("x three args") << QStringList{"x", "a", "b", "c"} << 2 << QByteArray("usage:");
        QTest::newRow("t none") << QStringList{"t"} << 2 << QByteArray("usage:");
        QTest::newRow("n missing directory")
            << QStringList{"n", "/no/such/dir/x.cab", "/etc/hostname"} << 1 << QByteArray("cannot create");
        QTest::newRow("l missing") << QStringList{"l", "/no/such.cab"} << 1
                                   << QByteArray("cannot open cabinet");
        QTest::newRow("t not a cabinet")
            << QStringList{"t", "/etc/hostname"} << 1 << QByteArray("not a cabinet");
        QTest::newRow("x not a cabinet")
            << QStringList{"x", "/etc/hostname", "out"} << 1 << QByteArray("not a cabinet");
    }

    void failures()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, message);
        const auto r = cab(args, m_dir.path());
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.err.contains(message), r.err.constData());
    }

    void overlongCabinetName()
    {
        const QString a = file("g/a", "a");
        const auto r = cab({"n", m_dir.filePath(QString(300, 'c') + ".cab"), a});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains("at most 255 bytes"));
    }

    void helpAndVersion()
    {
        const auto h = cab({"--help"});
        QCOMPARE(h.exitCode, 0);
        for (const char* s :
             {"ravelin-cab n ", "ravelin-cab l CABINET",
              "ravelin-cab x [-F PATTERN]... [--overwrite] CABINET [DIR]", "ravelin-cab t CABINET"})
            QVERIFY2(h.out.contains(s), s);
        const auto v = cab({"--version"});
        QCOMPARE(v.exitCode, 0);
        QVERIFY(v.out.startsWith("ravelin-cab "));
    }
};

QTEST_GUILESS_MAIN(TestCliCabinet)
#include "tst_cli_cabinet.moc"
