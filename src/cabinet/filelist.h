#pragma once
// TListView: the main window's list of files queued for the next cabinet.
//
// One model of rows shown four ways (report, large icons, small icons, list)
// with one shared selection. Rows stay sorted ascending by caption with the
// user's locale collation (letter case decides only between otherwise equal
// names); duplicates are allowed. A row's caption is the file name, its
// sub-items are Type (1), Date (2), Time (3) and Path (4, the directory
// ending in "/"); its full path is Path + caption.
//
// The report view's columns start at their designed widths (FileName 100,
// Type 110, Date 70, Time 70, Path 204), widened where the desktop's font
// and the user's locale need more: Date fits the locale's short date of any
// month, Time any "hh:mm AM/PM", Type the names of the usual file types of
// a cabinet (text, program, library, setup information, help, pictures...).
// They widen again when the font changes and the user can still drag each
// one. The Delete key removes the selected rows, as deleteSelected() does.
//
// Threads: user-interface thread only.
#include <QCollator>
#include <QDateTime>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QMimeDatabase>
#include <QWidget>

class QAbstractItemView;
class QItemSelectionModel;
class QListView;
class QMenu;
class QStackedWidget;
class QStandardItemModel;
class QTableView;

namespace ravelin::cabinet {

enum class ViewStyle { Icon, SmallIcon, List, Report };

class TListView : public QWidget {
    Q_OBJECT
public:
    explicit TListView(QWidget* parent = nullptr);

    // --- readers -------------------------------------------------------
    int rowCount() const;
    QString caption(int row) const;
    // index 1 Type, 2 Date, 3 Time, 4 Path; anything else gives "".
    QString subItem(int row, int index) const;
    QString fullPath(int row) const;
    QIcon rowIcon(int row) const;
    QList<int> selectedRows() const; // ascending
    void selectRow(int row, bool selected = true);
    void clearSelection();

    // --- views ---------------------------------------------------------
    void setViewStyle(ViewStyle style);
    ViewStyle viewStyle() const;
    // The widget showing the rows in the current style.
    QAbstractItemView* currentView() const;
    QTableView* reportView() const { return m_report; }
    QListView* iconView() const { return m_icons; }
    // The pop-up menu shown on a right click in any view (not owned).
    void setPopupMenu(QMenu* menu) { m_popup = menu; }

    // --- operations ------------------------------------------------------
    // Adds one file by its full path: sorted row, type, icon, local last
    // write date and time, directory. False when the file cannot be opened
    // for reading; then no row is left behind and nothing is shown: the
    // caller reports, with *error (when given) set to the errno, EISDIR for
    // a folder, io::kNotRegularFile for a pipe, socket or device (refused
    // without blocking) and EILSEQ for text that no longer names the file
    // it was made from (see tools::textNamesOnePath). Processes pending
    // events after the row is in, so it is painted at once.
    bool addFile(const QString& path, int* error = nullptr);
    // Adds files in order, stopping at the first that fails, which is
    // reported through the prompter, owned by `owner` (see
    // reportCannotOpen). Returns how many were added. Painting is suspended
    // when `suspendPainting`.
    int addFiles(const QStringList& paths, QWidget* owner, bool suspendPainting = true);
    // Shows "Cannot open file <path>" as an error message owned by `owner`;
    // for a pipe, socket or device (io::kNotRegularFile) the system's reason
    // follows: "Cannot open file <path>: not a regular file".
    static void reportCannotOpen(QWidget* owner, const QString& path, int error);
    // Runs the open dialog, starting in the folder of the last file added
    // (by any road; the working directory before the first), and adds what
    // was chosen. Returns how many.
    int addFromDialog(QWidget* owner);
    // The folder of the last file added, without a final "/" (except "/"
    // itself); empty before the first.
    QString lastAddedFolder() const { return m_lastFolder; }
    void deleteSelected();
    void clear();
    // Opens the first selected row's file through the desktop; nothing
    // happens without a selection or when the desktop refuses.
    void openSelected();

    // The pieces of a row, exposed for tests of the column rules.
    static QString typeColumn(const QString& shellTypeName, const QString& fileName);
    static QString timeColumn(const QTime& time);
    static QString dateColumn(const QDate& date);

    // The designed width of column `column` (0 FileName ... 4 Path).
    static int designedWidth(int column);
    // The width column `column` needs for the texts it is meant to show
    // whole in the current font and locale; at least its designed width.
    int fittingWidth(int column) const;

signals:
    void viewStyleChanged(ravelin::cabinet::ViewStyle style);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Widens every column that is narrower than fittingWidth().
    void fitColumns();
    int sortedInsertPosition(const QString& caption) const;
    int compareCaptions(const QString& a, const QString& b) const;
    QIcon iconForMime(const QMimeType& mime);
    void connectView(QAbstractItemView* view);
    void attachModel(QAbstractItemView* view, bool attached);
    void showPopup(QAbstractItemView* view, const QPoint& pos);

    QStandardItemModel* m_model = nullptr;
    QItemSelectionModel* m_selection = nullptr;
    QStackedWidget* m_stack = nullptr;
    QTableView* m_report = nullptr;
    QListView* m_icons = nullptr;
    QMenu* m_popup = nullptr;
    ViewStyle m_style = ViewStyle::Report;
    QCollator m_collator;
    QCollator m_caseCollator;
    QMimeDatabase m_mimes;
    QHash<QString, QIcon> m_iconCache;
    QString m_lastFolder;
};

} // namespace ravelin::cabinet
