// Takes the screenshots of the main window with files listed and of its
// pop-up menu, into the folder given as the first argument. The list is shown
// in the C locale, whose short date gives the whole year ("10 Dec 2026").
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include "app/form1.h"
#include "cabinet/filelist.h"
#include "ui/panelstatusbar.h"

#include <QLineEdit>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QTemporaryDir dir;
    const char* names[] = {"setup.exe", "readme.txt", "product.dll", "license.rtf", "install.inf",
                           "logo.png",  "data.bin",   "notes.xyz",   "CHANGES"};
    QStringList paths;
    for (const char* n : names) {
        const QString p = dir.filePath(QString::fromLatin1(n));
        QFile f(p);
        f.open(QIODevice::WriteOnly);
        f.write("sample");
        paths << p;
    }
    ravelin::app::TForm1 form({QStringLiteral("/noquery")});
    form.Edit1->setText(QStringLiteral("product"));
    form.setWindowTitle(QStringLiteral("product - Ravelin Pro"));
    form.show();
    form.ListView1->addFiles(paths, &form);
    form.StatusBar1->setPanelText(0, QStringLiteral(" Done"));
    QTimer::singleShot(800, [&] {
        QScreen* screen = QGuiApplication::primaryScreen();
        const QRect frame = form.frameGeometry();
        screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
            .save(out + QStringLiteral("/main-window.png"));
        form.popupMenu()->popup(form.ListView1->mapToGlobal(QPoint(180, 90)));
        QTimer::singleShot(600, [&, screen, frame] {
            screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
                .save(out + QStringLiteral("/main-popup-menu.png"));
            form.popupMenu()->close();
            app.quit();
        });
    });
    return app.exec();
}
