// Proves the INF installer: files arrive byte-identical under DESTDIR + DIRID 30 (the root for root, the
// home folder for others) or in the folder the user chose, every failure is reported by step, hostile
// names, planted links, a destination that is the cabinet or a failed check write nothing at all, and a
// cabinet is read once for all of its files.
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "setup/installer/installer.h"
#include "support/testutil.h"

using namespace ravelin::installer;
using ravelin::test::readFile;
using ravelin::test::writeFile;

namespace {

// The INF layout the distribution writer produces, for hand-made variants.
QByteArray infText(const QString& cab, const QString& installDir, const QStringList& files,
                   const QString& extraDisksFiles = QString())
{
    QString t = "; Created with Korvane Ravelin v6.0\r\n \r\n[version]\r\nsignature=\"$CHICAGO$\"\r\n \r\n"
                "[DefaultInstall]\r\nCopyFiles = copy.files\r\n \r\n[SourceDisksNames]\r\n"
                "1=\"Run this from a short file name dir\"," +
                cab +
                ",0\r\n \r\n[DestinationDirs]\r\n"
                "copy.files = 30," +
                installDir + "\r\n \r\n[SourceDisksFiles]\r\n";
    for (const QString& f : files)
        t += f + "=1\r\n";
    t += extraDisksFiles;
    t += " \r\n[copy.files]\r\n";
    for (const QString& f : files)
        t += f + "\r\n";
    return t.toUtf8() + QByteArray(5, '\0');
}

// A path as the bytes the installer takes.
std::string b(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

InstallOptions options(const QString& source, const QString& dest)
{
    InstallOptions o;
    o.sourceDirectory = b(source);
    o.destDir = b(dest);
    return o;
}

} // namespace

class TestInstaller : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void installsFilesByteIdentical();
    void installsRenamedSingleAndDefaultDir();
    void emptyListCreatesDirectory();
    void failuresWriteNothing_data();
    void failuresWriteNothing();
    void unwritableDestinationIsReported();
    void destinationMapping_data();
    void destinationMapping();
    void plantedFolderLinkRefused_data();
    void plantedFolderLinkRefused();
    void destinationThatIsTheCabinetRefused();
    void hostileCabinetInOnePass();
    void dirId30IsRootOrHome_data();
    void dirId30IsRootOrHome();
    void installsBelowDirId30AndDestDir_data();
    void installsBelowDirId30AndDestDir();
    void chosenFolderTakesTheFirstListsPlace();

private:
    // Builds `cab` in the source folder from the given files with gcab (MSZIP).
    void makeCabinet(const QString& cab, const QMap<QString, QByteArray>& files);

    std::unique_ptr<QTemporaryDir> m_root;
    QString m_source;
    QString m_dest;
    QMap<QString, QByteArray> m_files;
};

void TestInstaller::initTestCase()
{
    if (!ravelin::test::haveProgram("gcab"))
        QSKIP("gcab is needed to build the test cabinets");
    m_files = {{"readme.txt", "Read me first.\r\n"},
               {"tool binary.exe", ravelin::test::randomBytes(150000, 7)},
               {"empty.dat", QByteArray("")}};
}

void TestInstaller::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    m_source = m_root->filePath("package");
    m_dest = m_root->filePath("dest");
    QVERIFY(QDir().mkpath(m_source) && QDir().mkpath(m_dest));
}

void TestInstaller::makeCabinet(const QString& cab, const QMap<QString, QByteArray>& files)
{
    QTemporaryDir work;
    QStringList args{"-c", "-z", QDir(m_source).filePath(cab)};
    for (auto it = files.begin(); it != files.end(); ++it) {
        QVERIFY(writeFile(work.filePath(it.key()), it.value()));
        args << it.key();
    }
    const auto r = ravelin::test::run("gcab", args, work.path());
    QVERIFY2(r.exitCode == 0, r.err.constData());
}

void TestInstaller::installsFilesByteIdentical()
{
    makeCabinet("tools.cab", m_files);
    QVERIFY(writeFile(m_source + "/tools.inf", infText("tools.cab", "myinstall\\directory", m_files.keys())));
    // An existing file of the same name is replaced.
    QVERIFY(QDir().mkpath(m_dest + "/myinstall/directory"));
    QVERIFY(writeFile(m_dest + "/myinstall/directory/readme.txt", QByteArray(9000, 'o')));

    const InstallResult result = installInf(b(m_source + "/tools.inf"), options(m_source, m_dest + "/"));
    QVERIFY2(result.ok(), qPrintable(result.reason));
    QCOMPARE(result.installDirectory, m_dest + "/myinstall/directory");
    QCOMPARE(result.written.size(), std::size_t(3));
    for (auto it = m_files.begin(); it != m_files.end(); ++it)
        QCOMPARE(readFile(result.installDirectory + "/" + it.key()), it.value());
    QCOMPARE(ravelin::test::fileTree(m_dest),
             (QStringList{"myinstall", "myinstall/directory", "myinstall/directory/empty.dat",
                          "myinstall/directory/readme.txt", "myinstall/directory/tool binary.exe"}));
}

void TestInstaller::installsRenamedSingleAndDefaultDir()
{
    makeCabinet("c.cab", m_files);
    const QByteArray inf = "[DefaultInstall]\nCopyFiles=files,@readme.txt\n"
                           "[DestinationDirs]\nDefaultDestDir=30,top\nfiles=30,/a\\\\b/./c\\\n"
                           "[SourceDisksNames]\n7=disk,\"c.cab\"\n"
                           "[SourceDisksFiles]\nreadme.txt=7\nempty.dat=7\n"
                           "[files]\ncopy.txt,readme.txt\nEMPTY.DAT,empty.dat,,0\n";
    const InstallResult result = installInfText(inf, options(m_source, m_dest));
    QVERIFY2(result.ok(), qPrintable(result.reason));
    QCOMPARE(result.installDirectory, m_dest + "/a/b/c");
    QCOMPARE(readFile(m_dest + "/a/b/c/copy.txt"), m_files["readme.txt"]);
    QCOMPARE(readFile(m_dest + "/a/b/c/EMPTY.DAT"), QByteArray(""));
    QCOMPARE(readFile(m_dest + "/top/readme.txt"), m_files["readme.txt"]);
}

void TestInstaller::emptyListCreatesDirectory()
{
    const InstallResult result = installInfText(infText("none.cab", "x\\y", {}), options(m_source, m_dest));
    QVERIFY2(result.ok(), qPrintable(result.reason));
    QVERIFY(QFileInfo(m_dest + "/x/y").isDir());
    QVERIFY(result.written.empty());
}

void TestInstaller::failuresWriteNothing_data()
{
    QTest::addColumn<QByteArray>("inf");
    QTest::addColumn<int>("step");
    const QStringList three{"readme.txt", "tool binary.exe", "empty.dat"};
    QTest::newRow("file missing from cabinet")
        << infText("tools.cab", "d", three + QStringList{"absent.txt"}) << int(InstallStep::MissingFile);
    QTest::newRow("../escape") << infText("tools.cab", "d", {"readme.txt", "../escape"})
                               << int(InstallStep::RefusedName);
    QTest::newRow("..\\escape") << infText("tools.cab", "d", {"readme.txt", "..\\escape"})
                                << int(InstallStep::RefusedName);
    QTest::newRow("dot dot") << infText("tools.cab", "d", {".."}) << int(InstallStep::RefusedName);
    QTest::newRow("slash in name") << infText("tools.cab", "d", {"sub/readme.txt"})
                                   << int(InstallStep::RefusedName);
    QTest::newRow("absolute name") << infText("tools.cab", "d", {"/etc/escape"})
                                   << int(InstallStep::RefusedName);
    QTest::newRow("backslash absolute")
        << infText("tools.cab", "d", {"\\escape"}) << int(InstallStep::RefusedName);
    QTest::newRow("install dir climbs")
        << infText("tools.cab", "a\\..\\..\\out", three) << int(InstallStep::RefusedName);
    QTest::newRow("cabinet outside") << infText("../tools.cab", "d", three) << int(InstallStep::RefusedName);
    QTest::newRow("renamed to escape")
        << QByteArray(
               "[DefaultInstall]\nCopyFiles=f\n[DestinationDirs]\nf=30,d\n[SourceDisksNames]\n1=x,tools.cab\n"
               "[SourceDisksFiles]\nreadme.txt=1\n[f]\nreadme.txt\n..\\..\\x,readme.txt\n")
        << int(InstallStep::RefusedName);
    QTest::newRow("other directory id")
        << QByteArray("[DefaultInstall]\nCopyFiles=f\n[DestinationDirs]\nf=11,d\n[f]\nreadme.txt\n")
        << int(InstallStep::Destination);
    QTest::newRow("no destination") << QByteArray("[DefaultInstall]\nCopyFiles=f\n[f]\nreadme.txt\n")
                                    << int(InstallStep::Destination);
    QTest::newRow("no DefaultInstall")
        << QByteArray("[version]\nsignature=x\n") << int(InstallStep::NoDefaultInstall);
    QTest::newRow("list section missing")
        << QByteArray("[DefaultInstall]\nCopyFiles=f\n[DestinationDirs]\nf=30,d\n")
        << int(InstallStep::ParseInf);
    QTest::newRow("no disk for file")
        << infText("tools.cab", "d", three).replace("empty.dat=1\r\n", "") << int(InstallStep::SourceDisk);
    QTest::newRow("cabinet missing") << infText("other.cab", "d", three) << int(InstallStep::OpenCabinet);
    QTest::newRow("not a cabinet") << infText("garbage.cab", "d", three) << int(InstallStep::OpenCabinet);
    QTest::newRow("unparsable") << QByteArray("[DefaultInstall]\nCopyFiles=\"f\n")
                                << int(InstallStep::ParseInf);
}

void TestInstaller::failuresWriteNothing()
{
    QFETCH(QByteArray, inf);
    QFETCH(int, step);
    makeCabinet("tools.cab", m_files);
    QVERIFY(writeFile(m_source + "/garbage.cab", ravelin::test::randomBytes(3000, 3)));
    const QStringList before = ravelin::test::fileTree(m_root->path());

    const InstallResult result = installInfText(inf, options(m_source, m_dest));
    QVERIFY(!result.ok());
    QCOMPARE(int(result.failed), step);
    QVERIFY(!result.reason.isEmpty());
    QVERIFY(result.written.empty());
    QCOMPARE(ravelin::test::fileTree(m_root->path()), before);
    QVERIFY(!QFileInfo::exists(m_root->filePath("escape")) && !QFileInfo::exists(m_root->filePath("out")));
}

void TestInstaller::unwritableDestinationIsReported()
{
    makeCabinet("tools.cab", m_files);
    // A file where the install directory should be.
    QVERIFY(writeFile(m_dest + "/blocked", "x"));
    InstallResult result =
        installInfText(infText("tools.cab", "blocked\\dir", {"readme.txt"}), options(m_source, m_dest));
    QCOMPARE(result.failed, InstallStep::CreateDirectory);
    QCOMPARE(result.installDirectory, m_dest + "/blocked/dir");
    QVERIFY2(result.reason.contains(m_dest + "/blocked") && result.reason.endsWith("Not a directory"),
             qPrintable(result.reason));
    QCOMPARE(result.error, ENOTDIR);
    QVERIFY2(QString::fromStdString(result.path).endsWith("/blocked"), result.path.c_str());

    // A directory where a file should go: found before anything is written.
    QVERIFY(QDir().mkpath(m_dest + "/d/readme.txt/inner"));
    result =
        installInfText(infText("tools.cab", "d", {"empty.dat", "readme.txt"}), options(m_source, m_dest));
    QCOMPARE(result.failed, InstallStep::Extract);
    QVERIFY2(result.reason.contains(m_dest + "/d/readme.txt"), qPrintable(result.reason));
    QVERIFY(result.written.empty());
    QVERIFY(!QFileInfo::exists(m_dest + "/d/empty.dat"));
}

void TestInstaller::destinationMapping_data()
{
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("subdir");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected"); // empty: refused
    QTest::newRow("plain") << "/d"
                           << "myinstall\\directory"
                           << "a.txt"
                           << "/d/myinstall/directory/a.txt";
    QTest::newRow("no DESTDIR") << ""
                                << "myinstall\\directory"
                                << "a.txt"
                                << "/myinstall/directory/a.txt";
    QTest::newRow("trailing slashes") << "/d//"
                                      << "x\\"
                                      << "a"
                                      << "/d/x/a";
    QTest::newRow("empty subdir") << "/d"
                                  << ""
                                  << "a"
                                  << "/d/a";
    QTest::newRow("leading backslash") << "/d"
                                       << "\\x"
                                       << "a"
                                       << "/d/x/a";
    QTest::newRow("dot parts") << "/d"
                               << ".\\x\\."
                               << "a"
                               << "/d/x/a";
    QTest::newRow("spaces kept") << "/d"
                                 << "my dir"
                                 << "a b"
                                 << "/d/my dir/a b";
    QTest::newRow("dots in name") << "/d"
                                  << "x"
                                  << "...a"
                                  << "/d/x/...a";
    QTest::newRow("climbing dir") << "/d"
                                  << "x\\..\\.."
                                  << "a"
                                  << "";
    QTest::newRow("climbing slash dir") << "/d"
                                        << "x/../y"
                                        << "a"
                                        << "";
    QTest::newRow("name with slash") << "/d"
                                     << "x"
                                     << "b/a"
                                     << "";
    QTest::newRow("name with backslash") << "/d"
                                         << "x"
                                         << "b\\a"
                                         << "";
    QTest::newRow("name dot dot") << "/d"
                                  << "x"
                                  << ".."
                                  << "";
    QTest::newRow("name dot") << "/d"
                              << "x"
                              << "."
                              << "";
    QTest::newRow("empty name") << "/d"
                                << "x"
                                << ""
                                << "";
}

void TestInstaller::destinationMapping()
{
    QFETCH(QString, root);
    QFETCH(QString, subdir);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    const std::optional<QString> path = destinationFile(root, subdir, name);
    QCOMPARE(path.value_or(QString()), expected);
}

void TestInstaller::plantedFolderLinkRefused_data()
{
    QTest::addColumn<QString>("link"); // below DESTDIR, pointing at "elsewhere"
    QTest::newRow("first folder") << "myinstall";
    QTest::newRow("last folder") << "myinstall/directory";
}

void TestInstaller::plantedFolderLinkRefused()
{
    QFETCH(QString, link);
    makeCabinet("tools.cab", m_files);
    const QString elsewhere = m_root->filePath("elsewhere");
    QVERIFY(QDir().mkpath(elsewhere));
    QVERIFY(QDir().mkpath(QFileInfo(m_dest + "/" + link).path()));
    QVERIFY(QFile::link(elsewhere, m_dest + "/" + link));
    const QStringList before = ravelin::test::fileTree(m_root->path());

    const InstallResult result = installInfText(infText("tools.cab", "myinstall\\directory", m_files.keys()),
                                                options(m_source, m_dest));
    QCOMPARE(result.failed, InstallStep::CreateDirectory);
    QVERIFY2(result.reason.endsWith(m_dest + "/" + link + " is a symbolic link"), qPrintable(result.reason));
    QVERIFY(result.written.empty());
    QCOMPARE(ravelin::test::fileTree(m_root->path()), before);
    QVERIFY(QDir(elsewhere).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

void TestInstaller::destinationThatIsTheCabinetRefused()
{
    // The install directory is the package folder, and the cabinet holds a
    // file under the cabinet's own name.
    makeCabinet("tools.cab", {{"tools.cab", "not the cabinet\n"}, {"readme.txt", "r\n"}});
    const QByteArray cabinet = readFile(m_source + "/tools.cab");
    const QStringList before = ravelin::test::fileTree(m_root->path());
    const InstallResult result = installInfText(infText("tools.cab", "package", {"readme.txt", "tools.cab"}),
                                                options(m_source, m_root->path()));
    QCOMPARE(result.failed, InstallStep::SameFile);
    QVERIFY2(result.reason.contains(m_source + "/tools.cab"), qPrintable(result.reason));
    QVERIFY(result.written.empty());
    QCOMPARE(readFile(m_source + "/tools.cab"), cabinet);
    QCOMPARE(ravelin::test::fileTree(m_root->path()), before);
}

void TestInstaller::hostileCabinetInOnePass()
{
    // 2,000 files at descending offsets at the end of a 256 MiB folder, with
    // overlapping ranges: an installer that reopens the cabinet per file, or
    // restarts the folder per file, takes half an hour.
    QVERIFY(QFile::copy(RAVELIN_HOSTILE_DIR "/onepass.cab", m_source + "/onepass.cab"));
    QStringList names;
    for (const QString& line :
         QString::fromLatin1(readFile(RAVELIN_HOSTILE_DIR "/onepass.sha256")).split('\n'))
        if (!line.isEmpty())
            names << line.mid(66);
    QCOMPARE(names.size(), 2010);
    QElapsedTimer timer;
    timer.start();
    const InstallResult result =
        installInfText(infText("onepass.cab", "hostile", names), options(m_source, m_dest));
    QVERIFY2(result.ok(), qPrintable(result.reason));
    QVERIFY(timer.elapsed() < 60000);
    QCOMPARE(result.written.size(), std::size_t(2010));
    const auto check = ravelin::test::run(
        "sha256sum", {"-c", "--quiet", RAVELIN_HOSTILE_DIR "/onepass.sha256"}, m_dest + "/hostile");
    QVERIFY2(check.exitCode == 0, check.out + check.err);
}

void TestInstaller::dirId30IsRootOrHome_data()
{
    QTest::addColumn<uint>("euid");
    QTest::addColumn<QByteArray>("home");       // "-" for unset
    QTest::addColumn<QByteArray>("passwdHome"); // "-" for none
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("root") << 0u << QByteArray("/root") << QByteArray("/root") << QByteArray("/");
    QTest::newRow("root without HOME") << 0u << QByteArray("-") << QByteArray("-") << QByteArray("/");
    QTest::newRow("user") << 1000u << QByteArray("/home/ann") << QByteArray("/home/x")
                          << QByteArray("/home/ann");
    QTest::newRow("HOME not absolute")
        << 1000u << QByteArray("ann") << QByteArray("/home/ann") << QByteArray("/home/ann");
    QTest::newRow("HOME empty") << 1000u << QByteArray("") << QByteArray("/home/ann")
                                << QByteArray("/home/ann");
    QTest::newRow("no HOME") << 65534u << QByteArray("-") << QByteArray("/nonexistent")
                             << QByteArray("/nonexistent");
    QTest::newRow("nothing known") << 65534u << QByteArray("-") << QByteArray("-") << QByteArray("/");
    QTest::newRow("home bytes kept") << 1000u << QByteArray("/home/\xe9t\xe9") << QByteArray("-")
                                     << QByteArray("/home/\xe9t\xe9");
}

void TestInstaller::dirId30IsRootOrHome()
{
    QFETCH(uint, euid);
    QFETCH(QByteArray, home);
    QFETCH(QByteArray, passwdHome);
    QFETCH(QByteArray, expected);
    const std::string got = dirId30FolderFor(uid_t(euid), home == "-" ? nullptr : home.constData(),
                                             passwdHome == "-" ? nullptr : passwdHome.constData());
    QCOMPARE(QByteArray::fromStdString(got), expected);
}

// DESTDIR + DIRID 30 + the INF's directory, and the planned folder the
// setup program shows beforehand is where the files arrive.
void TestInstaller::installsBelowDirId30AndDestDir_data()
{
    QTest::addColumn<QString>("destDir"); // below the test folder; empty for none
    QTest::addColumn<QString>("dirId30"); // below the test folder
    QTest::addColumn<QString>("expected");
    QTest::newRow("home") << ""
                          << "home/ann"
                          << "home/ann/myinstall/directory";
    QTest::newRow("home with trailing slash") << ""
                                              << "home/ann/"
                                              << "home/ann/myinstall/directory";
    QTest::newRow("DESTDIR and home") << "stage"
                                      << "home/ann"
                                      << "stage/home/ann/myinstall/directory";
    QTest::newRow("DESTDIR and root") << "stage/"
                                      << ""
                                      << "stage/myinstall/directory";
}

void TestInstaller::installsBelowDirId30AndDestDir()
{
    QFETCH(QString, destDir);
    QFETCH(QString, dirId30);
    QFETCH(QString, expected);
    makeCabinet("tools.cab", m_files);
    const QString top = m_root->path();
    InstallOptions o;
    o.sourceDirectory = b(m_source);
    // Without DESTDIR the DIRID 30 folder is absolute by itself.
    o.destDir = destDir.isEmpty() ? std::string() : b(top + "/" + destDir);
    o.dirId30 = destDir.isEmpty() ? b(top + "/" + dirId30) : b("/" + dirId30);
    const QByteArray inf = infText("tools.cab", "myinstall\\directory", m_files.keys());
    const QString folder = top + "/" + expected;

    QCOMPARE(QFile::decodeName(QByteArray::fromStdString(plannedInstallDirectory(inf, o).value_or("?"))),
             folder);
    const InstallResult result = installInfText(inf, o);
    QVERIFY2(result.ok(), qPrintable(result.reason));
    QCOMPARE(result.installDirectory, folder);
    for (auto it = m_files.begin(); it != m_files.end(); ++it)
        QCOMPARE(readFile(folder + "/" + it.key()), it.value());
}

// The chosen folder takes the first list's directory; a list below that
// directory moves with it, another stays where the INF puts it.
void TestInstaller::chosenFolderTakesTheFirstListsPlace()
{
    makeCabinet("c.cab", m_files);
    const QByteArray inf =
        "[DefaultInstall]\nCopyFiles=main,docs,other\n"
        "[DestinationDirs]\nmain=30,app\\tools\ndocs=30,app\\tools\\docs\nother=30,shared\n"
        "[SourceDisksNames]\n1=disk,c.cab\n"
        "[SourceDisksFiles]\nreadme.txt=1\nempty.dat=1\n"
        "[main]\nreadme.txt\n[docs]\nempty.dat\n[other]\nREADME,readme.txt\n";
    InstallOptions o = options(m_source, m_dest);
    o.installDirectory = b(m_root->filePath("chosen/place"));
    QCOMPARE(QByteArray::fromStdString(plannedInstallDirectory(inf, o).value_or("?")),
             QFile::encodeName(m_root->filePath("chosen/place")));
    const InstallResult result = installInfText(inf, o);
    QVERIFY2(result.ok(), qPrintable(result.reason));
    QCOMPARE(result.installDirectory, m_root->filePath("chosen/place"));
    QCOMPARE(readFile(m_root->filePath("chosen/place/readme.txt")), m_files["readme.txt"]);
    QCOMPARE(readFile(m_root->filePath("chosen/place/docs/empty.dat")), QByteArray(""));
    QCOMPARE(readFile(m_dest + "/shared/README"), m_files["readme.txt"]);
    QCOMPARE(ravelin::test::fileTree(m_dest), (QStringList{"shared", "shared/README"}));

    // An INF without a file list has no folder to show.
    QString why;
    QVERIFY(!plannedInstallDirectory("[DefaultInstall]\n", o, &why));
    QVERIFY(!why.isEmpty());
}

QTEST_GUILESS_MAIN(TestInstaller)
#include "tst_installer.moc"
