#pragma once
// TBrowseFolder: the folder chooser component. A window keeps one (named
// BrowseFolder1), sets its properties, calls Execute() and reads Directory
// when it returns true.
//
// The dialog is our own (TBrowseFolderDialog below): the Title text above a
// folder tree rooted at Folder (folders only, QFileSystemModel underneath), a
// status line under the tree when bfStatusText is in Flags, and OK / Cancel.
// It is modal to its owner and run through ravelin::ui::prompter()
// .execDialog(), so tests drive it like any other dialog.
//
// Roots (Folder). Where the named place does not exist on this machine, the
// tree is rooted at the home folder instead, except for the three virtual
// roots ("Computer", "Network", "Printers"), which always show.
//
//   | TSHFolders            | root of the tree                                             |
//   |-----------------------|--------------------------------------------------------------|
//   | foDesktop             | "Desktop" (its path is the desktop folder), holding the home |
//   |                       | folder and every mounted volume                              |
//   | foPrograms            | applications folder (QStandardPaths::ApplicationsLocation)   |
//   | foControls            | the user's configuration folder (GenericConfigLocation)      |
//   | foPrinters            | "Printers": no file-system path and nothing beneath it       |
//   | foPersonal            | documents folder (DocumentsLocation)                         |
//   | foFavorites           | home folder (desktop bookmarks are a file, not a folder)     |
//   | foStartup             | autostart folder (GenericConfigLocation + "/autostart")      |
//   | foRecent              | recent documents (GenericDataLocation + "/RecentDocuments")  |
//   | foSendto              | applications folder (the programs files are sent to)         |
//   | foRecycleBin          | the trash's files (GenericDataLocation + "/Trash/files")     |
//   | foStartMenu           | applications folder (the desktop's application menu)         |
//   | foDesktopDirectory    | desktop folder (DesktopLocation)                             |
//   | foMyComputer          | "Computer": no path of its own, the mounted volumes beneath  |
//   | foNetwork             | "Network": no path of its own, the mounted network volumes   |
//   |                       | (nfs, cifs, smb, sshfs, davfs, 9p ...) beneath               |
//   | foNetworkNeighborhood | as foNetwork                                                 |
//   | foFonts               | the user's fonts folder (FontsLocation)                      |
//   | foTemplates           | templates folder (home + "/Templates")                       |
//
// Mounted volumes are QStorageInfo::mountedVolumes() that are valid, ready
// and directories, shown as "name (root path)" when the volume has a name.
//
// Flags and what each means here:
//   bfFileSysDirsOnly, bfFileSysAncestors  OK only while the selection has a
//                                          file-system path
//   bfStatusText                           the status line is shown
//   bfDontGoBelowDomain                    nothing (no network domains here)
//   bfBrowseForComputer                    OK only on the "Computer" item
//   bfBrowseForPrinter                     OK never (no printer items here)
//
// Threads: user-interface thread only.
#include <QDialog>
#include <QFlags>
#include <QIcon>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <stdexcept>

class QLabel;
class QPushButton;
class QTreeView;

namespace ravelin::tools {

// Thrown by Execute() while the same instance's dialog is already open.
class EBrowseDialogAlreadyShowing : public std::runtime_error {
public:
    EBrowseDialogAlreadyShowing() : std::runtime_error("The browse dialog is already showing.") {}
};

// Dialog options, in declaration order; each value is the shell's flag.
enum TBrowseInfoFlags : unsigned {
    bfFileSysDirsOnly = 0x0001,
    bfDontGoBelowDomain = 0x0002,
    bfStatusText = 0x0004,
    bfFileSysAncestors = 0x0008,
    bfBrowseForComputer = 0x1000,
    bfBrowseForPrinter = 0x2000,
};
Q_DECLARE_FLAGS(TBrowseInfoFlagSet, TBrowseInfoFlags)
Q_DECLARE_OPERATORS_FOR_FLAGS(TBrowseInfoFlagSet)

// Roots, in declaration order; each value is the shell's special-folder number.
enum class TSHFolders : int {
    foDesktop = 0,
    foPrograms = 2,
    foControls = 3,
    foPrinters = 4,
    foPersonal = 5,
    foFavorites = 6,
    foStartup = 7,
    foRecent = 8,
    foSendto = 9,
    foRecycleBin = 10,
    foStartMenu = 11,
    foDesktopDirectory = 16,
    foMyComputer = 17,
    foNetwork = 18,
    foNetworkNeighborhood = 19,
    foFonts = 20,
    foTemplates = 21,
};

// Every TSHFolders value, in declaration order.
const QList<TSHFolders>& allFolders();

// One item of the tree, as the events and the results see it.
struct TItemIDList {
    QString path;        // file-system path; empty for "Computer", "Network", "Printers"
    QString displayName; // the text the tree shows for it
};

// The root a TSHFolders value stands for (see the table above).
struct FolderRoot {
    QString label;           // text of the top item
    QString path;            // its file-system path; empty for a virtual root
    bool isVirtual = false;  // true: the top item is not a folder, children are below
    QStringList children;    // for a virtual root: the folders shown beneath it
    QStringList childLabels; // their texts, same order
};
FolderRoot folderRoot(TSHFolders folder);

// The status-line form of a path: unchanged up to 35 characters; otherwise
// split at every "/" (empty parts kept); with at least three parts the
// second becomes "..." and, while the text is longer than 35 characters and
// more than three parts remain, the part after "..." is dropped.
// "/usr/share/common-licenses/Apache-2.0/LICENSE-long" gives
// "/.../Apache-2.0/LICENSE-long".
QString shortenPath(const QString& path);

// Event types: the dialog that is open, CallbackParam, and (for a change of
// selection) the newly selected item.
using TBrowserInitializedEvent = std::function<void(QDialog* dialog, int callbackParam)>;
using TSelectionChangedEvent =
    std::function<void(QDialog* dialog, int callbackParam, const TItemIDList& item)>;

class TBrowseFolderDialog;

class TBrowseFolder : public QObject {
    Q_OBJECT
public:
    // `owner` (may be null) owns the component; the dialog is modal to the
    // owner's window, or to the application's active window when the owner
    // is not a widget.
    explicit TBrowseFolder(QObject* owner = nullptr);
    ~TBrowseFolder() override;

    // Properties, with their defaults.
    QString Title() const { return m_title; } // empty
    void setTitle(const QString& title) { m_title = title; }
    int CallbackParam() const { return m_callbackParam; } // 0
    void setCallbackParam(int value) { m_callbackParam = value; }
    TBrowseInfoFlagSet Flags() const { return m_flags; } // empty
    void setFlags(TBrowseInfoFlagSet flags) { m_flags = flags; }
    bool ShowFullPath() const { return m_showFullPath; } // false
    void setShowFullPath(bool on) { m_showFullPath = on; }
    TSHFolders Folder() const { return m_folder; } // foDesktop
    void setFolder(TSHFolders folder) { m_folder = folder; }

    // Events (unassigned by default). OnInitialized is raised once, when the
    // dialog exists and before it is shown; OnSelectionChanged on every
    // change of selection, the first for the root item. A handler may run
    // another TBrowseFolder's Execute(); both work.
    const TBrowserInitializedEvent& OnInitialized() const { return m_onInitialized; }
    void setOnInitialized(TBrowserInitializedEvent handler) { m_onInitialized = std::move(handler); }
    const TSelectionChangedEvent& OnSelectionChanged() const { return m_onSelectionChanged; }
    void setOnSelectionChanged(TSelectionChangedEvent handler) { m_onSelectionChanged = std::move(handler); }

    // Shows the dialog and waits. True when the user confirmed an item: then
    // Directory is its file-system path (empty for an item without one, such
    // as "Computer"), DisplayName its text and ImageIndex its kind of icon
    // (QAbstractFileIconProvider::IconType: Computer 0, Network 3, Drive 4,
    // Folder 5). False on Cancel or close: no result changes.
    // Throws EBrowseDialogAlreadyShowing while this instance's dialog is open
    // (the open dialog is not disturbed).
    bool Execute();

    // Results of the last confirmed run.
    QString Directory() const { return m_directory; }
    QString DisplayName() const { return m_displayName; }
    int ImageIndex() const { return m_imageIndex; }
    QIcon Icon() const { return m_icon; }

    // True while this instance's dialog is open.
    bool isShowing() const { return m_showing; }

private:
    QString m_title;
    int m_callbackParam = 0;
    TBrowseInfoFlagSet m_flags;
    bool m_showFullPath = false;
    TSHFolders m_folder = TSHFolders::foDesktop;
    TBrowserInitializedEvent m_onInitialized;
    TSelectionChangedEvent m_onSelectionChanged;

    QString m_directory;
    QString m_displayName;
    int m_imageIndex = 0;
    QIcon m_icon;
    bool m_showing = false;
};

class FolderTreeModel;

// The dialog TBrowseFolder runs (objectName "BrowseFolderDialog", title
// "Browse for Folder"). Children, by objectName: "TitleLabel", "FolderTree"
// (QTreeView), "StatusLabel" (hidden unless bfStatusText), "OkButton",
// "CancelButton". Made and destroyed by Execute(); tests reach it through
// the prompter.
class TBrowseFolderDialog : public QDialog {
    Q_OBJECT
public:
    TBrowseFolderDialog(QWidget* owner, const QString& title, TSHFolders folder, TBrowseInfoFlagSet flags);
    ~TBrowseFolderDialog() override;

    // The status line's text (what the shell's BFFM_SETSTATUSTEXT set).
    void setStatusText(const QString& text);
    QString statusText() const;

    // Selects the item for `path` (expanding the tree down to it) when the
    // tree holds it; false otherwise.
    bool setSelectionPath(const QString& path);

    // Expands the top item and makes it the selection (Execute() does this
    // after OnInitialized, which raises the first OnSelectionChanged).
    void selectRoot();

    // The selected item (none until selectRoot()).
    TItemIDList selectedItem() const;
    int selectedImageIndex() const;
    QIcon selectedIcon() const;

    QTreeView* tree() const { return m_tree; }

signals:
    // Emitted on every change of the current item.
    void selectionChanged(const ravelin::tools::TItemIDList& item);

private:
    void updateOk();

    TBrowseInfoFlagSet m_flags;
    FolderTreeModel* m_model = nullptr;
    QTreeView* m_tree = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_ok = nullptr;
};

} // namespace ravelin::tools
