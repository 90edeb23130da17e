// Proves ravelin-cab l / t / x on what scripts hand them: the self-extracting output of n --sfx, a
// three-cabinet set (and its missing middle), x -F, the overwrite rule, restored dates and read-only bits,
// option order, and the exit codes 0, 1 and 2 of every command.
#include <QtTest>

#include <QTemporaryDir>
#include <QTimeZone>

#include <sys/stat.h>

#include "support/testutil.h"

using namespace ravelin;

namespace {

const QString kSets = QStringLiteral(RAVELIN_SETS_DIR);
const char kSetSummary[] = "4 files, 2 folders (none, MSZIP), 102508 bytes in 3 cabinets\n";

// Runs `script` with /bin/sh in `cwd`; $CAB is ravelin-cab, $SETS the set's folder, and a pass phrase is in
// RAVELIN_PASSPHRASE.
test::ProcessResult sh(const QString& script, const QString& cwd, const QStringList& env = {})
{
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("CAB"), QStringLiteral(RAVELIN_CAB));
    e.insert(QStringLiteral("SETS"), kSets);
    e.insert(QStringLiteral("RAVELIN_PASSPHRASE"), QStringLiteral("sixteen chars ok"));
    for (const QString& kv : env)
        e.insert(kv.section('=', 0, 0), kv.section('=', 1));
    p.setProcessEnvironment(e);
    p.setWorkingDirectory(cwd);
    return test::run(p, QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script});
}

// The files (not folders) below `root`, relative to it.
QStringList files(const QString& root)
{
    QStringList out;
    for (const QString& rel : test::fileTree(root))
        if (!QFileInfo(root + "/" + rel).isDir())
            out << rel;
    return out;
}

} // namespace

class TestCliExtract : public QObject {
    Q_OBJECT
    QTemporaryDir* m_dir = nullptr;

    QString path(const QString& name) const { return m_dir->filePath(name); }

private slots:
    // Each test starts in an empty folder holding a copy of the set.
    void init()
    {
        m_dir = new QTemporaryDir;
        for (const char* name : {"set1.cab", "set2.cab", "set3.cab"})
            QVERIFY(QFile::copy(kSets + "/" + name, path(name)));
    }
    void cleanup() { delete m_dir; }

    void selfExtracting_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("l") << "$CAB l s.exe | grep -c '  a.txt$' && $CAB l s.exe"
                           << QByteArray("  b.bin\n2 files, 1 folder (MSZIP), 70006 bytes\n");
        QTest::newRow("t") << "$CAB t s.exe" << QByteArray("s.exe: 2 files OK\n");
        QTest::newRow("x") << "$CAB x s.exe out && cmp a.txt out/a.txt && cmp b.bin out/b.bin"
                           << QByteArray();
    }

    void selfExtracting()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, out);
        // The extractor holds two false signatures before the cabinet: one whose header does not fit, and
        // one whose header is plausible but whose first file has no name.
        QByteArray plausible("MSCF", 4);
        // reserved1, cbCabinet 60, reserved2, coffFiles 44, reserved3, version 1.3, one folder, one file, no
        // flags, set ID 12345, index 0.
        plausible += QByteArray::fromHex("000000003c000000000000002c00000000000000030101000100000039300000");
        plausible += QByteArray(40, '\0'); // the 60 bytes it claims, then an empty (refused) file name
        const QByteArray extractor = test::randomBytes(3000, 7) + "MSCF\xff\xff\xff\xff" +
                                     test::randomBytes(500, 8) + plausible + test::randomBytes(700, 9);
        QVERIFY(test::writeFile(path("extract.exe"), extractor));
        QVERIFY(test::writeFile(path("a.txt"), "alpha\n"));
        QVERIFY(test::writeFile(path("b.bin"), test::randomBytes(70000, 3)));
        const auto n = sh("$CAB n --sfx extract.exe s.cab a.txt b.bin", m_dir->path());
        QVERIFY2(n.exitCode == 0, n.err.constData());
        QVERIFY(test::readFile(path("s.exe")).startsWith(extractor));

        const auto r = sh(command, m_dir->path());
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(r.err, QByteArray());
        QVERIFY2(r.out.endsWith(out), r.out.constData());
    }

    void cabinetSet_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("out"); // its end
        QTest::addColumn<QByteArray>("err"); // all of it
        QTest::newRow("l") << "$CAB l set1.cab" << 0
                           << QByteArray("  r--a-  docs/read-only.txt\n") + kSetSummary << QByteArray();
        QTest::newRow("l from the last") << "$CAB l set3.cab" << 0 << QByteArray(kSetSummary) << QByteArray();
        QTest::newRow("t") << "$CAB t set1.cab" << 0 << QByteArray("set1.cab: 4 files OK\n") << QByteArray();
        QTest::newRow("x") << "$CAB x set1.cab out && cd out && sha256sum -c --quiet \"$SETS/set.sha256\""
                           << 0 << QByteArray() << QByteArray();
        QTest::newRow("stored name in another case")
            << "mv set2.cab SET2.CAB && $CAB t set1.cab" << 0 << QByteArray(" 4 files OK\n") << QByteArray();
        const QByteArray missing(
            "ravelin-cab: cannot open cabinet set2.cab (the next cabinet after set1.cab): "
            "No such file or directory\n");
        QTest::newRow("missing middle: l")
            << "rm set2.cab && $CAB l set1.cab" << 1 << QByteArray() << missing;
        QTest::newRow("missing middle: t")
            << "rm set2.cab && $CAB t set1.cab" << 1 << QByteArray() << missing;
        // Nothing is written, not even the folder.
        QTest::newRow("missing middle: x")
            << "rm set2.cab && { $CAB x set1.cab out; r=$?; test -e out && exit 9; exit $r; }" << 1
            << QByteArray() << missing;
        QTest::newRow("missing middle, from the last")
            << "rm set2.cab && $CAB l set3.cab" << 1 << QByteArray()
            << QByteArray("ravelin-cab: cannot open cabinet set2.cab (the previous cabinet before set3.cab): "
                          "No such file or directory\n");
    }

    void cabinetSet()
    {
        QFETCH(QString, command);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        const auto r = sh(command, m_dir->path());
        QCOMPARE(r.err, err);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.out.endsWith(out), r.out.constData());
    }

    void filter_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<QStringList>("extracted");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("err");
        QTest::newRow("a folder") << "-F 'docs/*'" << QStringList{"docs/notes.txt", "docs/read-only.txt"} << 0
                                  << QByteArray();
        QTest::newRow("* crosses /") << "-F '*.txt'"
                                     << QStringList{"docs/notes.txt", "docs/read-only.txt", "readme.txt"} << 0
                                     << QByteArray();
        QTest::newRow("repeated") << "-F readme.txt --filter data/big.bin"
                                  << QStringList{"data/big.bin", "readme.txt"} << 0 << QByteArray();
        QTest::newRow("bracket") << "-F 'docs/[n]*'" << QStringList{"docs/notes.txt"} << 0 << QByteArray();
        QTest::newRow("one matches nothing")
            << "-F readme.txt -F '*.exe'" << QStringList{"readme.txt"} << 1
            << QByteArray("ravelin-cab: no file in set1.cab matches *.exe\n");
        // Names are matched with "/" between folders, as l prints them.
        QTest::newRow("backslash form") << "-F 'docs\\*'" << QStringList{} << 1
                                        << QByteArray("ravelin-cab: no file in set1.cab matches docs\\*\n");
    }

    void filter()
    {
        QFETCH(QString, options);
        QFETCH(QStringList, extracted);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, err);
        const auto r = sh("$CAB x " + options + " set1.cab out", m_dir->path());
        QCOMPARE(r.err, err);
        QCOMPARE(r.exitCode, exitCode);
        QCOMPARE(files(path("out")), extracted);
        for (const QString& name : extracted)
            QVERIFY(sh("grep -F \"  " + name + "\" \"$SETS/set.sha256\" | (cd out && sha256sum -c --quiet)",
                       m_dir->path())
                        .exitCode == 0);
    }

    void overwrite_data()
    {
        QTest::addColumn<QString>("existing"); // what stands at out/readme.txt: "file" or "link"
        QTest::addColumn<QString>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("file kept") << "file"
                                   << "" << 1 << false;
        QTest::newRow("file replaced") << "file"
                                       << "--overwrite" << 0 << true;
        QTest::newRow("link kept") << "link"
                                   << "" << 1 << false;
        QTest::newRow("link replaced, not followed") << "link"
                                                     << "--overwrite" << 0 << true;
    }

    void overwrite()
    {
        QFETCH(QString, existing);
        QFETCH(QString, options);
        QFETCH(int, exitCode);
        QFETCH(bool, replaced);
        QVERIFY(QDir().mkpath(path("out")));
        QVERIFY(test::writeFile(path("mine.txt"), "mine\n"));
        if (existing == "file")
            QVERIFY(QFile::copy(path("mine.txt"), path("out/readme.txt")));
        else
            QVERIFY(QFile::link(path("mine.txt"), path("out/readme.txt")));
        const auto r = sh("$CAB x " + options + " set1.cab out", m_dir->path());
        QCOMPARE(r.exitCode, exitCode);
        QCOMPARE(r.err, replaced
                            ? QByteArray()
                            : QByteArray("ravelin-cab: not overwriting out/readme.txt (--overwrite replaces "
                                         "it): File exists\n"));
        // The others are extracted either way; nothing is written through a link; no temporary stays.
        QCOMPARE(files(path("out")),
                 (QStringList{"data/big.bin", "docs/notes.txt", "docs/read-only.txt", "readme.txt"}));
        QCOMPARE(test::readFile(path("mine.txt")), QByteArray("mine\n"));
        const QFileInfo readme(path("out/readme.txt"));
        QCOMPARE(readme.isSymLink(), existing == "link" && !replaced);
        QCOMPARE(test::readFile(path("out/readme.txt")).startsWith("This set spans"), replaced);
    }

    void datesAndReadOnly_data()
    {
        QTest::addColumn<QString>("zone");
        QTest::newRow("UTC") << "UTC";
        QTest::newRow("Tokyo") << "Asia/Tokyo";
        QTest::newRow("New York, winter and summer") << "America/New_York";
    }

    void datesAndReadOnly()
    {
        QFETCH(QString, zone);
        if (!QFileInfo::exists("/usr/share/zoneinfo/" + zone))
            QSKIP("no time zone data");
        const auto r = sh("umask 022 && $CAB x set1.cab out", m_dir->path(), {"TZ=" + zone});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        // The stored dates are local times of the zone the extraction ran in.
        const QTimeZone tz(zone.toLatin1());
        const struct {
            const char* name;
            QDateTime stored;
            bool readOnly;
        } expected[] = {
            {"readme.txt", QDateTime(QDate(2021, 3, 4), QTime(5, 6, 8), tz), false},
            {"data/big.bin", QDateTime(QDate(2020, 1, 2), QTime(3, 4, 6), tz), false},
            {"docs/notes.txt", QDateTime(QDate(2019, 12, 31), QTime(23, 59, 58), tz), false},
            {"docs/read-only.txt", QDateTime(QDate(2022, 7, 8), QTime(9, 10, 12), tz), true},
        };
        for (const auto& e : expected) {
            struct stat st {};
            QVERIFY(::stat(QFile::encodeName(path(QString("out/") + e.name)).constData(), &st) == 0);
            QCOMPARE(qint64(st.st_mtime), e.stored.toSecsSinceEpoch());
            QCOMPARE(st.st_mode & 07777, e.readOnly ? 0444u : 0644u);
        }
    }

    // Options may stand anywhere before "--"; each line extracts docs/* over an older docs/notes.txt.
    void optionOrder_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("options first") << "$CAB x --overwrite -F 'docs/*' set1.cab out";
        QTest::newRow("options last") << "$CAB x set1.cab out -F 'docs/*' --overwrite";
        QTest::newRow("between operands") << "$CAB x set1.cab -F 'docs/*' out --overwrite";
        QTest::newRow("value joined") << "$CAB x -F'docs/*' --overwrite set1.cab out";
        QTest::newRow("long form with =") << "$CAB x --filter='docs/*' --overwrite set1.cab out";
        QTest::newRow("operands after --") << "$CAB x --overwrite -F 'docs/*' -- set1.cab out";
    }

    void optionOrder()
    {
        QFETCH(QString, command);
        QVERIFY(QDir().mkpath(path("out/docs")));
        QVERIFY(test::writeFile(path("out/docs/notes.txt"), "older\n"));
        const auto r = sh(command, m_dir->path());
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(files(path("out")), (QStringList{"docs/notes.txt", "docs/read-only.txt"}));
        QVERIFY(test::readFile(path("out/docs/notes.txt")).startsWith("notes: "));
    }

    void exitCodes_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("out"); // found in standard output
        QTest::addColumn<QByteArray>("err"); // found in standard error
        const QByteArray none;
        const auto row = [](const char* name, const QString& command, int exitCode, const QByteArray& out,
                            const QByteArray& err) {
            QTest::newRow(name) << command << exitCode << out << err;
        };
        row("l 0", "$CAB l set1.cab", 0, "readme.txt", none);
        row("l 1", "$CAB l nothere.cab", 1, none,
            "cannot open cabinet nothere.cab: No such file or directory");
        row("l 2", "$CAB l --all set1.cab", 2, none, "unknown option --all\nusage: ravelin-cab l CABINET");
        row("l --help after the operand", "$CAB l set1.cab --help", 0, "usage: ravelin-cab l CABINET", none);
        row("t 0", "$CAB t set1.cab", 0, "4 files OK", none);
        row("t 1", "printf 'plain' > p.txt && $CAB t p.txt", 1, none,
            "cannot open cabinet p.txt: not a cabinet");
        row("t 2", "$CAB t set1.cab set3.cab", 2, none, "usage: ravelin-cab t CABINET");
        row("x 0", "$CAB x set1.cab out", 0, none, none);
        row("x 1", "mkdir out && : > out/data && $CAB x set1.cab out", 1, none,
            "cannot make folder out/data for data\\big.bin: Not a directory");
        row("x 2", "$CAB x set1.cab out -F", 2, none,
            "option -F needs a value\nusage: ravelin-cab x [-F PATTERN]");
        row("help x", "$CAB help x", 0, "-F, --filter PATTERN", none);
        row("encrypt 0", "printf 'plain' > p.txt && $CAB encrypt p.txt && test -s p.ecf", 0, "p.ecf", none);
        row("encrypt 1", "$CAB encrypt nothere.txt", 1, none, "nothere.txt: No such file or directory");
        row("encrypt 2", "$CAB encrypt --key k p.txt", 2, none, "unknown option --key");
        row("decrypt 0",
            "printf 'plain' > p.txt && $CAB encrypt p.txt -o p.ecf && $CAB decrypt -o back p.ecf", 0, "back",
            none);
        row("decrypt 1", "printf 'plain' > p.ecf && $CAB decrypt p.ecf", 1, none,
            "p.ecf: not an encrypted file");
        row("decrypt 2", "$CAB decrypt p.ecf -o", 2, none, "option -o needs a value");
        row("inf 0", "$CAB inf a.txt --cab set --dir .", 0, "./set.inf", none);
        row("inf 1", "$CAB inf --cab set --dir nothere a.txt", 1, none, "create set.inf: ");
        row("inf 2", "$CAB inf --dir . a.txt", 2, none, "usage: ravelin-cab inf");
        row("package 0", "$CAB inf --cab set --dir . a.txt > /dev/null && $CAB package --dir . --cab set", 0,
            "SETUP.EXE", none);
        row("package 1", "$CAB package --cab set --dir .", 1, none,
            "./set.inf is needed (write it with \"ravelin-cab inf\"): No such file or directory");
        row("package 2", "$CAB package --cab set --dir . --frob", 2, none, "unknown option --frob");
        row("search 0", "$CAB search .", 0, "/set1.cab", none);
        row("search 1", "$CAB search nothere", 1, none, "cannot search nothere: No such file or directory");
        row("search 2", "$CAB search -x .", 2, none, "unknown option -x\nusage: ravelin-cab search ROOT");
    }

    void exitCodes()
    {
        QFETCH(QString, command);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        const auto r = sh(command, m_dir->path());
        QVERIFY2(r.exitCode == exitCode, r.err.constData());
        QVERIFY2(r.out.contains(out), r.out.constData());
        QVERIFY2(r.err.contains(err), r.err.constData());
        if (exitCode == 0)
            QCOMPARE(r.err, QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestCliExtract)
#include "tst_cli_extract.moc"
