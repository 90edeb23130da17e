#pragma once
// The self-extracting join: an output file made of the extractor program's
// bytes followed at once by the cabinet's bytes (no header, padding or
// trailer), copied through one 1,024-byte buffer with plain sequential reads
// and writes. After a complete copy the cabinet is deleted.
//
// Steps, in order, and what a failure at each leaves behind:
//   OpenExtractor, OpenCabinet, CreateOutput   nothing copied, nothing created
//                                              or removed; the cabinet stays
//   ReadExtractor, WriteExtractor,             that copy ends at the failed
//   ReadCabinet, WriteCabinet                  block (no retry, no skipping);
//                                              the incomplete output is removed
//                                              and the cabinet stays
//   Close                                      closing a file or publishing the
//                                              output failed: the output is
//                                              removed and the cabinet stays
// Only a result with failed == SfxStep::None deletes the cabinet; a failure
// to delete it is ignored (cabinetRemoved says whether it went).
//
// The output is written under a hidden name beside its final name and renamed
// over it only when complete, so an existing file of that name stays exactly
// as it was after any failure. It is refused when that file is the extractor
// or the cabinet itself (CreateOutput, EBUSY): replacing it would destroy the
// input. Inputs that are not regular files (a pipe, a device) are refused at
// their open step with io::kNotRegularFile instead of blocking.
//
// Pure C++ and POSIX; no Qt. Thread-safe (no shared state). A process that
// limits its file size (RLIMIT_FSIZE) must ignore SIGXFSZ to see the failure
// as WriteExtractor/WriteCabinet (EFBIG) instead of being stopped.
#include <cstdint>
#include <string>

#include "platform/io.h"

namespace ravelin::sfx {

inline constexpr std::size_t kBlockSize = 1024;

enum class SfxStep {
    None,
    OpenExtractor,
    OpenCabinet,
    CreateOutput,
    ReadExtractor,
    WriteExtractor,
    ReadCabinet,
    WriteCabinet,
    Close,
};

// failed: the step that failed (None when all went well); path: the file of
// that step (the extractor, the cabinet or the output); error: its errno.
struct SfxResult : io::StepResult<SfxStep> {
    std::uint64_t bytesWritten = 0; // bytes that reached the output
    bool outputRemoved = false;     // the incomplete output was deleted
    bool cabinetRemoved = false;    // the cabinet was deleted after a good copy

    // Whether the failure happened after copying began (a block or a close).
    bool copyFailed() const { return failed >= SfxStep::ReadExtractor; }
};

// Writes `extractor` + `cabinet` into `output` (published by rename), then
// deletes `cabinet` when everything succeeded. Paths are bytes, used as
// given. Never throws.
SfxResult joinSelfExtracting(const std::string& extractor, const std::string& cabinet,
                             const std::string& output);

// A short name of the step ("open extractor", "write cabinet", ...).
const char* stepName(SfxStep step);

} // namespace ravelin::sfx
