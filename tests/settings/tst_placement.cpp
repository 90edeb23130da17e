// Proves the main window's placement storage: round trips of the normal and
// maximised states, the NormPos fallbacks and the ShowCmd rules, and a store
// that cannot be written.
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include "settings/placement.h"
#include "settings/preferences.h"
#include "support/fakeprompter.h"
#include "support/testutil.h"

using namespace ravelin;
using settings::Preferences;

namespace {
const QRect kDesign(100, 80, 566, 412);

std::unique_ptr<QMainWindow> designWindow()
{
    auto w = std::make_unique<QMainWindow>();
    w->setGeometry(kDesign);
    return w;
}
} // namespace

class TestPlacement : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString storePath() const { return m_dir->filePath(QStringLiteral("Ravelin.conf")); }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void firstRunKeepsDesign()
    {
        Preferences prefs(storePath());
        auto w = designWindow();
        settings::restorePlacement(w.get(), prefs);
        QCOMPARE(w->geometry(), kDesign);
        QCOMPARE(w->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized), Qt::WindowStates());
    }

    void normalRoundTrip()
    {
        const QRect placed(30, 40, 500, 300);
        {
            Preferences prefs(storePath());
            auto w = designWindow();
            w->show();
            QVERIFY(QTest::qWaitForWindowExposed(w.get()));
            w->setGeometry(placed);
            QTRY_COMPARE(w->geometry(), placed);
            QVERIFY(settings::writePlacement(w.get(), prefs));
            QCOMPARE(prefs.readString(QStringLiteral("NormPos")), QStringLiteral("30,40,530,340"));
            QCOMPARE(prefs.readString(QStringLiteral("ShowCmd")), QStringLiteral("1"));
            QCOMPARE(prefs.readString(QStringLiteral("Flags")), QStringLiteral("0"));
            QCOMPARE(prefs.readString(QStringLiteral("MinMaxPos")), QStringLiteral("-1,-1,-1,-1"));
        }
        Preferences prefs(storePath());
        auto w = designWindow();
        settings::restorePlacement(w.get(), prefs);
        QCOMPARE(w->geometry(), placed);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QCOMPARE(w->geometry(), placed);
        QVERIFY(!w->isMaximized() && !w->isMinimized());
    }

    void maximisedKeepsNormalRectangle()
    {
        const QRect placed(40, 50, 420, 280);
        {
            Preferences prefs(storePath());
            auto w = designWindow();
            w->setGeometry(placed);
            w->showMaximized();
            QVERIFY(QTest::qWaitForWindowExposed(w.get()));
            QTRY_VERIFY(w->isMaximized());
            QVERIFY(settings::writePlacement(w.get(), prefs));
            QCOMPARE(prefs.readString(QStringLiteral("ShowCmd")), QStringLiteral("3"));
            QCOMPARE(prefs.readString(QStringLiteral("NormPos")), QStringLiteral("40,50,460,330"));
        }
        Preferences prefs(storePath());
        auto w = designWindow();
        settings::restorePlacement(w.get(), prefs);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QVERIFY(w->isMaximized());
        QCOMPARE(w->normalGeometry(), placed);
        w->showNormal();
        QTRY_COMPARE(w->geometry(), placed);
    }

    void minimisedWritesTwo_data()
    {
        QTest::addColumn<bool>("fromMaximised");
        QTest::addColumn<QString>("flags");
        QTest::newRow("from normal") << false << "0";
        QTest::newRow("from maximised") << true << "2";
    }
    void minimisedWritesTwo()
    {
        QFETCH(bool, fromMaximised);
        QFETCH(QString, flags);
        Preferences prefs(storePath());
        auto w = designWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        if (fromMaximised)
            w->setWindowState(Qt::WindowMaximized);
        w->setWindowState(w->windowState() | Qt::WindowMinimized);
        QTRY_VERIFY(w->isMinimized());
        QVERIFY(settings::writePlacement(w.get(), prefs));
        QCOMPARE(prefs.readString(QStringLiteral("ShowCmd")), QStringLiteral("2"));
        QCOMPARE(prefs.readString(QStringLiteral("Flags")), flags);
        QCOMPARE(prefs.readString(QStringLiteral("NormPos")), QStringLiteral("100,80,666,492"));
    }

    void storedValues_data()
    {
        QTest::addColumn<QString>("normPos");   // null: not stored
        QTest::addColumn<QString>("minMaxPos"); // null: not stored
        QTest::addColumn<QRect>("expected");
        QTest::newRow("four numbers") << "10,20,310,220" << QString() << QRect(10, 20, 300, 200);
        QTest::newRow("two numbers") << "10,20" << QString() << QRect(QPoint(10, 20), QPoint(665, 491));
        QTest::newRow("hexadecimal") << "0x10,0X20,0x110,0x120" << QString() << QRect(16, 32, 256, 256);
        QTest::newRow("spaces around numbers") << "10, 20, 310, 220" << QString() << QRect(10, 20, 300, 200);
        QTest::newRow("garbage") << "a,b,c,d" << QString() << kDesign;
        QTest::newRow("garbage right and bottom")
            << "15,25,wide,tall" << QString() << QRect(QPoint(15, 25), QPoint(665, 491));
        QTest::newRow("empty") << "" << QString() << kDesign;
        QTest::newRow("left not before right") << "400,20,300,220" << QString() << kDesign;
        QTest::newRow("left equal to right") << "300,20,300,220" << QString() << kDesign;
        QTest::newRow("top not before bottom") << "10,300,310,200" << QString() << kDesign;
        QTest::newRow("only MinMaxPos") << QString() << "-1,-1,-1,-1" << kDesign;
        QTest::newRow("nothing") << QString() << QString() << kDesign;
        QTest::newRow("far off every screen")
            << "50000,50000,50300,50200" << QString() << QRect(0, 0, 300, 200);
    }
    void storedValues()
    {
        QFETCH(QString, normPos);
        QFETCH(QString, minMaxPos);
        QFETCH(QRect, expected);
        Preferences prefs(storePath());
        if (!normPos.isNull())
            prefs.writeString(QStringLiteral("NormPos"), normPos);
        if (!minMaxPos.isNull())
            prefs.writeString(QStringLiteral("MinMaxPos"), minMaxPos);
        auto w = designWindow();
        settings::restorePlacement(w.get(), prefs);
        if (QTest::currentDataTag() == QLatin1String("far off every screen"))
            expected.moveTopLeft(QGuiApplication::primaryScreen()->availableGeometry().topLeft());
        QCOMPARE(w->geometry(), expected);
    }

    void oversizedFitted_data()
    {
        QTest::addColumn<QString>("normPos");
        QTest::addColumn<QRect>("expected");
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QTest::newRow("far larger than the screen") << "0,0,99999,99999" << area;
        QTest::newRow("larger, starting before the screen") << "-5000,-5000,99999,99999" << area;
        QTest::newRow("too wide") << "10,20,99999,220" << QRect(area.left(), 20, area.width(), 200);
        QTest::newRow("too tall") << "10,20,310,99999" << QRect(10, area.top(), 300, area.height());
        QTest::newRow("exactly the screen") << QStringLiteral("%1,%2,%3,%4")
                                                   .arg(area.left())
                                                   .arg(area.top())
                                                   .arg(area.left() + area.width())
                                                   .arg(area.top() + area.height())
                                            << area;
    }
    void oversizedFitted()
    {
        QFETCH(QString, normPos);
        QFETCH(QRect, expected);
        Preferences prefs(storePath());
        prefs.writeString(QStringLiteral("NormPos"), normPos);
        auto w = designWindow();
        settings::restorePlacement(w.get(), prefs);
        QCOMPARE(w->geometry(), expected);
        // Shown, it keeps that size (the frame may nudge its position).
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QCOMPARE(w->size(), expected.size());
    }

    void valueNamesIgnoreCase()
    {
        Preferences prefs(storePath());
        prefs.writeString(QStringLiteral("normpos"), QStringLiteral("10,20,310,220"));
        prefs.writeString(QStringLiteral("SHOWCMD"), QStringLiteral("3"));
        auto w = designWindow();
        settings::restorePlacement(w.get(), prefs);
        QCOMPARE(w->geometry(), QRect(10, 20, 300, 200));
        QVERIFY(w->windowState() & Qt::WindowMaximized);
    }

    void fixedSizeWindowKeepsItsSize()
    {
        Preferences prefs(storePath());
        prefs.writeString(QStringLiteral("NormPos"), QStringLiteral("10,20,900,900"));
        QDialog d;
        d.setGeometry(50, 60, 200, 100);
        d.setFixedSize(200, 100);
        settings::restorePlacement(&d, prefs);
        QCOMPARE(d.geometry(), QRect(10, 20, 200, 100));
    }

    void showCmd_data()
    {
        QTest::addColumn<QString>("showCmd"); // null: not stored
        QTest::addColumn<QString>("flags");
        QTest::addColumn<int>("state");
        const int normal = 0, minimised = Qt::WindowMinimized, maximised = Qt::WindowMaximized;
        QTest::newRow("1") << "1"
                           << "0" << normal;
        QTest::newRow("5") << "5"
                           << "0" << normal;
        QTest::newRow("9") << "9"
                           << "0" << normal;
        QTest::newRow("2") << "2"
                           << "0" << minimised;
        QTest::newRow("6") << "6"
                           << "0" << minimised;
        QTest::newRow("2 restoring maximised") << "2"
                                               << "2" << (minimised | maximised);
        QTest::newRow("3") << "3"
                           << "0" << maximised;
        QTest::newRow("0x3") << "0x3"
                             << "0" << maximised;
        QTest::newRow("0") << "0"
                           << "0" << normal;
        QTest::newRow("4") << "4"
                           << "0" << normal;
        QTest::newRow("7") << "7"
                           << "0" << normal;
        QTest::newRow("garbage") << "max"
                                 << "junk" << normal;
        QTest::newRow("missing") << QString() << "0" << normal;
    }
    void showCmd()
    {
        QFETCH(QString, showCmd);
        QFETCH(QString, flags);
        QFETCH(int, state);
        Preferences prefs(storePath());
        if (!showCmd.isNull())
            prefs.writeString(QStringLiteral("ShowCmd"), showCmd);
        prefs.writeString(QStringLiteral("Flags"), flags);
        auto w = designWindow();
        settings::restorePlacement(w.get(), prefs);
        const Qt::WindowStates mask = Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;
        QCOMPARE(int(w->windowState() & mask), state);
    }

    void defaultStoreRoundTrip()
    {
        // The user's store, below this test's own XDG_CONFIG_HOME.
        QVERIFY(settings::preferencesFilePath().endsWith(QLatin1String("/Korvane Corp./Ravelin.conf")));
        test::FakePrompter fake;
        test::FakePrompter::Scope scope(fake);
        auto w = designWindow();
        w->setGeometry(20, 30, 400, 300);
        QVERIFY(settings::savePlacement(w.get()));
        QVERIFY(fake.messages.isEmpty());
        const QByteArray file = test::readFile(settings::preferencesFilePath());
        QVERIFY2(file.contains("[v6.0]"), file.constData());
        QVERIFY2(file.contains("NormPos"), file.constData());
        auto again = designWindow();
        settings::restorePlacement(again.get());
        QCOMPARE(again->geometry(), QRect(20, 30, 400, 300));
        QFile::remove(settings::preferencesFilePath());
    }

    void storeThatCannotBeWritten()
    {
        // A file where the store's folder should be stops the write, for root too.
        const QString blocker = m_dir->filePath(QStringLiteral("blocker"));
        QVERIFY(test::writeFile(blocker, "not a folder"));
        Preferences prefs(blocker + QStringLiteral("/Ravelin.conf"));
        auto w = designWindow();
        QVERIFY(!settings::writePlacement(w.get(), prefs));

        test::FakePrompter fake;
        test::FakePrompter::Scope scope(fake);
        QVERIFY(!settings::savePlacement(w.get(), prefs, blocker + QStringLiteral("/Ravelin.conf")));
        QCOMPARE(fake.messageTexts(), QStringList{QStringLiteral("Cannot create file ") + blocker +
                                                  QStringLiteral("/Ravelin.conf")});
        QCOMPARE(fake.messages[0].message.icon, ui::Icon::Error);
    }
};

QTEST_MAIN(TestPlacement)
#include "tst_placement.moc"
