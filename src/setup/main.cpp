// The end user's setup program. Its package is the folder that holds it,
// wherever it is started from (a file manager starts it in the home folder).
//
//   SETUP.EXE                  the windows, for a user at the screen
//   SETUP.EXE --answers FILE   the same windows answered from FILE (see
//                              setup/answerprompter.h); messages go to
//                              standard error
// Exit status: 0 when the files were installed, 1 otherwise, 2 for bad usage.
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/io.h"
#include "setup/answerprompter.h"
#include "setup/setupengine.h"
#include "setup/setupwindows.h"

int main(int argc, char* argv[])
{
    using namespace ravelin;
    // Stopped by a signal, the program still removes the decrypted files.
    io::installSignalCleanup();
    QApplication app(argc, argv); // takes Qt's own options out of argv
    QApplication::setApplicationName(QStringLiteral("Vaultline"));

    std::unique_ptr<setup::AnswerPrompter> answered;
    if (argc == 3 && std::strcmp(argv[1], "--answers") == 0) {
        setup::Answers answers;
        QString error;
        if (!setup::readAnswers(argv[2], &answers, &error)) {
            std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
            return 2;
        }
        answered = std::make_unique<setup::AnswerPrompter>(answers);
        ui::setPrompter(answered.get());
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: %s [--answers FILE]\n", argv[0]);
        return 2;
    }

    int code = 1;
    {
        setup::SetupBanner banner(setup::programFolder(argv[0]));
        QObject::connect(
            &banner, &setup::SetupBanner::finished, &app,
            [&code](int result) {
                code = result;
                QCoreApplication::exit(result);
            },
            Qt::QueuedConnection);
        banner.showMaximized();
        code = app.exec() == 0 ? code : 1;
    }
    ui::setPrompter(nullptr);
    return code;
}
