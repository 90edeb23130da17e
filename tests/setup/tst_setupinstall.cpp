// Proves the written SETUP.EXE as an end user meets it: a package made with ravelin-cab, on a read-only
// folder, run by a user who is not root from another working folder, installs below that user's home (or
// the folder chosen), reports failures with their reason, and leaves nothing beside the package or in TMPDIR.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include "support/testutil.h"

using ravelin::test::readFile;
using ravelin::test::writeFile;

namespace {

const QString kCab = QStringLiteral(RAVELIN_CAB);
const QString kPassPhrase = QStringLiteral("sixteen chars ok");
// The unprivileged user the program runs as when the tests run as root.
constexpr uid_t kUser = 65534;

const QByteArray kWrong = "Sorry, you entered an inccorect pass phrase.";
const QByteArray kInstallFailed = "An error occured while trying to Install the tools.\n\n";
const QByteArray kCompleted = "Setup has completed successfully\n\nFiles installed to: ";

// Every file below `root` with its bytes.
QMap<QString, QByteArray> contents(const QString& root)
{
    QMap<QString, QByteArray> files;
    for (const QString& name : ravelin::test::fileTree(root))
        files.insert(name, QFileInfo(root + "/" + name).isDir() ? QByteArray("<dir>")
                                                                : readFile(root + "/" + name));
    return files;
}

bool setMode(const QString& path, mode_t mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

} // namespace

class TestSetupInstall : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void runsAsUserFromItsOwnFolder_data();
    void runsAsUserFromItsOwnFolder();

private:
    // Runs `program args` as the unprivileged user (as ourselves when we are
    // not root) in the working folder `cwd` with a clean environment.
    ravelin::test::ProcessResult runAsUser(const QString& program, const QStringList& args,
                                           const QString& cwd);
    bool giveToUser(const QString& path);

    QTemporaryDir m_build; // where the package is made
    QMap<QString, QByteArray> m_files;
    std::unique_ptr<QTemporaryDir> m_root;
    QString m_package, m_home, m_tmp, m_runtime, m_elsewhere;
};

void TestSetupInstall::initTestCase()
{
    if (::geteuid() == 0 && !ravelin::test::haveProgram("setpriv"))
        QSKIP("setpriv is needed to run the setup program as a user who is not root");
    m_files = {{"readme.txt", "The tool's own notes.\r\n"},
               {"tool binary.exe", ravelin::test::randomBytes(120000, 11)},
               {"data.bin", ravelin::test::randomBytes(4099, 5)}};
    const QString src = m_build.filePath("src"), work = m_build.filePath("work");
    QVERIFY(QDir().mkpath(src) && QDir().mkpath(work));
    QStringList names;
    for (auto it = m_files.begin(); it != m_files.end(); ++it) {
        QVERIFY(writeFile(src + "/" + it.key(), it.value()));
        names << it.key();
    }
    QVERIFY(writeFile(m_build.filePath("pass"), (kPassPhrase + "\n").toUtf8()));
    const QString pass = m_build.filePath("pass");
    const QList<QStringList> steps{
        QStringList{"n", work + "/tools.cab"} + names,
        {"encrypt", "--pass-file", pass, work + "/tools.cab"},
        QStringList{"inf", "--cab", "tools", "--dir", work} + names,
        {"package", "--cab", "tools", "--dir", work, "--title", "Tools Setup", "--description", "the tools",
         "--readme", "readme.txt", "--pass-file", pass},
    };
    for (const QStringList& step : steps) {
        const auto r = ravelin::test::run(kCab, step, src);
        QVERIFY2(r.exitCode == 0, r.err.constData());
    }
    QVERIFY(writeFile(work + "/readme.txt", "Please read me.\n"));
}

bool TestSetupInstall::giveToUser(const QString& path)
{
    return ::geteuid() != 0 || ::chown(QFile::encodeName(path).constData(), kUser, kUser) == 0;
}

void TestSetupInstall::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(setMode(m_root->path(), 0755)); // the user must reach what is inside
    m_package = m_root->filePath("package");
    m_home = m_root->filePath("home");
    m_tmp = m_root->filePath("tmp");
    m_runtime = m_root->filePath("runtime");
    m_elsewhere = m_root->filePath("elsewhere");
    for (const QString& dir : {m_package, m_home, m_tmp, m_runtime, m_elsewhere})
        QVERIFY(QDir().mkpath(dir));
    for (const QString& dir : {m_home, m_tmp, m_runtime})
        QVERIFY(giveToUser(dir));
    QVERIFY(setMode(m_runtime, 0700));
    // The five files the user ships, on a read-only folder.
    for (const char* name : {"tools.in_", "tools.ecf", "SETUP.EXE", "setup.ini", "readme.txt"}) {
        const QString to = m_package + "/" + QLatin1String(name);
        QVERIFY(QFile::copy(m_build.filePath("work/") + QLatin1String(name), to));
        QVERIFY(setMode(to, QByteArray(name) == "SETUP.EXE" ? 0555 : 0444));
    }
    QVERIFY(setMode(m_package, 0555));
    QVERIFY(setMode(m_elsewhere, 0555));
}

void TestSetupInstall::cleanup()
{
    setMode(m_package, 0755);
    setMode(m_elsewhere, 0755);
    m_root.reset();
}

ravelin::test::ProcessResult TestSetupInstall::runAsUser(const QString& program, const QStringList& args,
                                                         const QString& cwd)
{
    QProcess process;
    QProcessEnvironment env;
    env.insert("PATH", "/usr/bin:/bin");
    env.insert("HOME", m_home);
    env.insert("TMPDIR", m_tmp);
    env.insert("XDG_RUNTIME_DIR", m_runtime);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("LC_ALL", "C.UTF-8");
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(cwd);
    if (::geteuid() != 0)
        return ravelin::test::run(process, program, args);
    return ravelin::test::run(process, "setpriv",
                              QStringList{"--reuid=" + QString::number(kUser),
                                          "--regid=" + QString::number(kUser), "--clear-groups", program} +
                                  args);
}

void TestSetupInstall::runsAsUserFromItsOwnFolder_data()
{
    QTest::addColumn<QByteArray>("answers"); // HOME and ROOT stand for the folders
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("installedTo"); // empty: nothing installed
    QTest::addColumn<QByteArray>("lastMessage");
    const QByteArray pass = "pass-phrase=" + kPassPhrase.toUtf8() + "\n";
    QTest::newRow("below the home folder")
        << pass << 0 << "HOME/myinstall/directory" << kCompleted + "HOME/myinstall/directory";
    QTest::newRow("in the folder chosen") << pass + "destination=HOME/apps/my tools\n"
                                          << 0 << "HOME/apps/my tools" << kCompleted + "HOME/apps/my tools";
    QTest::newRow("wrong pass phrase")
        << QByteArray("pass-phrase=not the right phrase\n") << 1 << "" << kWrong;
    QTest::newRow("Cancel in the ready dialog") << pass + "ready=cancel\n"
                                                << 1 << ""
                                                << QByteArray("Your Pass Phrase has matched.  Setup will now "
                                                              "continue.");
    QTest::newRow("folder the user may not write")
        << pass + "destination=ROOT/elsewhere/tools\n"
        << 1 << "" << kInstallFailed + "cannot create the directory ROOT/elsewhere/tools: Permission denied";
}

void TestSetupInstall::runsAsUserFromItsOwnFolder()
{
    QFETCH(QByteArray, answers);
    QFETCH(int, exitCode);
    QFETCH(QString, installedTo);
    QFETCH(QByteArray, lastMessage);
    const auto fill = [&](QByteArray text) {
        return text.replace("HOME", QFile::encodeName(m_home))
            .replace("ROOT", QFile::encodeName(m_root->path()));
    };
    installedTo = QFile::decodeName(fill(QFile::encodeName(installedTo)));
    lastMessage = fill(lastMessage);
    QVERIFY(writeFile(m_root->filePath("answers"), fill(answers)));
    QVERIFY(setMode(m_root->filePath("answers"), 0644));

    // The user can write neither beside the package nor in the working folder.
    const auto probe = runAsUser("/bin/sh", {"-c", "echo x > \"$0/probe\"", m_package}, m_home);
    QVERIFY(probe.exitCode != 0);
    QVERIFY(!QFileInfo::exists(m_package + "/probe"));
    const QMap<QString, QByteArray> package = contents(m_package);

    const auto r =
        runAsUser(m_package + "/SETUP.EXE", {"--answers", m_root->filePath("answers")}, m_elsewhere);
    QVERIFY2(r.exitCode == exitCode, r.err.constData());
    QVERIFY2(r.err.trimmed().endsWith(lastMessage), r.err.constData());

    if (!installedTo.isEmpty()) {
        for (auto it = m_files.begin(); it != m_files.end(); ++it)
            QCOMPARE(readFile(installedTo + "/" + it.key()), it.value());
        QCOMPARE(ravelin::test::fileTree(installedTo), QStringList(m_files.keys()));
        if (::geteuid() == 0)
            QCOMPARE(QFileInfo(installedTo + "/readme.txt").ownerId(), kUser);
    }
    if (installedTo != m_home + "/myinstall/directory")
        QVERIFY(!QFileInfo::exists(m_home + "/myinstall"));
    // Nothing beside the package, nothing in the working folder, nothing
    // left in TMPDIR.
    QCOMPARE(contents(m_package), package);
    QCOMPARE(ravelin::test::fileTree(m_elsewhere), QStringList());
    QCOMPARE(ravelin::test::fileTree(m_tmp), QStringList());
}

QTEST_GUILESS_MAIN(TestSetupInstall)
#include "tst_setupinstall.moc"
