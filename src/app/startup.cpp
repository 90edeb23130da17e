#include "app/startup.h"

#include <QApplication>

#include "app/form1.h"
#include "platform/constants.h"

namespace ravelin::app {

int runApplication(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QString::fromLatin1(kApplicationTitle));
    TForm1 form;
    form.show();
    return app.exec();
}

}  // namespace ravelin::app
