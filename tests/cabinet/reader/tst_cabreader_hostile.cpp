// Proves the cabinet reader on hostile cabinets: overlapping ranges served in one pass, stored names kept as
// bytes, links and the cabinet itself refused before anything is written, no partial file after a failure,
// non-regular files refused without blocking, and errors that name the file and the reason.
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cabinet/reader/cabreader.h"
#include "platform/io.h"
#include "support/testutil.h"

using namespace ravelin;

namespace {

std::string b(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

std::string fixture(const char* name)
{
    return std::string(RAVELIN_HOSTILE_DIR) + "/" + name;
}

// The whole file at a byte path, or "<missing>".
std::string slurp(const std::string& path)
{
    std::string data;
    int error = 0;
    struct stat st {};
    return io::statRegular(path, &st, &error) &&
                   io::readSmallFile(path, &data, std::size_t(st.st_size), &error)
               ? data
               : std::string("<missing>");
}

// Writes a file at a byte path.
bool put(const std::string& path, const std::string& data)
{
    io::OutputFile out;
    return out.create(path) && out.write(data) && out.commit();
}

// Every entry below `root` by its bytes, links not followed, "/" after folders.
void walk(const std::string& root, const std::string& prefix, std::vector<std::string>* out)
{
    DIR* dir = ::opendir((root + "/" + prefix).c_str());
    if (!dir)
        return;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat st {};
        const std::string rel = prefix + name;
        ::lstat((root + "/" + rel).c_str(), &st);
        out->push_back(S_ISDIR(st.st_mode) ? rel + "/" : rel);
        if (S_ISDIR(st.st_mode))
            walk(root, rel + "/", out);
    }
    ::closedir(dir);
}

std::vector<std::string> tree(const std::string& root)
{
    std::vector<std::string> out;
    walk(root, "", &out);
    std::sort(out.begin(), out.end());
    return out;
}

// Removes `path` and everything below it by bytes (QDir cannot name a
// folder that is not UTF-8).
void removeTree(const std::string& path)
{
    if (DIR* dir = ::opendir(path.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..")
                continue;
            struct stat st {};
            const std::string child = path + "/" + name;
            if (::lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                removeTree(child);
            else
                ::unlink(child.c_str());
        }
        ::closedir(dir);
    }
    ::rmdir(path.c_str());
}

bool contains(const std::string& s, const std::string& part)
{
    return s.find(part) != std::string::npos;
}

enum class Setup { FolderLink, FileForFolder, FolderForFile, CabinetItself, CabinetHardLink };

} // namespace

Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(std::string)

class TestCabReaderHostile : public QObject {
    Q_OBJECT
private slots:
    void overlappingRangesMatchCabextract();
    void storedNamesAreBytes_data();
    void storedNamesAreBytes();
    void refusedBeforeWriting_data();
    void refusedBeforeWriting();
    void linkUnderFileNameIsReplaced();
    void damagedCabinetKeepsExistingFile();
    void notRegularFileRefusedPromptly_data();
    void notRegularFileRefusedPromptly();
    void errorsNameFileAndReason_data();
    void errorsNameFileAndReason();
};

void TestCabReaderHostile::overlappingRangesMatchCabextract()
{
    if (!test::haveProgram("cabextract"))
        QSKIP("cabextract is needed as the independent reader");
    QTemporaryDir dir;
    const std::string cab = fixture("overlap.cab");
    std::string why;
    QVERIFY2(cabreader::test(cab, &why), why.c_str());
    std::vector<std::string> written;
    QVERIFY2(cabreader::extractAll(cab, b(dir.filePath("own")), &written, &why), why.c_str());
    QCOMPARE(written.size(), std::size_t(12));
    const auto ref = test::run("cabextract", {"-q", "-d", dir.filePath("ref"), QString::fromStdString(cab)});
    QCOMPARE(ref.exitCode, 0);
    const std::vector<std::string> names = tree(b(dir.filePath("ref")));
    QCOMPARE(tree(b(dir.filePath("own"))), names);
    for (const std::string& name : names)
        QVERIFY2(slurp(b(dir.filePath("own/")) + name) == slurp(b(dir.filePath("ref/")) + name),
                 name.c_str());
}

void TestCabReaderHostile::storedNamesAreBytes_data()
{
    QTest::addColumn<std::string>("name");
    QTest::newRow("Latin-1 byte") << std::string("caf\xe9.txt");
    QTest::newRow("0xFF") << std::string("a\xff");
    QTest::newRow("0xFE beside it") << std::string("a\xfe");
    QTest::newRow("0xFF in a folder") << std::string("dir\xff/inner.txt");
    QTest::newRow("escape sequence") << std::string("\x1b[31mred\x1b[0m.txt");
    QTest::newRow("newline") << std::string("two\nlines.txt");
    QTest::newRow("C1 control") << std::string("c1-\xc2\x9b-csi.txt");
    QTest::newRow("UTF-8") << std::string("gr\xc3\xbc\xc3\x9f"
                                          "e.txt");
}

void TestCabReaderHostile::storedNamesAreBytes()
{
    QFETCH(std::string, name);
    QTemporaryDir dir;
    // The folder's own name is not UTF-8 either.
    const std::string out = b(dir.path()) + "/out\xff";
    std::vector<cabreader::Entry> entries;
    QVERIFY(cabreader::list(fixture("names.cab"), &entries));
    QVERIFY(std::any_of(entries.begin(), entries.end(),
                        [&](const cabreader::Entry& e) { return e.name == name; }));
    std::string why;
    QVERIFY2(cabreader::extractAll(fixture("names.cab"), out, nullptr, &why), why.c_str());
    QCOMPARE(slurp(out + "/" + name), "content of " + name);
    // Eight names, eight files: none collapsed into another.
    std::vector<std::string> files = tree(out);
    const auto count =
        std::count_if(files.begin(), files.end(), [](const std::string& f) { return f.back() != '/'; });
    removeTree(out);
    QCOMPARE(count, 8);
}

void TestCabReaderHostile::refusedBeforeWriting_data()
{
    QTest::addColumn<std::string>("cabinet");
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<std::string>("message");
    QTest::newRow("link standing for a folder")
        << std::string("planted.cab") << Setup::FolderLink
        << std::string("refusing planted_dir/evil.txt: DIR/planted_dir is a symbolic link");
    QTest::newRow("file standing for a folder")
        << std::string("planted.cab") << Setup::FileForFolder
        << std::string("cannot make folder DIR/planted_dir for planted_dir/evil.txt: Not a directory");
    QTest::newRow("folder under a file's name") << std::string("planted.cab") << Setup::FolderForFile
                                                << std::string("cannot write DIR/ok.txt: Is a directory");
    QTest::newRow("the cabinet itself") << std::string("self.cab") << Setup::CabinetItself
                                        << std::string("refusing to write DIR/self.cab: it is the cabinet");
    QTest::newRow("a hard link of the cabinet")
        << std::string("self.cab") << Setup::CabinetHardLink
        << std::string("refusing to write DIR/self.cab: it is the cabinet");
}

void TestCabReaderHostile::refusedBeforeWriting()
{
    QFETCH(std::string, cabinet);
    QFETCH(Setup, setup);
    QFETCH(std::string, message);
    QTemporaryDir tmp;
    const std::string root = b(tmp.path());
    const std::string dir = root + "/DIR";
    const std::string elsewhere = root + "/elsewhere";
    QCOMPARE(::mkdir(dir.c_str(), 0755), 0);
    QCOMPARE(::mkdir(elsewhere.c_str(), 0755), 0);
    std::string cab = fixture(cabinet.c_str());
    switch (setup) {
    case Setup::FolderLink:
        QCOMPARE(::symlink(elsewhere.c_str(), (dir + "/planted_dir").c_str()), 0);
        break;
    case Setup::FileForFolder:
        QVERIFY(put(dir + "/planted_dir", "x"));
        break;
    case Setup::FolderForFile:
        QCOMPARE(::mkdir((dir + "/ok.txt").c_str(), 0755), 0);
        break;
    case Setup::CabinetItself:
        cab = dir + "/self.cab";
        QVERIFY(put(cab, slurp(fixture("self.cab"))));
        break;
    case Setup::CabinetHardLink:
        cab = root + "/elsewhere/other-name.cab";
        QVERIFY(put(cab, slurp(fixture("self.cab"))));
        QCOMPARE(::link(cab.c_str(), (dir + "/self.cab").c_str()), 0);
        break;
    }
    const std::vector<std::string> before = tree(root);
    const std::string cabBytes = slurp(cab);

    std::string why;
    QVERIFY(!cabreader::extractAll(cab, dir, nullptr, &why));
    message.replace(message.find("DIR"), 3, dir);
    QVERIFY2(contains(why, message), why.c_str());
    QCOMPARE(tree(root), before);
    QCOMPARE(slurp(cab), cabBytes);
}

void TestCabReaderHostile::linkUnderFileNameIsReplaced()
{
    QTemporaryDir tmp;
    const std::string dir = b(tmp.path()) + "/DIR";
    const std::string target = b(tmp.path()) + "/target.txt";
    QVERIFY(put(target, "kept\n"));
    QCOMPARE(::mkdir(dir.c_str(), 0755), 0);
    QCOMPARE(::symlink(target.c_str(), (dir + "/ok.txt").c_str()), 0);
    std::string why;
    QVERIFY2(cabreader::extractAll(fixture("planted.cab"), dir, nullptr, &why), why.c_str());
    struct stat st {};
    QCOMPARE(::lstat((dir + "/ok.txt").c_str(), &st), 0);
    QVERIFY(S_ISREG(st.st_mode));
    QCOMPARE(slurp(dir + "/ok.txt"), std::string("fine\n"));
    QCOMPARE(slurp(target), std::string("kept\n"));
}

void TestCabReaderHostile::damagedCabinetKeepsExistingFile()
{
    QTemporaryDir tmp;
    const std::string dir = b(tmp.path());
    QVERIFY(test::writeFile(tmp.filePath("victim.txt"), "precious\n"));
    std::string why;
    QVERIFY(!cabreader::extractAll(fixture("damaged.cab"), dir, nullptr, &why));
    QCOMPARE(why, "cannot extract victim.txt from " + fixture("damaged.cab") + ": checksum error");
    QCOMPARE(slurp(dir + "/victim.txt"), std::string("precious\n"));
    // The sound file before it is whole; nothing else is left behind.
    QCOMPARE(slurp(dir + "/first.txt").size(), std::size_t(1000));
    QCOMPARE(tree(dir), (std::vector<std::string>{"first.txt", "victim.txt"}));
}

void TestCabReaderHostile::notRegularFileRefusedPromptly_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("named pipe") << "fifo";
    QTest::newRow("folder") << "folder";
    QTest::newRow("device") << "/dev/null";
}

void TestCabReaderHostile::notRegularFileRefusedPromptly()
{
    QFETCH(QString, kind);
    QTemporaryDir tmp;
    std::string path = kind.startsWith('/') ? b(kind) : b(tmp.filePath(kind));
    if (kind == "fifo")
        QCOMPARE(::mkfifo(path.c_str(), 0600), 0);
    else if (kind == "folder")
        QCOMPARE(::mkdir(path.c_str(), 0700), 0);
    const std::string expected = "cannot open cabinet " + path + ": not a regular file";
    QElapsedTimer timer;
    timer.start();
    std::string why;
    QVERIFY(!cabreader::list(path, nullptr, &why));
    QCOMPARE(why, expected);
    QVERIFY(!cabreader::test(path, &why));
    QCOMPARE(why, expected);
    QVERIFY(!cabreader::extractAll(path, b(tmp.filePath("out")), nullptr, &why));
    QCOMPARE(why, expected);
    QVERIFY(timer.elapsed() < 5000);
}

void TestCabReaderHostile::errorsNameFileAndReason_data()
{
    QTest::addColumn<QString>("cabinet");   // below the temporary folder, made by the test
    QTest::addColumn<QString>("directory"); // extraction folder below it
    QTest::addColumn<QString>("expected");  // %1: the temporary folder
    QTest::newRow("missing cabinet") << "none.cab"
                                     << "out"
                                     << "cannot open cabinet %1/none.cab: No such file or directory";
    QTest::newRow("not a cabinet") << "text.cab"
                                   << "out"
                                   << "cannot open cabinet %1/text.cab: not a cabinet";
    QTest::newRow("cut short")
        << "short.cab"
        << "out"
        << "cannot extract a-after-gap.txt from %1/short.cab: read error (the cabinet ends early)";
    QTest::newRow("folder below a file") << "overlap.cab"
                                         << "text.cab/out"
                                         << "cannot make folder %1/text.cab/out: Not a directory";
}

void TestCabReaderHostile::errorsNameFileAndReason()
{
    QFETCH(QString, cabinet);
    QFETCH(QString, directory);
    QFETCH(QString, expected);
    QTemporaryDir tmp;
    const QByteArray overlap = QByteArray::fromStdString(slurp(fixture("overlap.cab")));
    QVERIFY(test::writeFile(tmp.filePath("text.cab"), "just text\n"));
    QVERIFY(test::writeFile(tmp.filePath("overlap.cab"), overlap));
    QVERIFY(test::writeFile(tmp.filePath("short.cab"), overlap.left(30000)));
    std::string why;
    QVERIFY(!cabreader::extractAll(b(tmp.filePath(cabinet)), b(tmp.filePath(directory)), nullptr, &why));
    QCOMPARE(QString::fromStdString(why), expected.arg(tmp.path()));
}

QTEST_GUILESS_MAIN(TestCabReaderHostile)
#include "tst_cabreader_hostile.moc"
