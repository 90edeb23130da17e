#pragma once
// The command table of ravelin-cab. A command file defines one static
// Registration; main() looks the first argument up here.
//
// Exit status convention: 0 success, 1 failure (reason on standard error),
// 2 bad usage.
#include <QStringList>
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

struct Command {
    const char* name;     // "n", "l", "encrypt", ...
    const char* synopsis; // one usage line, without the program name
    const char* summary;  // one sentence for --help
    // Receives the arguments after the command name, as the bytes of argv.
    std::function<int(const Args& args)> run;
};

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

}  // namespace ravelin::cli
