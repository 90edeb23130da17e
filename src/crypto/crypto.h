#pragma once
// TCrypto: the base of the block-cipher components. It owns the data buffer,
// the input and output settings, the three chaining modes, padding and the
// file loop, and leaves the block transformation and the key schedule to a
// derived class (TBlowFish, crypto/blowfish.h).
//
// A component is configured through its properties, then Encrypt or Decrypt
// runs once per operation. Nothing is computed when a property is assigned.
//
// Sources (InputType):
//   SourceFile       InputFilePath is read and OutputFilePath written, 4,096
//                    bytes at a time. Every piece is padded the way the mode
//                    pads, so in ECBMode and CBCMode the output is the input
//                    zero-padded to a multiple of BlockSize.
//   SourceByteArray  InputLength bytes (at most 4,096) from InputData are
//                    processed into OutputData; InputLength then holds the
//                    padded length.
//   SourceString     the bytes of InputString (Latin-1, at most 4,096) are
//                    encrypted into OutputData; InputLength holds the padded
//                    length. Decrypt with this source only prepares the keys.
//
// Modes (CipherMode): ECBMode and CBCMode zero-pad to a multiple of BlockSize;
// CFBMode never pads. CBCMode and CFBMode chain through ChainRegister, seeded
// from the first BlockSize bytes of IVector (random characters "!".."}" are
// generated into IVector when it is empty).
//
// Files (SourceFile): a path is held as its bytes and used exactly as given.
// The input must be a regular file (a pipe, socket or device is refused
// without blocking). The output is written beside its final name under a
// hidden temporary name and renamed over it only when complete, so a failure
// (or the process being stopped) never leaves a partial output under the
// final name, and an earlier file of that name stays exactly as it was until
// then. A link standing under the output's name is replaced, not followed.
// Decryption in ECBMode and CBCMode refuses an input that is empty or not a
// whole number of blocks: it is not an encrypted file.
//
// Errors: every failure is thrown, nothing is returned.
//   EInOutError   an open, read, write, close or stat failed: carries the
//                 call (IoStep), the path and the system error number (errno,
//                 or io::kNotRegularFile for a path that is not a regular file).
//   ECryptoError  refused before anything is written: a buffer or string
//                 source over 4,096 bytes, an unset OutputData, an IVector
//                 shorter than BlockSize, a Key holding a character with no
//                 Windows-1252 byte, an output file that is the input file
//                 (same device and inode, also through links), an input that
//                 is not an encrypted file, KeepState without an earlier
//                 preparation.
// A failure leaves no output under the final name that was not there before.
//
// Threads: one caller at a time. The ECB file loop may spread the block work
// of one call over several threads internally; the call still completes on
// the caller's thread before it returns.
#include <QObject>
#include <QString>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/io.h"

namespace ravelin::crypto {

// Misuse of a cipher component; the message names what was refused.
class ECryptoError : public std::runtime_error {
public:
    explicit ECryptoError(const QString& message);
    // A message whose paths are bytes, kept as they are.
    explicit ECryptoError(const std::string& message);
};

// The file call that failed.
enum class IoStep { None, Open, Create, Read, Write, Close, Stat };

// A failed system call on a file: the call, the path it was working on and
// errno.
class EInOutError : public ECryptoError {
public:
    // The message reads "<call> <path>: <system's reason>" ("open", "create",
    // "read", "write", "close", "stat"; the path's bytes as they are;
    // io::reasonText).
    EInOutError(IoStep step, int errorCode, const std::string& path);
    // The failed call, its path (bytes) and its errno.
    const io::StepResult<IoStep>& result() const { return m_result; }
    IoStep step() const { return m_result.failed; }
    int errorCode() const { return m_result.error; }
    // The path as text (for the windows) and as its bytes.
    QString path() const;
    const std::string& pathBytes() const { return m_result.path; }

private:
    io::StepResult<IoStep> m_result;
};

class TCrypto : public QObject {
    Q_OBJECT
    Q_PROPERTY(TSourceType InputType READ inputType WRITE setInputType STORED true)
    Q_PROPERTY(QString InputFilePath READ inputFilePath WRITE setInputFilePath STORED true)
    Q_PROPERTY(QString OutputFilePath READ outputFilePath WRITE setOutputFilePath STORED true)
    Q_PROPERTY(QString InputString READ inputString WRITE setInputString STORED true)
    Q_PROPERTY(qint32 InputLength READ inputLength WRITE setInputLength STORED true)
    Q_PROPERTY(TCipherMode CipherMode READ cipherMode WRITE setCipherMode STORED true)
    Q_PROPERTY(QString IVector READ iVector WRITE setIVector STORED false)

public:
    enum TSourceType : quint8 { SourceFile = 0, SourceByteArray = 1, SourceString = 2 };
    Q_ENUM(TSourceType)
    enum TCipherMode : quint8 { ECBMode = 0, CBCMode = 1, CFBMode = 2 };
    Q_ENUM(TCipherMode)

    // Size of DataBuffer's payload: a file is processed this many bytes at a
    // time, and the buffer sources take at most this many bytes.
    static constexpr int kBufferSize = 4096;

    // The component belongs to `owner` (may be null) and is destroyed with it.
    explicit TCrypto(QObject* owner = nullptr);
    // Frees ChainRegister and overwrites the component's own copy of Key with
    // zero characters (a copy shared with the caller is first made the
    // component's own, so the caller's text is left as it is).
    ~TCrypto() override;

    TCrypto(const TCrypto&) = delete;
    TCrypto& operator=(const TCrypto&) = delete;

    // Key: the pass phrase, one byte per character in Windows-1252
    // (crypto/codepage.h). A character without a Windows-1252 byte is never
    // replaced: Encrypt and Decrypt refuse the key. Write only: there is no
    // reader, only keyLength() so a caller can see that an unusable key was
    // emptied.
    void setKey(const QString& key);
    int keyLength() const { return int(Key.size()); }

    TSourceType inputType() const { return InputType; }
    void setInputType(TSourceType type) { InputType = type; }
    // The file paths as text: a window's path is taken as the bytes it
    // encodes to (QFile::encodeName), and read back decoded.
    QString inputFilePath() const;
    void setInputFilePath(const QString& path);
    QString outputFilePath() const;
    void setOutputFilePath(const QString& path);
    // The same paths as their exact bytes, for callers that hold bytes (the
    // command line, the setup program).
    const std::string& inputFilePathBytes() const { return InputFilePath; }
    void setInputFilePathBytes(const std::string& path) { InputFilePath = path; }
    const std::string& outputFilePathBytes() const { return OutputFilePath; }
    void setOutputFilePathBytes(const std::string& path) { OutputFilePath = path; }
    QString inputString() const { return InputString; }
    void setInputString(const QString& text) { InputString = text; }
    qint32 inputLength() const { return InputLength; }
    void setInputLength(qint32 length) { InputLength = length; }
    TCipherMode cipherMode() const { return CipherMode; }
    void setCipherMode(TCipherMode mode) { CipherMode = mode; }
    QString iVector() const { return IVector; }
    void setIVector(const QString& vector) { IVector = vector; }
    quint8 blockSize() const { return BlockSize; }

    // Encrypts according to InputType. Unless KeepState is true the
    // preparation runs first: SetupKeys, and in CBCMode / CFBMode the
    // ChainRegister seeded from IVector. KeepState true continues the key
    // schedule and chain of the previous call on this component (which must
    // have prepared them). Throws EInOutError / ECryptoError.
    void Encrypt(bool KeepState = false);
    // The same with decryption. With SourceString it only prepares.
    void Decrypt(bool KeepState = false);

    // Where the input bytes come from in SourceByteArray (set by the
    // component itself for the other sources).
    const void* InputData = nullptr;
    // Where EncryptBuffer / DecryptBuffer write; the caller must set it for
    // SourceByteArray and SourceString (at least InputLength rounded up to
    // BlockSize bytes). SourceFile points it at DataBuffer.
    void* OutputData = nullptr;

protected:
    // Virtual operations, in slot order.
    virtual void EncipherBlock() = 0; // WorkBlock[0 .. BlockSize) in place
    virtual void DecipherBlock() = 0; // WorkBlock[0 .. BlockSize) in place
    virtual void SetupKeys() = 0;     // the key schedule from Key
    // DataBuffer[0 .. InputLength) into OutputData by CipherMode; pads
    // InputLength in ECBMode and CBCMode.
    virtual void EncryptBuffer();
    virtual void DecryptBuffer();

    // ECB over whole blocks, from `in` to `out` (which may be equal), for a
    // derived class that can do many blocks faster than EncipherBlock one at
    // a time. It is called from several threads at once and must only read
    // the key schedule. Returns false when not offered (the default); the
    // loops then use EncipherBlock / DecipherBlock.
    virtual bool TransformBlocks(bool decipher, const quint8* in, quint8* out, qsizetype blocks) const;

    // Overwrites the component's own copy of Key with zeros and empties it.
    void wipeKey();

    QString IVector;
    std::unique_ptr<quint8[]> ChainRegister; // BlockSize bytes once allocated
    QString Key;
    TSourceType InputType = SourceFile;
    TCipherMode CipherMode = ECBMode;
    std::string InputFilePath;  // bytes
    std::string OutputFilePath; // bytes
    QString InputString;
    qint32 InputLength = 0;
    alignas(16) quint8 DataBuffer[kBufferSize + 1] = {};
    alignas(16) quint8 WorkBlock[65] = {};
    quint8 BlockSize = 0;

private:
    void prepare();
    void run(bool encrypt, bool KeepState);
    void runBuffer(bool encrypt);
    void padBuffer();
    void fileLoop(bool encrypt);
    bool m_prepared = false;
};

} // namespace ravelin::crypto
