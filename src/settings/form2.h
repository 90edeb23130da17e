#pragma once
// The about box (TForm2): caption "About Ravelin Pro", a lowered brown panel
// with the product picture at its top, the label "Ravelin Professional
// (6.2)" (the version being kVersionText, the project's) and "&OK". Made for
// each opening and destroyed after it.
//
// Threads: user-interface thread.
#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace ravelin::settings {

class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    QFrame* Panel1;       // lowered frame, 83 x 253, RGB (128, 64, 0)
    QLabel* Image1;       // the product picture, 81 x 60, at the panel's top
    QLabel* Label1;       // "Ravelin Professional (6.2)"
    QPushButton* Button1; // "&OK", the default button

protected:
    void showEvent(QShowEvent* event) override;
};

// Opens a fresh about box owned by `owner` modally (through the prompter)
// and destroys it when it closes.
void runAbout(QWidget* owner);

} // namespace ravelin::settings
