#include "setup/installer/installpaths.h"

#include <QRegularExpression>
#include <QStringList>

#include "platform/paths.h"

namespace ravelin::installer {

bool isSafeFileName(const QString& name)
{
    if (name.isEmpty() || name == u"." || name == u"..")
        return false;
    for (const QChar c : name)
        if (c == u'/' || c == u'\\' || c == QChar(0))
            return false;
    return true;
}

std::optional<QStringList> destinationComponents(const QString& subdirectory)
{
    QStringList parts;
    for (const QString& part : subdirectory.split(QRegularExpression(QStringLiteral("[\\\\/]")))) {
        if (part.isEmpty() || part == u".")
            continue;
        if (part == u".." || part.contains(QChar(0)))
            return std::nullopt;
        parts << part;
    }
    return parts;
}

std::optional<QString> destinationDirectory(const QString& root, const QString& subdirectory)
{
    QString base = root;
    while (base.endsWith(u'/'))
        base.chop(1);
    const std::optional<QStringList> parts = destinationComponents(subdirectory);
    if (!parts)
        return std::nullopt;
    return base + u'/' + parts->join(u'/');
}

std::optional<QString> destinationFile(const QString& root, const QString& subdirectory, const QString& name)
{
    if (!isSafeFileName(name))
        return std::nullopt;
    const std::optional<QString> dir = destinationDirectory(root, subdirectory);
    if (!dir)
        return std::nullopt;
    return paths::withTrailingSeparator(*dir) + name;
}

} // namespace ravelin::installer
