#include "platform/paths.h"

namespace ravelin::paths {

QString join(const QString& directory, const QString& name)
{
    return directory + QChar(separator) + name;
}

QString namePart(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QChar(separator));
    return slash < 0 ? path : path.mid(slash + 1);
}

QString directoryPart(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QChar(separator));
    return slash < 0 ? QString() : path.left(slash + 1);
}

static qsizetype extensionStart(const QString& path)
{
    const qsizetype dot = path.lastIndexOf(u'.');
    const qsizetype slash = path.lastIndexOf(QChar(separator));
    return dot > slash ? dot : -1;
}

QString extension(const QString& path)
{
    const qsizetype dot = extensionStart(path);
    return dot < 0 ? QString() : path.mid(dot);
}

QString changeExtension(const QString& path, const QString& newExtension)
{
    const qsizetype dot = extensionStart(path);
    return (dot < 0 ? path : path.left(dot)) + newExtension;
}

QString withTrailingSeparator(const QString& directory)
{
    if (directory.endsWith(QChar(separator)))
        return directory;
    return directory + QChar(separator);
}

} // namespace ravelin::paths
