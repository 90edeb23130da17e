// ravelin-cab encrypt / decrypt: a file to or from the encrypted-file format
// (headerless Blowfish ECB, zero padding), as the encrypt window writes it.
// Paths are the bytes of argv, used and printed exactly as given.
#include <cstdio>
#include <sys/stat.h>

#include "cli/cli_passphrase.h"
#include "cli/command.h"
#include "crypto/blowfish.h"
#include "platform/io.h"

namespace ravelin::cli {

namespace {

int runCrypto(const char* name, bool encrypt, const Args& args)
{
    const std::string verb = std::string("cannot ") + name + " ";
    Parsed parsed;
    if (const int rc = parseArguments(name, args, &parsed); rc >= 0)
        return rc;
    const std::string passFile = parsed.value("pass-file");
    std::string output = parsed.value("output");
    if (parsed.operands.size() != 1 || parsed.operands[0].empty() ||
        (parsed.has("pass-file") && passFile.empty()) || (parsed.has("output") && output.empty()))
        return usage(name);
    const std::string& input = parsed.operands[0];
    if (!parsed.has("output"))
        output = io::changeExtension(input, encrypt ? ".ecf" : ".cab");

    // What can be told from the files is told before anyone is asked for a
    // pass phrase; the cipher checks all of it again when it opens them.
    int why = 0;
    struct stat st {};
    if (!io::statRegular(input, &st, &why)) {
        error(verb + input + ": " + io::reasonText(why));
        return kExitFailure;
    }
    if (!encrypt && (st.st_size == 0 || st.st_size % 8 != 0)) {
        error(verb + input + ": not an encrypted file (" + std::to_string(st.st_size) +
              " bytes, not a whole number of 8-byte blocks)");
        return kExitFailure;
    }
    if (io::sameFile(input, output)) {
        error(verb + input + ": the output " + output + " is the input file");
        return kExitFailure;
    }

    crypto::TBlowFish fish;
    {
        PassPhrase phrase = acceptablePassPhrase(passFile, encrypt);
        if (!phrase.ok) {
            error(phrase.error);
            return kExitFailure;
        }
        fish.setKey(phrase.text);
        phrase.text.fill(QChar(u'\0'));
    }
    fish.setInputType(crypto::TBlowFish::SourceFile);
    fish.setInputFilePathBytes(input);
    fish.setOutputFilePathBytes(output);
    fish.setCipherMode(crypto::TBlowFish::ECBMode);
    try {
        if (encrypt)
            fish.Encrypt(false);
        else
            fish.Decrypt(false);
    } catch (const crypto::ECryptoError& e) {
        error(verb + input + ": " + e.what());
        return kExitFailure;
    }
    std::printf("%s\n", escaped(output).c_str());
    return kExitOk;
}

const Registration encryptCommand({
    "encrypt",
    "encrypt [--pass-file FILE] [-o OUT] INPUT",
    "encrypt INPUT into INPUT with the extension .ecf (or OUT) under a pass phrase of 16 to 56 "
    "characters, read from FILE's first line, else RAVELIN_PASSPHRASE, else the terminal",
    [](const Args& args) { return runCrypto("encrypt", true, args); },
    {
        {"pass-file", 0, "FILE", "read the pass phrase from the first line of FILE"},
        {"output", 'o', "OUT", "write OUT instead of INPUT with the extension .ecf"},
    },
});

const Registration decryptCommand({
    "decrypt",
    "decrypt [--pass-file FILE] [-o OUT] INPUT",
    "decrypt INPUT into INPUT with the extension .cab (or OUT), the pass phrase read as for "
    "encrypt; the padding zeros of the last block stay",
    [](const Args& args) { return runCrypto("decrypt", false, args); },
    {
        {"pass-file", 0, "FILE", "read the pass phrase from the first line of FILE"},
        {"output", 'o', "OUT", "write OUT instead of INPUT with the extension .cab"},
    },
});

} // namespace

} // namespace ravelin::cli
