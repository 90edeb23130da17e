// libFuzzer target: the INF reader on arbitrary bytes (a decrypted INF comes from elsewhere).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "setup/installer/infreader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace ravelin::installer;
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    InfDocument doc;
    QString error;
    if (!parseInf(text, &doc, &error)) {
        if (error.isEmpty())
            std::abort(); // a refusal always says why
        return 0;
    }
    for (const InfSection& section : doc.sections) {
        if (doc.section(section.name) == nullptr)
            std::abort();
        for (const InfEntry& entry : section.entries) {
            if (entry.lineNumber <= 0 || entry.lineFields.isEmpty())
                std::abort();
            if (entry.hasKey && doc.entry(section.name, entry.key) == nullptr)
                std::abort();
        }
    }
    // What the installer asks of every INF.
    doc.entry(QStringLiteral("DefaultInstall"), QStringLiteral("CopyFiles"));
    doc.entry(QStringLiteral("SourceDisksNames"), QStringLiteral("1"));
    return 0;
}
