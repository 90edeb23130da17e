#include "cabinet/builder.h"

#include <QFile>
#include <QProgressBar>
#include <QWidget>

#include "platform/constants.h"
#include "platform/io.h"
#include "platform/paths.h"
#include "ui/prompter.h"

namespace ravelin::cabinet {

namespace {

constexpr int kMaxTextBytes = fci::kCabTextSize - 1;

void errorBox(QWidget* owner, const QString& text)
{
    ui::showMessage(owner, text, ui::Icon::Error, ui::Ok);
}

QString text(const std::string& bytes)
{
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

} // namespace

QString errorText(int code)
{
    return QString::fromStdString(cabwriter::libraryText(code));
}

CabinetBuilder::CabinetBuilder(QObject* parent) : QObject(parent)
{
    setObjectName(QStringLiteral("CabinetBuilder"));
}

CabinetBuilder::~CabinetBuilder() = default;

CabinetBuilder* builderFor(QObject* window)
{
    if (auto* b =
            window->findChild<CabinetBuilder*>(QStringLiteral("CabinetBuilder"), Qt::FindDirectChildrenOnly))
        return b;
    return new CabinetBuilder(window);
}

BuildResult CabinetBuilder::DoCabStuffNow(const Widgets& w, const QStringList& files,
                                          const QString& cabinetName, const QString& outputDirectory,
                                          bool selfExtracting)
{
    BuildResult result;
    // 1. The cabinet path: the separator is always inserted.
    const QString path = paths::join(outputDirectory, cabinetName + QStringLiteral(".cab"));
    result.cabinetPath = path;
    const std::string cabinetBytes = QFile::encodeName(path).toStdString();
    // The library's record holds 255 bytes of each; refuse longer ones
    // before anything is written.
    if (io::namePart(cabinetBytes).size() > kMaxTextBytes ||
        io::directoryPart(cabinetBytes).size() > kMaxTextBytes) {
        errorBox(w.owner, QStringLiteral("The cabinet name and the output directory may have at most %1 "
                                         "characters each. Aborting...")
                              .arg(kMaxTextBytes));
        return result;
    }

    // An output must never be one of the inputs: compressing the cabinet (or
    // the self-extracting file made from it) into itself would destroy it.
    const std::string exeBytes =
        QFile::encodeName(paths::changeExtension(path, QStringLiteral(".exe"))).toStdString();
    const io::OutputSet outputs(selfExtracting ? std::vector<std::string>{cabinetBytes, exeBytes}
                                               : std::vector<std::string>{cabinetBytes});
    for (const QString& entry : files) {
        if (outputs.find(QFile::encodeName(entry).toStdString()) >= 0) {
            errorBox(w.owner,
                     QStringLiteral("The file %1 is the output of this build and cannot be compressed "
                                    "into it. Remove it from the list. Aborting...")
                         .arg(entry));
            return result;
        }
    }

    if (m_writer.isOpen()) {
        // 3. A cabinet of an earlier build is still open: it is reused.
        ui::showMessage(w.owner,
                        QStringLiteral("There is a cabinet file open. Close it before opening a new one."),
                        ui::Icon::None, ui::Ok, QString::fromLatin1(kApplicationTitle));
        result.cabinetPath = m_currentCabinetPath;
    } else {
        // 2 and 4. The cabinet is made under a hidden name beside P and
        // renamed over P only once it is complete, so a failed build leaves
        // an earlier cabinet of that name as it was.
        cabwriter::Parameters parameters;
        parameters.threads = m_threads;
        const cabwriter::Result opened = m_writer.open(cabinetBytes, parameters);
        if (!opened.ok()) {
            errorBox(w.owner, opened.failed == cabwriter::Step::StartLibrary
                                  ? QStringLiteral("FCICreateFailed")
                                  : QStringLiteral("Could not create the file specified. Aborting..."));
            return result;
        }
        m_currentCabinetPath = path;
    }

    // 5. The path list: the list's rows from the last to the first.
    m_pathList = files;

    // 6. Add the files.
    w.progress->setRange(0, int(m_pathList.size()));
    w.progress->setValue(0);
    w.statusBar->hide();
    QStringList failures;
    for (const QString& entry : std::as_const(m_pathList)) {
        w.progress->setValue(w.progress->value() + 1);
        const std::string source = QFile::encodeName(entry).toStdString();
        const cabwriter::Result added = m_writer.add(source, io::namePart(source));
        if (!added.ok()) {
            result.failedFiles.append(entry);
            failures.append(
                entry + QStringLiteral(": ") +
                (added.libraryCode ? errorText(added.libraryCode) : QString::fromStdString(added.reason())));
        }
    }
    w.statusBar->show();
    m_pathList.clear();
    if (!failures.isEmpty())
        errorBox(w.owner, QStringLiteral("These files could not be added to the cabinet:\n") +
                              failures.join(QLatin1Char('\n')));

    // 7 and 8. Flush, destroy and publish.
    bool ok = true;
    const cabwriter::Result closed = m_writer.close();
    switch (closed.failed) {
    case cabwriter::Step::None:
        break;
    case cabwriter::Step::Flush:
        ok = false;
        errorBox(w.owner, QStringLiteral("The flush of the cabinet failed. ") + QStringLiteral("Code:") +
                              QString::number(closed.libraryCode) + QStringLiteral(" Desc:") +
                              errorText(closed.libraryCode));
        break;
    case cabwriter::Step::Destroy:
        ok = false;
        errorBox(w.owner, QStringLiteral("The closing of the cabinet failed."));
        break;
    default:
        ok = false;
        errorBox(w.owner, QStringLiteral("Cannot create file %1. %2")
                              .arg(text(closed.path), QString::fromStdString(io::runtimeText(closed.error))));
        break;
    }
    // 9.
    m_currentCabinetPath.clear();
    result.completed = ok;
    return result;
}

} // namespace ravelin::cabinet
