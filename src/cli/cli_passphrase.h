#pragma once
// The pass phrase of the commands that encrypt (encrypt, decrypt, package).
// It is never taken from the command line, where other users can read it:
//   1. the first line of --pass-file, without its line end ("\n" or "\r\n");
//      the file must be a regular file and only its first 4 KiB are read;
//   2. else the environment variable RAVELIN_PASSPHRASE;
//   3. else it is asked for on the controlling terminal without echo
//      (twice when `confirm` is true, and both must match).
// Every source is UTF-8 text; bytes that are not UTF-8 are refused, never
// replaced. The cipher keys with the phrase's Windows-1252 bytes, so a phrase
// holding a character without one is refused too (passPhraseProblem).
#include <QString>

#include <cstddef>
#include <string>

namespace ravelin::cli {

inline constexpr int kMinPassPhrase = 16;
inline constexpr int kMaxPassPhrase = 56;
// The most of a pass file that is read.
inline constexpr std::size_t kMaxPassFileRead = 4096;

struct PassPhrase {
    bool ok = false;
    QString text;      // the phrase, when ok
    std::string error; // why there is none, when not ok (paths as their bytes)
};

// Reads the phrase from the first source that is present; `passFile` (bytes)
// empty means no --pass-file was given. Not checked against the rules.
PassPhrase readPassPhrase(const std::string& passFile, bool confirm);

// The rule the encrypt window applies: 16 to 56 characters, every character
// counting, each with a Windows-1252 byte. Empty when acceptable, else the
// reason.
std::string passPhraseProblem(const QString& phrase);

// readPassPhrase followed by passPhraseProblem: the phrase ready for the
// cipher, or ok == false with the reason.
PassPhrase acceptablePassPhrase(const std::string& passFile, bool confirm);

} // namespace ravelin::cli
