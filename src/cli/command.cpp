#include "cli/command.h"

#include <cstdio>
#include <getopt.h>

#include "platform/io.h"

namespace ravelin::cli {

static std::vector<Command>& table()
{
    static std::vector<Command> t;
    return t;
}

const std::vector<Command>& commands()
{
    return table();
}

Registration::Registration(Command command)
{
    table().push_back(std::move(command));
}

void error(const QString& text)
{
    std::fprintf(stderr, "ravelin-cab: %s\n", text.toLocal8Bit().constData());
}

void error(const std::string& text)
{
    std::fprintf(stderr, "ravelin-cab: %s\n", escaped(text).c_str());
}

std::string escaped(const std::string& bytes)
{
    std::string out;
    out.reserve(bytes.size());
    const auto hex = [&out](unsigned char b) {
        static const char digits[] = "0123456789abcdef";
        out += "\\x";
        out += digits[b >> 4];
        out += digits[b & 15];
    };
    for (std::size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        const std::size_t n = io::utf8SequenceLength(bytes.data(), bytes.size(), i);
        if (n == 0) {
            // Not UTF-8: kept as it is, unless a terminal could take it as a C1 control.
            if (b >= 0x80 && b <= 0x9f)
                hex(b);
            else
                out += char(b);
            ++i;
        } else if (n == 1 && (b < 0x20 || b == 0x7f)) {
            hex(b);
            ++i;
        } else if (n == 2 && b == 0xc2 && static_cast<unsigned char>(bytes[i + 1]) <= 0x9f) {
            hex(b);
            hex(static_cast<unsigned char>(bytes[i + 1]));
            i += 2;
        } else {
            out.append(bytes, i, n);
            i += n;
        }
    }
    return out;
}

QStringList toText(const Args& args)
{
    QStringList list;
    for (const std::string& a : args)
        list << QString::fromStdString(a);
    return list;
}

void printWrapped(std::FILE* to, const std::string& text, int indent, int firstColumn)
{
    std::string line;
    int column = firstColumn < 0 ? indent : firstColumn;
    bool first = true;
    std::size_t i = 0;
    if (firstColumn < 0)
        std::fprintf(to, "%*s", indent, "");
    while (i < text.size()) {
        const std::size_t end = text.find(' ', i);
        const std::string word = text.substr(i, end == std::string::npos ? std::string::npos : end - i);
        i = end == std::string::npos ? text.size() : end + 1;
        if (word.empty())
            continue;
        if (!first && column + 1 + int(word.size()) > 79) {
            std::fprintf(to, "\n%*s", indent, "");
            column = indent;
            first = true;
        }
        std::fprintf(to, "%s%s", first ? "" : " ", word.c_str());
        column += int(word.size()) + (first ? 0 : 1);
        first = false;
    }
    std::fprintf(to, "\n");
}

bool Parsed::has(const std::string& longName) const
{
    for (const auto& g : given)
        if (g.first == longName)
            return true;
    return false;
}

std::string Parsed::value(const std::string& longName) const
{
    std::string v;
    for (const auto& g : given)
        if (g.first == longName)
            v = g.second;
    return v;
}

std::vector<std::string> Parsed::values(const std::string& longName) const
{
    std::vector<std::string> v;
    for (const auto& g : given)
        if (g.first == longName)
            v.push_back(g.second);
    return v;
}

const Command* findCommand(const std::string& name)
{
    for (const Command& c : table())
        if (name == c.name)
            return &c;
    return nullptr;
}

namespace {

std::string optionLabel(const Option& o)
{
    std::string label = o.shortName ? std::string("-") + o.shortName + ", " : std::string("    ");
    label += std::string("--") + o.longName;
    if (o.valueName)
        label += std::string(" ") + o.valueName;
    return label;
}

} // namespace

void printCommandHelp(const Command& command, std::FILE* to)
{
    std::fprintf(to, "usage: ravelin-cab %s\n\n", command.synopsis);
    printWrapped(to, command.summary, 2);
    std::vector<Option> all = command.options;
    all.push_back({"help", 0, nullptr, "print this help and exit"});
    std::fprintf(to, "\nOptions:\n");
    for (const Option& o : all) {
        const std::string label = optionLabel(o);
        if (label.size() + 4 <= 26) {
            std::fprintf(to, "  %-24s", label.c_str());
            printWrapped(to, o.help, 26, 26);
        } else {
            std::fprintf(to, "  %s\n", label.c_str());
            printWrapped(to, o.help, 26);
        }
    }
}

int parseArguments(const char* command, const Args& args, Parsed* parsed)
{
    const Command* c = findCommand(command);
    if (!c)
        return kExitUsage;
    std::vector<Option> all = c->options;
    all.push_back({"help", 0, nullptr, nullptr});
    std::vector<::option> longOptions;
    std::string shortOptions = ":"; // a missing value reports ':'
    for (std::size_t i = 0; i < all.size(); ++i) {
        longOptions.push_back(
            {all[i].longName, all[i].valueName ? required_argument : no_argument, nullptr, int(0x100 + i)});
        if (all[i].shortName) {
            shortOptions += all[i].shortName;
            if (all[i].valueName)
                shortOptions += ':';
        }
    }
    longOptions.push_back({nullptr, 0, nullptr, 0});

    std::string program = std::string("ravelin-cab ") + command;
    std::vector<std::string> storage(args.begin(), args.end());
    std::vector<char*> argv;
    argv.push_back(program.data());
    for (std::string& a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    optind = 0; // start afresh (GNU: also re-reads the environment)
    opterr = 0;
    for (;;) {
        int longIndex = -1;
        const int code = ::getopt_long(int(argv.size() - 1), argv.data(), shortOptions.c_str(),
                                       longOptions.data(), &longIndex);
        if (code == -1)
            break;
        if (longIndex >= 0 && code != '?' && code != ':') {
            // getopt_long takes any unambiguous abbreviation ("--pass" for
            // "--pass-file"); options here are spelled in full, so that a
            // mistyped option never turns into another one.
            const bool separateValue = optarg && optind >= 2 && optarg == argv[std::size_t(optind - 1)];
            const std::string word = argv[std::size_t(optind - (separateValue ? 2 : 1))];
            const std::string full = std::string("--") + all[std::size_t(longIndex)].longName;
            if (word != full && word.rfind(full + "=", 0) != 0) {
                error(std::string(command) + ": unknown option " + word.substr(0, word.find('=')));
                return usage(command);
            }
        }
        if (code == '?' || code == ':') {
            const std::string what = optopt >= 0x100 || optopt == 0 ? std::string(argv[optind - 1])
                                                                    : std::string("-") + char(optopt);
            error(std::string(command) + ": " +
                  (code == ':' ? "option " + what + " needs a value" : "unknown option " + what));
            return usage(command);
        }
        std::size_t index = all.size();
        if (code >= 0x100)
            index = std::size_t(code - 0x100);
        else
            for (std::size_t i = 0; i < all.size(); ++i)
                if (all[i].shortName == code)
                    index = i;
        if (index >= all.size())
            return usage(command);
        if (std::string(all[index].longName) == "help") {
            printCommandHelp(*c, stdout);
            return kExitOk;
        }
        parsed->given.emplace_back(all[index].longName, optarg ? std::string(optarg) : std::string());
    }
    for (int i = optind; i < int(argv.size() - 1); ++i)
        parsed->operands.push_back(argv[std::size_t(i)]);
    return -1;
}

int usage(const char* command)
{
    for (const Command& c : table())
        if (qstrcmp(c.name, command) == 0)
            std::fprintf(stderr, "usage: ravelin-cab %s\n", c.synopsis);
    return kExitUsage;
}

} // namespace ravelin::cli
