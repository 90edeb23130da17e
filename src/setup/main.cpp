// The end user's setup program: run from the package directory.
#include <QApplication>
#include <QDir>

#include "setup/setupwindows.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vaultline"));
    ravelin::setup::SetupBanner banner(QDir::currentPath());
    QObject::connect(&banner, &ravelin::setup::SetupBanner::finished, &app,
                     [](int code) { QCoreApplication::exit(code); }, Qt::QueuedConnection);
    banner.showMaximized();
    return app.exec();
}
