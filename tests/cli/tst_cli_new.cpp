// Proves ravelin-cab n as build scripts use it: folders walked with -r,
// paths stored with -p/-P and read back by four independent readers, file
// lists, reproducible dates, option order, help and exit codes.
#include <QtTest>

#include <QTemporaryDir>

#include "support/testutil.h"

using namespace ravelin;

namespace {

test::ProcessResult sh(const QString& script, const QString& cwd, const QStringList& env = {})
{
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("CAB"), QStringLiteral(RAVELIN_CAB));
    for (const QString& kv : env)
        e.insert(kv.section('=', 0, 0), kv.section('=', 1));
    p.setProcessEnvironment(e);
    p.setWorkingDirectory(cwd);
    return test::run(p, QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script});
}

// Every file below `root` with its contents.
QMap<QString, QByteArray> contents(const QString& root)
{
    QMap<QString, QByteArray> map;
    for (const QString& rel : test::fileTree(root))
        if (QFileInfo(root + "/" + rel).isFile())
            map.insert(rel, test::readFile(root + "/" + rel));
    return map;
}

} // namespace

class TestCliNew : public QObject {
    Q_OBJECT
    QTemporaryDir* m_dir = nullptr;

    // A small tree: nested folders, a space, UTF-8, a hidden file.
    void makeTree()
    {
        const QMap<QString, QByteArray> files = {
            {"tree/readme.txt", "read me\n"},
            {"tree/sub dir/data.bin", test::randomBytes(70000, 1)},
            {"tree/sub dir/deeper/\xc3\xa9t\xc3\xa9.txt", "summer\n"},
            {"tree/.hidden", "h"},
        };
        for (auto it = files.begin(); it != files.end(); ++it) {
            const QString p = m_dir->filePath(QString::fromUtf8(it.key().toUtf8()));
            QDir().mkpath(QFileInfo(p).path());
            QVERIFY(test::writeFile(p, it.value()));
        }
    }

private slots:
    void init()
    {
        m_dir = new QTemporaryDir;
        makeTree();
    }
    void cleanup() { delete m_dir; }

    void treesReadBackByEveryReader_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("root"); // where the tree's files land below the extraction folder
        QTest::newRow("-r -p") << "$CAB n -r -p t.cab tree"
                               << "tree";
        QTest::newRow("options after operands") << "$CAB n t.cab tree -r -p"
                                                << "tree";
        QTest::newRow("joined short options") << "$CAB n -rp t.cab ./tree/"
                                              << "tree";
        QTest::newRow("-P strips") << "$CAB n -r -P tree/ t.cab tree"
                                   << "";
        QTest::newRow("absolute path") << "$CAB n -r -P \"$PWD/\" t.cab \"$PWD/tree\""
                                       << "tree";
    }

    void treesReadBackByEveryReader()
    {
        QFETCH(QString, command);
        QFETCH(QString, root);
        const auto r = sh(command, m_dir->path());
        QVERIFY2(r.exitCode == 0, r.err.constData());
        const QMap<QString, QByteArray> expected = contents(m_dir->filePath("tree"));
        int checked = 0;
        for (const test::OutsideReader& reader : test::outsideReaders()) {
            if (!test::haveProgram(reader.program))
                continue;
            const QString out = m_dir->filePath("out");
            QDir(out).removeRecursively();
            QVERIFY(QDir().mkpath(out));
            const auto x = test::run(reader.program, reader.extractArgs(m_dir->filePath("t.cab"), out));
            QVERIFY2(x.exitCode == 0, qPrintable(reader.program + ": " + x.err));
            QCOMPARE(contents(root.isEmpty() ? out : out + "/" + root), expected);
            ++checked;
        }
        if (checked == 0)
            QSKIP("no outside reader installed");
    }

    void storedNamesWithoutAndWithPaths()
    {
        // Without -p: bare names, as the window stores them; a name met twice is warned about.
        auto r = sh("mkdir two && printf x > two/readme.txt && $CAB n b.cab tree/readme.txt two/readme.txt",
                    m_dir->path());
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.err.contains("warning: readme.txt is stored more than once"), r.err.constData());
        r = sh("$CAB n -q q.cab tree/readme.txt two/readme.txt", m_dir->path());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QByteArray());
        // A folder without -r, and a stored path climbing out, are refused by name.
        r = sh("$CAB n f.cab tree", m_dir->path());
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("cannot add tree: is a folder"), r.err.constData());
        r = sh("$CAB n -p u.cab tree/../tree/readme.txt", m_dir->path());
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("tree/../tree/readme.txt"), r.err.constData());
        // -v names each file with its size.
        r = sh("$CAB n -v v.cab tree/readme.txt", m_dir->path());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.simplified(), QByteArray("8 readme.txt"));
    }

    void fileListsWithOddNames()
    {
        // A newline and a leading space in names, read NUL-separated.
        QVERIFY(test::writeFile(m_dir->filePath("odd\nname"), "newline"));
        QVERIFY(test::writeFile(m_dir->filePath(" lead"), "space"));
        auto r = sh(
            "printf 'odd\\nname\\000 lead\\000tree/readme.txt\\000' > list && $CAB n -T list --null l.cab && "
            "mkdir out && cabextract -q -d out l.cab",
            m_dir->path());
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(test::readFile(m_dir->filePath("out/odd\nname")), QByteArray("newline"));
        QCOMPARE(test::readFile(m_dir->filePath("out/ lead")), QByteArray("space"));
        // One a line, from standard input, after FILE operands.
        r = sh("printf 'tree/.hidden\\n\\n' | $CAB n s.cab tree/readme.txt --files-from - && $CAB l s.cab",
               m_dir->path());
        QVERIFY2(r.exitCode == 0, r.err.constData());
        const QList<QByteArray> lines = r.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 3); // and the summary
        QVERIFY(lines[0].endsWith("readme.txt") && lines[1].endsWith(".hidden"));
        // The escaped name prints as one line.
        r = sh("$CAB l l.cab", m_dir->path());
        QCOMPARE(r.out.count('\n'), 4);
    }

    void reproducibleInEveryTimeZone()
    {
        QByteArray first;
        for (const QString& zone : {QStringLiteral("UTC"), QStringLiteral("America/New_York")}) {
            const auto r = sh("$CAB n -r -p r.cab tree", m_dir->path(),
                              {"TZ=" + zone, QStringLiteral("SOURCE_DATE_EPOCH=1700000000")});
            QVERIFY2(r.exitCode == 0, r.err.constData());
            const QByteArray bytes = test::readFile(m_dir->filePath("r.cab"));
            if (first.isEmpty())
                first = bytes;
            QCOMPARE(bytes, first);
        }
        const auto bad = sh("$CAB n r.cab tree/readme.txt", m_dir->path(), {"SOURCE_DATE_EPOCH=soon"});
        QCOMPARE(bad.exitCode, 1);
        QVERIFY(bad.err.contains("SOURCE_DATE_EPOCH"));
    }

    void helpAndExitCodes_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("n --help") << "$CAB n --help" << 0 << "usage: ravelin-cab n [OPTIONS]"
                                  << "";
        QTest::newRow("help n") << "$CAB help n" << 0 << "-r, --recursive"
                                << "";
        QTest::newRow("help x") << "$CAB help x" << 0 << "usage: ravelin-cab x"
                                << "";
        QTest::newRow("unknown option") << "$CAB n --frobnicate c.cab tree/readme.txt" << 2 << ""
                                        << "unknown option --frobnicate";
        QTest::newRow("missing value") << "$CAB n c.cab tree/readme.txt -i" << 2 << ""
                                       << "needs a value";
        QTest::newRow("bad set ID") << "$CAB n -i 70000 c.cab tree/readme.txt" << 2 << ""
                                    << "0 to 65535";
        QTest::newRow("bad method") << "$CAB n -m zip c.cab tree/readme.txt" << 2 << ""
                                    << "unknown compression";
        QTest::newRow("no files") << "$CAB n c.cab" << 2 << ""
                                  << "usage:";
        QTest::newRow("--help after --") << "$CAB n c.cab -- --help" << 1 << ""
                                         << "cannot add --help";
        QTest::newRow("set ID given")
            << "$CAB n -i 7 c.cab tree/readme.txt && od -An -tu2 -j32 -N2 c.cab" << 0 << "7"
            << "";
        QTest::newRow("help unknown") << "$CAB help zz" << 2 << ""
                                      << "unknown command";
    }

    void helpAndExitCodes()
    {
        QFETCH(QString, command);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        const auto r = sh(command, m_dir->path());
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.out.contains(out.toUtf8()), r.out.constData());
        QVERIFY2(r.err.contains(err.toUtf8()), r.err.constData());
    }
};

QTEST_GUILESS_MAIN(TestCliNew)
#include "tst_cli_new.moc"
