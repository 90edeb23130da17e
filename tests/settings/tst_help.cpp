// Proves the program's help: every topic number has real text and an anchor,
// the help window opens at a topic, context help shows the control's (or its
// nearest parent's) topic at its corner from F1 and from "What's This?", and
// the About box has its parts.
#include <QDialog>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWhatsThis>

#include "settings/contexthelp.h"
#include "settings/form2.h"
#include "settings/help.h"
#include "support/fakeprompter.h"
#include "ui/prompter.h"

using namespace ravelin;

namespace {
QString plainText(const QString& html)
{
    QTextDocument doc;
    doc.setHtml(html);
    return doc.toPlainText();
}

// A window laid out like the organise window: a group with a topic holding a
// box without one, a box with its own topic, and a button with none.
struct HelpedWindow {
    QDialog window;
    QGroupBox* group;
    QLineEdit* inner;
    QLineEdit* own;
    QPushButton* plain;
    HelpedWindow()
    {
        auto* layout = new QVBoxLayout(&window);
        group = new QGroupBox(QStringLiteral("Found"), &window);
        group->setProperty("helpContext", 12);
        inner = new QLineEdit(group);
        (new QVBoxLayout(group))->addWidget(inner);
        own = new QLineEdit(&window);
        own->setProperty("helpContext", 5);
        plain = new QPushButton(QStringLiteral("Plain"), &window);
        layout->addWidget(group);
        layout->addWidget(own);
        layout->addWidget(plain);
        settings::enableContextHelp(&window);
        window.resize(300, 200);
        window.move(120, 100);
    }
};

settings::ContextHelpPopup* popup()
{
    return settings::ContextHelpPopup::current();
}

void closePopup()
{
    if (popup())
        popup()->close();
    QTRY_VERIFY(!popup());
}
} // namespace

class TestHelp : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { closePopup(); }

    void topicsPresent_data()
    {
        QTest::addColumn<int>("topic");
        for (int n : settings::helpTopicNumbers())
            QTest::newRow(qPrintable(QString::number(n))) << n;
    }
    void topicsPresent()
    {
        QFETCH(int, topic);
        const QString html = settings::helpTopicHtml(topic);
        QVERIFY2(!html.isEmpty(), "topic missing");
        QVERIFY(html.contains(QStringLiteral("<a name=\"topic%1\"></a>").arg(topic)));
        QVERIFY(html.contains(QLatin1String("<h2>")));
        // Written for the user, not a placeholder.
        QVERIFY2(plainText(html).size() >= 150, qPrintable(plainText(html)));
        QVERIFY(settings::helpTopicHtml(0).contains(QStringLiteral("href=\"#topic%1\"").arg(topic)));
        QCOMPARE(settings::helpTopicUrl(topic).fragment(), QStringLiteral("topic%1").arg(topic));
    }

    void topicNumbersAreTheListedOnes()
    {
        QCOMPARE(settings::helpTopicNumbers(), (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 1001}));
        QVERIFY(settings::helpTopicHtml(9).isEmpty());
        QCOMPARE(settings::helpTopicUrl(9).fragment(), QStringLiteral("contents"));
        QCOMPARE(settings::helpTopicUrl(0).fragment(), QStringLiteral("contents"));
    }

    void everyLinkHasItsAnchor()
    {
        const QString doc = settings::helpDocument();
        QVERIFY(doc.contains(QLatin1String("<a name=\"contents\"></a>")));
        const QRegularExpression link(QStringLiteral("href=\"#([^\"]+)\""));
        int links = 0;
        for (auto it = link.globalMatch(doc); it.hasNext(); ++links) {
            const QString anchor = it.next().captured(1);
            QVERIFY2(doc.contains(QStringLiteral("<a name=\"%1\"></a>").arg(anchor)), qPrintable(anchor));
        }
        QVERIFY(links > 20);
    }

    void helpWindowShowsTopic_data()
    {
        QTest::addColumn<int>("topic");
        QTest::addColumn<QString>("fragment");
        QTest::addColumn<QString>("text");
        QTest::newRow("contents") << 0 << "contents"
                                  << "Ravelin Pro Help";
        QTest::newRow("pass phrase") << 1 << "topic1"
                                     << "Pass Phrase";
        QTest::newRow("drive") << 10 << "topic10"
                               << "Drive to search";
        QTest::newRow("compress guard") << 1001 << "topic1001"
                                        << "Name the cabinet before compressing";
        QTest::newRow("no such topic") << 9 << "contents"
                                       << "Ravelin Pro Help";
    }
    void helpWindowShowsTopic()
    {
        QFETCH(int, topic);
        QFETCH(QString, fragment);
        QFETCH(QString, text);
        settings::installHelp();
        // The application's prompter hands help requests to the help window.
        ui::QtPrompter().showHelp(topic);
        settings::THelpWindow* window = settings::helpWindow();
        QVERIFY(window);
        QVERIFY(window->isVisible());
        QVERIFY(!window->testAttribute(Qt::WA_QuitOnClose));
        QCOMPARE(window->TextBrowser1->source().fragment(), fragment);
        QVERIFY(window->TextBrowser1->toPlainText().contains(text));
        window->close();
    }

    void helpWindowNavigates()
    {
        settings::showHelpTopic(3);
        settings::THelpWindow* window = settings::helpWindow();
        QVERIFY(window);
        QTest::mouseClick(window->ContentsButton, Qt::LeftButton);
        QCOMPARE(window->TextBrowser1->source().fragment(), QStringLiteral("contents"));
        QVERIFY(window->BackButton->isEnabled());
        QTest::mouseClick(window->BackButton, Qt::LeftButton);
        QCOMPARE(window->TextBrowser1->source().fragment(), QStringLiteral("topic3"));
        window->close();
    }

    void helpOverModalWindow()
    {
        QDialog modal;
        modal.setModal(true);
        modal.show();
        QTRY_COMPARE(QApplication::activeModalWidget(), &modal);
        settings::showHelpTopic(2);
        QCOMPARE(settings::helpWindow()->windowModality(), Qt::ApplicationModal);
        settings::helpWindow()->close();
        modal.close();
        settings::showHelpTopic(2);
        QCOMPARE(settings::helpWindow()->windowModality(), Qt::NonModal);
        settings::helpWindow()->close();
    }

    void helpWindowCloses_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::newRow("Escape") << true;
        QTest::newRow("Close button") << false;
    }
    void helpWindowCloses()
    {
        QFETCH(bool, escape);
        settings::showHelpTopic(2);
        settings::THelpWindow* window = settings::helpWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QCOMPARE(window->CloseButton->text(), QStringLiteral("&Close"));
        if (escape) {
            window->TextBrowser1->setFocus();
            QTest::keyClick(window->TextBrowser1, Qt::Key_Escape);
        } else {
            QTest::mouseClick(window->CloseButton, Qt::LeftButton);
        }
        QTRY_VERIFY(!window->isVisible());
    }

    void f1InMessageBox_data()
    {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("topic");
        QTest::newRow("compress guard, OK and Help") << int(ui::Ok | ui::Help) << 1001;
        QTest::newRow("failed INF write, OK only") << int(ui::Ok) << 1;
        QTest::newRow("no topic") << int(ui::Ok) << 0;
    }
    void f1InMessageBox()
    {
        // The real message box: F1 opens the help window at the box's topic,
        // over the box, which stays open until its button is pressed.
        QFETCH(int, buttons);
        QFETCH(int, topic);
        settings::installHelp();
        if (settings::helpWindow())
            settings::helpWindow()->close();
        QString shown = QStringLiteral("nothing");
        bool boxStayedOpen = false;
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || QApplication::activeWindow() != box)
                return;
            poll.stop();
            QTest::keyClick(box, Qt::Key_F1);
            settings::THelpWindow* help = settings::helpWindow();
            if (help && help->isVisible()) {
                shown = help->TextBrowser1->source().fragment();
                QTest::keyClick(help->TextBrowser1, Qt::Key_Escape);
            }
            boxStayedOpen = box->isVisible();
            box->buttons().first()->click();
        });
        poll.start();
        const int pressed = ui::showMessage(nullptr, QStringLiteral("Something to read about"),
                                            ui::Icon::Error, buttons, QString(), topic);
        QVERIFY(boxStayedOpen);
        QCOMPARE(pressed, int(ui::Ok));
        QCOMPARE(shown, topic ? QStringLiteral("topic%1").arg(topic) : QStringLiteral("nothing"));
        QVERIFY(!settings::helpWindow() || !settings::helpWindow()->isVisible());
    }

    void topicOfControls()
    {
        HelpedWindow w;
        QCOMPARE(settings::helpContextOf(w.inner), 12);
        QCOMPARE(settings::helpContextOf(w.group), 12);
        QCOMPARE(settings::helpContextOf(w.own), 5);
        QCOMPARE(settings::helpContextOf(w.plain), 0);
        QCOMPARE(settings::helpContextOf(&w.window), 0);
        QVERIFY(w.window.windowFlags() & Qt::WindowContextHelpButtonHint);
    }

    void f1ShowsTopicAtCorner_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("topic");
        QTest::newRow("own topic") << "own" << 5;
        QTest::newRow("parent's topic") << "inner" << 12;
        QTest::newRow("no topic") << "plain" << 0;
    }
    void f1ShowsTopicAtCorner()
    {
        QFETCH(QString, control);
        QFETCH(int, topic);
        HelpedWindow w;
        w.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        QWidget* target = control == QLatin1String("own")     ? static_cast<QWidget*>(w.own)
                          : control == QLatin1String("inner") ? static_cast<QWidget*>(w.inner)
                                                              : static_cast<QWidget*>(w.plain);
        target->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), target);
        QTest::keyClick(target, Qt::Key_F1);
        if (topic == 0) {
            QVERIFY(!popup());
            return;
        }
        QTRY_VERIFY(popup() && popup()->isVisible());
        QCOMPARE(popup()->topic(), topic);
        QCOMPARE(popup()->property("helpTopic").toInt(), topic);
        QCOMPARE(popup()->pos(), target->mapToGlobal(QPoint(0, 0)));
        QVERIFY(popup()->text()->text().contains(QStringLiteral("name=\"topic%1\"").arg(topic)));
        // Any key closes it.
        QTest::keyClick(popup(), Qt::Key_Escape);
        QTRY_VERIFY(!popup());
    }

    void whatsThisShowsTopic()
    {
        HelpedWindow w;
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        // The cursor tells where help is available.
        QHelpEvent queryInner(QEvent::QueryWhatsThis, QPoint(2, 2), w.inner->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(w.inner, &queryInner);
        QVERIFY(queryInner.isAccepted());
        QHelpEvent queryPlain(QEvent::QueryWhatsThis, QPoint(2, 2), w.plain->mapToGlobal(QPoint(2, 2)));
        queryPlain.ignore();
        QApplication::sendEvent(w.plain, &queryPlain);
        QVERIFY(!queryPlain.isAccepted());

        // The title-bar button's mode, then a click on a control.
        QWhatsThis::enterWhatsThisMode();
        QVERIFY(QWhatsThis::inWhatsThisMode());
        QTest::mouseClick(w.inner, Qt::LeftButton, {}, QPoint(5, 5));
        QTRY_VERIFY(popup() && popup()->isVisible());
        QCOMPARE(popup()->topic(), 12);
        QCOMPARE(popup()->pos(), w.inner->mapToGlobal(QPoint(0, 0)));
        QVERIFY(!QWhatsThis::inWhatsThisMode());
    }

    void helpButtonWindowsGetContextHelp()
    {
        // Windows written elsewhere only set the help button and the topics.
        settings::installHelp();
        QDialog window(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowContextHelpButtonHint);
        auto* box = new QLineEdit(&window);
        box->setProperty("helpContext", 7);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        box->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), box);
        QTest::keyClick(box, Qt::Key_F1);
        QTRY_VERIFY(popup() && popup()->isVisible());
        QCOMPARE(popup()->topic(), 7);
        QVERIFY(window.isVisible());
        closePopup();

        // A window without the button is left alone.
        QDialog other;
        auto* plainBox = new QLineEdit(&other);
        plainBox->setProperty("helpContext", 7);
        other.show();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        plainBox->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), plainBox);
        QTest::keyClick(plainBox, Qt::Key_F1);
        QVERIFY(!popup());
    }

    void popupStaysOnScreen()
    {
        HelpedWindow w;
        w.window.move(QGuiApplication::primaryScreen()->availableGeometry().right() - 100, 100);
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        QVERIFY(settings::showContextHelp(w.own));
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(area.contains(popup()->frameGeometry()));
    }

    void aboutBox()
    {
        settings::TForm2 about;
        QCOMPARE(about.windowTitle(), QStringLiteral("About Ravelin Pro"));
        QCOMPARE(about.size(), QSize(338, 267));
        QCOMPARE(about.minimumSize(), about.maximumSize());
        QVERIFY(about.windowFlags() & Qt::WindowSystemMenuHint);
        QVERIFY(!(about.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(about.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(about.Panel1->size(), QSize(83, 253));
        QCOMPARE(about.Panel1->frameShadow(), QFrame::Sunken);
        QCOMPARE(about.Panel1->palette().color(QPalette::Window), QColor(128, 64, 0));
        QVERIFY(about.Panel1->autoFillBackground());
        QCOMPARE(about.Image1->size(), QSize(81, 60));
        QCOMPARE(about.Image1->pos(), QPoint(1, 1));
        QVERIFY(!about.Image1->pixmap().isNull());
        QCOMPARE(about.Label1->text(), QStringLiteral("Ravelin Professional (6.2)"));
        QCOMPARE(about.Button1->text(), QStringLiteral("&OK"));
        QVERIFY(about.Button1->isDefault());
        about.show();
        QTest::mouseClick(about.Button1, Qt::LeftButton);
        QCOMPARE(about.result(), int(QDialog::Accepted));
        QVERIFY(!about.isVisible());
    }

    void runAboutIsModal()
    {
        test::FakePrompter fake;
        test::FakePrompter::Scope scope(fake);
        settings::runAbout(nullptr);
        QCOMPARE(fake.dialogs.size(), 1);
        QCOMPARE(fake.dialogs[0].className, QStringLiteral("ravelin::settings::TForm2"));
        QCOMPARE(fake.dialogs[0].windowTitle, QStringLiteral("About Ravelin Pro"));
    }
};

QTEST_MAIN(TestHelp)
#include "tst_help.moc"
