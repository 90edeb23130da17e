// Proves the main window's Help menu, toolbar and Get Info reach the desktop,
// the help window, the About box and the cabinet viewer, and that the main
// window restores its stored placement when first shown and saves it on close.
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include "app/form1.h"
#include "crypto/window/form9.h"
#include "settings/contexthelp.h"
#include "settings/help.h"
#include "settings/placement.h"
#include "settings/preferences.h"
#include "support/fakeprompter.h"

using namespace ravelin;
using test::FakePrompter;

class TestHelpCommands : public QObject {
    Q_OBJECT
private slots:
    void links_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("url");
        QTest::newRow("Main Page") << "MainPage1"
                                   << "http://www.korvane.example/";
        QTest::newRow("Free Downloads") << "FreeDownloads1"
                                        << "http://www.korvane.example/products/index.html";
        QTest::newRow("Internet Products") << "InternetProducts1"
                                           << "http://www.korvane.example/internet/index.html";
        QTest::newRow("Developers") << "Developers1"
                                    << "http://www.korvane.example/developers/index.html";
        QTest::newRow("Search") << "Search1"
                                << "http://www.korvane.example/search/index.html";
        QTest::newRow("Support") << "Support1"
                                 << "mailto:support@korvane.example";
        QTest::newRow("Make A Suggestion") << "MakeASuggestion1"
                                           << "mailto:suggestions@korvane.example";
        QTest::newRow("Request A Feature") << "RequestAFeature1"
                                           << "mailto:features@korvane.example";
        QTest::newRow("Report A Bug") << "ReportABug1"
                                      << "mailto:bugs@korvane.example";
    }
    void links()
    {
        QFETCH(QString, action);
        QFETCH(QString, url);
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        app::TForm1 form({QStringLiteral("/noquery")});
        QAction* a = form.action(action);
        QVERIFY(a);
        a->trigger();
        QCOMPARE(fake.urls, QList<QUrl>{QUrl(url)});
        // A refused request shows nothing.
        fake.openUrlResult = false;
        a->trigger();
        QVERIFY(fake.messages.isEmpty());
    }

    void toolbarWebAndHelp()
    {
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        app::TForm1 form({QStringLiteral("/noquery")});
        QToolButton* web = form.findChild<QToolButton*>(QStringLiteral("SpeedButton5"));
        QToolButton* help = form.findChild<QToolButton*>(QStringLiteral("SpeedButton6"));
        QVERIFY(web && help);
        QTest::mouseClick(web, Qt::LeftButton);
        QCOMPARE(fake.urls, QList<QUrl>{QUrl(QStringLiteral("http://www.korvane.example/"))});
        QTest::mouseClick(help, Qt::LeftButton);
        form.action(QStringLiteral("RavelinHelp1"))->trigger();
        QCOMPARE(fake.helpTopics, (QList<int>{0, 0}));
        QCOMPARE(form.action(QStringLiteral("RavelinHelp1"))->shortcut(), QKeySequence(Qt::Key_F1));
    }

    void aboutAndGetInfo()
    {
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        app::TForm1 form({QStringLiteral("/noquery")});
        form.action(QStringLiteral("AboutRavelin1"))->trigger();
        form.action(QStringLiteral("GetInfo1"))->trigger();
        QCOMPARE(fake.dialogs.size(), 2);
        QCOMPARE(fake.dialogs[0].className, QStringLiteral("ravelin::settings::TForm2"));
        QCOMPARE(fake.dialogs[1].className, QStringLiteral("ravelin::tools::TForm4"));
        QVERIFY(form.action(QStringLiteral("GetInfo1"))->isVisible());
    }

    void encryptionWindowContextHelp()
    {
        settings::installHelp();
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        app::TForm1 form({QStringLiteral("/noquery")});
        int topic = -1;
        QPoint at, corner;
        fake.dialogHandlers.push_back([&](QDialog* d) {
            auto* window = qobject_cast<crypto::TForm9*>(d);
            if (!window)
                return int(QDialog::Rejected);
            window->show();
            if (!QTest::qWaitForWindowActive(window))
                return int(QDialog::Rejected);
            window->Edit1->setFocus();
            QTest::keyClick(window->Edit1, Qt::Key_F1);
            if (QTest::qWaitFor([] { return settings::ContextHelpPopup::current() != nullptr; })) {
                topic = settings::ContextHelpPopup::current()->topic();
                at = settings::ContextHelpPopup::current()->pos();
                corner = window->Edit1->mapToGlobal(QPoint(0, 0));
                settings::ContextHelpPopup::current()->close();
            }
            return int(QDialog::Rejected);
        });
        form.action(QStringLiteral("EncryptDecrypt1"))->trigger();
        QCOMPARE(topic, 1);
        QCOMPARE(at, corner);
    }

    void placementOfMainWindow()
    {
        FakePrompter fake;
        FakePrompter::Scope scope(fake);
        QRect design;
        {
            // Where the window stands when nothing is stored.
            app::TForm1 plain({QStringLiteral("/noquery")});
            plain.show();
            QVERIFY(QTest::qWaitForWindowExposed(&plain));
            design = plain.geometry();
            plain.hide();
        }
        {
            settings::Preferences prefs;
            prefs.writeString(QStringLiteral("NormPos"), QStringLiteral("10,20"));
            prefs.writeString(QStringLiteral("ShowCmd"), QStringLiteral("1"));
        }
        app::TForm1 form({QStringLiteral("/noquery")});
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        // Left and top from the store, right and bottom where they were.
        QCOMPARE(form.geometry().topLeft(), QPoint(10, 20));
        QCOMPARE(form.geometry().right(), design.right());
        QCOMPARE(form.geometry().bottom(), design.bottom());

        form.showMaximized();
        QTRY_VERIFY(form.isMaximized());
        form.close();
        settings::Preferences prefs;
        QCOMPARE(prefs.readString(QStringLiteral("ShowCmd")), QStringLiteral("3"));
        const QRect normal = form.normalGeometry();
        QCOMPARE(prefs.readString(QStringLiteral("NormPos")), QStringLiteral("%1,%2,%3,%4")
                                                                  .arg(normal.left())
                                                                  .arg(normal.top())
                                                                  .arg(normal.left() + normal.width())
                                                                  .arg(normal.top() + normal.height()));

        // The next start shows it maximised, the normal rectangle kept.
        app::TForm1 again({QStringLiteral("/noquery")});
        again.show();
        QVERIFY(QTest::qWaitForWindowExposed(&again));
        QVERIFY(again.isMaximized());
        QCOMPARE(again.normalGeometry(), normal);
    }
};

QTEST_MAIN(TestHelpCommands)
#include "tst_helpcommands.moc"
