// Proves TFileIterator walks as the drive search needs: names, options,
// events, stop, the option guard, links, volumes and the worker thread.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include "platform/fileinfo.h"
#include "support/testutil.h"
#include "tools/fileiterator/fileiterator.h"
#include "tools/fileiterator/fileiteratorthread.h"

using namespace ravelin::tools;
using ravelin::test::writeFile;

namespace {

// Records every event of one walk.
struct Recorder {
    QStringList files;      // OnAddFile names, in order
    QStringList queried;    // OnAddFileQuery names, in order
    QList<TFileInfo> infos; // OnAddFile details
    QStringList events;     // "activate", "query", "add", "terminate"

    void attach(TFileIterator& it, bool query = true)
    {
        it.OnActivate = [this](TFileIterator*) { events << "activate"; };
        it.OnTerminate = [this](TFileIterator*) { events << "terminate"; };
        it.OnAddFile = [this](TFileIterator*, const QByteArray& name, const TFileInfo& info) {
            events << "add";
            files << QFile::decodeName(name);
            infos << info;
        };
        if (query)
            it.OnAddFileQuery = [this](TFileIterator*, const QByteArray& name, const TFileInfo&,
                                       bool& canAdd) {
                QVERIFY(canAdd);
                events << "query";
                queried << QFile::decodeName(name);
            };
    }
};

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

} // namespace

class TestFileIterator : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString m_root;

    void makeTree()
    {
        QDir d(m_root);
        QVERIFY(d.mkpath("sub/deeper"));
        QVERIFY(d.mkpath(".config/inner"));
        QVERIFY(writeFile(m_root + "/top.cab", "12345"));
        QVERIFY(writeFile(m_root + "/.hidden.txt", "h"));
        QVERIFY(writeFile(m_root + "/sub/a.txt", "abc"));
        QVERIFY(writeFile(m_root + "/sub/deeper/b.CAB", "b"));
        QVERIFY(writeFile(m_root + "/.config/secret.cab", "s"));
        QVERIFY(writeFile(m_root + "/.config/inner/deep.cab", "d"));
    }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_root = m_dir.path() + "/tree";
        QDir(m_root).removeRecursively();
        QVERIFY(QDir().mkpath(m_root));
    }

    void defaults()
    {
        TFileIterator it;
        QCOMPARE(it.Options(), TFileIteratorOptions(fiPath | fiDetails | fiRecurseFolders));
        QCOMPARE(it.RootFolder(), QByteArray("/"));
        QCOMPARE(it.State(), TFileIteratorState::Idle);
        QVERIFY(it.Available());
    }

    void walkReportsFilesSkippingDotFolders()
    {
        makeTree();
        TFileIterator it;
        it.SetRootFolder(QFile::encodeName(m_root));
        Recorder r;
        r.attach(it);
        it.Execute();
        QCOMPARE(sorted(r.files), sorted({m_root + "/top.cab", m_root + "/.hidden.txt", m_root + "/sub/a.txt",
                                          m_root + "/sub/deeper/b.CAB"}));
        QCOMPARE(r.queried, r.files);
        QCOMPARE(r.events.first(), QString("activate"));
        QCOMPARE(r.events.last(), QString("terminate"));
        QCOMPARE(r.events.count("terminate"), 1);
        // Query then add, pair by pair.
        for (int i = 1; i + 1 < r.events.size(); i += 2) {
            QCOMPARE(r.events[i], QString("query"));
            QCOMPARE(r.events[i + 1], QString("add"));
        }
        QVERIFY(it.Available());
    }

    void depthFirst()
    {
        // A folder is walked when it is met: its files come before any later
        // entry of its parent, and they are contiguous.
        makeTree();
        TFileIterator it;
        it.SetRootFolder(QFile::encodeName(m_root));
        Recorder r;
        r.attach(it, false);
        it.Execute();
        const int a = r.files.indexOf(m_root + "/sub/a.txt");
        const int b = r.files.indexOf(m_root + "/sub/deeper/b.CAB");
        QVERIFY(a >= 0 && b >= 0);
        QCOMPARE(qAbs(a - b), 1);
    }

    void cabinetQuery_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("isCab");
        QTest::newRow("archive.Cab") << "/x/archive.Cab" << true;
        QTest::newRow("archive.cab") << "archive.cab" << true;
        QTest::newRow("ARCHIVE.CAB") << "/ARCHIVE.CAB" << true;
        QTest::newRow("archive.cabx") << "/x/archive.cabx" << false;
        QTest::newRow("archive") << "/x/archive" << false;
        QTest::newRow("archive.cab.bak") << "/x/archive.cab.bak" << false;
        QTest::newRow("dotted folder") << "/x.cab/archive" << false;
        QTest::newRow("trailing dot") << "/x/archive." << false;
    }
    void cabinetQuery()
    {
        QFETCH(QString, name);
        QFETCH(bool, isCab);
        QCOMPARE(isCabinetFileName(QFile::encodeName(name)), isCab);
    }

    void cabinetQueryInWalk()
    {
        for (const char* name : {"archive.Cab", "archive.cabx", "archive", "archive.cab.bak"})
            QVERIFY(writeFile(m_root + "/" + name, "x"));
        TFileIterator it;
        it.SetRootFolder(QFile::encodeName(m_root));
        QStringList added;
        it.OnAddFileQuery = [](TFileIterator*, const QByteArray& name, const TFileInfo&, bool& canAdd) {
            canAdd = isCabinetFileName(name);
        };
        it.OnAddFile = [&](TFileIterator*, const QByteArray& name, const TFileInfo&) { added << name; };
        it.Execute();
        QCOMPARE(added, QStringList{m_root + "/archive.Cab"});
    }

    void rootWithOrWithoutSlash()
    {
        makeTree();
        QStringList withSlash, without;
        for (auto* out : {&withSlash, &without}) {
            TFileIterator it;
            it.SetRootFolder(QFile::encodeName(out == &withSlash ? m_root + "/" : m_root));
            it.OnAddFile = [out](TFileIterator*, const QByteArray& n, const TFileInfo&) { *out << n; };
            it.Execute();
        }
        QCOMPARE(withSlash, without);
        QCOMPARE(withSlash.size(), 4);
        for (const QString& n : withSlash)
            QVERIFY2(!n.contains("//"), qPrintable(n));
    }

    void fileSystemRoot_data()
    {
        QTest::addColumn<QString>("root");
        QTest::newRow("/") << "/";
        QTest::newRow("empty") << "";
    }
    void fileSystemRoot()
    {
        // "/" and an empty root both give "/name": one separator after the
        // root. The root's own files are enough, so no recursion.
        QFETCH(QString, root);
        auto topFiles = [](const QString& folder) {
            TFileIterator it;
            it.SetRootFolder(QFile::encodeName(folder));
            it.SetOptions(fiPath);
            QStringList names;
            it.OnAddFile = [&](TFileIterator*, const QByteArray& n, const TFileInfo&) { names << n; };
            it.Execute();
            names.sort();
            return names;
        };
        const QStringList names = topFiles(root);
        QStringList expected;
        for (const QFileInfo& fi :
             QDir("/").entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
            if (!fi.isDir() || fi.isSymLink())
                expected << "/" + fi.fileName();
        expected.sort();
        QCOMPARE(names, expected);
        for (const QString& n : names)
            QVERIFY2(n.startsWith('/') && !n.startsWith("//"), qPrintable(n));
    }

    void bareNamesWithoutPath()
    {
        makeTree();
        TFileIterator it;
        it.SetRootFolder(QFile::encodeName(m_root));
        it.SetOptions(fiDetails | fiRecurseFolders);
        Recorder r;
        r.attach(it);
        it.Execute();
        QCOMPARE(sorted(r.files), sorted({"top.cab", ".hidden.txt", "a.txt", "b.CAB"}));
    }

    void noRecursion()
    {
        makeTree();
        TFileIterator it;
        it.SetRootFolder(QFile::encodeName(m_root));
        it.SetOptions(fiPath | fiDetails);
        Recorder r;
        r.attach(it);
        it.Execute();
        QCOMPARE(sorted(r.files), sorted({m_root + "/top.cab", m_root + "/.hidden.txt"}));
    }

    void details_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<uint>("attr");
        QTest::newRow("plain") << "plain.cab" << QByteArray("12345") << false << 0x20u;
        QTest::newRow("hidden") << ".dot" << QByteArray("") << false << 0x22u;
        QTest::newRow("read-only") << "ro.bin" << QByteArray(70000, 'x') << true << 0x21u;
    }
    void details()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(bool, readOnly);
        QFETCH(uint, attr);
        const QString path = m_root + "/" + name;
        QVERIFY(writeFile(path, content));
        // 2021-06-15 13:45:31 local time; DOS time keeps 2-second steps.
        QDateTime when(QDate(2021, 6, 15), QTime(13, 45, 31));
        struct utimbuf times {
            when.toSecsSinceEpoch(), when.toSecsSinceEpoch()
        };
        QCOMPARE(::utime(QFile::encodeName(path).constData(), &times), 0);
        if (readOnly)
            QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0444), 0);

        TFileIterator it;
        it.SetRootFolder(QFile::encodeName(m_root));
        Recorder r;
        r.attach(it);
        it.Execute();
        QCOMPARE(r.infos.size(), 1);
        const TFileInfo info = r.infos.first();
        QCOMPARE(info.Size, int64_t(content.size()));
        QCOMPARE(info.Attr, attr);
        const uint32_t expectedTime =
            (uint32_t((2021 - 1980) << 9 | 6 << 5 | 15) << 16) | uint32_t(13 << 11 | 45 << 5 | 31 / 2);
        QCOMPARE(info.Time, expectedTime);
    }

    void noDetailsWithoutOption()
    {
        QVERIFY(writeFile(m_root + "/file.cab", QByteArray(1000, 'x')));
        TFileIterator it;
        it.SetRootFolder(QFile::encodeName(m_root));
        it.SetOptions(fiPath | fiRecurseFolders);
        Recorder r;
        r.attach(it);
        it.Execute();
        QCOMPARE(r.files, QStringList{m_root + "/file.cab"});
        QCOMPARE(r.infos.first().Size, int64_t(0));
        QCOMPARE(r.infos.first().Time, 0u);
        QCOMPARE(r.infos.first().Attr, 0u);
    }

    void noEventsWithoutFileHandlers()
    {
        makeTree();
        TFileIterator it;
        it.SetRootFolder(QFile::encodeName(m_root));
        int notified = 0;
        it.OnActivate = [&](TFileIterator*) { ++notified; };
        it.OnTerminate = [&](TFileIterator*) { ++notified; };
        it.Execute();
        QCOMPARE(notified, 0);
        QVERIFY(it.Available());
    }

    void eitherFileHandlerIsEnough()
    {
        makeTree();
        TFileIterator it;
        it.SetRootFolder(QFile::encodeName(m_root));
        QStringList events;
        int queries = 0;
        it.OnActivate = [&](TFileIterator*) { events << "activate"; };
        it.OnTerminate = [&](TFileIterator*) { events << "terminate"; };
        it.OnAddFileQuery = [&](TFileIterator*, const QByteArray&, const TFileInfo&, bool&) { ++queries; };
        it.Execute();
        QCOMPARE(queries, 4);
        QCOMPARE(events, (QStringList{"activate", "terminate"}));
    }

    void hookOverridesInsteadOfEvents()
    {
        makeTree();
        struct Descendant : TFileIterator {
            QStringList seen;
            int activated = 0, terminated = 0;
            void DoAddFile(const QByteArray& n, const TFileInfo&) override { seen << n; }
            void DoActivate() override { ++activated; }
            void DoTerminate() override { ++terminated; }
            bool HasFileHandlers() const override { return true; }
        } it;
        it.SetRootFolder(QFile::encodeName(m_root));
        it.Execute();
        QCOMPARE(it.seen.size(), 4);
        QCOMPARE(it.activated, 1);
        QCOMPARE(it.terminated, 1);
    }

    void stopDuringDeepWalk()
    {
        // 120 nested folders with three files each; a stop at depth 60 ends
        // every level at its next entry: no further file events, one
        // OnTerminate.
        QString folder = m_root;
        for (int depth = 0; depth < 120; ++depth) {
            folder += "/d";
            QVERIFY(QDir().mkpath(folder));
            for (int i = 0; i < 3; ++i)
                QVERIFY(writeFile(folder + QString("/f%1.cab").arg(i), "x"));
        }
        TFileIterator it;
        it.SetRootFolder(QFile::encodeName(m_root));
        int added = 0, afterStop = 0, terminated = 0;
        bool stopped = false;
        it.OnAddFile = [&](TFileIterator* sender, const QByteArray& name, const TFileInfo&) {
            ++added;
            if (stopped)
                ++afterStop;
            if (name.mid(m_root.size()).count("/d") == 60 && !stopped) {
                sender->Stop();
                QCOMPARE(sender->State(), TFileIteratorState::Stopping);
                stopped = true;
            }
        };
        it.OnTerminate = [&](TFileIterator* sender) {
            ++terminated;
            QCOMPARE(sender->State(), TFileIteratorState::Stopping);
        };
        it.Execute();
        QVERIFY(stopped);
        QCOMPARE(afterStop, 0);
        QCOMPARE(terminated, 1);
        QVERIFY(added < 3 * 120);
        QVERIFY(it.Available());
    }

    void stopFromAnotherThread()
    {
        QString folder = m_root;
        for (int depth = 0; depth < 200; ++depth) {
            folder += "/d";
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(writeFile(folder + "/f.cab", "x"));
        }
        TFileIterator it;
        it.SetRootFolder(QFile::encodeName(m_root));
        std::atomic<int> added{0}, terminated{0}, afterStop{0};
        std::atomic<bool> stopReturned{false};
        std::atomic<bool> release{false};
        it.OnAddFile = [&](TFileIterator*, const QByteArray&, const TFileInfo&) {
            if (stopReturned)
                ++afterStop;
            if (++added == 10)
                while (!release) // hold the walk until the stop is made
                    std::this_thread::yield();
        };
        it.OnTerminate = [&](TFileIterator*) { ++terminated; };
        new TFileIteratorThread(&it, false);
        QTRY_COMPARE(added.load(), 10);
        QCOMPARE(it.State(), TFileIteratorState::Running);
        it.Stop();
        stopReturned = true;
        release = true;
        QTRY_VERIFY(it.Available());
        QCOMPARE(terminated.load(), 1);
        QCOMPARE(afterStop.load(), 0);
        QCOMPARE(added.load(), 10);
    }

    void stopWhenIdleDoesNothing()
    {
        TFileIterator it;
        it.Stop();
        QCOMPARE(it.State(), TFileIteratorState::Idle);
    }

    void optionChangesRefusedWhileRunning()
    {
        makeTree();
        TFileIterator it;
        it.SetRootFolder(QFile::encodeName(m_root));
        QStringList errors;
        bool tested = false;
        it.OnAddFile = [&](TFileIterator* sender, const QByteArray&, const TFileInfo&) {
            if (tested)
                return;
            tested = true;
            try {
                sender->SetOptions(fiPath);
            } catch (const EFileIteratorError& e) {
                errors << e.what();
            }
            try {
                sender->SetRootFolder("/elsewhere");
            } catch (const EFileIteratorError& e) {
                errors << e.what();
            }
            try {
                sender->Execute();
            } catch (const EFileIteratorError& e) {
                errors << e.what();
            }
            sender->Stop();
            try {
                sender->SetOptions(fiPath); // stopping is not idle either
            } catch (const EFileIteratorError& e) {
                errors << e.what();
            }
        };
        it.Execute();
        QCOMPARE(
            errors,
            (QStringList{"Cannot change options on fly. Try later", "Cannot change options on fly. Try later",
                         "Iterator is not available at the moment. Please call later, but do call",
                         "Cannot change options on fly. Try later"}));
        QCOMPARE(it.Options(), TFileIteratorOptions(fiPath | fiDetails | fiRecurseFolders));
        QCOMPARE(it.RootFolder(), QFile::encodeName(m_root));
        // Idle again: changes are taken.
        it.SetOptions(fiPath);
        QCOMPARE(it.Options(), TFileIteratorOptions(fiPath));
    }

    void loadingAllowsChanges()
    {
        QVERIFY(writeFile(m_root + "/a.cab", "x"));
        TFileIterator it;
        it.SetRootFolder(QFile::encodeName(m_root));
        it.OnAddFile = [&](TFileIterator* sender, const QByteArray&, const TFileInfo&) {
            sender->SetLoading(true);
            sender->SetRootFolder("/loaded");
            sender->SetLoading(false);
        };
        it.Execute();
        QCOMPARE(it.RootFolder(), QByteArray("/loaded"));
    }

    void handlerErrorStillTerminates()
    {
        makeTree();
        TFileIterator it;
        it.SetRootFolder(QFile::encodeName(m_root));
        int terminated = 0;
        it.OnAddFile = [](TFileIterator*, const QByteArray&, const TFileInfo&) {
            throw std::runtime_error("handler failed");
        };
        it.OnTerminate = [&](TFileIterator* sender) {
            ++terminated;
            QVERIFY(!sender->Available());
        };
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, it.Execute());
        QCOMPARE(terminated, 1);
        QVERIFY(it.Available());
    }

    void missingOrFileRoot_data()
    {
        QTest::addColumn<QString>("root");
        QTest::newRow("missing") << "/missing-folder";
        QTest::newRow("a file") << "/plain-file";
    }
    void missingOrFileRoot()
    {
        QFETCH(QString, root);
        QVERIFY(writeFile(m_root + "/plain-file", "x"));
        TFileIterator it;
        it.SetRootFolder(QFile::encodeName(m_root + root));
        Recorder r;
        r.attach(it);
        it.Execute();
        QCOMPARE(r.events, (QStringList{"activate", "terminate"}));
    }

    void linksNeverFollowed()
    {
        QVERIFY(QDir().mkpath(m_root + "/real"));
        QVERIFY(writeFile(m_root + "/real/inside.cab", "x"));
        QVERIFY(QFile::link(m_root + "/real", m_root + "/folderlink"));
        QVERIFY(QFile::link("/usr", m_root + "/usrlink"));
        QVERIFY(QFile::link(m_root + "/real/inside.cab", m_root + "/filelink.cab"));
        QVERIFY(QFile::link(m_root + "/nowhere", m_root + "/dangling"));
        TFileIterator it;
        it.SetRootFolder(QFile::encodeName(m_root));
        Recorder r;
        r.attach(it);
        it.Execute();
        // Links are entries of their own, reported as files and not entered.
        QCOMPARE(sorted(r.files),
                 sorted({m_root + "/real/inside.cab", m_root + "/folderlink", m_root + "/usrlink",
                         m_root + "/filelink.cab", m_root + "/dangling"}));
    }

    void rootLinkIsUsed()
    {
        QVERIFY(QDir().mkpath(m_root + "/real"));
        QVERIFY(writeFile(m_root + "/real/inside.cab", "x"));
        QVERIFY(QFile::link(m_root + "/real", m_root + "/rootlink"));
        TFileIterator it;
        it.SetRootFolder(QFile::encodeName(m_root + "/rootlink"));
        Recorder r;
        r.attach(it);
        it.Execute();
        QCOMPARE(r.files, QStringList{m_root + "/rootlink/inside.cab"});
    }

    void staysOnItsVolume()
    {
        const QString mountPoint = m_root + "/mnt";
        QVERIFY(QDir().mkpath(mountPoint));
        QVERIFY(writeFile(m_root + "/here.cab", "x"));
        const QByteArray native = QFile::encodeName(mountPoint);
        if (::mount("tmpfs", native.constData(), "tmpfs", 0, "size=1m") != 0)
            QSKIP(qPrintable(QString("cannot mount a tmpfs here (%1)").arg(qt_error_string(errno))));
        struct Unmount {
            QByteArray path;
            ~Unmount() { ::umount2(path.constData(), MNT_DETACH); }
        } unmount{native};
        QVERIFY(writeFile(mountPoint + "/other-volume.cab", "x"));
        TFileIterator it;
        it.SetRootFolder(QFile::encodeName(m_root));
        Recorder r;
        r.attach(it);
        it.Execute();
        QCOMPARE(r.files, QStringList{m_root + "/here.cab"});
        // Started on the other volume, the walk sees that volume's files.
        TFileIterator inner;
        inner.SetRootFolder(QFile::encodeName(mountPoint));
        Recorder ri;
        ri.attach(inner);
        inner.Execute();
        QCOMPARE(ri.files, QStringList{mountPoint + "/other-volume.cab"});
    }

    void nonAsciiNames()
    {
        const QString name = QString::fromUtf8("caf\xc3\xa9 \xe2\x82\xac.cab");
        QVERIFY(QDir().mkpath(m_root + QString::fromUtf8("/d\xc3\xb8r")));
        QVERIFY(writeFile(m_root + QString::fromUtf8("/d\xc3\xb8r/") + name, "x"));
        TFileIterator it;
        it.SetRootFolder(QFile::encodeName(m_root));
        Recorder r;
        r.attach(it);
        it.Execute();
        QCOMPARE(r.files, QStringList{m_root + QString::fromUtf8("/d\xc3\xb8r/") + name});
        QVERIFY(QFile::exists(r.files.first()));
    }

    void namesAreTheirBytes()
    {
        // Names that are not UTF-8 (0xFF, in a folder and a file) and their
        // look-alike as text (U+FFFD) are reported as the bytes that exist,
        // each one apart; so is a root that is not UTF-8.
        const QByteArray root = QFile::encodeName(m_root);
        const QList<QByteArray> names{root + "/d\xff/x\xff.cab", root + "/d\xff/x\xef\xbf\xbd.cab",
                                      root + "/line\nbreak.cab"};
        // Qt cannot remove such names with the folders: done here.
        struct Remove {
            QList<QByteArray> files;
            QByteArray folder;
            ~Remove()
            {
                for (const QByteArray& f : files)
                    ::unlink(f.constData());
                ::rmdir(folder.constData());
            }
        } remove{names, root + "/d\xff"};
        QCOMPARE(::mkdir((root + "/d\xff").constData(), 0755), 0);
        for (const QByteArray& n : names) {
            const int fd = ::open(n.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            QVERIFY(fd >= 0);
            ::close(fd);
        }
        for (const QByteArray& start : {root, root + "/d\xff"}) {
            TFileIterator it;
            it.SetRootFolder(start);
            QList<QByteArray> found;
            it.OnAddFile = [&](TFileIterator*, const QByteArray& n, const TFileInfo&) { found << n; };
            it.Execute();
            std::sort(found.begin(), found.end());
            QList<QByteArray> expected;
            for (const QByteArray& n : names)
                if (n.startsWith(start + "/"))
                    expected << n;
            std::sort(expected.begin(), expected.end());
            QCOMPARE(found, expected);
            for (const QByteArray& n : found) {
                struct stat st;
                QVERIFY2(::lstat(n.constData(), &st) == 0, n.toHex().constData());
            }
        }
    }

    void threadRunsOnWorkerAndFreesItself()
    {
        makeTree();
        TFileIterator it;
        it.SetRootFolder(QFile::encodeName(m_root));
        std::mutex lock;
        QStringList files;
        std::atomic<int> terminated{0};
        std::atomic<bool> onOtherThread{true};
        const auto mainThread = std::this_thread::get_id();
        it.OnAddFile = [&](TFileIterator*, const QByteArray& name, const TFileInfo&) {
            if (std::this_thread::get_id() == mainThread)
                onOtherThread = false;
            std::lock_guard<std::mutex> guard(lock);
            files << name;
        };
        it.OnTerminate = [&](TFileIterator*) { ++terminated; };
        auto* suspended = new TFileIteratorThread(&it, true);
        QVERIFY(it.Available());
        QCOMPARE(terminated.load(), 0);
        suspended->Resume();
        QTRY_COMPARE(terminated.load(), 1);
        QTRY_VERIFY(it.Available());
        QVERIFY(onOtherThread);
        std::lock_guard<std::mutex> guard(lock);
        QCOMPARE(files.size(), 4);
    }

    void secondExecuteRefusedOnWorker()
    {
        // A second Execute while a worker runs is refused and leaves the
        // running walk undisturbed.
        makeTree();
        TFileIterator it;
        it.SetRootFolder(QFile::encodeName(m_root));
        std::atomic<bool> release{false};
        std::atomic<int> added{0}, terminated{0};
        it.OnAddFile = [&](TFileIterator*, const QByteArray&, const TFileInfo&) {
            while (!release)
                std::this_thread::yield();
            ++added;
        };
        it.OnTerminate = [&](TFileIterator*) { ++terminated; };
        new TFileIteratorThread(&it, false);
        QTRY_VERIFY(!it.Available());
        QVERIFY_THROWS_EXCEPTION(EFileIteratorError, it.Execute());
        release = true;
        QTRY_VERIFY(it.Available());
        QCOMPARE(added.load(), 4);
        QCOMPARE(terminated.load(), 1);
    }
};

QTEST_GUILESS_MAIN(TestFileIterator)
#include "tst_fileiterator.moc"
