#pragma once
// The new-cabinet dialog TForm8 ("New Cabinet File"), the self-extracting
// output that follows a build (makeSX) and the learned self-extract default
// (AIPerform / AINextStep).
//
// Threads: user-interface thread only.
#include <QDialog>
#include <QString>

#include "cabinet/sfx/sfxjoin.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace ravelin::tools {
class TBrowseFolder;
}

namespace ravelin::cabinet {

// The three cabinet settings the main window keeps and only this dialog
// fills: handed in as they are, handed back when "&OK" accepts.
struct CabinetSettings {
    QString name;      // cabinet name, exactly as typed
    QString directory; // output directory, exactly as typed
    bool selfExtracting = false;
};

// The main window's caption for a cabinet name: name + " - Ravelin Pro".
QString captionFor(const QString& name);

// Made for one showing and destroyed after it; run it with
// ui::prompter().execDialog(&dialog). Controls by objectName: Label1, Edit1,
// Label2, Edit2, SpeedButton7 (runs BrowseFolder1), CheckBox1 "Make Self
// Extracting", Button1 "&OK" (default), Button2 "&Exit".
//
// "&OK" with an empty name, or else an empty directory: information beep and
// message "You must fill in all fields before you can continue"; the dialog
// stays open. Otherwise it sets the application title to captionFor(name),
// keeps name and directory (exactly as typed) and the check box as
// settings(), and accepts; the main window then takes them (and sets its
// caption).
//
// "&Exit" closes the dialog with the result ExitApplication and sets
// exitRequested(); the caller then ends the application (the main window
// closes itself, which also saves its placement). Escape closes the dialog
// and changes nothing.
class TForm8 : public QDialog {
    Q_OBJECT
public:
    enum { ExitApplication = 2 };

    // The check box starts as `current.selfExtracting`; the text boxes start empty.
    TForm8(QWidget* parent, const CabinetSettings& current);
    ~TForm8() override;

    bool exitRequested() const { return m_exitRequested; }
    // What "&OK" accepted; the settings handed in until then.
    CabinetSettings settings() const { return m_settings; }

    QLabel* Label1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QToolButton* SpeedButton7 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    // Title "Output Directory", bfStatusText, ShowFullPath, rooted at My Computer.
    tools::TBrowseFolder* BrowseFolder1 = nullptr;

public slots:
    void SpeedButton7Click();
    void Button1Click();
    void Button2Click();

private:
    CabinetSettings m_settings;
    bool m_exitRequested = false;
};

// The three paths of the self-extracting output for output directory
// `directory` and cabinet name `name`: directory + "/" + name + ".cab" and
// ".exe" (plain concatenation, nothing normalised).
QString cabinetPathFor(const QString& directory, const QString& name);
QString selfExtractingPathFor(const QString& directory, const QString& name);

// makeSX: joins the extractor at `extractorPath` and the built cabinet into
// the .exe (see sfx::joinSelfExtracting) and reports a failure in a message
// box owned by `parent`:
//   an input that cannot be opened or an output that cannot be created: the
//     run-time's file error text ("File not found", "Disk full", ...), error icon;
//   a failed block of the extractor or of the cabinet: "Ravelin cannot find
//     file " + that file's full path;
//   a failed close: "There was an error trying to close a file - Please try again".
// After any failure the cabinet is kept and no incomplete .exe is left; after
// a good copy the cabinet is deleted. Returns the join's result.
sfx::SfxResult makeSX(QWidget* parent, const QString& extractorPath, const QString& directory,
                      const QString& name);

// AIPerform: the stored self-extract default (preference AISetting read as a
// boolean; false when absent or not a number).
bool AIPerform();

// AINextStep: learns from a build that is about to run self-extracting or
// not. Reads AIInt (0 when absent or not a number), adds 1 for a
// self-extracting build or subtracts 1 otherwise, clamps to 0 .. 3, writes
// it back, then writes AISetting "0" when the result is 0 and "1" when it is
// 3 (1 and 2 leave AISetting alone). Store failures are not reported.
// Returns the new counter.
int AINextStep(bool selfExtracting);

} // namespace ravelin::cabinet
