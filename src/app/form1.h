#pragma once
// TForm1: the main window. It holds the list of files for the next cabinet,
// the three cabinet settings (hidden Edit1 name, Edit2 output directory,
// CheckBox1 self-extracting flag), the toolbar, menus and status strip, and
// reaches every other window. Threads: user-interface thread only.
#include <QList>
#include <QMainWindow>
#include <QStringList>

class QAction;
class QActionGroup;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QToolButton;
class QUrl;

namespace ravelin::cabinet {
class TListView;
}
namespace ravelin::ui {
class PanelStatusBar;
}

namespace ravelin::app {

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // `arguments` are the program's command-line arguments without the
    // program name (argument 1 first); they decide the start-up query.
    explicit TForm1(const QStringList& arguments = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    // True unless argument 1 or 2 is exactly "/noquery".
    static bool startupQueriesNewCabinet(const QStringList& arguments);
    // The arguments that name files: all but a "/noquery" in place 1 or 2.
    static QStringList fileArguments(const QStringList& arguments);

    // --- the cabinet settings and state other windows read --------------
    QLineEdit* Edit1 = nullptr;     // cabinet name, as typed
    QLineEdit* Edit2 = nullptr;     // output directory
    QCheckBox* CheckBox1 = nullptr; // "Self-Extracting"
    cabinet::TListView* ListView1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* Label1 = nullptr; // "Compressing Files..." under the status bar
    ui::PanelStatusBar* StatusBar1 = nullptr;
    QFrame* Bevel1 = nullptr;
    QWidget* Panel1 = nullptr; // the toolbar strip
    QWidget* StatusStrip = nullptr;

    QString cabinetName() const;
    QString outputDirectory() const;
    bool selfExtracting() const;
    QString extractorPath() const { return m_extractorPath; }
    bool droppedFiles() const { return m_droppedFiles; }
    // The list's file names from the last row to the first.
    QStringList fileNamesLastFirst() const;
    // The rows' full paths, from the last row to the first (the build's order).
    QStringList fullPathsLastFirst() const;

    // The nine toolbar buttons in order, and the menus, for tests and help.
    QList<QToolButton*> toolButtons() const { return m_buttons; }
    QMenu* popupMenu() const { return m_popup; }
    QAction* action(const QString& objectName) const;

    // --- work methods ----------------------------------------------------
    void DoCabStuffNow();                 // the cabinet build
    void makeSX();                        // self-extracting output after a good build
    void AIPerform();                     // applies the learned self-extract default
    void AINextStep(bool selfExtracting); // learns from this build

public slots:
    void NewCabClick();
    void AddFilesClick();
    void CompressFilesClick();
    void EncryptClick();
    void OrganiseClick();
    void WizardClick();
    void GetInfoClick();
    void HelpClick();
    void AboutClick();
    void ExitClick();
    void DeleteFilesClick();
    void ClearListClick();
    void ToolBarClick();
    void ToolTipsClick();
    void openWebPage(const QString& url);
    void openMail(const QString& address);
    // Shows the new-cabinet dialog modally (at start-up and from New Cab).
    void showNewCabDialog();
    // The start-up activation step: the files named on the command line are
    // added as dropped files (a cabinet named alone is shown in the cabinet
    // information window instead), then the new-cabinet query unless
    // "/noquery".
    void FormActivate();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildToolbar(QWidget* strip);
    void buildMenus();
    void buildStatusStrip(QWidget* strip);
    QAction* makeAction(const QString& objectName, const QString& text);
    void layoutStatusStrip();
    void restorePlacement();
    void savePlacement();
    // Adds dropped files one by one; stops at the first that fails (also
    // one whose name does not survive as text).
    void addDroppedFiles(const QList<QUrl>& urls);

    QStringList m_arguments;
    QString m_extractorPath;
    bool m_droppedFiles = false;
    bool m_activated = false;
    bool m_placementRestored = false;
    bool m_placementSaved = false;
    QList<QToolButton*> m_buttons;
    QStringList m_hints;
    QMenu* m_popup = nullptr;
    QActionGroup* m_viewGroup = nullptr;
};

} // namespace ravelin::app
