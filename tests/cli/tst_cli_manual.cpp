// Proves the manual page ravelin-cab.1 is in step with the program: the same commands, each with the same
// synopsis and the same options as "ravelin-cab help CMD" prints.
#include <QRegularExpression>
#include <QtTest>

#include "support/testutil.h"

using namespace ravelin;

namespace {

// One command as a text describes it.
struct Described {
    QString synopsis;
    QStringList options; // "-r" and "--recursive", sorted; --help (which every command has) left out
};

QStringList optionNames(const QString& text)
{
    static const QRegularExpression option(QStringLiteral("(?<![\\w-])(--?[A-Za-z0-9][\\w-]*)"));
    QStringList names;
    for (auto it = option.globalMatch(text); it.hasNext();) {
        const QString name = it.next().captured(1);
        if (name != QLatin1String("--help") && !names.contains(name))
            names << name;
    }
    return names;
}

// The commands as ravelin-cab --help and help CMD list them.
QMap<QString, Described> fromProgram()
{
    QMap<QString, Described> commands;
    const auto all = test::run(QStringLiteral(RAVELIN_CAB), {QStringLiteral("--help")});
    static const QRegularExpression line(QStringLiteral("^  ravelin-cab ([a-z]\\S*)"),
                                         QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(QString::fromUtf8(all.out)); it.hasNext();) {
        const QString name = it.next().captured(1);
        if (name == QLatin1String("help"))
            continue;
        const auto help = test::run(QStringLiteral(RAVELIN_CAB), {QStringLiteral("help"), name});
        const QStringList lines = QString::fromUtf8(help.out).split(QLatin1Char('\n'));
        Described d;
        d.synopsis = lines.value(0).remove(QStringLiteral("usage: ravelin-cab "));
        // "  -r, --recursive ..." or "      --sfx EXTRACTOR ...": a label in the first 26 columns.
        static const QRegularExpression label(QStringLiteral("^  (-\\w, |    )--"));
        for (const QString& l : lines)
            if (label.match(l).hasMatch())
                d.options += optionNames(l.left(26));
        d.options.sort();
        commands.insert(name, d);
    }
    return commands;
}

// The commands as the manual page's COMMANDS section describes them: a .SS line with the synopsis, then a
// .TP paragraph for each option.
QMap<QString, Described> fromManual()
{
    QMap<QString, Described> commands;
    QString text = QString::fromUtf8(test::readFile(QStringLiteral(RAVELIN_MANPAGE)));
    text.replace(QLatin1String("\\-"), QLatin1String("-"));
    text.remove(QRegularExpression(QStringLiteral("\\\\f[BIRP]")));
    const QStringList lines = text.split(QLatin1Char('\n'));
    QString current;
    bool inCommands = false;
    for (int i = 0; i < lines.size(); ++i) {
        const QString& l = lines[i];
        if (l.startsWith(QLatin1String(".SH"))) {
            inCommands = l == QLatin1String(".SH COMMANDS");
            current.clear();
        } else if (inCommands && l.startsWith(QLatin1String(".SS "))) {
            const QString synopsis = l.mid(4).remove(QLatin1Char('"'));
            current = synopsis.section(QLatin1Char(' '), 0, 0);
            commands[current].synopsis = synopsis;
        } else if (!current.isEmpty() && l == QLatin1String(".TP") && i + 1 < lines.size()) {
            commands[current].options += optionNames(lines[i + 1]);
            commands[current].options.sort();
        }
    }
    return commands;
}

} // namespace

class TestCliManual : public QObject {
    Q_OBJECT
private slots:
    void manualMatchesHelp()
    {
        const QMap<QString, Described> program = fromProgram();
        const QMap<QString, Described> manual = fromManual();
        QVERIFY(program.contains(QStringLiteral("x")) && program.size() >= 9);
        QCOMPARE(manual.keys(), program.keys());
        for (auto it = program.begin(); it != program.end(); ++it) {
            const Described& m = manual[it.key()];
            QCOMPARE(m.synopsis, it->synopsis);
            QVERIFY2(m.options == it->options,
                     qPrintable(it.key() + ": " + m.options.join(' ') + " in the manual, " +
                                it->options.join(' ') + " in help"));
        }
        QCOMPARE(
            program[QStringLiteral("x")].options,
            (QStringList{QStringLiteral("--filter"), QStringLiteral("--overwrite"), QStringLiteral("-F")}));
    }

    void manualRendersCleanly()
    {
        if (!test::haveProgram(QStringLiteral("groff")))
            QSKIP("groff is not installed");
        const auto r = test::run(QStringLiteral("groff"), {"-man", "-Tutf8", "-ww", "-z", RAVELIN_MANPAGE});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestCliManual)
#include "tst_cli_manual.moc"
