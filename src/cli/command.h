#pragma once
// The command table of ravelin-cab. A command file defines one static
// Registration; main() looks the first argument up here.
//
// Exit status convention: 0 success, 1 failure (reason on standard error),
// 2 bad usage.
#include <QStringList>
#include <functional>
#include <vector>

namespace ravelin::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct Command {
    const char* name;     // "n", "l", "encrypt", ...
    const char* synopsis; // one usage line, without the program name
    const char* summary;  // one sentence for --help
    // Receives the arguments after the command name.
    std::function<int(const QStringList& args)> run;
};

const std::vector<Command>& commands();

struct Registration {
    explicit Registration(Command command);
};

// Prints "ravelin-cab: <text>" on standard error.
void error(const QString& text);
// Prints the usage line of `command` on standard error and returns kExitUsage.
int usage(const char* command);

}  // namespace ravelin::cli
