#pragma once
// The program's own help: one HTML document carried as a Qt resource
// (":/help/ravelin.html"), standing for the help file "ravelin.hlp". Every
// help topic number has an anchor "topicN" in it; the contents page is topic
// 0 (anchor "contents"). A topic's text is marked <!--topic:N--> ...
// <!--/topic--> so that it can be shown alone as a context pop-up.
//
// The help window (THelpWindow) shows the document in a QTextBrowser; one
// window serves the whole run and comes to the front at each request. Its
// "&Close" button and the Escape key close it.
//
// Threads: user-interface thread.
#include <QList>
#include <QString>
#include <QUrl>
#include <QWidget>

class QPushButton;
class QTextBrowser;
class QToolButton;

namespace ravelin::settings {

// Resource path of the help document.
inline constexpr const char* kHelpDocumentPath = ":/help/ravelin.html";

// The topic numbers the program's controls and messages carry, ascending.
const QList<int>& helpTopicNumbers();

// The whole help document (empty only when the resource is missing).
QString helpDocument();

// The HTML of topic `topic` alone (0 gives the contents); empty when the
// document has no such topic.
QString helpTopicHtml(int topic);

// The address that shows `topic` in the help window: the document with the
// fragment "topicN", or "contents" for 0 and for a number without a topic.
QUrl helpTopicUrl(int topic);

class THelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit THelpWindow(QWidget* parent = nullptr);

    QTextBrowser* TextBrowser1;
    QToolButton* ContentsButton; // "&Contents"
    QToolButton* BackButton;     // "&Back"
    QToolButton* ForwardButton;  // "&Forward"
    QPushButton* CloseButton;    // "&Close"

    // Shows `topic` (0: the contents).
    void showTopic(int topic);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// Shows the help window at `topic` (0 for the contents), creating it the
// first time. While a modal window is open, the help window opens modal on
// top of it, so that it can be read and closed; otherwise it is an ordinary
// window beside the program's windows. It never keeps the program running
// after the main window has closed.
void showHelpTopic(int topic);

// The help window when one has been created, else null.
THelpWindow* helpWindow();

// Makes the prompter's showHelp() (Help buttons, F1, the Help menu) open the
// help window, and gives context help (settings/contexthelp.h) to every
// window shown with the title-bar help button. Called once at start-up.
void installHelp();

} // namespace ravelin::settings
