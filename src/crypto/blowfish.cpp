#include "crypto/blowfish.h"

#include <QtEndian>

#include <cstring>
#include <string.h> // explicit_bzero

#include "crypto/codepage.h"
#include "crypto/pitable.h"

namespace ravelin::crypto {

namespace {

constexpr int kMinKeyLength = 8;
constexpr int kMaxKeyLength = 65;

// F(x) = ((S1[a] + S2[b]) xor S3[c]) + S4[d], a the most significant byte.
inline quint32 f(const quint32* s, quint32 x)
{
    return ((s[x >> 24] + s[256 + ((x >> 16) & 0xff)]) ^ s[512 + ((x >> 8) & 0xff)]) + s[768 + (x & 0xff)];
}

// N blocks at once: each block's rounds depend on the previous round, so
// running several independent blocks side by side keeps the processor busy
// while a table lookup is in flight.
template <int N>
inline void encipherLanes(const quint32* p, const quint32* s, quint32 (&l)[N], quint32 (&r)[N])
{
#pragma GCC unroll 8
    for (int i = 0; i < N; ++i)
        l[i] ^= p[0];
    for (int round = 1; round < 17; round += 2) {
#pragma GCC unroll 8
        for (int i = 0; i < N; ++i)
            r[i] ^= f(s, l[i]) ^ p[round];
#pragma GCC unroll 8
        for (int i = 0; i < N; ++i)
            l[i] ^= f(s, r[i]) ^ p[round + 1];
    }
#pragma GCC unroll 8
    for (int i = 0; i < N; ++i) {
        const quint32 t = l[i];
        l[i] = r[i] ^ p[17];
        r[i] = t;
    }
}

template <int N>
inline void decipherLanes(const quint32* p, const quint32* s, quint32 (&l)[N], quint32 (&r)[N])
{
#pragma GCC unroll 8
    for (int i = 0; i < N; ++i)
        l[i] ^= p[17];
    for (int round = 16; round > 0; round -= 2) {
#pragma GCC unroll 8
        for (int i = 0; i < N; ++i)
            r[i] ^= f(s, l[i]) ^ p[round];
#pragma GCC unroll 8
        for (int i = 0; i < N; ++i)
            l[i] ^= f(s, r[i]) ^ p[round - 1];
    }
#pragma GCC unroll 8
    for (int i = 0; i < N; ++i) {
        const quint32 t = l[i];
        l[i] = r[i] ^ p[0];
        r[i] = t;
    }
}

template <int N>
inline void transformLanes(bool decipher, const quint32* p, const quint32* s, const quint8* in, quint8* out)
{
    quint32 l[N];
    quint32 r[N];
#pragma GCC unroll 8
    for (int i = 0; i < N; ++i) {
        l[i] = qFromBigEndian<quint32>(in + 8 * i);
        r[i] = qFromBigEndian<quint32>(in + 8 * i + 4);
    }
    if (decipher)
        decipherLanes<N>(p, s, l, r);
    else
        encipherLanes<N>(p, s, l, r);
#pragma GCC unroll 8
    for (int i = 0; i < N; ++i) {
        qToBigEndian<quint32>(l[i], out + 8 * i);
        qToBigEndian<quint32>(r[i], out + 8 * i + 4);
    }
}

constexpr int kLanes = 4;

} // namespace

TBlowFish::TBlowFish(QObject* owner)
    : TCrypto(owner), PArray(std::make_unique<quint32[]>(kPArrayWords)),
      SBoxes(std::make_unique<quint32[]>(kSBoxWords))
{
    BlockSize = 8;
}

TBlowFish::~TBlowFish() = default;

void TBlowFish::encipherHalves()
{
    quint32 one[1] = {*LeftHalf};
    quint32 two[1] = {*RightHalf};
    encipherLanes<1>(PArray.get(), SBoxes.get(), one, two);
    *LeftHalf = one[0];
    *RightHalf = two[0];
}

void TBlowFish::decipherHalves()
{
    quint32 one[1] = {*LeftHalf};
    quint32 two[1] = {*RightHalf};
    decipherLanes<1>(PArray.get(), SBoxes.get(), one, two);
    *LeftHalf = one[0];
    *RightHalf = two[0];
}

void TBlowFish::EncipherBlock()
{
    quint32 left = qFromBigEndian<quint32>(WorkBlock);
    quint32 right = qFromBigEndian<quint32>(WorkBlock + 4);
    LeftHalf = &left;
    RightHalf = &right;
    encipherHalves();
    LeftHalf = RightHalf = nullptr;
    qToBigEndian<quint32>(left, WorkBlock);
    qToBigEndian<quint32>(right, WorkBlock + 4);
}

void TBlowFish::DecipherBlock()
{
    quint32 left = qFromBigEndian<quint32>(WorkBlock);
    quint32 right = qFromBigEndian<quint32>(WorkBlock + 4);
    LeftHalf = &left;
    RightHalf = &right;
    decipherHalves();
    LeftHalf = RightHalf = nullptr;
    qToBigEndian<quint32>(left, WorkBlock);
    qToBigEndian<quint32>(right, WorkBlock + 4);
}

void TBlowFish::SetupKeys()
{
    if (Key.size() < kMinKeyLength || Key.size() > kMaxKeyLength)
        wipeKey();
    std::memcpy(PArray.get(), kPiWords, sizeof(quint32) * kPArrayWords);
    std::memcpy(SBoxes.get(), kPiWords + kPArrayWords, sizeof(quint32) * kSBoxWords);
    if (Key.isEmpty())
        return; // the initial tables as they are: no mixing, no expansion

    // One byte per character in Windows-1252; run() has refused a key with a
    // character that has none, so the length stays the character count.
    quint8 bytes[kMaxKeyLength];
    const int n = int(Key.size());
    {
        QByteArray encoded;
        if (!toWindows1252(Key, &encoded) || encoded.size() != n)
            throw ECryptoError(QStringLiteral("the key holds a character that has no Windows-1252 byte"));
        std::memcpy(bytes, encoded.constData(), size_t(n));
        explicit_bzero(encoded.data(), size_t(encoded.size()));
    }
    int j = 0;
    for (int i = 0; i < kPArrayWords; ++i) {
        const quint32 word = quint32(bytes[j]) << 24 | quint32(bytes[(j + 1) % n]) << 16 |
                             quint32(bytes[(j + 2) % n]) << 8 | quint32(bytes[(j + 3) % n]);
        PArray[i] ^= word;
        j = (j + 4) % n;
    }
    explicit_bzero(bytes, sizeof bytes);

    quint32 left = 0;
    quint32 right = 0;
    LeftHalf = &left;
    RightHalf = &right;
    for (int i = 0; i < kPArrayWords; i += 2) {
        encipherHalves();
        PArray[i] = left;
        PArray[i + 1] = right;
    }
    for (int i = 0; i < kSBoxWords; i += 2) {
        encipherHalves();
        SBoxes[i] = left;
        SBoxes[i + 1] = right;
    }
    LeftHalf = RightHalf = nullptr;
}

bool TBlowFish::TransformBlocks(bool decipher, const quint8* in, quint8* out, qsizetype blocks) const
{
    const quint32* p = PArray.get();
    const quint32* s = SBoxes.get();
    qsizetype b = 0;
    for (; b + kLanes <= blocks; b += kLanes)
        transformLanes<kLanes>(decipher, p, s, in + 8 * b, out + 8 * b);
    for (; b < blocks; ++b)
        transformLanes<1>(decipher, p, s, in + 8 * b, out + 8 * b);
    return true;
}

static void runFile(bool encrypt, const QString& input, const QString& output, const QString& passPhrase)
{
    TBlowFish fish;
    fish.setInputType(TBlowFish::SourceFile);
    fish.setInputFilePath(input);
    fish.setOutputFilePath(output);
    fish.setKey(passPhrase);
    fish.setCipherMode(TBlowFish::ECBMode);
    if (encrypt)
        fish.Encrypt(false);
    else
        fish.Decrypt(false);
}

void encryptFile(const QString& input, const QString& output, const QString& passPhrase)
{
    runFile(true, input, output, passPhrase);
}

void decryptFile(const QString& input, const QString& output, const QString& passPhrase)
{
    runFile(false, input, output, passPhrase);
}

} // namespace ravelin::crypto
