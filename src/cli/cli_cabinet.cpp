// ravelin-cab n / l / x / t: build, list, extract and test cabinets.
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cabinet/fci/fci.h"
#include "cabinet/fci/realfiles.h"
#include "cabinet/fci/realopeninfo.h"
#include "cabinet/reader/cabreader.h"
#include "cabinet/sfx/sfxjoin.h"
#include "cli/command.h"
#include "platform/fileinfo.h"
#include "platform/paths.h"

namespace ravelin::cli {

namespace {

namespace fci = ravelin::fci;

// Parameters of every cabinet this tool writes: the same as the main window's.
constexpr uint32_t kMaxCabinet = 999'999'999;
constexpr uint32_t kFolderThreshold = 900'000;
constexpr uint16_t kSetId = 12345;

// A progress bar on standard error, drawn only when it is a terminal.
struct Progress {
    bool enabled = false;
    uint64_t total = 0;
    uint64_t done = 0;
    int shown = -1;

    void draw()
    {
        if (!enabled || total == 0)
            return;
        const int percent = int(done * 100 / total);
        if (percent == shown)
            return;
        shown = percent;
        constexpr int kWidth = 40;
        char bar[kWidth + 1];
        const int filled = percent * kWidth / 100;
        for (int i = 0; i < kWidth; ++i)
            bar[i] = i < filled ? '#' : ' ';
        bar[kWidth] = 0;
        std::fprintf(stderr, "\r[%s] %3d%%", bar, percent);
        std::fflush(stderr);
    }
    void finish()
    {
        if (enabled && shown >= 0)
            std::fprintf(stderr, "\r%*s\r", 48, "");
    }
};

long statusCallback(uint32_t kind, uint32_t, uint32_t cb2, void* pv)
{
    auto* progress = static_cast<Progress*>(pv);
    if (kind == fci::kStatusFile) {
        progress->done += cb2;
        progress->draw();
    }
    return 0;
}

// Options of "n" come before the cabinet name; more can be added here.
struct NewOptions {
    QString cabinet;
    QStringList files;
    QString extractor;  // --sfx: join this extractor and the cabinet into CABINET's name + ".exe"
};

// Returns 0 when parsed, else the exit status to end with.
int parseNew(const QStringList& args, NewOptions* options)
{
    int i = 0;
    for (; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--")) {
            ++i;
            break;
        }
        if (!a.startsWith(QLatin1String("--")) || a.size() == 2)
            break;
        if (a == QLatin1String("--sfx") && i + 1 < args.size() && !args[i + 1].isEmpty()) {
            options->extractor = args[++i];
            continue;
        }
        if (a.startsWith(QLatin1String("--sfx=")) && a.size() > 6) {
            options->extractor = a.mid(6);
            continue;
        }
        error(QStringLiteral("n: unknown option %1").arg(a));
        return usage("n");
    }
    if (i >= args.size())
        return usage("n");
    options->cabinet = args[i++];
    options->files = args.mid(i);
    if (options->files.isEmpty())
        return usage("n");
    return 0;
}

int runNew(const QStringList& args)
{
    NewOptions options;
    if (const int rc = parseNew(args, &options))
        return rc;

    const QByteArray dir = QFile::encodeName(paths::directoryPart(options.cabinet));
    const QByteArray name = QFile::encodeName(paths::namePart(options.cabinet));
    if (name.isEmpty()) {
        error(QStringLiteral("%1: not a file name").arg(options.cabinet));
        return kExitFailure;
    }
    if (dir.size() >= fci::kCabTextSize || name.size() >= fci::kCabTextSize) {
        error(QStringLiteral("%1: the directory and the file name may have at most 255 bytes each")
                  .arg(options.cabinet));
        return kExitFailure;
    }

    // The library opens only files that exist: the cabinet is created here.
    const QByteArray cabPath = QFile::encodeName(options.cabinet);
    const int fd = ::open(cabPath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error(QStringLiteral("cannot create %1: %2").arg(options.cabinet, QString::fromLocal8Bit(std::strerror(errno))));
        return kExitFailure;
    }
    ::close(fd);

    Progress progress;
    progress.enabled = ::isatty(STDERR_FILENO) == 1;
    for (const QString& f : options.files) {
        struct stat st {};
        if (::stat(QFile::encodeName(f).constData(), &st) == 0)
            progress.total += uint64_t(st.st_size);
    }

    fci::ERF erf;
    fci::CCAB ccab;
    ccab.cb = kMaxCabinet;
    ccab.cbFolderThresh = kFolderThreshold;
    ccab.iCab = 1;
    ccab.iDisk = 0;
    ccab.setID = kSetId;
    std::memcpy(ccab.szCab, name.constData(), size_t(name.size()) + 1);
    std::memcpy(ccab.szCabPath, dir.constData(), size_t(dir.size()) + 1);

    using namespace fci::real;
    fci::HFCI hfci = fci::FCICreate(&erf, filePlaced, allocate, release, openFile, readFile, writeFile,
                                    closeFile, seekFile, deleteFile, tempFileName, &ccab, &progress);
    if (!hfci) {
        error(QStringLiteral("cannot start the cabinet: %1").arg(QLatin1String(fci::FCIErrorText(erf.erfOper))));
        return kExitFailure;
    }
    int status = kExitOk;
    for (const QString& f : options.files) {
        QByteArray source = QFile::encodeName(f);
        QByteArray stored = paths::namePart(f).toUtf8();
        if (!fci::FCIAddFile(hfci, source.data(), stored.data(), 0, nullptr, statusCallback, openForAdding,
                             fci::kCompressMszip)) {
            progress.finish();
            QString why = QLatin1String(fci::FCIErrorText(erf.erfOper));
            if (erf.erfType)
                why += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(erf.erfType)));
            error(QStringLiteral("cannot add %1: %2").arg(f, why));
            status = kExitFailure;
        }
    }
    if (!fci::FCIFlushCabinet(hfci, 0, nullptr, statusCallback)) {
        progress.finish();
        QString why = QLatin1String(fci::FCIErrorText(erf.erfOper));
        if (erf.erfType)
            why += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(erf.erfType)));
        error(QStringLiteral("cannot write %1: %2").arg(options.cabinet, why));
        status = kExitFailure;
    }
    progress.finish();
    if (!fci::FCIDestroy(hfci)) {
        error(QStringLiteral("cannot remove the temporary file"));
        status = kExitFailure;
    }
    if (status == kExitOk && !options.extractor.isEmpty()) {
        // Extractor bytes, then the cabinet's; the cabinet goes only after a good copy.
        const QString exe = paths::changeExtension(options.cabinet, QStringLiteral(".exe"));
        const sfx::SfxResult joined = sfx::joinSelfExtracting(
            QFile::encodeName(options.extractor).toStdString(), cabPath.toStdString(),
            QFile::encodeName(exe).toStdString());
        if (!joined.ok()) {
            error(QStringLiteral("cannot make %1: %2: %3; %4 is kept")
                      .arg(exe, QLatin1String(sfx::stepName(joined.failed)),
                           QString::fromStdString(sfx::fileErrorText(joined.error)), options.cabinet));
            status = kExitFailure;
        }
    }
    return status;
}

QString attributeText(uint16_t a)
{
    QString t;
    t += (a & 0x01) ? QLatin1Char('r') : QLatin1Char('-');
    t += (a & 0x02) ? QLatin1Char('h') : QLatin1Char('-');
    t += (a & 0x04) ? QLatin1Char('s') : QLatin1Char('-');
    t += (a & 0x20) ? QLatin1Char('a') : QLatin1Char('-');
    t += (a & 0x40) ? QLatin1Char('x') : QLatin1Char('-');
    return t;
}

int runList(const QStringList& args)
{
    if (args.size() != 1)
        return usage("l");
    QList<cabreader::Entry> entries;
    QString why;
    if (!cabreader::list(args[0], &entries, &why)) {
        error(why);
        return kExitFailure;
    }
    for (const cabreader::Entry& e : entries) {
        const platform::CivilTime t = platform::fromDosDateTime({e.dosDate, e.dosTime});
        std::printf("%10u  %04d-%02d-%02d %02d:%02d:%02d  %s  %s\n", e.size, t.year, t.month, t.day, t.hour,
                    t.minute, t.second, attributeText(e.attributes).toLatin1().constData(),
                    e.name.toUtf8().constData());
    }
    return kExitOk;
}

int runExtract(const QStringList& args)
{
    if (args.isEmpty() || args.size() > 2)
        return usage("x");
    const QString dir = args.size() == 2 ? args[1] : QStringLiteral(".");
    QString why;
    if (!cabreader::extractAll(args[0], dir, nullptr, &why)) {
        error(why);
        return kExitFailure;
    }
    return kExitOk;
}

int runTest(const QStringList& args)
{
    if (args.size() != 1)
        return usage("t");
    QString why;
    QList<cabreader::Entry> entries;
    if (!cabreader::list(args[0], &entries, &why) || !cabreader::test(args[0], &why)) {
        error(why);
        return kExitFailure;
    }
    std::printf("%s: %lld files OK\n", QFile::encodeName(args[0]).constData(), static_cast<long long>(entries.size()));
    return kExitOk;
}

const Registration newCommand({"n", "n [--sfx EXTRACTOR] CABINET FILE...",
                               "write CABINET (MSZIP) holding the FILEs in this order under their bare names; "
                               "with --sfx, join EXTRACTOR and it into CABINET's name with .exe instead",
                               runNew});
const Registration listCommand({"l", "l CABINET", "list the files of CABINET: size, date, time, attributes, name",
                                runList});
const Registration extractCommand({"x", "x CABINET [DIR]",
                                   "extract every file of CABINET below DIR (default: the current directory)",
                                   runExtract});
const Registration testCommand({"t", "t CABINET", "decompress every file of CABINET and check every checksum",
                                runTest});

}  // namespace

}  // namespace ravelin::cli
