#pragma once
// The Prompter: everything a window asks of the user or of the desktop goes
// through it — message boxes, beeps, the open-file dialog, modal dialogs of
// our own (the folder chooser and every tool window), opening a file or URL,
// and showing help. The application uses QtPrompter; tests install a scripted
// fake (tests/support/fakeprompter.h) that answers in order and records what
// was shown.
//
// Threads: user-interface thread only.
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

class QDialog;
class QWidget;

namespace ravelin::ui {

enum class Icon { None, Information, Warning, Error, Question };

// Buttons of a message box; `message` returns the one pressed.
enum Button : int {
    NoButton = 0x000,
    Ok = 0x001,
    Cancel = 0x002,
    Yes = 0x004,
    No = 0x008,
    Help = 0x010,
    Retry = 0x020,
    Abort = 0x040,
    Ignore = 0x080,
};

enum class Beep { Default, Error, Information, Warning };

struct Message {
    QString title; // window title; empty means the application title
    QString text;
    Icon icon = Icon::None;
    int buttons = Ok; // or-ed Button values
    int defaultButton = NoButton;
    int helpTopic = 0; // topic shown when Help or F1 is pressed (the box stays
                       // open); 0: none, F1 does nothing
};

struct OpenFileRequest {
    QString title;
    QString filter;          // Qt syntax: "All Files (*)" ;; ...
    QString directory;       // starting directory; empty for the current one
    QString defaultSuffix;   // without the dot; empty for none
    bool multiple = false;   // several files may be chosen
    bool helpButton = false; // a Help button is offered
    int helpTopic = 0;
};

class Prompter {
public:
    virtual ~Prompter() = default;

    // Shows a modal message box owned by `parent` and returns the button
    // pressed (Help never ends the box: it shows `helpTopic` and waits; F1
    // in a box with a topic shows it too, with or without a Help button).
    virtual int message(QWidget* parent, const Message& message) = 0;

    // Sounds the desktop's beep for the given kind.
    virtual void beep(Beep kind) = 0;

    // Runs the open-file dialog; returns the chosen absolute paths in the
    // order the dialog gives them, empty when cancelled. Never changes the
    // process's working directory.
    virtual QStringList openFiles(QWidget* parent, const OpenFileRequest& request) = 0;

    // Runs a modal dialog of our own (folder chooser, tool windows) and
    // returns its result code (QDialog::Accepted / Rejected or done()'s value).
    // The dialog stays owned by the caller.
    virtual int execDialog(QDialog* dialog) = 0;

    // Asks the desktop to open a local file or a URL (web page, mailto:) with
    // its default application. False when the desktop refused.
    virtual bool openUrl(const QUrl& url) = 0;

    // Shows the help window at `topic` (0 for the contents).
    virtual void showHelp(int topic) = 0;
};

// The prompter every window uses. Never null: QtPrompter by default.
Prompter& prompter();

// Installs `p` (not owned) for all later calls; nullptr restores QtPrompter.
void setPrompter(Prompter* p);

// What QtPrompter::showHelp calls; set once by the application when the help
// window exists. Without one, showHelp does nothing.
void setHelpHandler(std::function<void(int topic)> handler);
void invokeHelp(int topic);

// Short forms used throughout the windows.
int showMessage(QWidget* parent, const QString& text, Icon icon = Icon::None, int buttons = Ok,
                const QString& title = QString(), int helpTopic = 0);
void beep(Beep kind = Beep::Default);

// The application title: "Ravelin Pro" at start, "<cabinet name> - Ravelin
// Pro" once a cabinet is named. Untitled message boxes carry it. It is kept
// apart from Qt's application display name, which Qt would append to every
// window title the window manager shows. User-interface thread.
QString applicationTitle();
void setApplicationTitle(const QString& title);

// The real desktop.
class QtPrompter final : public Prompter {
public:
    int message(QWidget* parent, const Message& message) override;
    void beep(Beep kind) override;
    QStringList openFiles(QWidget* parent, const OpenFileRequest& request) override;
    int execDialog(QDialog* dialog) override;
    bool openUrl(const QUrl& url) override;
    void showHelp(int topic) override;
};

} // namespace ravelin::ui
