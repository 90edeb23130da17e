#include "tools/nativepath.h"

#include <QFile>
#include <QStringList>
#include <QUrl>

#include <dirent.h>

#include "platform/io.h"

namespace ravelin::tools {

namespace {

void appendHex(QString& out, unsigned value)
{
    out += QStringLiteral("\\x");
    out += QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0'));
}

// Whether the folder `folder` (bytes) holds `component` under its encoded
// name and no other entry that decodes to the same text.
bool folderHoldsOnly(const QByteArray& folder, const QString& component)
{
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return false;
    const QByteArray wanted = QFile::encodeName(component);
    bool exact = false;
    bool lookAlike = false;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (QFile::decodeName(name) != component)
            continue;
        if (name == wanted)
            exact = true;
        else
            lookAlike = true;
    }
    ::closedir(dir);
    return exact && !lookAlike;
}

} // namespace

QString displayPath(const QByteArray& bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        const qsizetype n =
            qsizetype(io::utf8SequenceLength(bytes.constData(), std::size_t(bytes.size()), std::size_t(i)));
        if (n == 0) {
            appendHex(out, b);
            ++i;
            continue;
        }
        if (n == 1) {
            if (b < 0x20 || b == 0x7f)
                appendHex(out, b);
            else
                out += QLatin1Char(char(b));
            ++i;
            continue;
        }
        const QString decoded = QString::fromUtf8(bytes.constData() + i, n);
        const char32_t cp = decoded.toUcs4().value(0);
        if (cp >= 0x80 && cp <= 0x9f)
            appendHex(out, unsigned(cp));
        else
            out += decoded;
        i += n;
    }
    return out;
}

bool textNamesOnePath(const QString& path)
{
    if (!path.contains(QChar::ReplacementCharacter))
        return true;
    const QStringList parts = path.split(QLatin1Char('/'));
    QByteArray prefix; // the bytes of the components before the current one
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString& part = parts[i];
        if (part.contains(QChar::ReplacementCharacter)) {
            QByteArray folder = prefix;
            if (i == 0)
                folder = ".";
            else if (folder.isEmpty())
                folder = "/";
            if (!folderHoldsOnly(folder, part))
                return false;
        }
        if (i > 0)
            prefix += '/';
        prefix += QFile::encodeName(part);
    }
    return true;
}

QByteArray localFileBytes(const QUrl& url)
{
    if (!url.isLocalFile())
        return QByteArray();
    // The fully encoded path keeps every byte that is not UTF-8 as its
    // percent escape; decoding the escapes gives the bytes themselves.
    QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    const QString host = url.host();
    if (!host.isEmpty())
        bytes.prepend("//" + host.toUtf8());
    return bytes;
}

bool localFileSurvivesAsText(const QUrl& url)
{
    return url.isLocalFile() && QFile::encodeName(url.toLocalFile()) == localFileBytes(url);
}

QString cannotOpenFileText(const QString& path, int error)
{
    QString text = QStringLiteral("Cannot open file %1").arg(path);
    if (error == io::kNotRegularFile)
        text += QStringLiteral(": ") + QString::fromStdString(io::reasonText(error));
    return text;
}

} // namespace ravelin::tools
