#pragma once
#include <QMainWindow>

namespace ravelin::app {

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
};

}  // namespace ravelin::app
