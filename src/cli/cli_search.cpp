// ravelin-cab search ROOT: the organise window's cabinet search on the
// command line. Same iterator, same options (full paths, details, folders)
// and the same query, so it prints exactly the paths the window would list
// for ROOT, in the same order, one per line.
#include <QFile>
#include <QFileInfo>
#include <cstdio>

#include "cli/command.h"
#include "tools/fileiterator/fileiterator.h"

namespace ravelin::cli {
namespace {

int runSearch(const QStringList& args)
{
    if (args.size() != 1 || args.first().isEmpty())
        return usage("search");
    const QString root = args.first();
    // The iterator itself passes over a root it cannot open in silence, as
    // the window does; here a mistyped root deserves a word.
    const QFileInfo rootInfo(root);
    if (!rootInfo.exists()) {
        error(QStringLiteral("cannot search '%1': no such folder").arg(root));
        return kExitFailure;
    }
    if (!rootInfo.isDir()) {
        error(QStringLiteral("cannot search '%1': not a folder").arg(root));
        return kExitFailure;
    }

    tools::TFileIterator iterator;
    iterator.SetOptions(tools::fiPath | tools::fiDetails | tools::fiRecurseFolders);
    iterator.SetRootFolder(root);
    bool writeFailed = false;
    iterator.OnAddFileQuery = [](tools::TFileIterator*, const QString& fileName, const tools::TFileInfo&,
                                 bool& canAdd) { canAdd = tools::isCabinetFileName(fileName); };
    iterator.OnAddFile = [&writeFailed](tools::TFileIterator* sender, const QString& fileName,
                                        const tools::TFileInfo&) {
        const QByteArray line = QFile::encodeName(fileName) + '\n';
        if (std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout) !=
            static_cast<size_t>(line.size())) {
            writeFailed = true;
            sender->Stop();
        }
    };
    iterator.Execute();
    if (std::fflush(stdout) != 0 || writeFailed) {
        error(QStringLiteral("cannot write the list to standard output"));
        return kExitFailure;
    }
    return kExitOk;
}

const Registration registration({
    "search",
    "search ROOT",
    "print the full path of every cabinet (*.cab) below ROOT, as the organise window finds them",
    runSearch,
});

} // namespace
} // namespace ravelin::cli
