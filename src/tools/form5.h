#pragma once
// The cabinet information result window (TForm5). Shown from the chooser
// (TForm4), which hands it the cabinet name, and a one-shot 1 ms timer
// armed at each showing runs the lister once the window is on the screen:
// `ravelin-cab l NAME` (see tools/cabinettool.h) with its output going to
// cabinf.TXT in the working directory. The file is then read back into the
// text box; when there is none, "There was an error getting the required
// information" is shown. When the lister cannot be run at all (not found
// beside the program or on PATH, not executable, not started), that message
// says so and why (see cabinetToolNotRunText) and no listing is shown: an
// older cabinf.TXT would look like this cabinet's. The listing file is never
// deleted. "&OK" closes this window and the chooser together.
//
// A cabinet name whose command line ("ravelin-cab l NAME > cabinf.TXT")
// would pass 512 characters is refused with a message and nothing is run.
// So is an argument that names a pipe, socket, device or folder ("Cannot
// open file NAME: not a regular file"), or text that no longer names the
// file it was made from ("Cannot open file NAME"): the window never waits
// on such a file, and never lets the lister open another one. A listing
// name that is not a regular file gives the no-listing message.
//
// Threads: user-interface thread; the window does not respond while the
// lister runs.
#include <QDialog>
#include <QTimer>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace ravelin::tools {

inline constexpr const char* kNoListingMessage = "There was an error getting the required information";
inline constexpr const char* kCommandTooLongMessage =
    "The cabinet file name is too long. The command to list it may hold at most 512 characters.";

// The message when the lister `tool` (empty: none was found) could not be
// run for `reason`:
//   "There was an error getting the required information: ravelin-cab was
//    not found beside the program or on PATH"
//   "There was an error getting the required information: <tool> could not
//    be run: <reason>"
QString cabinetToolNotRunText(const QString& tool, const QString& reason);

class TForm5 : public QDialog {
    Q_OBJECT
public:
    // `cabinet` is the name to list, as the chooser hands it over (Edit1
    // starts with it).
    explicit TForm5(QWidget* parent = nullptr, const QString& cabinet = QString());

    QLabel* Label1;        // "Cabinet File Information:"
    QLineEdit* Edit1;      // the cabinet name, disabled
    QPlainTextEdit* Memo1; // the listing
    QPushButton* Button1;  // "&OK"
    QTimer Timer1;         // one-shot start timer, 1 ms

private slots:
    void Timer1Timer();
    void Button1Click();

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace ravelin::tools
