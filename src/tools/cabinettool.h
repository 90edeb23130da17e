#pragma once
// Running the outside cabinet lister for the cabinet information viewer.
//
// The lister is `ravelin-cab l NAME...`, looked for beside the running
// program first and then on PATH. The cabinet name text is split into
// arguments the way a command interpreter splits words with double quotes
// (QProcess::splitCommand): a quoted path stays one argument, an unquoted path
// with spaces becomes several. Nothing is given to a shell, so "$(...)",
// backquotes, ";" and ">" in a name are plain characters of an argument.
//
// Threads: user-interface thread (the run blocks the calling thread).
#include <QString>
#include <QStringList>

namespace ravelin::tools {

// The program's name, as looked up beside the program and on PATH.
inline constexpr const char* kCabinetToolName = "ravelin-cab";
// The listing file, relative to the working directory at the moment of the run.
inline constexpr const char* kListingFileName = "cabinf.TXT";
// Longest command line the viewer builds (see cabinetListCommandLine()).
inline constexpr int kMaxCommandLine = 512;

// The lister to run: the override when one is set, else `ravelin-cab` beside
// the program (QCoreApplication::applicationDirPath()) when it is an
// executable file there, else the one found on PATH; empty when there is none.
QString cabinetToolPath();

// Makes cabinetToolPath() return `path` (tests point it at the built tool or
// at a stand-in; a path that does not exist makes the tool "not found").
// An empty string removes the override.
void setCabinetToolOverride(const QString& path);

// The command line as a user would type it for `cabinetName`:
// "ravelin-cab l " + cabinetName + " > cabinf.TXT". Its length is what the
// 512-character limit measures.
QString cabinetListCommandLine(const QString& cabinetName);

// The arguments given to the lister: "l" followed by `cabinetName` split as
// described above (an empty name gives "l" alone).
QStringList cabinetListArguments(const QString& cabinetName);

// Runs `program` with `arguments`, hidden (no terminal), with no input, in the
// current working directory and environment, and waits without a time limit.
// Standard output and standard error both go to `outputFile`, which is
// created or truncated once the program is known to exist. Returns the exit
// code, or -1 when the program is empty or not an executable file (then
// `outputFile` is not touched), cannot be started, or did not exit normally.
// When the program could not be run at all (empty, not an executable file,
// not started), `*notRun` (when given) gets the system's reason, such as
// "No such file or directory"; otherwise it is left empty.
int runAndWait(const QString& program, const QStringList& arguments, const QString& outputFile,
               QString* notRun = nullptr);

} // namespace ravelin::tools
