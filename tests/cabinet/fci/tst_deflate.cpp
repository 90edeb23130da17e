// Proves that the deflate encoder's streams inflate back byte-identical in
// zlib, given the same history as preset dictionary, for a table of inputs
// with and without history and at every level; that a block never exceeds
// its input plus the stored block's 5 bytes; that matches reach into the
// history; and that the output depends only on the bytes.
#include <QFile>
#include <QtTest>

#include <zlib.h>

#include <cstdlib>
#include <random>

#include "cabinet/fci/deflateencoder.h"

using ravelin::fci::DeflateEncoder;

namespace {

void* allocate(uint32_t cb)
{
    return std::malloc(cb);
}
void release(void* p)
{
    std::free(p);
}

QByteArray randomBytes(qsizetype size, uint32_t seed)
{
    std::mt19937 rng(seed);
    QByteArray b(size, Qt::Uninitialized);
    for (char& c : b)
        c = char(rng());
    return b;
}

QByteArray text(qsizetype size, uint32_t seed)
{
    static const char* const words[] = {"deflate", "window", "the",  "block", "of",    "match",    "literal",
                                        "length",  "and",    "tree", "code",  "bytes", "distance", "a"};
    QByteArray b;
    std::mt19937 rng(seed);
    while (b.size() < size) {
        const uint32_t x = rng();
        b += words[x % 14];
        b += x % 11 == 0 ? ".\n" : " ";
    }
    b.truncate(size);
    return b;
}

// Up to `size` bytes of this test's own executable, from `offset`.
QByteArray executable(qsizetype offset, qsizetype size)
{
    QFile f(QCoreApplication::applicationFilePath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    f.seek(offset);
    return f.read(size);
}

// Inflates a raw deflate stream with `history` as preset dictionary; null
// when zlib rejects it or it does not end exactly at the stream's end.
QByteArray inflateRaw(const QByteArray& stream, const QByteArray& history, qsizetype expected)
{
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return {};
    if (!history.isEmpty() && inflateSetDictionary(&z, reinterpret_cast<const Bytef*>(history.constData()),
                                                   uInt(history.size())) != Z_OK) {
        inflateEnd(&z);
        return {};
    }
    QByteArray out(expected + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.constData()));
    z.avail_in = uInt(stream.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    const int rc = inflate(&z, Z_FINISH);
    const bool whole = rc == Z_STREAM_END && z.avail_in == 0;
    out.truncate(qsizetype(z.total_out));
    inflateEnd(&z);
    return whole ? out : QByteArray();
}

QByteArray encode(DeflateEncoder& e, const QByteArray& history, const QByteArray& in, bool* stored = nullptr)
{
    QByteArray out(DeflateEncoder::bound(uint32_t(in.size())), '\0');
    const uint32_t n = e.encode(reinterpret_cast<const uint8_t*>(history.constData()),
                                uint32_t(history.size()), reinterpret_cast<const uint8_t*>(in.constData()),
                                uint32_t(in.size()), reinterpret_cast<uint8_t*>(out.data()), stored);
    out.truncate(n);
    return out;
}

} // namespace

class TestDeflate : public QObject {
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void piecesOfAFile_data();
    void piecesOfAFile();
    void matchesReachIntoHistory();
    void dependsOnlyOnTheBytes();
};

void TestDeflate::roundTrip_data()
{
    QTest::addColumn<QByteArray>("history");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("storedExpected");

    const QByteArray exe = executable(4096, 3 * 32768);
    QVERIFY(exe.size() == 3 * 32768);
    const struct {
        const char* name;
        QByteArray data;
        bool stored;
    } inputs[] = {
        {"empty", {}, false},
        {"1 byte", "x", false},
        {"32767 text", text(32767, 1), false},
        {"32768 text", text(32768, 2), false},
        {"32768 random", randomBytes(32768, 4), true},
        {"1000 random", randomBytes(1000, 5), true},
        {"32768 zeros", QByteArray(32768, '\0'), false},
        {"executable", exe.mid(32768, 32768), false},
        {"short runs", QByteArray("abcabcabcabcabcabcabcabcabcabcabcabcabcabcabcabc"), false},
    };
    const struct {
        const char* name;
        QByteArray data;
    } histories[] = {
        {"no history", {}},
        {"random history", randomBytes(32768, 9)},
        {"text history", text(32768, 2)},
        {"executable history", exe.left(32768)},
        {"short history", QByteArray("deflate window")},
    };
    for (const auto& h : histories)
        for (const auto& i : inputs)
            QTest::addRow("%s, %s", i.name, h.name) << h.data << i.data << i.stored;
}

void TestDeflate::roundTrip()
{
    QFETCH(QByteArray, history);
    QFETCH(QByteArray, input);
    QFETCH(bool, storedExpected);
    for (int level = DeflateEncoder::kMinLevel; level <= DeflateEncoder::kMaxLevel; ++level) {
        DeflateEncoder e;
        QVERIFY(e.init(allocate, release, level));
        bool stored = false;
        const QByteArray stream = encode(e, history, input, &stored);
        QVERIFY2(uint32_t(stream.size()) <= DeflateEncoder::bound(uint32_t(input.size())),
                 qPrintable(QString::number(stream.size())));
        QCOMPARE(stored, storedExpected);
        const QByteArray back = inflateRaw(stream, history, input.size());
        QVERIFY2(back == input, qPrintable(QStringLiteral("level %1").arg(level)));
    }
}

void TestDeflate::piecesOfAFile_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("32767") << text(32767, 11);
    QTest::newRow("32768") << text(32768, 12);
    QTest::newRow("32769") << text(32769, 13);
    QTest::newRow("executable") << executable(0, 200000);
    QTest::newRow("zeros") << QByteArray(100000, '\0');
}

// A file as MSZIP cuts it: 32 KB pieces, each after the one before. One
// encoder takes them in turn (and slides its tables from piece to piece);
// each piece's stream is the one a fresh encoder writes.
void TestDeflate::piecesOfAFile()
{
    QFETCH(QByteArray, file);
    DeflateEncoder e;
    QVERIFY(e.init(allocate, release));
    QByteArray back;
    for (qsizetype at = 0; at < file.size(); at += 32768) {
        const QByteArray history =
            file.mid(std::max<qsizetype>(0, at - 32768), std::min<qsizetype>(at, 32768));
        const QByteArray piece = file.mid(at, 32768);
        const QByteArray stream = encode(e, history, piece);
        DeflateEncoder fresh;
        QVERIFY(fresh.init(allocate, release));
        QCOMPARE(stream, encode(fresh, history, piece));
        back += inflateRaw(stream, history, piece.size());
    }
    QCOMPARE(back, file);
}

void TestDeflate::matchesReachIntoHistory()
{
    // The input repeats the history: almost all of it is one run of matches.
    const QByteArray history = randomBytes(32768, 21);
    DeflateEncoder e;
    QVERIFY(e.init(allocate, release));
    const QByteArray stream = encode(e, history, history);
    QVERIFY2(stream.size() < 400, qPrintable(QString::number(stream.size())));
    QCOMPARE(inflateRaw(stream, history, history.size()), history);
    // The farthest reach: the first byte of a full history.
    const QByteArray far = history.left(300);
    const QByteArray farStream = encode(e, history, far);
    QVERIFY2(farStream.size() < 20, qPrintable(QString::number(farStream.size())));
    QCOMPARE(inflateRaw(farStream, history, far.size()), far);
}

void TestDeflate::dependsOnlyOnTheBytes()
{
    // An encoder that compressed something else first writes the same bytes
    // as a fresh one.
    const QByteArray exe = executable(0, 2 * 32768);
    const QByteArray history = exe.left(32768), input = exe.mid(32768);
    DeflateEncoder fresh, used;
    QVERIFY(fresh.init(allocate, release));
    QVERIFY(used.init(allocate, release));
    encode(used, text(32768, 7), text(32768, 8));
    encode(used, {}, randomBytes(20000, 8));
    QCOMPARE(encode(used, history, input), encode(fresh, history, input));
}

QTEST_GUILESS_MAIN(TestDeflate)
#include "tst_deflate.moc"
