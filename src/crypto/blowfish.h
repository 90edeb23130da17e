#pragma once
// TBlowFish: the Blowfish block cipher (64-bit block, 16 rounds, big-endian
// block halves) on top of TCrypto, keyed with the bytes of a pass phrase of
// 8 to 65 characters, all of which are used. A key of another length is
// emptied by the key schedule and the cipher then runs on the initial tables
// (the digits of pi) without key mixing or expansion.
//
// The encrypted-file format written file to file in ECBMode: no header, the
// plaintext zero-padded to a multiple of 8 bytes, each 8-byte block
// enciphered by itself. Any conforming Blowfish (OpenSSL's BF_ecb_encrypt
// with the same key bytes) reads and writes the same blocks; decryption
// writes every byte, padding included.
//
// Typical use, as every caller in this program does it:
//     TBlowFish fish(owner);
//     fish.setInputType(TBlowFish::SourceFile);
//     fish.setInputFilePath(in);
//     fish.setOutputFilePath(out);
//     fish.setKey(passPhrase);
//     fish.setCipherMode(TBlowFish::ECBMode);
//     fish.Encrypt(false);          // throws EInOutError / ECryptoError
// or the short forms encryptFile / decryptFile below.
#include "crypto/crypto.h"

namespace ravelin::crypto {

class TBlowFish : public TCrypto {
    Q_OBJECT

public:
    // Sets BlockSize to 8 and allocates the tables; builds no key schedule.
    explicit TBlowFish(QObject* owner = nullptr);
    ~TBlowFish() override;

protected:
    void EncipherBlock() override;
    void DecipherBlock() override;
    void SetupKeys() override;
    bool TransformBlocks(bool decipher, const quint8* in, quint8* out, qsizetype blocks) const override;

    std::unique_ptr<quint32[]> PArray; // P1..P18
    std::unique_ptr<quint32[]> SBoxes; // S-boxes 1..4, 256 words each
    // The halves the round code works on: the two words of the block being
    // transformed, or the pair of words of the key expansion.
    quint32* LeftHalf = nullptr;
    quint32* RightHalf = nullptr;

private:
    void encipherHalves();
    void decipherHalves();
};

// Encrypts the file `input` into `output` (created, or replaced once the new
// file is complete) in ECBMode with `passPhrase` as the key (its Windows-1252
// bytes). Throws EInOutError / ECryptoError.
void encryptFile(const QString& input, const QString& output, const QString& passPhrase);
// Decrypts likewise; the output keeps the padding zeros. An input that is
// empty or not whole 8-byte blocks is refused (not an encrypted file).
void decryptFile(const QString& input, const QString& output, const QString& passPhrase);

} // namespace ravelin::crypto
