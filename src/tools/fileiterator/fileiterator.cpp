#include "tools/fileiterator/fileiterator.h"

#include <cstring>
#include <exception>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fileinfo.h"

namespace ravelin::tools {

namespace {

constexpr int kOpenFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

struct DirCloser {
    DIR* dir;
    ~DirCloser() { ::closedir(dir); }
};

} // namespace

// One walk: the options as they were when it began, the volume it keeps to,
// and the bytes of the folder being listed (grown and cut back as the walk
// goes down and up, so no path is built twice).
struct TFileIterator::Walk {
    TFileIterator* self;
    bool withPath;
    bool details;
    bool recurse;
    dev_t device;
    QByteArray folder; // F, without a trailing "/"
    QByteArray bare;   // buffer for bare names when fiPath is off

    // Lists the open folder `fd` (taken over and closed) whose path is
    // `folder`, reporting its files and walking its subfolders depth first.
    void list(int fd)
    {
        DIR* dir = ::fdopendir(fd);
        if (!dir) {
            ::close(fd);
            return;
        }
        DirCloser closer{dir};
        const qsizetype prefix = folder.size();
        while (self->m_state.load(std::memory_order_relaxed) != TFileIteratorState::Stopping) {
            const dirent* entry = ::readdir(dir);
            if (!entry)
                break; // the end, or a folder that stopped being readable
            const char* name = entry->d_name;
            unsigned char type = entry->d_type;
            struct stat st;
            bool haveStat = false;
            if (type == DT_UNKNOWN) {
                if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                    continue; // gone since it was listed
                haveStat = true;
                type = IFTODT(st.st_mode);
            }
            const size_t length = std::strlen(name);

            if (type == DT_DIR) {
                // Covers "." and ".." and every dot-folder.
                if (name[0] == '.' || !recurse)
                    continue;
                const int sub = ::openat(fd, name, kOpenFolderFlags | O_NOFOLLOW);
                if (sub < 0)
                    continue; // unreadable: skipped silently
                struct stat folderStat;
                if (::fstat(sub, &folderStat) != 0 || folderStat.st_dev != device) {
                    ::close(sub); // another volume is mounted here
                    continue;
                }
                folder.append('/');
                folder.append(name, static_cast<qsizetype>(length));
                list(sub);
                folder.truncate(prefix);
                continue;
            }

            // Anything else is a file: regular files, links, devices, pipes.
            TFileInfo info;
            if (details) {
                if (!haveStat && ::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                info.Size = static_cast<int64_t>(st.st_size);
                const platform::DosDateTime dt = platform::toDosDateTime(st.st_mtime);
                info.Time = (static_cast<uint32_t>(dt.date) << 16) | dt.time;
                info.Attr = platform::dosAttributes(st.st_mode, std::string(name, length));
            }
            const QByteArray* reported;
            if (withPath) {
                folder.append('/');
                folder.append(name, static_cast<qsizetype>(length));
                reported = &folder;
            } else {
                bare.truncate(0);
                bare.append(name, static_cast<qsizetype>(length));
                reported = &bare;
            }
            bool canAdd = true;
            self->DoAddFileQuery(*reported, info, canAdd);
            if (canAdd)
                self->DoAddFile(*reported, info);
            if (withPath)
                folder.truncate(prefix);
        }
    }
};

TFileIterator::TFileIterator(QObject* owner) : QObject(owner) {}

TFileIterator::~TFileIterator() = default;

void TFileIterator::checkChangeAllowed() const
{
    if (!m_loading && State() != TFileIteratorState::Idle)
        throw EFileIteratorError(kCannotChangeOptions);
}

void TFileIterator::SetOptions(TFileIteratorOptions options)
{
    checkChangeAllowed();
    m_options = options;
}

void TFileIterator::SetRootFolder(const QByteArray& folder)
{
    checkChangeAllowed();
    m_rootFolder = folder;
}

void TFileIterator::DoAddFile(const QByteArray& fileName, const TFileInfo& info)
{
    if (OnAddFile)
        OnAddFile(this, fileName, info);
}

void TFileIterator::DoAddFileQuery(const QByteArray& fileName, const TFileInfo& info, bool& canAdd)
{
    if (OnAddFileQuery)
        OnAddFileQuery(this, fileName, info, canAdd);
}

void TFileIterator::DoActivate()
{
    if (OnActivate)
        OnActivate(this);
}

void TFileIterator::DoTerminate()
{
    if (OnTerminate)
        OnTerminate(this);
}

bool TFileIterator::HasFileHandlers() const
{
    return static_cast<bool>(OnAddFile) || static_cast<bool>(OnAddFileQuery);
}

void TFileIterator::Stop()
{
    TFileIteratorState expected = TFileIteratorState::Running;
    m_state.compare_exchange_strong(expected, TFileIteratorState::Stopping, std::memory_order_acq_rel);
}

void TFileIterator::Execute()
{
    if (State() != TFileIteratorState::Idle)
        throw EFileIteratorError(kIteratorNotAvailable);
    if (!HasFileHandlers())
        return;
    TFileIteratorState expected = TFileIteratorState::Idle;
    if (!m_state.compare_exchange_strong(expected, TFileIteratorState::Running, std::memory_order_acq_rel))
        throw EFileIteratorError(kIteratorNotAvailable); // another thread won the race

    std::exception_ptr error;
    try {
        DoActivate();
        walkRoot();
    } catch (...) {
        error = std::current_exception();
    }
    try {
        DoTerminate();
    } catch (...) {
        if (!error)
            error = std::current_exception();
    }
    // Last touch of the component: its owner may free it from here on.
    m_state.store(TFileIteratorState::Idle, std::memory_order_release);
    if (error)
        std::rethrow_exception(error);
}

void TFileIterator::walkRoot()
{
    QByteArray folder = m_rootFolder;
    if (folder.endsWith('/'))
        folder.chop(1);
    // An empty folder stands for the root, whose entries are reported as
    // "" + "/" + name.
    const QByteArray native = folder.isEmpty() ? QByteArrayLiteral("/") : folder;
    // The root itself is opened as named (a link given as the root is used);
    // below it no link is ever followed.
    const int fd = ::open(native.constData(), kOpenFolderFlags);
    if (fd < 0)
        return;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return;
    }
    Walk walk{this,
              m_options.testFlag(fiPath),
              m_options.testFlag(fiDetails),
              m_options.testFlag(fiRecurseFolders),
              st.st_dev,
              folder,
              QByteArray()};
    walk.folder.reserve(1024);
    walk.bare.reserve(256);
    walk.list(fd);
}

bool isCabinetFileName(const QByteArray& fileName)
{
    const qsizetype dot = fileName.lastIndexOf('.');
    if (dot < 0 || dot < fileName.lastIndexOf('/'))
        return false;
    return fileName.size() - dot == 4 && fileName.mid(dot).toUpper() == ".CAB";
}

} // namespace ravelin::tools
