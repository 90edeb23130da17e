// ravelin-cab search ROOT: the organise window's cabinet search on the
// command line. Same iterator, same options (full paths, details, folders)
// and the same query, so it prints the paths the window would list for ROOT,
// in the same order, one per line.
//
// ROOT and every printed path are bytes, exactly as given and as the file
// system names them; only control bytes (C0, DEL, C1) are written as \xNN,
// so that a name holding a newline still prints as one line.
#include <cerrno>
#include <cstdio>
#include <string>

#include <sys/stat.h>

#include "cli/command.h"
#include "platform/io.h"
#include "tools/fileiterator/fileiterator.h"

namespace ravelin::cli {
namespace {

int runSearch(const Args& args)
{
    Parsed parsed;
    if (const int rc = parseArguments("search", args, &parsed); rc >= 0)
        return rc;
    if (parsed.operands.size() != 1 || parsed.operands.front().empty())
        return usage("search");
    const std::string& root = parsed.operands.front();
    // The iterator itself passes over a root it cannot open in silence, as
    // the window does; here a mistyped root deserves a word.
    struct stat st {};
    if (::stat(root.c_str(), &st) != 0) {
        error("cannot search " + io::describe(root, errno));
        return kExitFailure;
    }
    if (!S_ISDIR(st.st_mode)) {
        error("cannot search " + io::describe(root, ENOTDIR));
        return kExitFailure;
    }

    tools::TFileIterator iterator;
    iterator.SetOptions(tools::fiPath | tools::fiDetails | tools::fiRecurseFolders);
    iterator.SetRootFolder(QByteArray::fromStdString(root));
    int writeError = 0;
    std::string line;
    iterator.OnAddFileQuery = [](tools::TFileIterator*, const QByteArray& fileName, const tools::TFileInfo&,
                                 bool& canAdd) { canAdd = tools::isCabinetFileName(fileName); };
    iterator.OnAddFile = [&writeError, &line](tools::TFileIterator* sender, const QByteArray& fileName,
                                              const tools::TFileInfo&) {
        line = escaped(fileName.toStdString());
        line += '\n';
        if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size()) {
            writeError = errno ? errno : EIO;
            sender->Stop();
        }
    };
    iterator.Execute();
    if (std::fflush(stdout) != 0 && !writeError)
        writeError = errno ? errno : EIO;
    if (writeError) {
        error("cannot write the list to standard output: " + io::reasonText(writeError));
        return kExitFailure;
    }
    return kExitOk;
}

const Registration registration({
    "search",
    "search ROOT",
    "print the full path of every cabinet (*.cab) below ROOT, as the organise window finds them "
    "(control bytes in a path are shown as \\xNN)",
    runSearch,
});

} // namespace
} // namespace ravelin::cli
