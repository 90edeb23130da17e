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

namespace ravelin::crypto {

ECryptoError::ECryptoError(const QString& message) : std::runtime_error(message.toLocal8Bit().toStdString())
{
}

EInOutError::EInOutError(int errorCode, const QString& path, const char* step)
    : ECryptoError(QStringLiteral("%1 %2: %3")
                       .arg(QLatin1String(step), path, QString::fromLocal8Bit(std::strerror(errorCode)))),
      m_errorCode(errorCode), m_path(path), m_step(QLatin1String(step))
{
}

namespace {

// A descriptor closed on every path; close() reports the error of a normal end.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    // Closes and returns close()'s errno, or 0.
    int close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0 ? 0 : errno;
    }

private:
    int m_fd;
};

QByteArray encodedPath(const QString& path)
{
    return QFile::encodeName(path);
}

// Reads until `size` bytes came or the end of the file; the count read.
qsizetype readFully(int fd, quint8* buffer, qsizetype size, const QString& path)
{
    qsizetype done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, buffer + done, size_t(size - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw EInOutError(errno, path, "read");
        }
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

// A short write is continued: the output is either complete or an error is
// raised, never quietly shorter.
void writeFully(int fd, const quint8* buffer, qsizetype size, const QString& path)
{
    qsizetype done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, buffer + done, size_t(size - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw EInOutError(errno, path, "write");
        }
        if (n == 0)
            throw EInOutError(EIO, path, "write");
        done += n;
    }
}

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
    } else if (chained && !IVector.isEmpty() && IVector.size() < BlockSize) {
        throw ECryptoError(QStringLiteral("IVector has %1 characters, fewer than the block size %2")
                               .arg(IVector.size())
                               .arg(BlockSize));
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
    const QByteArray inName = encodedPath(InputFilePath);
    const QByteArray outName = encodedPath(OutputFilePath);

    // The input is only read; it is opened read-only so a file on read-only
    // media can be processed.
    FileDescriptor in(::open(inName.constData(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        throw EInOutError(errno, InputFilePath, "open");
    struct stat inStat {};
    if (::fstat(in.get(), &inStat) != 0)
        throw EInOutError(errno, InputFilePath, "stat");
    if (S_ISDIR(inStat.st_mode))
        throw EInOutError(EISDIR, InputFilePath, "open");

    // Opened without O_TRUNC so an output that is the input (the same name,
    // a link, another path) is recognised before a byte of it is lost.
    FileDescriptor out(::open(outName.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
    if (out.get() < 0)
        throw EInOutError(errno, OutputFilePath, "create");
    struct stat outStat {};
    if (::fstat(out.get(), &outStat) != 0)
        throw EInOutError(errno, OutputFilePath, "stat");
    if (outStat.st_dev == inStat.st_dev && outStat.st_ino == inStat.st_ino)
        throw ECryptoError(
            QStringLiteral("the output %1 is the input file %2").arg(OutputFilePath, InputFilePath));
    if (S_ISREG(outStat.st_mode) && ::ftruncate(out.get(), 0) != 0)
        throw EInOutError(errno, OutputFilePath, "create");

    InputData = DataBuffer;
    OutputData = DataBuffer;

    const bool bulk = CipherMode == ECBMode && BlockSize > 0 && kBufferSize % BlockSize == 0 &&
                      TransformBlocks(!encrypt, DataBuffer, DataBuffer, 0);
    if (!bulk) {
        for (;;) {
            const qsizetype n = readFully(in.get(), DataBuffer, kBufferSize, InputFilePath);
            InputLength = qint32(n);
            const bool last = n < kBufferSize;
            runBuffer(encrypt);
            writeFully(out.get(), DataBuffer, InputLength, OutputFilePath);
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
        if (S_ISREG(inStat.st_mode) && inStat.st_size > chunk) {
            const int threads = std::clamp(int(std::thread::hardware_concurrency()), 1, kMaxThreads);
            if (threads > 1)
                workers = std::make_unique<BlockWorkers>(threads - 1);
        }
        for (;;) {
            qsizetype n = readFully(in.get(), buffer.get(), chunk, InputFilePath);
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
            writeFully(out.get(), data, n, OutputFilePath);
            if (n > 0)
                InputLength = qint32((n - 1) % kBufferSize + 1);
            else
                InputLength = 0;
            if (last)
                break;
        }
    }

    if (const int e = in.close())
        throw EInOutError(e, InputFilePath, "close");
    if (const int e = out.close())
        throw EInOutError(e, OutputFilePath, "close");
}

} // namespace ravelin::crypto
