#pragma once
// Context help for windows whose controls carry help topic numbers.
//
// A control's topic is its dynamic int property "helpContext" (0 or absent:
// none). A control without a topic takes the topic of its nearest enclosing
// widget in the same window that has one; when none has, nothing is shown.
//
// enableContextHelp() gives a window the title-bar help button (Qt's "What's
// This?" mode: press it, then click a control) and F1 (the control with the
// keyboard focus). Either shows the control's topic from the help document
// (settings/help.h) in a pop-up whose top-left corner lies at the control's
// top-left corner, moved just enough to stay on the screen. The pop-up
// closes at the next click or key press.
//
// Threads: user-interface thread.
#include <QFrame>

#include "ui/window.h"

class QLabel;

namespace ravelin::settings {

// The dynamic property that carries a control's help topic.
using ui::kHelpContextProperty;

// Call from the window's constructor (before it is shown): adds the help
// button to the title bar and the F1 key. `window` must be a top-level
// widget; it keeps its other window flags.
void enableContextHelp(QWidget* window);

// From now on, every top-level window that is shown with the title-bar help
// button (Qt::WindowContextHelpButtonHint) gets context help as if it had
// called enableContextHelp(). Called once at start-up by installHelp().
void enableContextHelpForHelpButtonWindows();

// The topic of `control`: its own "helpContext", else that of its nearest
// enclosing widget up to and including its window; 0 when none has one.
int helpContextOf(const QWidget* control);

// Shows the topic of `control` (see helpContextOf) as the pop-up described
// above. Returns false, showing nothing, when the control has no topic or
// the help document has no text for it.
bool showContextHelp(QWidget* control);

// The pop-up that shows a topic; objectName "ContextHelpPopup", the int
// property "helpTopic" holds the topic shown.
class ContextHelpPopup : public QFrame {
    Q_OBJECT
public:
    ContextHelpPopup(int topic, const QString& html, QWidget* parent = nullptr);
    int topic() const { return m_topic; }
    QLabel* text() const { return m_text; }

    // The pop-up currently open, or null.
    static ContextHelpPopup* current();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int m_topic;
    QLabel* m_text;
};

} // namespace ravelin::settings
