// Proves the distribution wizard: pages, texts, navigation, the files each step writes and every failure.
#include <QtTest>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <functional>
#include <memory>

#include "distribution/setuppackage.h"
#include "distribution/wizard/form7.h"
#include "support/fakeprompter.h"
#include "support/filesizelimit.h"
#include "support/testutil.h"
#include "wizardfixture.h"

#ifdef RAVELIN_HAVE_OPENSSL
#include <openssl/blowfish.h>
#endif

using namespace ravelin;
using ravelin::distribution::TForm7;
using ravelin::distribution::WizardSource;
using ravelin::test::click;
using Page = TForm7::Page;

Q_DECLARE_METATYPE(TForm7::Page)

namespace {

const QString kPhrase16 = QStringLiteral("0123456789abcdef");
const QString kShortPhraseText = QStringLiteral("You have not entered the correct number of Characters for a "
                                                "valid Pass Phrase.  Please enter some more text.");

QStringList visibleLabelTexts(QWidget* page)
{
    QList<QLabel*> labels = page->findChildren<QLabel*>();
    std::stable_sort(labels.begin(), labels.end(), [](QLabel* a, QLabel* b) {
        return a->y() < b->y() || (a->y() == b->y() && a->x() < b->x());
    });
    QStringList texts;
    for (QLabel* l : labels)
        if (l->isVisible())
            texts.append(l->text());
    return texts;
}

QList<QPushButton*> visibleButtons(TForm7& w)
{
    QList<QPushButton*> buttons;
    for (QPushButton* b : w.findChildren<QPushButton*>())
        if (b->isVisible())
            buttons.append(b);
    std::sort(buttons.begin(), buttons.end(), [](QPushButton* a, QPushButton* b) {
        return a->mapTo(a->window(), QPoint()).x() < b->mapTo(b->window(), QPoint()).x();
    });
    return buttons;
}

} // namespace

class TestWizard : public QObject, protected test::WizardFixture {
    Q_OBJECT

    WizardSource source(const QStringList& names = {QStringLiteral("c.txt"), QStringLiteral("b.dll"),
                                                    QStringLiteral("a.exe")}) const
    {
        return WizardSource{QStringLiteral("tools"), m_out, names};
    }

    // Runs a fresh wizard through the prompter and lets `steps` drive it.
    // Returns the dialog's result; `open` tells whether it was still showing.
    int run(const WizardSource& s, const std::function<void(TForm7&)>& steps, bool* open = nullptr)
    {
        bool stillOpen = false;
        m_fake.dialogHandlers.push_back([&](QDialog* d) {
            auto* w = qobject_cast<TForm7*>(d);
            if (!w)
                return -1;
            w->show();
            steps(*w);
            stillOpen = w->isVisible();
            return w->result();
        });
        const int result =
            distribution::runWizard(nullptr, s.cabinetName, s.outputDirectory, s.fileNamesLastFirst);
        if (open)
            *open = stillOpen;
        return result;
    }

    // Walks from the Introduction to `target` with the fields as they stand
    // (a 16-character pass phrase for Finish).
    static void goTo(TForm7& w, Page target)
    {
        if (target == Page::Introduction)
            return;
        click(w.Button5);
        QCOMPARE(w.currentPage(), Page::Step1);
        if (target == Page::Step1)
            return;
        click(w.Button1);
        QCOMPARE(w.currentPage(), Page::Step2);
        if (target == Page::Step2)
            return;
        click(w.Button8);
        QCOMPARE(w.currentPage(), Page::Step3);
        if (target == Page::Step3)
            return;
        w.Edit7->setText(kPhrase16);
        click(w.Button11);
        QCOMPARE(w.currentPage(), Page::Complete);
    }

    void expectError(const QString& text, int helpTopic = 0)
    {
        QCOMPARE(m_fake.messageTexts(), QStringList{text});
        const ui::Message& m = m_fake.messages.first().message;
        QCOMPARE(m.icon, ui::Icon::Error);
        QCOMPARE(m.buttons, int(ui::Ok));
        QCOMPARE(m.helpTopic, helpTopic);
        // The error beep comes right before the box (the first event is the
        // wizard's own modal run).
        QCOMPARE(m_fake.events.mid(1),
                 (QStringList{QStringLiteral("beep"), QStringLiteral("message:") + text}));
        QCOMPARE(m_fake.beeps, QList<ui::Beep>{ui::Beep::Error});
    }

private slots:
    void initTestCase() { ui::setPrompter(&m_fake); }
    void cleanupTestCase() { ui::setPrompter(nullptr); }

    void init() { prepareOutput(); }

    // --- the whole road ----------------------------------------------------

    void fullRoadToComplete()
    {
        bool open = true;
        const int result = run(
            source(),
            [&](TForm7& w) {
                QCOMPARE(w.size(), QSize(451, 299));
                QCOMPARE(w.minimumSize(), w.maximumSize());
                QCOMPARE(w.currentPage(), Page::Introduction);
                QCOMPARE(w.windowTitle(), QStringLiteral("Distribution Wizard - Introduction"));
                QCOMPARE(w.Edit1->text(), QStringLiteral("tools"));
                QCOMPARE(w.Edit2->text(), m_out);
                QCOMPARE(w.Edit3->text(), QStringLiteral("myinstall\\directory"));
                QCOMPARE(w.Edit4->text(), QString());
                QCOMPARE(w.Edit5->text(), QString());
                QCOMPARE(w.Edit6->text(), QStringLiteral("readme.txt"));
                QCOMPARE(w.Edit7->text(), QString());
                QCOMPARE(w.ListBox1->count(), 3);
                QCOMPARE(w.ListBox1->item(0)->text(), QStringLiteral("c.txt"));

                click(w.Button5);
                QCOMPARE(w.windowTitle(), QStringLiteral("Distribution Wizard - Step 1"));
                click(w.Button1);
                QCOMPARE(w.currentPage(), Page::Step2);
                QCOMPARE(w.outcomeLine(), QStringLiteral("tools.inf can be found in your ") + m_out +
                                              QStringLiteral(" directory.  Task completed successfully"));
                QVERIFY(QFile::exists(out(QStringLiteral("tools.inf"))));

                QTest::keyClicks(w.Edit4, QStringLiteral("Ravelin Tools"));
                QTest::keyClicks(w.Edit5, QStringLiteral("the tool set"));
                click(w.Button8);
                QCOMPARE(w.currentPage(), Page::Step3);
                QCOMPARE(w.windowTitle(), QStringLiteral("Distribution Wizard - Step 3"));
                QCOMPARE(
                    test::crlfLines(test::readFile(out(QStringLiteral("setup.ini")))),
                    (QStringList{"[General]", "a1=Ravelin Tools", "a2=the tool set", "a3=readme.txt",
                                 "a4=tools.ecf", "a5=tools.cab", "a6=tools.in_", "a7=myinstall\\directory"}));

                QTest::keyClicks(w.Edit7, kPhrase16);
                click(w.Button11);
                QCOMPARE(w.currentPage(), Page::Complete);
                QCOMPARE(w.windowTitle(), QStringLiteral("Distribution Wizard - Complete"));
                QCOMPARE(w.completeDirectoryLine(), QStringLiteral("You should find them in your ") + m_out +
                                                        QStringLiteral(" directory"));
                QCOMPARE(w.completeFileList(),
                         (QStringList{"tools.in_", "tools.ecf", "SETUP.EXE", "setup.ini", "readme.txt"}));
                // What the wizard wrote for the user to ship is listed under
                // its name on disk, letter case included.
                for (const QString& written : filesInOutput())
                    QVERIFY2(written == QLatin1String("tools.inf") || w.completeFileList().contains(written),
                             qPrintable(written));
                QVERIFY(
                    visibleLabelTexts(w.page(Page::Complete))
                        .contains(QStringLiteral("tools.in_\ntools.ecf\nSETUP.EXE\nsetup.ini\nreadme.txt")));
                QVERIFY(m_fake.messages.isEmpty());
                QVERIFY(m_fake.beeps.isEmpty());
                click(w.Button13);
            },
            &open);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(result, int(QDialog::Rejected));
        QVERIFY(!open);
        QCOMPARE(filesInOutput(), (QStringList{"SETUP.EXE", "setup.ini", "tools.in_", "tools.inf"}));

        // SETUP.EXE is the carried program, runnable by its owner.
        const QByteArray image = distribution::setupProgramImage();
        QVERIFY(!image.isEmpty());
        QCOMPARE(test::readFile(out(QStringLiteral("SETUP.EXE"))), image);
        QVERIFY(QFileInfo(out(QStringLiteral("SETUP.EXE"))).permissions() & QFileDevice::ExeOwner);

        const QByteArray inf = test::readFile(out(QStringLiteral("tools.inf")));
        const QByteArray encrypted = test::readFile(out(QStringLiteral("tools.in_")));
        QCOMPARE(encrypted.size() % 8, 0);
        QVERIFY(encrypted.size() >= inf.size() && encrypted.size() < inf.size() + 8);
#ifdef RAVELIN_HAVE_OPENSSL
        // Decrypting with an independent Blowfish gives the INF and its zero padding.
        BF_KEY key;
        const QByteArray phrase = kPhrase16.toLatin1();
        BF_set_key(&key, int(phrase.size()), reinterpret_cast<const unsigned char*>(phrase.constData()));
        QByteArray plain(encrypted.size(), '\0');
        for (qsizetype i = 0; i < encrypted.size(); i += 8)
            BF_ecb_encrypt(reinterpret_cast<const unsigned char*>(encrypted.constData() + i),
                           reinterpret_cast<unsigned char*>(plain.data() + i), &key, BF_DECRYPT);
        QCOMPARE(plain, inf + QByteArray(encrypted.size() - inf.size(), '\0'));
#endif
    }

    // Captions, fixed texts, buttons left to right and the default button of
    // every page; exactly one page and the picture strip visible.
    void pages_data()
    {
        QTest::addColumn<Page>("page");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<QString>("defaultButton");

        QTest::newRow("introduction")
            << Page::Introduction << "Distribution Wizard - Introduction"
            << QStringList{"This wizard is designed to help you make a basic INF file, for use with the "
                           "Setup API.  If "
                           "your INF file is intended for use with an encrypted cab file, you can choose to "
                           "create a "
                           "setup.exe which requires the user to enter your Pass Phrase to install.",
                           "Please fill in all of the information requested, as this will help to make a "
                           "problem "
                           "free setup package.",
                           "If you are ready to continue, please click Next >.  Otherwise click cancel.  You "
                           "can  "
                           "return to a previous page to make changes at any point in the process."}
            << QStringList{"< &Back", "&Next >", "&Cancel"} << QString();
        QTest::newRow("step 1") << Page::Step1 << "Distribution Wizard - Step 1"
                                << QStringList{"Cab Name:", "File List:", "Output Directory for .inf file:",
                                               "Install Directory: (Do not include drive)"}
                                << QStringList{"< &Back", "&Next >", "&Cancel"} << QString();
        QTest::newRow("step 2")
            << Page::Step2 << "Distribution Wizard - Step 2"
            << QStringList{"tools.inf can be found in your OUT directory.  Task completed successfully",
                           "If you wish to create a setup.exe for your encrypted cab file, fill in the "
                           "information "
                           "requested below and click Next.  If you wish to finish here, click Cancel.",
                           "Please enter your Setup Title (This appears at the top of the setup window:)",
                           "Enter a brief description of what you are installing:",
                           "Readme File Name (do not include path:)"}
            << QStringList{"&< &Back", "&Next >", "&Cancel"} << QString();
        QTest::newRow("step 3")
            << Page::Step3 << "Distribution Wizard - Step 3"
            << QStringList{"Finally you must enter your Pass Phrase so the last of the setup files "
                           "can be encrypted.  Once you have entered your Pass Phrase, you can "
                           "click Finish.",
                           "NOTE:  Your Pass Phrase must be the same as the one you used to "
                           "encrypt your cab file.",
                           "Please enter your Pass Phrase:"}
            << QStringList{"< &Back", "&Finish", "&Cancel"} << "&Finish";
        QTest::newRow("complete")
            << Page::Complete << "Distribution Wizard - Complete"
            << QStringList{"Sucess!  Your distribution package is now ready.",
                           "These are the files you need to distrubute to your user.",
                           "You should find them in your OUT directory",
                           "tools.in_\ntools.ecf\nSETUP.EXE\nsetup.ini\nreadme.txt",
                           "Remember you should only tell another person the Pass Phrase if "
                           "you can do so securely."}
            << QStringList{"&Close"} << "&Close";
    }
    void pages()
    {
        QFETCH(Page, page);
        QFETCH(QString, caption);
        QFETCH(QStringList, texts);
        QFETCH(QStringList, buttons);
        QFETCH(QString, defaultButton);
        texts.replaceInStrings(QStringLiteral("OUT"), m_out);

        run(source(), [&](TForm7& w) {
            goTo(w, page);
            if (QTest::currentTestFailed())
                return;
            QCOMPARE(w.windowTitle(), caption);
            QCOMPARE(w.size(), QSize(451, 299));
            QVERIFY(w.findChild<QWidget*>(QStringLiteral("Image1"))->isVisible());
            for (Page p : {Page::Introduction, Page::Step1, Page::Step2, Page::Step3, Page::Complete})
                QCOMPARE(w.page(p)->isVisible(), p == page);
            QCOMPARE(visibleLabelTexts(w.page(page)), texts);

            QStringList shown;
            QStringList defaults;
            for (QPushButton* b : visibleButtons(w)) {
                shown.append(b->text());
                if (b->isDefault())
                    defaults.append(b->text());
            }
            QCOMPARE(shown, buttons);
            QCOMPARE(defaults, defaultButton.isEmpty() ? QStringList{} : QStringList{defaultButton});
            // The Introduction's Back can never be pressed.
            QCOMPARE(w.Button4->isEnabled(), false);
            w.reject();
        });
    }

    void emptyList()
    {
        run(source({}), [&](TForm7& w) {
            QCOMPARE(w.ListBox1->count(), 0);
            goTo(w, Page::Step2);
            w.reject();
        });
        const QStringList inf = test::crlfLines(test::readFile(out(QStringLiteral("tools.inf"))));
        QCOMPARE(test::infSection(inf, QStringLiteral("[SourceDisksFiles]")), QStringList{});
        QCOMPARE(inf.last(), QStringLiteral("[copy.files]"));
        QCOMPARE(inf.at(inf.size() - 2), QStringLiteral(" "));
    }

    // --- the Complete page's lines ------------------------------------------

    void completeLinesFollowFields()
    {
        run(source(), [&](TForm7& w) {
            goTo(w, Page::Step3);
            QCOMPARE(w.completeFileList().last(), QStringLiteral("readme.txt"));

            click(w.Button12);
            QCOMPARE(w.currentPage(), Page::Step2);
            w.Edit6->setText(QStringLiteral("notes.txt"));
            click(w.Button8);
            QCOMPARE(w.completeFileList(),
                     (QStringList{"tools.in_", "tools.ecf", "SETUP.EXE", "setup.ini", "notes.txt"}));

            click(w.Button12);
            click(w.Button9);
            QCOMPARE(w.currentPage(), Page::Step1);
            w.Edit1->setText(QStringLiteral("other"));
            click(w.Button1);
            click(w.Button8);
            QCOMPARE(w.completeFileList(),
                     (QStringList{"other.in_", "other.ecf", "SETUP.EXE", "setup.ini", "notes.txt"}));
            w.Edit7->setText(kPhrase16);
            click(w.Button11);
            QCOMPARE(w.currentPage(), Page::Complete);
            QVERIFY(visibleLabelTexts(w.page(Page::Complete))
                        .contains(QStringLiteral("other.in_\nother.ecf\nSETUP.EXE\nsetup.ini\nnotes.txt")));
            w.reject();
        });
        const QStringList ini = test::crlfLines(test::readFile(out(QStringLiteral("setup.ini"))));
        QCOMPARE(ini.value(3), QStringLiteral("a3=notes.txt"));
        QCOMPARE(ini.value(4), QStringLiteral("a4=other.ecf"));
        QVERIFY(QFile::exists(out(QStringLiteral("other.in_"))));
    }

    // --- Step 3 ---------------------------------------------------------------

    void passPhrase_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("empty") << 0 << false;
        QTest::newRow("15") << 15 << false;
        QTest::newRow("16") << 16 << true;
        QTest::newRow("56") << 56 << true;
    }
    void passPhrase()
    {
        QFETCH(int, length);
        QFETCH(bool, accepted);
        QString phrase;
        for (int i = 0; i < length; ++i)
            phrase.append(QChar(u'a' + i % 26));

        run(source(), [&](TForm7& w) {
            goTo(w, Page::Step3);
            QTest::keyClicks(w.Edit7, phrase);
            QCOMPARE(w.Edit7->text(), phrase);
            w.Button11->setFocus();
            click(w.Button11);
            if (accepted) {
                QCOMPARE(w.currentPage(), Page::Complete);
                QVERIFY(m_fake.messages.isEmpty());
            } else {
                QCOMPARE(w.currentPage(), Page::Step3);
                expectError(kShortPhraseText);
                QCOMPARE(w.focusWidget(), static_cast<QWidget*>(w.Edit7));
            }
            w.reject();
        });
        QCOMPARE(QFile::exists(out(QStringLiteral("tools.in_"))), accepted);
        QCOMPARE(QFile::exists(out(QStringLiteral("SETUP.EXE"))), accepted);
    }

    // The field has no length limit and the check no upper bound.
    void longPassPhraseTyped()
    {
        const QString phrase(40000, QLatin1Char('p'));
        run(source(), [&](TForm7& w) {
            goTo(w, Page::Step3);
            w.Edit7->insert(phrase);
            QCOMPARE(w.Edit7->text().size(), phrase.size());
            click(w.Button11);
            QVERIFY(!m_fake.messageTexts().contains(kShortPhraseText));
            w.reject();
        });
    }

    void enterKey_data()
    {
        QTest::addColumn<Page>("page");
        QTest::addColumn<Page>("after");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("introduction: Next") << Page::Introduction << Page::Step1 << false << QStringList{};
        QTest::newRow("step 1: nothing") << Page::Step1 << Page::Step1 << false << QStringList{};
        QTest::newRow("step 2: nothing") << Page::Step2 << Page::Step2 << false << QStringList{"tools.inf"};
        QTest::newRow("step 3: Finish") << Page::Step3 << Page::Complete << false
                                        << QStringList{"SETUP.EXE", "setup.ini", "tools.in_", "tools.inf"};
        QTest::newRow("complete: Close") << Page::Complete << Page::Complete << true
                                         << QStringList{"SETUP.EXE", "setup.ini", "tools.in_", "tools.inf"};
    }
    void enterKey()
    {
        QFETCH(Page, page);
        QFETCH(Page, after);
        QFETCH(bool, closes);
        QFETCH(QStringList, files);
        bool open = false;
        const int result = run(
            source(),
            [&](TForm7& w) {
                goTo(w, page);
                if (page == Page::Step3)
                    w.Edit7->setText(kPhrase16);
                // Enter goes where the keyboard focus is: Next on the Introduction,
                // the page's first field on Steps 1 to 3, Close on Complete.
                QWidget* target = w.focusWidget();
                QVERIFY(target);
                if (page == Page::Step3)
                    QCOMPARE(target, static_cast<QWidget*>(w.Edit7));
                QTest::keyClick(target, Qt::Key_Return);
                QCOMPARE(w.currentPage(), after);
            },
            &open);
        QCOMPARE(open, !closes);
        if (closes)
            QCOMPARE(result, int(QDialog::Rejected));
        QCOMPARE(filesInOutput(), files);
        QVERIFY(m_fake.messages.isEmpty());
    }

    // Every Cancel, the title bar's close button and Escape end the wizard and
    // leave exactly what the earlier steps wrote.
    void cancel_data()
    {
        QTest::addColumn<Page>("page");
        QTest::addColumn<QString>("how");
        QTest::addColumn<QStringList>("files");
        const QStringList all{"SETUP.EXE", "setup.ini", "tools.in_", "tools.inf"};
        for (const char* how : {"button", "title bar", "escape"}) {
            const QString h = QString::fromLatin1(how);
            QTest::addRow("introduction %s", how) << Page::Introduction << h << QStringList{};
            QTest::addRow("step 1 %s", how) << Page::Step1 << h << QStringList{};
            QTest::addRow("step 2 %s", how) << Page::Step2 << h << QStringList{"tools.inf"};
            QTest::addRow("step 3 %s", how) << Page::Step3 << h << QStringList{"setup.ini", "tools.inf"};
            QTest::addRow("complete %s", how) << Page::Complete << h << all;
        }
    }
    void cancel()
    {
        QFETCH(Page, page);
        QFETCH(QString, how);
        QFETCH(QStringList, files);
        bool open = true;
        const int result = run(
            source(),
            [&](TForm7& w) {
                goTo(w, page);
                if (how == QLatin1String("title bar")) {
                    QVERIFY(w.close());
                } else if (how == QLatin1String("escape")) {
                    QTest::keyClick(&w, Qt::Key_Escape);
                } else {
                    QPushButton* cancel = nullptr;
                    for (QPushButton* b : visibleButtons(w))
                        if (b->text() == QLatin1String("&Cancel") || b->text() == QLatin1String("&Close"))
                            cancel = b;
                    QVERIFY(cancel);
                    click(cancel);
                }
            },
            &open);
        QVERIFY(!open);
        QCOMPARE(result, int(QDialog::Rejected));
        QCOMPARE(filesInOutput(), files);
        QVERIFY(m_fake.messages.isEmpty());
    }

    void backButtons()
    {
        run(source(), [&](TForm7& w) {
            goTo(w, Page::Step3);
            w.Edit4->setText(QStringLiteral("title"));
            w.Edit7->setText(QStringLiteral("short"));
            click(w.Button12);
            QCOMPARE(w.currentPage(), Page::Step2);
            QCOMPARE(w.windowTitle(), QStringLiteral("Distribution Wizard - Step 2"));
            click(w.Button9);
            QCOMPARE(w.currentPage(), Page::Step1);
            QCOMPARE(w.windowTitle(), QStringLiteral("Distribution Wizard - Step 1"));
            click(w.Button3);
            QCOMPARE(w.currentPage(), Page::Introduction);
            QCOMPARE(w.windowTitle(), QStringLiteral("Distribution Wizard - Introduction"));
            click(w.Button4); // disabled: nothing happens
            QCOMPARE(w.currentPage(), Page::Introduction);
            // Going back clears no field and removes no file.
            QCOMPARE(w.Edit4->text(), QStringLiteral("title"));
            QCOMPARE(w.Edit7->text(), QStringLiteral("short"));
            QCOMPARE(filesInOutput(), (QStringList{"setup.ini", "tools.inf"}));

            // Next again rewrites the INF from the fields as they are now.
            click(w.Button5);
            w.Edit3->setText(QStringLiteral("other\\place"));
            click(w.Button1);
            QCOMPARE(w.currentPage(), Page::Step2);
            const QByteArray inf = test::readFile(out(QStringLiteral("tools.inf")));
            QVERIFY(test::crlfLines(inf).contains(QStringLiteral("copy.files = 30,other\\place")));
            QVERIFY(!inf.contains("myinstall"));
            w.reject();
        });
    }

    // --- failures ---------------------------------------------------------------

    void step1WriteFails_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::newRow("missing directory") << "missing";
        QTest::newRow("file where the directory should be") << "file";
        QTest::newRow("directory where the INF should be") << "inf directory";
    }
    void step1WriteFails()
    {
        QFETCH(QString, obstacle);
        QString dir = m_out;
        if (obstacle == QLatin1String("missing")) {
            dir = m_dir->filePath(QStringLiteral("nowhere"));
        } else if (obstacle == QLatin1String("file")) {
            dir = m_dir->filePath(QStringLiteral("plain"));
            QVERIFY(test::writeFile(dir, "not a directory"));
        } else {
            QVERIFY(QDir().mkpath(out(QStringLiteral("tools.inf"))));
        }
        run(WizardSource{QStringLiteral("tools"), dir, {QStringLiteral("a")}}, [&](TForm7& w) {
            click(w.Button5);
            w.Edit3->setText(QStringLiteral("kept"));
            click(w.Button1);
            QCOMPARE(w.currentPage(), Page::Step1);
            QCOMPARE(w.windowTitle(), QStringLiteral("Distribution Wizard - Step 1"));
            expectError(QStringLiteral("There was an error while trying to create tools.inf"), 1);
            QCOMPARE(w.Edit1->text(), QStringLiteral("tools"));
            QCOMPARE(w.Edit2->text(), dir);
            QCOMPARE(w.Edit3->text(), QStringLiteral("kept"));
            QCOMPARE(w.ListBox1->count(), 1);

            // With a usable directory the same page goes on.
            w.Edit1->setText(QStringLiteral("fixed"));
            w.Edit2->setText(m_out);
            click(w.Button1);
            QCOMPARE(w.currentPage(), Page::Step2);
            QCOMPARE(m_fake.messages.size(), 1);
            w.reject();
        });
        QVERIFY(QFile::exists(out(QStringLiteral("fixed.inf"))));
    }

    // setup.ini that cannot be written: the general error report, Step 2 stays.
    void setupIniFails_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::addColumn<QString>("report");
        QTest::newRow("directory in the way") << "directory"
                                              << "Cannot create file OUT/setup.ini";
        QTest::newRow("link to a device") << "device"
                                          << "Cannot create file OUT/setup.ini";
        QTest::newRow("file-size limit") << "limit"
                                         << "File too large";
    }
    void setupIniFails()
    {
        QFETCH(QString, obstacle);
        QFETCH(QString, report);
        report.replace(QStringLiteral("OUT"), m_out);
        const QString ini = out(QStringLiteral("setup.ini"));
        const QByteArray earlier = "[General]\r\na1=earlier\r\n";
        if (obstacle == QLatin1String("directory"))
            QVERIFY(QDir().mkpath(ini));
        else if (obstacle == QLatin1String("device"))
            QVERIFY(QFile::link(QStringLiteral("/dev/full"), ini));
        else
            QVERIFY(test::writeFile(ini, earlier));

        run(source(), [&](TForm7& w) {
            goTo(w, Page::Step2);
            {
                test::FileSizeLimit limit(obstacle == QLatin1String("limit") ? 8 : RLIM_INFINITY);
                click(w.Button8);
            }
            QCOMPARE(w.currentPage(), Page::Step2);
            QCOMPARE(w.windowTitle(), QStringLiteral("Distribution Wizard - Step 2"));
            expectError(report);
            // A failed write leaves an earlier setup.ini whole and no partial file.
            if (obstacle == QLatin1String("limit"))
                QCOMPARE(test::readFile(ini), earlier);
            QVERIFY(QDir(m_out).entryList({".ravelin-*"}, QDir::Files | QDir::Hidden).isEmpty());

            // Once the obstacle is gone, Next goes on.
            if (obstacle == QLatin1String("directory"))
                QVERIFY(QDir().rmdir(ini));
            else if (obstacle == QLatin1String("device"))
                QVERIFY(QFile::remove(ini));
            click(w.Button8);
            QCOMPARE(w.currentPage(), Page::Step3);
            w.reject();
        });
        QCOMPARE(test::crlfLines(test::readFile(ini)).value(0), QStringLiteral("[General]"));
        QVERIFY(!test::readFile(ini).contains("earlier"));
    }

    // Finish keys with the phrase's Windows-1252 bytes: "€" is byte 0x80, and a
    // phrase with a character that has no byte there is refused with a message,
    // the wizard staying on Step 3 and writing nothing.
    void passPhraseCharacters_data()
    {
        QTest::addColumn<QString>("phrase");
        QTest::addColumn<QByteArray>("key"); // empty: refused
        QTest::newRow("euro") << QString::fromUtf8("€ for sixteen ok") << QByteArray("\x80 for sixteen ok");
        QTest::newRow("cyrillic") << QString::fromUtf8("пароль для файла") << QByteArray();
        QTest::newRow("greek") << QString::fromUtf8("κωδικός αρχείου!") << QByteArray();
        QTest::newRow("cjk") << QString::fromUtf8("密码密码密码密码密码密码密码密码") << QByteArray();
    }
    void passPhraseCharacters()
    {
        QFETCH(QString, phrase);
        QFETCH(QByteArray, key);
        run(source(), [&](TForm7& w) {
            goTo(w, Page::Step3);
            w.Edit7->setText(phrase);
            click(w.Button11);
            if (key.isEmpty()) {
                QCOMPARE(w.currentPage(), Page::Step3);
                QCOMPARE(m_fake.messageTexts().size(), 1);
                QVERIFY(m_fake.messageTexts().first().startsWith(
                    QStringLiteral("The Pass Phrase contains the character \"") + phrase.left(1) + "\""));
                QCOMPARE(m_fake.beeps, QList<ui::Beep>{ui::Beep::Error});
                QCOMPARE(w.focusWidget(), w.Edit7);
            } else {
                QCOMPARE(w.currentPage(), Page::Complete);
            }
            w.reject();
        });
        if (key.isEmpty()) {
            QCOMPARE(filesInOutput(), (QStringList{"setup.ini", "tools.inf"}));
            return;
        }
#ifdef RAVELIN_HAVE_OPENSSL
        const QByteArray inf = test::readFile(out(QStringLiteral("tools.inf")));
        const QByteArray encrypted = test::readFile(out(QStringLiteral("tools.in_")));
        BF_KEY schedule;
        BF_set_key(&schedule, int(key.size()), reinterpret_cast<const unsigned char*>(key.constData()));
        QByteArray plain(encrypted.size(), '\0');
        for (qsizetype i = 0; i < encrypted.size(); i += 8)
            BF_ecb_encrypt(reinterpret_cast<const unsigned char*>(encrypted.constData() + i),
                           reinterpret_cast<unsigned char*>(plain.data() + i), &schedule, BF_DECRYPT);
        QCOMPARE(plain, inf + QByteArray(encrypted.size() - inf.size(), '\0'));
#endif
    }

    void infDeletedBeforeFinish()
    {
        run(source(), [&](TForm7& w) {
            goTo(w, Page::Step3);
            QVERIFY(QFile::remove(out(QStringLiteral("tools.inf"))));
            w.Edit7->setText(kPhrase16);
            click(w.Button11);
            QCOMPARE(w.currentPage(), Page::Step3);
            expectError(QStringLiteral("There was an unknown error whilst attempting to encrypt ") +
                        out(QStringLiteral("tools.inf")));
            w.reject();
        });
        QVERIFY(!QFile::exists(out(QStringLiteral("SETUP.EXE"))));
    }

    // A SETUP.EXE that cannot be written is reported with its path, and the
    // wizard stays on Step 3 rather than claiming success.
    void setupProgramNotWritten()
    {
        const QString exe = out(QStringLiteral("SETUP.EXE"));
        QVERIFY(QDir().mkpath(exe));
        run(source(), [&](TForm7& w) {
            goTo(w, Page::Step3);
            w.Edit7->setText(kPhrase16);
            click(w.Button11);
            QCOMPARE(w.currentPage(), Page::Step3);
            expectError(QStringLiteral("There was an error while trying to create ") + exe);
            QVERIFY(QFile::exists(out(QStringLiteral("tools.in_"))));

            QVERIFY(QDir().rmdir(exe));
            click(w.Button11);
            QCOMPARE(w.currentPage(), Page::Complete);
            w.reject();
        });
        QCOMPARE(test::readFile(exe), distribution::setupProgramImage());
    }
};

QTEST_MAIN(TestWizard)
#include "tst_wizard.moc"
