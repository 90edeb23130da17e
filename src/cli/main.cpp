// ravelin-cab: build, list, extract, test, encrypt and package cabinets.
#include <QCoreApplication>
#include <algorithm>
#include <cstdio>

#include "cli/command.h"
#include "platform/constants.h"

using namespace ravelin::cli;

// Prints `text` as words wrapped at 79 columns, each line indented by six.
static void printWrapped(FILE* to, const char* text)
{
    const QStringList words = QString::fromUtf8(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QString line;
    for (const QString& word : words) {
        if (!line.isEmpty() && 6 + line.size() + 1 + word.size() > 79) {
            std::fprintf(to, "      %s\n", line.toUtf8().constData());
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    if (!line.isEmpty())
        std::fprintf(to, "      %s\n", line.toUtf8().constData());
}

static void printHelp(FILE* to)
{
    std::fprintf(to, "usage: ravelin-cab COMMAND [ARGS...]\n\n");
    std::vector<const Command*> sorted;
    for (const Command& c : commands())
        sorted.push_back(&c);
    for (const Command* c : sorted) {
        std::fprintf(to, "  ravelin-cab %s\n", c->synopsis);
        printWrapped(to, c->summary);
    }
    std::fprintf(to, "\n  ravelin-cab --help       this text\n  ravelin-cab --version    the version\n");
    std::fprintf(to, "\nExit status: 0 success, 1 failure, 2 bad usage.\n");
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ravelin-cab"));
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty()) {
        printHelp(stderr);
        return kExitUsage;
    }
    const QString first = args.takeFirst();
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        printHelp(stdout);
        return kExitOk;
    }
    if (first == QLatin1String("--version")) {
        std::printf("ravelin-cab %s (%s)\n", ravelin::kVersionText, ravelin::kApplicationTitle);
        return kExitOk;
    }
    for (const Command& c : commands())
        if (first == QLatin1String(c.name))
            return c.run(args);
    error(QStringLiteral("unknown command '%1' (try --help)").arg(first));
    return kExitUsage;
}
