#pragma once
// TForm6: the organise window ("Organise Cabs"). It searches one mounted
// volume for cabinet files on a worker thread (TFileIterator run by a
// TFileIteratorThread), lists every one found with a check box, and moves
// the checked ones into the directory typed or chosen with BrowseFolder1.
//
// The iterator raises its events on the worker thread. The cabinet query is
// answered there (it touches no control); the other three events are turned
// into this window's signals and reach the handlers on the user-interface
// thread through queued connections, in the order they were raised, so the
// worker never waits for the window.
//
// Paths are bytes: each entry of the check list shows its path as text
// (displayPath) and keeps the path's exact bytes under PathRole; the move
// goes by those bytes. After "&Organise", only the entries that moved leave
// the list; every checked entry that could not be moved stays, checked, and
// is named in the closing message with the system's reason.
//
// The folder button takes the focus with Tab (after the directory box). A
// folder choice without a directory (a root with no folder here) leaves the
// box as it was. When a search ends while "&Stop" has the focus, the focus
// goes to "&Search".
//
// Closing the window (Close, the title bar, Escape) while a search runs
// stops it and waits, checking every 200 ms, until the iterator is idle;
// destroying the window does the same.
//
// Controls keep their component names as objectName: Label1, DriveComboBox1,
// Label2, Edit1, SpeedButton1, CheckListBox1 (with the context actions
// CheckAll1 and UncheckAll1), Label3, Animate1, Button1 "&Search",
// Button2 "&Stop", Button3 "&Organise", Button4 "&Close". Each control with a
// help topic carries it as the int property "helpContext".
//
// Threads: user-interface thread only, except the iterator's handlers as
// described above.
#include <QByteArray>
#include <QDialog>
#include <QString>
#include <atomic>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;
class QToolButton;
class QAction;

namespace ravelin::tools {

class TBrowseFolder;
class TFileIterator;
struct TFileInfo;

// A small looping "searching" picture standing in for the desktop's stock
// find-file animation: frames 0 to StopFrame while active, still otherwise.
class TFindFileAnimation : public QWidget {
    Q_OBJECT
public:
    explicit TFindFileAnimation(QWidget* parent = nullptr);
    bool Active() const;
    void setActive(bool active);
    int frame() const { return m_frame; }
    static constexpr int StopFrame = 23;
    QSize sizeHint() const override { return QSize(80, 50); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer* m_timer;
    int m_frame = 0;
};

// The closing message of "&Organise" when every checked file moved (also
// when none was checked).
inline constexpr const char* kFinishedMoving = "Korvane Ravelin has finished moving your file(s).";

class TForm6 : public QDialog {
    Q_OBJECT
public:
    // Item data role of CheckListBox1 holding an entry's path bytes.
    static constexpr int PathRole = Qt::UserRole + 1;

    explicit TForm6(QWidget* owner = nullptr);
    ~TForm6() override;

    QLabel* Label1 = nullptr;
    QComboBox* DriveComboBox1 = nullptr; // item data: the volume's root path
    QLabel* Label2 = nullptr;
    QLineEdit* Edit1 = nullptr;          // directory to store cab files
    QToolButton* SpeedButton1 = nullptr; // runs BrowseFolder1
    QListWidget* CheckListBox1 = nullptr;
    QAction* CheckAll1 = nullptr;
    QAction* UncheckAll1 = nullptr;
    QLabel* Label3 = nullptr;
    TFindFileAnimation* Animate1 = nullptr;
    QPushButton* Button1 = nullptr; // &Search
    QPushButton* Button2 = nullptr; // &Stop
    QPushButton* Button3 = nullptr; // &Organise
    QPushButton* Button4 = nullptr; // &Close

    TFileIterator* Iterator = nullptr; // options all three; root: the drive box's volume
    TBrowseFolder* BrowseFolder1 = nullptr;

    // Entries added since the current or last search began.
    int addedCount() const { return m_count; }
    // True from "&Search" until the search's OnTerminate has been handled.
    bool searching() const { return m_searching; }

    // The mounted volumes the drive box lists, as (root path, item text).
    static QList<QPair<QString, QString>> driveItems();

public slots:
    void DriveComboBox1Change(int index);
    void SpeedButton1Click();
    void Button1Click(); // &Search
    void Button2Click(); // &Stop
    void Button3Click(); // &Organise
    void Button4Click(); // &Close
    void CheckAll1Click();
    void UncheckAll1Click();

    // The iterator's handlers, on the user-interface thread.
    void IteratorActivate();
    void IteratorAddFile(const QByteArray& fileName);
    void IteratorTerminate();

public:
    // The query, answered on the worker thread: a cabinet name or nothing.
    static void IteratorAddFileQuery(TFileIterator* sender, const QByteArray& fileName, const TFileInfo& info,
                                     bool& canAdd);

    void done(int result) override;

signals:
    // Emitted on the worker thread as the iterator raises its events.
    void iteratorActivated();
    void iteratorFileAdded(const QByteArray& fileName);
    void iteratorTerminated();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void setChecks(bool checked);
    void waitForSearchEnd();

    int m_count = 0;
    bool m_searching = false;
    bool m_centred = false;
    int m_driveIndex = -1;
    // Set from "&Search" until the worker's Execute has begun (OnActivate),
    // so a close in between still waits for that worker.
    std::atomic<bool> m_workerPending{false};
};

// Opens a fresh organise window modal to `owner` through the prompter and
// destroys it when it closes. Returns the dialog's result.
int runOrganiseWindow(QWidget* owner);

} // namespace ravelin::tools
