// Proves the path rules: joining, name part, directory part, extension change.
#include <QtTest>

#include "platform/paths.h"

using namespace ravelin;

class TestPaths : public QObject {
    Q_OBJECT
private slots:
    void split_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("ext");
        QTest::newRow("plain") << "/cabs/disk1.cab"
                               << "disk1.cab"
                               << "/cabs/"
                               << ".cab";
        QTest::newRow("no dir") << "disk1.cab"
                                << "disk1.cab"
                                << ""
                                << ".cab";
        QTest::newRow("no ext") << "/usr/bin/readme"
                                << "readme"
                                << "/usr/bin/"
                                << "";
        QTest::newRow("dot in dir") << "/a.d/readme"
                                    << "readme"
                                    << "/a.d/"
                                    << "";
        QTest::newRow("two dots") << "/x/a.tar.gz"
                                  << "a.tar.gz"
                                  << "/x/"
                                  << ".gz";
        QTest::newRow("trailing dot") << "/x/name."
                                      << "name."
                                      << "/x/"
                                      << ".";
        QTest::newRow("hidden") << "/x/.profile"
                                << ".profile"
                                << "/x/"
                                << ".profile";
        QTest::newRow("dir only") << "/x/y/"
                                  << ""
                                  << "/x/y/"
                                  << "";
        QTest::newRow("root file") << "/a"
                                   << "a"
                                   << "/"
                                   << "";
        QTest::newRow("double slash") << "/x//b.c"
                                      << "b.c"
                                      << "/x//"
                                      << ".c";
        QTest::newRow("backslash is text") << "/x/a\\b.c"
                                           << "a\\b.c"
                                           << "/x/"
                                           << ".c";
        QTest::newRow("empty") << ""
                               << ""
                               << ""
                               << "";
    }
    void split()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        QFETCH(QString, dir);
        QFETCH(QString, ext);
        QCOMPARE(paths::namePart(path), name);
        QCOMPARE(paths::directoryPart(path), dir);
        QCOMPARE(paths::extension(path), ext);
        QCOMPARE(paths::directoryPart(path) + paths::namePart(path), path);
    }

    void changeExtension_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("ext");
        QTest::addColumn<QString>("expected");
        QTest::newRow("replace") << "/a/b.cab"
                                 << ".ecf"
                                 << "/a/b.ecf";
        QTest::newRow("append") << "/a.d/readme"
                                << ".txt"
                                << "/a.d/readme.txt";
        QTest::newRow("last dot only") << "/a/b.tar.gz"
                                       << ".cab"
                                       << "/a/b.tar.cab";
        QTest::newRow("drop") << "/a/b.cab"
                              << ""
                              << "/a/b";
        QTest::newRow("trailing dot") << "/a/b."
                                      << ".cab"
                                      << "/a/b.cab";
        QTest::newRow("bare name") << "setup.cab"
                                   << ".exe"
                                   << "setup.exe";
    }
    void changeExtension()
    {
        QFETCH(QString, path);
        QFETCH(QString, ext);
        QFETCH(QString, expected);
        QCOMPARE(paths::changeExtension(path, ext), expected);
    }

    void join_data()
    {
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "/cabs"
                               << "disk1.cab"
                               << "/cabs/disk1.cab";
        QTest::newRow("not normalised") << "/cabs/"
                                        << "disk1.cab"
                                        << "/cabs//disk1.cab";
        QTest::newRow("empty dir") << ""
                                   << "a"
                                   << "/a";
    }
    void join()
    {
        QFETCH(QString, dir);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QCOMPARE(paths::join(dir, name), expected);
    }

    void trailingSeparator()
    {
        QCOMPARE(paths::withTrailingSeparator("/a"), QString("/a/"));
        QCOMPARE(paths::withTrailingSeparator("/a/"), QString("/a/"));
        QCOMPARE(paths::withTrailingSeparator("/"), QString("/"));
    }
};

QTEST_APPLESS_MAIN(TestPaths)
#include "tst_paths.moc"
