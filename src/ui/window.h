#pragma once
// Chores every window shares. User-interface thread only.
class QWidget;

namespace ravelin::ui {

// The property a control's help topic is kept in; context help reads it from
// the control or its nearest parent that has one.
inline constexpr const char* kHelpContextProperty = "helpContext";

// Gives `control` the help topic `topic` (its HelpContext).
void setHelpContext(QWidget* control, int topic);

// Moves `window` so that its frame is centred on the available area of its
// screen (the primary screen when it has none yet).
void centreOnScreen(QWidget* window);

} // namespace ravelin::ui
