// Proves the toolbar button and the Tools menu entry open a fresh encrypt window
// each time, and that it encrypts from there.
#include <QtTest>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QToolButton>

#include "app/form1.h"
#include "crypto/window/form9.h"
#include "support/fakeprompter.h"
#include "support/testutil.h"
#include "ui/panelstatusbar.h"

using ravelin::app::TForm1;
using ravelin::crypto::TForm9;
using ravelin::test::FakePrompter;

class TestEncryptCommand : public QObject {
    Q_OBJECT

private slots:
    void buttonAndMenuOpenFreshWindows()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString cab = dir.filePath("disk1.cab");
        QVERIFY(ravelin::test::writeFile(cab, ravelin::test::randomBytes(3000, 1)));

        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        TForm1 form({"/noquery"});
        QStringList states;
        auto handler = [&](QDialog* dialog) {
            auto* f = qobject_cast<TForm9*>(dialog);
            if (!f)
                return -1;
            states << f->Edit1->text() + "|" + f->Label1->text() + "|" + f->Edit2->text() + "|" +
                          f->Button1->text() + "|" + f->StatusBar1->panelText(0);
            f->Edit1->setText(QStringLiteral("sixteen chars ok"));
            f->Edit2->setText(cab);
            QTest::mouseClick(f->Button1, Qt::LeftButton);
            states << f->StatusBar1->panelText(0);
            QTest::mouseClick(f->RadioButton2, Qt::LeftButton);
            QTest::mouseClick(f->Button2, Qt::LeftButton);
            return int(f->result());
        };
        fake.dialogHandlers.push_back(handler);
        fake.dialogHandlers.push_back(handler);

        QToolButton* button = form.findChild<QToolButton*>(QStringLiteral("SpeedButton2"));
        QVERIFY(button);
        QCOMPARE(button->toolTip(), QStringLiteral("Encrypt / Decrypt"));
        QTest::mouseClick(button, Qt::LeftButton);
        QAction* item = form.action(QStringLiteral("EncryptDecrypt1"));
        QVERIFY(item);
        QCOMPARE(item->text(), QStringLiteral("Encrypt / &Decrypt"));
        item->trigger();

        QCOMPARE(fake.dialogs.size(), 2);
        QCOMPARE(fake.dialogs[0].className, QStringLiteral("ravelin::crypto::TForm9"));
        QCOMPARE(fake.dialogs[1].windowTitle, QStringLiteral("Encryption / Decryption"));
        const QString opening = QStringLiteral("|Bits: 0||&Encrypt|");
        QCOMPARE(states, QStringList({opening, "Encryption Complete!", opening, "Encryption Complete!"}));
        QCOMPARE(QFileInfo(dir.filePath("disk1.ecf")).size(), 3000);
        QCOMPARE(form.findChildren<TForm9*>().size(), 0);
    }
};

QTEST_MAIN(TestEncryptCommand)
#include "tst_encryptcommand.moc"
