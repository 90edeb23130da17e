// Proves Compress Files end to end in the main window: the cabinet's order and
// contents, the progress bar and status bar, and every failure message.
#include <QtTest>

#include <QCheckBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

#include "app/form1.h"
#include "cabinet/builder.h"
#include "cabinet/filelist.h"
#include "cabinet/reader/cabreader.h"
#include "support/fakeprompter.h"
#include "support/testutil.h"
#include "ui/panelstatusbar.h"

using namespace ravelin;
using ravelin::app::TForm1;
using ravelin::test::FakePrompter;

namespace {

QStringList storedNames(const QString& cab)
{
    std::vector<cabreader::Entry> entries;
    std::string why;
    if (!cabreader::list(QFile::encodeName(cab).toStdString(), &entries, &why))
        qWarning() << why.c_str();
    QStringList names;
    for (const auto& e : entries)
        names << QString::fromStdString(e.name);
    return names;
}

// Records the status bar's hide and show events.
class VisibilityLog : public QObject {
public:
    QStringList events;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Hide)
            events << "hide";
        if (e->type() == QEvent::Show)
            events << "show";
        return false;
    }
};

} // namespace

class TestBuilder : public QObject {
    Q_OBJECT

    QTemporaryDir* m_dir = nullptr;
    FakePrompter m_fake;
    TForm1* m_form = nullptr;

    QString file(const QString& relative, const QByteArray& data)
    {
        const QString p = m_dir->filePath(relative);
        QDir().mkpath(QFileInfo(p).path());
        test::writeFile(p, data);
        return p;
    }
    void name(const QString& cabinet, const QString& directory)
    {
        m_form->Edit1->setText(cabinet);
        m_form->Edit2->setText(directory);
    }
    void add(const QStringList& paths)
    {
        QCOMPARE(m_form->ListView1->addFiles(paths, m_form), int(paths.size()));
    }
    void compress() { m_form->CompressFilesClick(); }
    QString cabinet(const QString& name = "out") const { return m_dir->filePath("cabs/" + name + ".cab"); }

private slots:
    void init()
    {
        m_dir = new QTemporaryDir;
        QDir().mkpath(m_dir->filePath("cabs"));
        ui::setPrompter(&m_fake);
        m_fake.clear();
        m_form = new TForm1({"/noquery"});
        m_form->show();
        name("out", m_dir->filePath("cabs"));
    }
    void cleanup()
    {
        delete m_form;
        ui::setPrompter(nullptr);
        delete m_dir;
    }

    void sameCabinetAsTheCommandLine()
    {
        // The window and ravelin-cab n build through one writer: the same
        // files in the same order give the same bytes.
        add({file("src/b.bin", test::randomBytes(150000, 7)), file("src/c.txt", "ccc ccc"),
             file("src/a.txt", "a")});
        compress();
        QCOMPARE(m_fake.messageTexts(), QStringList());
        const auto n = test::run(QStringLiteral(RAVELIN_CAB),
                                 {"n", m_dir->filePath("n.cab"), m_dir->filePath("src/c.txt"),
                                  m_dir->filePath("src/b.bin"), m_dir->filePath("src/a.txt")});
        QVERIFY2(n.exitCode == 0, n.err.constData());
        QCOMPARE(test::readFile(m_dir->filePath("n.cab")), test::readFile(cabinet()));
    }

    void filesGoInFromTheLastRowToTheFirst()
    {
        add({file("src/b.txt", "bbb"), file("src/c.txt", "ccc ccc"), file("src/a.txt", "a")});
        QCOMPARE(m_form->ListView1->caption(0), QString("a.txt"));
        compress();
        QCOMPARE(m_fake.messageTexts(), QStringList());
        QCOMPARE(storedNames(cabinet()), (QStringList{"c.txt", "b.txt", "a.txt"}));
        std::string why;
        QVERIFY2(cabreader::test(QFile::encodeName(cabinet()).toStdString(), &why), why.c_str());
        QVERIFY(cabreader::extractFile(QFile::encodeName(cabinet()).toStdString(), "c.txt",
                                       QFile::encodeName(m_dir->filePath("c.out")).toStdString()));
        QCOMPARE(test::readFile(m_dir->filePath("c.out")), QByteArray("ccc ccc"));
        QCOMPARE(m_form->StatusBar1->panelText(0), QString(" Done"));
        QVERIFY(m_form->StatusBar1->isVisible());
        QCOMPARE(m_form->ProgressBar1->maximum(), 3);
        QCOMPARE(m_form->ProgressBar1->value(), 3);
        // The list and the settings stay for another build.
        QCOMPARE(m_form->ListView1->rowCount(), 3);
        QVERIFY(cabinet::builderFor(m_form)->currentCabinetPath().isEmpty());
    }

    void sameNameTwiceAndDoubledSeparator()
    {
        add({file("one/same.txt", "first"), file("two/same.txt", "second")});
        name("out", m_dir->filePath("cabs") + "/");
        compress();
        QCOMPARE(m_fake.messageTexts(), QStringList());
        QCOMPARE(storedNames(cabinet()), (QStringList{"same.txt", "same.txt"}));
    }

    void removedSourceIsNamedAndTheRestGoIn_data()
    {
        QTest::addColumn<bool>("pipe");
        QTest::newRow("removed") << false;
        // A pipe in its place must not block the build.
        QTest::newRow("replaced by a named pipe") << true;
    }

    void removedSourceIsNamedAndTheRestGoIn()
    {
        QFETCH(bool, pipe);
        const QString b = file("src/b.txt", "bbb");
        add({file("src/a.txt", "aaa"), b, file("src/c.txt", "ccc")});
        QVERIFY(QFile::remove(b));
        if (pipe)
            QCOMPARE(::mkfifo(QFile::encodeName(b).constData(), 0600), 0);
        compress();
        QCOMPARE(m_fake.messages.size(), 1);
        const ui::Message& m = m_fake.messages[0].message;
        QCOMPARE(m.icon, ui::Icon::Error);
        QVERIFY2(m.text.contains(b + ": Failure opening file to be stored in cabinet"), qPrintable(m.text));
        QVERIFY(!m.text.contains("a.txt") && !m.text.contains("c.txt"));
        QCOMPARE(storedNames(cabinet()), (QStringList{"c.txt", "a.txt"}));
    }

    void missingOutputDirectory()
    {
        add({file("src/a.txt", "a")});
        name("out", m_dir->filePath("no/such/dir"));
        compress();
        QCOMPARE(m_fake.messageTexts(), QStringList{"Could not create the file specified. Aborting..."});
        QCOMPARE(m_fake.messages[0].message.icon, ui::Icon::Error);
        QVERIFY(!QFileInfo::exists(m_dir->filePath("no")));
        QCOMPARE(m_form->StatusBar1->panelText(0), QString(" Done"));
        QVERIFY(cabinet::builderFor(m_form)->currentCabinetPath().isEmpty());
    }

    void overlongNameRefusedBeforeWriting()
    {
        add({file("src/a.txt", "a")});
        name(QString(260, 'n'), m_dir->filePath("cabs"));
        compress();
        QCOMPARE(m_fake.messages.size(), 1);
        QVERIFY(m_fake.messages[0].message.text.contains("at most 255 characters"));
        QCOMPARE(QDir(m_dir->filePath("cabs")).entryList(QDir::Files), QStringList());
    }

    void secondBuildStartsProgressAtZero()
    {
        add({file("src/a", "1"), file("src/b", "2"), file("src/c", "3")});
        compress();
        QList<int> values;
        connect(m_form->ProgressBar1, &QProgressBar::valueChanged, this, [&values](int v) { values << v; });
        VisibilityLog log;
        m_form->StatusBar1->installEventFilter(&log);
        compress();
        QCOMPARE(values, (QList<int>{0, 1, 2, 3}));
        QCOMPARE(log.events, (QStringList{"hide", "show"}));
        QCOMPARE(storedNames(cabinet()).size(), 3);
    }

    void emptyListStillBuilds()
    {
        compress();
        QCOMPARE(m_fake.messageTexts(), QStringList());
        QCOMPARE(m_form->ProgressBar1->maximum(), 0);
        QCOMPARE(QFileInfo(cabinet()).size(), 36);
        QCOMPARE(storedNames(cabinet()), QStringList());
    }

    void cabinetNameEndingInCab()
    {
        add({file("src/a", "1")});
        name("twice.cab", m_dir->filePath("cabs"));
        compress();
        QVERIFY(QFileInfo::exists(m_dir->filePath("cabs/twice.cab.cab")));
    }

    void flushFailureShowsCodeAndText()
    {
        // A file-size limit that root cannot pass makes the library's writes
        // fail part-way: the flush reports the code and its text.
        add({file("src/big.bin", test::randomBytes(400000, 3))});
        // An earlier cabinet of the name must come through the failure whole.
        const QByteArray earlier("an earlier cabinet");
        QVERIFY(test::writeFile(cabinet(), earlier));
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 100000;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        compress();
        setrlimit(RLIMIT_FSIZE, &old);
        const QStringList texts = m_fake.messageTexts();
        QVERIFY2(
            texts.contains("The flush of the cabinet failed. Code:4 Desc:Could not create a temporary file"),
            qPrintable(texts.join(" | ")));
        QVERIFY(cabinet::builderFor(m_form)->currentCabinetPath().isEmpty());
        QCOMPARE(test::readFile(cabinet()), earlier);
        // The temporary files were deleted all the same.
        QCOMPARE(QDir(QDir::tempPath()).entryList({"tp*"}, QDir::Files), QStringList());
        QCOMPARE(QDir(m_dir->filePath("cabs")).entryList(QDir::Files | QDir::Hidden), QStringList{"out.cab"});
        // The next build works again.
        m_fake.clear();
        compress();
        QCOMPARE(m_fake.messageTexts(), QStringList());
        QCOMPARE(storedNames(cabinet()), QStringList{"big.bin"});
    }

    void outputInItsOwnListIsRefused_data()
    {
        QTest::addColumn<QString>("listed");
        QTest::addColumn<bool>("selfExtracting");
        QTest::newRow("the cabinet") << "cabs/out.cab" << false;
        QTest::newRow("the cabinet through a link") << "src/link.cab" << false;
        QTest::newRow("the self-extracting file") << "cabs/out.exe" << true;
    }

    void outputInItsOwnListIsRefused()
    {
        QFETCH(QString, listed);
        QFETCH(bool, selfExtracting);
        // A cabinet compressed into itself would be emptied before it is read.
        const QByteArray earlier = test::randomBytes(20000, 5);
        QVERIFY(test::writeFile(cabinet(), earlier));
        QVERIFY(test::writeFile(m_dir->filePath("cabs/out.exe"), earlier));
        QDir().mkpath(m_dir->filePath("src"));
        QVERIFY(QFile::link(cabinet(), m_dir->filePath("src/link.cab")));
        m_form->CheckBox1->setChecked(selfExtracting);
        add({file("src/a.txt", "a"), m_dir->filePath(listed)});
        compress();
        QCOMPARE(m_fake.messages.size(), 1);
        QVERIFY2(m_fake.messages[0].message.text.contains(m_dir->filePath(listed)),
                 qPrintable(m_fake.messages[0].message.text));
        QCOMPARE(m_fake.messages[0].message.icon, ui::Icon::Error);
        QCOMPARE(test::readFile(cabinet()), earlier);
        QCOMPARE(test::readFile(m_dir->filePath("cabs/out.exe")), earlier);
        QVERIFY(cabinet::builderFor(m_form)->currentCabinetPath().isEmpty());
    }
};

QTEST_MAIN(TestBuilder)
#include "tst_builder.moc"
