#include "tools/browsefolder.h"

#include <QAbstractFileIconProvider>
#include <QApplication>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QMainWindow>
#include <QPersistentModelIndex>
#include <QPushButton>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QStyle>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <utility>

#include "platform/paths.h"
#include "ui/prompter.h"

namespace ravelin::tools {

namespace {

constexpr qsizetype kStatusLimit = 35;
const QString kMarker = QStringLiteral("...");

using IconType = QAbstractFileIconProvider::IconType;

struct Volume {
    QString root;
    QString label;
    bool network = false;
};

bool isNetworkFileSystem(const QByteArray& type)
{
    static const QList<QByteArray> kNetwork = {
        "nfs",         "nfs4", "cifs", "smbfs", "smb3",      "sshfs", "fuse.sshfs",  "davfs",
        "fuse.davfs2", "9p",   "afs",  "ncpfs", "glusterfs", "ceph",  "fuse.rclone", "fuse.gvfsd-fuse"};
    return kNetwork.contains(type);
}

QList<Volume> mountedVolumes()
{
    QList<Volume> result;
    QStringList seen;
    for (const QStorageInfo& v : QStorageInfo::mountedVolumes()) {
        if (!v.isValid() || !v.isReady())
            continue;
        const QString root = v.rootPath();
        if (root.isEmpty() || seen.contains(root) || !QFileInfo(root).isDir())
            continue;
        seen.append(root);
        Volume volume;
        volume.root = root;
        const QString name = v.name();
        volume.label = name.isEmpty() ? root : name + QStringLiteral(" (") + root + u')';
        volume.network = isNetworkFileSystem(v.fileSystemType());
        result.append(volume);
    }
    std::sort(result.begin(), result.end(), [](const Volume& a, const Volume& b) { return a.root < b.root; });
    return result;
}

QString location(QStandardPaths::StandardLocation where)
{
    return QStandardPaths::writableLocation(where);
}

QString home()
{
    return QDir::homePath();
}

// A folder root, or the home folder when the place is not there.
FolderRoot directoryRoot(const QString& path)
{
    FolderRoot root;
    root.path = (!path.isEmpty() && QFileInfo(path).isDir()) ? path : home();
    root.label = paths::namePart(root.path);
    if (root.label.isEmpty())
        root.label = root.path;
    return root;
}

// The desktop's icons, with the style's stock pictures where a bare desktop
// has no icon theme.
class FolderIconProvider : public QFileIconProvider {
public:
    QIcon icon(IconType type) const override
    {
        QIcon icon = QFileIconProvider::icon(type);
        if (icon.isNull())
            icon = stock(type == Computer  ? QStyle::SP_ComputerIcon
                         : type == Drive   ? QStyle::SP_DriveHDIcon
                         : type == Network ? QStyle::SP_DriveNetIcon
                         : type == Desktop ? QStyle::SP_DesktopIcon
                                           : QStyle::SP_DirIcon);
        return icon;
    }
    QIcon icon(const QFileInfo& info) const override
    {
        QIcon icon = QFileIconProvider::icon(info);
        if (icon.isNull())
            icon = stock(info.isDir() ? QStyle::SP_DirIcon : QStyle::SP_FileIcon);
        return icon;
    }

private:
    static QIcon stock(QStyle::StandardPixmap which)
    {
        return QApplication::style() ? QApplication::style()->standardIcon(which) : QIcon();
    }
};

} // namespace

const QList<TSHFolders>& allFolders()
{
    using enum TSHFolders;
    static const QList<TSHFolders> kAll = {
        foDesktop,   foPrograms,         foControls,   foPrinters, foPersonal,
        foFavorites, foStartup,          foRecent,     foSendto,   foRecycleBin,
        foStartMenu, foDesktopDirectory, foMyComputer, foNetwork,  foNetworkNeighborhood,
        foFonts,     foTemplates};
    return kAll;
}

FolderRoot folderRoot(TSHFolders folder)
{
    using enum TSHFolders;
    switch (folder) {
    case foDesktop: {
        FolderRoot root;
        root.isVirtual = true;
        root.label = QStringLiteral("Desktop");
        const QString desktop = location(QStandardPaths::DesktopLocation);
        root.path = QFileInfo(desktop).isDir() ? desktop : QString();
        root.children.append(home());
        root.childLabels.append(paths::namePart(home()).isEmpty() ? home() : paths::namePart(home()));
        for (const Volume& v : mountedVolumes()) {
            root.children.append(v.root);
            root.childLabels.append(v.label);
        }
        return root;
    }
    case foMyComputer:
    case foNetwork:
    case foNetworkNeighborhood: {
        FolderRoot root;
        root.isVirtual = true;
        const bool network = folder != foMyComputer;
        root.label = network ? QStringLiteral("Network") : QStringLiteral("Computer");
        for (const Volume& v : mountedVolumes())
            if (!network || v.network) {
                root.children.append(v.root);
                root.childLabels.append(v.label);
            }
        return root;
    }
    case foPrinters: {
        FolderRoot root;
        root.isVirtual = true;
        root.label = QStringLiteral("Printers");
        return root;
    }
    case foPrograms:
    case foSendto:
    case foStartMenu:
        return directoryRoot(location(QStandardPaths::ApplicationsLocation));
    case foControls:
        return directoryRoot(location(QStandardPaths::GenericConfigLocation));
    case foPersonal:
        return directoryRoot(location(QStandardPaths::DocumentsLocation));
    case foFavorites:
        return directoryRoot(home());
    case foStartup:
        return directoryRoot(location(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart"));
    case foRecent:
        return directoryRoot(location(QStandardPaths::GenericDataLocation) +
                             QStringLiteral("/RecentDocuments"));
    case foRecycleBin:
        return directoryRoot(location(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash/files"));
    case foDesktopDirectory:
        return directoryRoot(location(QStandardPaths::DesktopLocation));
    case foFonts:
        return directoryRoot(location(QStandardPaths::FontsLocation));
    case foTemplates:
        return directoryRoot(home() + QStringLiteral("/Templates"));
    }
    return directoryRoot(home());
}

QString shortenPath(const QString& path)
{
    if (path.size() <= kStatusLimit)
        return path;
    QStringList parts = path.split(paths::separator, Qt::KeepEmptyParts);
    if (parts.size() < 3)
        return path;
    parts[1] = kMarker;
    QString joined = parts.join(paths::separator);
    while (joined.size() > kStatusLimit && parts.size() > 3) {
        parts.removeAt(2);
        joined = parts.join(paths::separator);
    }
    return joined;
}

// The tree the dialog shows: an optional virtual top item ("Computer",
// "Desktop", ...) over one or more folder roots, each listed by a
// QFileSystemModel of its own (folders only). Items of a source model are
// identified by that model's internal node pointer, which is unique across
// models, and mapped back through a persistent index kept per node.
class FolderTreeModel : public QAbstractItemModel {
public:
    FolderTreeModel(const FolderRoot& root, QObject* parent) : QAbstractItemModel(parent), m_root(root)
    {
        const QStringList dirs = root.isVirtual ? root.children : QStringList{root.path};
        for (int s = 0; s < dirs.size(); ++s) {
            Source source;
            source.path = dirs[s];
            source.label = root.isVirtual ? root.childLabels.value(s) : root.label;
            source.model = new QFileSystemModel(this);
            source.model->setReadOnly(true);
            source.model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
            source.model->setRootPath(source.path);
            source.root = QPersistentModelIndex(source.model->index(source.path));
            m_sources.append(source);
            connectSource(s);
        }
    }

    bool hasVirtualTop() const { return m_root.isVirtual; }

    QModelIndex topIndex() const { return index(0, 0, QModelIndex()); }

    bool isVirtual(const QModelIndex& index) const
    {
        return index.isValid() && index.internalPointer() == virtualTag();
    }

    QString filePath(const QModelIndex& index) const
    {
        if (!index.isValid())
            return QString();
        if (isVirtual(index))
            return m_root.path;
        const auto [s, src] = toSource(index);
        if (s < 0 || !src.isValid())
            return QString();
        return m_sources[s].model->filePath(src);
    }

    int imageIndex(const QModelIndex& index) const
    {
        if (isVirtual(index)) {
            if (m_root.label == QLatin1String("Desktop"))
                return IconType::Desktop;
            if (m_root.label == QLatin1String("Network"))
                return IconType::Network;
            return IconType::Computer;
        }
        const auto [s, src] = toSource(index);
        if (s >= 0 && src == m_sources[s].root && m_root.isVirtual && m_sources[s].path != QDir::homePath())
            return IconType::Drive;
        return IconType::Folder;
    }

    QModelIndex indexForPath(const QString& path) const
    {
        // The deepest source root that holds the path lists it.
        int best = -1;
        for (int s = 0; s < m_sources.size(); ++s) {
            const QString& root = m_sources[s].path;
            const bool inside = path == root || path.startsWith(root.endsWith(u'/') ? root : root + u'/');
            if (inside && (best < 0 || root.size() > m_sources[best].path.size()))
                best = s;
        }
        if (best < 0)
            return (m_root.isVirtual && path == m_root.path && !path.isEmpty()) ? topIndex() : QModelIndex();
        return fromSource(best, m_sources[best].model->index(path));
    }

    // QAbstractItemModel
    QModelIndex index(int row, int column, const QModelIndex& parent) const override
    {
        if (row < 0 || column != 0)
            return QModelIndex();
        if (!parent.isValid()) {
            if (row != 0)
                return QModelIndex();
            if (m_root.isVirtual)
                return createIndex(0, 0, virtualTag());
            return m_sources.isEmpty() ? QModelIndex() : fromSource(0, m_sources[0].root);
        }
        if (isVirtual(parent))
            return row < m_sources.size() ? fromSource(row, m_sources[row].root) : QModelIndex();
        const auto [s, src] = toSource(parent);
        if (s < 0 || !src.isValid())
            return QModelIndex();
        return fromSource(s, m_sources[s].model->index(row, 0, src));
    }

    QModelIndex parent(const QModelIndex& child) const override
    {
        if (!child.isValid() || isVirtual(child))
            return QModelIndex();
        const auto [s, src] = toSource(child);
        if (s < 0 || !src.isValid())
            return QModelIndex();
        if (src == m_sources[s].root)
            return m_root.isVirtual ? createIndex(0, 0, virtualTag()) : QModelIndex();
        return fromSource(s, src.parent());
    }

    int rowCount(const QModelIndex& parent) const override
    {
        if (!parent.isValid())
            return (m_root.isVirtual || !m_sources.isEmpty()) ? 1 : 0;
        if (isVirtual(parent))
            return int(m_sources.size());
        const auto [s, src] = toSource(parent);
        return (s < 0 || !src.isValid()) ? 0 : m_sources[s].model->rowCount(src);
    }

    int columnCount(const QModelIndex&) const override { return 1; }

    bool hasChildren(const QModelIndex& parent) const override
    {
        if (!parent.isValid())
            return rowCount(parent) > 0;
        if (isVirtual(parent))
            return !m_sources.isEmpty();
        const auto [s, src] = toSource(parent);
        return s >= 0 && src.isValid() && m_sources[s].model->hasChildren(src);
    }

    bool canFetchMore(const QModelIndex& parent) const override
    {
        if (!parent.isValid() || isVirtual(parent))
            return false;
        const auto [s, src] = toSource(parent);
        return s >= 0 && src.isValid() && m_sources[s].model->canFetchMore(src);
    }

    void fetchMore(const QModelIndex& parent) override
    {
        if (!parent.isValid() || isVirtual(parent))
            return;
        const auto [s, src] = toSource(parent);
        if (s >= 0 && src.isValid())
            m_sources[s].model->fetchMore(src);
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid())
            return QVariant();
        if (isVirtual(index)) {
            if (role == Qt::DisplayRole)
                return m_root.label;
            if (role == Qt::DecorationRole)
                return m_icons.icon(IconType(imageIndex(index)));
            if (role == Qt::ToolTipRole)
                return m_root.path;
            return QVariant();
        }
        const auto [s, src] = toSource(index);
        if (s < 0 || !src.isValid())
            return QVariant();
        if (src == m_sources[s].root) {
            if (role == Qt::DisplayRole)
                return m_sources[s].label;
            if (role == Qt::DecorationRole && imageIndex(index) == IconType::Drive)
                return m_icons.icon(IconType::Drive);
        }
        if (role == Qt::ToolTipRole)
            return m_sources[s].model->filePath(src);
        if (role == Qt::DecorationRole) {
            const QIcon icon = m_sources[s].model->data(src, role).value<QIcon>();
            return icon.isNull() ? m_icons.icon(IconType::Folder) : icon;
        }
        return m_sources[s].model->data(src, role);
    }

private:
    struct Source {
        QFileSystemModel* model = nullptr;
        QString path;
        QString label;
        QPersistentModelIndex root;
        bool inserting = false;
        bool removing = false;
    };
    struct Node {
        int source = -1;
        QPersistentModelIndex index;
    };

    void* virtualTag() const { return const_cast<FolderTreeModel*>(this); }

    std::pair<int, QModelIndex> toSource(const QModelIndex& index) const
    {
        const auto it = m_nodes.constFind(index.internalPointer());
        if (it == m_nodes.cend())
            return {-1, QModelIndex()};
        return {it->source, QModelIndex(it->index)};
    }

    // Whether `src` is the source's root or lies beneath it.
    bool inside(int s, QModelIndex src) const
    {
        for (; src.isValid(); src = src.parent())
            if (src == m_sources[s].root)
                return true;
        return false;
    }

    QModelIndex fromSource(int s, const QModelIndex& src) const
    {
        if (!src.isValid() || !inside(s, src))
            return QModelIndex();
        const QModelIndex first = src.siblingAtColumn(0);
        Node& node = m_nodes[first.internalPointer()];
        if (node.source != s || node.index != first) {
            node.source = s;
            node.index = QPersistentModelIndex(first);
        }
        const int row = (first == m_sources[s].root) ? (m_root.isVirtual ? s : 0) : first.row();
        return createIndex(row, 0, first.internalPointer());
    }

    void connectSource(int s)
    {
        QFileSystemModel* m = m_sources[s].model;
        connect(m, &QAbstractItemModel::rowsAboutToBeInserted, this,
                [this, s](const QModelIndex& parent, int first, int last) {
                    Source& source = m_sources[s];
                    source.inserting = inside(s, parent);
                    if (source.inserting)
                        beginInsertRows(fromSource(s, parent), first, last);
                });
        connect(m, &QAbstractItemModel::rowsInserted, this, [this, s] {
            if (std::exchange(m_sources[s].inserting, false))
                endInsertRows();
        });
        connect(m, &QAbstractItemModel::rowsAboutToBeRemoved, this,
                [this, s](const QModelIndex& parent, int first, int last) {
                    Source& source = m_sources[s];
                    source.removing = inside(s, parent);
                    if (source.removing)
                        beginRemoveRows(fromSource(s, parent), first, last);
                });
        connect(m, &QAbstractItemModel::rowsRemoved, this, [this, s] {
            if (std::exchange(m_sources[s].removing, false))
                endRemoveRows();
        });
        connect(m, &QAbstractItemModel::dataChanged, this,
                [this, s](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                    const QModelIndex a = fromSource(s, topLeft.siblingAtColumn(0));
                    const QModelIndex b = fromSource(s, bottomRight.siblingAtColumn(0));
                    if (a.isValid() && b.isValid())
                        emit dataChanged(a, b);
                });
        connect(m, &QAbstractItemModel::layoutAboutToBeChanged, this, [this] {
            emit layoutAboutToBeChanged();
            m_layoutProxies = persistentIndexList();
            m_layoutSources.clear();
            for (const QModelIndex& proxy : std::as_const(m_layoutProxies)) {
                if (isVirtual(proxy)) {
                    m_layoutSources.append({-2, QPersistentModelIndex()});
                    continue;
                }
                const auto [src, index] = toSource(proxy);
                m_layoutSources.append({src, QPersistentModelIndex(index)});
            }
        });
        connect(m, &QAbstractItemModel::layoutChanged, this, [this] {
            QModelIndexList now;
            for (qsizetype i = 0; i < m_layoutProxies.size(); ++i) {
                const Node& node = m_layoutSources[i];
                if (node.source == -2)
                    now.append(m_layoutProxies[i]);
                else
                    now.append(node.source < 0 ? QModelIndex() : fromSource(node.source, node.index));
            }
            changePersistentIndexList(m_layoutProxies, now);
            m_layoutProxies.clear();
            m_layoutSources.clear();
            emit layoutChanged();
        });
        connect(m, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
        connect(m, &QAbstractItemModel::modelReset, this, [this, s] {
            m_nodes.clear();
            m_sources[s].root = QPersistentModelIndex(m_sources[s].model->index(m_sources[s].path));
            endResetModel();
        });
    }

    FolderIconProvider m_icons;
    FolderRoot m_root;
    QList<Source> m_sources;
    mutable QHash<void*, Node> m_nodes;
    QModelIndexList m_layoutProxies;
    QList<Node> m_layoutSources;
};

// ---------------------------------------------------------------------------

TBrowseFolderDialog::TBrowseFolderDialog(QWidget* owner, const QString& title, TSHFolders folder,
                                         TBrowseInfoFlagSet flags)
    : QDialog(owner), m_flags(flags)
{
    setObjectName(QStringLiteral("BrowseFolderDialog"));
    setWindowTitle(QStringLiteral("Browse for Folder"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setModal(true);

    auto* titleLabel = new QLabel(title, this);
    titleLabel->setObjectName(QStringLiteral("TitleLabel"));
    titleLabel->setWordWrap(true);
    titleLabel->setTextFormat(Qt::PlainText);
    titleLabel->setVisible(!title.isEmpty());

    m_model = new FolderTreeModel(folderRoot(folder), this);
    m_tree = new QTreeView(this);
    m_tree->setObjectName(QStringLiteral("FolderTree"));
    m_tree->setHeaderHidden(true);
    m_tree->setUniformRowHeights(true);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tree->setModel(m_model);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("StatusLabel"));
    m_status->setTextFormat(Qt::PlainText);
    m_status->setVisible(flags.testFlag(bfStatusText));

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("OkButton"));
    m_ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("CancelButton"));
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(titleLabel);
    layout->addWidget(m_tree, 1);
    layout->addWidget(m_status);
    layout->addLayout(buttons);
    resize(320, 380);

    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        updateOk();
        emit selectionChanged(selectedItem());
    });
    updateOk();
}

TBrowseFolderDialog::~TBrowseFolderDialog() = default;

void TBrowseFolderDialog::selectRoot()
{
    const QModelIndex top = m_model->topIndex();
    m_tree->expand(top);
    m_tree->setCurrentIndex(top);
}

void TBrowseFolderDialog::setStatusText(const QString& text)
{
    m_status->setText(text);
}

QString TBrowseFolderDialog::statusText() const
{
    return m_status->text();
}

bool TBrowseFolderDialog::setSelectionPath(const QString& path)
{
    const QModelIndex index = m_model->indexForPath(path);
    if (!index.isValid())
        return false;
    for (QModelIndex p = index.parent(); p.isValid(); p = p.parent())
        m_tree->expand(p);
    m_tree->setCurrentIndex(index);
    m_tree->scrollTo(index);
    return true;
}

TItemIDList TBrowseFolderDialog::selectedItem() const
{
    const QModelIndex current = m_tree->currentIndex();
    TItemIDList item;
    item.path = m_model->filePath(current);
    item.displayName = current.data(Qt::DisplayRole).toString();
    return item;
}

int TBrowseFolderDialog::selectedImageIndex() const
{
    return m_model->imageIndex(m_tree->currentIndex());
}

QIcon TBrowseFolderDialog::selectedIcon() const
{
    return m_tree->currentIndex().data(Qt::DecorationRole).value<QIcon>();
}

void TBrowseFolderDialog::updateOk()
{
    const QModelIndex current = m_tree->currentIndex();
    bool enabled = current.isValid();
    if (m_flags & (bfFileSysDirsOnly | bfFileSysAncestors))
        enabled = enabled && !m_model->filePath(current).isEmpty();
    if (m_flags.testFlag(bfBrowseForComputer))
        enabled =
            enabled && m_model->isVirtual(current) && m_model->imageIndex(current) == IconType::Computer;
    if (m_flags.testFlag(bfBrowseForPrinter))
        enabled = false;
    m_ok->setEnabled(enabled);
}

// ---------------------------------------------------------------------------

TBrowseFolder::TBrowseFolder(QObject* owner) : QObject(owner)
{
    setObjectName(QStringLiteral("BrowseFolder1"));
}

TBrowseFolder::~TBrowseFolder() = default;

bool TBrowseFolder::Execute()
{
    if (m_showing)
        throw EBrowseDialogAlreadyShowing();

    QWidget* ownerWindow = nullptr;
    if (auto* widget = qobject_cast<QWidget*>(parent()))
        ownerWindow = widget->window();
    else if (QApplication::activeWindow())
        ownerWindow = QApplication::activeWindow();
    else
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<QMainWindow*>(w)) {
                ownerWindow = w;
                break;
            }

    struct ShowingGuard {
        bool& flag;
        explicit ShowingGuard(bool& f) : flag(f) { flag = true; }
        ~ShowingGuard() { flag = false; }
    } guard(m_showing);

    TBrowseFolderDialog dialog(ownerWindow, m_title, m_folder, m_flags);
    // An exception from an event handler must not pass through Qt: it ends
    // the dialog and is thrown again from here.
    std::exception_ptr failure;
    const int param = m_callbackParam;
    const bool fullPath = m_showFullPath;
    const TSelectionChangedEvent onSelection = m_onSelectionChanged;
    connect(&dialog, &TBrowseFolderDialog::selectionChanged, &dialog,
            [&dialog, &failure, param, fullPath, onSelection](const TItemIDList& item) {
                if (failure)
                    return;
                try {
                    if (onSelection)
                        onSelection(&dialog, param, item);
                    if (fullPath)
                        dialog.setStatusText(shortenPath(item.path));
                } catch (...) {
                    failure = std::current_exception();
                    dialog.reject();
                }
            });

    if (m_onInitialized)
        m_onInitialized(&dialog, param);
    dialog.selectRoot();
    if (failure)
        std::rethrow_exception(failure);

    const int result = ui::prompter().execDialog(&dialog);
    if (failure)
        std::rethrow_exception(failure);
    if (result != QDialog::Accepted)
        return false;
    const TItemIDList chosen = dialog.selectedItem();
    m_directory = chosen.path;
    m_displayName = chosen.displayName;
    m_imageIndex = dialog.selectedImageIndex();
    m_icon = dialog.selectedIcon();
    return true;
}

} // namespace ravelin::tools
