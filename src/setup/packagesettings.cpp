#include "setup/packagesettings.h"

#include <QList>
#include <QStringView>
#include <cerrno>

#include "platform/io.h"

namespace ravelin::setup {

// setup.ini is eight short lines; anything past this is not read.
static constexpr qsizetype kMaxSetupIniSize = 1024 * 1024;

PackageSettings parseSetupIni(const QByteArray& bytes)
{
    PackageSettings settings;
    QString* targets[] = {
        &settings.title,   &settings.description,  &settings.readmeFileName,  &settings.encryptedCabinet,
        &settings.cabinet, &settings.encryptedInf, &settings.installDirectory};
    bool seen[7] = {};

    const QString text = QString::fromLocal8Bit(bytes.left(kMaxSetupIniSize));
    bool inGeneral = false;
    for (QStringView line : QStringView(text).split(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[')) {
            const qsizetype close = line.indexOf(u']');
            const QStringView name = line.mid(1, close < 0 ? -1 : close - 1).trimmed();
            inGeneral = name.compare(u"General", Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!inGeneral)
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            continue;
        const QStringView key = line.left(equals).trimmed();
        if (key.size() != 2 || (key[0] != u'a' && key[0] != u'A') || key[1] < u'1' || key[1] > u'7')
            continue;
        const int index = key[1].unicode() - u'1';
        if (seen[index])
            continue;
        seen[index] = true;
        QStringView value = line.mid(equals + 1).trimmed();
        if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
            value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        *targets[index] = value.toString();
    }
    return settings;
}

PackageSettings readSetupIni(const std::string& directory, std::string* error)
{
    // A regular file only: a pipe under the name must not hold the program.
    const std::string path = directory + "/" + kSetupIniName;
    int failed = 0;
    io::Fd file = io::openForReading(path, &failed);
    QByteArray text(kMaxSetupIniSize, Qt::Uninitialized);
    const ssize_t n = file ? io::readAll(file.get(), text.data(), std::size_t(text.size())) : -1;
    if (n < 0) {
        if (error)
            *error = io::describe(path, file ? errno : failed);
        return PackageSettings();
    }
    if (error)
        error->clear();
    text.truncate(n);
    return parseSetupIni(text);
}

} // namespace ravelin::setup
