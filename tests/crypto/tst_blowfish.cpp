// Proves TBlowFish is Blowfish as published (vectors, OpenSSL, pi tables), that keys are the phrase in
// Windows-1252, and that TCrypto's sources, modes, padding, file loop and refusals behave as documented.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <openssl/blowfish.h>

#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "crypto/blowfish.h"
#include "crypto/codepage.h"
#include "crypto/pitable.h"
#include "platform/io.h"
#include "support/filesizelimit.h"
#include "support/testutil.h"

using ravelin::crypto::ECryptoError;
using ravelin::crypto::EInOutError;
using ravelin::crypto::TBlowFish;
using ravelin::crypto::TCrypto;
using ravelin::test::randomBytes;
using ravelin::test::readFile;
using ravelin::test::writeFile;

namespace {

// The key text whose Windows-1252 bytes are `bytes` (every byte has one).
QString keyText(const QByteArray& bytes)
{
    return ravelin::crypto::fromWindows1252(bytes);
}

// The names in `dir` that are temporaries of an output written beside its
// final name.
QStringList temporaries(const QString& dir)
{
    return QDir(dir).entryList({QStringLiteral(".ravelin-*")}, QDir::Files | QDir::Hidden | QDir::System);
}

using ravelin::test::FileSizeLimit;

QByteArray zeroPadded(QByteArray data)
{
    while (data.size() % 8 != 0)
        data.append('\0');
    return data;
}

QByteArray opensslEcb(const QByteArray& key, const QByteArray& plain, bool encrypt = true)
{
    BF_KEY schedule;
    BF_set_key(&schedule, int(key.size()), reinterpret_cast<const unsigned char*>(key.constData()));
    const QByteArray in = zeroPadded(plain);
    QByteArray out(in.size(), '\0');
    for (qsizetype p = 0; p < in.size(); p += 8)
        BF_ecb_encrypt(reinterpret_cast<const unsigned char*>(in.constData() + p),
                       reinterpret_cast<unsigned char*>(out.data() + p), &schedule,
                       encrypt ? BF_ENCRYPT : BF_DECRYPT);
    return out;
}

// Runs one buffer operation through SourceByteArray and returns the output.
QByteArray bufferRun(TBlowFish& fish, const QByteArray& in, bool encrypt, bool keepState = false)
{
    QByteArray out(in.size() + 8, '\0');
    fish.setInputType(TBlowFish::SourceByteArray);
    fish.InputData = in.constData();
    fish.OutputData = out.data();
    fish.setInputLength(qint32(in.size()));
    if (encrypt)
        fish.Encrypt(keepState);
    else
        fish.Decrypt(keepState);
    out.truncate(fish.inputLength());
    return out;
}

void fileRun(const QString& in, const QString& out, const QString& key, bool encrypt,
             TCrypto::TCipherMode mode = TCrypto::ECBMode, const QString& iv = QString())
{
    TBlowFish fish;
    fish.setInputType(TBlowFish::SourceFile);
    fish.setInputFilePath(in);
    fish.setOutputFilePath(out);
    fish.setKey(key);
    fish.setCipherMode(mode);
    fish.setIVector(iv);
    if (encrypt)
        fish.Encrypt(false);
    else
        fish.Decrypt(false);
}

// pi's hexadecimal fraction by Machin's formula pi = 16 atan(1/5) - 4 atan(1/239)
// in fixed point with 32-bit limbs (most significant first), independent of
// any table.
std::vector<quint32> piFraction(int words)
{
    const int limbs = words + 4; // guard limbs absorb the truncation error
    auto atanInverse = [limbs](quint32 x) {
        std::vector<quint32> sum(limbs + 1, 0), term(limbs + 1, 0), part(limbs + 1, 0);
        term[0] = 1; // limb 0 holds the integer part
        auto divide = [limbs](std::vector<quint32>& v, quint64 d, std::vector<quint32>& q) {
            quint64 rest = 0;
            for (int i = 0; i <= limbs; ++i) {
                const quint64 cur = (rest << 32) | v[i];
                q[i] = quint32(cur / d);
                rest = cur % d;
            }
        };
        auto addTo = [limbs](std::vector<quint32>& a, const std::vector<quint32>& b, bool minus) {
            qint64 carry = 0;
            for (int i = limbs; i >= 0; --i) {
                qint64 v = qint64(a[i]) + (minus ? -qint64(b[i]) : qint64(b[i])) + carry;
                carry = 0;
                if (v < 0) {
                    v += qint64(1) << 32;
                    carry = -1;
                } else if (v >= (qint64(1) << 32)) {
                    v -= qint64(1) << 32;
                    carry = 1;
                }
                a[i] = quint32(v);
            }
        };
        auto nonZero = [](const std::vector<quint32>& v) {
            for (quint32 w : v)
                if (w)
                    return true;
            return false;
        };
        divide(term, x, term);
        for (quint64 k = 0; nonZero(term); ++k) {
            divide(term, 2 * k + 1, part);
            addTo(sum, part, k & 1);
            divide(term, quint64(x) * x, term);
        }
        return sum;
    };
    std::vector<quint32> a = atanInverse(5);
    std::vector<quint32> b = atanInverse(239);
    // 16a - 4b, by shifting left 4 and 2 bits.
    auto shifted = [limbs](const std::vector<quint32>& v, int bits) {
        std::vector<quint32> r(limbs + 1, 0);
        quint32 carry = 0;
        for (int i = limbs; i >= 0; --i) {
            r[i] = (v[i] << bits) | carry;
            carry = v[i] >> (32 - bits);
        }
        return r;
    };
    std::vector<quint32> pi = shifted(a, 4), four = shifted(b, 2);
    qint64 borrow = 0;
    for (int i = limbs; i >= 0; --i) {
        qint64 v = qint64(pi[i]) - four[i] - borrow;
        borrow = v < 0;
        if (v < 0)
            v += qint64(1) << 32;
        pi[i] = quint32(v);
    }
    return std::vector<quint32>(pi.begin() + 1, pi.begin() + 1 + words);
}

} // namespace

class TestBlowfish : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void piTableIsPisFraction()
    {
        const std::vector<quint32> digits = piFraction(ravelin::crypto::kPiWordCount);
        QCOMPARE(int(digits.size()), 1042);
        for (int i = 0; i < 1042; ++i)
            QVERIFY2(digits[i] == ravelin::crypto::kPiWords[i], qPrintable(QString::number(i)));
        // The published first and last words of the P-array and each S-box.
        const quint32* t = ravelin::crypto::kPiWords;
        QCOMPARE(t[0], 0x243F6A88u);
        QCOMPARE(t[17], 0x8979FB1Bu);
        QCOMPARE(t[18], 0xD1310BA6u);
        QCOMPARE(t[18 + 255], 0x6E85076Au);
        QCOMPARE(t[18 + 256], 0x4B7A70E9u);
        QCOMPARE(t[18 + 511], 0xDB83ADF7u);
        QCOMPARE(t[18 + 512], 0xE93D5A68u);
        QCOMPARE(t[18 + 767], 0x406000E0u);
        QCOMPARE(t[18 + 768], 0x3A39CE37u);
        QCOMPARE(t[18 + 1023], 0x3AC372E6u);
    }

    void publishedVectors_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("plain");
        QTest::addColumn<QByteArray>("cipher");
        // Eric Young's ECB vectors (8-byte keys).
        const char* ecb[][3] = {
            {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
            {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
            {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
            {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
            {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
            {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
            {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
            {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
            {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
            {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
            {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
            {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
            {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
            {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
            {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
            {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
            {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
            {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
            {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
            {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
            {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
            {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
            {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
            {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
            {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
            {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
            {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
            {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
            {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
            {"0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4"},
            {"FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC"},
            {"0123456789ABCDEF", "0000000000000000", "245946885754369A"},
            {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
        };
        for (const auto& v : ecb)
            QTest::addRow("ecb %s %s", v[0], v[1])
                << QByteArray::fromHex(v[0]) << QByteArray::fromHex(v[1]) << QByteArray::fromHex(v[2]);
        // Eric Young's variable-length keys: the first n bytes of one key
        // (lengths below 8 are outside this cipher's key range).
        const QByteArray longKey = QByteArray::fromHex("F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677");
        const char* variable[] = {"E87A244E2CC85E82", "15750E7A4F4EC577", "122BA70B3AB64AE0",
                                  "3A833C9AFFC537F6", "9409DA87A90F6BF2", "884F80625060B8B4",
                                  "1F85031C19E11968", "79D9373A714CA34F", "93142887EE3BE15C",
                                  "03429E838CE2D14B", "A4299E27469FF67B", "AFD5AED1C1BC96A8",
                                  "10851C0E3858DA9F", "E6F51ED79B9DB21F", "64A6E14AFD36B46F",
                                  "80C7D7D45A5479AD", "05044B62FA52D080"};
        for (int n = 8; n <= 24; ++n)
            QTest::addRow("variable key %d", n) << longKey.left(n) << QByteArray::fromHex("FEDCBA9876543210")
                                                << QByteArray::fromHex(variable[n - 8]);
        // Bruce Schneier's text-key vectors.
        QTest::newRow("schneier abc..z") << QByteArray("abcdefghijklmnopqrstuvwxyz") << QByteArray("BLOWFISH")
                                         << QByteArray::fromHex("324ED0FEF413A203");
        QTest::newRow("schneier galt")
            << QByteArray("Who is John Galt?") << QByteArray::fromHex("FEDCBA9876543210")
            << QByteArray::fromHex("CC91732B8022F684");
    }

    void publishedVectors()
    {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, plain);
        QFETCH(QByteArray, cipher);
        TBlowFish fish;
        fish.setKey(keyText(key));
        QCOMPARE(bufferRun(fish, plain, true).toHex(), cipher.toHex());
        fish.setKey(keyText(key));
        QCOMPARE(bufferRun(fish, cipher, false).toHex(), plain.toHex());
    }

    // Every key length the cipher accepts, file to file, against OpenSSL.
    void matchesOpenSsl_data()
    {
        QTest::addColumn<int>("keyLength");
        for (int n = 8; n <= 65; ++n)
            QTest::addRow("%d", n) << n;
    }

    void matchesOpenSsl()
    {
        QFETCH(int, keyLength);
        const QByteArray key = randomBytes(keyLength, 1000 + keyLength);
        const QByteArray plain = randomBytes(9000 + keyLength, keyLength);
        const QString in = path("plain.bin"), out = path("plain.ecf"), back = path("back.cab");
        QVERIFY(writeFile(in, plain));
        fileRun(in, out, keyText(key), true);
        const QByteArray expected = opensslEcb(key, plain);
        QVERIFY(readFile(out) == expected);
        fileRun(out, back, keyText(key), false);
        QVERIFY(readFile(back) == zeroPadded(plain));
    }

    // A file large enough for the loop to share its blocks among threads.
    void largeFileMatchesOpenSsl()
    {
        const QByteArray key("a pass phrase of some length");
        const QByteArray plain = randomBytes(3 * 1024 * 1024 + 4101, 77);
        const QString in = path("large.bin"), out = path("large.ecf"), back = path("large.cab");
        QVERIFY(writeFile(in, plain));
        fileRun(in, out, keyText(key), true);
        QVERIFY(readFile(out) == opensslEcb(key, plain));
        fileRun(out, back, keyText(key), false);
        QVERIFY(readFile(back) == zeroPadded(plain));
    }

    void encryptedSizes_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("encrypted");
        const int sizes[][2] = {{0, 0}, {1, 8}, {8, 8}, {4095, 4096}, {4096, 4096}, {4097, 4104}};
        for (const auto& s : sizes)
            QTest::addRow("%d", s[0]) << s[0] << s[1];
    }

    void encryptedSizes()
    {
        QFETCH(int, size);
        QFETCH(int, encrypted);
        const QByteArray plain = randomBytes(size, size);
        const QString in = path("s.bin"), out = path("s.ecf"), back = path("s.cab");
        QVERIFY(writeFile(in, plain));
        QFile::remove(back);
        fileRun(in, out, QStringLiteral("sixteen chars ok"), true);
        QCOMPARE(QFileInfo(out).size(), qint64(encrypted));
        if (encrypted == 0) {
            // An empty file cannot be told from one that is not encrypted at all.
            QVERIFY_THROWS_EXCEPTION(ECryptoError,
                                     fileRun(out, back, QStringLiteral("sixteen chars ok"), false));
            QVERIFY(!QFileInfo::exists(back));
            return;
        }
        fileRun(out, back, QStringLiteral("sixteen chars ok"), false);
        const QByteArray result = readFile(back);
        QCOMPARE(result.size(), encrypted);
        QVERIFY(result.left(size) == plain);
        QVERIFY(result.mid(size) == QByteArray(encrypted - size, '\0'));
    }

    void sameInputSameOutput()
    {
        QByteArray plain = randomBytes(8, 5);
        plain = plain + plain + randomBytes(100, 6);
        const QString in = path("d.bin");
        QVERIFY(writeFile(in, plain));
        fileRun(in, path("d1.ecf"), QStringLiteral("the same phrase!"), true);
        fileRun(in, path("d2.ecf"), QStringLiteral("the same phrase!"), true);
        const QByteArray one = readFile(path("d1.ecf"));
        QVERIFY(one == readFile(path("d2.ecf")));
        QVERIFY(one.mid(0, 8) == one.mid(8, 8)); // equal blocks, equal ciphertext
        // Another phrase decrypts without complaint to the same length.
        fileRun(path("d1.ecf"), path("d.cab"), QStringLiteral("another phrase!!"), false);
        QCOMPARE(readFile(path("d.cab")).size(), one.size());
        QVERIFY(readFile(path("d.cab")) != zeroPadded(plain));
    }

    void unusableKeysRunOnInitialTables_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("usable");
        QTest::newRow("7") << 7 << false;
        QTest::newRow("8") << 8 << true;
        QTest::newRow("65") << 65 << true;
        QTest::newRow("66") << 66 << false;
        QTest::newRow("0") << 0 << false;
    }

    void unusableKeysRunOnInitialTables()
    {
        QFETCH(int, length);
        QFETCH(bool, usable);
        const QByteArray plain = randomBytes(64, 9);
        TBlowFish empty;
        const QByteArray initial = bufferRun(empty, plain, true);
        TBlowFish fish;
        const QString key(length, QChar(u'k'));
        fish.setKey(key);
        const QByteArray out = bufferRun(fish, plain, true);
        QCOMPARE(fish.keyLength(), usable ? length : 0);
        QCOMPARE(out == initial, !usable);
        QCOMPARE(key, QString(length, QChar(u'k'))); // the caller's text is untouched
        if (usable)
            QVERIFY(out == opensslEcb(key.toLatin1(), plain));
        // The initial tables, without expansion: the first block by hand.
        quint32 l = qFromBigEndian<quint32>(plain.constData());
        quint32 r = qFromBigEndian<quint32>(plain.constData() + 4);
        const quint32* p = ravelin::crypto::kPiWords;
        const quint32* s = p + 18;
        auto f = [s](quint32 x) {
            return ((s[x >> 24] + s[256 + ((x >> 16) & 255)]) ^ s[512 + ((x >> 8) & 255)]) +
                   s[768 + (x & 255)];
        };
        for (int i = 0; i < 16; ++i) {
            l ^= p[i];
            r ^= f(l);
            std::swap(l, r);
        }
        std::swap(l, r);
        r ^= p[16];
        l ^= p[17];
        QCOMPARE(qFromBigEndian<quint32>(initial.constData()), l);
        QCOMPARE(qFromBigEndian<quint32>(initial.constData() + 4), r);
    }

    void sourceString()
    {
        TBlowFish fish;
        fish.setKey(QStringLiteral("string source key"));
        fish.setInputType(TBlowFish::SourceString);
        fish.setInputString(QStringLiteral("Hello, world"));
        QByteArray out(16, '\xAA');
        fish.OutputData = out.data();
        fish.Encrypt(false);
        QCOMPARE(fish.inputLength(), 16);
        QVERIFY(out == opensslEcb("string source key", "Hello, world"));
        // Decrypt with a string source prepares and touches nothing else.
        const QByteArray before = out;
        fish.Decrypt(false);
        QVERIFY(out == before);
    }

    // CBC and CFB against OpenSSL's, through a file of several 4,096-byte pieces.
    void chainedModesFileRoundTrip_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("size");
        QTest::newRow("cbc 10001") << int(TCrypto::CBCMode) << 10001;
        QTest::newRow("cbc 8192") << int(TCrypto::CBCMode) << 8192;
        QTest::newRow("cfb 10001") << int(TCrypto::CFBMode) << 10001;
        QTest::newRow("cfb 8192") << int(TCrypto::CFBMode) << 8192;
    }

    void chainedModesFileRoundTrip()
    {
        QFETCH(int, mode);
        QFETCH(int, size);
        const auto m = TCrypto::TCipherMode(mode);
        const QByteArray key("chained mode key");
        const QString iv = QStringLiteral("IV!vecto");
        const QByteArray plain = randomBytes(size, size + mode);
        const QString in = path("c.bin"), out = path("c.enc"), back = path("c.dec");
        QVERIFY(writeFile(in, plain));
        fileRun(in, out, keyText(key), true, m, iv);
        const QByteArray cipher = readFile(out);

        BF_KEY schedule;
        BF_set_key(&schedule, int(key.size()), reinterpret_cast<const unsigned char*>(key.data()));
        QByteArray ivBytes = iv.toLatin1();
        QByteArray expected;
        if (m == TCrypto::CBCMode) {
            const QByteArray padded = zeroPadded(plain);
            expected.resize(padded.size());
            BF_cbc_encrypt(reinterpret_cast<const unsigned char*>(padded.constData()),
                           reinterpret_cast<unsigned char*>(expected.data()), padded.size(), &schedule,
                           reinterpret_cast<unsigned char*>(ivBytes.data()), BF_ENCRYPT);
        } else {
            expected.resize(plain.size());
            int num = 0;
            BF_cfb64_encrypt(reinterpret_cast<const unsigned char*>(plain.constData()),
                             reinterpret_cast<unsigned char*>(expected.data()), plain.size(), &schedule,
                             reinterpret_cast<unsigned char*>(ivBytes.data()), &num, BF_ENCRYPT);
        }
        QVERIFY(cipher == expected);
        fileRun(out, back, keyText(key), false, m, iv);
        QVERIFY(readFile(back) == (m == TCrypto::CBCMode ? zeroPadded(plain) : plain));
    }

    // KeepState continues one chain across buffer calls.
    void keepStateContinuesChain_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("cbc") << int(TCrypto::CBCMode);
        QTest::newRow("cfb") << int(TCrypto::CFBMode);
    }

    void keepStateContinuesChain()
    {
        QFETCH(int, mode);
        const auto m = TCrypto::TCipherMode(mode);
        const QByteArray plain = randomBytes(3 * 4096, 31);
        const QString in = path("k.bin"), whole = path("k.enc");
        QVERIFY(writeFile(in, plain));
        fileRun(in, whole, QStringLiteral("keep state key!!"), true, m, QStringLiteral("12345678"));
        const QByteArray expected = readFile(whole);

        TBlowFish enc;
        enc.setKey(QStringLiteral("keep state key!!"));
        enc.setCipherMode(m);
        enc.setIVector(QStringLiteral("12345678"));
        QByteArray pieces;
        for (int i = 0; i < 3; ++i)
            pieces += bufferRun(enc, plain.mid(i * 4096, 4096), true, i > 0);
        QVERIFY(pieces == expected);

        TBlowFish dec;
        dec.setKey(QStringLiteral("keep state key!!"));
        dec.setCipherMode(m);
        dec.setIVector(QStringLiteral("12345678"));
        QByteArray back;
        for (int i = 0; i < 3; ++i)
            back += bufferRun(dec, expected.mid(i * 4096, 4096), false, i > 0);
        QVERIFY(back == plain);
    }

    void emptyIVectorIsGenerated()
    {
        TBlowFish fish;
        fish.setKey(QStringLiteral("generated vector"));
        fish.setCipherMode(TBlowFish::CBCMode);
        const QByteArray plain = randomBytes(40, 3);
        const QByteArray cipher = bufferRun(fish, plain, true);
        const QString iv = fish.iVector();
        QCOMPARE(iv.size(), 8);
        for (QChar c : iv)
            QVERIFY(c.unicode() >= u'!' && c.unicode() <= u'}');
        TBlowFish dec;
        dec.setKey(QStringLiteral("generated vector"));
        dec.setCipherMode(TBlowFish::CBCMode);
        dec.setIVector(iv);
        QVERIFY(bufferRun(dec, cipher, false) == plain);
    }

    void existingOutputIsReplaced()
    {
        const QString in = path("r.bin"), out = path("r.ecf");
        QVERIFY(writeFile(in, "short"));
        QVERIFY(writeFile(out, randomBytes(100000, 1)));
        fileRun(in, out, QStringLiteral("replace the file"), true);
        QCOMPARE(QFileInfo(out).size(), 8);
    }

    void missingInputCreatesNoOutput()
    {
        const QString out = path("never.ecf");
        QFile::remove(out);
        try {
            fileRun(path("no such file.cab"), out, QStringLiteral("sixteen chars ok"), true);
            QFAIL("no error");
        } catch (const EInOutError& e) {
            QCOMPARE(e.errorCode(), ENOENT);
            QCOMPARE(e.path(), path("no such file.cab"));
            QCOMPARE(e.result().failed, ravelin::crypto::IoStep::Open);
            QVERIFY2(QByteArray(e.what()).startsWith("open "), e.what());
        }
        QVERIFY(!QFile::exists(out));
    }

    void unwritableOutputFails_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("error");
        QTest::newRow("missing directory") << path("missing dir/out.ecf") << ENOENT;
        QTest::newRow("file as directory") << path("w.bin/out.ecf") << ENOTDIR;
        // A device under the name is refused before anything is written: the
        // rename that publishes the output would replace it.
        QTest::newRow("device") << QStringLiteral("/dev/full") << ravelin::io::kNotRegularFile;
    }

    void unwritableOutputFails()
    {
        QFETCH(QString, output);
        QFETCH(int, error);
        const QString in = path("w.bin");
        QVERIFY(writeFile(in, randomBytes(5000, 2)));
        try {
            fileRun(in, output, QStringLiteral("sixteen chars ok"), true);
            QFAIL("no error");
        } catch (const EInOutError& e) {
            QCOMPARE(e.errorCode(), error);
            QCOMPARE(e.path(), output);
            QCOMPARE(e.result().failed, ravelin::crypto::IoStep::Create);
        }
        struct stat st {};
        QVERIFY(::stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode));
        QVERIFY(temporaries(m_dir.path()).isEmpty());
    }

    void outputThatIsTheInputIsRefused_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("same text") << "same";
        QTest::newRow("other spelling") << "dotted";
        QTest::newRow("hard link") << "hardlink";
        QTest::newRow("symbolic link") << "symlink";
    }

    void outputThatIsTheInputIsRefused()
    {
        QFETCH(QString, how);
        const QString in = path("self.cab");
        const QByteArray plain = randomBytes(10000, 4);
        QVERIFY(writeFile(in, plain));
        QString out = in;
        if (how == "dotted")
            out = m_dir.path() + "/./self.cab";
        if (how == "hardlink") {
            out = path("self-hard.ecf");
            QFile::remove(out);
            QCOMPARE(::link(QFile::encodeName(in).constData(), QFile::encodeName(out).constData()), 0);
        }
        if (how == "symlink") {
            out = path("self-soft.ecf");
            QFile::remove(out);
            QVERIFY(QFile::link(in, out));
        }
        QVERIFY_THROWS_EXCEPTION(ECryptoError, fileRun(in, out, QStringLiteral("sixteen chars ok"), true));
        QVERIFY(readFile(in) == plain);
        QFile::remove(path("self-hard.ecf"));
        QFile::remove(path("self-soft.ecf"));
    }

    // The key bytes are the phrase in Windows-1252: "€" is 0x80 and the key
    // equals OpenSSL's with those bytes; a character without a byte is refused.
    void keysAreWindows1252_data()
    {
        QTest::addColumn<QString>("phrase");
        QTest::addColumn<QByteArray>("key"); // empty: refused
        QTest::newRow("euro") << QString::fromUtf8("€ for sixteen ok") << QByteArray("\x80 for sixteen ok");
        QTest::newRow("curly quotes")
            << QString::fromUtf8("“quoted” phrase!") << QByteArray("\x93quoted\x94 phrase!");
        QTest::newRow("latin-1") << QString::fromUtf8("café naïve façade")
                                 << QByteArray("caf\xe9 na\xefve fa\xe7"
                                               "ade");
        QTest::newRow("undefined byte 0x81")
            << QString::fromUtf8("sixteen \u0081 chars") << QByteArray("sixteen \x81 chars");
        QTest::newRow("cyrillic") << QString::fromUtf8("пароль для файла") << QByteArray();
        QTest::newRow("cyrillic other") << QString::fromUtf8("секрет для файла") << QByteArray();
        QTest::newRow("greek") << QString::fromUtf8("κωδικός αρχείου!") << QByteArray();
        QTest::newRow("cjk") << QString::fromUtf8("密码密码密码密码密码密码密码密码") << QByteArray();
        QTest::newRow("C1 U+0080 is not the euro")
            << QString::fromUtf8("sixteen \u0080 chars") << QByteArray();
        QTest::newRow("beyond U+FFFF") << QString::fromUtf8("sixteen \U0001F511 char") << QByteArray();
    }

    void keysAreWindows1252()
    {
        QFETCH(QString, phrase);
        QFETCH(QByteArray, key);
        QTemporaryDir dir;
        const QString in = dir.filePath("in.cab"), out = dir.filePath("in.ecf");
        const QByteArray plain = randomBytes(5000, 3);
        QVERIFY(writeFile(in, plain));
        QVERIFY(writeFile(out, "earlier"));
        if (key.isEmpty()) {
            QVERIFY_THROWS_EXCEPTION(ECryptoError, fileRun(in, out, phrase, true));
            QCOMPARE(readFile(out), QByteArray("earlier"));
            QVERIFY(temporaries(dir.path()).isEmpty());
            return;
        }
        fileRun(in, out, phrase, true);
        QVERIFY(readFile(out) == opensslEcb(key, plain));
        fileRun(out, dir.filePath("back.cab"), phrase, false);
        QVERIFY(readFile(dir.filePath("back.cab")) == zeroPadded(plain));
    }

    // The code page table against glibc's iconv, an independent one; the five
    // bytes it leaves undefined keep their C1 character, and every byte makes
    // the round trip.
    void codePageMatchesIconv()
    {
        using ravelin::crypto::fromWindows1252;
        using ravelin::crypto::toWindows1252;
        if (!ravelin::test::haveProgram(QStringLiteral("iconv")))
            QSKIP("iconv is needed as the independent table");
        QByteArray defined;
        for (int b = 0; b < 256; ++b) {
            const QByteArray byte(1, char(b));
            const QString mine = fromWindows1252(byte);
            QCOMPARE(mine.size(), 1);
            QByteArray back;
            QVERIFY(toWindows1252(mine, &back));
            QCOMPARE(back, byte);
            if (b == 0x81 || b == 0x8d || b == 0x8f || b == 0x90 || b == 0x9d)
                QCOMPARE(mine.at(0).unicode(), char16_t(b));
            else
                defined += byte;
        }
        const auto r = ravelin::test::run(QStringLiteral("iconv"), {"-f", "CP1252", "-t", "UTF-8"}, QString(),
                                          10000, defined);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(fromWindows1252(defined), QString::fromUtf8(r.out));
    }

    // A decryption input that is empty or not whole 8-byte blocks was cut short
    // or never encrypted: refused before anything is written.
    void truncatedInputRefused_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("0") << 0;
        QTest::newRow("7") << 7;
        QTest::newRow("9") << 9;
        QTest::newRow("4097") << 4097;
    }

    void truncatedInputRefused()
    {
        QFETCH(int, size);
        QTemporaryDir dir;
        const QString in = dir.filePath("cut.ecf"), out = dir.filePath("cut.cab");
        QVERIFY(writeFile(in, randomBytes(size, 7)));
        QVERIFY(writeFile(out, "earlier"));
        try {
            fileRun(in, out, QStringLiteral("sixteen chars ok"), false);
            QFAIL("no error");
        } catch (const ECryptoError& e) {
            QVERIFY2(QByteArray(e.what()).contains("not an encrypted file"), e.what());
        }
        QCOMPARE(readFile(out), QByteArray("earlier"));
        QVERIFY(temporaries(dir.path()).isEmpty());
    }

    // Pipes and devices are refused without waiting for a writer or an end.
    void notRegularInputRefused_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("encrypt");
        QTest::newRow("fifo, encrypt") << "fifo" << true;
        QTest::newRow("fifo, decrypt") << "fifo" << false;
        QTest::newRow("/dev/zero") << "/dev/zero" << true;
        QTest::newRow("folder") << "." << true;
    }

    void notRegularInputRefused()
    {
        QFETCH(QString, input);
        QFETCH(bool, encrypt);
        QTemporaryDir dir;
        if (input == "fifo") {
            input = dir.filePath("fifo");
            QCOMPARE(::mkfifo(QFile::encodeName(input).constData(), 0600), 0);
        } else if (input == ".") {
            input = dir.path();
        }
        const QString out = dir.filePath("out.bin");
        try {
            fileRun(input, out, QStringLiteral("sixteen chars ok"), encrypt);
            QFAIL("no error");
        } catch (const EInOutError& e) {
            QCOMPARE(e.errorCode(), ravelin::io::kNotRegularFile);
            QVERIFY2(QByteArray(e.what()).endsWith("not a regular file"), e.what());
        }
        QVERIFY(!QFileInfo::exists(out));
        QVERIFY(temporaries(dir.path()).isEmpty());
    }

    // A write that fails part-way (here past the file-size limit) leaves the
    // earlier output byte for byte and no temporary.
    void failedWriteKeepsEarlierOutput()
    {
        QTemporaryDir dir;
        const QString in = dir.filePath("big.cab"), out = dir.filePath("big.ecf");
        QVERIFY(writeFile(in, randomBytes(1024 * 1024, 8)));
        const QByteArray earlier = randomBytes(3000, 9);
        QVERIFY(writeFile(out, earlier));
        {
            FileSizeLimit limit(256 * 1024);
            try {
                fileRun(in, out, QStringLiteral("sixteen chars ok"), true);
                QFAIL("no error");
            } catch (const EInOutError& e) {
                QCOMPARE(e.errorCode(), EFBIG);
                QCOMPARE(e.result().failed, ravelin::crypto::IoStep::Write);
                QCOMPARE(e.result().path, out.toStdString());
            }
        }
        QVERIFY(readFile(out) == earlier);
        QVERIFY(temporaries(dir.path()).isEmpty());
    }

    // A link standing under the output's name is replaced by the output; the
    // file it points to is not written.
    void linkUnderOutputNameIsReplaced()
    {
        QTemporaryDir dir;
        const QString in = dir.filePath("in.cab"), out = dir.filePath("in.ecf"),
                      victim = dir.filePath("victim");
        const QByteArray plain = randomBytes(4100, 10);
        QVERIFY(writeFile(in, plain));
        QVERIFY(writeFile(victim, "not to be written"));
        QVERIFY(QFile::link(victim, out));
        fileRun(in, out, QStringLiteral("sixteen chars ok"), true);
        QVERIFY(!QFileInfo(out).isSymLink());
        QVERIFY(readFile(out) == opensslEcb("sixteen chars ok", plain));
        QCOMPARE(readFile(victim), QByteArray("not to be written"));
    }

    void bufferRefusals()
    {
        TBlowFish fish;
        fish.setKey(QStringLiteral("refusals refused"));
        QByteArray big(4097, 'x'), out(4200, '\x55');
        const QByteArray untouched = out;

        fish.setInputType(TBlowFish::SourceByteArray);
        fish.InputData = big.constData();
        fish.OutputData = out.data();
        fish.setInputLength(4097);
        QVERIFY_THROWS_EXCEPTION(ECryptoError, fish.Encrypt(false));
        QVERIFY_THROWS_EXCEPTION(ECryptoError, fish.Decrypt(false));
        fish.setInputLength(-1);
        QVERIFY_THROWS_EXCEPTION(ECryptoError, fish.Encrypt(false));
        QVERIFY(out == untouched);

        fish.setInputLength(16);
        fish.OutputData = nullptr;
        QVERIFY_THROWS_EXCEPTION(ECryptoError, fish.Encrypt(false));

        fish.setInputType(TBlowFish::SourceString);
        fish.setInputString(QString(4097, u'y'));
        fish.OutputData = out.data();
        QVERIFY_THROWS_EXCEPTION(ECryptoError, fish.Encrypt(false));
        QVERIFY(out == untouched);
        fish.setInputString(QStringLiteral("fits"));
        fish.OutputData = nullptr;
        QVERIFY_THROWS_EXCEPTION(ECryptoError, fish.Encrypt(false));
        QCOMPARE(fish.keyLength(), 16); // refused before the key schedule
    }

    void shortIVectorAndEarlyKeepStateRefused()
    {
        TBlowFish fish;
        fish.setKey(QStringLiteral("refusals refused"));
        QByteArray in(16, 'a'), out(16, '\0');
        fish.setInputType(TBlowFish::SourceByteArray);
        fish.InputData = in.constData();
        fish.OutputData = out.data();
        fish.setInputLength(16);
        fish.setCipherMode(TBlowFish::CBCMode);
        fish.setIVector(QStringLiteral("1234567"));
        QVERIFY_THROWS_EXCEPTION(ECryptoError, fish.Encrypt(false));
        QVERIFY_THROWS_EXCEPTION(ECryptoError, fish.Encrypt(true)); // nothing prepared yet
        fish.setIVector(QStringLiteral("12345678"));
        fish.Encrypt(false);
        QCOMPARE(fish.inputLength(), 16);
    }

private:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestBlowfish)
#include "tst_blowfish.moc"
