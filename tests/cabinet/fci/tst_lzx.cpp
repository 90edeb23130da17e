// Proves that the library's LZX cabinets read back byte-identical in
// libmspack, cabextract, 7-Zip, gcab and bsdtar for every window and a table
// of inputs; that they do not depend on the thread count; and
// the contracts of the Huffman builder and the match finder.
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <mspack.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <queue>

#include "cabinet/fci/fci.h"
#include "cabinet/fci/huffman.h"
#include "cabinet/fci/matchfinder.h"
#include "memfiles.h"
#include "support/testutil.h"

using namespace ravelin;
using namespace ravelin::test::mem;

namespace {

constexpr int kRowLzx = -1; // an input file compressed with the row's LZX window

struct Input {
    QByteArray name;
    QByteArray data;
    int type = kRowLzx; // or a compression type word of its own
};
using Inputs = QList<Input>;

uint16_t u16(const QByteArray& b, qsizetype at)
{
    return uint16_t(uint8_t(b[at]) | (uint8_t(b[at + 1]) << 8));
}
uint32_t u32(const QByteArray& b, qsizetype at)
{
    return u16(b, at) | (uint32_t(u16(b, at + 2)) << 16);
}

QByteArray text(qsizetype size, quint32 seed)
{
    static const char* const words[] = {"cabinet", "folder", "the",   "window", "of",    "frame",  "data",
                                        "matches", "and",    "block", "tree",   "bytes", "offset", "a",
                                        "length",  "code",   "to",    "is",     "read",  "back"};
    QByteArray b;
    quint32 x = seed;
    while (b.size() < size) {
        x = x * 1103515245 + 12345;
        b += words[(x >> 16) % 20];
        b += (x >> 8) % 13 == 0 ? ".\n" : " ";
    }
    b.truncate(size);
    return b;
}

// 0xE8 bytes every 5 bytes (after `lead` others) followed by call offsets on
// either side of the translation's edges, for a file at folder offset 0.
QByteArray e8Edges(qsizetype size, int lead)
{
    constexpr qint64 kTranslation = 12000000;
    QByteArray b(lead, 'x');
    int n = 0;
    while (b.size() + 5 <= size) {
        const qint64 pos = b.size();
        const qint64 cases[] = {-pos,
                                -pos - 1,
                                kTranslation - pos - 1,
                                kTranslation - pos,
                                kTranslation - 1,
                                kTranslation,
                                0,
                                1 - pos,
                                12345,
                                -12345};
        const quint32 rel = quint32(qint32(cases[n++ % 10]));
        b += char(0xE8);
        for (int k = 0; k < 4; ++k)
            b += char(rel >> (8 * k));
    }
    b += QByteArray(size - b.size(), char(0xE8));
    return b;
}

QByteArray executable()
{
    for (const char* path : {"/bin/bash", "/usr/bin/cmake"}) {
        const QByteArray b = test::readFile(path);
        if (!b.isEmpty())
            return b;
    }
    return {};
}

Inputs smallFiles(int count)
{
    Inputs files;
    for (int i = 0; i < count; ++i) {
        const qsizetype size = (i * 7919) % 2500;
        const QByteArray data = i % 3 == 0 ? test::randomBytes(size, quint32(i)) : text(size, quint32(i));
        files.append({"f" + QByteArray::number(i).rightJustified(4, '0'), data});
    }
    return files;
}

// Folders of the row's window between MSZIP and stored ones.
Inputs severalFolders()
{
    return {{"a", text(70000, 1)},
            {"b", text(50000, 2), fci::kCompressMszip},
            {"c", executable().left(300000)},
            {"d", text(10000, 3), fci::kCompressNone},
            {"e", test::randomBytes(40000, 4)},
            {"f", text(100000, 5)}};
}

// The table of inputs; `every` adds the costly rows.
QList<std::pair<QByteArray, Inputs>> inputTable()
{
    return {
        {"empty file", {{"empty", {}}}},
        {"1 byte", {{"one", "x"}}},
        {"32767 bytes", {{"s32767", text(32767, 7)}}},
        {"32768 bytes", {{"s32768", text(32768, 8)}}},
        {"32769 bytes", {{"s32769", text(32769, 9)}}},
        {"3 MB random", {{"random.bin", test::randomBytes(3 << 20, 10)}}},
        {"2 MB zeros", {{"zeros.bin", QByteArray(2 << 20, 0)}}},
        {"executable", {{"program", executable()}}},
        {"300 KB text", {{"text.txt", text(300000, 11)}}},
        {"E8 edges", {{"e0", e8Edges(70001, 0)}, {"e3", e8Edges(65536 + 9, 3)}}},
        {"2000 small files", smallFiles(2000)},
        {"several folders", severalFolders()},
    };
}

struct Built {
    QByteArray cabinet;
    bool ok = false;
    int32_t error = 0;
};

Built build(const Inputs& inputs, unsigned windowBits, unsigned threads = 0, uint32_t maxSize = 999'999'999)
{
    MemFiles m;
    for (int i = 0; i < inputs.size(); ++i)
        m.files["/s/" + QByteArray::number(i)] = inputs[i].data;
    fci::ERF erf;
    fci::CCAB ccab = defaultParameters();
    ccab.cb = maxSize;
    fci::HFCI h = create(&m, &erf, &ccab);
    Built out;
    if (!h || !fci::FCISetWorkerThreads(h, threads))
        return out;
    out.ok = true;
    for (int i = 0; i < inputs.size(); ++i) {
        const uint16_t type =
            inputs[i].type == kRowLzx ? fci::compressLzx(windowBits) : uint16_t(inputs[i].type);
        if (!add(h, "/s/" + QByteArray::number(i), inputs[i].name, type)) {
            out.ok = false;
            out.error = erf.erfOper;
        }
    }
    out.ok = fci::FCIFlushCabinet(h, 0, nullptr, status) && out.ok;
    out.ok = fci::FCIDestroy(h) && out.ok;
    out.cabinet = m.files[kCabinetPath];
    return out;
}

// The layout rules of LZX folders: the type word, one full frame per block
// but for the last, no record larger than a frame stored as it is, and
// whole 16-bit words in each.
bool checkLzxFolders(const QByteArray& cab, unsigned windowBits, int* lzxFolders)
{
    const int folders = u16(cab, 26);
    *lzxFolders = 0;
    for (int i = 0; i < folders; ++i) {
        const int type = u16(cab, 42 + 8 * i);
        if ((type & 0xF) != 3)
            continue;
        ++*lzxFolders;
        if (type != fci::compressLzx(windowBits))
            return false;
        qsizetype at = u32(cab, 36 + 8 * i);
        const int blocks = u16(cab, 40 + 8 * i);
        for (int b = 0; b < blocks; ++b) {
            const int cbData = u16(cab, at + 4), cbUncomp = u16(cab, at + 6);
            if ((b + 1 < blocks && cbUncomp != 32768) || cbData > 32768 + 24 || cbData % 2)
                return false;
            at += 8 + cbData;
        }
    }
    return true;
}

// libmspack's I/O over memory: "cab" reads the cabinet, "out" collects an
// extracted file.
struct MemorySystem {
    mspack_system sys; // first, so libmspack's pointer is ours
    QByteArray cabinet;
    QByteArray output;
};

struct MemoryFile {
    QByteArray* data;
    qint64 pos = 0;
};

void quietMessage(mspack_file*, const char*, ...) {}

MemorySystem* memorySystem(const QByteArray& cabinet)
{
    auto* m = new MemorySystem{};
    m->cabinet = cabinet;
    m->sys.open = [](mspack_system* self, const char* name, int mode) -> mspack_file* {
        auto* ms = reinterpret_cast<MemorySystem*>(self);
        if (QByteArray(name) == "cab" && mode == MSPACK_SYS_OPEN_READ)
            return reinterpret_cast<mspack_file*>(new MemoryFile{&ms->cabinet});
        if (QByteArray(name) == "out" && mode == MSPACK_SYS_OPEN_WRITE) {
            ms->output.clear();
            return reinterpret_cast<mspack_file*>(new MemoryFile{&ms->output});
        }
        return nullptr;
    };
    m->sys.close = [](mspack_file* f) { delete reinterpret_cast<MemoryFile*>(f); };
    m->sys.read = [](mspack_file* file, void* buffer, int bytes) -> int {
        auto* f = reinterpret_cast<MemoryFile*>(file);
        const qint64 n = std::clamp<qint64>(f->data->size() - f->pos, 0, bytes);
        std::memcpy(buffer, f->data->constData() + f->pos, size_t(n));
        f->pos += n;
        return int(n);
    };
    m->sys.write = [](mspack_file* file, void* buffer, int bytes) -> int {
        auto* f = reinterpret_cast<MemoryFile*>(file);
        f->data->append(static_cast<const char*>(buffer), bytes);
        f->pos = f->data->size();
        return bytes;
    };
    m->sys.seek = [](mspack_file* file, off_t offset, int mode) -> int {
        auto* f = reinterpret_cast<MemoryFile*>(file);
        const qint64 base = mode == MSPACK_SYS_SEEK_START ? 0
                            : mode == MSPACK_SYS_SEEK_CUR ? f->pos
                                                          : f->data->size();
        if (base + offset < 0 || base + offset > f->data->size())
            return 1;
        f->pos = base + offset;
        return 0;
    };
    m->sys.tell = [](mspack_file* file) -> off_t { return off_t(reinterpret_cast<MemoryFile*>(file)->pos); };
    m->sys.message = quietMessage;
    m->sys.alloc = [](mspack_system*, size_t bytes) { return std::malloc(bytes); };
    m->sys.free = [](void* p) { std::free(p); };
    m->sys.copy = [](void* src, void* dest, size_t bytes) { std::memmove(dest, src, bytes); };
    return m;
}

// Extracts every file with libmspack, in memory, and compares it with the
// inputs; "" when all agree.
QString readBackWithLibmspack(const QByteArray& cab, const Inputs& inputs)
{
    std::unique_ptr<MemorySystem> system(memorySystem(cab));
    mscab_decompressor* d = mspack_create_cab_decompressor(&system->sys);
    mscabd_cabinet* c = d->open(d, "cab");
    if (!c) {
        mspack_destroy_cab_decompressor(d);
        return "libmspack cannot open the cabinet";
    }
    QString why;
    int i = 0;
    for (mscabd_file* f = c->files; f && why.isEmpty(); f = f->next, ++i) {
        if (i >= inputs.size() || QByteArray(f->filename) != inputs[i].name)
            why = "unexpected file " + QString(f->filename);
        else if (const int rc = d->extract(d, f, "out"); rc != MSPACK_ERR_OK)
            why = QString("libmspack error %1 on %2").arg(rc).arg(f->filename);
        else if (system->output != inputs[i].data)
            why = QString("libmspack extracts %1 differently").arg(f->filename);
    }
    if (why.isEmpty() && i != inputs.size())
        why = QString("%1 files listed, %2 added").arg(i).arg(inputs.size());
    d->close(d, c);
    mspack_destroy_cab_decompressor(d);
    return why;
}

// Every reader tests and extracts the cabinet; "" when all agree with the inputs.
QString readBackWithReaders(const QByteArray& cab, const Inputs& inputs, const QString& dir)
{
    const QString path = dir + "/readers.cab";
    test::writeFile(path, cab);
    for (const test::OutsideReader& r : test::outsideReaders()) {
        const auto t = test::run(r.program, r.testArguments(path));
        if (t.exitCode != 0)
            return r.program + " test: " + t.out + t.err;
        const QString out = dir + "/out-" + r.program;
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        const auto x = test::run(r.program, r.extractArgs(path, out));
        if (x.exitCode != 0)
            return r.program + " extract: " + x.out + x.err;
        for (const Input& in : inputs)
            if (test::readFile(out + "/" + in.name) != in.data)
                return r.program + " differs on " + in.name;
        if (QDir(out).entryList(QDir::Files | QDir::NoDotAndDotDot).size() != inputs.size())
            return r.program + " extracted another number of files";
    }
    return {};
}

// Optimal prefix-code cost without a length limit (Huffman's algorithm),
// and the longest code that has.
std::pair<uint64_t, int> unlimitedCode(const QList<uint32_t>& freq)
{
    struct Node {
        uint64_t weight;
        int depth; // of the deepest leaf below
        bool operator>(const Node& o) const { return weight > o.weight; }
    };
    std::priority_queue<Node, std::vector<Node>, std::greater<>> q;
    for (uint32_t f : freq)
        if (f)
            q.push({f, 0});
    uint64_t cost = 0;
    while (q.size() > 1) {
        const Node a = q.top();
        q.pop();
        const Node b = q.top();
        q.pop();
        cost += a.weight + b.weight;
        q.push({a.weight + b.weight, std::max(a.depth, b.depth) + 1});
    }
    return {cost, q.top().depth};
}

} // namespace

class TestLzx : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        allocationsLeft = -1;
        liveAllocations = 0;
    }
    void huffmanLengths_data();
    void huffmanLengths();
    void canonicalCodesAreDeflates();
    void matchFinderReportsRealLongestMatches_data();
    void matchFinderReportsRealLongestMatches();
    void libmspackReadsEveryWindow_data();
    void libmspackReadsEveryWindow();
    void outsideReadersAgree_data();
    void outsideReadersAgree();
    void identicalWhateverTheThreadCount();
    void cutBackFolderStaysReadable();
    void compressionTypeWords_data();
    void compressionTypeWords();
    void allocationFailuresLeaveNothing();
};

void TestLzx::huffmanLengths_data()
{
    QTest::addColumn<QList<uint32_t>>("freq");
    QTest::addColumn<int>("maxLength");
    QList<uint32_t> fib{1, 1};
    while (fib.size() < 30)
        fib.append(fib[fib.size() - 1] + fib[fib.size() - 2]);
    QList<uint32_t> wide;
    for (int i = 0; i < 656; ++i)
        wide.append(uint32_t((i * 2654435761u) % 1000));
    QTest::newRow("nothing used") << QList<uint32_t>{0, 0, 0} << 16;
    QTest::newRow("one used symbol") << QList<uint32_t>{0, 0, 9, 0} << 16;
    QTest::newRow("two symbols") << QList<uint32_t>{5, 0, 1} << 16;
    QTest::newRow("skewed, roomy limit") << QList<uint32_t>{100, 50, 25, 12, 6, 3, 1, 1} << 16;
    QTest::newRow("Fibonacci, limit 16") << fib << 16;
    QTest::newRow("Fibonacci, limit 7 for 30 symbols") << fib << 7;
    QTest::newRow("uniform 8 into 3 bits") << QList<uint32_t>(8, 4) << 3;
    QTest::newRow("656 symbols") << wide << 16;
}

void TestLzx::huffmanLengths()
{
    QFETCH(QList<uint32_t>, freq);
    QFETCH(int, maxLength);
    QList<uint8_t> lengths(freq.size(), 0xFF);
    QVERIFY(fci::huffman::buildLengths(freq.constData(), unsigned(freq.size()), unsigned(maxLength),
                                       lengths.data()));
    const int used = int(std::count_if(freq.begin(), freq.end(), [](uint32_t f) { return f != 0; }));
    uint64_t kraft = 0, cost = 0; // Kraft sum in units of 2^-16
    for (int s = 0; s < freq.size(); ++s) {
        QVERIFY(lengths[s] <= maxLength);
        if (freq[s])
            QVERIFY(lengths[s] > 0);
        if (lengths[s])
            kraft += uint64_t(1) << (16 - lengths[s]);
        cost += uint64_t(freq[s]) * lengths[s];
    }
    if (used == 0) {
        QCOMPARE(kraft, uint64_t(0));
        return;
    }
    QCOMPARE(kraft, uint64_t(1) << 16); // complete, as LZX decoders demand
    if (used >= 2) {
        // The cheapest code: Huffman's when its longest code fits the limit.
        const auto [best, longest] = unlimitedCode(freq);
        if (longest <= maxLength)
            QCOMPARE(cost, best);
        else
            QVERIFY(cost > best);
    }
    // Beyond what the format allows: refused.
    QVERIFY(!fci::huffman::buildLengths(freq.constData(), unsigned(freq.size()), 17, lengths.data()));
}

void TestLzx::canonicalCodesAreDeflates()
{
    // RFC 1951, 3.2.2: lengths (3, 3, 3, 3, 3, 2, 4, 4) give these codes.
    const uint8_t lengths[] = {3, 3, 3, 3, 3, 2, 4, 4};
    uint16_t codes[8];
    fci::huffman::canonicalCodes(lengths, 8, codes);
    const uint16_t want[] = {0b010, 0b011, 0b100, 0b101, 0b110, 0b00, 0b1110, 0b1111};
    for (int i = 0; i < 8; ++i)
        QCOMPARE(codes[i], want[i]);
}

void TestLzx::matchFinderReportsRealLongestMatches_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("piece"); // bytes appended at a time
    QTest::newRow("text, all at once") << text(12000, 1) << 12000;
    QTest::newRow("text, in pieces") << text(12000, 2) << 1000;
    QTest::newRow("zeros and runs") << QByteArray(3000, 0) + QByteArray(2000, 'a') + QByteArray(3000, 0)
                                    << 8000;
    QTest::newRow("random with repeats")
        << test::randomBytes(3000, 3) + test::randomBytes(500, 3) + test::randomBytes(4000, 4) << 700;
}

void TestLzx::matchFinderReportsRealLongestMatches()
{
    QFETCH(QByteArray, data);
    QFETCH(int, piece);
    fci::MatchFinder::Params p;
    p.windowBits = 11;
    p.maxDistance = 2000;
    p.niceLength = 40;
    p.maxLength = 100;
    p.depth = 10000; // exhaustive: the longest match is always found
    fci::MatchFinder f;
    QVERIFY(f.init(p, allocate, release));
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData());
    fci::Match found[40];
    for (qsizetype appended = 0; appended < data.size();) {
        const uint32_t n = uint32_t(std::min<qsizetype>(piece, data.size() - appended));
        QVERIFY(n <= f.appendRoom());
        f.append(bytes + appended, n);
        appended += n;
        while (f.position() < f.end()) {
            const uint32_t pos = f.position();
            const uint32_t limit = std::min<uint32_t>(f.end() - pos, 100);
            const uint32_t count = f.find(limit, found);
            uint32_t previous = 0;
            for (uint32_t k = 0; k < count; ++k) {
                const fci::Match m = found[k];
                QVERIFY(m.length > previous && m.length >= fci::MatchFinder::kMinMatch && m.length <= limit);
                QVERIFY(m.distance >= 1 && m.distance <= p.maxDistance && m.distance <= pos);
                QVERIFY(std::memcmp(bytes + pos, bytes + pos - m.distance, m.length) == 0);
                previous = m.length;
            }
            // With every earlier position entered (it is, once niceLength
            // bytes follow the whole stretch), nothing longer exists.
            if (piece == data.size() && pos + p.niceLength <= uint32_t(data.size())) {
                uint32_t best = 0;
                for (uint32_t d = 1; d <= std::min(pos, p.maxDistance); ++d) {
                    uint32_t l = 0;
                    while (l < limit && bytes[pos + l] == bytes[pos - d + l])
                        ++l;
                    best = std::max(best, l);
                }
                QCOMPARE(count ? found[count - 1].length : 0u, best >= 3 ? best : 0u);
            }
        }
    }
}

void TestLzx::libmspackReadsEveryWindow_data()
{
    QTest::addColumn<Inputs>("inputs");
    QTest::addColumn<unsigned>("windowBits");
    const auto table = inputTable();
    for (unsigned w = fci::kLzxWindowMin; w <= fci::kLzxWindowMax; ++w)
        for (const auto& [name, inputs] : table)
            QTest::addRow("lzx:%u %s", w, name.constData()) << inputs << w;
}

void TestLzx::libmspackReadsEveryWindow()
{
    QFETCH(Inputs, inputs);
    QFETCH(unsigned, windowBits);
    const Built b = build(inputs, windowBits);
    QVERIFY(b.ok);
    int lzxFolders = 0;
    QVERIFY(checkLzxFolders(b.cabinet, windowBits, &lzxFolders));
    QVERIFY(lzxFolders >= 1);
    QCOMPARE(liveAllocations, 0);
    const QString why = readBackWithLibmspack(b.cabinet, inputs);
    QVERIFY2(why.isEmpty(), qPrintable(why));
}

void TestLzx::outsideReadersAgree_data()
{
    QTest::addColumn<Inputs>("inputs");
    QTest::addColumn<unsigned>("windowBits");
    const auto table = inputTable();
    for (unsigned w = fci::kLzxWindowMin; w <= fci::kLzxWindowMax; ++w)
        for (const auto& [name, inputs] : table)
            QTest::addRow("lzx:%u %s", w, name.constData()) << inputs << w;
}

void TestLzx::outsideReadersAgree()
{
    for (const test::OutsideReader& r : test::outsideReaders())
        if (!test::haveProgram(r.program))
            QSKIP(qPrintable(r.program + " is not installed"));
    QFETCH(Inputs, inputs);
    QFETCH(unsigned, windowBits);
    const Built b = build(inputs, windowBits);
    QVERIFY(b.ok);
    QTemporaryDir dir;
    const QString why = readBackWithReaders(b.cabinet, inputs, dir.path());
    QVERIFY2(why.isEmpty(), qPrintable(why));
}

void TestLzx::identicalWhateverTheThreadCount()
{
    // A file past the LZX folder threshold ends its folder; a type change
    // ends one too. The LZX folders are compressed at once on several
    // threads, or in turn on one.
    const Inputs inputs{{"repeated", text(20000, 1).repeated(int(fci::kLzxFolderThreshold / 20000) + 1)},
                        {"after", text(70000, 2)},
                        {"program", executable().left(1 << 20)},
                        {"mszip", text(50000, 3), fci::kCompressMszip},
                        {"last", test::randomBytes(100000, 4) + text(200000, 5)}};
    QByteArray first;
    for (unsigned threads : {1u, 2u, 3u}) {
        const Built b = build(inputs, 16, threads);
        QVERIFY(b.ok);
        if (first.isEmpty())
            first = b.cabinet;
        QVERIFY2(b.cabinet == first, qPrintable(QString("%1 threads").arg(threads)));
    }
    QCOMPARE(u16(first, 26), 4);
    const QString why = readBackWithLibmspack(first, inputs);
    QVERIFY2(why.isEmpty(), qPrintable(why));
}

void TestLzx::cutBackFolderStaysReadable()
{
    // The second file would pass the cabinet's size limit: it is taken out,
    // which ends the folder after the frame it began in (the first of a group
    // of frames compressed together). Every reader takes what stays.
    for (const test::OutsideReader& r : test::outsideReaders())
        if (!test::haveProgram(r.program))
            QSKIP(qPrintable(r.program + " is not installed"));
    const Inputs inputs{{"small", text(5000, 1)}, {"big", test::randomBytes(400000, 2)}, {"after", "after"}};
    MemFiles m;
    for (int i = 0; i < inputs.size(); ++i)
        m.files["/s/" + QByteArray::number(i)] = inputs[i].data;
    fci::ERF erf;
    fci::CCAB ccab = defaultParameters();
    ccab.cb = 300000;
    fci::HFCI h = create(&m, &erf, &ccab);
    QVERIFY(add(h, "/s/0", "small", fci::compressLzx(21)));
    QVERIFY(!add(h, "/s/1", "big", fci::compressLzx(21)));
    QCOMPARE(erf.erfOper, int(fci::kErrFormatLimit));
    QVERIFY(add(h, "/s/2", "after", fci::compressLzx(21)));
    QVERIFY(fci::FCIFlushCabinet(h, 0, nullptr, status));
    QVERIFY(fci::FCIDestroy(h));
    const QByteArray cab = m.files[kCabinetPath];
    QVERIFY(cab.size() <= 300000);
    QCOMPARE(u16(cab, 26), 2); // the cut folder, then one for "after"
    const Inputs kept{inputs[0], inputs[2]};
    QTemporaryDir dir;
    QString why = readBackWithLibmspack(cab, kept);
    QVERIFY2(why.isEmpty(), qPrintable(why));
    why = readBackWithReaders(cab, kept, dir.path());
    QVERIFY2(why.isEmpty(), qPrintable(why));
}

void TestLzx::compressionTypeWords_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("LZX 2^15") << 0x0F03 << true;
    QTest::newRow("LZX 2^21") << 0x1503 << true;
    QTest::newRow("LZX 2^14") << 0x0E03 << false;
    QTest::newRow("LZX 2^22") << 0x1603 << false;
    QTest::newRow("LZX without window") << 0x0003 << false;
    QTest::newRow("LZX with a stray bit") << 0x1583 << false;
    QTest::newRow("Quantum") << 0x0F02 << false;
    QTest::newRow("MSZIP with a window") << 0x1501 << false;
}

void TestLzx::compressionTypeWords()
{
    QFETCH(int, type);
    QFETCH(bool, accepted);
    MemFiles m;
    m.files["/s/a"] = text(1000, 1);
    fci::ERF erf;
    fci::CCAB ccab = defaultParameters();
    fci::HFCI h = create(&m, &erf, &ccab);
    QCOMPARE(add(h, "/s/a", "a", uint16_t(type)), accepted);
    if (!accepted)
        QCOMPARE(erf.erfOper, int(fci::kErrBadComprType));
    QVERIFY(fci::FCIFlushCabinet(h, 0, nullptr, status));
    QVERIFY(fci::FCIDestroy(h));
    if (accepted)
        QCOMPARE(int(u16(m.files[kCabinetPath], 42)), type);
}

void TestLzx::allocationFailuresLeaveNothing()
{
    // Every allocation in turn fails: the call reports kErrAllocFail, the
    // context is still destroyed cleanly and nothing leaks.
    for (int allowed = 0;; ++allowed) {
        QVERIFY(allowed < 200);
        init();
        allocationsLeft = allowed;
        MemFiles m;
        m.files["/s/a"] = text(100000, 1);
        fci::ERF erf;
        fci::CCAB ccab = defaultParameters();
        fci::HFCI h = create(&m, &erf, &ccab);
        if (!h) {
            QCOMPARE(erf.erfOper, int(fci::kErrAllocFail));
            QCOMPARE(liveAllocations, 0);
            continue;
        }
        QVERIFY(fci::FCISetWorkerThreads(h, 2));
        const bool ok =
            add(h, "/s/a", "a", fci::compressLzx(15)) && fci::FCIFlushCabinet(h, 0, nullptr, status);
        if (!ok)
            QCOMPARE(erf.erfOper, int(fci::kErrAllocFail));
        fci::FCIDestroy(h);
        QCOMPARE(liveAllocations, 0);
        if (ok) {
            const QString why = readBackWithLibmspack(m.files[kCabinetPath], {{"a", m.files["/s/a"]}});
            QVERIFY2(why.isEmpty(), qPrintable(why));
            break;
        }
    }
}

QTEST_GUILESS_MAIN(TestLzx)
#include "tst_lzx.moc"
