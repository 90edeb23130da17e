#pragma once
// TForm9, "Encryption / Decryption": encrypts a file into an encrypted cabinet
// file (.ecf) with a pass phrase of 16 to 56 characters and decrypts one back
// into a .cab beside it. A modal tool window made fresh for every use.
//
// The pass phrase keys with its Windows-1252 bytes: a phrase holding a
// character without one is refused with a message, like a short one. The
// file box's text must stand for the file's bytes: a name that was not UTF-8
// (shown with U+FFFD) is refused with "Cannot open file <text>" rather than
// reaching another file. The cipher refuses pipes and devices without
// waiting, and for decryption anything that is not whole 8-byte blocks; its
// output is written beside the final name and renamed over it when complete.
//
// Help: every control with a help topic carries it as the int dynamic
// property "helpContext"; the title bar offers context help.
//
// Threads: user-interface thread. An operation is one synchronous call of
// Button1Click: the cipher runs on a helper thread while the window repaints
// (so the animation plays) but takes no user input until it is done.
#include <QDialog>
#include <QPointer>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolButton;
class QFrame;

namespace ravelin::ui {
class PanelStatusBar;
}

namespace ravelin::crypto {

class TAnimate;
class TBlowFish;

class TForm9 : public QDialog {
    Q_OBJECT

public:
    // Pass-phrase rule of the window (and of the wizard's pass phrase).
    static constexpr int kMinPassPhrase = 16;
    static constexpr int kMaxPassPhrase = 56;

    explicit TForm9(QWidget* owner = nullptr);
    ~TForm9() override;

    QFrame* Panel1;
    TAnimate* Animate1;
    QLabel* Label2; // "Pass Phrase:"
    QLabel* Label1; // "Bits: n"
    QLineEdit* Edit1;
    QLabel* Label3; // "Operation:"
    QRadioButton* RadioButton1;
    QRadioButton* RadioButton2;
    QLabel* Label4; // "FileName:"
    QLineEdit* Edit2;
    QToolButton* SpeedButton1;
    QPushButton* Button1;
    QPushButton* Button2;
    ui::PanelStatusBar* StatusBar1;

    // The component of the operation under way (null between operations).
    QPointer<TBlowFish> Encryptor;
    QPointer<TBlowFish> Decryptor;

public slots:
    void Edit1Change();
    void RadioButton1Click();
    void RadioButton2Click();
    void SpeedButton1Click();
    void Button1Click();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    // Runs one operation; false when the cipher raised an error.
    bool runOperation(bool encrypt);
    bool m_busy = false;
    bool m_centred = false;
};

// Creates a fresh TForm9 owned by `owner`, runs it modally through the
// prompter and destroys it; returns the dialog's result.
int runEncryptWindow(QWidget* owner);

} // namespace ravelin::crypto
