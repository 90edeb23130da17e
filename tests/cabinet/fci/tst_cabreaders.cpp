// Proves that cabinets written by the library read back byte-identical, with
// their names, dates and attributes, in cabextract, 7-Zip, gcab and bsdtar,
// and that the project's own reader refuses unsafe names.
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <ctime>
#include <sys/stat.h>
#include <utime.h>

#include "cabinet/reader/cabreader.h"
#include "cabinet/writer/cabwriter.h"
#include "platform/fileinfo.h"
#include "support/testutil.h"

using namespace ravelin;

namespace {

// A path as the bytes the reader takes.
std::string b(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

struct Source {
    QString name; // stored name
    QByteArray data;
};
using Sources = QList<Source>;

// A file on disk and the name it is stored under.
struct Input {
    QString path;
    QByteArray storedName;
};

// Builds `cab` from the inputs in order with the builder's parameters.
// Returns the number of files refused.
int buildFromFiles(const QString& cab, const QList<Input>& inputs, uint32_t folderThreshold = 900000)
{
    cabwriter::CabinetWriter writer;
    cabwriter::Parameters parameters;
    parameters.folderThreshold = folderThreshold;
    if (!writer.open(QFile::encodeName(cab).toStdString(), parameters).ok())
        qFatal("cannot start the cabinet");
    int refused = 0;
    for (const Input& input : inputs)
        if (!writer.add(QFile::encodeName(input.path).toStdString(), input.storedName.toStdString()).ok())
            ++refused;
    if (!writer.close().ok())
        qFatal("flush failed");
    return refused;
}

// Writes each source to its own directory and builds `cab` from them in
// order. Returns the number of files refused.
int buildCabinet(const QString& cab, const QString& workDir, const Sources& sources,
                 uint32_t folderThreshold = 900000)
{
    QList<Input> inputs;
    for (int i = 0; i < sources.size(); ++i) {
        const QString dir = workDir + "/src" + QString::number(i);
        QDir().mkpath(dir);
        inputs.append({dir + "/" + sources[i].name, sources[i].name.toUtf8()});
        if (!test::writeFile(inputs.last().path, sources[i].data))
            qFatal("cannot write source");
    }
    return buildFromFiles(cab, inputs, folderThreshold);
}

// What a name should extract to: the last source of that name wins.
QMap<QString, QByteArray> expected(const Sources& sources)
{
    QMap<QString, QByteArray> m;
    for (const Source& s : sources)
        m[s.name] = s.data;
    return m;
}

QByteArray pattern(qsizetype size)
{
    // Compressible but not trivial: text-like with variation.
    QByteArray b;
    b.reserve(size);
    quint32 x = 12345;
    while (b.size() < size) {
        x = x * 1103515245 + 12345;
        b += "line " + QByteArray::number((x >> 16) % 1000) + " of the test data\n";
    }
    b.truncate(size);
    return b;
}

int folderCount(const QString& cab)
{
    const QByteArray b = test::readFile(cab);
    return b.size() >= 36 ? uint8_t(b[26]) | (uint8_t(b[27]) << 8) : -1;
}

} // namespace

class TestCabReaders : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void readersAgree_data();
    void readersAgree();
    void emptyCabinet();
    void datesAndAttributes();
    void ownReaderExtractsSafely();
    void ownReaderRefusesUnsafeNames_data();
    void ownReaderRefusesUnsafeNames();
};

void TestCabReaders::initTestCase()
{
    for (const test::OutsideReader& r : test::outsideReaders())
        if (!test::haveProgram(r.program))
            QSKIP(qPrintable(r.program + " is not installed"));
}

void TestCabReaders::readersAgree_data()
{
    QTest::addColumn<Sources>("sources");
    QTest::addColumn<int>("minFolders");
    QTest::addColumn<bool>("duplicates"); // gcab refuses a cabinet with a name twice
    QTest::newRow("zero-byte file") << Sources{{"empty.txt", {}}} << 1 << false;
    QTest::newRow("zero-byte among others")
        << Sources{{"a.txt", pattern(1000)}, {"empty", {}}, {"b.txt", pattern(50000)}} << 1 << false;
    QTest::newRow("block edges") << Sources{{"s32767", pattern(32767)},
                                            {"s32768", pattern(32768)},
                                            {"s32769", pattern(32769)}}
                                 << 1 << false;
    QTest::newRow("block edges random") << Sources{{"r32767", test::randomBytes(32767, 1)},
                                                   {"r32768", test::randomBytes(32768, 2)},
                                                   {"r32769", test::randomBytes(32769, 3)}}
                                        << 1 << false;
    QTest::newRow("past folder threshold") << Sources{{"f1", test::randomBytes(500000, 4)},
                                                      {"f2", test::randomBytes(500000, 5)},
                                                      {"f3", pattern(700000)},
                                                      {"f4", test::randomBytes(10, 6)}}
                                           << 2 << false;
    QTest::newRow("3 MB random") << Sources{{"random.bin", test::randomBytes(3 * 1024 * 1024, 7)}} << 1
                                 << false;
    QTest::newRow("2 MB zeros") << Sources{{"zeros.bin", QByteArray(2 * 1024 * 1024, 0)}} << 1 << false;
    QTest::newRow("UTF-8 names") << Sources{{QString::fromUtf8("Grüße.txt"), "gruesse"},
                                            {QString::fromUtf8("日本語 ☃.txt"), pattern(40000)}}
                                 << 1 << false;
    QTest::newRow("spaces") << Sources{{"my file name.txt", pattern(3000)}, {" lead and trail ", "x"}} << 1
                            << false;
    QTest::newRow("same name twice") << Sources{{"same.txt", "first one\n"},
                                                {"other", pattern(100)},
                                                {"same.txt", "second, longer one\n"}}
                                     << 1 << true;
    QTest::newRow("real binary") << Sources{{"bash", test::readFile("/usr/bin/bash")}} << 1 << false;
}

void TestCabReaders::readersAgree()
{
    QFETCH(Sources, sources);
    QFETCH(int, minFolders);
    QFETCH(bool, duplicates);
    QTemporaryDir dir;
    const QString cab = dir.path() + "/test.cab";
    QCOMPARE(buildCabinet(cab, dir.path(), sources), 0);
    QVERIFY(folderCount(cab) >= minFolders);

    std::string why;
    QVERIFY2(cabreader::test(b(cab), &why), why.c_str());
    std::vector<cabreader::Entry> entries;
    QVERIFY(cabreader::list(b(cab), &entries));
    QCOMPARE(qsizetype(entries.size()), sources.size());
    for (int i = 0; i < sources.size(); ++i) {
        QCOMPARE(QByteArray::fromStdString(entries[i].name), sources[i].name.toUtf8());
        QCOMPARE(qsizetype(entries[i].size), sources[i].data.size());
    }

    const QMap<QString, QByteArray> want = expected(sources);
    for (const test::OutsideReader& r : test::outsideReaders()) {
        if (duplicates && r.program == "gcab") {
            const auto g = test::run(r.program, r.testArguments(cab));
            QVERIFY2(g.err.contains("already been added"), g.err.constData());
            continue;
        }
        const auto t = test::run(r.program, r.testArguments(cab));
        QVERIFY2(t.exitCode == 0, qPrintable(r.program + ": " + t.out + t.err));
        const QString out = dir.path() + "/out-" + r.program;
        QDir().mkpath(out);
        const auto x = test::run(r.program, r.extractArgs(cab, out));
        QVERIFY2(x.exitCode == 0, qPrintable(r.program + ": " + x.out + x.err));
        for (auto it = want.begin(); it != want.end(); ++it) {
            const QString path = out + "/" + it.key();
            QVERIFY2(QFileInfo::exists(path), qPrintable(r.program + " did not extract " + it.key()));
            QVERIFY2(test::readFile(path) == it.value(), qPrintable(r.program + " differs on " + it.key()));
        }
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot).size(), want.size());
    }
}

void TestCabReaders::emptyCabinet()
{
    // No files, no folders: a 36-byte header. Our reader, 7-Zip and gcab take
    // it as an empty archive; cabextract ("no valid cabinets found") and
    // bsdtar ("Truncated CAB header") refuse it.
    QTemporaryDir dir;
    const QString cab = dir.path() + "/empty.cab";
    QCOMPARE(buildCabinet(cab, dir.path(), {}), 0);
    QCOMPARE(QFileInfo(cab).size(), 36);
    std::vector<cabreader::Entry> entries(1);
    QVERIFY(cabreader::list(b(cab), &entries));
    QVERIFY(entries.empty());
    QVERIFY(cabreader::test(b(cab)));
    QMap<QString, bool> accepted;
    for (const test::OutsideReader& r : test::outsideReaders())
        accepted[r.program] = test::run(r.program, r.testArguments(cab)).exitCode == 0;
    qInfo() << "readers accepting a cabinet without files:" << accepted;
    QCOMPARE(accepted["7zz"], true);
    QCOMPARE(accepted["gcab"], true);
    QCOMPARE(accepted["bsdtar"], false);
    QCOMPARE(accepted["cabextract"], false);
}

void TestCabReaders::datesAndAttributes()
{
    // Runs under TZ=America/New_York: DOS times are local, so a summer and a
    // winter time both come back as the same instant.
    QCOMPARE(qgetenv("TZ"), QByteArray("America/New_York"));
    tzset();
    QTemporaryDir dir;
    const QString src = dir.path() + "/src";
    QDir().mkpath(src);
    struct Case {
        QString name;
        int year, month, day, hour, minute, second;
        bool readOnly;
        uint16_t attributes;
    };
    const QList<Case> cases{{"summer.txt", 2023, 7, 4, 15, 16, 18, false, 0x20},
                            {"winter.txt", 2023, 1, 15, 8, 9, 10, true, 0x21},
                            {".hidden", 2020, 2, 29, 23, 59, 58, false, 0x22}};
    QMap<QString, time_t> mtimes;
    cabwriter::CabinetWriter writer;
    QVERIFY(writer.open(QFile::encodeName(dir.path() + "/dates.cab").toStdString()).ok());
    for (const Case& c : cases) {
        const QString path = src + "/" + c.name;
        QVERIFY(test::writeFile(path, c.name.toUtf8()));
        std::tm tm{};
        tm.tm_year = c.year - 1900;
        tm.tm_mon = c.month - 1;
        tm.tm_mday = c.day;
        tm.tm_hour = c.hour;
        tm.tm_min = c.minute;
        tm.tm_sec = c.second;
        tm.tm_isdst = -1;
        const time_t t = mktime(&tm);
        mtimes[c.name] = t;
        utimbuf ub{t, t};
        QCOMPARE(utime(QFile::encodeName(path).constData(), &ub), 0);
        if (c.readOnly)
            QCOMPARE(chmod(QFile::encodeName(path).constData(), 0444), 0);
        QVERIFY(writer.add(QFile::encodeName(path).toStdString(), c.name.toStdString()).ok());
    }
    QVERIFY(writer.close().ok());
    const QString cab = dir.path() + "/dates.cab";

    std::vector<cabreader::Entry> entries;
    QVERIFY(cabreader::list(b(cab), &entries));
    QCOMPARE(qsizetype(entries.size()), cases.size());
    for (int i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const platform::CivilTime t = platform::fromDosDateTime({entries[i].dosDate, entries[i].dosTime});
        QCOMPARE(t.year, c.year);
        QCOMPARE(t.month, c.month);
        QCOMPARE(t.day, c.day);
        QCOMPARE(t.hour, c.hour);
        QCOMPARE(t.minute, c.minute);
        QCOMPARE(t.second, c.second);
        QCOMPARE(entries[i].attributes, c.attributes);
    }

    // The readers that restore times give back the same instants.
    const auto cx = test::run("cabextract", {"-q", "-d", dir.path() + "/cx", cab});
    QCOMPARE(cx.exitCode, 0);
    const auto bx =
        test::run("bsdtar", {"-xf", cab, "-C", (QDir().mkpath(dir.path() + "/bx"), dir.path() + "/bx")});
    QCOMPARE(bx.exitCode, 0);
    const auto sx = test::run("7zz", {"x", "-y", "-o" + dir.path() + "/sx", cab});
    QCOMPARE(sx.exitCode, 0);
    for (const QString& out : {QStringLiteral("cx"), QStringLiteral("bx"), QStringLiteral("sx")}) {
        for (const Case& c : cases) {
            struct stat st {};
            QVERIFY(stat(QFile::encodeName(dir.path() + "/" + out + "/" + c.name).constData(), &st) == 0);
            // 7-Zip turns local DOS times into UTC with today's offset, not
            // the one in force on that date, so it may be an hour off.
            const long diff = long(st.st_mtime - mtimes[c.name]);
            QVERIFY2(diff == 0 || (out == "sx" && (diff == 3600 || diff == -3600)),
                     qPrintable(out + "/" + c.name + " off by " + QString::number(diff)));
        }
    }
    // 7-Zip shows the read-only and hidden bits.
    const auto sl = test::run("7zz", {"l", "-slt", cab});
    QVERIFY(sl.out.contains("Path = winter.txt\nSize = 14\nPacked Size = \nModified = 2023-01-15 "
                            "08:09:10\nAttributes = RA") ||
            sl.out.contains("Attributes = RA"));
    QVERIFY(sl.out.contains("Attributes = HA"));
}

void TestCabReaders::ownReaderExtractsSafely()
{
    QTemporaryDir dir;
    const QString cab = dir.path() + "/nested.cab";
    // Stored names with "\" and "/" directories land below the directory.
    const Sources sources{
        {"top.txt", "top"}, {"sub\\inner.txt", "inner"}, {"sub/deeper/x.bin", pattern(70000)}};
    // The stored names contain separators, so the sources get plain names.
    Sources plain;
    for (const Source& s : sources)
        plain.append({QString(s.name).replace('/', '_').replace('\\', '_'), s.data});
    QCOMPARE(buildCabinet(cab, dir.path(), plain), 0);
    // Rebuild from the same files under the nested stored names.
    QList<Input> nested;
    for (int i = 0; i < sources.size(); ++i)
        nested.append(
            {dir.path() + "/src" + QString::number(i) + "/" + plain[i].name, sources[i].name.toUtf8()});
    QCOMPARE(buildFromFiles(cab, nested), 0);

    const QString out = dir.path() + "/out/new";
    std::vector<std::string> written;
    std::string why;
    QVERIFY2(cabreader::extractAll(b(cab), b(out), &written, &why), why.c_str());
    QCOMPARE(written.size(), std::size_t(3));
    QCOMPARE(test::readFile(out + "/top.txt"), QByteArray("top"));
    QCOMPARE(test::readFile(out + "/sub/inner.txt"), QByteArray("inner"));
    QCOMPARE(test::readFile(out + "/sub/deeper/x.bin"), pattern(70000));

    // One named file to a chosen path; names match with either separator
    // and in any letter case; a missing name fails and leaves nothing.
    QVERIFY(cabreader::extractFile(b(cab), "SUB/Inner.TXT", b(dir.path() + "/one")));
    QCOMPARE(test::readFile(dir.path() + "/one"), QByteArray("inner"));
    QVERIFY(!cabreader::extractFile(b(cab), "absent", b(dir.path() + "/two"), &why));
    QVERIFY(why.find("absent") != std::string::npos);
    QVERIFY(!QFileInfo::exists(dir.path() + "/two"));
    QVERIFY(!cabreader::extractFile(b(cab), "top.txt", b(dir.path() + "/no/such/dir/file"), &why));
    QVERIFY(!cabreader::list(b(dir.path() + "/one"), nullptr, &why));
    QVERIFY(why.find("not a cabinet") != std::string::npos || why.find("cannot open") != std::string::npos);
}

void TestCabReaders::ownReaderRefusesUnsafeNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("parent") << "../evil.txt";
    QTest::newRow("parent inside") << "a/../../evil.txt";
    QTest::newRow("backslash parent") << "..\\evil.txt";
    QTest::newRow("absolute") << "/tmp/evil.txt";
    QTest::newRow("backslash absolute") << "\\evil.txt";
    QTest::newRow("empty component") << "a//evil.txt";
}

void TestCabReaders::ownReaderRefusesUnsafeNames()
{
    QFETCH(QString, name);
    QTemporaryDir dir;
    QVERIFY(test::writeFile(dir.path() + "/src", "evil"));
    const QString cab = dir.path() + "/evil.cab";
    const QString source = dir.path() + "/src";
    QCOMPARE(buildFromFiles(cab, {{source, "fine.txt"}, {source, name.toUtf8()}}), 0);

    QCOMPARE(cabreader::safeRelativePath(name.toStdString()), std::string());
    const QString out = dir.path() + "/a/b/out";
    std::string why;
    QVERIFY(!cabreader::extractAll(b(cab), b(out), nullptr, &why));
    QVERIFY(why.find("unsafe") != std::string::npos);
    // Nothing at all was written, not even the safe file before it.
    QVERIFY(!QFileInfo::exists(out + "/fine.txt"));
    QVERIFY(!QFileInfo::exists(dir.path() + "/a/evil.txt"));
    QVERIFY(!QFileInfo::exists(dir.path() + "/a/b/evil.txt"));
    QVERIFY(!QFileInfo::exists(out + "/evil.txt"));
}

QTEST_GUILESS_MAIN(TestCabReaders)
#include "tst_cabreaders.moc"
