#include "app/startup.h"

#include <QApplication>

#include "app/form1.h"
#include "platform/constants.h"
#include "settings/help.h"
#include "ui/icons.h"

namespace ravelin::app {

int runApplication(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kApplicationName));
    QApplication::setOrganizationName(QString::fromLatin1(kOrganisationName));
    QApplication::setApplicationDisplayName(QString::fromLatin1(kApplicationTitle));
    QApplication::setApplicationVersion(QString::fromLatin1(kVersionText));
    QApplication::setWindowIcon(ui::picture(ui::Picture::Application));
    // The help file the help window reads its topics from.
    app.setProperty("helpFile", QString::fromLatin1(kHelpFileName));
    settings::installHelp();

    TForm1 form(QApplication::arguments().mid(1));
    form.show();
    return app.exec();
}

}  // namespace ravelin::app
