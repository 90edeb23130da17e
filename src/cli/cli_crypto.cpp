// ravelin-cab encrypt / decrypt: a file to or from the encrypted-file format
// (headerless Blowfish ECB, zero padding), as the encrypt window writes it.
#include <QFile>

#include <cstdio>

#include "cli/cli_passphrase.h"
#include "cli/command.h"
#include "crypto/blowfish.h"
#include "platform/paths.h"

namespace ravelin::cli {

namespace {

int runCrypto(const char* name, bool encrypt, const QStringList& args)
{
    QString passFile, output, input;
    bool haveOutput = false;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (!optionsEnded && a == QLatin1String("--")) {
            optionsEnded = true;
        } else if (!optionsEnded && a == QLatin1String("--pass-file")) {
            if (++i >= args.size())
                return usage(name);
            passFile = args.at(i);
            if (passFile.isEmpty())
                return usage(name);
        } else if (!optionsEnded && a.startsWith(QLatin1String("--pass-file="))) {
            passFile = a.mid(12);
            if (passFile.isEmpty())
                return usage(name);
        } else if (!optionsEnded && (a == QLatin1String("-o") || a == QLatin1String("--output"))) {
            if (++i >= args.size() || args.at(i).isEmpty())
                return usage(name);
            output = args.at(i);
            haveOutput = true;
        } else if (!optionsEnded && a.startsWith(QLatin1Char('-')) && a.size() > 1) {
            error(QStringLiteral("%1: unknown option %2").arg(QLatin1String(name), a));
            return usage(name);
        } else if (input.isEmpty() && !a.isEmpty()) {
            input = a;
        } else {
            return usage(name);
        }
    }
    if (input.isEmpty())
        return usage(name);
    if (!haveOutput)
        output = paths::changeExtension(input, encrypt ? QStringLiteral(".ecf") : QStringLiteral(".cab"));

    // A missing input is reported before anyone is asked for a pass phrase.
    if (!QFile::exists(input)) {
        error(QStringLiteral("cannot %1 %2: no such file").arg(QLatin1String(name), input));
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
    fish.setInputFilePath(input);
    fish.setOutputFilePath(output);
    fish.setCipherMode(crypto::TBlowFish::ECBMode);
    try {
        if (encrypt)
            fish.Encrypt(false);
        else
            fish.Decrypt(false);
    } catch (const crypto::ECryptoError& e) {
        error(QStringLiteral("cannot %1 %2: %3")
                  .arg(QLatin1String(name), input, QString::fromLocal8Bit(e.what())));
        return kExitFailure;
    }
    std::printf("%s\n", QFile::encodeName(output).constData());
    return kExitOk;
}

const Registration encryptCommand({
    "encrypt",
    "encrypt [--pass-file FILE] [-o OUT] INPUT",
    "encrypt INPUT into INPUT with the extension .ecf (or OUT) under a pass phrase of 16 to 56 "
    "characters, read from FILE's first line, else RAVELIN_PASSPHRASE, else the terminal",
    [](const QStringList& args) { return runCrypto("encrypt", true, args); },
});

const Registration decryptCommand({
    "decrypt",
    "decrypt [--pass-file FILE] [-o OUT] INPUT",
    "decrypt INPUT into INPUT with the extension .cab (or OUT), the pass phrase read as for "
    "encrypt; the padding zeros of the last block stay",
    [](const QStringList& args) { return runCrypto("decrypt", false, args); },
});

} // namespace

} // namespace ravelin::cli
