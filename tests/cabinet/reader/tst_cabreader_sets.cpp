// Proves the cabinet reader joins a cabinet set from any of its members, and refuses by name a set whose
// stored names lead out of its folder, come round again, belong to another set or do not continue the split
// folder; a file of the set is never written over.
#include <QTemporaryDir>
#include <QtTest>

#include "cabinet/reader/cabreader.h"
#include "cabinet/reader/folders.h"
#include "support/testutil.h"

using namespace ravelin;

namespace {

const QString kSets = QStringLiteral(RAVELIN_SETS_DIR);

// Replaces the only occurrence of `from` in `data` by `to` (same length).
bool patch(QByteArray* data, const QByteArray& from, const QByteArray& to, int occurrence = 0)
{
    qsizetype at = -1;
    for (int i = 0; i <= occurrence; ++i)
        if ((at = data->indexOf(from, at + 1)) < 0)
            return false;
    data->replace(at, from.size(), to);
    return from.size() == to.size();
}

} // namespace

class TestCabReaderSets : public QObject {
    Q_OBJECT
private slots:
    void join_data();
    void join();
    void filesOfTheSetAreNotWritten();
};

void TestCabReaderSets::join_data()
{
    QTest::addColumn<QString>("change"); // what is done to the copy of the set
    QTest::addColumn<QString>("opened");
    QTest::addColumn<QByteArray>("error"); // "" when it opens; %D% for the folder
    QTest::newRow("from the first") << ""
                                    << "set1.cab" << QByteArray();
    QTest::newRow("from the middle") << ""
                                     << "set2.cab" << QByteArray();
    QTest::newRow("from the last") << ""
                                   << "set3.cab" << QByteArray();
    QTest::newRow("a name leading out")
        << "set1 next ../2.cab"
        << "set1.cab"
        << QByteArray("cannot open cabinet %D%/../2.cab (the next cabinet after "
                      "%D%/set1.cab): the stored name is not a plain file name");
    QTest::newRow("a name coming round again")
        << "set2 next set1.cab"
        << "set1.cab"
        << QByteArray("cannot join cabinet %D%/set1.cab to %D%/set1.cab: it is already in the set");
    QTest::newRow("another set") << "set2 set ID"
                                 << "set1.cab"
                                 << QByteArray(
                                        "cannot join cabinet %D%/set2.cab to %D%/set1.cab: it belongs to "
                                        "another set (set ID 1, not 24181)");
    QTest::newRow("a split folder that does not continue")
        << "set2 file length"
        << "set1.cab" << QByteArray("cannot join cabinet %D%/set2.cab to %D%/set1.cab: bad cabinet format");
    QTest::newRow("not a cabinet") << "set2 text"
                                   << "set3.cab"
                                   << QByteArray(
                                          "cannot open cabinet %D%/set2.cab (the previous cabinet before "
                                          "%D%/set3.cab): not a cabinet");
}

void TestCabReaderSets::join()
{
    QFETCH(QString, change);
    QFETCH(QString, opened);
    QFETCH(QByteArray, error);
    QTemporaryDir dir;
    QByteArray set[3];
    for (int i = 0; i < 3; ++i)
        set[i] = test::readFile(kSets + QString("/set%1.cab").arg(i + 1));
    if (change == "set1 next ../2.cab")
        QVERIFY(patch(&set[0], "set2.cab", "../2.cab"));
    else if (change == "set2 next set1.cab")
        QVERIFY(patch(&set[1], "set3.cab", "set1.cab"));
    else if (change == "set2 set ID")
        set[1][32] = 1, set[1][33] = 0;
    else if (change == "set2 file length")
        set[1][qFromLittleEndian<quint32>(set[1].constData() + 16)] ^= 1; // cbFile of its only entry
    else if (change == "set2 text")
        set[1] = "not a cabinet at all\n";
    for (int i = 0; i < 3; ++i)
        QVERIFY(test::writeFile(dir.filePath(QString("set%1.cab").arg(i + 1)), set[i]));

    cabreader::Cabinet cab;
    std::string why;
    const bool ok = cab.open(QFile::encodeName(dir.filePath(opened)).toStdString(), &why);
    if (!error.isEmpty()) {
        QVERIFY(!ok);
        QCOMPARE(QByteArray::fromStdString(why), error.replace("%D%", QFile::encodeName(dir.path())));
        return;
    }
    QVERIFY2(ok, why.c_str());
    QCOMPARE(cab.cabinetPaths().size(), std::size_t(3));
    QVERIFY(cab.cabinetPaths()[0].ends_with("/set1.cab") && cab.cabinetPaths()[2].ends_with("/set3.cab"));
    QCOMPARE(cab.path(), QFile::encodeName(dir.filePath(opened)).toStdString());
    QCOMPARE(cab.entries().size(), std::size_t(4));
    QCOMPARE(cab.entries()[1].name, std::string("data\\big.bin"));
    QCOMPARE(cab.entries()[3].folder, std::size_t(1));
    QCOMPARE(cab.folders().size(), std::size_t(2)); // the split folder is one
    QCOMPARE(cab.folders()[1].compression, uint16_t(1));
    QVERIFY2(cab.test(&why), why.c_str());
}

void TestCabReaderSets::filesOfTheSetAreNotWritten()
{
    // An entry extracted under the name of the set's last cabinet, beside it.
    QTemporaryDir dir;
    for (const char* name : {"set1.cab", "set2.cab", "set3.cab"})
        QVERIFY(QFile::copy(kSets + "/" + name, dir.filePath(name)));
    const QByteArray before = test::readFile(dir.filePath("set3.cab"));
    cabreader::Cabinet cab;
    std::string why;
    QVERIFY2(cab.open(QFile::encodeName(dir.filePath("set1.cab")).toStdString(), &why), why.c_str());
    const std::string folder = QFile::encodeName(dir.path()).toStdString();
    int err = 0;
    const io::Fd folderFd = cabreader::openDirectory(folder, false, &err);
    QVERIFY(folderFd);
    const std::vector<cabreader::Destination> destinations = {
        {0, folderFd.get(), "set3.cab", folder + "/set3.cab"}};
    QVERIFY(!cab.extract(destinations, cabreader::ExtractOptions{}, nullptr, &why));
    QCOMPARE(why, "refusing to write " + folder + "/set3.cab: it is the cabinet " + folder +
                      "/set1.cab being read");
    QCOMPARE(test::readFile(dir.filePath("set3.cab")), before);
}

QTEST_GUILESS_MAIN(TestCabReaderSets)
#include "tst_cabreader_sets.moc"
