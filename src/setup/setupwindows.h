#pragma once
// The setup program's windows: the banner that fills the screen, and the
// three dialogs it shows one after the other (pass phrase, readme, ready),
// each modal through the prompter, so only one dialog is ever on the screen.
//
// Every message box and beep goes through ravelin::ui::prompter(). Threads:
// user-interface thread only.
#include <QDialog>
#include <QWidget>

#include "setup/setupengine.h"

class QLabel;
class QLineEdit;
class QShowEvent;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;

namespace ravelin::setup {

// Result codes of the dialogs: Accepted goes on to the next dialog, anything
// else ends the program.
enum DialogResult { EndProgram = QDialog::Rejected, Continue = QDialog::Accepted };

// The pictures of the setup windows.
QPixmap setupPicture(int size);

// The font of the dialogs: MS Sans Serif at 8 points, or the nearest
// narrow sans serif the machine has.
QFont dialogFont();

// Pass-phrase dialog, client area 320 x 204.
class PassPhraseDialog : public QDialog {
    Q_OBJECT
public:
    PassPhraseDialog(SetupContext* context, QWidget* parent = nullptr);

    QLineEdit* Edit1;     // the pass phrase, at most 56 characters, shown in clear
    QPushButton* Button1; // "&Next >" (default)
    QPushButton* Button2; // "&Cancel"
    QStatusBar* StatusBar1;
    QString statusText() const;

    // "&Next >": length check, INF decryption and check, cabinet decryption.
    void Button1Click();

private:
    void setStatus(const QString& text);
    SetupContext* m_context;
    QLabel* m_panel;
};

// Readme dialog, client area 319 x 345. Loads the readme named in a3 when it
// is created.
class ReadmeDialog : public QDialog {
    Q_OBJECT
public:
    ReadmeDialog(SetupContext* context, QWidget* parent = nullptr);

    QPlainTextEdit* Memo1; // the readme text, read only, vertical scroll bar
    QPushButton* Button1;  // "&Next >" (default)
    QPushButton* Button2;  // "&Exit"
};

// Ready dialog, client area 278 x 147: the two texts and the picture, then
// the destination (where the files will be installed, which the end user may
// change by typing or through the folder picker), then the buttons.
class ReadyDialog : public QDialog {
    Q_OBJECT
public:
    ReadyDialog(SetupContext* context, QWidget* parent = nullptr);

    QLineEdit* Edit1;     // the destination; Next is disabled while it is empty
    QPushButton* Button3; // "&Browse...": the folder picker
    QPushButton* Button1; // "&Next >" (default)
    QPushButton* Button2; // "&Cancel"

    // When the dialog is first shown: the destination the INF gives
    // (defaultInstallDirectory()).
    void FormShow();
    // "&Browse...": TBrowseFolder, starting at the destination's nearest
    // existing folder; a confirmed folder becomes the destination.
    void Button3Click();
    // "&Next >": hides the dialog, installs into the destination (a changed
    // text through typedInstallDirectory()), reports the outcome.
    void Button1Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    SetupContext* m_context;
    bool m_shown = false;
    QString m_defaultText; // Edit1's text for the default destination
};

// The banner: caption "Vaultline", always on top, shown maximised, teal
// background, picture and the setup title. Reads setup.ini from
// `packageDirectory` (bytes: the folder holding the program) and creates the
// three dialogs; when it is first shown or becomes active it runs them.
class SetupBanner : public QWidget {
    Q_OBJECT
public:
    explicit SetupBanner(const std::string& packageDirectory, QWidget* parent = nullptr);

    const SetupContext& context() const { return m_context; }
    SetupContext& context() { return m_context; }
    QString titleText() const;

    PassPhraseDialog* passPhraseDialog() const { return m_pass; }
    ReadmeDialog* readmeDialog() const { return m_readme; }
    ReadyDialog* readyDialog() const { return m_ready; }

    // Runs the dialogs in order: pass phrase, readme, ready. Returns 0 when
    // the files were installed, 1 when the program ended otherwise. The work
    // folder with the decrypted files is removed before it returns, whatever
    // the outcome. Emits finished() with the same code.
    int run();

signals:
    void finished(int exitCode);

protected:
    bool event(QEvent* event) override;

private:
    SetupContext m_context;
    class BannerLabel* m_label;
    PassPhraseDialog* m_pass;
    ReadmeDialog* m_readme;
    ReadyDialog* m_ready;
    bool m_started = false;
};

} // namespace ravelin::setup
