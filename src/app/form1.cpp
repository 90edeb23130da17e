#include "app/form1.h"

namespace ravelin::app {

TForm1::TForm1(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("Form1"));
}

}  // namespace ravelin::app
