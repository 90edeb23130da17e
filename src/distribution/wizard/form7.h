#pragma once
// TForm7: the distribution wizard. Five pages lead from a finished cabinet to
// a Setup-API INF file (Step 1) and, for an encrypted cabinet, to a setup
// package: setup.ini (Step 2), the encrypted INF and SETUP.EXE (Step 3).
//
// The window is a fixed 451 by 299 dialog with a picture strip on the left
// and exactly one page visible beside it. It reads the main window's values
// only when it is first shown (FormShow) and never changes the main window.
// Files written by a step stay on disk whichever way the wizard ends; every
// Cancel, the Close button, Escape and the title bar's close button end the
// dialog as rejected.
//
// Every message box, beep and modal run goes through ravelin::ui::prompter().
// Threads: user-interface thread only.
#include <QDialog>
#include <QString>
#include <QStringList>

#include "distribution/infwriter.h"
#include "distribution/setuppackage.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QStackedWidget;

namespace ravelin::distribution {

// What the wizard takes from the main window when it is shown.
struct WizardSource {
    QString cabinetName; // base name, without extension
    QString outputDirectory;
    QStringList fileNamesLastFirst; // the list's captions, last row first
};

class TForm7 : public QDialog {
    Q_OBJECT
public:
    enum class Page { Introduction, Step1, Step2, Step3, Complete };

    // Client-area size of the window.
    static constexpr int kClientWidth = 451;
    static constexpr int kClientHeight = 299;
    // The shortest pass phrase Finish accepts (there is no longest).
    static constexpr int kMinimumPassPhrase = 16;

    // `source` is copied; its values reach the fields in FormShow.
    explicit TForm7(const WizardSource& source, QWidget* parent = nullptr);
    ~TForm7() override;

    Page currentPage() const;
    QWidget* page(Page which) const;

    // The requests the current field values make.
    InfRequest infRequest() const;
    SetupPackageRequest setupRequest() const;

    // The Step 2 outcome line and the Complete page's lines as shown.
    QString outcomeLine() const;
    QString completeDirectoryLine() const;
    QStringList completeFileList() const;

    // --- controls (objectName = member name) ------------------------------
    QLineEdit* Edit1 = nullptr;      // Step 1 "Cab Name:"
    QLineEdit* Edit2 = nullptr;      // Step 1 "Output Directory for .inf file:"
    QListWidget* ListBox1 = nullptr; // Step 1 "File List:"
    QLineEdit* Edit3 = nullptr;      // Step 1 install directory
    QLineEdit* Edit4 = nullptr;      // Step 2 setup title
    QLineEdit* Edit5 = nullptr;      // Step 2 description
    QLineEdit* Edit6 = nullptr;      // Step 2 readme file name
    QLineEdit* Edit7 = nullptr;      // Step 3 pass phrase

    QPushButton* Button4 = nullptr;  // Introduction "< &Back" (always disabled)
    QPushButton* Button5 = nullptr;  // Introduction "&Next >"
    QPushButton* Button6 = nullptr;  // Introduction "&Cancel"
    QPushButton* Button3 = nullptr;  // Step 1 "< &Back"
    QPushButton* Button1 = nullptr;  // Step 1 "&Next >"
    QPushButton* Button2 = nullptr;  // Step 1 "&Cancel"
    QPushButton* Button9 = nullptr;  // Step 2 "&< &Back"
    QPushButton* Button8 = nullptr;  // Step 2 "&Next >"
    QPushButton* Button7 = nullptr;  // Step 2 "&Cancel"
    QPushButton* Button12 = nullptr; // Step 3 "< &Back"
    QPushButton* Button11 = nullptr; // Step 3 "&Finish" (default)
    QPushButton* Button10 = nullptr; // Step 3 "&Cancel"
    QPushButton* Button13 = nullptr; // Complete "&Close" (default)

public slots:
    // Fills Step 1 from the main window's values and shows the Introduction.
    void FormShow();
    void Button5Click();  // Introduction, Next
    void Button1Click();  // Step 1, Next: writes the INF
    void Button3Click();  // Step 1, Back
    void Button8Click();  // Step 2, Next: composes Complete, writes setup.ini
    void Button9Click();  // Step 2, Back
    void Button11Click(); // Step 3, Finish: encrypted INF and SETUP.EXE
    void Button12Click(); // Step 3, Back

protected:
    void showEvent(QShowEvent* event) override;
    // Enter presses the focused button, else the page's default button.
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* buildIntroduction();
    QWidget* buildStep1();
    QWidget* buildStep2();
    QWidget* buildStep3();
    QWidget* buildComplete();
    // Shows `which`, sets its caption, its default button and the focus.
    void showPage(Page which);
    void composeCompletePage();
    void showError(const QString& text, int helpTopic = 0);

    WizardSource m_source;
    bool m_shown = false;
    QStackedWidget* m_pages = nullptr;
    QLabel* m_outcome = nullptr;
    QLabel* m_completeDirectory = nullptr;
    QLabel* m_completeFiles = nullptr;
    QStringList m_completeFileList;
};

// Runs a fresh wizard modally (through prompter().execDialog) over `owner`
// with the main window's current values and destroys it afterwards. Returns
// the dialog's result (always QDialog::Rejected: the wizard ends by Cancel or
// Close).
int runWizard(QWidget* owner, const QString& cabinetName, const QString& outputDirectory,
              const QStringList& fileNamesLastFirst);

} // namespace ravelin::distribution
