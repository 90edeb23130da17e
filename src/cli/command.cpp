#include "cli/command.h"

#include <cstdio>

namespace ravelin::cli {

static std::vector<Command>& table()
{
    static std::vector<Command> t;
    return t;
}

const std::vector<Command>& commands() { return table(); }

Registration::Registration(Command command) { table().push_back(std::move(command)); }

void error(const QString& text)
{
    std::fprintf(stderr, "ravelin-cab: %s\n", text.toLocal8Bit().constData());
}

int usage(const char* command)
{
    for (const Command& c : table())
        if (qstrcmp(c.name, command) == 0)
            std::fprintf(stderr, "usage: ravelin-cab %s\n", c.synopsis);
    return kExitUsage;
}

}  // namespace ravelin::cli
