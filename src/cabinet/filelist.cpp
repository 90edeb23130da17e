#include "cabinet/filelist.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include <QApplication>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QListView>
#include <QMenu>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QStyle>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/io.h"
#include "platform/paths.h"
#include "tools/nativepath.h"
#include "ui/prompter.h"

namespace ravelin::cabinet {

namespace {
constexpr int kColumns = 5;
constexpr int kWidths[kColumns] = {100, 110, 70, 70, 204};
const char* const kHeadings[kColumns] = {"FileName", "Type", "Date", "Time", "Path"};
const QString kUnknownMime = QStringLiteral("application/octet-stream");
// Files a cabinet usually carries; the Type column fits their type names.
const char* const kUsualFiles[] = {"readme.txt", "setup.exe",   "library.dll", "setup.inf",
                                   "setup.ini",  "program.hlp", "licence.rtf", "index.html",
                                   "manual.pdf", "picture.bmp", "logo.png",    "program.ico"};
// Room beyond the text and the style's margins, so that a text that fits
// is never elided by a rounding of the font's advances.
constexpr int kSlack = 4;
} // namespace

TListView::TListView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ListView1"));
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    m_collator.setNumericMode(false);
    m_caseCollator.setCaseSensitivity(Qt::CaseSensitive);

    m_model = new QStandardItemModel(0, kColumns, this);
    for (int c = 0; c < kColumns; ++c)
        m_model->setHeaderData(c, Qt::Horizontal, QString::fromLatin1(kHeadings[c]));
    m_selection = new QItemSelectionModel(m_model, this);

    // A table without grid or row headers: unlike a tree it needs no full
    // relayout when a row goes in, so long lists stay fast to fill.
    m_report = new QTableView;
    m_report->setObjectName(QStringLiteral("ListView1Report"));
    m_report->setShowGrid(false);
    m_report->setWordWrap(false);
    m_report->setSortingEnabled(false);
    m_report->setCornerButtonEnabled(false);
    m_report->verticalHeader()->hide();
    m_report->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_report->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    m_report->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_report->horizontalHeader()->setHighlightSections(false);
    m_report->horizontalHeader()->setStretchLastSection(false);
    m_report->horizontalHeader()->setSectionsMovable(false);
    m_report->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_report->setModel(m_model);
    m_report->setSelectionModel(m_selection);
    m_report->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    for (int c = 0; c < kColumns; ++c)
        m_report->setColumnWidth(c, kWidths[c]);
    fitColumns();
    // The font changes when the desktop's does; the columns follow.
    m_report->installEventFilter(this);

    m_icons = new QListView;
    m_icons->setObjectName(QStringLiteral("ListView1Icons"));
    m_icons->setModelColumn(0);
    m_icons->setResizeMode(QListView::Adjust);
    m_icons->setMovement(QListView::Static);
    m_icons->setUniformItemSizes(true);

    for (QAbstractItemView* v :
         {static_cast<QAbstractItemView*>(m_report), static_cast<QAbstractItemView*>(m_icons)}) {
        v->setSelectionMode(QAbstractItemView::ExtendedSelection);
        v->setSelectionBehavior(QAbstractItemView::SelectRows);
        v->setEditTriggers(QAbstractItemView::NoEditTriggers);
        v->setContextMenuPolicy(Qt::CustomContextMenu);
        v->installEventFilter(this);
        connectView(v);
    }

    m_stack = new QStackedWidget(this);
    m_stack->addWidget(m_report);
    m_stack->addWidget(m_icons);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_stack);
    setViewStyle(ViewStyle::Report);
}

int TListView::designedWidth(int column)
{
    return column >= 0 && column < kColumns ? kWidths[column] : 0;
}

int TListView::fittingWidth(int column) const
{
    QStringList texts;
    switch (column) {
    case 1:
        for (const char* file : kUsualFiles) {
            const QString name = QString::fromLatin1(file);
            const QMimeType mime = m_mimes.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
            texts << typeColumn(mime.isValid() && mime.name() != kUnknownMime ? mime.comment() : QString(),
                                name);
        }
        break;
    case 2: {
        // The widest day of the month in every month: month names differ.
        const int year = QDate::currentDate().year();
        for (int month = 1; month <= 12; ++month)
            texts << dateColumn(QDate(year, month, 28));
        break;
    }
    case 3:
        for (int hour = 0; hour < 24; ++hour)
            texts << timeColumn(QTime(hour, 48));
        break;
    default:
        break;
    }
    const QFontMetrics metrics(m_report->font());
    // An item's text is laid out inside a margin on either side: the style's
    // focus frame margin and one pixel.
    const int margin =
        2 * (m_report->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_report) + 1);
    int width = std::max(designedWidth(column), m_report->horizontalHeader()->sectionSizeHint(column));
    for (const QString& text : texts)
        width = std::max(width, metrics.horizontalAdvance(text) + margin + kSlack);
    return width;
}

void TListView::fitColumns()
{
    // Only ever wider: a column the user made wider stays so.
    for (int c = 0; c < kColumns; ++c) {
        const int wanted = fittingWidth(c);
        if (m_report->columnWidth(c) < wanted)
            m_report->setColumnWidth(c, wanted);
    }
}

bool TListView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && (watched == m_report || watched == m_icons) &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Delete)) {
        // The Delete key does what "&Delete Files" does.
        deleteSelected();
        return true;
    }
    if (event->type() == QEvent::FontChange && watched == m_report)
        fitColumns();
    return QWidget::eventFilter(watched, event);
}

void TListView::connectView(QAbstractItemView* view)
{
    connect(view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid())
            openSelected();
    });
    connect(view, &QWidget::customContextMenuRequested, this,
            [this, view](const QPoint& pos) { showPopup(view, pos); });
}

void TListView::showPopup(QAbstractItemView* view, const QPoint& pos)
{
    if (m_popup)
        m_popup->popup(view->viewport()->mapToGlobal(pos));
}

int TListView::rowCount() const
{
    return m_model->rowCount();
}

QString TListView::caption(int row) const
{
    return m_model->data(m_model->index(row, 0)).toString();
}

QString TListView::subItem(int row, int index) const
{
    if (index < 1 || index >= kColumns)
        return QString();
    return m_model->data(m_model->index(row, index)).toString();
}

QString TListView::fullPath(int row) const
{
    return subItem(row, 4) + caption(row);
}

QIcon TListView::rowIcon(int row) const
{
    return m_model->data(m_model->index(row, 0), Qt::DecorationRole).value<QIcon>();
}

QList<int> TListView::selectedRows() const
{
    QList<int> rows;
    for (const QModelIndex& i : m_selection->selectedRows(0))
        rows.append(i.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void TListView::selectRow(int row, bool selected)
{
    m_selection->select(m_model->index(row, 0),
                        (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                            QItemSelectionModel::Rows);
}

void TListView::clearSelection()
{
    m_selection->clearSelection();
}

void TListView::attachModel(QAbstractItemView* view, bool attached)
{
    // Only the view on show follows the model: a hidden icon view would
    // otherwise lay out every row again after each insertion.
    if (attached == (view->model() == m_model))
        return;
    if (attached) {
        view->setModel(m_model);
        if (view->selectionModel() != m_selection) {
            QItemSelectionModel* made = view->selectionModel();
            view->setSelectionModel(m_selection);
            if (made && made != m_selection)
                made->deleteLater();
        }
        if (view == m_icons)
            m_icons->setModelColumn(0);
    } else {
        view->setModel(nullptr);
    }
}

void TListView::setViewStyle(ViewStyle style)
{
    m_style = style;
    attachModel(m_icons, style != ViewStyle::Report);
    if (style == ViewStyle::Report) {
        m_stack->setCurrentWidget(m_report);
    } else {
        // Large icons flow in rows under their captions; small icons flow in
        // rows and the list in columns, each on one line.
        const bool large = style == ViewStyle::Icon;
        m_icons->setViewMode(large ? QListView::IconMode : QListView::ListMode);
        m_icons->setFlow(style == ViewStyle::List ? QListView::TopToBottom : QListView::LeftToRight);
        m_icons->setWrapping(true);
        m_icons->setIconSize(large ? QSize(32, 32) : QSize(16, 16));
        m_icons->setGridSize(large ? QSize(96, 64) : QSize(150, 20));
        m_icons->setWordWrap(large);
        m_stack->setCurrentWidget(m_icons);
    }
    emit viewStyleChanged(style);
}

ViewStyle TListView::viewStyle() const
{
    return m_style;
}

QAbstractItemView* TListView::currentView() const
{
    return m_style == ViewStyle::Report ? static_cast<QAbstractItemView*>(m_report) : m_icons;
}

int TListView::compareCaptions(const QString& a, const QString& b) const
{
    const int r = m_collator.compare(a, b);
    return r != 0 ? r : m_caseCollator.compare(a, b);
}

int TListView::sortedInsertPosition(const QString& caption) const
{
    // After every equal caption, so equal names keep the order they came in.
    int lo = 0;
    int hi = m_model->rowCount();
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (compareCaptions(this->caption(mid), caption) <= 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

QString TListView::typeColumn(const QString& shellTypeName, const QString& fileName)
{
    if (!shellTypeName.isEmpty())
        return shellTypeName;
    const QString ext = paths::extension(fileName);
    if (ext.isEmpty())
        return QStringLiteral("File");
    return ext.mid(1) + QStringLiteral(" File");
}

QString TListView::timeColumn(const QTime& time)
{
    int hour = time.hour() % 12;
    if (hour == 0)
        hour = 12;
    return QStringLiteral("%1:%2 %3")
        .arg(hour, 2, 10, QLatin1Char('0'))
        .arg(time.minute(), 2, 10, QLatin1Char('0'))
        .arg(time.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM"));
}

QString TListView::dateColumn(const QDate& date)
{
    return QLocale().toString(date, QLocale::ShortFormat);
}

QIcon TListView::iconForMime(const QMimeType& mime)
{
    const QString key = mime.isValid() ? mime.name() : kUnknownMime;
    auto it = m_iconCache.constFind(key);
    if (it != m_iconCache.constEnd())
        return *it;
    static QFileIconProvider provider;
    QIcon icon = QIcon::fromTheme(
        mime.iconName(), QIcon::fromTheme(mime.genericIconName(), provider.icon(QFileIconProvider::File)));
    m_iconCache.insert(key, icon);
    return icon;
}

bool TListView::addFile(const QString& path, int* error)
{
    int localError = 0;
    int& why = error ? *error : localError;
    why = 0;
    // Text from the dialog or a drop that stands for a name which was not
    // UTF-8 would reach another file, or none: refused.
    if (!tools::textNamesOnePath(path)) {
        why = EILSEQ;
        return false;
    }
    const std::string native = QFile::encodeName(path).toStdString();

    // The file must open for reading, and only a regular file is taken: a
    // folder, a pipe, a socket or a device is refused without waiting on it.
    io::Fd file = io::openForReading(native, &why);
    if (!file) {
        struct stat folder {};
        if (why == io::kNotRegularFile && ::stat(native.c_str(), &folder) == 0 && S_ISDIR(folder.st_mode))
            why = EISDIR;
        return false;
    }
    struct stat st {};
    if (::fstat(file.get(), &st) != 0) {
        why = errno;
        return false;
    }
    file.close();

    const QString name = paths::namePart(path);
    // The type and the icon come from the extension alone, as the desktop
    // names them; an unknown type falls back to "<ext> File".
    const QMimeType mime = m_mimes.mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    const QString shellType = (mime.isValid() && mime.name() != kUnknownMime) ? mime.comment() : QString();

    // Local time at the file system's two-second resolution.
    const qint64 seconds = static_cast<qint64>(st.st_mtime) & ~qint64(1);
    const QDateTime written = QDateTime::fromSecsSinceEpoch(seconds, Qt::LocalTime);

    QList<QStandardItem*> items;
    auto* captionItem = new QStandardItem(iconForMime(mime), name);
    captionItem->setToolTip(path);
    items << captionItem << new QStandardItem(typeColumn(shellType, name))
          << new QStandardItem(dateColumn(written.date())) << new QStandardItem(timeColumn(written.time()))
          << new QStandardItem(paths::directoryPart(path));
    m_model->insertRow(sortedInsertPosition(name), items);
    QString folder = paths::directoryPart(path);
    if (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    m_lastFolder = folder;
    QCoreApplication::processEvents();
    return true;
}

void TListView::reportCannotOpen(QWidget* owner, const QString& path, int error)
{
    ui::showMessage(owner, tools::cannotOpenFileText(path, error), ui::Icon::Error);
}

int TListView::addFiles(const QStringList& paths, QWidget* owner, bool suspendPainting)
{
    if (suspendPainting)
        setUpdatesEnabled(false);
    int added = 0;
    QString failed;
    int error = 0;
    for (const QString& p : paths) {
        if (!addFile(p, &error)) {
            failed = p;
            break;
        }
        ++added;
    }
    if (suspendPainting)
        setUpdatesEnabled(true);
    if (!failed.isNull())
        reportCannotOpen(owner, failed, error);
    return added;
}

int TListView::addFromDialog(QWidget* owner)
{
    ui::OpenFileRequest request;
    request.title = QStringLiteral("Select Files to Archive");
    request.filter = QStringLiteral("All Files (*)");
    request.multiple = true;
    request.helpButton = true;
    // Where the last file came from: the next ones are usually beside it.
    request.directory = m_lastFolder;
    const QStringList chosen = ui::prompter().openFiles(owner, request);
    if (chosen.isEmpty())
        return 0;
    return addFiles(chosen, owner, true);
}

void TListView::deleteSelected()
{
    setUpdatesEnabled(false);
    const QList<int> rows = selectedRows();
    for (auto it = rows.crbegin(); it != rows.crend(); ++it)
        m_model->removeRow(*it);
    setUpdatesEnabled(true);
}

void TListView::clear()
{
    setUpdatesEnabled(false);
    m_model->removeRows(0, m_model->rowCount());
    setUpdatesEnabled(true);
}

void TListView::openSelected()
{
    const QList<int> rows = selectedRows();
    if (rows.isEmpty())
        return;
    ui::prompter().openUrl(QUrl::fromLocalFile(fullPath(rows.first())));
}

} // namespace ravelin::cabinet
