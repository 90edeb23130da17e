#pragma once
// TFileIterator: walks a folder tree and reports every file through events.
//
// Names are bytes: the root folder and every reported name are the exact
// bytes of the file system (readdir), never text, so a name that is not
// valid UTF-8 is reported as the path that exists.
//
// The walk lists each folder as the file system orders it, hidden entries
// included. Folders whose name begins with "." are never entered, symbolic
// links are never followed (a link is reported as a file), and the walk stays
// on the volume its root folder lives on (st_dev, like `find -xdev`). A
// folder that cannot be opened or listed yields nothing and the walk goes on
// with its parent.
//
// Threads: Execute() raises every event synchronously on the thread that
// calls it and hands nothing over to any other thread. Stop(), State() and
// Available() may be called from any thread. Options, root folder and events
// are set while the component is idle; the setters enforce that for the
// options and the root folder.
#include <QByteArray>
#include <QFlags>
#include <QObject>
#include <atomic>
#include <cstdint>
#include <functional>
#include <stdexcept>

namespace ravelin::tools {

// The component's error class; its messages are the two texts below.
class EFileIteratorError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* kCannotChangeOptions = "Cannot change options on fly. Try later";
inline constexpr const char* kIteratorNotAvailable =
    "Iterator is not available at the moment. Please call later, but do call";

enum TFileIteratorOption {
    fiPath = 0x1,           // report full paths instead of bare names
    fiDetails = 0x2,        // fill TFileInfo
    fiRecurseFolders = 0x4, // descend into subfolders
};
Q_DECLARE_FLAGS(TFileIteratorOptions, TFileIteratorOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TFileIteratorOptions)

enum class TFileIteratorState { Idle, Running, Stopping };

// Facts about one reported file, filled only with fiDetails (all zero
// otherwise; handlers must not rely on them then).
struct TFileInfo {
    int64_t Size = 0;  // bytes (lstat st_size; a link's own size)
    uint32_t Time = 0; // local DOS date in the high 16 bits, DOS time in the low 16
    uint32_t Attr = 0; // DOS attribute bits, masked with 0x27
};

class TFileIterator;

// `fileName` holds the file's bytes: the full path with fiPath, else the
// bare name.
using TAddFileEvent =
    std::function<void(TFileIterator* sender, const QByteArray& fileName, const TFileInfo& info)>;
using TAddFileQueryEvent = std::function<void(TFileIterator* sender, const QByteArray& fileName,
                                              const TFileInfo& info, bool& canAdd)>;
using TNotifyEvent = std::function<void(TFileIterator* sender)>;

class TFileIterator : public QObject {
    Q_OBJECT
public:
    // `owner` (may be null) deletes the component with itself. Destroying a
    // running component is not allowed: stop it and wait for Available().
    explicit TFileIterator(QObject* owner = nullptr);
    ~TFileIterator() override;

    // All three options by default.
    TFileIteratorOptions Options() const { return m_options; }
    // Throws EFileIteratorError(kCannotChangeOptions) unless idle or loading;
    // the value is then unchanged.
    void SetOptions(TFileIteratorOptions options);

    // "/" by default. A trailing "/" is dropped before the walk, so "/tmp"
    // and "/tmp/" report the same names; an empty root walks "/" and reports
    // names as "/" + name. Guarded like SetOptions.
    QByteArray RootFolder() const { return m_rootFolder; }
    void SetRootFolder(const QByteArray& folder);

    // While loading is set, the options and the root folder may change even
    // during a walk (the stored description of a window being read).
    void SetLoading(bool loading) { m_loading = loading; }
    bool Loading() const { return m_loading; }

    // Events; assign while idle. OnAddFileQuery receives canAdd == true and
    // may clear it to refuse the file.
    TAddFileEvent OnAddFile;
    TAddFileQueryEvent OnAddFileQuery;
    TNotifyEvent OnActivate;
    TNotifyEvent OnTerminate;

    TFileIteratorState State() const { return m_state.load(std::memory_order_acquire); }
    bool Available() const { return State() == TFileIteratorState::Idle; }

    // Runs the whole walk on the calling thread. Throws
    // EFileIteratorError(kIteratorNotAvailable) when not idle (a running walk
    // is not disturbed). Returns at once, raising nothing, when no file
    // handler exists (see HasFileHandlers). Otherwise raises OnActivate, the
    // OnAddFileQuery / OnAddFile pairs and always exactly one OnTerminate,
    // then returns to idle; an exception thrown by a handler then continues
    // to the caller. The component is not touched after it has become idle,
    // so its owner may delete it as soon as Available() is true.
    void Execute();

    // Running -> stopping; otherwise nothing. The walk sees it at its next
    // directory entry at every depth and ends without further file events.
    void Stop();

protected:
    // Hooks, each raising its event when assigned. A descendant may override
    // them instead of using the events; one overriding DoAddFile or
    // DoAddFileQuery must also override HasFileHandlers.
    virtual void DoAddFile(const QByteArray& fileName, const TFileInfo& info);
    virtual void DoAddFileQuery(const QByteArray& fileName, const TFileInfo& info, bool& canAdd);
    virtual void DoActivate();
    virtual void DoTerminate();
    // True when anything listens for files: OnAddFile or OnAddFileQuery.
    virtual bool HasFileHandlers() const;

private:
    struct Walk;
    void checkChangeAllowed() const;
    void walkRoot();

    TFileIteratorOptions m_options = TFileIteratorOptions(fiPath | fiDetails | fiRecurseFolders);
    QByteArray m_rootFolder = QByteArrayLiteral("/");
    bool m_loading = false;
    std::atomic<TFileIteratorState> m_state{TFileIteratorState::Idle};
};

// The organise window's query: true exactly when the extension of
// `fileName` (from the last "." after the last "/", dot included),
// upper-cased, is ".CAB". A name without an extension is refused. Only the
// ASCII letters matter, so the bytes are compared as they are.
bool isCabinetFileName(const QByteArray& fileName);

} // namespace ravelin::tools
