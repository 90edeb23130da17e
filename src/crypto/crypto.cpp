#include "crypto/crypto.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "crypto/codepage.h"
#include "platform/io.h"

namespace ravelin::crypto {

ECryptoError::ECryptoError(const QString& message) : std::runtime_error(message.toLocal8Bit().toStdString())
{
}

ECryptoError::ECryptoError(const std::string& message) : std::runtime_error(message) {}

namespace {

const char* callName(IoStep step)
{
    switch (step) {
    case IoStep::None:
        break;
    case IoStep::Open:
        return "open";
    case IoStep::Create:
        return "create";
    case IoStep::Read:
        return "read";
    case IoStep::Write:
        return "write";
    case IoStep::Close:
        return "close";
    case IoStep::Stat:
        return "stat";
    }
    return "";
}

} // namespace

EInOutError::EInOutError(IoStep step, int errorCode, const std::string& path)
    : ECryptoError(std::string(callName(step)) + " " + io::describe(path, errorCode))
{
    m_result.failed = step;
    m_result.path = path;
    m_result.error = errorCode;
}

QString EInOutError::path() const
{
    return QFile::decodeName(QByteArray::fromStdString(m_result.path));
}

namespace {

// A few threads that share the blocks of one large piece with the caller's
// thread. They live for one file operation.
class BlockWorkers {
public:
    explicit BlockWorkers(int helpers)
    {
        for (int i = 0; i < helpers; ++i)
            m_threads.emplace_back([this, i] { loop(i); });
    }
    ~BlockWorkers()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        for (auto& t : m_threads)
            t.join();
    }
    int parts() const { return int(m_threads.size()) + 1; }

    // Calls job(part) for every part 0 .. parts()-1, part 0 on this thread,
    // and returns when all are done.
    void run(const std::function<void(int)>& job)
    {
        {
            std::lock_guard lock(m_mutex);
            m_job = &job;
            m_pending = int(m_threads.size());
            ++m_generation;
        }
        m_wake.notify_all();
        job(0);
        std::unique_lock lock(m_mutex);
        m_done.wait(lock, [this] { return m_pending == 0; });
        m_job = nullptr;
    }

private:
    void loop(int index)
    {
        quint64 seen = 0;
        for (;;) {
            const std::function<void(int)>* job;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [&] { return m_stop || m_generation != seen; });
                if (m_stop)
                    return;
                seen = m_generation;
                job = m_job;
            }
            (*job)(index + 1);
            {
                std::lock_guard lock(m_mutex);
                --m_pending;
            }
            m_done.notify_one();
        }
    }

    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    const std::function<void(int)>* m_job = nullptr;
    quint64 m_generation = 0;
    int m_pending = 0;
    bool m_stop = false;
};

// The ECB file loop reads this many 4,096-byte pieces at once when the
// cipher can transform many blocks at a time; memory stays at one such piece.
constexpr qsizetype kBulkPieces = 128; // 512 KiB
constexpr int kMaxThreads = 8;

} // namespace

TCrypto::TCrypto(QObject* owner) : QObject(owner) {}

TCrypto::~TCrypto()
{
    wipeKey();
}

void TCrypto::wipeKey()
{
    if (Key.isEmpty()) {
        Key = QString();
        return;
    }
    // data() makes a shared copy our own first, so only our copy is zeroed.
    QChar* own = Key.data();
    std::fill(own, own + Key.size(), QChar(u'\0'));
    Key = QString();
}

void TCrypto::setKey(const QString& key)
{
    wipeKey();
    Key = key;
}

QString TCrypto::inputFilePath() const
{
    return QFile::decodeName(QByteArray::fromStdString(InputFilePath));
}

void TCrypto::setInputFilePath(const QString& path)
{
    InputFilePath = QFile::encodeName(path).toStdString();
}

QString TCrypto::outputFilePath() const
{
    return QFile::decodeName(QByteArray::fromStdString(OutputFilePath));
}

void TCrypto::setOutputFilePath(const QString& path)
{
    OutputFilePath = QFile::encodeName(path).toStdString();
}

bool TCrypto::TransformBlocks(bool, const quint8*, quint8*, qsizetype) const
{
    return false;
}

void TCrypto::Encrypt(bool KeepState)
{
    run(true, KeepState);
}

void TCrypto::Decrypt(bool KeepState)
{
    run(false, KeepState);
}

void TCrypto::run(bool encrypt, bool KeepState)
{
    // Everything that can be refused is refused before anything changes.
    const bool chained = CipherMode == CBCMode || CipherMode == CFBMode;
    if (CipherMode != ECBMode && !chained)
        throw ECryptoError(QStringLiteral("unknown cipher mode %1").arg(int(CipherMode)));
    if (KeepState) {
        if (!m_prepared || (chained && !ChainRegister))
            throw ECryptoError(
                QStringLiteral("KeepState needs an earlier call that prepared the keys and chain"));
    } else {
        if (chained && !IVector.isEmpty() && IVector.size() < BlockSize)
            throw ECryptoError(QStringLiteral("IVector has %1 characters, fewer than the block size %2")
                                   .arg(IVector.size())
                                   .arg(BlockSize));
        // A character without a byte would otherwise have to become some
        // other byte, and phrases that differ would give one key.
        if (const char32_t c = firstUnmappedCharacter(Key))
            throw ECryptoError(
                QStringLiteral("the key holds the character U+%1, which has no Windows-1252 byte")
                    .arg(QString::number(uint(c), 16).toUpper().rightJustified(4, u'0')));
    }
    switch (InputType) {
    case SourceFile:
        break;
    case SourceByteArray:
        if (InputLength < 0 || InputLength > kBufferSize)
            throw ECryptoError(
                QStringLiteral("InputLength %1 is outside 0 to %2 bytes").arg(InputLength).arg(kBufferSize));
        if (!InputData && InputLength > 0)
            throw ECryptoError(QStringLiteral("InputData is not set"));
        if (!OutputData)
            throw ECryptoError(QStringLiteral("OutputData is not set"));
        break;
    case SourceString:
        if (encrypt) {
            if (InputString.size() > kBufferSize)
                throw ECryptoError(QStringLiteral("InputString has %1 characters, more than %2")
                                       .arg(InputString.size())
                                       .arg(kBufferSize));
            if (!OutputData)
                throw ECryptoError(QStringLiteral("OutputData is not set"));
        }
        break;
    default:
        throw ECryptoError(QStringLiteral("unknown input type %1").arg(int(InputType)));
    }

    if (!KeepState)
        prepare();

    switch (InputType) {
    case SourceFile:
        fileLoop(encrypt);
        break;
    case SourceByteArray:
        if (InputLength > 0)
            std::memmove(DataBuffer, InputData, size_t(InputLength));
        runBuffer(encrypt);
        break;
    case SourceString:
        if (encrypt) {
            const QByteArray copy = InputString.toLatin1();
            InputLength = qint32(copy.size());
            InputData = copy.constData();
            std::memcpy(DataBuffer, copy.constData(), size_t(copy.size()));
            DataBuffer[InputLength] = 0;
            runBuffer(true);
            InputData = nullptr; // the copy is released now
        }
        break;
    }
}

void TCrypto::prepare()
{
    SetupKeys();
    if (CipherMode == CBCMode || CipherMode == CFBMode) {
        if (IVector.isEmpty()) {
            QString vector(BlockSize, QChar(u' '));
            for (QChar& c : vector)
                c = QChar(char16_t(33 + QRandomGenerator::global()->bounded(93)));
            IVector = vector;
        }
        if (!ChainRegister)
            ChainRegister = std::make_unique<quint8[]>(BlockSize);
        const QByteArray seed = IVector.left(BlockSize).toLatin1();
        std::memcpy(ChainRegister.get(), seed.constData(), BlockSize);
    }
    m_prepared = true;
}

void TCrypto::runBuffer(bool encrypt)
{
    if (encrypt)
        EncryptBuffer();
    else
        DecryptBuffer();
}

void TCrypto::padBuffer()
{
    while (InputLength % BlockSize != 0)
        DataBuffer[InputLength++] = 0;
}

void TCrypto::EncryptBuffer()
{
    auto* out = static_cast<quint8*>(OutputData);
    const int bs = BlockSize;
    switch (CipherMode) {
    case ECBMode:
        padBuffer();
        if (TransformBlocks(false, DataBuffer, out, InputLength / bs))
            return;
        for (qint32 p = 0; p < InputLength; p += bs) {
            std::memcpy(WorkBlock, DataBuffer + p, bs);
            EncipherBlock();
            std::memcpy(out + p, WorkBlock, bs);
        }
        break;
    case CBCMode:
        padBuffer();
        for (qint32 p = 0; p < InputLength; p += bs) {
            std::memcpy(WorkBlock, DataBuffer + p, bs);
            for (int k = 0; k < bs; ++k)
                WorkBlock[k] ^= ChainRegister[k];
            EncipherBlock();
            std::memcpy(ChainRegister.get(), WorkBlock, bs);
            std::memcpy(out + p, WorkBlock, bs);
        }
        break;
    case CFBMode:
        for (qint32 p = 0; p < InputLength; p += bs) {
            const int n = std::min<qint32>(bs, InputLength - p);
            std::memcpy(WorkBlock, ChainRegister.get(), bs);
            EncipherBlock();
            for (int k = 0; k < n; ++k)
                out[p + k] = DataBuffer[p + k] ^ WorkBlock[k];
            if (n < bs)
                break;
            std::memcpy(ChainRegister.get(), out + p, bs);
        }
        break;
    }
}

void TCrypto::DecryptBuffer()
{
    auto* out = static_cast<quint8*>(OutputData);
    const int bs = BlockSize;
    quint8 cipherText[65];
    switch (CipherMode) {
    case ECBMode:
        padBuffer();
        if (TransformBlocks(true, DataBuffer, out, InputLength / bs))
            return;
        for (qint32 p = 0; p < InputLength; p += bs) {
            std::memcpy(WorkBlock, DataBuffer + p, bs);
            DecipherBlock();
            std::memcpy(out + p, WorkBlock, bs);
        }
        break;
    case CBCMode:
        padBuffer();
        for (qint32 p = 0; p < InputLength; p += bs) {
            std::memcpy(WorkBlock, DataBuffer + p, bs);
            DecipherBlock();
            for (int k = 0; k < bs; ++k)
                WorkBlock[k] ^= ChainRegister[k];
            std::memcpy(ChainRegister.get(), DataBuffer + p, bs);
            std::memcpy(out + p, WorkBlock, bs);
        }
        break;
    case CFBMode:
        for (qint32 p = 0; p < InputLength; p += bs) {
            const int n = std::min<qint32>(bs, InputLength - p);
            std::memcpy(WorkBlock, ChainRegister.get(), bs);
            EncipherBlock(); // CFB deciphers with the forward cipher
            std::memcpy(cipherText, DataBuffer + p, n);
            if (n == bs)
                std::memcpy(ChainRegister.get(), cipherText, bs);
            for (int k = 0; k < n; ++k)
                out[p + k] = cipherText[k] ^ WorkBlock[k];
            if (n < bs)
                break;
        }
        break;
    }
}

void TCrypto::fileLoop(bool encrypt)
{
    int error = 0;
    io::Fd in = io::openForReading(InputFilePath, &error);
    if (!in)
        throw EInOutError(IoStep::Open, error, InputFilePath);
    struct stat inStat {};
    if (::fstat(in.get(), &inStat) != 0)
        throw EInOutError(IoStep::Stat, errno, InputFilePath);

    // The block modes only ever write whole blocks: anything else was cut
    // short or was never encrypted, and deciphering it would pad it into a
    // file that looks whole.
    const bool padded = CipherMode == ECBMode || CipherMode == CBCMode;
    if (!encrypt && padded && (inStat.st_size == 0 || inStat.st_size % BlockSize != 0))
        throw ECryptoError(InputFilePath + ": not an encrypted file (" + std::to_string(inStat.st_size) +
                           " bytes, not a whole number of " + std::to_string(BlockSize) + "-byte blocks)");

    // Refused before a byte is written: an output that is the input (the same
    // name, another spelling, a link). The output file refuses a folder or
    // device under its name itself.
    struct stat outStat {};
    if (::stat(OutputFilePath.c_str(), &outStat) == 0 && io::sameFile(inStat, outStat))
        throw ECryptoError("the output " + OutputFilePath + " is the input file " + InputFilePath);
    io::OutputFile out;
    if (!out.create(OutputFilePath))
        throw EInOutError(IoStep::Create, out.error(), OutputFilePath);

    InputData = DataBuffer;
    OutputData = DataBuffer;

    const bool bulk = CipherMode == ECBMode && BlockSize > 0 && kBufferSize % BlockSize == 0 &&
                      TransformBlocks(!encrypt, DataBuffer, DataBuffer, 0);
    if (!bulk) {
        for (;;) {
            const ssize_t n = io::readAll(in.get(), DataBuffer, kBufferSize);
            if (n < 0)
                throw EInOutError(IoStep::Read, errno, InputFilePath);
            InputLength = qint32(n);
            const bool last = n < kBufferSize;
            runBuffer(encrypt);
            if (!out.write(DataBuffer, size_t(InputLength)))
                throw EInOutError(IoStep::Write, out.error(), OutputFilePath);
            if (last)
                break;
        }
    } else {
        // ECB blocks are independent: many pieces are read at once and their
        // blocks shared among threads. The bytes written are those of the
        // piece-by-piece loop.
        const qsizetype chunk = kBulkPieces * kBufferSize;
        const auto buffer = std::make_unique<quint8[]>(size_t(chunk + BlockSize));
        const qsizetype bs = BlockSize;
        std::unique_ptr<BlockWorkers> workers;
        if (inStat.st_size > chunk) {
            const int threads = std::clamp(int(std::thread::hardware_concurrency()), 1, kMaxThreads);
            if (threads > 1)
                workers = std::make_unique<BlockWorkers>(threads - 1);
        }
        for (;;) {
            qsizetype n = io::readAll(in.get(), buffer.get(), size_t(chunk));
            if (n < 0)
                throw EInOutError(IoStep::Read, errno, InputFilePath);
            const bool last = n < chunk;
            while (n % bs != 0)
                buffer[n++] = 0;
            const qsizetype blocks = n / bs;
            quint8* data = buffer.get();
            if (workers && blocks >= 2 * workers->parts()) {
                const int parts = workers->parts();
                workers->run([&](int part) {
                    const qsizetype from = blocks * part / parts;
                    const qsizetype to = blocks * (part + 1) / parts;
                    TransformBlocks(!encrypt, data + from * bs, data + from * bs, to - from);
                });
            } else {
                TransformBlocks(!encrypt, data, data, blocks);
            }
            if (!out.write(data, size_t(n)))
                throw EInOutError(IoStep::Write, out.error(), OutputFilePath);
            if (n > 0)
                InputLength = qint32((n - 1) % kBufferSize + 1);
            else
                InputLength = 0;
            if (last)
                break;
        }
    }

    if (const int e = in.close())
        throw EInOutError(IoStep::Close, e, InputFilePath);
    // Only a complete output takes the final name.
    if (!out.commit())
        throw EInOutError(IoStep::Close, out.error(), OutputFilePath);
}

} // namespace ravelin::crypto
