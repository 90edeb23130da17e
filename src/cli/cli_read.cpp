// ravelin-cab l / x / t: list, extract and test cabinets. Paths and stored
// names stay the bytes they are; whatever reaches the terminal is escaped.
#include <cstdio>
#include <string>

#include "cabinet/reader/cabreader.h"
#include "cli/command.h"
#include "platform/fileinfo.h"

namespace ravelin::cli {

namespace {

std::string attributeText(uint16_t a)
{
    std::string t;
    t += (a & 0x01) ? 'r' : '-';
    t += (a & 0x02) ? 'h' : '-';
    t += (a & 0x04) ? 's' : '-';
    t += (a & 0x20) ? 'a' : '-';
    t += (a & 0x40) ? 'x' : '-';
    return t;
}

int runList(const Args& args)
{
    if (args.size() != 1)
        return usage("l");
    std::vector<cabreader::Entry> entries;
    std::string why;
    if (!cabreader::list(args[0], &entries, &why)) {
        error(why);
        return kExitFailure;
    }
    for (const cabreader::Entry& e : entries) {
        const platform::CivilTime t = platform::fromDosDateTime({e.dosDate, e.dosTime});
        // One stored name is one line, whatever bytes it holds.
        std::printf("%10u  %04d-%02d-%02d %02d:%02d:%02d  %s  %s\n", e.size, t.year, t.month, t.day, t.hour,
                    t.minute, t.second, attributeText(e.attributes).c_str(), escaped(e.name).c_str());
    }
    return kExitOk;
}

int runExtract(const Args& args)
{
    if (args.empty() || args.size() > 2)
        return usage("x");
    const std::string dir = args.size() == 2 ? args[1] : std::string(".");
    std::string why;
    if (!cabreader::extractAll(args[0], dir, nullptr, &why)) {
        error(why);
        return kExitFailure;
    }
    return kExitOk;
}

int runTest(const Args& args)
{
    if (args.size() != 1)
        return usage("t");
    std::string why;
    cabreader::Cabinet cabinet;
    if (!cabinet.open(args[0], &why) || !cabinet.test(&why)) {
        error(why);
        return kExitFailure;
    }
    std::printf("%s: %zu files OK\n", escaped(args[0]).c_str(), cabinet.entries().size());
    return kExitOk;
}

const Registration listCommand({"l", "l CABINET",
                                "list the files of CABINET: size, date, time, attributes, name", runList});
const Registration extractCommand({"x", "x CABINET [DIR]",
                                   "extract every file of CABINET below DIR (default: the current directory)",
                                   runExtract});
const Registration testCommand({"t", "t CABINET", "decompress every file of CABINET and check every checksum",
                                runTest});

} // namespace

} // namespace ravelin::cli
