#include "setup/installer/infreader.h"

#include <QHash>

namespace ravelin::installer {

const InfSection* InfDocument::section(const QString& name) const
{
    for (const InfSection& s : sections)
        if (s.name.compare(name, Qt::CaseInsensitive) == 0)
            return &s;
    return nullptr;
}

const InfEntry* InfDocument::entry(const QString& sectionName, const QString& key) const
{
    const InfSection* s = section(sectionName);
    if (!s)
        return nullptr;
    for (const InfEntry& e : s->entries)
        if (e.hasKey && e.key.compare(key, Qt::CaseInsensitive) == 0)
            return &e;
    return nullptr;
}

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

// One field: outer blanks trimmed, quoted parts unquoted ("" is a quote),
// blanks inside quotes kept.
QString unquote(QStringView text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    QString out;
    out.reserve(end - begin);
    bool quoted = false;
    for (qsizetype i = begin; i < end; ++i) {
        const QChar c = text[i];
        if (c == u'"') {
            if (quoted && i + 1 < end && text[i + 1] == u'"') {
                out += u'"';
                ++i;
            } else {
                quoted = !quoted;
            }
        } else {
            out += c;
        }
    }
    return out;
}

// Position of the first `wanted` outside quotes at or after `from`, or -1.
qsizetype findOutsideQuotes(QStringView text, QChar wanted, qsizetype from = 0)
{
    bool quoted = false;
    for (qsizetype i = from; i < text.size(); ++i) {
        if (text[i] == u'"')
            quoted = !quoted;
        else if (!quoted && text[i] == wanted)
            return i;
    }
    return -1;
}

bool quotesBalanced(QStringView text)
{
    return text.count(u'"') % 2 == 0;
}

} // namespace

QStringList splitInfFields(const QString& text)
{
    QStringList fields;
    qsizetype start = 0;
    for (;;) {
        const qsizetype comma = findOutsideQuotes(text, u',', start);
        if (comma < 0) {
            fields << unquote(QStringView(text).mid(start));
            return fields;
        }
        fields << unquote(QStringView(text).mid(start, comma - start));
        start = comma + 1;
    }
}

bool parseInf(const QByteArray& bytes, InfDocument* document, QString* error)
{
    document->sections.clear();
    auto fail = [error](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (bytes.size() > kMaxInfSize)
        return fail(QStringLiteral("the INF file is larger than %1 bytes").arg(kMaxInfSize));

    const qsizetype nul = bytes.indexOf('\0');
    const QString text = QString::fromLocal8Bit(nul < 0 ? bytes : bytes.left(nul));

    qsizetype current = -1;                // index of the section that takes the entries
    QHash<QString, qsizetype> indexByName; // folded name -> index
    int lineNumber = 0;
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype end = pos;
        while (end < text.size() && text[end] != u'\r' && text[end] != u'\n')
            ++end;
        QStringView line = QStringView(text).mid(pos, end - pos);
        ++lineNumber;
        // CR LF is one line end, as are a lone CR and a lone LF.
        pos = end;
        if (pos < text.size() && text[pos] == u'\r')
            ++pos;
        if (pos < text.size() && text[pos] == u'\n')
            ++pos;

        const qsizetype semicolon = findOutsideQuotes(line, u';');
        if (semicolon >= 0)
            line = line.left(semicolon);
        if (!quotesBalanced(line))
            return fail(QStringLiteral("line %1: a quote is not closed").arg(lineNumber));
        line = line.trimmed();
        if (line.isEmpty())
            continue;

        if (line.startsWith(u'[')) {
            const qsizetype close = line.indexOf(u']');
            if (close < 0)
                return fail(QStringLiteral("line %1: a section name lacks its \"]\"").arg(lineNumber));
            const QString name = line.mid(1, close - 1).trimmed().toString();
            const QString folded = name.toCaseFolded();
            current = indexByName.value(folded, -1);
            if (current < 0) {
                document->sections.append(InfSection{name, {}});
                current = document->sections.size() - 1;
                indexByName.insert(folded, current);
            }
            continue;
        }
        if (current < 0)
            continue;

        InfEntry entry;
        entry.lineNumber = lineNumber;
        const QString whole = line.toString();
        entry.lineFields = splitInfFields(whole);
        const qsizetype equals = findOutsideQuotes(line, u'=');
        if (equals >= 0) {
            entry.hasKey = true;
            entry.key = unquote(line.left(equals));
            entry.fields = splitInfFields(line.mid(equals + 1).toString());
        } else {
            entry.fields = entry.lineFields;
        }
        document->sections[current].entries.append(std::move(entry));
    }
    return true;
}

} // namespace ravelin::installer
