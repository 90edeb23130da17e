#pragma once
// The cabinet information chooser (TForm4): the user names a cabinet, either
// by typing or through the open dialog (the chosen path is put in double
// quotes), and "&View" opens the result window (TForm5) that lists it.
//
// Threads: user-interface thread.
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace ravelin::tools {

class TForm4 : public QDialog {
    Q_OBJECT
public:
    explicit TForm4(QWidget* parent = nullptr);

    QLabel* Label1;            // "Cab File Name:"
    QLineEdit* Edit1;          // the cabinet name, exactly as typed or chosen
    QToolButton* SpeedButton1; // folder picture: the open dialog
    QPushButton* Button1;      // "&View": disabled until Edit1 first changes
    QPushButton* Button2;      // "&Cancel"

private slots:
    void Edit1Change();
    void SpeedButton1Click();
    void Button1Click();
    void Button2Click();

protected:
    void showEvent(QShowEvent* event) override;
};

// Opens a fresh chooser owned by `owner` modally (through the prompter),
// destroys it when it closes and returns its result code.
int runCabinetInfo(QWidget* owner);

} // namespace ravelin::tools
