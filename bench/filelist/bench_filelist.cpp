// Adds 10,000 files to the main window's list through the real add path
// (events processed after each file) and prints files per second, for the
// open-dialog road (painting suspended) and the drop road (painting per file).
//   usage: bench_filelist [COUNT]   (runs offscreen unless QT_QPA_PLATFORM is set)
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

#include "app/form1.h"
#include "cabinet/filelist.h"

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    QTemporaryDir dir;
    QStringList paths;
    const char* exts[] = {".txt", ".exe", ".dll", ".cab", ".ini", ".png", ".zzq", ""};
    for (int i = 0; i < count; ++i) {
        const QString p = dir.filePath(QStringLiteral("file%1%2")
                                           .arg(count - i, 5, 10, QLatin1Char('0'))
                                           .arg(QLatin1String(exts[i % 8])));
        QFile f(p);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write("data");
        paths.append(p);
    }
    ravelin::app::TForm1 form({QStringLiteral("/noquery")});
    form.show();
    QCoreApplication::processEvents();

    QElapsedTimer t;
    t.start();
    const int added = form.ListView1->addFiles(paths, &form, true);
    const double dialogSeconds = t.nsecsElapsed() / 1e9;
    std::printf("open-dialog road: %d files in %.3f s = %.0f files/s (goal: %d in under 2 s)\n", added,
                dialogSeconds, added / dialogSeconds, count);

    form.ListView1->clear();
    t.restart();
    int dropped = 0;
    for (const QString& p : paths)
        dropped += form.ListView1->addFiles({p}, &form, true);
    const double dropSeconds = t.nsecsElapsed() / 1e9;
    std::printf("drop road:        %d files in %.3f s = %.0f files/s\n", dropped, dropSeconds,
                dropped / dropSeconds);
    return added == count && dropped == count ? 0 : 1;
}
