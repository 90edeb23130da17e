// libFuzzer target: from an INF's install directory and a listed name to the file written; the result must
// never leave the install directory. Input: subdirectory, a line feed, the file name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QStringList>

#include "setup/installer/installpaths.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace ravelin::installer;
    const QString input =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype split = input.indexOf(u'\n');
    const QString subdirectory = split < 0 ? input : input.left(split);
    const QString name = split < 0 ? QStringLiteral("a") : input.mid(split + 1);
    const QString root = QStringLiteral("/fuzz/root");

    const std::optional<QString> dir = destinationDirectory(root, subdirectory);
    const std::optional<QString> file = destinationFile(root, subdirectory, name);
    if (file && !dir)
        std::abort();
    if (!file)
        return 0;
    // Inside the root, by plain components: none climbs, none is empty.
    if (!file->startsWith(root + u'/'))
        std::abort();
    const QStringList parts = file->mid(root.size() + 1).split(u'/');
    for (const QString& part : parts)
        if (part.isEmpty() || part == u".." || part == u"." || part.contains(u'\\'))
            std::abort();
    if (parts.last() != name || !isSafeFileName(name))
        std::abort();
    return 0;
}
