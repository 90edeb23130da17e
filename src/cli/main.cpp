// ravelin-cab: build, list, extract, test, encrypt and package cabinets.
#include <QCoreApplication>
#include <cstdio>

#include "cli/command.h"
#include "platform/constants.h"
#include "platform/io.h"

using namespace ravelin::cli;

static void printHelp(FILE* to)
{
    std::fprintf(to, "usage: ravelin-cab COMMAND [ARGS...]\n\n");
    for (const Command& c : commands()) {
        std::fprintf(to, "  ravelin-cab %s\n", c.synopsis);
        printWrapped(to, c.summary, 6);
    }
    std::fprintf(to, "\n  ravelin-cab help CMD      the options of CMD (also: ravelin-cab CMD --help)\n"
                     "  ravelin-cab --help       this text\n  ravelin-cab --version    the version\n");
    std::fprintf(to, "\nExit status: 0 success, 1 failure, 2 bad usage.\n");
}

int main(int argc, char** argv)
{
    ravelin::io::installSignalCleanup();
    // argv's bytes, not QCoreApplication::arguments(): that decodes them as
    // text and turns a byte that is not UTF-8 into U+FFFD, another path.
    Args args(argv + 1, argv + argc);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ravelin-cab"));
    if (args.empty()) {
        printHelp(stderr);
        return kExitUsage;
    }
    const std::string first = args.front();
    args.erase(args.begin());
    if (first == "--help" || first == "-h") {
        printHelp(stdout);
        return kExitOk;
    }
    if (first == "--version") {
        std::printf("ravelin-cab %s (%s)\n", ravelin::kVersionText, ravelin::kApplicationTitle);
        return kExitOk;
    }
    if (first == "help") {
        if (args.empty()) {
            printHelp(stdout);
            return kExitOk;
        }
        if (const Command* c = findCommand(args.front())) {
            printCommandHelp(*c, stdout);
            return kExitOk;
        }
        error("unknown command '" + args.front() + "' (try --help)");
        return kExitUsage;
    }
    if (const Command* c = findCommand(first)) {
        // Every command answers --help, before "--".
        for (const std::string& a : args) {
            if (a == "--")
                break;
            if (a == "--help") {
                printCommandHelp(*c, stdout);
                return kExitOk;
            }
        }
        return c->run(args);
    }
    error("unknown command '" + first + "' (try --help)");
    return kExitUsage;
}
