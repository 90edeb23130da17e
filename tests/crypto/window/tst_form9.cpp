// Proves TForm9 keeps its controls, the pass-phrase rule (Windows-1252 characters only), the open dialog
// per mode, the status texts and messages, writes .ecf / .cab files beside the chosen file, and refuses
// what is not an encrypted file, a pipe, or a file name that is not the bytes of its text.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "crypto/blowfish.h"
#include "crypto/window/animate.h"
#include "crypto/window/form9.h"
#include "support/fakeprompter.h"
#include "support/testutil.h"
#include "ui/panelstatusbar.h"

using ravelin::crypto::TForm9;
using namespace ravelin::test;
namespace ui = ravelin::ui;

namespace {

const QString kPhrase16 = QStringLiteral("sixteen chars ok");

// Notes the window's status text and animation at the moment a message shows.
class WatchingPrompter : public FakePrompter {
public:
    TForm9* form = nullptr;
    QStringList statusAtMessage;
    QList<bool> animatingAtMessage;
    int message(QWidget* parent, const ui::Message& m) override
    {
        if (form) {
            statusAtMessage.append(form->StatusBar1->panelText(0));
            animatingAtMessage.append(form->Animate1->Active());
        }
        return FakePrompter::message(parent, m);
    }
};

QByteArray zeroPadded(QByteArray data)
{
    while (data.size() % 8 != 0)
        data.append('\0');
    return data;
}

} // namespace

class TestForm9 : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
        m_prompter.reset(new WatchingPrompter);
        m_scope.reset(new FakePrompter::Scope(*m_prompter));
        m_form.reset(new TForm9);
        m_prompter->form = m_form.get();
        m_plain = randomBytes(9999, 7);
        QVERIFY(writeFile(path("disk1.cab"), m_plain));
    }

    void cleanup()
    {
        m_form.reset();
        m_scope.reset();
        m_prompter.reset();
    }

    void openingState()
    {
        TForm9& f = *m_form;
        QCOMPARE(f.objectName(), QStringLiteral("Form9"));
        QCOMPARE(f.windowTitle(), QStringLiteral("Encryption / Decryption"));
        QCOMPARE(f.size(), QSize(335, 314));
        QCOMPARE(f.minimumSize(), f.maximumSize());
        QVERIFY(f.windowFlags() & Qt::WindowContextHelpButtonHint);
        QCOMPARE(f.Label2->text(), QStringLiteral("Pass Phrase:"));
        QCOMPARE(f.Label1->text(), QStringLiteral("Bits: 0"));
        QVERIFY(f.Label1->alignment() & Qt::AlignRight);
        QCOMPARE(f.Edit1->text(), QString());
        QCOMPARE(f.Edit1->maxLength(), 56);
        QCOMPARE(f.Edit1->echoMode(), QLineEdit::Normal);
        QCOMPARE(f.Label3->text(), QStringLiteral("Operation:"));
        QCOMPARE(f.RadioButton1->text(), QStringLiteral("&Encrypt File"));
        QVERIFY(f.RadioButton1->isChecked());
        QCOMPARE(f.RadioButton2->text(), QStringLiteral("&Decrypt File"));
        QVERIFY(!f.RadioButton2->isChecked());
        QCOMPARE(f.Label4->text(), QStringLiteral("FileName:"));
        QCOMPARE(f.Edit2->text(), QString());
        QCOMPARE(f.SpeedButton1->toolTip(), QStringLiteral("Select File for Encryption / Decryption"));
        QVERIFY(!f.SpeedButton1->icon().isNull());
        QCOMPARE(f.Button1->text(), QStringLiteral("&Encrypt"));
        QVERIFY(f.Button1->isDefault());
        QCOMPARE(f.Button2->text(), QStringLiteral("&Close"));
        QCOMPARE(f.StatusBar1->panelCount(), 1);
        QCOMPARE(f.StatusBar1->panelText(0), QString());
        QVERIFY(!f.Animate1->Active());
        QVERIFY(f.Animate1->y() + f.Animate1->height() <= f.Label2->y());

        const QList<QPair<QWidget*, int>> topics = {
            {f.Edit1, 1}, {f.Animate1, 2}, {f.RadioButton1, 3}, {f.RadioButton2, 4},
            {f.Edit2, 5}, {f.Button1, 6},  {f.Button2, 7},      {f.StatusBar1, 8}};
        for (const auto& [widget, topic] : topics)
            QCOMPARE(widget->property("helpContext").toInt(), topic);

        // Tab order: the pass phrase first, then down the window.
        f.show();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        QCOMPARE(QApplication::focusWidget(), f.Edit1);
        const QList<QWidget*> order = {f.RadioButton1, f.Edit2, f.Button1, f.Button2, f.Edit1};
        for (QWidget* next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }

    void bitsFollowKeystrokes()
    {
        TForm9& f = *m_form;
        QTest::keyClicks(f.Edit1, QStringLiteral("a"));
        QCOMPARE(f.Label1->text(), QStringLiteral("Bits: 8"));
        QTest::keyClicks(f.Edit1, QString(15, u'b'));
        QCOMPARE(f.Label1->text(), QStringLiteral("Bits: 128"));
        QTest::keyClicks(f.Edit1, QString(40, u'c'));
        QCOMPARE(f.Label1->text(), QStringLiteral("Bits: 448"));
        QTest::keyClicks(f.Edit1, QStringLiteral("d")); // a 57th is not taken
        QCOMPARE(f.Edit1->text().size(), 56);
        QCOMPARE(f.Label1->text(), QStringLiteral("Bits: 448"));
        f.Edit1->selectAll();
        QTest::keyClick(f.Edit1, Qt::Key_Delete);
        QCOMPARE(f.Label1->text(), QStringLiteral("Bits: 0"));
    }

    void choicesChangeOnlyTheButton()
    {
        TForm9& f = *m_form;
        f.Edit2->setText(QStringLiteral("/some/file.cab"));
        QTest::mouseClick(f.RadioButton2, Qt::LeftButton);
        QCOMPARE(f.Button1->text(), QStringLiteral("&Decrypt"));
        QCOMPARE(f.Edit2->text(), QStringLiteral("/some/file.cab"));
        QTest::mouseClick(f.RadioButton1, Qt::LeftButton);
        QCOMPARE(f.Button1->text(), QStringLiteral("&Encrypt"));
        QCOMPARE(f.Edit2->text(), QStringLiteral("/some/file.cab"));
    }

    void openDialogPreparedPerClick()
    {
        TForm9& f = *m_form;
        f.Edit2->setText(QStringLiteral("kept"));
        m_prompter->fileAnswers.push_back({}); // cancelled
        QTest::mouseClick(f.SpeedButton1, Qt::LeftButton);
        QCOMPARE(f.Edit2->text(), QStringLiteral("kept"));
        m_prompter->fileAnswers.push_back({path("chosen.ecf")});
        QTest::mouseClick(f.RadioButton2, Qt::LeftButton);
        QTest::mouseClick(f.SpeedButton1, Qt::LeftButton);
        QCOMPARE(f.Edit2->text(), path("chosen.ecf"));
        QTest::mouseClick(f.RadioButton1, Qt::LeftButton);
        QTest::mouseClick(f.SpeedButton1, Qt::LeftButton);

        QCOMPARE(m_prompter->fileRequests.size(), 3);
        const ui::OpenFileRequest& enc = m_prompter->fileRequests[0];
        QCOMPARE(enc.title, QStringLiteral("Select File To Encrypt"));
        QCOMPARE(enc.filter, QStringLiteral("Cabinet File (*.cab)"));
        QCOMPARE(enc.defaultSuffix, QStringLiteral("cab"));
        QVERIFY(!enc.multiple);
        const ui::OpenFileRequest& dec = m_prompter->fileRequests[1];
        QCOMPARE(dec.title, QStringLiteral("Select File To Decrypt"));
        QCOMPARE(dec.filter, QStringLiteral("Encrypted Cabinet File (*.ecf)"));
        QCOMPARE(dec.defaultSuffix, QStringLiteral("ecf"));
        QCOMPARE(m_prompter->fileRequests[2].title, QStringLiteral("Select File To Encrypt"));
    }

    void fifteenCharactersRefused()
    {
        TForm9& f = *m_form;
        f.show();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        f.Edit1->setText(QString(15, u'x'));
        f.Edit2->setText(path("disk1.cab"));
        f.Edit2->setFocus();
        QTest::mouseClick(f.Button1, Qt::LeftButton);
        QCOMPARE(m_prompter->events,
                 QStringList({"beep", "message:You have not entered the correct number of Characters for a "
                                      "valid Pass Phrase.  Please enter some more text."}));
        QCOMPARE(m_prompter->beeps, QList<ui::Beep>{ui::Beep::Error});
        QCOMPARE(m_prompter->messages[0].message.icon, ui::Icon::Error);
        QCOMPARE(m_prompter->messages[0].message.buttons, int(ui::Ok));
        QCOMPARE(QApplication::focusWidget(), f.Edit1);
        QVERIFY(!QFile::exists(path("disk1.ecf")));
        QCOMPARE(f.StatusBar1->panelText(0), QString());
        QVERIFY(readFile(path("disk1.cab")) == m_plain);
    }

    void enterEncryptsWithSixteen()
    {
        TForm9& f = *m_form;
        f.show();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        QTest::keyClicks(f.Edit1, kPhrase16);
        f.Edit2->setText(path("disk1.cab"));
        f.Edit1->setFocus();
        QTest::keyClick(f.Edit1, Qt::Key_Return);
        QVERIFY(m_prompter->events.isEmpty());
        QCOMPARE(f.StatusBar1->panelText(0), QStringLiteral("Encryption Complete!"));
        ravelin::crypto::encryptFile(path("disk1.cab"), path("lib.ecf"), kPhrase16);
        QVERIFY(readFile(path("disk1.ecf")) == readFile(path("lib.ecf")));
        QCOMPARE(QFileInfo(path("disk1.ecf")).size(), 10000);
        // The window stays as it was, ready for another operation.
        QVERIFY(f.isVisible());
        QCOMPARE(f.Edit1->text(), kPhrase16);
        QCOMPARE(f.Edit2->text(), path("disk1.cab"));
        QVERIFY(f.RadioButton1->isChecked());
        QVERIFY(!f.Animate1->Active());
        QVERIFY(f.Encryptor.isNull());
        QVERIFY(readFile(path("disk1.cab")) == m_plain);
    }

    void decryptsToCabBesideAndReplaces()
    {
        TForm9& f = *m_form;
        ravelin::crypto::encryptFile(path("disk1.cab"), path("disk1.ecf"), kPhrase16);
        QVERIFY(writeFile(path("disk1.cab"), "an older cabinet that is to be replaced"));
        f.Edit1->setText(kPhrase16);
        QTest::mouseClick(f.RadioButton2, Qt::LeftButton);
        f.Edit2->setText(path("disk1.ecf"));
        QTest::mouseClick(f.Button1, Qt::LeftButton);
        QVERIFY2(m_prompter->events.isEmpty(), qPrintable(m_prompter->events.join('|')));
        QCOMPARE(f.StatusBar1->panelText(0), QStringLiteral("Decryption Complete!"));
        QVERIFY(readFile(path("disk1.cab")) == zeroPadded(m_plain));

        // Encrypting again replaces the existing .ecf.
        QVERIFY(writeFile(path("disk1.ecf"), QByteArray(50000, 'z')));
        QVERIFY(writeFile(path("disk1.cab"), m_plain));
        QTest::mouseClick(f.RadioButton1, Qt::LeftButton);
        f.Edit2->setText(path("disk1.cab"));
        QTest::mouseClick(f.Button1, Qt::LeftButton);
        QCOMPARE(f.StatusBar1->panelText(0), QStringLiteral("Encryption Complete!"));
        QCOMPARE(QFileInfo(path("disk1.ecf")).size(), 10000);
    }

    void emptyFileBoxMessage()
    {
        TForm9& f = *m_form;
        f.Edit1->setText(kPhrase16);
        QTest::mouseClick(f.Button1, Qt::LeftButton);
        QCOMPARE(m_prompter->events,
                 QStringList({"beep", "message:An error occured while trying to Encrypt .  Please "
                                      "check that all parameters are correct and try again."}));
        QCOMPARE(m_prompter->beeps, QList<ui::Beep>{ui::Beep::Error});
        QCOMPARE(m_prompter->messages[0].message.icon, ui::Icon::Error);
        QCOMPARE(m_prompter->statusAtMessage, QStringList{"Encrypting "});
        QCOMPARE(m_prompter->animatingAtMessage, QList<bool>{false});
        QCOMPARE(f.StatusBar1->panelText(0), QStringLiteral("Error during encryption"));
        QVERIFY(!QFile::exists(path(".ecf")));
    }

    void errorMessages_data()
    {
        QTest::addColumn<bool>("decrypt");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("statusAfter");
        QTest::newRow("missing file, encrypt") << false << "none.cab"
                                               << "Encrypting none.cab"
                                               << "Error during encryption";
        QTest::newRow("missing file, decrypt") << true << "none.ecf"
                                               << "Decrypting none.ecf"
                                               << "Error during Decryption";
        // The output name would be the file itself: refused, the file kept.
        QTest::newRow("decrypt a .cab") << true << "disk1.cab"
                                        << "Decrypting disk1.cab"
                                        << "Error during Decryption";
    }

    void errorMessages()
    {
        QFETCH(bool, decrypt);
        QFETCH(QString, file);
        QFETCH(QString, status);
        QFETCH(QString, statusAfter);
        TForm9& f = *m_form;
        f.Edit1->setText(kPhrase16);
        if (decrypt)
            QTest::mouseClick(f.RadioButton2, Qt::LeftButton);
        f.Edit2->setText(path(file));
        QTest::mouseClick(f.Button1, Qt::LeftButton);
        const QString verb = decrypt ? "Decrypt " : "Encrypt ";
        QCOMPARE(m_prompter->messageTexts(),
                 QStringList{"An error occured while trying to " + verb + path(file) +
                             ".  Please check that all parameters are correct and try again."});
        QCOMPARE(m_prompter->statusAtMessage, QStringList{status});
        QCOMPARE(f.StatusBar1->panelText(0), statusAfter);
        QVERIFY(readFile(path("disk1.cab")) == m_plain);
        QVERIFY(!QFile::exists(path("none.ecf")) && !QFile::exists(path("none.cab")));
    }

    void freshWindowPerRun()
    {
        m_form.reset();
        QWidget owner;
        owner.setObjectName(QStringLiteral("Form1"));
        QStringList seen;
        for (int i = 0; i < 2; ++i) {
            m_prompter->dialogHandlers.push_back([&seen](QDialog* dialog) {
                auto* form = qobject_cast<TForm9*>(dialog);
                if (!form)
                    return -1;
                seen.append(form->Edit1->text() + "|" + form->Label1->text() + "|" + form->Button1->text());
                form->Edit1->setText(QStringLiteral("changed in this run"));
                QTest::mouseClick(form->RadioButton2, Qt::LeftButton);
                QTest::mouseClick(form->Button2, Qt::LeftButton); // &Close
                return int(form->result());
            });
            QCOMPARE(ravelin::crypto::runEncryptWindow(&owner), int(QDialog::Rejected));
        }
        QCOMPARE(seen, QStringList({"|Bits: 0|&Encrypt", "|Bits: 0|&Encrypt"}));
        QCOMPARE(m_prompter->dialogs.size(), 2);
        QCOMPARE(m_prompter->dialogs[0].className, QStringLiteral("ravelin::crypto::TForm9"));
        QCOMPARE(owner.findChildren<TForm9*>().size(), 0);
    }

    // A phrase with a character that has no Windows-1252 byte cannot be the
    // key: refused like a short one, nothing touched.
    void phraseWithoutWindows1252ByteRefused_data()
    {
        QTest::addColumn<QString>("phrase");
        QTest::addColumn<QString>("character");
        QTest::newRow("cyrillic") << QString::fromUtf8("пароль для файла") << QString::fromUtf8("п");
        QTest::newRow("greek") << QString::fromUtf8("my κωδικός here!") << QString::fromUtf8("κ");
        QTest::newRow("cjk") << QString::fromUtf8("密码密码密码密码密码密码密码密码")
                             << QString::fromUtf8("密");
    }

    void phraseWithoutWindows1252ByteRefused()
    {
        QFETCH(QString, phrase);
        QFETCH(QString, character);
        TForm9& f = *m_form;
        f.show();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        f.Edit1->setText(phrase);
        f.Edit2->setText(path("disk1.cab"));
        QTest::mouseClick(f.Button1, Qt::LeftButton);
        QCOMPARE(m_prompter->messageTexts(),
                 QStringList{"The Pass Phrase contains the character \"" + character +
                             "\", which cannot be used in a Pass Phrase.  Please use only characters of the "
                             "Western (Windows-1252) character set."});
        QCOMPARE(m_prompter->beeps, QList<ui::Beep>{ui::Beep::Error});
        QCOMPARE(m_prompter->messages[0].message.icon, ui::Icon::Error);
        QCOMPARE(QApplication::focusWidget(), f.Edit1);
        QCOMPARE(f.StatusBar1->panelText(0), QString());
        QVERIFY(!QFile::exists(path("disk1.ecf")));
    }

    // A chosen file whose name is not UTF-8 reaches the window as text with
    // U+FFFD in it; that text names another file, so the choice is refused
    // and neither file is touched.
    void fileNameThatIsNotItsTextRefused()
    {
        TForm9& f = *m_form;
        const QByteArray dir = QFile::encodeName(m_dir->path());
        for (const QByteArray& name : {QByteArray("/disk\xff.cab"), QByteArray("/disk\xef\xbf\xbd.cab")}) {
            const int fd = ::open((dir + name).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            QVERIFY(fd >= 0);
            QCOMPARE(::write(fd, "cabinet", 7), ssize_t(7));
            ::close(fd);
        }
        const QString shown = QFile::decodeName(dir + "/disk\xff.cab");
        QVERIFY(shown.contains(QChar::ReplacementCharacter));
        m_prompter->fileAnswers.push_back(QStringList{shown});
        f.Edit1->setText(kPhrase16);
        QTest::mouseClick(f.SpeedButton1, Qt::LeftButton);
        QCOMPARE(f.Edit2->text(), shown);
        QTest::mouseClick(f.Button1, Qt::LeftButton);
        QCOMPARE(m_prompter->messageTexts(), QStringList{"Cannot open file " + shown});
        QCOMPARE(m_prompter->beeps, QList<ui::Beep>{ui::Beep::Error});
        QCOMPARE(m_prompter->messages[0].message.icon, ui::Icon::Error);
        QCOMPARE(f.StatusBar1->panelText(0), QStringLiteral("Error during encryption"));
        struct stat st {};
        QVERIFY(::stat((dir + "/disk\xff.ecf").constData(), &st) != 0);
        QVERIFY(::stat((dir + "/disk\xef\xbf\xbd.ecf").constData(), &st) != 0);
        // QTemporaryDir removes by text, which cannot name the first file.
        QCOMPARE(::unlink((dir + "/disk\xff.cab").constData()), 0);
    }

    // What is not an encrypted file (empty, not whole 8-byte blocks) and what
    // is not a regular file (a pipe) is refused at once with the window's
    // error message; nothing is written beside it and an earlier output stays.
    void inputsThatAreRefused_data()
    {
        QTest::addColumn<bool>("decrypt");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("output");
        QTest::newRow("empty .ecf") << true << "cut0.ecf"
                                    << "cut0.cab";
        QTest::newRow("7-byte .ecf") << true << "cut7.ecf"
                                     << "cut7.cab";
        QTest::newRow("9-byte .ecf") << true << "cut9.ecf"
                                     << "cut9.cab";
        QTest::newRow("pipe, encrypt") << false << "pipe.cab"
                                       << "pipe.ecf";
        QTest::newRow("pipe, decrypt") << true << "pipe.ecf"
                                       << "pipe.cab";
    }

    void inputsThatAreRefused()
    {
        QFETCH(bool, decrypt);
        QFETCH(QString, input);
        QFETCH(QString, output);
        TForm9& f = *m_form;
        if (input.startsWith("pipe"))
            QCOMPARE(::mkfifo(QFile::encodeName(path(input)).constData(), 0600), 0);
        else
            QVERIFY(writeFile(path(input), randomBytes(input.mid(3, 1).toInt(), 2)));
        QVERIFY(writeFile(path(output), "an earlier file"));
        f.Edit1->setText(kPhrase16);
        if (decrypt)
            QTest::mouseClick(f.RadioButton2, Qt::LeftButton);
        f.Edit2->setText(path(input));
        QTest::mouseClick(f.Button1, Qt::LeftButton);
        QCOMPARE(m_prompter->messageTexts(),
                 QStringList{"An error occured while trying to " +
                             QString(decrypt ? "Decrypt " : "Encrypt ") + path(input) +
                             ".  Please check that all parameters are correct and try again."});
        QCOMPARE(f.StatusBar1->panelText(0), decrypt ? QStringLiteral("Error during Decryption")
                                                     : QStringLiteral("Error during encryption"));
        QCOMPARE(readFile(path(output)), QByteArray("an earlier file"));
        QCOMPARE(QDir(m_dir->path()).entryList({".ravelin-*"}, QDir::Files | QDir::Hidden), QStringList());
    }

private:
    QString path(const QString& name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<WatchingPrompter> m_prompter;
    std::unique_ptr<FakePrompter::Scope> m_scope;
    std::unique_ptr<TForm9> m_form;
    QByteArray m_plain;
};

QTEST_MAIN(TestForm9)
#include "tst_form9.moc"
