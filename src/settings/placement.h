#pragma once
// Storage of a main window's placement between runs, in the preferences store
// (settings/preferences.h), under the value names
//   Flags      decimal integer: 2 when the window was minimised from the
//              maximised state (it comes back maximised), else 0
//   ShowCmd    1 normal, 2 minimised, 3 maximised
//   MinMaxPos  "x,y,x,y": minimised position (always -1,-1 here: the desktop
//              decides where minimised windows go) and maximised position
//              (the maximised window's top-left, -1,-1 when not maximised)
//   NormPos    "left,top,right,bottom": the normal (restored) rectangle of the
//              window's client area in screen pixels, right and bottom
//              exclusive (right = left + width)
// Numbers are read as the store reads integers: decimal, or hexadecimal after
// "0x"/"0X".
//
// Threads: user-interface thread.
#include <QRect>
#include <QString>

class QWidget;

namespace ravelin::settings {

class Preferences;

// Placement value names.
inline constexpr const char* kPlacementFlags = "Flags";
inline constexpr const char* kPlacementShowCmd = "ShowCmd";
inline constexpr const char* kPlacementMinMaxPos = "MinMaxPos";
inline constexpr const char* kPlacementNormPos = "NormPos";

// Show states as stored in ShowCmd.
inline constexpr int kShowNormal = 1;
inline constexpr int kShowMinimized = 2;
inline constexpr int kShowMaximized = 3;
// Flags bit: restore to the maximised state after being minimised.
inline constexpr int kRestoreToMaximized = 2;

// The rectangle NormPos text gives for a window whose current geometry is
// `current`: each of the four numbers that is missing or not a number falls
// back to current left, top, left + width, top + height; when `fixedSize`,
// right and bottom come from the stored left and top and the current size.
QRect normalRectFromText(const QString& normPos, const QRect& current, bool fixedSize);

// Reads the stored placement from `prefs` and applies it to the top-level
// `window`, which should not be shown yet:
//  1. When MinMaxPos or NormPos is stored, the NormPos rectangle (above)
//     becomes the window's geometry, provided its left is smaller than its
//     right and its top smaller than its bottom; a rectangle that lies on no
//     screen at all is moved onto the primary screen, keeping its size, and
//     one wider or taller than the available area of the screen holding most
//     of it is fitted to that area on that axis (position and extent).
//  2. ShowCmd 1, 5 and 9 give the normal state, 2 and 6 the minimised state
//     (also maximised underneath when Flags holds kRestoreToMaximized), 3 the
//     maximised state; anything else, or nothing stored, gives the normal state.
// Missing or unreadable values leave the window as it is; nothing is reported.
void restorePlacement(QWidget* window, const Preferences& prefs);
// The same with the user's preferences store.
void restorePlacement(QWidget* window);

// Writes Flags, ShowCmd, MinMaxPos and NormPos for `window`'s current
// placement into `prefs`, creating the store when it is missing. Returns
// false when the store could not be written; writes nothing else and reports
// nothing.
bool writePlacement(QWidget* window, Preferences& prefs);

// Writes the placement into `prefs`, whose file is `storeFile`; when that
// fails, shows the run-time error "Cannot create file <storeFile>" (error
// box, owned by `window`) and returns false. The window closes all the same.
bool savePlacement(QWidget* window, Preferences& prefs, const QString& storeFile);
// The same with the user's preferences store.
bool savePlacement(QWidget* window);

// The file the user's preferences store lives in.
QString preferencesFilePath();

} // namespace ravelin::settings
