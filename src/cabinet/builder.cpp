#include "cabinet/builder.h"

#include <QFile>
#include <QProgressBar>
#include <QWidget>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "cabinet/fci/realfiles.h"
#include "cabinet/fci/realopeninfo.h"
#include "cabinet/filelist.h"
#include "platform/constants.h"
#include "platform/io.h"
#include "platform/paths.h"
#include "ui/prompter.h"

namespace ravelin::cabinet {

namespace {

// Parameters set for every build.
constexpr uint32_t kMaxCabinetSize = 999'999'999;  // one cabinet per build
constexpr uint32_t kFolderThreshold = 900'000;
constexpr int32_t kCabinetNumber = 1;
constexpr int32_t kDiskNumber = 0;
constexpr uint16_t kSetId = 12345;
constexpr int kMaxTextBytes = fci::kCabTextSize - 1;

void errorBox(QWidget* owner, const QString& text) { ui::showMessage(owner, text, ui::Icon::Error, ui::Ok); }

}  // namespace

QString errorText(int code) { return QString::fromLatin1(fci::FCIErrorText(code)); }

CabinetBuilder::CabinetBuilder(QObject* parent) : QObject(parent)
{
    setObjectName(QStringLiteral("CabinetBuilder"));
}

CabinetBuilder::~CabinetBuilder()
{
    if (m_context)
        fci::FCIDestroy(m_context);
    // m_output goes with the builder and takes its temporary with it.
}

CabinetBuilder* builderFor(QObject* window)
{
    if (auto* b = window->findChild<CabinetBuilder*>(QStringLiteral("CabinetBuilder"), Qt::FindDirectChildrenOnly))
        return b;
    return new CabinetBuilder(window);
}

BuildResult CabinetBuilder::DoCabStuffNow(const Widgets& w, const QString& cabinetName,
                                          const QString& outputDirectory, bool selfExtracting)
{
    BuildResult result;
    // 1. The cabinet path: the separator is always inserted.
    const QString path = paths::join(outputDirectory, cabinetName + QStringLiteral(".cab"));
    result.cabinetPath = path;
    const QByteArray fileName = QFile::encodeName(paths::namePart(path));
    const QByteArray directory = QFile::encodeName(paths::directoryPart(path));
    // The library's record holds 255 bytes of each; refuse longer ones
    // before anything is written.
    if (fileName.size() > kMaxTextBytes || directory.size() > kMaxTextBytes) {
        errorBox(w.owner, QStringLiteral("The cabinet name and the output directory may have at most %1 "
                                         "characters each. Aborting...")
                              .arg(kMaxTextBytes));
        return result;
    }

    // An output must never be one of the inputs: compressing the cabinet (or
    // the self-extracting file made from it) into itself would destroy it.
    const QString exePath = paths::changeExtension(path, QStringLiteral(".exe"));
    for (int row = w.list->rowCount() - 1; row >= 0; --row) {
        const QString entry = w.list->subItem(row, 4) + w.list->caption(row);
        const std::string source = QFile::encodeName(entry).toStdString();
        const bool isCabinet = io::sameFile(source, QFile::encodeName(path).toStdString());
        if (isCabinet || (selfExtracting && io::sameFile(source, QFile::encodeName(exePath).toStdString()))) {
            errorBox(w.owner, QStringLiteral("The file %1 is the output of this build and cannot be compressed "
                                             "into it. Remove it from the list. Aborting...")
                                  .arg(entry));
            return result;
        }
    }

    // 2. The library opens only files that exist: the cabinet is made under a
    // hidden name beside P and renamed over P only once it is complete, so a
    // failed build leaves an earlier cabinet of that name as it was.
    auto output = std::make_unique<io::OutputFile>();
    if (!output->create(QFile::encodeName(path).toStdString()) || !output->closeDescriptor()) {
        errorBox(w.owner, QStringLiteral("Could not create the file specified. Aborting..."));
        return result;
    }

    if (!m_currentCabinetPath.isEmpty()) {
        // 3. A context of an earlier build is still open: it is reused.
        ui::showMessage(w.owner, QStringLiteral("There is a cabinet file open. Close it before opening a new one."),
                        ui::Icon::None, ui::Ok, QString::fromLatin1(kApplicationTitle));
        result.cabinetPath = m_currentCabinetPath;
    } else {
        // 4. Open a context.
        m_currentCabinetPath = path;
        m_ccab = fci::CCAB{};
        m_ccab.cb = kMaxCabinetSize;
        m_ccab.cbFolderThresh = kFolderThreshold;
        m_ccab.cbReserveCFHeader = 0;
        m_ccab.cbReserveCFFolder = 0;
        m_ccab.cbReserveCFData = 0;
        m_ccab.iCab = kCabinetNumber;
        m_ccab.iDisk = kDiskNumber;
        m_ccab.fFailOnIncompressible = 0;
        m_ccab.setID = kSetId;
        // The library writes the temporary; only its name differs from P's.
        const std::string tempName = output->temporaryName();
        std::memcpy(m_ccab.szCab, tempName.c_str(), tempName.size() + 1);
        std::memcpy(m_ccab.szCabPath, directory.constData(), size_t(directory.size()) + 1);
        m_erf = fci::ERF{};
        using namespace fci::real;
        m_context = fci::FCICreate(&m_erf, filePlaced, allocate, release, openFile, readFile, writeFile, closeFile,
                                   seekFile, deleteFile, tempFileName, &m_ccab, m_clientContext);
        if (!m_context) {
            errorBox(w.owner, QStringLiteral("FCICreateFailed"));
            m_currentCabinetPath.clear();
            return result;
        }
        m_output = std::move(output);
        fci::FCISetWorkerThreads(m_context, m_threads);
    }

    // 5. The path list, from the last row up to the first.
    m_pathList.clear();
    for (int row = w.list->rowCount() - 1; row >= 0; --row)
        m_pathList.append(w.list->subItem(row, 4) + w.list->caption(row));

    // 6. Add the files.
    w.progress->setRange(0, int(m_pathList.size()));
    w.progress->setValue(0);
    w.statusBar->hide();
    QStringList failures;
    for (const QString& entry : std::as_const(m_pathList)) {
        w.progress->setValue(w.progress->value() + 1);
        QByteArray source = QFile::encodeName(entry);
        QByteArray stored = paths::namePart(entry).toUtf8();
        if (!fci::FCIAddFile(m_context, source.data(), stored.data(), 0, nullptr, fci::real::status,
                             fci::real::openForAdding, fci::kCompressMszip)) {
            result.failedFiles.append(entry);
            failures.append(entry + QStringLiteral(": ") + errorText(m_erf.erfOper));
        }
    }
    w.statusBar->show();
    m_pathList.clear();
    if (!failures.isEmpty())
        errorBox(w.owner, QStringLiteral("These files could not be added to the cabinet:\n") +
                              failures.join(QLatin1Char('\n')));

    // 7. Flush.
    bool ok = true;
    if (!fci::FCIFlushCabinet(m_context, 0, nullptr, fci::real::status)) {
        ok = false;
        errorBox(w.owner, QStringLiteral("The flush of the cabinet failed. ") + QStringLiteral("Code:") +
                              QString::number(m_erf.erfOper) + QStringLiteral(" Desc:") + errorText(m_erf.erfOper));
    }
    // 8. Destroy.
    if (!fci::FCIDestroy(m_context)) {
        ok = false;
        errorBox(w.owner, QStringLiteral("The closing of the cabinet failed."));
    }
    m_context = nullptr;
    // The finished cabinet takes P's name; after a failure it goes, and an
    // earlier cabinet of that name is left as it was.
    if (ok && m_output && !m_output->commit()) {
        ok = false;
        errorBox(w.owner, QStringLiteral("Cannot create file %1. %2")
                              .arg(result.cabinetPath, QString::fromStdString(io::runtimeText(m_output->error()))));
    }
    m_output.reset();
    // 9.
    m_currentCabinetPath.clear();
    result.completed = ok;
    return result;
}

}  // namespace ravelin::cabinet
