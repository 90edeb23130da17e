// Writes the screenshots of the cabinet viewer (with a real listing), the
// help window and the About box: info_shots OUTPUT_DIR RAVELIN_CAB
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include "settings/form2.h"
#include "settings/help.h"
#include "support/testutil.h"
#include "tools/cabinettool.h"
#include "tools/form4.h"
#include "tools/form5.h"

using namespace ravelin;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString cab = QString::fromLocal8Bit(argv[2]);

    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("release files"));
    QDir().mkpath(folder);
    const QStringList names{"setup.exe", "readme.txt", "product.dll", "help.chm", "licence.rtf"};
    QStringList args{QStringLiteral("n"), folder + QStringLiteral("/product 6.2.cab")};
    int seed = 1;
    for (const QString& n : names) {
        test::writeFile(folder + QLatin1Char('/') + n, test::randomBytes(4000 * seed * seed, seed));
        args << folder + QLatin1Char('/') + n;
        ++seed;
    }
    if (test::run(cab, args).exitCode != 0)
        return 1;
    QDir::setCurrent(dir.path());
    tools::setCabinetToolOverride(cab);

    tools::TForm4 chooser;
    chooser.Edit1->setText(QStringLiteral("\"") + args[1] + QStringLiteral("\""));
    tools::TForm5 result(&chooser);
    result.show();
    if (!QTest::qWaitFor([&] { return !result.Timer1.isActive(); }))
        return 1;
    QTest::qWait(50);
    result.grab().save(out + QStringLiteral("/info-viewer.png"));

    settings::showHelpTopic(0);
    settings::THelpWindow* help = settings::helpWindow();
    help->resize(640, 560);
    QTest::qWait(50);
    help->grab().save(out + QStringLiteral("/help-window.png"));

    settings::TForm2 about;
    about.show();
    QTest::qWait(50);
    about.grab().save(out + QStringLiteral("/about-box.png"));
    return 0;
}
