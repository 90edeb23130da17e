#pragma once
// The outcome of a distribution writer: success, or the step that failed with
// the file it worked on and the system's error code. The windows turn it into
// the user's message; `text()` gives the run-time's standard wording for the
// general error report.
#include <QString>

#include <string>

#include "platform/io.h"

namespace ravelin::distribution {

enum class Step {
    None,          // nothing failed
    CreateFile,    // the output file could not be created or opened
    WriteFile,     // a write failed or stored fewer bytes than asked
    CloseFile,     // completing the output failed (flush, close or rename)
    SetPermission, // the execute permission could not be set
    OpenInput,     // the input file could not be opened or read
    Encrypt,       // the cipher reported a failure
    FindResource,  // the embedded resource is missing or empty
};

// failed: the step that failed; path: the file it worked on, as its bytes;
// error: errno (or io::kNotRegularFile) of the failed step, 0 when there is none.
struct Result : io::StepResult<Step> {
    explicit operator bool() const { return ok(); }

    // "Cannot create file /x/setup.ini", "Disk full", "I/O error 5", ...
    // Empty for success.
    QString text() const;
    // "<path>: <system's reason>" (io::describe), or the failed step's text
    // when there is no system error. Empty for success.
    std::string describe() const;

    static Result success() { return {}; }
    static Result failure(Step step, const std::string& path, int error = 0)
    {
        Result r;
        r.failed = step;
        r.path = path;
        r.error = error;
        return r;
    }
};

} // namespace ravelin::distribution
