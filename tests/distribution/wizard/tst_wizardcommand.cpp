// Proves the main window's Distribution Wizard command: a fresh wizard each time with the window's current
// values.
#include <QtTest>

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <memory>

#include "app/form1.h"
#include "cabinet/filelist.h"
#include "distribution/wizard/form7.h"
#include "support/fakeprompter.h"
#include "support/testutil.h"
#include "wizardfixture.h"

using namespace ravelin;
using ravelin::distribution::TForm7;
using ravelin::test::click;

class TestWizardCommand : public QObject, protected test::WizardFixture {
    Q_OBJECT

private slots:
    void initTestCase() { ui::setPrompter(&m_fake); }
    void cleanupTestCase() { ui::setPrompter(nullptr); }

    void init() { prepareOutput(); }

    // The main list a, b, c reaches the wizard and the INF as c, b, a.
    void mainListOrderReversed()
    {
        app::TForm1 form({QStringLiteral("/noquery")});
        for (const char* name : {"b", "c", "a"}) {
            const QString path = m_dir->filePath(QString::fromLatin1(name));
            QVERIFY(test::writeFile(path, "x"));
            QVERIFY(form.ListView1->addFile(path));
        }
        QCOMPARE(form.ListView1->caption(0), QStringLiteral("a"));
        form.Edit1->setText(QStringLiteral("order"));
        form.Edit2->setText(m_out);

        QStringList listed;
        m_fake.dialogHandlers.push_back([&](QDialog* d) {
            auto* w = qobject_cast<TForm7*>(d);
            w->show();
            for (int i = 0; i < w->ListBox1->count(); ++i)
                listed.append(w->ListBox1->item(i)->text());
            click(w->Button5);
            click(w->Button1);
            w->reject();
            return w->result();
        });
        form.WizardClick();
        QCOMPARE(m_fake.dialogs.size(), 1);
        QCOMPARE(m_fake.dialogs.first().className, QStringLiteral("ravelin::distribution::TForm7"));
        QCOMPARE(listed, (QStringList{"c", "b", "a"}));
        const QStringList inf = test::crlfLines(test::readFile(out(QStringLiteral("order.inf"))));
        QCOMPARE(test::infSection(inf, QStringLiteral("[SourceDisksFiles]")),
                 (QStringList{"c=1", "b=1", "a=1"}));
        QCOMPARE(test::infSection(inf, QStringLiteral("[copy.files]")), (QStringList{"c", "b", "a"}));
        QCOMPARE(inf.last(), QStringLiteral("a"));
    }

    // Each opening from the main window is a new wizard with the main
    // window's current values; nothing typed in a run survives it, and the
    // main window is not changed.
    void openedTwiceFromMainWindow()
    {
        app::TForm1 form({QStringLiteral("/noquery")});
        const QString second = m_dir->filePath(QStringLiteral("second"));
        QVERIFY(QDir().mkpath(second));
        QVERIFY(test::writeFile(m_dir->filePath(QStringLiteral("one.txt")), "1"));
        QVERIFY(form.ListView1->addFile(m_dir->filePath(QStringLiteral("one.txt"))));
        form.Edit1->setText(QStringLiteral("first"));
        form.Edit2->setText(m_out);

        struct Seen {
            QString cab, dir, install, readme, title;
            QStringList files;
        };
        QList<Seen> seen;
        QList<TForm7*> forms;
        auto handler = [&](QDialog* d) {
            auto* w = qobject_cast<TForm7*>(d);
            forms.append(w);
            w->show();
            QStringList files;
            for (int i = 0; i < w->ListBox1->count(); ++i)
                files.append(w->ListBox1->item(i)->text());
            seen.append({w->Edit1->text(), w->Edit2->text(), w->Edit3->text(), w->Edit6->text(),
                         w->Edit4->text(), files});
            // Change every field the user can type into, then cancel.
            for (QLineEdit* e : {w->Edit1, w->Edit2, w->Edit3, w->Edit4, w->Edit5, w->Edit6, w->Edit7})
                e->setText(QStringLiteral("typed"));
            click(w->Button6);
            return w->result();
        };
        m_fake.dialogHandlers.push_back(handler);
        form.WizardClick();
        QCOMPARE(form.cabinetName(), QStringLiteral("first"));
        QCOMPARE(form.outputDirectory(), m_out);

        form.Edit1->setText(QStringLiteral("second"));
        form.Edit2->setText(second);
        QVERIFY(test::writeFile(m_dir->filePath(QStringLiteral("two.txt")), "2"));
        QVERIFY(form.ListView1->addFile(m_dir->filePath(QStringLiteral("two.txt"))));
        m_fake.dialogHandlers.push_back(handler);
        form.WizardClick();

        QCOMPARE(m_fake.dialogs.size(), 2);
        QCOMPARE(seen.size(), 2);
        QCOMPARE(seen[0].cab, QStringLiteral("first"));
        QCOMPARE(seen[0].dir, m_out);
        QCOMPARE(seen[0].files, QStringList{"one.txt"});
        QCOMPARE(seen[1].cab, QStringLiteral("second"));
        QCOMPARE(seen[1].dir, second);
        QCOMPARE(seen[1].files, (QStringList{"two.txt", "one.txt"}));
        QCOMPARE(seen[1].install, QStringLiteral("myinstall\\directory"));
        QCOMPARE(seen[1].readme, QStringLiteral("readme.txt"));
        QCOMPARE(seen[1].title, QString());
        QCOMPARE(m_fake.dialogs[1].result, int(QDialog::Rejected));
        QVERIFY(filesInOutput().isEmpty());
    }
};

QTEST_MAIN(TestWizardCommand)
#include "tst_wizardcommand.moc"
