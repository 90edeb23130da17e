// Proves the cabinet library's format, error codes, limits and thread-count
// independence through memory callbacks with injected faults.
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>

#include "cabinet/fci/cabformat.h"
#include "cabinet/fci/fci.h"
#include "cabinet/reader/cabreader.h"
#include "memfiles.h"
#include "support/testutil.h"

using namespace ravelin;
using namespace ravelin::test::mem;

namespace {

uint16_t u16(const QByteArray& b, qsizetype at)
{
    return uint16_t(uint8_t(b[at]) | (uint8_t(b[at + 1]) << 8));
}
uint32_t u32(const QByteArray& b, qsizetype at)
{
    return u16(b, at) | (uint32_t(u16(b, at + 2)) << 16);
}

// The cabinet's structure, read back independently of the writer.
struct Parsed {
    uint32_t cbCabinet = 0, coffFiles = 0;
    int cFolders = 0, cFiles = 0, setID = 0, iCabinet = 0, flags = 0, version = 0;
    bool reservedZero = true;
    struct Folder {
        uint32_t start;
        int blocks;
        int type;
        QList<int> uncomp;
        QList<int> cbData;
        bool checksumsNonZero = true;
    };
    QList<Folder> folders;
    struct File {
        uint32_t size, offset;
        int folder, date, time, attribs;
        QByteArray name;
    };
    QList<File> files;
    qsizetype endOfFiles = 0;
};

Parsed parse(const QByteArray& cab)
{
    Parsed p;
    if (cab.size() < 36 || !cab.startsWith("MSCF"))
        return p;
    p.reservedZero = u32(cab, 4) == 0 && u32(cab, 12) == 0 && u32(cab, 20) == 0;
    p.cbCabinet = u32(cab, 8);
    p.coffFiles = u32(cab, 16);
    p.version = u16(cab, 24);
    p.cFolders = u16(cab, 26);
    p.cFiles = u16(cab, 28);
    p.flags = u16(cab, 30);
    p.setID = u16(cab, 32);
    p.iCabinet = u16(cab, 34);
    for (int i = 0; i < p.cFolders; ++i) {
        Parsed::Folder f{u32(cab, 36 + 8 * i), u16(cab, 40 + 8 * i), u16(cab, 42 + 8 * i), {}, {}};
        qsizetype at = f.start;
        for (int b = 0; b < f.blocks && at + 8 <= cab.size(); ++b) {
            if (u32(cab, at) == 0)
                f.checksumsNonZero = false;
            f.cbData.append(u16(cab, at + 4));
            f.uncomp.append(u16(cab, at + 6));
            at += 8 + u16(cab, at + 4);
        }
        p.folders.append(f);
    }
    qsizetype at = p.coffFiles;
    for (int i = 0; i < p.cFiles && at + 16 < cab.size(); ++i) {
        Parsed::File f{u32(cab, at),
                       u32(cab, at + 4),
                       u16(cab, at + 8),
                       u16(cab, at + 10),
                       u16(cab, at + 12),
                       u16(cab, at + 14),
                       {}};
        f.name = QByteArray(cab.constData() + at + 16);
        at += 16 + f.name.size() + 1;
        p.files.append(f);
    }
    p.endOfFiles = at;
    return p;
}

// The standard layout every reader relies on.
void checkLayout(const QByteArray& cab)
{
    const Parsed p = parse(cab);
    QCOMPARE(p.cbCabinet, uint32_t(cab.size()));
    QVERIFY(p.reservedZero);
    QCOMPARE(p.version, 0x0103);
    QCOMPARE(p.flags, 0);
    QCOMPARE(p.setID, 12345);
    QCOMPARE(p.iCabinet, 0);
    QCOMPARE(p.coffFiles, uint32_t(36 + 8 * p.cFolders));
    uint32_t expectStart = uint32_t(p.endOfFiles);
    for (const Parsed::Folder& f : p.folders) {
        QCOMPARE(f.start, expectStart);
        QVERIFY(f.checksumsNonZero);
        for (int b = 0; b < f.blocks; ++b) {
            if (b + 1 < f.blocks)
                QCOMPARE(f.uncomp[b], 32768);
            QVERIFY(f.cbData[b] <= 32768 + 12);
            expectStart += 8 + f.cbData[b];
        }
    }
    QCOMPARE(expectStart, uint32_t(cab.size()));
    int folder = 0;
    uint32_t offset = 0;
    for (const Parsed::File& f : p.files) {
        QVERIFY(f.folder >= folder);
        if (f.folder != folder)
            offset = 0;
        folder = f.folder;
        QCOMPARE(f.offset, offset);
        offset += f.size;
    }
}

// Writes the memory cabinet to disk and checks it with libmspack.
std::vector<cabreader::Entry> readBack(const QByteArray& cab, const QString& dir)
{
    const QString path = dir + "/back.cab";
    test::writeFile(path, cab);
    std::string why;
    std::vector<cabreader::Entry> entries;
    const std::string bytes = QFile::encodeName(path).toStdString();
    if (!cabreader::test(bytes, &why) || !cabreader::list(bytes, &entries, &why))
        qWarning() << why.c_str();
    return entries;
}

} // namespace

class TestFci : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        allocationsLeft = -1;
        liveAllocations = 0;
    }
    void checksumMatchesPublishedAlgorithm();
    void writesStandardLayout();
    void reverseOrderAndContentsReadBack();
    void folderThresholdStartsNewFolders();
    void identicalWhateverTheThreadCount();
    void storedBlocksForIncompressibleData();
    void utf8NamesGetTheAttribute();
    void emptyCabinet();
    void opensOnlyThroughCallbacksWithoutCreating();
    void errorCodes_data();
    void errorCodes();
    void failedReadLeavesValidCabinet();
    void nameLengthLimits_data();
    void nameLengthLimits();
    void fileCountLimit();
    void folderCountLimit();
    void hugeFileRefused();
    void cabinetSizeLimit_data();
    void cabinetSizeLimit();
    void nullArguments();
};

void TestFci::checksumMatchesPublishedAlgorithm()
{
    // Tail bytes fold in most significant first: "abcde" -> "abcd" word ^ 'e'.
    const uint8_t data[] = {'a', 'b', 'c', 'd', 'e', 'f', 'g'};
    const uint32_t word = 'a' | ('b' << 8) | ('c' << 16) | (uint32_t('d') << 24);
    QCOMPARE(fci::format::checksum(data, 4, 0), word);
    QCOMPARE(fci::format::checksum(data, 5, 0), word ^ 'e');
    QCOMPARE(fci::format::checksum(data, 7, 0), word ^ ((uint32_t('e') << 16) | ('f' << 8) | 'g'));
    QCOMPARE(fci::format::checksum(data, 4, 0x11111111), word ^ 0x11111111);
}

void TestFci::writesStandardLayout()
{
    MemFiles m;
    m.files["/s/a"] = test::randomBytes(100000, 1);
    m.files["/s/b"] = QByteArray(70000, 'b');
    m.files["/s/c"] = QByteArray();
    fci::ERF erf;
    fci::CCAB ccab = defaultParameters();
    fci::HFCI h = create(&m, &erf, &ccab);
    QVERIFY(h);
    QVERIFY(add(h, "/s/a", "a"));
    QVERIFY(add(h, "/s/b", "b"));
    QVERIFY(add(h, "/s/c", "c"));
    QVERIFY(fci::FCIFlushCabinet(h, 0, nullptr, status));
    QVERIFY(fci::FCIDestroy(h));
    const QByteArray cab = m.files[kCabinetPath];
    checkLayout(cab);
    const Parsed p = parse(cab);
    QCOMPARE(p.cFiles, 3);
    QCOMPARE(p.files[0].date, ((2024 - 1980) << 9) | (2 << 5) | 29);
    QCOMPARE(p.files[0].attribs, 0x21);
    QCOMPARE(p.folders[0].type, 1);
    QCOMPARE(m.placed, (QList<QByteArray>{"a", "b", "c"}));
    QCOMPARE(liveAllocations, 0);
    // The temporary file was made, then deleted through the callback.
    QCOMPARE(m.deleted, QList<QByteArray>{"/tmp/tp1"});
    QVERIFY(!m.files.contains("/tmp/tp1"));
}

void TestFci::reverseOrderAndContentsReadBack()
{
    QTemporaryDir dir;
    MemFiles m;
    const QList<QByteArray> names{"c.txt", "b.txt", "a.txt"};
    for (const QByteArray& n : names)
        m.files["/src/" + n] = "contents of " + n + QByteArray(5000, n[0]);
    fci::ERF erf;
    fci::CCAB ccab = defaultParameters();
    fci::HFCI h = create(&m, &erf, &ccab);
    for (const QByteArray& n : names)
        QVERIFY(add(h, "/src/" + n, n));
    QVERIFY(fci::FCIFlushCabinet(h, 0, nullptr, status));
    QVERIFY(fci::FCIDestroy(h));
    const std::vector<cabreader::Entry> entries = readBack(m.files[kCabinetPath], dir.path());
    QCOMPARE(entries.size(), std::size_t(3));
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(QByteArray::fromStdString(entries[i].name), names[i]);
        const QString out = dir.path() + "/out" + QString::number(i);
        QVERIFY(cabreader::extractFile(QFile::encodeName(dir.path() + "/back.cab").toStdString(),
                                       entries[i].name, QFile::encodeName(out).toStdString()));
        QCOMPARE(test::readFile(out), m.files["/src/" + names[i]]);
    }
}

void TestFci::folderThresholdStartsNewFolders()
{
    MemFiles m;
    for (int i = 0; i < 4; ++i)
        m.files["/s/" + QByteArray::number(i)] = test::randomBytes(400000, 10 + i);
    fci::ERF erf;
    fci::CCAB ccab = defaultParameters();
    fci::HFCI h = create(&m, &erf, &ccab);
    for (int i = 0; i < 4; ++i)
        QVERIFY(add(h, "/s/" + QByteArray::number(i), "f" + QByteArray::number(i)));
    QVERIFY(fci::FCIFlushCabinet(h, 0, nullptr, status));
    QVERIFY(fci::FCIDestroy(h));
    const QByteArray cab = m.files[kCabinetPath];
    checkLayout(cab);
    const Parsed p = parse(cab);
    // 400,000 random bytes stay ~400,000: the folder passes 900,000 after the
    // third file, so the fourth starts folder 1.
    QCOMPARE(p.cFolders, 2);
    QCOMPARE(p.files[2].folder, 0);
    QCOMPARE(p.files[3].folder, 1);
    QCOMPARE(p.files[3].offset, 0u);
}

void TestFci::identicalWhateverTheThreadCount()
{
    QByteArray first;
    for (unsigned threads : {1u, 2u, 3u, 8u}) {
        MemFiles m;
        m.files["/s/text"] = test::readFile("/usr/share/common-licenses/GPL-3").repeated(3);
        m.files["/s/bin"] = test::readFile("/usr/bin/bash").left(700000);
        m.files["/s/rand"] = test::randomBytes(200000, 5);
        m.files["/s/zero"] = QByteArray(300000, 0);
        fci::ERF erf;
        fci::CCAB ccab = defaultParameters();
        ccab.cbFolderThresh = 300000;
        fci::HFCI h = create(&m, &erf, &ccab);
        QVERIFY(fci::FCISetWorkerThreads(h, threads));
        for (const char* n : {"text", "bin", "rand", "zero", "text"})
            QVERIFY(add(h, QByteArray("/s/") + n, n));
        QVERIFY(!fci::FCISetWorkerThreads(h, 2)); // too late once adding began
        QVERIFY(fci::FCIFlushCabinet(h, 0, nullptr, status));
        QVERIFY(fci::FCIDestroy(h));
        const QByteArray cab = m.files[kCabinetPath];
        checkLayout(cab);
        if (first.isEmpty())
            first = cab;
        QCOMPARE(cab, first);
    }
    QVERIFY(parse(first).cFolders >= 2);
}

void TestFci::storedBlocksForIncompressibleData()
{
    MemFiles m;
    m.files["/s/r"] = test::randomBytes(3 * 32768 + 100, 3);
    fci::ERF erf;
    fci::CCAB ccab = defaultParameters();
    fci::HFCI h = create(&m, &erf, &ccab);
    QVERIFY(add(h, "/s/r", "r"));
    QVERIFY(fci::FCIFlushCabinet(h, 0, nullptr, status));
    QVERIFY(fci::FCIDestroy(h));
    const QByteArray cab = m.files[kCabinetPath];
    const Parsed p = parse(cab);
    QCOMPARE(p.folders[0].blocks, 4);
    QCOMPARE(p.folders[0].cbData[0], 32768 + 7);
    QCOMPARE(p.folders[0].cbData[3], 100 + 7);
    const qsizetype block0 = p.folders[0].start + 8;
    QCOMPARE(cab.mid(block0, 3), QByteArray("CK\x01", 3));
    QTemporaryDir dir;
    QCOMPARE(readBack(cab, dir.path()).size(), std::size_t(1));
}

void TestFci::utf8NamesGetTheAttribute()
{
    MemFiles m;
    m.files["/s/x"] = "x";
    fci::ERF erf;
    fci::CCAB ccab = defaultParameters();
    fci::HFCI h = create(&m, &erf, &ccab);
    QVERIFY(add(h, "/s/x", "plain name.txt"));
    QVERIFY(add(h, "/s/x", QString::fromUtf8("Grüße ☃.txt").toUtf8()));
    QVERIFY(fci::FCIFlushCabinet(h, 0, nullptr, status));
    QVERIFY(fci::FCIDestroy(h));
    const Parsed p = parse(m.files[kCabinetPath]);
    QCOMPARE(p.files[0].attribs, 0x21);
    QCOMPARE(p.files[1].attribs, 0x21 | 0x80);
    QTemporaryDir dir;
    const auto entries = readBack(m.files[kCabinetPath], dir.path());
    QCOMPARE(entries.size(), std::size_t(2));
    QCOMPARE(entries[1].name, std::string("Grüße ☃.txt"));
}

void TestFci::emptyCabinet()
{
    MemFiles m;
    fci::ERF erf;
    fci::CCAB ccab = defaultParameters();
    fci::HFCI h = create(&m, &erf, &ccab);
    QVERIFY(fci::FCIFlushCabinet(h, 0, nullptr, status));
    QVERIFY(fci::FCIDestroy(h));
    const QByteArray cab = m.files[kCabinetPath];
    QCOMPARE(cab.size(), 36);
    checkLayout(cab);
    QCOMPARE(parse(cab).cFiles, 0);
}

void TestFci::opensOnlyThroughCallbacksWithoutCreating()
{
    MemFiles m;
    m.files["/s/a"] = "a";
    fci::ERF erf;
    fci::CCAB ccab = defaultParameters();
    fci::HFCI h = create(&m, &erf, &ccab);
    QVERIFY(add(h, "/s/a", "a"));
    QVERIFY(fci::FCIFlushCabinet(h, 0, nullptr, status));
    QVERIFY(fci::FCIDestroy(h));
    QCOMPARE(m.opened, (QList<QByteArray>{"/tmp/tp1", kCabinetPath}));
    for (int flags : m.openFlags)
        QVERIFY(!(flags & fci::kOpenCreate));
    QVERIFY(m.handles.isEmpty()); // every handle was closed
}

void TestFci::errorCodes_data()
{
    QTest::addColumn<QString>("fault");
    // create, add, flush; "later": blocks are written as workers finish them,
    // so the add or else the flush reports the fault.
    QTest::addColumn<QString>("failingCall");
    QTest::addColumn<int>("code");
    QTest::newRow("allocation") << "alloc0"
                                << "create" << 3;
    QTest::newRow("allocation while adding") << "alloc2"
                                             << "add" << 3;
    QTest::newRow("temporary name") << "tempname"
                                    << "create" << 4;
    QTest::newRow("temporary open") << "opentemp"
                                    << "create" << 4;
    QTest::newRow("temporary write") << "writetemp"
                                     << "later" << 4;
    QTest::newRow("source open") << "opensource"
                                 << "add" << 1;
    QTest::newRow("source read") << "readsource"
                                 << "add" << 2;
    QTest::newRow("compression type") << "type"
                                      << "add" << 5;
    QTest::newRow("cabinet open") << "opencab"
                                  << "flush" << 6;
    QTest::newRow("cabinet write") << "writecab"
                                   << "flush" << 6;
    QTest::newRow("status abort") << "status"
                                  << "later" << 7;
    QTest::newRow("file placed abort") << "placed"
                                       << "add" << 7;
    QTest::newRow("incompressible refused") << "incompressible"
                                            << "later" << 8;
}

void TestFci::errorCodes()
{
    QFETCH(QString, fault);
    QFETCH(QString, failingCall);
    QFETCH(int, code);
    MemFiles m;
    m.files["/s/a"] = test::randomBytes(100000, 9);
    fci::ERF erf;
    fci::CCAB ccab = defaultParameters();
    if (fault == "alloc0")
        allocationsLeft = 0;
    if (fault == "alloc2")
        allocationsLeft = 2; // the context and a few vectors, then nothing
    if (fault == "tempname")
        m.failTempName = true;
    if (fault == "opentemp")
        m.failOpen = "/tmp/";
    if (fault == "writetemp")
        m.failWriteOf = "/tmp/";
    if (fault == "opensource")
        m.failOpenForAdding = "/s/a";
    if (fault == "readsource") {
        m.failReadOf = "/s/a";
        m.failReadAfter = 40000;
    }
    if (fault == "opencab")
        m.failOpen = ".cab";
    if (fault == "writecab")
        m.failWriteOf = ".cab";
    if (fault == "status")
        m.abortStatus = true;
    if (fault == "placed")
        m.abortPlaced = true;
    if (fault == "incompressible")
        ccab.fFailOnIncompressible = 1;

    fci::HFCI h = create(&m, &erf, &ccab);
    if (failingCall == "create") {
        QVERIFY(!h);
        QCOMPARE(erf.erfOper, code);
        QVERIFY(erf.fError);
        QCOMPARE(liveAllocations, 0);
        return;
    }
    QVERIFY(h);
    QCOMPARE(fci::FCISetWorkerThreads(h, 2), true);
    const bool added = add(h, "/s/a", "a", fault == "type" ? 7 : fci::kCompressMszip);
    if (failingCall == "add") {
        QVERIFY(!added);
        QCOMPARE(erf.erfOper, code);
        QVERIFY(erf.fError);
        if (code == 2)
            QCOMPARE(erf.erfType, EIO);
    } else if (failingCall == "flush") {
        QVERIFY(added);
        QVERIFY(!fci::FCIFlushCabinet(h, 0, nullptr, status));
        QCOMPARE(erf.erfOper, code);
        QVERIFY(erf.erfType != 0);
    } else {
        if (added)
            QVERIFY(!fci::FCIFlushCabinet(h, 0, nullptr, status));
        QCOMPARE(erf.erfOper, code);
        // A fatal failure: the context refuses further work.
        QVERIFY(!add(h, "/s/a", "again"));
        QCOMPARE(erf.erfOper, code);
    }
    fci::FCIDestroy(h);
    QCOMPARE(liveAllocations, 0);
    QVERIFY(m.handles.isEmpty());
}

void TestFci::failedReadLeavesValidCabinet()
{
    // A source that fails part-way through (and one that cannot be opened)
    // is left out; the files before and after it read back intact, with all
    // four layouts: first in a folder, after other files.
    for (bool failFirst : {true, false}) {
        QTemporaryDir dir;
        MemFiles m;
        m.files["/s/good1"] = test::randomBytes(50000, 1) + QByteArray(20000, 'z');
        m.files["/s/bad"] = test::randomBytes(120000, 2);
        m.files["/s/good2"] = QByteArray(90000, 'q');
        m.failReadOf = "/s/bad";
        m.failReadAfter = 70000;
        fci::ERF erf;
        fci::CCAB ccab = defaultParameters();
        fci::HFCI h = create(&m, &erf, &ccab);
        if (failFirst) {
            QVERIFY(!add(h, "/s/bad", "bad"));
            QCOMPARE(erf.erfOper, 2);
        }
        QVERIFY(add(h, "/s/good1", "good1"));
        QVERIFY(!add(h, "/s/missing", "missing"));
        QCOMPARE(erf.erfOper, 1);
        if (!failFirst) {
            QVERIFY(!add(h, "/s/bad", "bad"));
            QCOMPARE(erf.erfOper, 2);
        }
        QVERIFY(add(h, "/s/good2", "good2"));
        QVERIFY(fci::FCIFlushCabinet(h, 0, nullptr, status));
        QVERIFY(fci::FCIDestroy(h));
        const QByteArray cab = m.files[kCabinetPath];
        checkLayout(cab);
        const auto entries = readBack(cab, dir.path());
        QCOMPARE(entries.size(), std::size_t(2));
        const QString path = dir.path() + "/back.cab";
        const std::string bytes = QFile::encodeName(path).toStdString();
        QVERIFY(cabreader::extractFile(bytes, "good1", QFile::encodeName(dir.path() + "/g1").toStdString()));
        QVERIFY(cabreader::extractFile(bytes, "good2", QFile::encodeName(dir.path() + "/g2").toStdString()));
        QCOMPARE(test::readFile(dir.path() + "/g1"), m.files["/s/good1"]);
        QCOMPARE(test::readFile(dir.path() + "/g2"), m.files["/s/good2"]);
        if (test::haveProgram("bsdtar")) {
            const auto r = test::run("bsdtar", {"-xf", path, "-C", dir.path()});
            QVERIFY2(r.exitCode == 0, r.err.constData());
        }
    }
}

void TestFci::nameLengthLimits_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("empty") << 0 << false;
    QTest::newRow("one") << 1 << true;
    QTest::newRow("255") << 255 << true;
    QTest::newRow("256") << 256 << false;
}

void TestFci::nameLengthLimits()
{
    QFETCH(int, length);
    QFETCH(bool, accepted);
    MemFiles m;
    m.files["/s/a"] = "data";
    fci::ERF erf;
    fci::CCAB ccab = defaultParameters();
    fci::HFCI h = create(&m, &erf, &ccab);
    QCOMPARE(add(h, "/s/a", QByteArray(length, 'n')), accepted);
    if (!accepted)
        QCOMPARE(erf.erfOper, 9);
    QVERIFY(fci::FCIFlushCabinet(h, 0, nullptr, status));
    QVERIFY(fci::FCIDestroy(h));
    QCOMPARE(parse(m.files[kCabinetPath]).cFiles, accepted ? 1 : 0);
}

void TestFci::fileCountLimit()
{
    MemFiles m;
    m.files["/s/e"] = QByteArray();
    fci::ERF erf;
    fci::CCAB ccab = defaultParameters();
    fci::HFCI h = create(&m, &erf, &ccab);
    for (int i = 0; i < 65535; ++i)
        if (!add(h, "/s/e", "e"))
            QFAIL("file refused before the limit");
    QVERIFY(!add(h, "/s/e", "e"));
    QCOMPARE(erf.erfOper, 9);
    QVERIFY(fci::FCIFlushCabinet(h, 0, nullptr, status));
    QVERIFY(fci::FCIDestroy(h));
    QCOMPARE(parse(m.files[kCabinetPath]).cFiles, 65535);
}

void TestFci::folderCountLimit()
{
    MemFiles m;
    m.files["/s/one"] = "1";
    fci::ERF erf;
    fci::CCAB ccab = defaultParameters();
    ccab.cbFolderThresh = 0; // every file closes its folder
    fci::HFCI h = create(&m, &erf, &ccab);
    QVERIFY(fci::FCISetWorkerThreads(h, 1));
    for (int i = 0; i < 65533; ++i)
        if (!add(h, "/s/one", "1"))
            QFAIL("file refused before the folder limit");
    QVERIFY(!add(h, "/s/one", "1"));
    QCOMPARE(erf.erfOper, 9);
    QVERIFY(fci::FCIFlushCabinet(h, 0, nullptr, status));
    QVERIFY(fci::FCIDestroy(h));
    const Parsed p = parse(m.files[kCabinetPath]);
    QCOMPARE(p.cFolders, 65533);
    QCOMPARE(p.files.last().folder, 65532);
}

void TestFci::hugeFileRefused()
{
    MemFiles m;
    m.files["/s/huge"] = "h";
    m.claimedSize["/s/huge"] = 0x7FFF8001LL;
    m.files["/s/ok"] = "ok";
    fci::ERF erf;
    fci::CCAB ccab = defaultParameters();
    fci::HFCI h = create(&m, &erf, &ccab);
    QVERIFY(!add(h, "/s/huge", "huge"));
    QCOMPARE(erf.erfOper, 9);
    QVERIFY(add(h, "/s/ok", "ok"));
    QVERIFY(fci::FCIFlushCabinet(h, 0, nullptr, status));
    QVERIFY(fci::FCIDestroy(h));
    QCOMPARE(parse(m.files[kCabinetPath]).cFiles, 1);
}

void TestFci::cabinetSizeLimit_data()
{
    // Each row: the files in order, and which of them must go in.
    QTest::addColumn<QList<QByteArray>>("contents");
    QTest::addColumn<QList<bool>>("accepted");
    const QByteArray text = QByteArray("a line of text that compresses well\r\n").repeated(30000);
    QList<QByteArray> randoms;
    for (int i = 0; i < 8; ++i)
        randoms << test::randomBytes(60000, 100 + i);
    QTest::newRow("compressible file larger than the limit") << QList<QByteArray>{text} << QList<bool>{true};
    QTest::newRow("random files until full")
        << randoms << QList<bool>{true, true, true, true, false, false, false, false};
    // The refused file shares its first block with the small file before it.
    QTest::newRow("refused after a file in the same block")
        << QList<QByteArray>{"small", test::randomBytes(400000, 7), "after"}
        << QList<bool>{true, false, true};
    QTest::newRow("refused as the first file")
        << QList<QByteArray>{test::randomBytes(400000, 8), text.left(1000)} << QList<bool>{false, true};
}

void TestFci::cabinetSizeLimit()
{
    QFETCH(QList<QByteArray>, contents);
    QFETCH(QList<bool>, accepted);
    QTemporaryDir dir;
    MemFiles m;
    for (int i = 0; i < contents.size(); ++i)
        m.files["/s/" + QByteArray::number(i)] = contents[i];
    fci::ERF erf;
    fci::CCAB ccab = defaultParameters();
    ccab.cb = 300000;
    fci::HFCI h = create(&m, &erf, &ccab);
    QStringList expected;
    for (int i = 0; i < contents.size(); ++i) {
        const bool added = add(h, "/s/" + QByteArray::number(i), "f" + QByteArray::number(i));
        QCOMPARE(added, accepted[i]);
        if (added)
            expected << "f" + QString::number(i);
        else
            QCOMPARE(erf.erfOper, 9);
    }
    QVERIFY(fci::FCIFlushCabinet(h, 0, nullptr, status));
    QVERIFY(fci::FCIDestroy(h));
    const QByteArray cab = m.files[kCabinetPath];
    QVERIFY(cab.size() <= 300000);
    checkLayout(cab);
    QStringList names;
    for (const cabreader::Entry& e : readBack(cab, dir.path()))
        names << QString::fromStdString(e.name);
    QCOMPARE(names, expected);
    // An independent reader takes the cut-back folder too.
    const test::ProcessResult check = test::run("cabextract", {"-q", "-t", dir.path() + "/back.cab"});
    QVERIFY2(check.exitCode == 0, check.out + check.err);
}

void TestFci::nullArguments()
{
    MemFiles m;
    fci::ERF erf;
    fci::CCAB ccab = defaultParameters();
    ccab.cbReserveCFData = 4;
    QVERIFY(!create(&m, &erf, &ccab));
    QCOMPARE(erf.erfOper, 6);
    ccab = defaultParameters();
    std::memset(ccab.szCabPath, 'x', sizeof ccab.szCabPath); // no terminator
    QVERIFY(!create(&m, &erf, &ccab));
    QCOMPARE(erf.erfOper, 6);
    QVERIFY(!fci::FCIAddFile(nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr, 1));
    QVERIFY(!fci::FCIDestroy(nullptr));
}

QTEST_GUILESS_MAIN(TestFci)
#include "tst_fci.moc"
