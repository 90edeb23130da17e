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

std::optional<QString> destinationDirectory(const QString& root, const QString& subdirectory)
{
    QString base = root;
    while (base.endsWith(u'/'))
        base.chop(1);
    QStringList parts;
    for (const QString& part : subdirectory.split(QRegularExpression(QStringLiteral("[\\\\/]")))) {
        if (part.isEmpty())
            continue;
        if (part == u"..")
            return std::nullopt;
        if (part.contains(QChar(0)))
            return std::nullopt;
        if (part == u".")
            continue;
        parts << part;
    }
    return base + u'/' + parts.join(u'/');
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

}  // namespace ravelin::installer
