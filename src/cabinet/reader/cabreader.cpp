#include "cabinet/reader/cabreader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <mspack.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace ravelin::cabreader {

namespace {

// libmspack reaches files only through this table. Files are plain
// descriptors; when `discard` is set, files opened for writing swallow their
// data, which is how a cabinet is tested without writing anything.
struct FdFile {
    int fd = -1;
    bool sink = false;
};

struct ReaderSystem {
    mspack_system base;
    bool discard = false;
};

mspack_file* sysOpen(mspack_system* self, const char* filename, int mode)
{
    auto* sys = reinterpret_cast<ReaderSystem*>(self);
    auto* f = new (std::nothrow) FdFile;
    if (!f)
        return nullptr;
    if (mode == MSPACK_SYS_OPEN_WRITE && sys->discard) {
        f->sink = true;
        return reinterpret_cast<mspack_file*>(f);
    }
    int flags = O_CLOEXEC;
    switch (mode) {
    case MSPACK_SYS_OPEN_READ: flags |= O_RDONLY; break;
    case MSPACK_SYS_OPEN_WRITE: flags |= O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW; break;
    case MSPACK_SYS_OPEN_UPDATE: flags |= O_RDWR; break;
    case MSPACK_SYS_OPEN_APPEND: flags |= O_WRONLY | O_APPEND; break;
    default: delete f; return nullptr;
    }
    f->fd = ::open(filename, flags, 0666);
    if (f->fd < 0) {
        delete f;
        return nullptr;
    }
    return reinterpret_cast<mspack_file*>(f);
}

void sysClose(mspack_file* file)
{
    auto* f = reinterpret_cast<FdFile*>(file);
    if (f->fd >= 0)
        ::close(f->fd);
    delete f;
}

int sysRead(mspack_file* file, void* buffer, int bytes)
{
    auto* f = reinterpret_cast<FdFile*>(file);
    if (f->sink || bytes < 0)
        return -1;
    int done = 0;
    while (done < bytes) {
        const ssize_t n = ::read(f->fd, static_cast<char*>(buffer) + done, size_t(bytes - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += int(n);
    }
    return done;
}

int sysWrite(mspack_file* file, void* buffer, int bytes)
{
    auto* f = reinterpret_cast<FdFile*>(file);
    if (bytes < 0)
        return -1;
    if (f->sink)
        return bytes;
    int done = 0;
    while (done < bytes) {
        const ssize_t n = ::write(f->fd, static_cast<char*>(buffer) + done, size_t(bytes - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        done += int(n);
    }
    return done;
}

int sysSeek(mspack_file* file, off_t offset, int mode)
{
    auto* f = reinterpret_cast<FdFile*>(file);
    if (f->sink)
        return -1;
    int whence = SEEK_SET;
    if (mode == MSPACK_SYS_SEEK_CUR)
        whence = SEEK_CUR;
    else if (mode == MSPACK_SYS_SEEK_END)
        whence = SEEK_END;
    return ::lseek(f->fd, offset, whence) < 0 ? -1 : 0;
}

off_t sysTell(mspack_file* file)
{
    auto* f = reinterpret_cast<FdFile*>(file);
    return f->sink ? 0 : ::lseek(f->fd, 0, SEEK_CUR);
}

void sysMessage(mspack_file*, const char*, ...) {}
void* sysAlloc(mspack_system*, size_t bytes) { return std::malloc(bytes); }
void sysFree(void* p) { std::free(p); }
void sysCopy(void* src, void* dst, size_t bytes) { std::memmove(dst, src, bytes); }

const char* mspackText(int code)
{
    switch (code) {
    case MSPACK_ERR_OK: return "no error";
    case MSPACK_ERR_ARGS: return "bad arguments";
    case MSPACK_ERR_OPEN: return "cannot open file";
    case MSPACK_ERR_READ: return "read error";
    case MSPACK_ERR_WRITE: return "write error";
    case MSPACK_ERR_SEEK: return "seek error";
    case MSPACK_ERR_NOMEMORY: return "out of memory";
    case MSPACK_ERR_SIGNATURE: return "not a cabinet";
    case MSPACK_ERR_DATAFORMAT: return "bad cabinet format";
    case MSPACK_ERR_CHECKSUM: return "checksum error";
    case MSPACK_ERR_CRUNCH: return "compression error";
    case MSPACK_ERR_DECRUNCH: return "decompression error";
    default: return "unknown error";
    }
}

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

QString decodeName(const mscabd_file* f)
{
    const QByteArray raw(f->filename);
    if (f->attribs & MSCAB_ATTRIB_UTF_NAME)
        return QString::fromUtf8(raw);
    return QString::fromLatin1(raw);
}

// libmspack refuses a cabinet without files, which is still a well-formed
// cabinet: a bare 36-byte header with no folders and no files.
bool isEmptyCabinet(const QByteArray& path)
{
    QFile f(QFile::decodeName(path));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray h = f.read(37);
    if (h.size() != 36 || !h.startsWith("MSCF"))
        return false;
    const auto u16 = [&h](int at) { return uint8_t(h[at]) | (uint8_t(h[at + 1]) << 8); };
    const auto u32 = [&](int at) { return uint32_t(u16(at)) | (uint32_t(u16(at + 2)) << 16); };
    return u32(8) == 36 && u16(24) == 0x0103 && u16(26) == 0 && u16(28) == 0 && u16(30) == 0;
}

// One opened cabinet with its decompressor; closes both when it goes away.
class OpenCabinet {
public:
    explicit OpenCabinet(bool discard)
    {
        m_sys.base = {sysOpen, sysClose, sysRead, sysWrite, sysSeek, sysTell,
                      sysMessage, sysAlloc, sysFree, sysCopy, nullptr};
        m_sys.discard = discard;
        m_cabd = mspack_create_cab_decompressor(&m_sys.base);
    }
    ~OpenCabinet()
    {
        if (m_cabd) {
            if (m_cab)
                m_cabd->close(m_cabd, m_cab);
            mspack_destroy_cab_decompressor(m_cabd);
        }
    }
    OpenCabinet(const OpenCabinet&) = delete;
    OpenCabinet& operator=(const OpenCabinet&) = delete;

    bool open(const QString& path, QString* error)
    {
        if (!m_cabd) {
            setError(error, QStringLiteral("cannot start the cabinet reader"));
            return false;
        }
        m_path = path;
        // libmspack keeps this pointer and reopens the cabinet by it.
        m_encodedPath = QFile::encodeName(path);
        m_cab = m_cabd->open(m_cabd, m_encodedPath.constData());
        if (!m_cab && isEmptyCabinet(m_encodedPath))
            return true;
        if (!m_cab) {
            int code = m_cabd->last_error(m_cabd);
            // A file too short to hold a header reads as a read error.
            QFile f(path);
            if (f.open(QIODevice::ReadOnly) && !f.read(4).startsWith("MSCF"))
                code = MSPACK_ERR_SIGNATURE;
            setError(error, QStringLiteral("cannot open cabinet %1: %2").arg(path, QLatin1String(mspackText(code))));
            return false;
        }
        return true;
    }

    mscabd_file* files() const { return m_cab ? m_cab->files : nullptr; }

    bool extract(mscabd_file* f, const QByteArray& to, QString* error)
    {
        const int rc = m_cabd->extract(m_cabd, f, to.constData());
        if (rc != MSPACK_ERR_OK) {
            setError(error, QStringLiteral("cannot extract %1 from %2: %3")
                                .arg(decodeName(f), m_path, QLatin1String(mspackText(rc))));
            return false;
        }
        return true;
    }

private:
    ReaderSystem m_sys{};
    mscab_decompressor* m_cabd = nullptr;
    mscabd_cabinet* m_cab = nullptr;
    QString m_path;
    QByteArray m_encodedPath;
};

uint16_t packDate(const mscabd_file* f)
{
    return uint16_t(((f->date_y - 1980) << 9) | (f->date_m << 5) | f->date_d);
}

uint16_t packTime(const mscabd_file* f)
{
    return uint16_t((f->time_h << 11) | (f->time_m << 5) | (f->time_s / 2));
}

}  // namespace

QString safeRelativePath(const QString& storedName)
{
    QString name = storedName;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')))
        return {};
    const QStringList parts = name.split(QLatin1Char('/'));
    for (const QString& part : parts)
        if (part.isEmpty() || part == QLatin1String("..") || part == QLatin1String("."))
            return {};
    return name;
}

bool list(const QString& cabinetPath, QList<Entry>* entries, QString* error)
{
    if (entries)
        entries->clear();
    OpenCabinet cab(false);
    if (!cab.open(cabinetPath, error))
        return false;
    for (mscabd_file* f = cab.files(); f; f = f->next) {
        Entry e;
        e.name = decodeName(f);
        e.size = f->length;
        e.dosDate = packDate(f);
        e.dosTime = packTime(f);
        e.attributes = uint16_t(f->attribs);
        if (entries)
            entries->append(e);
    }
    return true;
}

bool test(const QString& cabinetPath, QString* error)
{
    OpenCabinet cab(true);
    if (!cab.open(cabinetPath, error))
        return false;
    for (mscabd_file* f = cab.files(); f; f = f->next)
        if (!cab.extract(f, QByteArrayLiteral("(test)"), error))
            return false;
    return true;
}

bool extractFile(const QString& cabinetPath, const QString& storedName,
                 const QString& destinationPath, QString* error)
{
    OpenCabinet cab(false);
    if (!cab.open(cabinetPath, error))
        return false;
    // "\" and "/" both separate directories in stored names.
    const auto normal = [](QString n) { return n.replace(QLatin1Char('\\'), QLatin1Char('/')); };
    const QString wanted = normal(storedName);
    mscabd_file* found = nullptr;
    for (mscabd_file* f = cab.files(); f && !found; f = f->next)
        if (normal(decodeName(f)) == wanted)
            found = f;
    for (mscabd_file* f = cab.files(); f && !found; f = f->next)
        if (normal(decodeName(f)).compare(wanted, Qt::CaseInsensitive) == 0)
            found = f;
    if (!found) {
        setError(error, QStringLiteral("%1 is not in cabinet %2").arg(storedName, cabinetPath));
        return false;
    }

    // Written beside the destination first, so a failure never leaves a
    // truncated file under the real name.
    const QByteArray dest = QFile::encodeName(destinationPath);
    QByteArray pattern = QFile::encodeName(
        QFileInfo(destinationPath).absolutePath() + QStringLiteral("/.ravelin-XXXXXX"));
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        setError(error, QStringLiteral("cannot create %1: %2")
                            .arg(destinationPath, QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }
    ::close(fd);
    if (!cab.extract(found, pattern, error)) {
        ::unlink(pattern.constData());
        return false;
    }
    ::chmod(pattern.constData(), 0644 & ~[] { mode_t m = ::umask(0); ::umask(m); return m; }());
    if (::rename(pattern.constData(), dest.constData()) != 0) {
        setError(error, QStringLiteral("cannot write %1: %2")
                            .arg(destinationPath, QString::fromLocal8Bit(std::strerror(errno))));
        ::unlink(pattern.constData());
        return false;
    }
    return true;
}

bool extractAll(const QString& cabinetPath, const QString& directory, QStringList* written,
                QString* error)
{
    if (written)
        written->clear();
    OpenCabinet cab(false);
    if (!cab.open(cabinetPath, error))
        return false;
    for (mscabd_file* f = cab.files(); f; f = f->next) {
        if (safeRelativePath(decodeName(f)).isEmpty()) {
            setError(error, QStringLiteral("refusing unsafe name \"%1\" in %2")
                                .arg(decodeName(f), cabinetPath));
            return false;
        }
    }
    QDir base(directory);
    if (!base.mkpath(QStringLiteral("."))) {
        setError(error, QStringLiteral("cannot create directory %1").arg(directory));
        return false;
    }
    for (mscabd_file* f = cab.files(); f; f = f->next) {
        const QString rel = safeRelativePath(decodeName(f));
        const QString target = base.filePath(rel);
        const QString parent = QFileInfo(target).path();
        if (!QDir().mkpath(parent)) {
            setError(error, QStringLiteral("cannot create directory %1").arg(parent));
            return false;
        }
        if (!cab.extract(f, QFile::encodeName(target), error))
            return false;
        if (written)
            written->append(target);
    }
    return true;
}

}  // namespace ravelin::cabreader
