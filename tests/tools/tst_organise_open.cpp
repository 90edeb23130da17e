// Proves the main window's "&Organise Cabs" entry and its "Organise cab
// files" tool button each open a fresh organise window.
#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QToolButton>
#include <QtTest>

#include "app/form1.h"
#include "support/fakeprompter.h"
#include "tools/form6.h"

using ravelin::test::FakePrompter;

class TestOrganiseOpen : public QObject {
    Q_OBJECT
private slots:
    void menuAndButtonOpenFreshWindows()
    {
        FakePrompter prompter;
        FakePrompter::Scope scope(prompter);
        ravelin::app::TForm1 main({"/noquery"});
        QList<ravelin::tools::TForm6*> seen;
        for (int i = 0; i < 2; ++i)
            prompter.dialogHandlers.push_back([&](QDialog* d) {
                auto* form = qobject_cast<ravelin::tools::TForm6*>(d);
                if (form) {
                    seen << form;
                    if (form->CheckListBox1->count() != 0 || !form->Edit1->text().isEmpty())
                        return -1;
                    form->Edit1->setText("typed"); // must not survive into the next opening
                }
                return int(QDialog::Rejected);
            });
        main.action("OrganiseCabs1")->trigger();
        QToolButton* button = main.findChild<QToolButton*>("SpeedButton4");
        QVERIFY(button);
        QCOMPARE(button->toolTip(), QString("Organise cab files"));
        button->click();
        QCOMPARE(prompter.dialogs.size(), 2);
        QCOMPARE(seen.size(), 2);
        for (const auto& run : prompter.dialogs) {
            QCOMPARE(run.className, QString("ravelin::tools::TForm6"));
            QCOMPARE(run.windowTitle, QString("Organise Cabs"));
            QCOMPARE(run.result, int(QDialog::Rejected));
        }
    }
};

QTEST_MAIN(TestOrganiseOpen)
#include "tst_organise_open.moc"
