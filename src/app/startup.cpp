#include "app/startup.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

#include "app/form1.h"
#include "platform/constants.h"
#include "platform/io.h"
#include "settings/help.h"
#include "ui/icons.h"

namespace ravelin::app {

namespace {

// --help and --version answer on standard output before any window or
// display connection exists, so they work on a console without X.
bool answeredWithoutWindow(int argc, char** argv, int* exitCode)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("usage: ravelin [/noquery] [FILE...]\n\n"
                        "  /noquery   start without the new-cabinet dialog\n"
                        "  FILE...    add the files to the list; a cabinet named alone opens in\n"
                        "             the cabinet information window\n"
                        "  --help     this text\n"
                        "  --version  the version\n\n"
                        "The command line of every capability is ravelin-cab (see ravelin-cab --help).\n");
            *exitCode = 0;
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("ravelin %s (%s)\n", kVersionText, kApplicationTitle);
            *exitCode = 0;
            return true;
        }
    }
    return false;
}

} // namespace

void configureApplication()
{
    QApplication::setApplicationName(QString::fromLatin1(kApplicationName));
    QApplication::setOrganizationName(QString::fromLatin1(kOrganisationName));
    // No application display name: Qt would append it to every window title
    // ("mycab - Ravelin Pro — Ravelin Pro"); each window's caption is whole.
    QApplication::setApplicationVersion(QString::fromLatin1(kVersionText));
    QApplication::setWindowIcon(ui::picture(ui::Picture::Application));
    // The help file the help window reads its topics from.
    qApp->setProperty("helpFile", QString::fromLatin1(kHelpFileName));
    settings::installHelp();
}

int runApplication(int argc, char** argv)
{
    int exitCode = 0;
    if (answeredWithoutWindow(argc, argv, &exitCode))
        return exitCode;
    io::installSignalCleanup();
    QApplication app(argc, argv);
    configureApplication();

    TForm1 form(QApplication::arguments().mid(1));
    form.show();
    return app.exec();
}

} // namespace ravelin::app
