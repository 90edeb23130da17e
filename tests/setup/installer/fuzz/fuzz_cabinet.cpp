// libFuzzer target: the cabinet reader on arbitrary bytes. The setup program
// installs from a cabinet that comes from elsewhere: listing, testing and
// extracting it must never crash, and extraction must never write outside
// its directory.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

#include "cabinet/reader/cabreader.h"

namespace {

// One private folder per process: the input file and the extraction folder
// live below it, so anything written elsewhere inside it is an escape.
const QString& workFolder()
{
    static const QString folder = [] {
        QByteArray name = QDir::tempPath().toLocal8Bit() + "/fuzz_cabinet.XXXXXX";
        if (!::mkdtemp(name.data()))
            std::abort();
        std::atexit([] { QDir(workFolder()).removeRecursively(); });
        return QString::fromLocal8Bit(name);
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace ravelin;
    const QString work = workFolder();
    const QString cabinet = work + QStringLiteral("/input.cab");
    const QString out = work + QStringLiteral("/out");
    {
        QFile file(cabinet);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
            std::abort();
    }

    QList<cabreader::Entry> entries;
    QString error;
    const bool listed = cabreader::list(cabinet, &entries, &error);
    if (!listed && error.isEmpty())
        std::abort(); // a refusal always says why
    const bool tested = cabreader::test(cabinet, &error);
    if (!tested && error.isEmpty())
        std::abort();

    QStringList written;
    if (!cabreader::extractAll(cabinet, out, &written, &error) && error.isEmpty())
        std::abort();
    for (const QString& path : written)
        if (!QFileInfo(path).absoluteFilePath().startsWith(out + QLatin1Char('/')))
            std::abort();
    // Nothing may appear in the work folder but the input and the output folder.
    for (const QString& name : QDir(work).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        if (name != QLatin1String("input.cab") && name != QLatin1String("out"))
            std::abort();
    if (!entries.isEmpty())
        cabreader::extractFile(cabinet, entries.first().name, work + QStringLiteral("/one"), &error);
    QFile::remove(work + QStringLiteral("/one"));
    QDir(out).removeRecursively();
    return 0;
}
