// Saves a picture of each of the wizard's five pages: wizard_shots <directory>.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstdio>

#include "distribution/wizard/form7.h"
#include "support/fakeprompter.h"

using ravelin::distribution::TForm7;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: wizard_shots <directory>\n");
        return 2;
    }
    const QString target = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(target);
    ravelin::test::FakePrompter fake;
    ravelin::test::FakePrompter::Scope scope(fake);

    const QString cabs = QStringLiteral("/tmp/ravelin/cabs");
    QDir().mkpath(cabs);
    TForm7 form(
        ravelin::distribution::WizardSource{QStringLiteral("tools"),
                                            cabs,
                                            {QStringLiteral("tools.hlp"), QStringLiteral("tools.exe"),
                                             QStringLiteral("readme.txt"), QStringLiteral("licence.txt")}});
    form.show();
    int failures = 0;
    auto shot = [&](const char* name) {
        QApplication::processEvents();
        const QString path =
            target + QStringLiteral("/wizard-") + QString::fromLatin1(name) + QStringLiteral(".png");
        if (!form.grab().save(path)) {
            std::fprintf(stderr, "cannot save %s\n", qPrintable(path));
            ++failures;
        }
    };
    shot("1-introduction");
    form.Button5->click();
    shot("2-step1");
    form.Button1->click();
    form.Edit4->setText(QStringLiteral("Ravelin Tools Setup"));
    form.Edit5->setText(QStringLiteral("the Ravelin tool set"));
    shot("3-step2");
    form.Button8->click();
    form.Edit7->setText(QStringLiteral("a long and secret pass phrase"));
    shot("4-step3");
    form.Button11->click();
    shot("5-complete");
    if (form.currentPage() != TForm7::Page::Complete || !fake.messages.isEmpty()) {
        std::fprintf(stderr, "the wizard did not reach Complete: %s\n",
                     qPrintable(fake.messageTexts().join('\n')));
        return 1;
    }
    return failures ? 1 : 0;
}
