#include "settings/preferences.h"

#include <QSettings>
#include <QVariant>
#include <limits>

#include "platform/constants.h"

namespace ravelin::settings {

std::optional<int> parseInteger(const QString& text)
{
    if (text.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        for (qsizetype i = 2; i < text.size(); ++i) {
            const char16_t c = text[i].unicode();
            int digit;
            if (c >= u'0' && c <= u'9')
                digit = c - u'0';
            else if (c >= u'a' && c <= u'f')
                digit = c - u'a' + 10;
            else if (c >= u'A' && c <= u'F')
                digit = c - u'A' + 10;
            else
                return std::nullopt;
            value = value * 16 + digit;
            if (value > std::numeric_limits<int>::max())
                return std::nullopt;
        }
        return static_cast<int>(value);
    }
    qsizetype i = 0;
    bool negative = false;
    if (text[0] == u'+' || text[0] == u'-') {
        negative = text[0] == u'-';
        i = 1;
    }
    if (i == text.size())
        return std::nullopt;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
        // One past the positive limit is still allowed for the negative minimum.
        if (value > qint64(std::numeric_limits<int>::max()) + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min())
        return std::nullopt;
    return static_cast<int>(value);
}

Preferences::Preferences()
    : m_settings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                             QString::fromLatin1(kOrganisationName),
                                             QString::fromLatin1(kApplicationName)))
{
    m_settings->beginGroup(QString::fromLatin1(kSettingsGroup));
}

Preferences::Preferences(const QString& filePath)
    : m_settings(std::make_unique<QSettings>(filePath, QSettings::IniFormat))
{
    m_settings->beginGroup(QString::fromLatin1(kSettingsGroup));
}

Preferences::~Preferences()
{
    m_settings->sync();
}

QString Preferences::storedName(const QString& name) const
{
    const QStringList keys = m_settings->childKeys();
    if (keys.contains(name))
        return name;
    for (const QString& key : keys)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return key;
    return QString();
}

bool Preferences::contains(const QString& name) const
{
    return !storedName(name).isEmpty();
}

QString Preferences::readString(const QString& name, const QString& defaultValue) const
{
    const QString key = storedName(name);
    if (key.isEmpty())
        return defaultValue;
    const QVariant value = m_settings->value(key);
    switch (value.metaType().id()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::QStringList:
        // The INI reader splits an unquoted "a, b" into a list.
        return value.toStringList().join(u',');
    case QMetaType::QByteArray:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Bool:
        return value.toString();
    default:
        // Anything else (a serialised variant from a damaged file) is not ours.
        return defaultValue;
    }
}

int Preferences::readInteger(const QString& name, int defaultValue) const
{
    if (!contains(name))
        return defaultValue;
    return parseInteger(readString(name)).value_or(defaultValue);
}

bool Preferences::readBoolean(const QString& name, bool defaultValue) const
{
    if (!contains(name))
        return defaultValue;
    const std::optional<int> value = parseInteger(readString(name));
    return value ? *value != 0 : defaultValue;
}

bool Preferences::writeString(const QString& name, const QString& value)
{
    const QString old = storedName(name);
    if (!old.isEmpty() && old != name)
        m_settings->remove(old);
    m_settings->setValue(name, value);
    return sync();
}

bool Preferences::writeInteger(const QString& name, int value)
{
    return writeString(name, QString::number(value));
}

bool Preferences::writeBoolean(const QString& name, bool value)
{
    return writeString(name, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool Preferences::remove(const QString& name)
{
    const QString key = storedName(name);
    if (key.isEmpty())
        return true;
    m_settings->remove(key);
    return sync();
}

QStringList Preferences::names() const
{
    return m_settings->childKeys();
}

bool Preferences::sync()
{
    m_settings->sync();
    // A file that could not be parsed is still replaced by a good one on write;
    // only a failed write counts here.
    return m_settings->status() != QSettings::AccessError;
}

} // namespace ravelin::settings
