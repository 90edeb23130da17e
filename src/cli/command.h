#pragma once
// The command table of ravelin-cab. A command file defines one static
// Registration; main() looks the first argument up here.
//
// Exit status convention: 0 success, 1 failure (reason on standard error),
// 2 bad usage.
#include <QStringList>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace ravelin::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Arguments are the bytes the caller passed: a path that is not valid UTF-8
// stays the path it names.
using Args = std::vector<std::string>;

// One option of a command, for parseArguments() and the command's help.
struct Option {
    const char* longName;  // "recursive": given as --recursive
    char shortName;        // 'r': given as -r; 0 when there is none
    const char* valueName; // "FILE" when the option takes a value, else nullptr
    const char* help;      // one sentence
};

struct Command {
    const char* name;     // "n", "l", "encrypt", ...
    const char* synopsis; // one usage line, without the program name
    const char* summary;  // one sentence for --help
    // Receives the arguments after the command name, as the bytes of argv.
    std::function<int(const Args& args)> run;
    std::vector<Option> options = {}; // besides --help, which every command has
};

// The options and operands of one command line.
struct Parsed {
    std::vector<std::pair<std::string, std::string>> given; // long name and value, in the order given
    Args operands;                                          // everything else, in order

    bool has(const std::string& longName) const;
    // The value of the last use of the option ("" when not given).
    std::string value(const std::string& longName) const;
    std::vector<std::string> values(const std::string& longName) const;
};

// Parses `args` for `command` with getopt_long: options may come anywhere
// before "--", short options may be joined ("-rp"), a value may follow
// as the next argument or after "=". Returns -1 when the command should run;
// otherwise the exit status to end with: 0 after --help (the command's help
// printed on standard output), kExitUsage after an unknown option or a
// missing value (the reason and the usage printed on standard error).
int parseArguments(const char* command, const Args& args, Parsed* parsed);

// The words of `text` wrapped at 79 columns, each line indented by `indent`
// columns; with `firstColumn` set, the first line continues a line already
// at that column.
void printWrapped(std::FILE* to, const std::string& text, int indent, int firstColumn = -1);

// The command's usage, summary and options, as `help CMD` prints them.
void printCommandHelp(const Command& command, std::FILE* to);
const Command* findCommand(const std::string& name);

const std::vector<Command>& commands();

struct Registration {
    explicit Registration(Command command);
};

// Prints "ravelin-cab: <text>" on standard error.
void error(const QString& text);
// Prints "ravelin-cab: <text>" with the bytes of `text` as they are, control
// bytes escaped (see escaped()).
void error(const std::string& text);

// `bytes` with every control byte (C0, DEL, C1 in UTF-8 and as single bytes)
// written as \xNN, so that one name prints as one line and cannot steer the
// terminal. Other bytes, valid UTF-8 or not, are kept.
std::string escaped(const std::string& bytes);

// The arguments as text, for commands that only take text (not paths).
QStringList toText(const Args& args);
// Prints the usage line of `command` on standard error and returns kExitUsage.
int usage(const char* command);

} // namespace ravelin::cli
