#include "cabinet/writer/cabwriter.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "cabinet/fci/realfiles.h"
#include "platform/fileinfo.h"

namespace ravelin::cabwriter {

std::string libraryText(int code)
{
    return fci::FCIErrorText(code);
}

std::string Result::reason() const
{
    if (error)
        return io::reasonText(error);
    if (libraryCode)
        return libraryText(libraryCode);
    switch (failed) {
    case Step::Name:
        return "the directory and the file name may have at most 255 bytes each";
    case Step::SameFile:
        return "is the cabinet being written; an input cannot be its output";
    case Step::Misuse:
        return "the cabinet is not open";
    default:
        return {};
    }
}

namespace {

Result failure(Step step, const std::string& path, int error = 0)
{
    Result r;
    r.failed = step;
    r.path = path;
    r.error = error;
    return r;
}

} // namespace

CabinetWriter::CabinetWriter() = default;

CabinetWriter::~CabinetWriter()
{
    abandon();
}

void CabinetWriter::setProgress(std::function<void(const Progress&)> progress)
{
    m_progress = std::move(progress);
}

long CabinetWriter::statusThunk(uint32_t kind, uint32_t, uint32_t cb2, void* pv)
{
    auto* self = static_cast<CabinetWriter*>(pv);
    if (kind == fci::kStatusFile && self->m_progress) {
        Progress p;
        p.kind = Progress::BlockWritten;
        p.bytes = cb2;
        self->m_progress(p);
    }
    return 0;
}

// Opens a source for reading and gives the library its DOS date and time and
// its attributes. A pipe, socket or device is refused at once instead of
// blocking the build; the reason goes to *err.
intptr_t CabinetWriter::openInfoThunk(char* path, uint16_t* date, uint16_t* time, uint16_t* attribs, int* err,
                                      void* pv)
{
    const auto* self = static_cast<const CabinetWriter*>(pv);
    int why = 0;
    io::Fd fd = io::openForReading(path, &why);
    struct stat st {};
    if (fd && ::fstat(fd.get(), &st) != 0)
        why = errno;
    if (!fd || why) {
        *err = why;
        return -1;
    }
    std::time_t when = st.st_mtime;
    bool utc = false;
    if (const auto& epoch = self->m_parameters.sourceDateEpoch) {
        when = std::min(when, *epoch);
        utc = true;
    }
    const platform::DosDateTime dt = platform::toDosDateTime(when, utc);
    *date = dt.date;
    *time = dt.time;
    *attribs = platform::dosAttributes(st.st_mode, io::namePart(path));
    return fd.release();
}

Result CabinetWriter::libraryFailure(Step step, const std::string& path) const
{
    Result r;
    r.failed = step;
    r.path = path;
    r.libraryCode = m_erf.erfOper;
    r.error = m_erf.erfType;
    return r;
}

Result CabinetWriter::open(const std::string& path, const Parameters& parameters)
{
    abandon();
    m_path = path;
    m_parameters = parameters;
    m_fatal = false;
    const std::string dir = io::directoryPart(path);
    const std::string name = io::namePart(path);
    if (name.empty() || dir.size() >= fci::kCabTextSize || name.size() >= fci::kCabTextSize)
        return failure(Step::Name, path);

    // The library opens only files that exist: the cabinet is made under a
    // hidden name beside its final one, which the library then writes.
    if (!m_output.create(path) || !m_output.closeDescriptor())
        return failure(Step::CreateCabinet, path, m_output.error());

    fci::CCAB ccab;
    ccab.cb = parameters.maxSize;
    ccab.cbFolderThresh = parameters.folderThreshold;
    ccab.iCab = 1;
    ccab.iDisk = 0;
    ccab.fFailOnIncompressible = 0;
    ccab.setID = parameters.setId;
    const std::string& temp = m_output.temporaryName();
    std::memcpy(ccab.szCab, temp.c_str(), temp.size() + 1);
    std::memcpy(ccab.szCabPath, dir.c_str(), dir.size() + 1);
    m_erf = fci::ERF{};
    using namespace fci::real;
    m_context = fci::FCICreate(&m_erf, filePlaced, allocate, release, openFile, readFile, writeFile,
                               closeFile, seekFile, deleteFile, tempFileName, &ccab, this);
    if (!m_context) {
        const Result r = libraryFailure(Step::StartLibrary, path);
        m_output.discard();
        return r;
    }
    fci::FCISetWorkerThreads(m_context, parameters.threads);
    m_outputs = io::OutputSet({path, m_output.temporaryPath()});
    return {};
}

Result CabinetWriter::add(const std::string& source, const std::string& storedName)
{
    if (!m_context || m_fatal)
        return failure(Step::Misuse, m_path);
    if (m_outputs.find(source) >= 0)
        return failure(Step::SameFile, source);
    if (m_progress) {
        Progress p;
        p.kind = Progress::FileStarting;
        p.source = &source;
        m_progress(p);
    }
    std::string src = source;
    std::string stored = storedName;
    m_erf = fci::ERF{};
    if (fci::FCIAddFile(m_context, src.data(), stored.data(), 0, nullptr, statusThunk, openInfoThunk,
                        m_parameters.compression))
        return {};
    const int code = m_erf.erfOper;
    // Failures of the source itself leave the cabinet so far intact.
    const bool recoverable =
        code == fci::kErrOpenSource || code == fci::kErrReadSource || code == fci::kErrFormatLimit;
    if (!recoverable)
        m_fatal = true;
    return libraryFailure(recoverable ? Step::AddFile : Step::Compress, recoverable ? source : m_path);
}

Result CabinetWriter::close()
{
    if (!m_context)
        return failure(Step::Misuse, m_path);
    Result result;
    m_erf = fci::ERF{};
    if (!fci::FCIFlushCabinet(m_context, 0, nullptr, statusThunk))
        result = libraryFailure(Step::Flush, m_path);
    m_erf = fci::ERF{};
    if (!fci::FCIDestroy(m_context) && result.ok())
        result = libraryFailure(Step::Destroy, m_path);
    m_context = nullptr;
    if (!result.ok()) {
        m_output.discard();
        return result;
    }
    if (!m_output.commit())
        return failure(Step::Publish, m_path, m_output.error());
    return {};
}

void CabinetWriter::abandon()
{
    if (m_context) {
        fci::FCIDestroy(m_context);
        m_context = nullptr;
    }
    m_output.discard();
}

} // namespace ravelin::cabwriter
