#pragma once
// The pass phrase of the commands that encrypt (encrypt, decrypt, package).
// It is never taken from the command line, where other users can read it:
//   1. the first line of --pass-file, without its line end ("\n" or "\r\n");
//   2. else the environment variable RAVELIN_PASSPHRASE;
//   3. else it is asked for on the controlling terminal without echo
//      (twice when `confirm` is true, and both must match).
// Text from a file, the environment or the terminal is decoded as the
// locale's encoding (UTF-8); the cipher keys with one byte per character.
#include <QString>

namespace ravelin::cli {

inline constexpr int kMinPassPhrase = 16;
inline constexpr int kMaxPassPhrase = 56;

struct PassPhrase {
    bool ok = false;
    QString text;  // the phrase, when ok
    QString error; // why there is none, when not ok
};

// Reads the phrase from the first source that is present; `passFile` empty
// means no --pass-file was given. Not checked against the length rule.
PassPhrase readPassPhrase(const QString& passFile, bool confirm);

// The rule the encrypt window applies: 16 to 56 characters, every character
// counting. Empty when acceptable, else the reason.
QString passPhraseProblem(const QString& phrase);

// readPassPhrase followed by passPhraseProblem: the phrase ready for the
// cipher, or ok == false with the reason.
PassPhrase acceptablePassPhrase(const QString& passFile, bool confirm);

} // namespace ravelin::cli
