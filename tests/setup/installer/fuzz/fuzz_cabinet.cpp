// libFuzzer target: the cabinet reader on arbitrary bytes. The setup program
// installs from a cabinet that comes from elsewhere: listing, testing and
// extracting it must never crash, and extraction must never write outside
// its directory.
#include <QDir>
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

std::string bytes(const QString& path)
{
    return QFile::encodeName(path).toStdString();
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

    std::vector<cabreader::Entry> entries;
    std::string error;
    const bool listed = cabreader::list(bytes(cabinet), &entries, &error);
    if (!listed && error.empty())
        std::abort(); // a refusal always says why
    error.clear();
    const bool tested = cabreader::test(bytes(cabinet), &error);
    if (!tested && error.empty())
        std::abort();

    std::vector<std::string> written;
    error.clear();
    if (!cabreader::extractAll(bytes(cabinet), bytes(out), &written, &error) && error.empty())
        std::abort();
    const std::string prefix = bytes(out) + "/";
    for (const std::string& path : written)
        if (path.compare(0, prefix.size(), prefix) != 0 || path.find("/../") != std::string::npos)
            std::abort();
    // Nothing may appear in the work folder but the input and the output folder.
    for (const QString& name : QDir(work).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        if (name != QLatin1String("input.cab") && name != QLatin1String("out"))
            std::abort();
    if (!entries.empty())
        cabreader::extractFile(bytes(cabinet), entries.front().name, bytes(work + QStringLiteral("/one")),
                               &error);
    QFile::remove(work + QStringLiteral("/one"));
    QDir(out).removeRecursively();
    return 0;
}
